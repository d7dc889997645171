#include "shell/avvio.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <fcntl.h>
#include <gnu/libc-version.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>

namespace ormeggio {

namespace {

std::vector<std::string> g_argomenti;

// Preparati all'installazione: nel gestore dei segnali si scrive solo.
char g_percorso_traccia[4096];
std::string g_intestazione;

const char* nome_segnale(int s) {
    switch (s) {
        case SIGSEGV: return "SIGSEGV (accesso non valido alla memoria)";
        case SIGBUS: return "SIGBUS (errore di bus)";
        case SIGFPE: return "SIGFPE (errore aritmetico)";
        case SIGABRT: return "SIGABRT (terminazione anomala)";
        case SIGILL: return "SIGILL (istruzione non valida)";
    }
    return "segnale";
}

void scrivi_tutto(int fd, const char* s, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, s, n);
        if (w <= 0) return;
        s += w;
        n -= size_t(w);
    }
}

void scrivi(int fd, const char* s) { scrivi_tutto(fd, s, std::strlen(s)); }

void gestore_segnale(int s) {
    int fd = ::open(g_percorso_traccia, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        scrivi_tutto(fd, g_intestazione.data(), g_intestazione.size());
        scrivi(fd, "Segnale fatale: ");
        scrivi(fd, nome_segnale(s));
        scrivi(fd, "\nStack:\n");
        void* pile[64];
        int n = backtrace(pile, 64);
        backtrace_symbols_fd(pile, n, fd);
        ::close(fd);
    }
    scrivi(2, "Ormeggio: errore non gestito: ");
    scrivi(2, nome_segnale(s));
    scrivi(2, "\n");
    ::signal(s, SIG_DFL);
    ::raise(s);
}

std::string pila_di_chiamate() {
    void* pile[64];
    int n = backtrace(pile, 64);
    std::string out;
    char** simboli = backtrace_symbols(pile, n);
    for (int i = 0; i < n; ++i) {
        out += "  ";
        out += simboli ? simboli[i] : "?";
        out += "\n";
    }
    std::free(simboli);
    return out;
}

std::string demangle(const char* nome) {
    int stato = 0;
    char* d = abi::__cxa_demangle(nome, nullptr, nullptr, &stato);
    std::string r = (stato == 0 && d) ? d : nome;
    std::free(d);
    return r;
}

[[noreturn]] void gestore_terminate() {
    std::string rapporto;
    if (auto e = std::current_exception()) {
        std::type_info* tipo = abi::__cxa_current_exception_type();
        std::string nome = tipo ? demangle(tipo->name()) : "eccezione";
        std::string messaggio;
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            messaggio = x.what();
        } catch (...) {
            messaggio = "(nessun messaggio)";
        }
        rapporto = "terminate called after throwing an instance of '" + nome + "'\n  what():  " +
                   messaggio + "\n";
    } else {
        rapporto = "terminate called without an active exception\n";
    }
    rapporto += "Stack:\n" + pila_di_chiamate();
    _scrivi_traccia_avvio(intestazione_traccia() + rapporto);
    std::cerr << "Ormeggio: errore non gestito.\n" << rapporto << std::flush;
    ::signal(SIGABRT, SIG_DFL);
    std::abort();
}

std::string percorso_eseguibile() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return g_argomenti.empty() ? "" : g_argomenti[0];
    return std::string(buf, size_t(n));
}

}  // namespace

std::vector<std::string> argomenti_processo() { return g_argomenti; }

std::optional<std::string> _esito_richiesto(const std::vector<std::string>& argomenti) {
    for (const auto& a : argomenti)
        if (a.rfind("--esito=", 0) == 0) return a.substr(8);
    return std::nullopt;
}

std::optional<std::string> _esito_richiesto() { return _esito_richiesto(g_argomenti); }

bool _riferisci(const std::string& testo, const std::vector<std::string>& argomenti) {
    bool riuscito = false;
    std::string riga = testo + "\n";
    if (std::fwrite(riga.data(), 1, riga.size(), stdout) == riga.size() && std::fflush(stdout) == 0)
        riuscito = true;
    auto percorso = _esito_richiesto(argomenti);
    if (percorso && !percorso->empty()) {
        std::ofstream f(*percorso, std::ios::binary | std::ios::trunc);
        if (f && (f << riga) && f.flush()) riuscito = true;
    }
    return riuscito;
}

bool _riferisci(const std::string& testo) { return _riferisci(testo, g_argomenti); }

std::string percorso_traccia_avvio() {
    std::string valore = "/tmp";
    for (const char* var : {"ORMEGGIO_TRACCIA", "TEMP", "TMP"}) {
        const char* v = std::getenv(var);
        if (v && *v) {
            valore = v;
            break;
        }
    }
    struct stat st;
    if (::stat(valore.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return valore + "/Ormeggio-avvio.log";
    return valore;
}

void _scrivi_traccia_avvio(const std::string& testo) {
    try {
        std::ofstream f(percorso_traccia_avvio(), std::ios::binary | std::ios::trunc);
        f << testo;
    } catch (...) {
    }
}

std::string intestazione_traccia() {
    std::string argomenti;
    for (size_t i = 0; i < g_argomenti.size(); ++i) {
        if (i) argomenti += ' ';
        argomenti += g_argomenti[i];
    }
    return "Ormeggio: errore non gestito.\n"
           "eseguibile: " + percorso_eseguibile() + "\n"
           "argomenti:  " + argomenti + "\n"
           "runtime:    C++ (g++ " __VERSION__ ", libstdc++ " + std::to_string(__GLIBCXX__) +
           ", glibc " + gnu_get_libc_version() + ")\n\n";
}

void installa_gestore_eccezioni(int argc, char** argv) {
    g_argomenti.assign(argv, argv + argc);
    std::set_terminate(gestore_terminate);
    g_intestazione = intestazione_traccia();
    std::string p = percorso_traccia_avvio();
    std::snprintf(g_percorso_traccia, sizeof g_percorso_traccia, "%s", p.c_str());
    // backtrace() carica libgcc alla prima chiamata: meglio ora che nel gestore.
    void* pila[2];
    backtrace(pila, 2);
    struct sigaction sa {};
    sa.sa_handler = gestore_segnale;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND;
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGABRT, SIGILL}) sigaction(s, &sa, nullptr);
}

}  // namespace ormeggio
