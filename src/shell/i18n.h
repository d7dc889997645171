#pragma once
// Traduzioni: il testo italiano è la chiave; in inglese si usa la tabella.
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ormeggio {

// Valori con nome per i segnaposto "{nome}" del testo tradotto.
using Valori = std::vector<std::pair<std::string, std::string>>;

// Codice lingua -> nome nella lingua stessa, in ordine di menu.
extern const std::vector<std::pair<std::string, std::string>> LANGUAGES;

std::string t(std::string_view testo);
std::string t(std::string_view testo, const Valori& valori);

void set_language(const std::string& codice);
std::string current_language();

// Tabella inglese: testo italiano esatto -> testo inglese (in i18n_en.cpp).
const std::unordered_map<std::string_view, std::string_view>& tabella_en();

// Numero di voci della tabella inglese (per le prove).
size_t numero_traduzioni_en();

}  // namespace ormeggio
