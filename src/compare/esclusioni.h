#pragma once
// Modelli di esclusione: sintassi, corrispondenza con i percorsi relativi,
// divisione dei risultati di un confronto, lista predefinita.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "compare/tipi_confronto.h"

namespace ormeggio {

// La lista usata quando l'utente non ne ha salvata una.
extern const Modelli PREDEFINITE;

// Forma normale di un percorso relativo: "\" diventa "/", via le "/" in testa e
// in coda, via ogni "./" iniziale. Nient'altro cambia.
std::string normalizza(std::string_view percorso_relativo);

// Se il percorso già normalizzato ricade sotto il singolo modello.
bool _modello_corrisponde(std::string_view percorso, std::string_view modello);

// Se il percorso ricade sotto almeno un modello della lista (vuota: nessuno).
bool escluso(std::string_view percorso_relativo, const Modelli& modelli);

// (da_caricare, esclusi): ogni record finisce in una sola delle due liste,
// nell'ordine d'ingresso. I record sono spostati, non copiati.
std::pair<std::vector<Differenza>, std::vector<Differenza>> dividi(
    std::vector<Differenza> differenze, const Modelli& modelli);

}  // namespace ormeggio
