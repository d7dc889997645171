// Tempo di 200 comandi brevi uno dopo l'altro su una connessione: il nostro
// esecutore contro ssh di OpenSSH con una connessione master (ControlMaster),
// senza e con sudo -S. Legge i fatti del server di prova da ORMEGGIO_SSH_FATTI.
// Uso: comandi [numero di comandi, 200 se manca]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "remote/quotatura.h"
#include "remote/remoto.h"
#include "sessions/file_json.h"

#include "supporto/supporto.h"

using namespace ormeggio;
using Orologio = std::chrono::steady_clock;

namespace {

double secondi_da(Orologio::time_point t0) {
    return std::chrono::duration<double>(Orologio::now() - t0).count();
}

int esegui(const std::string& comando) {
    return std::system(comando.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const int N = argc > 1 ? std::atoi(argv[1]) : 200;
    auto f = prove::fatti_ssh();
    if (f.empty()) {
        std::fprintf(stderr, "ORMEGGIO_SSH_FATTI non impostato (avviare con bench/comandi.sh)\n");
        return 2;
    }
    // Il registro dei comandi va in una casa temporanea, non in quella dell'utente.
    char casa[] = "/tmp/ormeggio-banco.XXXXXX";
    if (!::mkdtemp(casa)) return 2;
    ::setenv("HOME", casa, 1);

    auto conn = ssh::Connessione::connetti(prove::parametri_server_prova());
    Remoto remoto(conn, conn->apri_sftp(), f["PASSWORD"]);

    // OpenSSH: una connessione master con la chiave senza passphrase, poi N client.
    const std::string controllo = std::string(casa) + "/master";
    const std::string ssh_base =
        "ssh -q -o BatchMode=yes -o StrictHostKeyChecking=no "
        "-o UserKnownHostsFile=/dev/null -o ControlPath=" +
        controllo + " -i " + q(f["CHIAVE_ED25519"]) + " -p " + f["PORTA"] + " " +
        q(f["UTENTE"] + "@" + f["HOST"]);
    if (esegui("ssh -q -o BatchMode=yes -o StrictHostKeyChecking=no "
               "-o UserKnownHostsFile=/dev/null -o ControlMaster=yes -o ControlPersist=300 "
               "-o ControlPath=" +
               controllo + " -i " + q(f["CHIAVE_ED25519"]) + " -p " + f["PORTA"] + " -fN " +
               q(f["UTENTE"] + "@" + f["HOST"])) != 0) {
        std::fprintf(stderr, "il master di OpenSSH non è partito\n");
        return 2;
    }
    const std::string pw_file = std::string(casa) + "/pw";
    {
        std::ofstream pw(pw_file);
        pw << f["PASSWORD"] << "\n";
    }

    auto nostro = [&](bool con_sudo) {
        int falliti = 0;
        auto t0 = Orologio::now();
        for (int i = 0; i < N; ++i)
            if (remoto._esegui("true", con_sudo).errore) ++falliti;
        double s = secondi_da(t0);
        if (falliti) std::fprintf(stderr, "ormeggio: %d comandi falliti\n", falliti);
        return s;
    };
    auto openssh = [&](bool con_sudo) {
        int falliti = 0;
        std::string comando = con_sudo ? ssh_base + " \"sudo -S -p '' true\" < " + q(pw_file)
                                       : ssh_base + " true < /dev/null";
        auto t0 = Orologio::now();
        for (int i = 0; i < N; ++i)
            if (esegui(comando) != 0) ++falliti;
        double s = secondi_da(t0);
        if (falliti) std::fprintf(stderr, "ssh: %d comandi falliti\n", falliti);
        return s;
    };

    // Un giro di riscaldamento per parte, poi le misure alternate.
    remoto._esegui("true", false);
    esegui(ssh_base + " true < /dev/null");
    double o_true = nostro(false), s_true = openssh(false);
    double o_sudo = nostro(true), s_sudo = openssh(true);

    std::printf("%d comandi 'true' uno dopo l'altro su una connessione\n", N);
    std::printf("  %-28s %8s %8s %10s\n", "", "ormeggio", "ssh", "rapporto");
    std::printf("  %-28s %7.2fs %7.2fs %9.2fx\n", "true", o_true, s_true, o_true / s_true);
    std::printf("  %-28s %7.2fs %7.2fs %9.2fx\n", "sudo -S -p '' true", o_sudo, s_sudo,
                o_sudo / s_sudo);
    std::printf(
        "  (obiettivo: rapporto <= 1.5x; per comando: ormeggio %.1f ms / %.1f ms con sudo,"
        " ssh %.1f ms / %.1f ms)\n",
        1000 * o_true / N, 1000 * o_sudo / N, 1000 * s_true / N, 1000 * s_sudo / N);

    esegui("ssh -q -o ControlPath=" + controllo + " -O exit x 2>/dev/null");
    conn->chiudi();
    std::error_code ec;
    std::filesystem::remove_all(casa, ec);
    return 0;
}
