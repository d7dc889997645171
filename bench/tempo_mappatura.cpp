// Misura il tempo dal lancio di un comando alla mappatura della sua prima finestra
// di primo livello. Uso: bench_tempo_mappatura RIPETIZIONI COMANDO [ARG...]
// Stampa la mediana in millisecondi.
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "uso: %s RIPETIZIONI COMANDO [ARG...]\n", argv[0]);
        return 2;
    }
    int ripetizioni = std::atoi(argv[1]);
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "nessun display\n");
        return 2;
    }
    Window radice = DefaultRootWindow(d);
    XSelectInput(d, radice, SubstructureNotifyMask);
    XSync(d, True);
    std::vector<double> tempi;
    for (int i = 0; i < ripetizioni; ++i) {
        auto inizio = std::chrono::steady_clock::now();
        pid_t pid = fork();
        if (pid == 0) {
            execvp(argv[2], argv + 2);
            _exit(127);
        }
        for (;;) {
            XEvent ev;
            XNextEvent(d, &ev);
            if (ev.type == MapNotify && !ev.xmap.override_redirect) break;
        }
        tempi.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - inizio)
                .count());
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        XSync(d, True);
    }
    std::sort(tempi.begin(), tempi.end());
    std::printf("%.2f\n", tempi[tempi.size() / 2]);
    return 0;
}
