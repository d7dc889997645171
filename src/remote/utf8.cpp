#include "remote/utf8.h"

namespace ormeggio {

namespace {

constexpr std::string_view SOSTITUTO = "\xEF\xBF\xBD";

// Lunghezza della sequenza valida che inizia in i, 0 se non valida; in
// `massimale` quanti byte formano la parte massimale non valida da sostituire.
size_t sequenza(std::string_view s, size_t i, size_t& massimale) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    massimale = 1;
    if (c < 0x80) return 1;
    size_t lunghezza;
    unsigned char min2 = 0x80, max2 = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        lunghezza = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        lunghezza = 3;
        if (c == 0xE0) min2 = 0xA0;
        if (c == 0xED) max2 = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        lunghezza = 4;
        if (c == 0xF0) min2 = 0x90;
        if (c == 0xF4) max2 = 0x8F;
    } else {
        return 0;
    }
    for (size_t k = 1; k < lunghezza; ++k) {
        if (i + k >= s.size()) {
            massimale = k;
            return 0;
        }
        unsigned char d = b(i + k);
        unsigned char lo = k == 1 ? min2 : 0x80, hi = k == 1 ? max2 : 0xBF;
        if (d < lo || d > hi) {
            massimale = k;
            return 0;
        }
    }
    return lunghezza;
}

}  // namespace

std::string utf8_valido(std::string_view byte) {
    std::string out;
    out.reserve(byte.size());
    size_t i = 0;
    while (i < byte.size()) {
        size_t massimale;
        size_t n = sequenza(byte, i, massimale);
        if (n) {
            out.append(byte.substr(i, n));
            i += n;
        } else {
            out += SOSTITUTO;
            i += massimale;
        }
    }
    return out;
}

size_t caratteri_utf8(std::string_view testo) {
    size_t n = 0;
    for (unsigned char c : testo)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::string_view primi_caratteri_utf8(std::string_view testo, size_t n) {
    size_t visti = 0;
    for (size_t i = 0; i < testo.size(); ++i) {
        if ((static_cast<unsigned char>(testo[i]) & 0xC0) != 0x80) {
            if (visti == n) return testo.substr(0, i);
            ++visti;
        }
    }
    return testo;
}

std::string_view senza_spazi(std::string_view s) {
    constexpr std::string_view SPAZI = " \t\n\r\v\f\x1c\x1d\x1e\x1f";
    size_t a = s.find_first_not_of(SPAZI);
    if (a == std::string_view::npos) return {};
    size_t b = s.find_last_not_of(SPAZI);
    return s.substr(a, b - a + 1);
}

}  // namespace ormeggio
