#include "compare/camminatori.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "compare/esclusioni.h"
#include "shell/i18n.h"

namespace ormeggio {

void _niente(const std::string&) {}

namespace {

struct ChiudiCartella {
    void operator()(DIR* d) const { ::closedir(d); }
};

struct ChiudiFd {
    int fd;
    ~ChiudiFd() {
        if (fd >= 0) ::close(fd);
    }
};

std::string testo_errore(int err) {
    return std::system_category().message(err);
}

}  // namespace

std::pair<MappaDimensioni, std::vector<Avviso>> cammina_locale(const std::string& percorso_base,
                                                               const Modelli& modelli,
                                                               const Avanzamento& avanzamento) {
    std::pair<MappaDimensioni, std::vector<Avviso>> esito;
    auto& [mappa, avvisi] = esito;

    ChiudiFd base{::open(percorso_base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (base.fd < 0) return esito;

    // Una pila di cartelle: in cima la prossima, così l'ordine è quello di una
    // visita in profondità dall'alto, cartella per cartella.
    std::vector<std::string> pila{std::string()};
    std::vector<std::string> sottocartelle;
    std::string relativo;
    while (!pila.empty()) {
        std::string cartella = std::move(pila.back());
        pila.pop_back();

        int fd = cartella.empty() ? ::dup(base.fd)
                                  : ::openat(base.fd, cartella.c_str(),
                                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        std::unique_ptr<DIR, ChiudiCartella> dir(::fdopendir(fd));
        if (!dir) {
            ::close(fd);
            continue;
        }
        if (avanzamento)
            avanzamento(
                t("Leggo l'albero locale: {n} file…", {{"n", std::to_string(mappa.size())}}));

        sottocartelle.clear();
        const std::string prefisso = cartella.empty() ? std::string() : cartella + "/";
        while (dirent* voce = ::readdir(dir.get())) {
            const char* nome = voce->d_name;
            if (nome[0] == '.' && (nome[1] == 0 || (nome[1] == '.' && nome[2] == 0))) continue;
            relativo.assign(prefisso).append(nome);
            // Il percorso relativo è lo stesso per una cartella e per un file: un
            // elemento escluso non si esamina nemmeno.
            if (escluso(relativo, modelli)) continue;

            unsigned char tipo = voce->d_type;
            if (tipo == DT_DIR) {
                sottocartelle.push_back(relativo);
                continue;
            }
            struct stat st;
            if (tipo == DT_UNKNOWN) {
                if (::fstatat(::dirfd(dir.get()), nome, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    avvisi.push_back({relativo, testo_errore(errno)});
                    continue;
                }
                if (S_ISDIR(st.st_mode)) {
                    sottocartelle.push_back(relativo);
                    continue;
                }
            }
            if (::fstatat(::dirfd(dir.get()), nome, &st, 0) != 0) {
                avvisi.push_back({relativo, testo_errore(errno)});
                continue;
            }
            // Un collegamento a una cartella non si elenca e non si segue.
            if (S_ISDIR(st.st_mode)) continue;
            mappa.insert_or_assign(relativo, static_cast<uint64_t>(st.st_size));
        }
        for (auto it = sottocartelle.rbegin(); it != sottocartelle.rend(); ++it)
            pila.push_back(std::move(*it));
    }
    return esito;
}

std::string esadecimale(const unsigned char* byte, size_t n) {
    static constexpr char CIFRE[] = "0123456789abcdef";
    std::string r(2 * n, '0');
    for (size_t i = 0; i < n; ++i) {
        r[2 * i] = CIFRE[byte[i] >> 4];
        r[2 * i + 1] = CIFRE[byte[i] & 0xf];
    }
    return r;
}

std::string hash_locale(const std::string& percorso_base, std::string_view percorso_relativo) {
    std::string percorso = percorso_base;
    if (!percorso.empty() && percorso.back() != '/') percorso += '/';
    percorso += percorso_relativo;

    ChiudiFd f{::open(percorso.c_str(), O_RDONLY | O_CLOEXEC)};
    if (f.fd < 0) throw std::system_error(errno, std::system_category());
    ::posix_fadvise(f.fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1)
        throw std::runtime_error("MD5 non disponibile");
    std::unique_ptr<char[]> blocco(new char[DIMENSIONE_BLOCCO_HASH]);
    while (true) {
        ssize_t n = ::read(f.fd, blocco.get(), DIMENSIONE_BLOCCO_HASH);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::system_category());
        }
        if (n == 0) break;
        EVP_DigestUpdate(ctx.get(), blocco.get(), static_cast<size_t>(n));
    }
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int lunghezza = 0;
    EVP_DigestFinal_ex(ctx.get(), md, &lunghezza);
    return esadecimale(md, lunghezza);
}

MappaHash hash_locali(const std::string& percorso_base,
                      const std::vector<std::string>& percorsi_relativi,
                      const Avanzamento& avanzamento, std::vector<Avviso>* avvisi) {
    MappaHash mappa;
    const size_t totale = percorsi_relativi.size();
    for (size_t i = 0; i < totale; ++i) {
        const size_t numero = i + 1;
        if (avanzamento && (numero % 20 == 0 || numero == totale))
            avanzamento(t("Leggo il contenuto in locale: {fatti}/{totale}",
                          {{"fatti", std::to_string(numero)}, {"totale", std::to_string(totale)}}));
        const std::string& relativo = percorsi_relativi[i];
        try {
            mappa.insert_or_assign(relativo, hash_locale(percorso_base, relativo));
        } catch (const std::system_error& e) {
            if (avvisi) avvisi->push_back({relativo, e.code().message()});
        }
    }
    return mappa;
}

}  // namespace ormeggio
