#include "remote/registro.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <vector>

#include "remote/utf8.h"
#include "sessions/file_json.h"

namespace ormeggio::registro {

namespace {

constexpr std::string_view SPAZI_DATA =
    "                     ";  // 19 + 2: "stderr:" sotto il segno sudo

// Divide a ogni interruzione di riga, come fa chi legge un testo: \n, \r\n, \r,
// \v, \f, i separatori \x1c-\x1e, U+0085, U+2028 e U+2029.
std::vector<std::string_view> righe(std::string_view s) {
    std::vector<std::string_view> out;
    size_t inizio = 0, i = 0;
    while (i < s.size()) {
        unsigned char c = s[i];
        size_t lunghezza = 0;
        if (c == '\r')
            lunghezza = (i + 1 < s.size() && s[i + 1] == '\n') ? 2 : 1;
        else if (c == '\n' || c == '\v' || c == '\f' || (c >= 0x1c && c <= 0x1e))
            lunghezza = 1;
        else if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x85)
            lunghezza = 2;
        else if (c == 0xE2 && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x80 &&
                 (static_cast<unsigned char>(s[i + 2]) == 0xA8 ||
                  static_cast<unsigned char>(s[i + 2]) == 0xA9))
            lunghezza = 3;
        if (lunghezza) {
            out.push_back(s.substr(inizio, i - inizio));
            i += lunghezza;
            inizio = i;
        } else {
            ++i;
        }
    }
    if (inizio < s.size()) out.push_back(s.substr(inizio));
    return out;
}

std::string durata(double secondi) {
    if (!std::isfinite(secondi)) return "0.00s";
    long long centesimi = std::llround(secondi * 100.0);
    bool negativo = centesimi < 0;
    if (negativo) centesimi = -centesimi;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%lld.%02llds", negativo ? "-" : "", centesimi / 100,
                  centesimi % 100);
    return buf;
}

void ruota_se_serve(const std::string& file) {
    struct stat st;
    if (::stat(file.c_str(), &st) != 0) return;
    if (static_cast<std::uintmax_t>(st.st_size) > DIMENSIONE_MASSIMA_BYTE)
        ::rename(file.c_str(), (file + ".1").c_str());
}

}  // namespace

std::string FILE_REGISTRO() {
    return CARTELLA_CONFIG() + "/upload.log";
}

std::string _adesso() {
    std::time_t ora = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&ora, &tm);
    char buf[64];
    if (std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm) == 0) return "";
    return buf;
}

std::string _senza_password(std::string_view testo, const std::optional<std::string>& password) {
    if (!password || password->empty() || testo.empty()) return std::string(testo);
    std::string out;
    size_t i = 0;
    while (true) {
        size_t k = testo.find(*password, i);
        if (k == std::string_view::npos) break;
        out.append(testo.substr(i, k - i));
        out += "***";
        i = k + password->size();
    }
    out.append(testo.substr(i));
    return out;
}

void scrivi(std::string_view riga) {
    try {
        std::error_code ec;
        std::filesystem::create_directories(CARTELLA_CONFIG(), ec);
        std::string file = FILE_REGISTRO();
        ruota_se_serve(file);
        while (!riga.empty() && riga.back() == '\n') riga.remove_suffix(1);
        std::string testo(riga);
        testo += '\n';
        // Una sola write in append: righe di thread diversi non si mescolano.
        int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return;
        const char* p = testo.data();
        size_t resto = testo.size();
        while (resto > 0) {
            ssize_t n = ::write(fd, p, resto);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            p += n;
            resto -= static_cast<size_t>(n);
        }
        ::close(fd);
    } catch (...) {
        // Il registro non fa mai fallire un'operazione: la riga va persa.
    }
}

void comando(std::string_view comando_eseguito, std::optional<int> codice,
             std::string_view errore_standard, bool con_sudo, std::optional<double> durata_secondi,
             const std::optional<std::string>& password, const std::optional<std::string>& nota) {
    try {
        std::string riga = _adesso();
        riga += "  ";
        riga += con_sudo ? "sudo" : "    ";
        riga += "  uscita=";
        riga += codice ? std::to_string(*codice) : std::string("eccezione");
        if (durata_secondi) riga += "  " + durata(*durata_secondi);
        if (nota && !nota->empty()) riga += "  [" + _senza_password(*nota, password) + "]";
        riga += "  ";
        riga += _senza_password(comando_eseguito, password);
        scrivi(riga);

        std::string errori = _senza_password(senza_spazi(errore_standard), password);
        if (errori.empty()) return;
        if (caratteri_utf8(errori) > STDERR_MASSIMO_CARATTERI) {
            errori = std::string(primi_caratteri_utf8(errori, STDERR_MASSIMO_CARATTERI));
            errori += " \xE2\x80\xA6(troncato)";
        }
        for (std::string_view r : righe(errori)) {
            std::string linea(SPAZI_DATA);
            linea += "stderr: ";
            linea += r;
            scrivi(linea);
        }
    } catch (...) {
    }
}

void intestazione(std::string_view testo) {
    try {
        scrivi("");
        scrivi("===== " + _adesso() + "  " + std::string(testo));
    } catch (...) {
    }
}

}  // namespace ormeggio::registro
