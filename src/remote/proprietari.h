#pragma once
// Nomi di utenti e gruppi al posto dei numeri: localmente dalle basi dati del
// sistema, sul server dalle tabelle di getent (solo per l'elenco via SFTP).
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace ormeggio {

namespace proprietari {

// Il nome locale, o il numero in decimale se non c'è (o la ricerca fallisce).
std::string utente_locale(unsigned uid);
std::string gruppo_locale(unsigned gid);
// utente_locale + ":" + gruppo_locale.
std::string locale(unsigned uid, unsigned gid);

// Righe "nome:x:id:..." -> id -> nome; le righe strane sono saltate.
std::map<long long, std::string> _mappa_da_getent(const std::optional<std::string>& uscita,
                                                  size_t colonna_nome = 0, size_t colonna_id = 2);

}  // namespace proprietari

class MappaRemota {
  public:
    // Esegue un comando sul server: (uscita, errore o assente).
    using Lettore =
        std::function<std::pair<std::string, std::optional<std::string>>(const std::string&)>;

    explicit MappaRemota(Lettore leggi);

    // Vuoto se uid è assente; il numero se le tabelle non si leggono o manca il nome.
    std::string utente(std::optional<long long> uid);
    std::string gruppo(std::optional<long long> gid);
    std::string coppia(std::optional<long long> uid, std::optional<long long> gid);

    struct Tabelle {
        std::map<long long, std::string> utenti, gruppi;
    };
    // Carica le tabelle se mancano e le restituisce (nullptr se non si leggono).
    // Un fallimento non si ricorda: la prossima ricerca riprova.
    std::shared_ptr<const Tabelle> _pronta();
    // coppia() con tabelle già prese: un elenco intero tenta il caricamento una
    // volta sola, non due per ogni voce.
    static std::string coppia_da(const std::shared_ptr<const Tabelle>& tabelle,
                                 std::optional<long long> uid, std::optional<long long> gid);

  private:
    Lettore _leggi;
    // Utenti e gruppi insieme, assegnati in un colpo solo: entrambi o nessuno.
    std::atomic<std::shared_ptr<const Tabelle>> _tabelle;
};

}  // namespace ormeggio
