#include "tk/tk.h"
#include "browser/browser_frame.h"

#include "sessions/profili.h"
#include "shell/i18n.h"

namespace ormeggio {

std::shared_ptr<BrowserFrame> BrowserFrame::crea(
    const std::string& genitore, std::shared_ptr<ssh::Connessione> client,
    std::shared_ptr<ssh::Sftp> sftp, const std::string& percorso_iniziale,
    const std::string& percorso_locale_iniziale, std::optional<std::string> sudo_password,
    std::optional<std::string> nome_profilo, std::function<void()> on_disconnetti) {
    std::shared_ptr<BrowserFrame> b(new BrowserFrame());
    b->client = std::move(client);
    b->sftp = std::move(sftp);
    b->percorso_remoto = percorso_iniziale;
    b->percorso_locale = percorso_locale_iniziale;
    b->sudo_password = std::move(sudo_password);
    b->nome_profilo = std::move(nome_profilo);
    b->_on_disconnetti = std::move(on_disconnetti);
    b->percorso = tk::nuovo_nome(genitore, "browser");
    tk::chiama("ttk::frame", b->percorso);
    b->btn_disconnetti = b->percorso + ".disconnetti";
    std::weak_ptr<BrowserFrame> debole = b;
    tk::chiama("ttk::button", b->btn_disconnetti, "-text", t("Disconnetti"));
    tk::chiama(b->btn_disconnetti, "configure", "-command",
               tk::comando(
                   [debole](const std::vector<std::string>&) {
                       if (auto self = debole.lock()) self->_on_disconnetti();
                   },
                   b->btn_disconnetti));
    tk::chiama("pack", b->btn_disconnetti, "-anchor", "ne");
    return b;
}

BrowserFrame::~BrowserFrame() {
    if (tk::inizializzato() && tk::esiste(percorso)) tk::chiama("destroy", percorso);
}

void BrowserFrame::salva_ultimi_percorsi() {
    aggiorna_ultimi_percorsi(nome_profilo, percorso_remoto, percorso_locale);
}

}  // namespace ormeggio
