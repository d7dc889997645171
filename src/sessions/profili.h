#pragma once
// Sessioni salvate: un array JSON di oggetti in profili.json, cartella 0700 e
// file 0600. Le password non stanno qui ma nel portachiavi (portachiavi.h).
#include <optional>
#include <string>
#include <vector>

#include "sessions/file_json.h"

namespace ormeggio {

std::string FILE_PROFILI();

// I profili del file: solo oggetti con un "nome" di testo. Un file mancante,
// illeggibile o non valido dà una lista vuota.
std::vector<Json> carica_profili();

// Scrive la lista come file intero (sostituzione atomica), porta la cartella a
// 0700 e il file a 0600. Nessun campo di password viene mai scritto.
// Gli errori arrivano al chiamante come std::system_error o
// std::filesystem::filesystem_error.
void salva_profili(const std::vector<Json>& profili);

// Ricorda le ultime cartelle nel profilo con quel nome; senza nome, o se il
// profilo non c'è più, il file non viene toccato.
void aggiorna_ultimi_percorsi(const std::optional<std::string>& nome_profilo,
                              const std::string& percorso_remoto,
                              const std::string& percorso_locale);

}  // namespace ormeggio
