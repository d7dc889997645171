#pragma once
// Liste di esclusione nel file delle impostazioni: la lista generale
// ("esclusioni") e le liste per cartella remota ("esclusioni_per_sito").
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ormeggio {

// La chiave di un sito: il percorso remoto senza "/" finali, "/" se non resta nulla.
std::string chiave_sito(std::string_view percorso_remoto);

std::vector<std::string> esclusioni();
void imposta_esclusioni(const std::vector<std::string>& modelli);

std::vector<std::string> esclusioni_sito(std::string_view percorso_remoto);
// Una lista vuota toglie la voce del sito.
void imposta_esclusioni_sito(std::string_view percorso_remoto,
                             const std::vector<std::string>& modelli);

// Le chiavi dei siti che hanno una lista, in ordine crescente.
std::vector<std::string> siti_con_esclusioni();

// I modelli generali e poi quelli del sito, ciascuno una volta sola.
std::vector<std::string> esclusioni_attive(
    const std::optional<std::string>& percorso_remoto = std::nullopt);

}  // namespace ormeggio
