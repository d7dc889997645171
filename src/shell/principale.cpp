// Il programma vero e proprio, caricato da main dopo il gestore degli errori.
#include <string>
#include <vector>

#include "sessions/portachiavi.h"
#include "shell/app.h"
#include "shell/avvio.h"
#include "tk/tk.h"

using namespace ormeggio;

extern "C" int ormeggio_principale(int argc, char** argv) {
    std::vector<std::string> argomenti(argv, argv + argc);
    for (const auto& a : argomenti) {
        if (a == "--selftest-keyring") {
            auto [riuscita, messaggio] = _prova_portachiavi();
            _riferisci("selftest-keyring: " + messaggio, argomenti);
            return riuscita ? 0 : 1;
        }
    }
    tk::inizializza("ormeggio");
    auto app = App::crea();
    tk::ciclo_eventi();
    return 0;
}
