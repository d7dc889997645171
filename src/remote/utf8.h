#pragma once
// Testo UTF-8 dai byte che arrivano dal server.
#include <cstddef>
#include <string>
#include <string_view>

namespace ormeggio {

// I byte come UTF-8 valido: ogni sequenza non decodificabile (la sua parte
// massimale) diventa U+FFFD, mai un errore.
std::string utf8_valido(std::string_view byte);

// Numero di caratteri (punti di codice) di un testo UTF-8.
size_t caratteri_utf8(std::string_view testo);

// I primi n caratteri di un testo UTF-8.
std::string_view primi_caratteri_utf8(std::string_view testo, size_t n);

// Il testo senza spazi bianchi (anche i separatori ASCII) in testa e in coda.
std::string_view senza_spazi(std::string_view s);

}  // namespace ormeggio
