// Il controllo degli aggiornamenti visto dalla finestra principale.
#include "tk/tk.h"
#include "shell/app.h"
#include "shell/i18n.h"

namespace ormeggio {

void App::_aggiungi_voci_online(const std::string&) {}
void App::_avvia_servizi_online() {}
void App::_apri_novita() {}
void App::_apri_privacy() {}
void App::_controlla_aggiornamenti(bool manuale) {
    if (manuale)
        tk::informa(t("Controlla aggiornamenti"),
                    t("Il controllo degli aggiornamenti non è configurato."), ".");
}
void App::_modifica_esclusioni() {}

}  // namespace ormeggio
