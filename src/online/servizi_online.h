#pragma once
// Servizi in rete del produttore: il controllo della versione pubblicata.
// Nessuna funzione lancia eccezioni; un indirizzo vuoto spegne il servizio
// senza alcuna attività di rete. Da chiamare solo su un thread di lavoro.
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "sessions/file_json.h"

namespace ormeggio {

inline constexpr double TIMEOUT_VERSIONE_S = 5.0;
inline constexpr size_t DIMENSIONE_MASSIMA_RISPOSTA = 65536;

inline constexpr const char* ESITO_AGGIORNAMENTO = "aggiornamento";
inline constexpr const char* ESITO_AGGIORNATO = "aggiornato";
inline constexpr const char* ESITO_ERRORE = "errore";
inline constexpr const char* ESITO_NON_CONFIGURATO = "non_configurato";

struct EsitoVersione {
    std::string esito;
    std::string versione;  // solo con ESITO_AGGIORNAMENTO
    std::string motivo;    // solo con ESITO_ERRORE
    bool operator==(const EsitoVersione&) const = default;
};

// (maggiore, minore, correzione, suffisso); i numeri oltre 2^64-1 si fermano lì.
struct Versione {
    uint64_t maggiore = 0, minore = 0, correzione = 0;
    std::string suffisso;
    bool operator==(const Versione&) const = default;
};

// Indirizzo di base del produttore, fissato alla compilazione (ORMEGGIO_URL_SERVIZI);
// le prove lo sostituiscono con quello di un loro server. Vuoto: servizi spenti.
std::string url_servizi();
void imposta_url_servizi(std::string base);
// Gli indirizzi dei servizi, vuoti quando la base è vuota.
std::string VERSION_URL();
std::string NEWS_URL();
std::string PRIVACY_URL();

std::string _user_agent(std::string_view app_version);
std::optional<Versione> analizza_versione(std::string_view testo);
// -1 se a è più vecchia di b, 1 se più nuova, 0 se uguali o non confrontabili.
int confronta_versioni(std::string_view a, std::string_view b);

// (oggetto, "") oppure (niente, motivo leggibile). Al più DIMENSIONE_MASSIMA_RISPOSTA
// byte del corpo; timeout in secondi per l'intera richiesta.
std::pair<std::optional<Json>, std::string> scarica_json_dettagliato(const std::string& url,
                                                                     double timeout,
                                                                     std::string_view app_version);
std::optional<Json> scarica_json(const std::string& url, double timeout,
                                 std::string_view app_version);

// (nome del sistema, versione sommaria "6.2"); "sconosciuto" se non c'è un nome.
std::pair<std::string, std::string> sistema_operativo();
std::string url_con_sistema(const std::string& url);
std::string url_con_sistema(const std::string& url, const std::string& nome_sistema);

EsitoVersione controlla_versione(const std::string& url, std::string_view versione_corrente,
                                 double timeout = TIMEOUT_VERSIONE_S);
std::optional<std::string> versione_disponibile(const std::string& url,
                                                std::string_view versione_corrente,
                                                double timeout = TIMEOUT_VERSIONE_S);

// Il registro di debug "servizi_online": le righe vanno alla destinazione data
// (nome del registro, riga); senza destinazione si scartano.
using DestinazioneDebug = std::function<void(const std::string&, const std::string&)>;
void imposta_destinazione_debug(DestinazioneDebug destinazione);


}  // namespace ormeggio
