#pragma once
// Camminatori dell'albero locale e impronte MD5 dei file locali.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "compare/tipi_confronto.h"

namespace ormeggio {

inline constexpr size_t DIMENSIONE_BLOCCO_HASH = 65536;
inline constexpr int TIMEOUT_ALBERO_SECONDI = 120;
inline constexpr size_t FILE_PER_COMANDO_MD5 = 100;
inline constexpr int TIMEOUT_MD5_SECONDI = 180;

// L'avanzamento di chi non vuole saperne nulla.
void _niente(const std::string& _messaggio);

// Dimensioni dei file sotto percorso_base, senza entrare nelle cartelle escluse
// e senza esaminare i file esclusi. Un file che non si può esaminare (un
// collegamento rotto, un permesso negato) diventa un avviso; una cartella che non
// si può elencare si salta in silenzio. Una base che non esiste dà una mappa vuota.
std::pair<MappaDimensioni, std::vector<Avviso>> cammina_locale(const std::string& percorso_base,
                                                               const Modelli& modelli = {},
                                                               const Avanzamento& avanzamento = {});

// MD5 in esadecimale minuscolo, letto a blocchi. std::system_error se il file
// non si apre o non si legge (what() è il testo del sistema).
std::string hash_locale(const std::string& percorso_base, std::string_view percorso_relativo);

// Impronte dei file che si sono potuti leggere; per gli altri un avviso, se
// avvisi non è nullo.
MappaHash hash_locali(const std::string& percorso_base,
                      const std::vector<std::string>& percorsi_relativi,
                      const Avanzamento& avanzamento = {}, std::vector<Avviso>* avvisi = nullptr);

// L'MD5 in esadecimale minuscolo di 16 byte.
std::string esadecimale(const unsigned char* byte, size_t n);

}  // namespace ormeggio
