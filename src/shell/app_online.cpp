// Il controllo degli aggiornamenti visto dalla finestra principale.
#include "tk/tk.h"

#include <algorithm>
#include <thread>

#include "online/servizi_online.h"
#include "shell/about_dialog.h"
#include "shell/app.h"
#include "shell/i18n.h"
#include "shell/version.h"

namespace ormeggio {

void App::_aggiungi_voci_online(const std::string& menu) {
    std::weak_ptr<App> debole = weak_from_this();
    if (!NEWS_URL().empty())
        tk::chiama(menu, "add", "command", "-label", t("Novità"), "-command",
                   tk::comando([debole](const std::vector<std::string>&) {
                       if (auto app = debole.lock()) app->_apri_novita();
                   }));
    if (!VERSION_URL().empty())
        tk::chiama(menu, "add", "command", "-label", t("Controlla aggiornamenti"), "-command",
                   tk::comando([debole](const std::vector<std::string>&) {
                       if (auto app = debole.lock()) app->_controlla_aggiornamenti(true);
                   }));
    if (!PRIVACY_URL().empty())
        tk::chiama(menu, "add", "command", "-label", t("Nota privacy"), "-command",
                   tk::comando([debole](const std::vector<std::string>&) {
                       if (auto app = debole.lock()) app->_apri_privacy();
                   }));
}

void App::_avvia_servizi_online() { _controlla_aggiornamenti(false); }

void App::_apri_novita() {
    if (!NEWS_URL().empty()) apri_indirizzo(NEWS_URL());
}

void App::_apri_privacy() {
    if (!PRIVACY_URL().empty()) apri_indirizzo(PRIVACY_URL());
}

std::string App::_finestra_attesa() {
    std::string w = tk::nuovo_nome(".", "attesa");
    tk::chiama("toplevel", w);
    tk::chiama("wm", "title", w, t("Controlla aggiornamenti"));
    tk::chiama("wm", "resizable", w, 0, 0);
    tk::chiama("wm", "transient", w, ".");
    // Chiuderla non fermerebbe la richiesta: il pulsante di chiusura non fa niente.
    tk::chiama("wm", "protocol", w, "WM_DELETE_WINDOW", "");
    std::string etichetta = w + ".testo";
    tk::chiama("ttk::label", etichetta, "-text", t("Connessione al server in corso…"), "-padding",
               tk::Obj{tk::Obj(20), tk::Obj(16), tk::Obj(20), tk::Obj(8)});
    tk::chiama("pack", etichetta);
    std::string barra = w + ".barra";
    tk::chiama("ttk::progressbar", barra, "-mode", "indeterminate", "-length", 260);
    tk::chiama("pack", barra, "-padx", 20, "-pady", tk::Obj{tk::Obj(0), tk::Obj(18)});
    tk::chiama(barra, "start", 12);
    tk::chiama("update", "idletasks");
    auto intero = [](const std::string& s) { return std::stoi(s); };
    int x = intero(tk::chiama("winfo", "rootx", ".")) +
            (intero(tk::chiama("winfo", "width", ".")) - intero(tk::chiama("winfo", "reqwidth", w))) / 2;
    int y = intero(tk::chiama("winfo", "rooty", ".")) +
            (intero(tk::chiama("winfo", "height", ".")) - intero(tk::chiama("winfo", "reqheight", w))) / 3;
    tk::chiama("wm", "geometry", w, "+" + std::to_string(std::max(0, x)) + "+" +
                                        std::to_string(std::max(0, y)));
    tk::prendi_input(w);
    return w;
}

void App::_controlla_aggiornamenti(bool manuale) {
    const std::string url = VERSION_URL();
    if (url.empty()) {
        if (manuale)
            tk::informa(t("Controlla aggiornamenti"),
                        t("Il controllo degli aggiornamenti non è configurato."), ".");
        return;
    }
    std::optional<std::string> attesa;
    if (manuale) attesa = _finestra_attesa();
    std::weak_ptr<App> debole = weak_from_this();
    std::thread([url, manuale, attesa, debole] {
        EsitoVersione esito = controlla_versione(url, APP_VERSION, TIMEOUT_VERSIONE_S);
        tk::sul_thread_ui(debole, [esito, manuale, attesa, debole] {
            if (auto app = debole.lock()) app->_esito_versione(esito, manuale, attesa);
        });
    }).detach();
}

void App::_esito_versione(const std::optional<EsitoVersione>& esito_ricevuto, bool manuale,
                          const std::optional<std::string>& attesa) {
    if (attesa && tk::esiste(*attesa)) {
        tk::chiama("grab", "release", *attesa);
        tk::chiama("destroy", *attesa);
    }
    EsitoVersione esito =
        esito_ricevuto ? *esito_ricevuto : EsitoVersione{ESITO_ERRORE, "", t("errore imprevisto")};
    const std::string titolo = t("Controlla aggiornamenti");
    if (esito.esito == ESITO_AGGIORNAMENTO) {
        _versione_nuova = esito.versione;
        _aggiorna_titolo();
        if (manuale)
            tk::informa(titolo, t("È disponibile la versione {v}.", {{"v", esito.versione}}), ".");
        return;
    }
    if (!manuale) return;
    if (esito.esito == ESITO_AGGIORNATO) {
        tk::informa(titolo,
                    t("Nessun aggiornamento: stai usando la versione più recente ({v}).",
                      {{"v", APP_VERSION}}),
                    ".");
    } else if (esito.esito == ESITO_NON_CONFIGURATO) {
        tk::informa(titolo, t("Il controllo degli aggiornamenti non è configurato."), ".");
    } else {
        tk::avvisa(titolo,
                   t("Errore di connessione: non è stato possibile contattare il server.") +
                       "\n\n" + t("Controlla la connessione a Internet e riprova.") + "\n\n" +
                       esito.motivo,
                   ".");
    }
}

void App::_modifica_esclusioni() {}

}  // namespace ormeggio
