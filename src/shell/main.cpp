// Ingresso del processo. Il gestore degli errori viene prima di tutto; il resto
// del programma (Tk, SSH, portachiavi) sta in libormeggio.so, caricata solo
// quando serve: --version risponde senza caricarla.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "shell/avvio.h"
#include "shell/version.h"

using namespace ormeggio;

namespace {

std::string cartella_eseguibile() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string p(buf, size_t(n));
    return p.substr(0, p.rfind('/'));
}

}  // namespace

int main(int argc, char** argv) {
    installa_gestore_eccezioni(argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--version") {
            _riferisci(std::string(APP_NAME) + " " + APP_VERSION);
            return 0;
        }
    }
    std::string libreria = cartella_eseguibile() + "/libormeggio.so";
    void* h = ::dlopen(libreria.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!h) throw std::runtime_error(std::string("caricamento di libormeggio.so: ") + ::dlerror());
    auto principale = reinterpret_cast<int (*)(int, char**)>(::dlsym(h, "ormeggio_principale"));
    if (!principale) throw std::runtime_error("libormeggio.so senza ormeggio_principale");
    int stato = principale(argc, argv);
    std::fflush(stdout);
    std::fflush(stderr);
    // I thread di lavoro sono staccati: non devono incontrare globali distrutti.
    std::_Exit(stato);
}
