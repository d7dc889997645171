#pragma once
// Ingresso del processo: resoconto all'avviatore, traccia di avvio, gestore
// degli errori non gestiti. Nessuna dipendenza pesante: serve a --version.
#include <optional>
#include <string>
#include <vector>

namespace ormeggio {

std::vector<std::string> argomenti_processo();

std::optional<std::string> _esito_richiesto(const std::vector<std::string>& argomenti);
std::optional<std::string> _esito_richiesto();
bool _riferisci(const std::string& testo, const std::vector<std::string>& argomenti);
bool _riferisci(const std::string& testo);

std::string percorso_traccia_avvio();
void _scrivi_traccia_avvio(const std::string& testo);

// Le prime righe della traccia (intestazione, eseguibile, argomenti, runtime, riga vuota).
std::string intestazione_traccia();

// Installa il gestore degli errori non gestiti (std::terminate) e dei segnali fatali.
void installa_gestore_eccezioni(int argc, char** argv);

}  // namespace ormeggio
