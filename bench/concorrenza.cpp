// Latenza dei comandi brevi da 8 thread sulla stessa connessione, senza e durante
// un invio SFTP grande: un trasferimento lungo non deve affamare i comandi.
// Legge i fatti del server di prova da ORMEGGIO_SSH_FATTI.
// Uso: concorrenza [MiB dell'invio, 256 se manca] [thread, 8] [comandi per thread, 50]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sessions/ssh.h"

#include "supporto/supporto.h"

using namespace ormeggio;
using namespace std::chrono_literals;
using Orologio = std::chrono::steady_clock;

namespace {

// Un comando come lo fa l'esecutore: canale, fine dell'ingresso, lettura, stato.
bool comando(ssh::Connessione& c) {
    auto canale = c.apri_canale("true");
    canale->chiudi_scrittura();
    std::string u, e;
    canale->leggi_tutto(u, e, 30s);
    auto stato = canale->attendi_uscita(30s);
    canale->chiudi();
    return stato == 0;
}

struct Risultato {
    std::vector<double> latenze_ms;
    int falliti = 0;
    std::string primo_errore;
};

Risultato raffica(ssh::Connessione& c, int thread, int per_thread) {
    Risultato r;
    std::mutex m;
    std::vector<std::thread> tt;
    for (int t = 0; t < thread; ++t) {
        tt.emplace_back([&] {
            for (int i = 0; i < per_thread; ++i) {
                auto t0 = Orologio::now();
                bool ok = false;
                std::string errore;
                try {
                    ok = comando(c);
                } catch (const std::exception& e) {
                    errore = e.what();
                }
                double ms = std::chrono::duration<double, std::milli>(Orologio::now() - t0).count();
                std::lock_guard b(m);
                r.latenze_ms.push_back(ms);
                if (!ok) {
                    ++r.falliti;
                    if (r.primo_errore.empty())
                        r.primo_errore = errore.empty() ? "stato non 0" : errore;
                }
            }
        });
    }
    for (auto& t : tt) t.join();
    std::sort(r.latenze_ms.begin(), r.latenze_ms.end());
    return r;
}

double percentile(const std::vector<double>& v, double p) {
    return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<size_t>(p * v.size()))];
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int thread = argc > 2 ? std::atoi(argv[2]) : 8;
    const int per_thread = argc > 3 ? std::atoi(argv[3]) : 50;
    auto f = prove::fatti_ssh();
    if (f.empty()) {
        std::fprintf(stderr, "manca ORMEGGIO_SSH_FATTI (usare scripts/bench)\n");
        return 2;
    }
    const char* base = std::getenv("ORMEGGIO_PROVE_TMP");
    std::string lavoro = std::string(base && *base ? base : "/tmp") + "/banco-conc.XXXXXX";
    if (!::mkdtemp(lavoro.data())) return 2;
    const std::string locale = lavoro + "/grande";
    {
        std::ofstream out(locale, std::ios::binary);
        std::mt19937_64 g(7);
        std::vector<uint64_t> blocco(1 << 17);
        for (size_t i = 0; i < (mib << 20) / (blocco.size() * 8); ++i) {
            for (auto& x : blocco) x = g();
            out.write(reinterpret_cast<const char*>(blocco.data()),
                      static_cast<std::streamsize>(blocco.size() * 8));
        }
    }

    auto conn = ssh::Connessione::connetti(prove::parametri_server_prova());
    auto sftp = conn->apri_sftp();
    const std::string remoto = f["CASA"] + "/.banco-concorrenza";

    comando(*conn);  // riscaldamento
    Risultato quieto = raffica(*conn, thread, per_thread);

    // L'invio si ripete finché i comandi girano, così ogni comando lo incontra.
    std::atomic<bool> basta{false};
    std::atomic<int> invii{0};
    std::string errore_invio;
    std::thread invio([&] {
        try {
            while (!basta) {
                sftp->invia(locale, remoto);
                ++invii;
            }
        } catch (const std::exception& e) {
            errore_invio = e.what();
        }
    });
    std::this_thread::sleep_for(300ms);  // la pipeline è piena
    Risultato carico = raffica(*conn, thread, per_thread);
    basta = true;
    invio.join();

    const double mq = percentile(quieto.latenze_ms, 0.5), mc = percentile(carico.latenze_ms, 0.5);
    std::printf(
        "%d thread x %d comandi 'true' su una connessione, senza e durante un invio di %zu "
        "MiB\n",
        thread, per_thread, mib);
    std::printf("  %-16s %10s %10s %10s %8s\n", "", "mediana", "p90", "massimo", "falliti");
    std::printf("  %-16s %7.1f ms %7.1f ms %7.1f ms %8d\n", "senza invio", mq,
                percentile(quieto.latenze_ms, 0.9), quieto.latenze_ms.back(), quieto.falliti);
    std::printf("  %-16s %7.1f ms %7.1f ms %7.1f ms %8d\n", "durante l'invio", mc,
                percentile(carico.latenze_ms, 0.9), carico.latenze_ms.back(), carico.falliti);
    std::printf(
        "  rapporto delle mediane %.2fx (obiettivo <= 3x); invii completati durante la "
        "prova: %d\n",
        mc / mq, invii.load());
    if (!quieto.primo_errore.empty()) std::printf("  errore: %s\n", quieto.primo_errore.c_str());
    if (!carico.primo_errore.empty()) std::printf("  errore: %s\n", carico.primo_errore.c_str());
    if (!errore_invio.empty()) std::printf("  errore dell'invio: %s\n", errore_invio.c_str());

    try {
        sftp->rimuovi(remoto);
    } catch (...) {
    }
    conn->chiudi();
    std::error_code ec;
    std::filesystem::remove_all(lavoro, ec);
    return quieto.falliti + carico.falliti == 0 && errore_invio.empty() ? 0 : 1;
}
