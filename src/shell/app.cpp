#include "tk/tk.h"
#include "shell/app.h"

#include "browser/browser_frame.h"
#include "sessions/impostazioni.h"
#include "sessions/login_frame.h"
#include "shell/i18n.h"
#include "shell/version.h"

namespace ormeggio {

std::string percorso_iniziale_remoto() { return percorso_remoto_predefinito(); }

std::shared_ptr<App> App::crea() {
    std::shared_ptr<App> app(new App());
    app->_costruisci();
    return app;
}

App::~App() = default;

void App::_costruisci() {
    set_language(lingua());
    _versione_nuova.reset();
    _aggiorna_titolo();
    tk::chiama("wm", "geometry", ".", GEOMETRIA_LOGIN);
    tk::chiama("ttk::style", "theme", "use", "clam");
    _crea_menu();
    client.reset();
    sftp.reset();
    percorso_corrente = percorso_iniziale_remoto();

    // Il piè di pagina va impacchettato prima dei riquadri: resta sempre visibile.
    etichetta_piede = ".piede";
    tk::chiama("ttk::label", etichetta_piede, "-text",
               std::string(APP_NAME) + " v" + APP_VERSION + " — " + t(APP_CREDITS), "-foreground",
               "#999", "-font", tk::carattere(8), "-anchor", "e");
    tk::chiama("pack", etichetta_piede, "-side", "bottom", "-fill", "x", "-padx", 8, "-pady", 2);

    std::weak_ptr<App> debole = weak_from_this();
    frame_login = LoginFrame::crea(".", [debole](std::shared_ptr<ssh::Connessione> c,
                                                 std::shared_ptr<ssh::Sftp> s,
                                                 const std::string& pi, const std::string& pli,
                                                 std::optional<std::string> sp,
                                                 std::optional<std::string> np) {
        if (auto app = debole.lock()) app->on_connesso(c, s, pi, pli, sp, np);
    });
    frame_browser.reset();
    tk::chiama("pack", frame_login->percorso, "-fill", "both", "-expand", 1);

    tk::chiama("wm", "protocol", ".", "WM_DELETE_WINDOW",
               tk::comando([debole](const std::vector<std::string>&) {
                   if (auto app = debole.lock()) app->_chiudi();
               }));
    tk::dopo(200, [debole] {
        if (auto app = debole.lock()) app->_avvia_servizi_online();
    });
}

void App::_aggiorna_titolo() {
    std::string titolo = std::string(APP_NAME) + " v" + APP_VERSION;
    if (_versione_nuova)
        titolo += " — " + t("Nuova versione {v} disponibile", {{"v", *_versione_nuova}});
    tk::chiama("wm", "title", ".", titolo);
}

void App::on_connesso(std::shared_ptr<ssh::Connessione> c, std::shared_ptr<ssh::Sftp> s,
                      const std::string& percorso_iniziale,
                      const std::string& percorso_locale_iniziale,
                      std::optional<std::string> sudo_password,
                      std::optional<std::string> nome_profilo) {
    client = std::move(c);
    sftp = std::move(s);
    percorso_corrente = !percorso_iniziale.empty() ? percorso_iniziale : percorso_iniziale_remoto();
    tk::chiama("wm", "geometry", ".", GEOMETRIA_CONNESSO);
    tk::chiama("pack", "forget", frame_login->percorso);
    std::weak_ptr<App> debole = weak_from_this();
    try {
        frame_browser =
            BrowserFrame::crea(".", client, sftp, percorso_corrente, percorso_locale_iniziale,
                               sudo_password, nome_profilo, [debole] {
                                   if (auto app = debole.lock()) app->on_disconnetti();
                               });
        tk::chiama("pack", frame_browser->percorso, "-fill", "both", "-expand", 1);
    } catch (...) {
        // Senza browser la finestra resterebbe vuota: torna il modulo, che mostra l'errore.
        frame_browser.reset();
        client.reset();
        sftp.reset();
        tk::chiama("pack", frame_login->percorso, "-fill", "both", "-expand", 1);
        throw;
    }
}

// Salvare le ultime cartelle non deve impedire di disconnettere o chiudere:
// l'errore torna come testo, per essere riferito dopo.
std::optional<std::string> App::_salva_ultimi_percorsi() {
    if (!frame_browser) return std::nullopt;
    try {
        frame_browser->salva_ultimi_percorsi();
    } catch (const std::exception& e) {
        return std::string(e.what());
    }
    return std::nullopt;
}

void App::on_disconnetti() {
    auto errore_salvataggio = _salva_ultimi_percorsi();
    try {
        if (sftp) sftp->chiudi();
        if (client) client->chiudi();
    } catch (...) {
    }
    client.reset();
    sftp.reset();
    if (frame_browser) {
        tk::chiama("pack", "forget", frame_browser->percorso);
        frame_browser.reset();
    }
    tk::chiama(frame_login->btn_connetti, "configure", "-state", "normal");
    tk::chiama("pack", frame_login->percorso, "-fill", "both", "-expand", 1);
    if (errore_salvataggio) throw std::runtime_error(*errore_salvataggio);
}

void App::_chiudi() {
    if (auto errore = _salva_ultimi_percorsi())
        std::fprintf(stderr, "Ormeggio: ultime cartelle non salvate: %s\n", errore->c_str());
    tk::chiama("destroy", ".");
}

}  // namespace ormeggio
