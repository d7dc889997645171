#include "shell/i18n.h"

#include <atomic>
#include <string>
#include <unordered_map>

namespace ormeggio {

const std::vector<std::pair<std::string, std::string>> LANGUAGES = {{"it", "Italiano"},
                                                                    {"en", "English"}};

// La tabella completa è in i18n_en.cpp.
const std::unordered_map<std::string_view, std::string_view>& tabella_en();

size_t numero_traduzioni_en() { return tabella_en().size(); }

namespace {

std::atomic<bool> g_inglese{false};

}  // namespace

std::string t(std::string_view testo) {
    if (g_inglese.load()) {
        auto& tab = tabella_en();
        auto it = tab.find(testo);
        if (it != tab.end()) return std::string(it->second);
    }
    return std::string(testo);
}

std::string t(std::string_view testo, const Valori& valori) {
    std::string modello = t(testo);
    std::string out;
    out.reserve(modello.size() + 32);
    for (size_t i = 0; i < modello.size();) {
        if (modello[i] == '{') {
            size_t fine = modello.find('}', i + 1);
            if (fine != std::string::npos) {
                std::string_view nome(modello.data() + i + 1, fine - i - 1);
                bool trovato = false;
                for (const auto& [k, v] : valori) {
                    if (k == nome) {
                        out += v;
                        trovato = true;
                        break;
                    }
                }
                if (trovato) {
                    i = fine + 1;
                    continue;
                }
            }
        }
        out += modello[i++];
    }
    return out;
}

void set_language(const std::string& codice) { g_inglese.store(codice == "en"); }

std::string current_language() { return g_inglese.load() ? "en" : "it"; }

}  // namespace ormeggio
