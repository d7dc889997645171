#pragma once
// Tipi condivisi dal confronto: mappe delle dimensioni e delle impronte,
// avvisi, record delle differenze, avanzamento ed errore del server.
#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace ormeggio {

// Una lista di modelli di esclusione, nell'ordine dell'utente.
using Modelli = std::vector<std::string>;

// Percorso relativo -> dimensione in byte. Ordinata: l'ordine di visita delle
// mappe (e quindi dei file dubbi passati alle impronte) è deterministico.
using MappaDimensioni = std::map<std::string, uint64_t>;

// Percorso relativo -> MD5 in 32 cifre esadecimali minuscole.
using MappaHash = std::map<std::string, std::string>;

// Un file che non si è potuto esaminare o leggere.
struct Avviso {
    std::string percorso;
    std::string motivo;
    bool operator==(const Avviso&) const = default;
};

// Un file nuovo o diverso sul primo lato rispetto al secondo.
struct Differenza {
    std::string percorso;
    std::string stato;  // "nuovo" o "modificato"
    uint64_t dimensione = 0;
    bool operator==(const Differenza&) const = default;
};

// Riceve un testo già tradotto.
using Avanzamento = std::function<void(const std::string&)>;

// Il server non si è potuto leggere durante un'analisi; il messaggio è per l'utente.
class ErroreRemoto : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace ormeggio
