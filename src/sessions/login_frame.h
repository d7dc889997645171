#pragma once
// Il modulo di accesso: sessioni salvate a sinistra, dati della connessione a destra.
// La connessione si apre su un thread di lavoro che non tocca mai un widget: i valori
// del modulo sono presi sul thread dell'interfaccia quando il lavoro parte.
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sessions/file_json.h"
#include "sessions/ssh.h"
#include "tk/tk.h"

namespace ormeggio {

// Un campo del modulo non valido; il messaggio è già tradotto.
class ErroreModulo : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class LoginFrame : public std::enable_shared_from_this<LoginFrame> {
  public:
    using CallbackConnesso = std::function<void(
        std::shared_ptr<ssh::Connessione> client, std::shared_ptr<ssh::Sftp> sftp,
        const std::string& percorso_iniziale, const std::string& percorso_locale_iniziale,
        std::optional<std::string> sudo_password, std::optional<std::string> nome_profilo)>;

    static std::shared_ptr<LoginFrame> crea(const std::string& genitore,
                                            CallbackConnesso on_connesso);
    ~LoginFrame();
    LoginFrame(const LoginFrame&) = delete;
    LoginFrame& operator=(const LoginFrame&) = delete;

    std::string percorso;  // il riquadro Tk
    CallbackConnesso on_connesso;
    std::vector<Json> profili;
    std::optional<std::string> nome_profilo_corrente;

    std::unique_ptr<tk::Variabile> var_nome, var_host, var_porta, var_utente, var_password,
        var_chiave, var_percorso, var_percorso_locale, var_usa_sudo, var_sudo_password,
        var_salva_password;

    // Percorsi Tk dei widget.
    std::string lista_sessioni, entry_sudo, label_stato, btn_connetti;
    std::string btn_nuovo, btn_elimina, btn_salva, btn_sfoglia_chiave, btn_sfoglia_locale;
    std::string barra_lista, barra_pulsanti;

    void _popola_lista_sessioni();
    void _sessione_selezionata();
    void _carica_profilo(const Json& profilo);
    void _nuovo_profilo();
    Json _raccogli_profilo();  // ErroreModulo con il messaggio da mostrare
    bool _salva_profilo();
    void _elimina_profilo();
    void _elimina_profilo_per_nome(const std::string& nome);
    void _connetti();
    void _errore_connessione(const std::string& messaggio);
    void _aggiorna_stato_sudo();
    std::string _riga_sfoglia(const std::string& contenitore, const std::string& etichetta,
                              const tk::Variabile& var, int riga);
    void _riga(const std::string& contenitore, const std::string& etichetta,
               const tk::Variabile& var, int riga, const std::string& mostra = "");
    void _scegli_chiave();
    void _scegli_cartella_locale();
    void _allinea_barre_pulsanti(const std::string& barra_lista, const std::string& barra_pulsanti);

    // Testo e colore della riga di stato.
    void _mostra_stato(const std::string& testo, const std::string& colore);
    bool _connessione_in_corso() const;

  private:
    LoginFrame() = default;
    void _costruisci(const std::string& genitore);
    std::string _nuovo_widget(const std::string& genitore, const std::string& nome);
};

// Il testo della porta come intero decimale ("" vale 22); nullopt se non lo è.
std::optional<long long> leggi_porta(const std::string& testo);

}  // namespace ormeggio
