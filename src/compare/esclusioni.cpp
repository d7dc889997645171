#include "compare/esclusioni.h"

#include <fnmatch.h>

#include <algorithm>

namespace ormeggio {

const Modelli PREDEFINITE = {
    ".env", "config/keys/**", "/var/**", "/storage/**", "_locale/**", "CLAUDE.md", ".git/**",
};

namespace {

constexpr std::string_view SPAZI = " \t\n\v\f\r";

bool ha_rovescia(std::string_view s) {
    return s.find('\\') != std::string_view::npos;
}

std::string con_barre(std::string_view s) {
    std::string r(s);
    std::replace(r.begin(), r.end(), '\\', '/');
    return r;
}

// Passi 2 e 3 della forma normale, su un testo che non ha più "\": una vista
// dentro lo stesso testo, senza allocare.
std::string_view normalizza_vista(std::string_view s) {
    size_t inizio = s.find_first_not_of('/');
    if (inizio == std::string_view::npos) return {};
    size_t fine = s.find_last_not_of('/');
    s = s.substr(inizio, fine - inizio + 1);
    while (s.size() >= 2 && s[0] == '.' && s[1] == '/') s.remove_prefix(2);
    return s;
}

// La regola di fnmatch(…, 0). Senza caratteri jolly basta il confronto esatto
// (nei modelli non restano "\", quindi non ci sono sequenze di escape). glibc
// tratta "[^" come negazione; qui il "^" dopo "[" è un carattere qualsiasi, come
// in POSIX: lo si rende letterale con "\^".
bool jolly(std::string_view modello, std::string_view testo, std::string& buf_m,
           std::string& buf_t) {
    if (modello.find_first_of("*?[") == std::string_view::npos) return modello == testo;
    buf_m.clear();
    for (size_t i = 0; i < modello.size(); ++i) {
        buf_m += modello[i];
        if (modello[i] == '[' && i + 1 < modello.size() && modello[i + 1] == '^') buf_m += '\\';
    }
    buf_t.assign(testo);
    return ::fnmatch(buf_m.c_str(), buf_t.c_str(), 0) == 0;
}

bool corrisponde(std::string_view percorso, std::string_view modello, std::string& buf_m,
                 std::string& buf_t) {
    std::string copia;
    if (ha_rovescia(modello)) {
        copia = con_barre(modello);
        modello = copia;
    }
    size_t inizio = modello.find_first_not_of(SPAZI);
    if (inizio == std::string_view::npos) return false;
    modello = modello.substr(inizio, modello.find_last_not_of(SPAZI) - inizio + 1);
    const bool ancorato = modello.front() == '/';
    modello = normalizza_vista(modello);
    if (modello.empty()) return false;

    const bool con_barra = modello.find('/') != std::string_view::npos;
    if (modello.size() >= 3 && modello.substr(modello.size() - 3) == "/**") {
        std::string_view prefisso = modello.substr(0, modello.size() - 3);
        if (ancorato || prefisso.find('/') != std::string_view::npos) {
            return percorso.size() >= prefisso.size() &&
                   percorso.substr(0, prefisso.size()) == prefisso &&
                   (percorso.size() == prefisso.size() || percorso[prefisso.size()] == '/');
        }
        // Un solo nome di cartella: vale a ogni profondità, anche per un file.
        size_t pos = 0;
        while (true) {
            size_t barra = percorso.find('/', pos);
            std::string_view componente = percorso.substr(pos, barra - pos);
            if (jolly(prefisso, componente, buf_m, buf_t)) return true;
            if (barra == std::string_view::npos) return false;
            pos = barra + 1;
        }
    }
    if (ancorato || con_barra) return jolly(modello, percorso, buf_m, buf_t);
    size_t ultima = percorso.rfind('/');
    std::string_view nome =
        ultima == std::string_view::npos ? percorso : percorso.substr(ultima + 1);
    return jolly(modello, nome, buf_m, buf_t);
}

}  // namespace

std::string normalizza(std::string_view percorso_relativo) {
    if (ha_rovescia(percorso_relativo)) {
        std::string copia = con_barre(percorso_relativo);
        return std::string(normalizza_vista(copia));
    }
    return std::string(normalizza_vista(percorso_relativo));
}

bool _modello_corrisponde(std::string_view percorso, std::string_view modello) {
    std::string buf_m, buf_t;
    return corrisponde(percorso, modello, buf_m, buf_t);
}

bool escluso(std::string_view percorso_relativo, const Modelli& modelli) {
    if (modelli.empty()) return false;
    std::string copia;
    std::string_view percorso;
    if (ha_rovescia(percorso_relativo)) {
        copia = con_barre(percorso_relativo);
        percorso = normalizza_vista(copia);
    } else {
        percorso = normalizza_vista(percorso_relativo);
    }
    std::string buf_m, buf_t;
    for (const auto& m : modelli)
        if (corrisponde(percorso, m, buf_m, buf_t)) return true;
    return false;
}

std::pair<std::vector<Differenza>, std::vector<Differenza>> dividi(
    std::vector<Differenza> differenze, const Modelli& modelli) {
    std::pair<std::vector<Differenza>, std::vector<Differenza>> esito;
    for (auto& d : differenze)
        (escluso(d.percorso, modelli) ? esito.second : esito.first).push_back(std::move(d));
    return esito;
}

}  // namespace ormeggio
