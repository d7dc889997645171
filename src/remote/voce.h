#pragma once
// Una riga dell'elenco remoto, già pronta per le colonne; i due modi di elencare
// (find e SFTP) producono esattamente questo.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ormeggio {

struct Voce {
    std::string nome;  // UTF-8 valido, da mostrare
    bool e_cartella = false;
    std::string modo;          // "644", "2750"; da find non numerico: com'è arrivato
    std::string proprietario;  // "utente:gruppo"
    std::string dimensione;    // byte in decimale; vuoto per le cartelle
    std::string modificato;    // "%Y-%m-%d %H:%M" locale; vuoto se ignoto
    // Il nome in byte come sta sul server: i percorsi si fanno con questo,
    // mai con il testo mostrato (un nome non UTF-8 perde i suoi byte in `nome`).
    std::string nome_grezzo;

    bool operator==(const Voce&) const = default;
};

// Bit dei permessi in ottale: maschera 07777, quattro cifre sopra 0777,
// altrimenti tre con gli zeri davanti (0644 -> "644", 064 -> "064", 040755 -> "755").
std::string modo_ottale(uint32_t modo);

// Secondi dall'epoca in ora locale "%Y-%m-%d %H:%M"; vuoto se non rappresentabile.
std::string ora_locale(double secondi);

// Le voci dall'uscita grezza di find -printf con il formato dell'elenco: record
// chiusi da NUL, sette campi separati da tabulazioni. Un record con un numero di
// campi diverso, o con un a capo nel nome, è saltato: meglio mancante che
// mostrato sotto un nome sbagliato.
std::vector<Voce> voci_da_find(std::string_view uscita);

}  // namespace ormeggio
