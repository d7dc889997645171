#pragma once
// Impostazioni dell'applicazione: un file JSON, riletto a ogni accesso.
#include <string>

#include "sessions/file_json.h"

namespace ormeggio {

inline constexpr const char* PERCORSO_REMOTO_PREDEFINITO = "/";
std::string FILE_IMPOSTAZIONI();

Json carica_impostazioni();  // sempre un oggetto
void salva_impostazioni(const Json& impostazioni);

std::string cartella_locale_predefinita();
void imposta_cartella_locale_predefinita(const std::string& percorso);
std::string percorso_remoto_predefinito();
void imposta_percorso_remoto_predefinito(const std::string& percorso);
std::string lingua();
void imposta_lingua(const std::string& codice);

}  // namespace ormeggio
