#include "tk/tk.h"
#include "sessions/login_frame.h"

#include "sessions/impostazioni.h"
#include "shell/i18n.h"

namespace ormeggio {

std::shared_ptr<LoginFrame> LoginFrame::crea(const std::string& genitore,
                                             CallbackConnesso on_connesso) {
    std::shared_ptr<LoginFrame> f(new LoginFrame());
    f->_on_connesso = std::move(on_connesso);
    f->percorso = tk::nuovo_nome(genitore, "login");
    tk::chiama("ttk::frame", f->percorso, "-padding", 10);
    f->var_percorso_locale = std::make_unique<tk::Variabile>(cartella_locale_predefinita());
    f->btn_connetti = f->percorso + ".connetti";
    tk::chiama("ttk::button", f->btn_connetti, "-text", t("Connetti"));
    tk::chiama("pack", f->btn_connetti, "-anchor", "ne");
    return f;
}

LoginFrame::~LoginFrame() {
    if (tk::inizializzato() && tk::esiste(percorso)) tk::chiama("destroy", percorso);
}

}  // namespace ormeggio
