#include "online/servizi_online.h"
#include "remote/utf8.h"

// I puntori a funzione di libcurl non passano per le macro di controllo dei tipi.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <dlfcn.h>
#include <sys/utsname.h>

#include <limits>
#include <memory>
#include <mutex>
#include <tuple>

#ifndef ORMEGGIO_URL_SERVIZI
#define ORMEGGIO_URL_SERVIZI ""
#endif

namespace ormeggio {

namespace {

std::mutex g_mutex;
std::string g_base = ORMEGGIO_URL_SERVIZI;
DestinazioneDebug g_debug;

void debug(const std::string& riga) {
    DestinazioneDebug d;
    {
        std::lock_guard blocco(g_mutex);
        d = g_debug;
    }
    if (d) d("servizi_online", riga);
}

std::string indirizzo(const char* percorso) {
    std::string base = url_servizi();
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base.empty() ? base : base + percorso;
}

constexpr std::string_view SPAZI = " \t\n\v\f\r";

bool cifra(char c) {
    return c >= '0' && c <= '9';
}

// Legge una sequenza di cifre (almeno una) da pos; satura invece di traboccare.
std::optional<uint64_t> numero(std::string_view s, size_t& pos) {
    if (pos >= s.size() || !cifra(s[pos])) return std::nullopt;
    uint64_t n = 0;
    const uint64_t massimo = std::numeric_limits<uint64_t>::max();
    for (; pos < s.size() && cifra(s[pos]); ++pos) {
        uint64_t c = static_cast<uint64_t>(s[pos] - '0');
        n = n > (massimo - c) / 10 ? massimo : n * 10 + c;
    }
    return n;
}

// libcurl si carica al primo controllo, su un thread di lavoro: con le sue
// dipendenze (TLS, LDAP, Kerberos…) allungherebbe l'avvio della finestra.
struct LibCurl {
    CURLcode (*global_init)(long) = nullptr;
    CURL* (*easy_init)() = nullptr;
    CURLcode (*easy_setopt)(CURL*, CURLoption, ...) = nullptr;
    CURLcode (*easy_perform)(CURL*) = nullptr;
    CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...) = nullptr;
    void (*easy_cleanup)(CURL*) = nullptr;
    const char* (*easy_strerror)(CURLcode) = nullptr;
    std::string errore;  // vuoto se caricata
};

const LibCurl& curl() {
    static const LibCurl api = [] {
        LibCurl c;
        void* h = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!h) {
            const char* e = ::dlerror();
            c.errore = e ? e : "libcurl.so.4";
            return c;
        }
        auto prendi = [&](auto& puntatore, const char* nome) {
            puntatore = reinterpret_cast<std::remove_reference_t<decltype(puntatore)>>(::dlsym(h, nome));
            if (!puntatore && c.errore.empty()) c.errore = std::string("libcurl senza ") + nome;
        };
        prendi(c.global_init, "curl_global_init");
        prendi(c.easy_init, "curl_easy_init");
        prendi(c.easy_setopt, "curl_easy_setopt");
        prendi(c.easy_perform, "curl_easy_perform");
        prendi(c.easy_getinfo, "curl_easy_getinfo");
        prendi(c.easy_cleanup, "curl_easy_cleanup");
        prendi(c.easy_strerror, "curl_easy_strerror");
        if (c.errore.empty()) c.global_init(CURL_GLOBAL_DEFAULT);
        return c;
    }();
    return api;
}

struct Corpo {
    std::string dati;
    bool troncato = false;
};

size_t ricevi(char* p, size_t dimensione, size_t n, void* utente) {
    auto* corpo = static_cast<Corpo*>(utente);
    const size_t arrivati = dimensione * n;
    const size_t spazio = DIMENSIONE_MASSIMA_RISPOSTA - corpo->dati.size();
    if (arrivati > spazio) {
        // Oltre il limite non si legge: la richiesta si interrompe qui.
        corpo->dati.append(p, spazio);
        corpo->troncato = true;
        return 0;
    }
    corpo->dati.append(p, arrivati);
    return arrivati;
}

// Errori che vengono prima di una connessione stabilita.
bool irraggiungibile(CURLcode rc, CURL* h) {
    switch (rc) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return true;
        case CURLE_OPERATION_TIMEDOUT: {
            curl_off_t connessione = 0;
            curl().easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connessione);
            return connessione == 0;
        }
        default:
            return false;
    }
}

std::string testo_membro(const Json& dati, const char* nome) {
    auto it = dati.find(nome);
    if (it == dati.end()) return {};
    const Json& v = *it;
    // Ciò che è "falso" conta come vuoto: null, false, 0, testo, lista o oggetto vuoti.
    if (v.is_null() || (v.is_boolean() && !v.get<bool>()) ||
        (v.is_number() && v.get<double>() == 0) ||
        ((v.is_string() || v.is_array() || v.is_object()) && v.empty()))
        return {};
    if (v.is_string()) return v.get<std::string>();
    if (v.is_boolean()) return "True";
    return v.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string url_servizi() {
    std::lock_guard blocco(g_mutex);
    return g_base;
}

void imposta_url_servizi(std::string base) {
    std::lock_guard blocco(g_mutex);
    g_base = std::move(base);
}

std::string VERSION_URL() {
    return indirizzo("/ormeggio/latest.php");
}
std::string NEWS_URL() {
    return indirizzo("/ormeggio/novita.php");
}
std::string PRIVACY_URL() {
    return indirizzo("/ormeggio/privacy.php");
}

void imposta_destinazione_debug(DestinazioneDebug destinazione) {
    std::lock_guard blocco(g_mutex);
    g_debug = std::move(destinazione);
}

std::string _user_agent(std::string_view app_version) {
    return "Ormeggio/" + std::string(app_version);
}

std::optional<Versione> analizza_versione(std::string_view testo) {
    if (testo.empty()) return std::nullopt;
    size_t pos = 0;
    while (pos < testo.size() && SPAZI.find(testo[pos]) != std::string_view::npos) ++pos;
    if (pos < testo.size() && testo[pos] == 'v') ++pos;
    Versione v;
    auto primo = numero(testo, pos);
    if (!primo) return std::nullopt;
    v.maggiore = *primo;
    for (uint64_t* campo : {&v.minore, &v.correzione}) {
        size_t dopo = pos + 1;
        if (pos < testo.size() && testo[pos] == '.' && dopo < testo.size() && cifra(testo[dopo])) {
            *campo = *numero(testo, dopo);
            pos = dopo;
        } else {
            break;
        }
    }
    std::string_view resto = testo.substr(pos);
    // Il resto è una riga sola: al più un a capo proprio in fondo.
    size_t a_capo = resto.find('\n');
    if (a_capo != std::string_view::npos && a_capo + 1 != resto.size()) return std::nullopt;
    v.suffisso = std::string(senza_spazi(resto));
    return v;
}

int confronta_versioni(std::string_view a, std::string_view b) {
    auto va = analizza_versione(a);
    auto vb = analizza_versione(b);
    if (!va || !vb) return 0;
    auto numeri_a = std::tie(va->maggiore, va->minore, va->correzione);
    auto numeri_b = std::tie(vb->maggiore, vb->minore, vb->correzione);
    if (numeri_a != numeri_b) return numeri_a < numeri_b ? -1 : 1;
    if (va->suffisso == vb->suffisso) return 0;
    // La versione finale è più nuova delle sue anteprime.
    if (va->suffisso.empty()) return 1;
    if (vb->suffisso.empty()) return -1;
    return va->suffisso < vb->suffisso ? -1 : 1;
}

std::pair<std::optional<Json>, std::string> scarica_json_dettagliato(const std::string& url,
                                                                     double timeout,
                                                                     std::string_view app_version) {
    if (url.empty()) return {std::nullopt, "non configurato"};
    try {
        const LibCurl& api = curl();
        if (!api.errore.empty()) return {std::nullopt, "libcurl: " + api.errore};
        std::unique_ptr<CURL, void (*)(CURL*)> h(api.easy_init(), api.easy_cleanup);
        if (!h) return {std::nullopt, "curl: inizializzazione non riuscita"};
        Corpo corpo;
        char errore[CURL_ERROR_SIZE] = "";
        const std::string agente = _user_agent(app_version);
        const long millisecondi = timeout > 0 ? static_cast<long>(timeout * 1000) : 1;
        api.easy_setopt(h.get(), CURLOPT_URL, url.c_str());
        api.easy_setopt(h.get(), CURLOPT_USERAGENT, agente.c_str());
        api.easy_setopt(h.get(), CURLOPT_NOSIGNAL, 1L);
        api.easy_setopt(h.get(), CURLOPT_TIMEOUT_MS, millisecondi);
        api.easy_setopt(h.get(), CURLOPT_CONNECTTIMEOUT_MS, millisecondi);
        api.easy_setopt(h.get(), CURLOPT_FOLLOWLOCATION, 1L);
        api.easy_setopt(h.get(), CURLOPT_MAXREDIRS, 5L);
        api.easy_setopt(h.get(), CURLOPT_PROTOCOLS_STR, "http,https");
        api.easy_setopt(h.get(), CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        api.easy_setopt(h.get(), CURLOPT_ERRORBUFFER, errore);
        api.easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, ricevi);
        api.easy_setopt(h.get(), CURLOPT_WRITEDATA, &corpo);
        const CURLcode rc = api.easy_perform(h.get());

        long stato = 0;
        api.easy_getinfo(h.get(), CURLINFO_RESPONSE_CODE, &stato);
        if (stato >= 300 || (stato > 0 && stato < 200))
            return {std::nullopt, "il server ha risposto " + std::to_string(stato)};
        const bool completa = rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && corpo.troncato);
        if (!completa) {
            const std::string tipo = api.easy_strerror(rc);
            const std::string testo = errore[0] ? errore : tipo;
            if (irraggiungibile(rc, h.get()))
                return {std::nullopt, "server non raggiungibile (" + testo + ")"};
            return {std::nullopt, tipo + ": " + testo};
        }
        Json dati = Json::parse(utf8_valido(corpo.dati), nullptr, false);
        if (dati.is_discarded()) return {std::nullopt, "risposta del server illeggibile"};
        if (!dati.is_object()) return {std::nullopt, "risposta del server non valida"};
        return {std::move(dati), ""};
    } catch (const std::exception& e) {
        return {std::nullopt, std::string("errore imprevisto: ") + e.what()};
    }
}

std::optional<Json> scarica_json(const std::string& url, double timeout,
                                 std::string_view app_version) {
    auto [dati, motivo] = scarica_json_dettagliato(url, timeout, app_version);
    if (!motivo.empty()) debug("Controllo versione non riuscito su " + url + ": " + motivo);
    return dati;
}

std::pair<std::string, std::string> sistema_operativo() {
    struct utsname u {};
    if (::uname(&u) != 0 || !u.sysname[0]) return {"sconosciuto", ""};
    std::string_view rilascio = u.release;
    std::string sommaria;
    int serie = 0;
    for (size_t i = 0; i < rilascio.size() && serie < 2;) {
        if (!cifra(rilascio[i])) {
            ++i;
            continue;
        }
        size_t inizio = i;
        while (i < rilascio.size() && cifra(rilascio[i])) ++i;
        if (serie++) sommaria += '.';
        sommaria += rilascio.substr(inizio, i - inizio);
    }
    return {u.sysname, sommaria};
}

std::string url_con_sistema(const std::string& url) {
    return url_con_sistema(url, sistema_operativo().first);
}

std::string url_con_sistema(const std::string& url, const std::string& nome_sistema) {
    if (url.empty() || nome_sistema == "sconosciuto") return url;
    static constexpr char CIFRE[] = "0123456789ABCDEF";
    std::string codificato;
    for (unsigned char c : nome_sistema) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || cifra(static_cast<char>(c)) ||
            c == '_' || c == '.' || c == '-' || c == '~') {
            codificato += static_cast<char>(c);
        } else if (c == ' ') {
            codificato += '+';
        } else {
            codificato += '%';
            codificato += CIFRE[c >> 4];
            codificato += CIFRE[c & 0xf];
        }
    }
    return url + (url.find('?') == std::string::npos ? "?" : "&") + "os=" + codificato;
}

namespace {

// Il testo pubblicato e l'oggetto; niente oggetto se la richiesta non è riuscita.
std::string versione_pubblicata(const Json& dati) {
    return std::string(senza_spazi(testo_membro(dati, "version")));
}

std::string descrivi_membro(const Json& dati) {
    auto it = dati.find("version");
    return it == dati.end() ? "None" : it->dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

EsitoVersione controlla_versione(const std::string& url, std::string_view versione_corrente,
                                 double timeout) {
    if (url.empty()) return {ESITO_NON_CONFIGURATO, "", ""};
    auto [dati, motivo] =
        scarica_json_dettagliato(url_con_sistema(url), timeout, versione_corrente);
    if (!motivo.empty()) {
        debug("Controllo versione non riuscito su " + url + ": " + motivo);
        return {ESITO_ERRORE, "", motivo};
    }
    const std::string pubblicata = versione_pubblicata(*dati);
    if (pubblicata.empty() || !analizza_versione(pubblicata)) {
        debug("Risposta senza una versione utilizzabile: " + descrivi_membro(*dati));
        return {ESITO_ERRORE, "", "il server non ha indicato una versione"};
    }
    if (confronta_versioni(pubblicata, versione_corrente) == 1)
        return {ESITO_AGGIORNAMENTO, pubblicata, ""};
    return {ESITO_AGGIORNATO, "", ""};
}

std::optional<std::string> versione_disponibile(const std::string& url,
                                                std::string_view versione_corrente,
                                                double timeout) {
    if (url.empty()) return std::nullopt;
    auto dati = scarica_json(url_con_sistema(url), timeout, versione_corrente);
    if (!dati) return std::nullopt;
    const std::string pubblicata = versione_pubblicata(*dati);
    if (pubblicata.empty() || !analizza_versione(pubblicata)) {
        debug("Risposta senza una versione utilizzabile: " + descrivi_membro(*dati));
        return std::nullopt;
    }
    if (confronta_versioni(pubblicata, versione_corrente) == 1) return pubblicata;
    return std::nullopt;
}

}  // namespace ormeggio
