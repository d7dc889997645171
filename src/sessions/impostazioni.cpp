#include "sessions/impostazioni.h"

namespace ormeggio {

std::string FILE_IMPOSTAZIONI() { return CARTELLA_CONFIG() + "/impostazioni.json"; }

Json carica_impostazioni() {
    auto j = leggi_json(FILE_IMPOSTAZIONI());
    if (j && j->is_object()) return *j;
    return Json::object();
}

void salva_impostazioni(const Json& impostazioni) { scrivi_json(FILE_IMPOSTAZIONI(), impostazioni); }

namespace {

// Vuoto, null, false, 0 contano come assenti; un altro tipo non vuoto (solo a mano)
// non è un percorso valido e vale come assente.
std::string leggi_testo(const char* chiave, const std::string& predefinito) {
    Json imp = carica_impostazioni();
    auto it = imp.find(chiave);
    if (it != imp.end() && it->is_string() && !it->get_ref<const std::string&>().empty())
        return it->get<std::string>();
    return predefinito;
}

void scrivi_testo(const char* chiave, const std::string& valore) {
    Json imp = carica_impostazioni();
    imp[chiave] = valore;
    salva_impostazioni(imp);
}

}  // namespace

std::string cartella_locale_predefinita() {
    return leggi_testo("cartella_locale_predefinita", cartella_home());
}
void imposta_cartella_locale_predefinita(const std::string& p) {
    scrivi_testo("cartella_locale_predefinita", p);
}
std::string percorso_remoto_predefinito() {
    return leggi_testo("percorso_remoto_predefinito", PERCORSO_REMOTO_PREDEFINITO);
}
void imposta_percorso_remoto_predefinito(const std::string& p) {
    scrivi_testo("percorso_remoto_predefinito", p);
}
std::string lingua() { return leggi_testo("lingua", "it"); }
void imposta_lingua(const std::string& c) { scrivi_testo("lingua", c); }

}  // namespace ormeggio
