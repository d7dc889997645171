#include "online/servizi_online.h"
#include "remote/utf8.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "supporto/server_http.h"
#include "supporto/supporto.h"

using namespace ormeggio;
using namespace std::chrono_literals;

namespace {

// Il server HTTP di prova con le risposte di queste prove, scelte dal percorso.
class ServerProva : public prove::ServerHttp {
public:
    ServerProva() {
        imposta_gestore([this](const std::string& percorso) -> prove::RispostaHttp {
            if (percorso.rfind("/versione/", 0) == 0)
                return {200, R"({"version": ")" + percorso.substr(10) + R"(", "note": "ignorato"})"};
            if (percorso == "/mancante") return {404, "non trovato"};
            if (percorso == "/lista") return {200, R"(["1.2.3"])"};
            if (percorso == "/non-json") return {200, "<html>non è json</html>"};
            if (percorso == "/enorme")
                return {200, R"({"version": "9.0.0", "x": ")" + std::string(100000, 'a') + "\"}"};
            // valido solo se ci si ferma a 65536 byte
            if (percorso == "/enorme-spazi")
                return {200, R"({"version": "9.0.0"})" + std::string(70000, ' ') + "coda"};
            if (percorso == "/non-utf8") return {200, "{\"version\": \"2.0.0-\xff\xfe\", \"\xc3\": 1}"};
            if (percorso == "/lenta") return {200, R"({"version": "9.0.0"})", 4s};
            if (percorso == "/reset") return {200, "", {}, true};
            return {500, ""};
        });
    }
};

// Raccoglie le righe del registro di debug per la durata della prova.
class RigheDebug {
  public:
    RigheDebug() {
        imposta_destinazione_debug([this](const std::string& nome, const std::string& riga) {
            std::lock_guard b(_m);
            _righe.push_back(nome + ": " + riga);
        });
    }
    ~RigheDebug() { imposta_destinazione_debug({}); }
    std::vector<std::string> righe() {
        std::lock_guard b(_m);
        return _righe;
    }

  private:
    std::mutex _m;
    std::vector<std::string> _righe;
};

// Una porta di loopback su cui nessuno ascolta.
int porta_chiusa() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t l = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &l);
    ::close(s);
    return ntohs(a.sin_port);
}

}  // namespace

TEST(AnalizzaVersione, Esempi) {
    const std::pair<const char*, std::optional<Versione>> casi[] = {
        {"v1.41.0-dev", Versione{1, 41, 0, "-dev"}},
        {"1.41", Versione{1, 41, 0, ""}},
        {"1", Versione{1, 0, 0, ""}},
        {"1.2.3.4", Versione{1, 2, 3, ".4"}},
        {"  2.0.1 rc1  ", Versione{2, 0, 1, "rc1"}},
        {"1.x", Versione{1, 0, 0, ".x"}},
        {"1.2.3\n", Versione{1, 2, 3, ""}},
        {"99999999999999999999999.1", Versione{UINT64_MAX, 1, 0, ""}},
        {"V1.2.3", std::nullopt},
        {"versione 1", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"v", std::nullopt},
        {"1.2.3\nx", std::nullopt},
    };
    for (const auto& [testo, atteso] : casi) EXPECT_EQ(analizza_versione(testo), atteso) << testo;
}

TEST(ConfrontaVersioni, PerSignificatoENonComeTesto) {
    struct Caso {
        const char *a, *b;
        int atteso;
    };
    const Caso casi[] = {
        {"1.10.0", "1.9.0", 1},          {"1.9.0", "1.10.0", -1},
        {"1.41.0", "1.41.0-rc1", 1},     {"1.41.0-rc1", "1.41.0", -1},
        {"1.41", "1.41.0", 0},           {"v1.41.0", "1.41.0", 0},
        {"1.41.0-rc2", "1.41.0-rc1", 1}, {"2", "1.99.99", 1},
        {"nuova", "1.0.0", 0},           {"1.0.0", "", 0},
        {"1.2.3.4", "1.2.3", -1},
    };
    for (const auto& c : casi)
        EXPECT_EQ(confronta_versioni(c.a, c.b), c.atteso) << c.a << " vs " << c.b;
}

TEST(ServiziOnline, AgenteSistemaEIndirizzi) {
    EXPECT_EQ(_user_agent("1.34.3"), "Ormeggio/1.34.3");

    auto [nome, versione] = sistema_operativo();
    EXPECT_EQ(nome + "\n", prove::esegui_locale("uname -s"));
    const std::string rilascio = prove::esegui_locale("uname -r");
    EXPECT_EQ(rilascio.rfind(versione, 0), 0u) << rilascio;
    EXPECT_EQ(std::count(versione.begin(), versione.end(), '.'), 1) << versione;

    const std::tuple<const char*, const char*, const char*> casi[] = {
        {"https://h.example/v.php", "Linux", "https://h.example/v.php?os=Linux"},
        {"https://h.example/v.php?canale=beta", "Linux",
         "https://h.example/v.php?canale=beta&os=Linux"},
        {"https://h.example/v.php", "Mio OS/2+", "https://h.example/v.php?os=Mio+OS%2F2%2B"},
        {"https://h.example/v.php", "sconosciuto", "https://h.example/v.php"},
        {"", "Linux", ""},
    };
    for (auto [url, sistema, atteso] : casi) EXPECT_EQ(url_con_sistema(url, sistema), atteso);
    EXPECT_EQ(url_con_sistema("http://x/"), "http://x/?os=" + nome);

    const std::string base = url_servizi();
    imposta_url_servizi("https://produttore.example/");
    EXPECT_EQ(VERSION_URL(), "https://produttore.example/ormeggio/latest.php");
    EXPECT_EQ(NEWS_URL(), "https://produttore.example/ormeggio/novita.php");
    EXPECT_EQ(PRIVACY_URL(), "https://produttore.example/ormeggio/privacy.php");
    imposta_url_servizi("");
    EXPECT_EQ(VERSION_URL(), "");
    EXPECT_EQ(NEWS_URL(), "");
    imposta_url_servizi(base);
}

// La stessa conversione che ripulisce le risposte del server HTTP.
TEST(Utf8Risposte, SequenzeNonValideSostituite) {
    const std::string R = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> casi[] = {
        {"abc", "abc"},
        {"è€😀", "è€😀"},
        {"a\xff"
         "b",
         "a" + R + "b"},
        {"\xc3", R},
        {"\xe2\x82", R},
        {"\xe2\x82x", R + "x"},
        {"\xc0\xaf", R + R},
        {"\xed\xa0\x80", R + R + R},
        {"\xf4\x90\x80\x80", R + R + R + R},
    };
    for (const auto& [dato, atteso] : casi) EXPECT_EQ(utf8_valido(dato), atteso);
}

TEST(ScaricaJson, RisposteDelServer) {
    ServerProva s;
    const std::pair<std::string, std::string> casi[] = {
        {"/mancante", "il server ha risposto 404"},
        {"/lista", "risposta del server non valida"},
        {"/non-json", "risposta del server illeggibile"},
        {"/enorme", "risposta del server illeggibile"},
        {"/enorme-spazi", ""},
        {"/versione/1.2.3", ""},
        {"/non-utf8", ""},
    };
    for (const auto& [percorso, motivo] : casi) {
        auto [dati, ottenuto] = scarica_json_dettagliato(s.url(percorso), 5.0, "1.0.0");
        EXPECT_EQ(ottenuto, motivo) << percorso;
        EXPECT_EQ(dati.has_value(), motivo.empty()) << percorso;
    }
    auto [dati, motivo] = scarica_json_dettagliato(s.url("/non-utf8"), 5.0, "1.0.0");
    ASSERT_TRUE(dati);
    EXPECT_EQ((*dati)["version"], "2.0.0-\xEF\xBF\xBD\xEF\xBF\xBD");

    // l'agente dichiarato arriva al server
    EXPECT_NE(s.richieste().at(0).find("User-Agent: Ormeggio/1.0.0\r\n"), std::string::npos);

    EXPECT_EQ(scarica_json_dettagliato("", 5.0, "1.0.0").second, "non configurato");
}

TEST(ScaricaJson, ConnessioneRifiutataAzzerataOLenta) {
    ServerProva s;
    auto [d1, rifiutata] = scarica_json_dettagliato(
        "http://127.0.0.1:" + std::to_string(porta_chiusa()) + "/", 5.0, "1.0.0");
    EXPECT_FALSE(d1);
    EXPECT_EQ(rifiutata.rfind("server non raggiungibile (", 0), 0u) << rifiutata;
    EXPECT_EQ(rifiutata.back(), ')');

    auto [d2, azzerata] = scarica_json_dettagliato(s.url("/reset"), 5.0, "1.0.0");
    EXPECT_FALSE(d2);
    EXPECT_FALSE(azzerata.empty());
    EXPECT_EQ(azzerata.find("server non raggiungibile"), std::string::npos) << azzerata;

    // il server risponde dopo 4 secondi: la richiesta si arrende al suo tempo massimo
    auto inizio = std::chrono::steady_clock::now();
    auto [d3, lenta] = scarica_json_dettagliato(s.url("/lenta"), 0.5, "1.0.0");
    auto durata = std::chrono::steady_clock::now() - inizio;
    EXPECT_FALSE(d3);
    EXPECT_NE(lenta.find("Timeout"), std::string::npos) << lenta;
    EXPECT_LT(durata, 3s);
}

TEST(ControllaVersione, Esiti) {
    ServerProva s;
    RigheDebug debug;
    struct Caso {
        std::string percorso, corrente;
        EsitoVersione atteso;
    };
    const Caso casi[] = {
        {"/versione/1.10.0", "1.9.0", {ESITO_AGGIORNAMENTO, "1.10.0", ""}},
        {"/versione/1.41.0", "1.41.0-rc1", {ESITO_AGGIORNAMENTO, "1.41.0", ""}},
        {"/versione/1.41", "1.41.0", {ESITO_AGGIORNATO, "", ""}},
        {"/versione/v1.41.0", "1.41.0", {ESITO_AGGIORNATO, "", ""}},
        {"/versione/1.0.0", "1.41.0", {ESITO_AGGIORNATO, "", ""}},
        {"/versione/nuova", "1.0.0", {ESITO_ERRORE, "", "il server non ha indicato una versione"}},
        {"/mancante", "1.0.0", {ESITO_ERRORE, "", "il server ha risposto 404"}},
        {"/lista", "1.0.0", {ESITO_ERRORE, "", "risposta del server non valida"}},
    };
    for (const auto& c : casi)
        EXPECT_EQ(controlla_versione(s.url(c.percorso), c.corrente), c.atteso) << c.percorso;
    EXPECT_EQ(controlla_versione("", "1.0.0"), (EsitoVersione{ESITO_NON_CONFIGURATO, "", ""}));

    // il sistema operativo viaggia nella richiesta, nient'altro
    const std::string prima = s.richieste().at(0);
    EXPECT_EQ(prima.rfind("GET /versione/1.10.0?os=" + sistema_operativo().first + " ", 0), 0u)
        << prima;

    const auto righe = debug.righe();
    const std::vector<std::string> attese = {
        "servizi_online: Risposta senza una versione utilizzabile: \"nuova\"",
        "servizi_online: Controllo versione non riuscito su " + s.url("/mancante") +
            ": il server ha risposto 404",
        "servizi_online: Controllo versione non riuscito su " + s.url("/lista") +
            ": risposta del server non valida",
    };
    EXPECT_EQ(righe, attese);
}

TEST(ControllaVersione, MembroVersioneDiAltriTipi) {
    ServerProva s;
    const std::pair<const char*, EsitoVersione> casi[] = {
        {R"({"version": 2})", {ESITO_AGGIORNAMENTO, "2", ""}},
        {R"({"version": "  3.0.0 "})", {ESITO_AGGIORNAMENTO, "3.0.0", ""}},
        {R"({"version": false})", {ESITO_ERRORE, "", "il server non ha indicato una versione"}},
        {R"({"version": null})", {ESITO_ERRORE, "", "il server non ha indicato una versione"}},
        {R"({"altro": "9.0"})", {ESITO_ERRORE, "", "il server non ha indicato una versione"}},
        {R"({"version": true})", {ESITO_ERRORE, "", "il server non ha indicato una versione"}},
    };
    for (const auto& [corpo, atteso] : casi) {
        s.imposta("/json", {200, corpo});
        EXPECT_EQ(controlla_versione(s.url("/json"), "1.0.0"), atteso) << corpo;
    }
}

TEST(VersioneDisponibile, SoloSePiuNuova) {
    ServerProva s;
    RigheDebug debug;
    EXPECT_EQ(versione_disponibile(s.url("/versione/2.0.0"), "1.0.0"), "2.0.0");
    EXPECT_EQ(versione_disponibile(s.url("/versione/1.0.0"), "1.0.0"), std::nullopt);
    EXPECT_EQ(versione_disponibile(s.url("/mancante"), "1.0.0"), std::nullopt);
    EXPECT_EQ(versione_disponibile(s.url("/versione/parola"), "1.0.0"), std::nullopt);
    EXPECT_EQ(versione_disponibile("", "1.0.0"), std::nullopt);
    auto righe = debug.righe();
    ASSERT_EQ(righe.size(), 2u);
    EXPECT_EQ(righe[0], "servizi_online: Controllo versione non riuscito su " +
                            url_con_sistema(s.url("/mancante")) + ": il server ha risposto 404");
}
