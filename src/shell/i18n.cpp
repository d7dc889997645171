#include "shell/i18n.h"

#include <atomic>
#include <string>
#include <unordered_map>

namespace ormeggio {

const std::vector<std::pair<std::string, std::string>> LANGUAGES = {{"it", "Italiano"},
                                                                    {"en", "English"}};

size_t numero_traduzioni_en() {
    return tabella_en().size();
}

namespace {

// Indice in LANGUAGES; atomico perché t() gira anche nei thread di lavoro.
std::atomic<size_t> g_lingua{0};

bool inglese() {
    return LANGUAGES[g_lingua.load()].first == "en";
}

const std::string* valore_di(std::string_view nome, const Valori& valori) {
    for (const auto& [k, v] : valori)
        if (k == nome) return &v;
    return nullptr;
}

}  // namespace

std::string t(std::string_view testo) {
    if (inglese()) {
        const auto& tab = tabella_en();
        auto it = tab.find(testo);
        if (it != tab.end()) return std::string(it->second);
    }
    return std::string(testo);
}

std::string t(std::string_view testo, const Valori& valori) {
    std::string modello = t(testo);
    // Senza valori il testo resta com'è, graffe comprese.
    if (valori.empty()) return modello;
    std::string out;
    out.reserve(modello.size() + 32);
    for (size_t i = 0; i < modello.size();) {
        char c = modello[i];
        // Graffa doppia = graffa letterale.
        if ((c == '{' || c == '}') && i + 1 < modello.size() && modello[i + 1] == c) {
            out += c;
            i += 2;
            continue;
        }
        if (c == '{') {
            size_t fine = modello.find_first_of("{}", i + 1);
            if (fine != std::string::npos && modello[fine] == '}') {
                std::string_view nome(modello.data() + i + 1, fine - i - 1);
                // Un segnaposto senza valore resta visibile invece di far fallire il messaggio.
                if (const std::string* v = valore_di(nome, valori)) {
                    out += *v;
                    i = fine + 1;
                    continue;
                }
            }
        }
        out += c;
        ++i;
    }
    return out;
}

void set_language(const std::string& codice) {
    size_t scelta = 0;  // "it" per ogni codice sconosciuto
    for (size_t i = 0; i < LANGUAGES.size(); ++i)
        if (LANGUAGES[i].first == codice) scelta = i;
    g_lingua.store(scelta);
}

std::string current_language() {
    return LANGUAGES[g_lingua.load()].first;
}

}  // namespace ormeggio
