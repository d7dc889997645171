#pragma once
// Lettura e scrittura dei file JSON del programma (UTF-8, rientro 2,
// non ASCII com'è, UTF-8 non valido sostituito).
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace ormeggio {

using Json = nlohmann::ordered_json;

// La cartella di configurazione "~/.config/approdo", letta a ogni chiamata da $HOME.
std::string CARTELLA_CONFIG();
std::string cartella_home();

// Il contenuto del file, o niente se manca, non è un file regolare, non si legge
// o non è JSON valido.
std::optional<Json> leggi_json(const std::string& percorso);

// Crea la cartella di configurazione e scrive il file; gli errori sono eccezioni
// (std::system_error) con il percorso nel messaggio.
void scrivi_json(const std::string& percorso, const Json& valore);

std::string testo_json(const Json& valore);

}  // namespace ormeggio
