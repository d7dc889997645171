#pragma once
// Registro dei comandi: una voce per ogni comando eseguito sul server, in
// ~/.config/approdo/upload.log. Non fallisce mai e non contiene la password di sudo.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ormeggio::registro {

// Il file del registro (segue $HOME a ogni chiamata, come CARTELLA_CONFIG).
std::string FILE_REGISTRO();
inline constexpr std::uintmax_t DIMENSIONE_MASSIMA_BYTE = 2097152;
inline constexpr size_t STDERR_MASSIMO_CARATTERI = 2000;

// Una voce: riga del comando e righe "stderr:". `codice` assente si scrive
// "eccezione" (il comando non è partito o non è finito normalmente).
void comando(std::string_view comando_eseguito, std::optional<int> codice,
             std::string_view errore_standard = {}, bool con_sudo = false,
             std::optional<double> durata_secondi = std::nullopt,
             const std::optional<std::string>& password = std::nullopt,
             const std::optional<std::string>& nota = std::nullopt);

// Una riga vuota e "===== data  testo".
void intestazione(std::string_view testo);

// Aggiunge una riga (senza i ritorni a capo finali) più un solo "\n".
void scrivi(std::string_view riga);

// Ogni occorrenza della password sostituita da "***" (niente se l'una o l'altro è vuoto).
std::string _senza_password(std::string_view testo, const std::optional<std::string>& password);

// Ora locale "%Y-%m-%d %H:%M:%S".
std::string _adesso();

}  // namespace ormeggio::registro
