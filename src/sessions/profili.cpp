#include "sessions/profili.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace ormeggio {

std::string FILE_PROFILI() {
    return CARTELLA_CONFIG() + "/profili.json";
}

namespace {

bool e_profilo(const Json& voce) {
    if (!voce.is_object()) return false;
    auto it = voce.find("nome");
    return it != voce.end() && it->is_string();
}

// "ha_password_salvata" dice solo se ci sono password nel portachiavi; ogni
// altro campo che nomina una password è un segreto e non finisce su disco.
bool campo_segreto(const std::string& chiave) {
    return chiave != "ha_password_salvata" && chiave.find("password") != std::string::npos;
}

Json senza_segreti(const Json& profilo) {
    if (!profilo.is_object()) return profilo;
    Json pulito = Json::object();
    for (auto it = profilo.begin(); it != profilo.end(); ++it)
        if (!campo_segreto(it.key())) pulito[it.key()] = it.value();
    return pulito;
}

[[noreturn]] void errore(const std::string& cosa, const std::string& percorso) {
    throw std::system_error(errno, std::generic_category(), cosa + " " + percorso);
}

void scrivi_tutto(int fd, const std::string& testo, const std::string& percorso) {
    const char* p = testo.data();
    size_t resto = testo.size();
    while (resto > 0) {
        ssize_t n = ::write(fd, p, resto);
        if (n < 0) {
            if (errno == EINTR) continue;
            errore("scrittura di", percorso);
        }
        p += n;
        resto -= static_cast<size_t>(n);
    }
}

// Il file nuovo nasce 0600 accanto al vecchio e lo sostituisce con rename:
// un disco pieno o un'interruzione lasciano intatte le sessioni di prima.
void scrivi_privato(const std::string& percorso, const std::string& testo) {
    std::string temporaneo = percorso + ".tmp-" + std::to_string(::getpid());
    int fd =
        ::open(temporaneo.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) errore("creazione di", temporaneo);
    try {
        if (::fchmod(fd, 0600) != 0) errore("permessi di", temporaneo);
        scrivi_tutto(fd, testo, temporaneo);
        if (::fsync(fd) != 0) errore("scrittura di", temporaneo);
        if (::close(fd) != 0) {
            fd = -1;
            errore("scrittura di", temporaneo);
        }
        fd = -1;
        if (::rename(temporaneo.c_str(), percorso.c_str()) != 0)
            errore("sostituzione di", percorso);
    } catch (...) {
        if (fd >= 0) ::close(fd);
        ::unlink(temporaneo.c_str());
        throw;
    }
    if (::chmod(percorso.c_str(), 0600) != 0) errore("permessi di", percorso);
}

}  // namespace

std::vector<Json> carica_profili() {
    std::vector<Json> profili;
    auto j = leggi_json(FILE_PROFILI());
    if (!j || !j->is_array()) return profili;
    for (auto& voce : *j)
        if (e_profilo(voce)) profili.push_back(std::move(voce));
    return profili;
}

void salva_profili(const std::vector<Json>& profili) {
    const std::string cartella = CARTELLA_CONFIG();
    std::filesystem::create_directories(cartella);
    std::filesystem::permissions(cartella, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    Json lista = Json::array();
    for (const auto& p : profili) lista.push_back(senza_segreti(p));
    scrivi_privato(FILE_PROFILI(), testo_json(lista));
}

void aggiorna_ultimi_percorsi(const std::optional<std::string>& nome_profilo,
                              const std::string& percorso_remoto,
                              const std::string& percorso_locale) {
    if (!nome_profilo || nome_profilo->empty()) return;
    auto profili = carica_profili();
    for (auto& p : profili) {
        if (p["nome"].get_ref<const std::string&>() != *nome_profilo) continue;
        p["percorso"] = percorso_remoto;
        p["percorso_locale"] = percorso_locale;
        salva_profili(profili);
        return;
    }
}

}  // namespace ormeggio
