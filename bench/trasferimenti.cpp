// Velocità di invio e ricezione SFTP di un file grande: il nostro client contro
// sftp di OpenSSH (put/get) sullo stesso server, nella stessa esecuzione.
// Legge i fatti del server di prova da ORMEGGIO_SSH_FATTI.
// Uso: trasferimenti [MiB, 256 se manca] [ripetizioni, 5 se manca]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "remote/quotatura.h"
#include "sessions/ssh.h"

#include "supporto/supporto.h"

using namespace ormeggio;
using Orologio = std::chrono::steady_clock;

namespace {

double misura(const std::function<void()>& f) {
    auto t0 = Orologio::now();
    f();
    return std::chrono::duration<double>(Orologio::now() - t0).count();
}

double mediana(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void scrivi_casuale(const std::string& percorso, size_t byte) {
    std::ofstream f(percorso, std::ios::binary);
    std::mt19937_64 g(42);
    std::vector<uint64_t> blocco(1 << 17);
    for (size_t scritti = 0; scritti < byte;) {
        for (auto& x : blocco) x = g();
        size_t n = std::min(byte - scritti, blocco.size() * 8);
        f.write(reinterpret_cast<const char*>(blocco.data()), static_cast<std::streamsize>(n));
        scritti += n;
    }
}

std::string sha256(const std::string& percorso) {
    std::string out;
    FILE* p = ::popen(("sha256sum < " + q(percorso)).c_str(), "r");
    char buf[128];
    while (p && std::fgets(buf, sizeof buf, p)) out += buf;
    if (p) ::pclose(p);
    return out.substr(0, 64);
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int volte = argc > 2 ? std::atoi(argv[2]) : 5;
    auto f = prove::fatti_ssh();
    if (f.empty()) {
        std::fprintf(stderr, "manca ORMEGGIO_SSH_FATTI (usare scripts/bench)\n");
        return 2;
    }
    const char* base = std::getenv("ORMEGGIO_PROVE_TMP");
    std::string lavoro = std::string(base && *base ? base : "/tmp") + "/banco-sftp.XXXXXX";
    if (!::mkdtemp(lavoro.data())) return 2;
    const std::string locale = lavoro + "/origine";
    const std::string ritorno = lavoro + "/ritorno";
    scrivi_casuale(locale, mib << 20);

    ssh::ParametriConnessione p;
    p.host = f["HOST"];
    p.porta = std::stoi(f["PORTA"]);
    p.utente = f["UTENTE"];
    p.chiave = f["CHIAVE_ED25519"];
    auto conn = ssh::Connessione::connetti(p);
    auto sftp = conn->apri_sftp();
    const std::string remoto_nostro = f["CASA"] + "/.banco-nostro";
    const std::string remoto_openssh = f["CASA"] + "/.banco-openssh";

    // sftp di OpenSSH con la stessa chiave; il tempo della sola connessione (un
    // "pwd") è tolto, così si confronta il solo trasferimento.
    const std::string sftp_base =
        "sftp -q -o BatchMode=yes -o StrictHostKeyChecking=no "
        "-o UserKnownHostsFile=/dev/null -i " +
        q(f["CHIAVE_ED25519"]) + " -P " + f["PORTA"] + " -b ";
    const std::string destinazione = " " + q(f["UTENTE"] + "@" + f["HOST"]) + " >/dev/null";
    auto lotto = [&](const std::string& nome, const std::string& riga) {
        std::ofstream(lavoro + "/" + nome) << riga << "\n";
        return sftp_base + q(lavoro + "/" + nome) + destinazione;
    };
    const std::string solo_connessione = lotto("pwd", "pwd");
    const std::string put = lotto("put", "put " + locale + " " + remoto_openssh);
    const std::string get = lotto("get", "get " + remoto_openssh + " " + ritorno + ".openssh");
    auto esegui = [](const std::string& c) {
        if (std::system(c.c_str()) != 0) {
            std::fprintf(stderr, "fallito: %s\n", c.c_str());
            std::exit(1);
        }
    };

    std::vector<double> su_nostro, giu_nostro, su_openssh, giu_openssh, connessione;
    // Prima di ogni misura si svuotano le scritture in sospeso, che altrimenti
    // rallenterebbero chi viene dopo.
    auto sync_e_misura = [&](const std::function<void()>& f) {
        ::sync();
        return misura(f);
    };
    for (int i = 0; i < volte; ++i) {
        su_nostro.push_back(sync_e_misura([&] { sftp->invia(locale, remoto_nostro); }));
        connessione.push_back(sync_e_misura([&] { esegui(solo_connessione); }));
        su_openssh.push_back(sync_e_misura([&] { esegui(put); }));
        giu_nostro.push_back(sync_e_misura([&] { sftp->ricevi(remoto_nostro, ritorno); }));
        giu_openssh.push_back(sync_e_misura([&] { esegui(get); }));
    }
    const bool integro = sha256(ritorno) == sha256(locale);
    const double c = *std::min_element(connessione.begin(), connessione.end());
    const double mb = static_cast<double>(mib << 20) / 1e6;
    // Velocità dal tempo mediano e dal migliore: sulla macchina condivisa il carico
    // degli altri processi sposta la mediana, il migliore mostra cosa sa fare ciascuno.
    auto riga = [&](const char* nome, const std::vector<double>& nostro,
                    const std::vector<double>& openssh) {
        const double nm = mb / mediana(nostro), om = mb / std::max(0.01, mediana(openssh) - c);
        const double nb = mb / *std::min_element(nostro.begin(), nostro.end());
        const double ob =
            mb / std::max(0.01, *std::min_element(openssh.begin(), openssh.end()) - c);
        std::printf("  %-10s %8.1f MB/s %8.1f MB/s %8.2fx   %8.1f MB/s %8.1f MB/s %8.2fx\n", nome,
                    nm, om, nm / om, nb, ob, nb / ob);
    };
    std::printf("SFTP, file di %zu MiB, %d prove alternate (connessione di sftp, %.2f s, tolta)\n",
                mib, volte, c);
    std::printf("  %-10s %12s %12s %9s   %12s %12s %9s\n", "", "ormeggio", "sftp", "rapporto",
                "ormeggio", "sftp", "rapporto");
    std::printf("  %-10s %36s   %36s\n", "", "(mediana)", "(migliore)");
    riga("invio", su_nostro, su_openssh);
    riga("ricezione", giu_nostro, giu_openssh);
    std::printf("  (obiettivo: rapporto >= 0.9x; file ricevuto %s)\n",
                integro ? "identico all'originale" : "DIVERSO DALL'ORIGINALE");

    sftp->rimuovi(remoto_nostro);
    sftp->rimuovi(remoto_openssh);
    sftp->chiudi();
    conn->chiudi();
    std::error_code ec;
    std::filesystem::remove_all(lavoro, ec);
    return integro ? 0 : 1;
}
