#include "sessions/esclusioni_sito.h"

#include <algorithm>

#include "compare/esclusioni.h"
#include "sessions/impostazioni.h"

namespace ormeggio {

namespace {

constexpr const char* CHIAVE_GENERALE = "esclusioni";
constexpr const char* CHIAVE_SITI = "esclusioni_per_sito";

// Un valore scritto a mano che non è un testo vale come il suo testo JSON.
std::string come_testo(const Json& v) {
    if (v.is_string()) return v.get<std::string>();
    return v.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::vector<std::string> come_lista(const Json& array) {
    std::vector<std::string> r;
    r.reserve(array.size());
    for (const auto& v : array) r.push_back(come_testo(v));
    return r;
}

Json come_array(const std::vector<std::string>& modelli) {
    Json a = Json::array();
    for (const auto& m : modelli) a.push_back(m);
    return a;
}

}  // namespace

std::string chiave_sito(std::string_view percorso_remoto) {
    size_t fine = percorso_remoto.find_last_not_of('/');
    if (fine == std::string_view::npos) return "/";
    return std::string(percorso_remoto.substr(0, fine + 1));
}

std::vector<std::string> esclusioni() {
    Json imp = carica_impostazioni();
    auto it = imp.find(CHIAVE_GENERALE);
    if (it != imp.end() && it->is_array()) return come_lista(*it);
    return PREDEFINITE;
}

void imposta_esclusioni(const std::vector<std::string>& modelli) {
    Json imp = carica_impostazioni();
    imp[CHIAVE_GENERALE] = come_array(modelli);
    salva_impostazioni(imp);
}

std::vector<std::string> esclusioni_sito(std::string_view percorso_remoto) {
    Json imp = carica_impostazioni();
    auto siti = imp.find(CHIAVE_SITI);
    if (siti == imp.end() || !siti->is_object()) return {};
    auto voce = siti->find(chiave_sito(percorso_remoto));
    if (voce == siti->end() || !voce->is_array()) return {};
    return come_lista(*voce);
}

void imposta_esclusioni_sito(std::string_view percorso_remoto,
                             const std::vector<std::string>& modelli) {
    Json imp = carica_impostazioni();
    Json siti = Json::object();
    if (auto it = imp.find(CHIAVE_SITI); it != imp.end() && it->is_object()) siti = *it;
    const std::string chiave = chiave_sito(percorso_remoto);
    if (modelli.empty())
        siti.erase(chiave);
    else
        siti[chiave] = come_array(modelli);
    imp[CHIAVE_SITI] = std::move(siti);
    salva_impostazioni(imp);
}

std::vector<std::string> siti_con_esclusioni() {
    Json imp = carica_impostazioni();
    std::vector<std::string> r;
    auto siti = imp.find(CHIAVE_SITI);
    if (siti == imp.end() || !siti->is_object()) return r;
    for (const auto& [chiave, _] : siti->items()) r.push_back(chiave);
    std::sort(r.begin(), r.end());
    return r;
}

std::vector<std::string> esclusioni_attive(const std::optional<std::string>& percorso_remoto) {
    std::vector<std::string> r = esclusioni();
    if (!percorso_remoto || percorso_remoto->empty()) return r;
    for (auto& m : esclusioni_sito(*percorso_remoto))
        if (std::find(r.begin(), r.end(), m) == r.end()) r.push_back(std::move(m));
    return r;
}

}  // namespace ormeggio
