// etichetta: gui
// Il controllo degli aggiornamenti dalla finestra principale, contro un server HTTP locale.
#include <gtest/gtest.h>

#include "online/servizi_online.h"
#include "shell/app.h"
#include "shell/i18n.h"
#include "supporto/gui.h"
#include "supporto/server_http.h"
#include "supporto/supporto.h"
#include "tk/tk.h"

using namespace ormeggio;
using namespace std::chrono_literals;

namespace {

class AppOnline : public ::testing::Test {
protected:
    prove::CasaTemporanea casa;
    prove::ServerHttp server;
    std::shared_ptr<App> app;
    void SetUp() override {
        prove::prepara_tk();
        imposta_url_servizi(server.url());
    }
    void TearDown() override {
        app.reset();
        imposta_url_servizi("");
    }
    void pubblica(const std::string& versione, std::chrono::milliseconds ritardo = 0ms) {
        server.imposta("/ormeggio/latest.php",
                       {200, "{\"version\": \"" + versione + "\"}", ritardo, false});
    }
    std::vector<std::string> voci_aiuto() {
        std::vector<std::string> r;
        int ultimo = std::stoi(tk::chiama(".menu.aiuto", "index", "end"));
        for (int i = 0; i <= ultimo; ++i)
            r.push_back(tk::chiama(".menu.aiuto", "type", i) == "separator"
                            ? "---"
                            : tk::chiama(".menu.aiuto", "entrycget", i, "-label"));
        return r;
    }
    // Attende che i dialoghi registrati siano n.
    bool attendi_dialoghi(size_t n) {
        return tk::attendi_finche([&] { return prove::dialoghi_chiamati().size() >= n; }, 10s);
    }
};

TEST_F(AppOnline, ControlloAutomaticoCambiaIlTitoloSenzaFinestre) {
    pubblica("1.35.0");
    app = App::crea();
    // Parte da solo 200 ms dopo la costruzione.
    ASSERT_TRUE(tk::attendi_finche(
        [] { return tk::chiama("wm", "title", ".") != "Ormeggio v1.34.3"; }, 10s));
    EXPECT_EQ(tk::chiama("wm", "title", "."), "Ormeggio v1.34.3 — Nuova versione 1.35.0 disponibile");
    EXPECT_TRUE(prove::dialoghi_chiamati().empty());
    auto richieste = server.richieste();
    ASSERT_EQ(richieste.size(), 1u);
    EXPECT_EQ(richieste[0].rfind("GET /ormeggio/latest.php?os=Linux HTTP/1.1", 0), 0u);
    EXPECT_NE(richieste[0].find("User-Agent: Ormeggio/1.34.3"), std::string::npos);
    EXPECT_EQ(voci_aiuto(), (std::vector<std::string>{"File di aiuto", "Novità",
                                                      "Controlla aggiornamenti", "Nota privacy",
                                                      "---", "Informazioni su Ormeggio…"}));
}

TEST_F(AppOnline, ControlloAutomaticoSenzaNovitaOConErroreTace) {
    for (auto risposta : {prove::RispostaHttp{200, "{\"version\": \"1.34.3\"}", 0ms, false},
                          prove::RispostaHttp{404, "", 0ms, false},
                          prove::RispostaHttp{200, "[]", 0ms, true}}) {
        server.imposta("/ormeggio/latest.php", risposta);
        size_t prima = server.richieste().size();
        app = App::crea();
        ASSERT_TRUE(tk::attendi_finche([&] { return server.richieste().size() > prima; }, 10s));
        tk::attendi_finche([] { return false; }, 300ms);
        EXPECT_EQ(tk::chiama("wm", "title", "."), "Ormeggio v1.34.3");
        EXPECT_TRUE(prove::dialoghi_chiamati().empty());
        app.reset();
        prove::prepara_tk();
    }
}

TEST_F(AppOnline, ControlloManualeMostraAttesaEPoiLEsito) {
    struct Caso {
        prove::RispostaHttp risposta;
        std::string atteso;
    };
    const std::vector<Caso> casi = {
        {{200, "{\"version\": \"1.40.0\"}", 600ms, false},
         "tk_messageBox -title=Controlla aggiornamenti -message=È disponibile la versione 1.40.0."},
        {{200, "{\"version\": \"v1.34.3\"}", 600ms, false},
         "tk_messageBox -title=Controlla aggiornamenti -message=Nessun aggiornamento: stai usando "
         "la versione più recente (1.34.3)."},
        {{404, "", 600ms, false},
         "tk_messageBox -title=Controlla aggiornamenti -message=Errore di connessione: non è stato "
         "possibile contattare il server.\n\nControlla la connessione a Internet e riprova.\n\nil "
         "server ha risposto 404"},
        {{200, "{\"version\": \"parola\"}", 600ms, false},
         "tk_messageBox -title=Controlla aggiornamenti -message=Errore di connessione: non è stato "
         "possibile contattare il server.\n\nControlla la connessione a Internet e riprova.\n\nil "
         "server non ha indicato una versione"},
    };
    pubblica("1.34.3");
    app = App::crea();
    ASSERT_TRUE(tk::attendi_finche([&] { return server.richieste().size() == 1; }, 10s));
    tk::attendi_finche([] { return false; }, 200ms);
    for (const auto& c : casi) {
        server.imposta("/ormeggio/latest.php", c.risposta);
        tk::script("set ::prove::chiamate {}");
        int scatti = 0;
        app->_controlla_aggiornamenti(true);
        // La finestra d'attesa tiene l'input mentre il ciclo degli eventi continua.
        std::string attesa = tk::chiama("grab", "current");
        ASSERT_FALSE(attesa.empty());
        EXPECT_EQ(tk::chiama("wm", "title", attesa), "Controlla aggiornamenti");
        EXPECT_EQ(tk::chiama(attesa + ".testo", "cget", "-text"), "Connessione al server in corso…");
        tk::dopo(100, [&] { ++scatti; });
        ASSERT_TRUE(attendi_dialoghi(1));
        EXPECT_EQ(scatti, 1);
        EXPECT_FALSE(tk::esiste(attesa));
        EXPECT_EQ(tk::chiama("grab", "current"), "");
        auto dialoghi = prove::dialoghi_chiamati();
        ASSERT_EQ(dialoghi.size(), 1u);
        EXPECT_EQ(dialoghi[0], c.atteso);
    }
    EXPECT_EQ(tk::chiama("wm", "title", "."), "Ormeggio v1.34.3 — Nuova versione 1.40.0 disponibile");
}

TEST_F(AppOnline, SenzaIndirizzoNienteReteNeVociNeAttesa) {
    imposta_url_servizi("");
    app = App::crea();
    tk::attendi_finche([] { return false; }, 400ms);
    EXPECT_EQ(voci_aiuto(),
              (std::vector<std::string>{"File di aiuto", "---", "Informazioni su Ormeggio…"}));
    app->_controlla_aggiornamenti(true);
    EXPECT_EQ(tk::chiama("grab", "current"), "");
    auto dialoghi = prove::dialoghi_chiamati();
    ASSERT_EQ(dialoghi.size(), 1u);
    EXPECT_EQ(dialoghi[0], "tk_messageBox -title=Controlla aggiornamenti -message=Il controllo "
                           "degli aggiornamenti non è configurato.");
    EXPECT_TRUE(server.richieste().empty());
}

}  // namespace
