// etichetta: gui
#include <gtest/gtest.h>

#include <filesystem>

#include "browser/browser_frame.h"
#include "sessions/impostazioni.h"
#include "sessions/login_frame.h"
#include "shell/app.h"
#include "shell/i18n.h"
#include "supporto/gui.h"
#include "supporto/supporto.h"
#include "tk/tk.h"

using namespace ormeggio;

namespace {

class AppProva : public ::testing::Test {
protected:
    prove::CasaTemporanea casa;
    std::shared_ptr<App> app;
    void SetUp() override { prove::prepara_tk(); }
    void TearDown() override {
        app.reset();
        set_language("it");
    }
    void crea(const std::string& impostazioni = "") {
        if (!impostazioni.empty()) {
            std::filesystem::create_directories(casa.percorso() + "/.config/approdo");
            prove::scrivi_file(casa.percorso() + "/.config/approdo/impostazioni.json",
                               impostazioni);
        }
        app = App::crea();
        tk::chiama("update");
    }
    static std::string dimensioni() {
        std::string g = tk::chiama("wm", "geometry", ".");
        return g.substr(0, g.find('+'));
    }
    std::vector<std::string> voci_menu(const std::string& menu) {
        std::vector<std::string> r;
        int ultimo = std::stoi(tk::chiama(menu, "index", "end"));
        for (int i = 0; i <= ultimo; ++i) {
            std::string tipo = tk::chiama(menu, "type", i);
            r.push_back(tipo == "separator" ? "---" : tk::chiama(menu, "entrycget", i, "-label"));
        }
        return r;
    }
};

TEST_F(AppProva, FinestraInIngleseConTitoloDimensioniEPiede) {
    crea("{\"lingua\": \"en\"}");
    EXPECT_EQ(tk::chiama("wm", "title", "."), "Ormeggio v1.34.3");
    EXPECT_EQ(dimensioni(), "1000x640");
    EXPECT_EQ(tk::chiama("ttk::style", "theme", "use"), "clam");
    const std::string piede = app->etichetta_piede;
    EXPECT_EQ(tk::chiama(piede, "cget", "-text"), "Ormeggio v1.34.3 — Squadra Ormeggio");
    EXPECT_EQ(tk::chiama(piede, "cget", "-foreground"), "#999");
    EXPECT_EQ(tk::chiama(piede, "cget", "-anchor"), "e");
    auto info = tk::Obj(tk::chiama("pack", "info", piede)).lista();
    std::map<std::string, std::string> opz;
    for (size_t i = 0; i + 1 < info.size(); i += 2) opz[info[i]] = info[i + 1];
    EXPECT_EQ(opz["-side"], "bottom");
    EXPECT_EQ(opz["-fill"], "x");
    EXPECT_EQ(opz["-padx"], "8");
    EXPECT_EQ(opz["-pady"], "2");
    // Il piede sta in basso a destra, sotto il modulo.
    int y_piede = std::stoi(tk::chiama("winfo", "y", piede));
    int y_login = std::stoi(tk::chiama("winfo", "y", app->frame_login->percorso));
    EXPECT_GT(y_piede, y_login);
    EXPECT_GT(y_piede, 600);
    EXPECT_EQ(voci_menu(".menu"), (std::vector<std::string>{"File", "Settings", "Language", "Help"}));
    EXPECT_EQ(voci_menu(".menu.file"), std::vector<std::string>{"Exit"});
    EXPECT_EQ(voci_menu(".menu.impostazioni"),
              (std::vector<std::string>{"Default local folder…", "Default remote folder…", "---",
                                        "Upload exclusions…"}));
    EXPECT_EQ(voci_menu(".menu.lingua"), (std::vector<std::string>{"Italiano", "English"}));
    EXPECT_EQ(tk::chiama("set", app->_var_lingua->nome()), "en");
}

TEST_F(AppProva, ConnessioneEDisconnessioneScambianoIRiquadri) {
    crea("{\"percorso_remoto_predefinito\": \"/var/www\"}");
    EXPECT_EQ(app->percorso_corrente, "/var/www");
    app->on_connesso(nullptr, nullptr, "", "/tmp", std::nullopt, std::nullopt);
    tk::chiama("update");
    EXPECT_EQ(app->percorso_corrente, "/var/www");  // vuoto: la cartella predefinita
    EXPECT_EQ(dimensioni(), "1500x850");
    ASSERT_TRUE(app->frame_browser);
    EXPECT_EQ(tk::chiama("winfo", "ismapped", app->frame_login->percorso), "0");
    EXPECT_EQ(tk::chiama("winfo", "ismapped", app->frame_browser->percorso), "1");
    std::string primo = app->frame_browser->percorso;

    tk::chiama(app->frame_login->btn_connetti, "configure", "-state", "disabled");
    tk::chiama(app->frame_browser->btn_disconnetti, "invoke");
    tk::chiama("update");
    EXPECT_FALSE(app->frame_browser);
    EXPECT_FALSE(tk::esiste(primo));
    EXPECT_EQ(tk::chiama("winfo", "ismapped", app->frame_login->percorso), "1");
    EXPECT_EQ(tk::chiama(app->frame_login->btn_connetti, "cget", "-state"), "normal");

    app->on_connesso(nullptr, nullptr, "/srv", "/tmp", std::string(""), std::string("sito"));
    EXPECT_EQ(app->percorso_corrente, "/srv");
    ASSERT_TRUE(app->frame_browser);
    EXPECT_NE(app->frame_browser->percorso, primo);
}

TEST_F(AppProva, CartellaRemotaPredefinitaDalMenu) {
    crea();
    struct Caso {
        std::string risposta;  // lista Tcl {esito testo}
        std::string salvato;
        bool errore;
    };
    const std::vector<Caso> casi = {
        {"1 {   }", "/", false},
        {"1 {  /var/www  }", "/var/www", false},
        {"1 relativo/x", "/var/www", true},
        {"0 {}", "/var/www", false},
    };
    for (const auto& c : casi) {
        prove::risposte_dialoghi({c.risposta, ""});
        tk::chiama(".menu.impostazioni", "invoke", 1);
        EXPECT_EQ(percorso_remoto_predefinito(), c.salvato) << c.risposta;
        auto chiamate = prove::dialoghi_chiamati();
        bool errore = chiamate.size() > 1 &&
                      chiamate.back().find("Il percorso deve essere assoluto, cioè cominciare "
                                           "con /.") != std::string::npos;
        EXPECT_EQ(errore, c.errore) << c.risposta;
        tk::script("set ::prove::chiamate {}");
    }
}

TEST_F(AppProva, CartellaLocalePredefinitaVaNelModuloSoloSenzaConnessione) {
    crea();
    prove::risposte_dialoghi({"/srv/uno"});
    tk::chiama(".menu.impostazioni", "invoke", 0);
    EXPECT_EQ(cartella_locale_predefinita(), "/srv/uno");
    EXPECT_EQ(app->frame_login->var_percorso_locale->get(), "/srv/uno");
    app->on_connesso(nullptr, nullptr, "", "/tmp", std::nullopt, std::nullopt);
    prove::risposte_dialoghi({"/srv/due"});
    tk::chiama(".menu.impostazioni", "invoke", 0);
    EXPECT_EQ(cartella_locale_predefinita(), "/srv/due");
    EXPECT_EQ(app->frame_login->var_percorso_locale->get(), "/srv/uno");
}

TEST_F(AppProva, LinguaSalvataConAvvisoBilingueEErroreDiScritturaSulloStderr) {
    crea();
    tk::chiama(".menu.lingua", "invoke", 1);
    EXPECT_EQ(lingua(), "en");
    auto chiamate = prove::dialoghi_chiamati();
    ASSERT_EQ(chiamate.size(), 1u);
    EXPECT_NE(chiamate[0].find("-message=La lingua sarà applicata al prossimo avvio "
                               "dell'applicazione.\nThe language will be applied"),
              std::string::npos);
    EXPECT_EQ(tk::chiama(".menu", "entrycget", 0, "-label"), "File");

    // Cartella di configurazione impossibile da scrivere: errore sullo stderr, finestra viva.
    std::filesystem::remove_all(casa.percorso() + "/.config");
    prove::scrivi_file(casa.percorso() + "/.config", "");
    testing::internal::CaptureStderr();
    tk::chiama("after", 0, tk::Obj{tk::Obj(".menu.lingua"), tk::Obj("invoke"), tk::Obj(0)});
    tk::attendi_finche([] { return false; }, std::chrono::milliseconds(200));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(".config"), std::string::npos) << err;
    EXPECT_EQ(tk::chiama("winfo", "exists", "."), "1");
}

TEST_F(AppProva, FileDiAiutoMancante) {
    crea();
    tk::chiama(".menu.aiuto", "invoke", 0);
    auto chiamate = prove::dialoghi_chiamati();
    ASSERT_EQ(chiamate.size(), 1u);
    std::string atteso = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() +
                         "/README.md";
    EXPECT_NE(chiamate[0].find("-message=File di aiuto non trovato: " + atteso), std::string::npos)
        << chiamate[0];
}

TEST_F(AppProva, InformazioniEModale) {
    crea();
    int ultimo = std::stoi(tk::chiama(".menu.aiuto", "index", "end"));
    tk::chiama(".menu.aiuto", "invoke", ultimo);
    tk::chiama("update");
    std::string grab = tk::chiama("grab", "current");
    ASSERT_FALSE(grab.empty());
    EXPECT_EQ(tk::chiama("wm", "title", grab), "Informazioni su Ormeggio");
    EXPECT_EQ(tk::chiama("wm", "resizable", grab), "0 0");
    tk::chiama(grab + ".corpo.pulsanti.chiudi", "invoke");
    EXPECT_EQ(tk::chiama("grab", "current"), "");
}

}  // namespace
