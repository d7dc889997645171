#include "sessions/file_json.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace ormeggio {

std::string cartella_home() {
    const char* h = std::getenv("HOME");
    if (h && *h) return h;
    if (passwd* pw = ::getpwuid(::getuid())) return pw->pw_dir;
    return "/";
}

std::string CARTELLA_CONFIG() { return cartella_home() + "/.config/approdo"; }

std::optional<Json> leggi_json(const std::string& percorso) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(percorso, ec)) return std::nullopt;
    std::ifstream f(percorso, std::ios::binary);
    if (!f) return std::nullopt;
    std::stringstream ss;
    ss << f.rdbuf();
    if (f.bad()) return std::nullopt;
    Json j = Json::parse(ss.str(), nullptr, false);
    if (j.is_discarded()) return std::nullopt;
    return j;
}

std::string testo_json(const Json& valore) {
    return valore.dump(2, ' ', false, Json::error_handler_t::replace);
}

void scrivi_json(const std::string& percorso, const Json& valore) {
    std::filesystem::create_directories(CARTELLA_CONFIG());
    std::string testo = testo_json(valore);
    std::ofstream f(percorso, std::ios::binary | std::ios::trunc);
    if (!f) throw std::system_error(errno, std::generic_category(), "scrittura di " + percorso);
    f << testo;
    f.flush();
    if (!f) throw std::system_error(errno, std::generic_category(), "scrittura di " + percorso);
}

}  // namespace ormeggio
