// Banco dei camminatori remoti sul server di prova: l'albero con un find e le
// impronte con md5sum a gruppi, contro gli stessi comandi dati a ssh di OpenSSH
// (una connessione nuova per comando, e con una connessione master).
// Uso: bench/confronto_remoto.sh
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "compare/camminatori.h"
#include "compare/camminatori_remoti.h"
#include "remote/quotatura.h"
#include "remote/remoto.h"

#include "supporto/supporto.h"

using namespace ormeggio;
using Orologio = std::chrono::steady_clock;

namespace {

// Le mediane di n giri; in ogni giro le misure si alternano, così il carico della
// macchina pesa allo stesso modo su tutte.
std::vector<double> mediane(int n, const std::vector<std::function<void()>>& misure) {
    std::vector<std::vector<double>> tempi(misure.size());
    for (int i = 0; i < n; ++i)
        for (size_t k = 0; k < misure.size(); ++k) {
            auto t0 = Orologio::now();
            misure[k]();
            tempi[k].push_back(std::chrono::duration<double>(Orologio::now() - t0).count());
        }
    std::vector<double> r;
    for (auto& v : tempi) {
        std::sort(v.begin(), v.end());
        r.push_back(v[v.size() / 2]);
    }
    return r;
}

void shell(const std::string& comando) {
    if (std::system(comando.c_str()) != 0) {
        std::fprintf(stderr, "fallito: %s\n", comando.c_str());
        std::exit(1);
    }
}

void crea_file(const std::string& percorso, int n) {
    int fd = ::open(percorso.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    std::string contenuto = "contenuto " + std::to_string(n) + "\n";
    if (fd < 0 || ::write(fd, contenuto.data(), contenuto.size()) < 0) std::exit(1);
    ::close(fd);
}

}  // namespace

int main() {
    auto f = prove::fatti_ssh();
    if (f.empty()) {
        std::fprintf(stderr,
                     "ORMEGGIO_SSH_FATTI non impostato (avviare con bench/confronto_remoto.sh)\n");
        return 2;
    }
    char casa[] = "/tmp/ormeggio-banco.XXXXXX";
    if (!::mkdtemp(casa)) return 2;
    ::setenv("HOME", casa, 1);

    // 50000 file in 500 cartelle nella casa dell'utente SSH, suoi.
    const std::string base = f["CASA"] + "/banco-confronto";
    std::filesystem::remove_all(base);
    for (int c = 0; c < 500; ++c) {
        std::string cartella = base + "/d" + std::to_string(c / 50) + "/s" + std::to_string(c);
        std::filesystem::create_directories(cartella);
        for (int i = 0; i < 100; ++i) crea_file(cartella + "/f" + std::to_string(i) + ".php", i);
    }
    shell("chown -R " + q(f["UTENTE"]) + ": " + q(base));

    auto conn = ssh::Connessione::connetti(prove::parametri_server_prova());
    Remoto remoto(conn, conn->apri_sftp(), std::nullopt);
    Esegui esegui = [&](const std::string& c, double t) { return remoto.esegui_lettura(c, t); };

    const std::string opzioni =
        "-o BatchMode=yes -o StrictHostKeyChecking=no "
        "-o UserKnownHostsFile=/dev/null -o LogLevel=ERROR -i " +
        q(f["CHIAVE_ED25519"]) + " -p " + f["PORTA"];
    const std::string master = std::string(casa) + "/master";
    const std::string ssh = "ssh -n " + opzioni + " " + f["UTENTE"] + "@" + f["HOST"];
    const std::string ssh_m =
        "ssh -n " + opzioni + " -o ControlPath=" + master + " " + f["UTENTE"] + "@" + f["HOST"];
    shell("ssh " + opzioni + " -o ControlMaster=yes -o ControlPersist=60 -o ControlPath=" + master +
          " -fN " + f["UTENTE"] + "@" + f["HOST"]);

    // --- albero ---
    size_t n = 0;
    const std::string find = "find " + q(base) + " -type f -printf '%s\\t%P\\n'";
    shell(ssh + " " + q(find) + " >/dev/null");  // cache calda sul server
    auto m =
        mediane(7, {
                       [&] { n = cammina_remoto(*remoto.sftp, base, {}, esegui).first.size(); },
                       [&] { esegui(find, TIMEOUT_ALBERO_SECONDI); },
                       [&] { shell(ssh + " " + q(find) + " >/dev/null"); },
                       [&] { shell(ssh_m + " " + q(find) + " >/dev/null"); },
                   });
    const double t_noi = m[0], t_esegui = m[1], t_ssh = m[2], t_ssh_m = m[3];
    std::printf("solo l'esecutore con lo stesso find: %.0f ms\n", t_esegui * 1e3);
    std::printf(
        "cammina_remoto (find): %zu file: %.0f ms; ssh \"find …\": %.0f ms (rapporto %.2f, "
        "obiettivo <= 1.5); ssh con master: %.0f ms (rapporto %.2f)\n",
        n, t_noi * 1e3, t_ssh * 1e3, t_noi / t_ssh, t_ssh_m * 1e3, t_noi / t_ssh_m);

    // --- impronte: 2000 file, 20 comandi da 100 ---
    std::vector<std::string> percorsi;
    for (int c = 0; c < 20; ++c)
        for (int i = 0; i < 100; ++i)
            percorsi.push_back("d" + std::to_string(c / 50) + "/s" + std::to_string(c) + "/f" +
                               std::to_string(i) + ".php");
    std::vector<std::string> comandi;
    for (size_t i = 0; i < percorsi.size(); i += FILE_PER_COMANDO_MD5) {
        std::string interno = "cd " + q(base) + " && md5sum --";
        for (size_t k = i; k < i + FILE_PER_COMANDO_MD5; ++k) interno += " " + q(percorsi[k]);
        comandi.push_back(interno);
    }
    size_t h = 0;
    auto mm = mediane(5, {
                             [&] { h = _hash_remoti_md5sum(esegui, base, percorsi, {}).size(); },
                             [&] {
                                 for (const auto& c : comandi)
                                     shell(ssh + " " + q(c) + " >/dev/null");
                             },
                             [&] {
                                 for (const auto& c : comandi)
                                     shell(ssh_m + " " + q(c) + " >/dev/null");
                             },
                         });
    const double t_md5 = mm[0], t_md5_ssh = mm[1], t_md5_ssh_m = mm[2];
    std::printf(
        "_hash_remoti_md5sum: %zu file in 20 comandi: %.0f ms; 20 ssh \"md5sum …\": %.0f ms "
        "(rapporto %.2f, obiettivo <= 1.3); con master: %.0f ms (rapporto %.2f)\n",
        h, t_md5 * 1e3, t_md5_ssh * 1e3, t_md5 / t_md5_ssh, t_md5_ssh_m * 1e3, t_md5 / t_md5_ssh_m);

    shell(ssh_m + " -O exit 2>/dev/null || true");
    std::filesystem::remove_all(base);
    std::filesystem::remove_all(casa);
}
