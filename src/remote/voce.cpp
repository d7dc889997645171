#include "remote/voce.h"

#include <charconv>
#include <cmath>
#include <ctime>

#include "remote/utf8.h"

namespace ormeggio {

std::string modo_ottale(uint32_t modo) {
    modo &= 07777;
    char buf[8];
    std::snprintf(buf, sizeof buf, modo > 0777 ? "%04o" : "%03o", static_cast<unsigned>(modo));
    return buf;
}

std::string ora_locale(double secondi) {
    if (!std::isfinite(secondi)) return "";
    double intero = std::floor(secondi);
    // Oltre l'anno 9999 (o prima dell'anno 1) non c'è una data da mostrare.
    if (intero < -62135596800.0 || intero > 253402300799.0) return "";
    std::time_t t = static_cast<std::time_t>(intero);
    std::tm tm{};
    if (!::localtime_r(&t, &tm)) return "";
    if (tm.tm_year + 1900 < 1 || tm.tm_year + 1900 > 9999) return "";
    char buf[32];
    if (std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm) == 0) return "";
    return buf;
}

namespace {

bool solo_cifre(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string modo_da_find(std::string_view campo) {
    if (solo_cifre(campo)) {
        uint32_t valore = 0;
        auto [fine, ec] = std::from_chars(campo.data(), campo.data() + campo.size(), valore, 8);
        if (ec == std::errc() && fine == campo.data() + campo.size()) return modo_ottale(valore);
    }
    return utf8_valido(campo);
}

std::string ora_da_find(std::string_view campo) {
    double valore = 0;
    auto [fine, ec] = std::from_chars(campo.data(), campo.data() + campo.size(), valore);
    if (campo.empty() || ec != std::errc() || fine != campo.data() + campo.size()) return "";
    return ora_locale(valore);
}

}  // namespace

std::vector<Voce> voci_da_find(std::string_view uscita) {
    std::vector<Voce> voci;
    size_t inizio = 0;
    while (inizio < uscita.size()) {
        size_t fine = uscita.find('\0', inizio);
        if (fine == std::string_view::npos) fine = uscita.size();
        std::string_view record = uscita.substr(inizio, fine - inizio);
        inizio = fine + 1;

        std::string_view campi[7];
        size_t n = 0, da = 0;
        bool troppi = false;
        while (true) {
            size_t tab = record.find('\t', da);
            if (n == 7) {
                troppi = true;
                break;
            }
            campi[n++] = record.substr(da, tab == std::string_view::npos ? tab : tab - da);
            if (tab == std::string_view::npos) break;
            da = tab + 1;
        }
        if (troppi || n != 7) continue;
        if (campi[0].find('\n') != std::string_view::npos) continue;

        Voce v;
        v.nome_grezzo = std::string(campi[0]);
        v.nome = utf8_valido(campi[0]);
        v.e_cartella = campi[1] == "d";
        v.modo = modo_da_find(campi[2]);
        v.proprietario = utf8_valido(campi[3]) + ":" + utf8_valido(campi[4]);
        v.dimensione = v.e_cartella ? "" : utf8_valido(campi[5]);
        v.modificato = ora_da_find(campi[6]);
        voci.push_back(std::move(v));
    }
    return voci;
}

}  // namespace ormeggio
