#pragma once
// Calcolo delle differenze fra due mappe delle dimensioni: dimensioni prima,
// MD5 solo per i file di uguale dimensione, tutti in una chiamata per lato.
#include <functional>
#include <string>
#include <vector>

#include "compare/tipi_confronto.h"

namespace ormeggio {

// Impronte dei percorsi dati; mancano quelli che non si sono potuti leggere.
using FunzioneHash = std::function<MappaHash(const std::vector<std::string>&)>;

// I file nuovi o modificati sul primo lato, ordinati per percorso senza badare
// alle maiuscole. Senza entrambe le funzioni di impronta, uguale dimensione vale
// uguale contenuto. Gli errori delle funzioni di impronta passano al chiamante.
std::vector<Differenza> confronta(const MappaDimensioni& mappa_a, const MappaDimensioni& mappa_b,
                                  const FunzioneHash& hash_a = {}, const FunzioneHash& hash_b = {},
                                  std::vector<Avviso>* avvisi = nullptr);

}  // namespace ormeggio
