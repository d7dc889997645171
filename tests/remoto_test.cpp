// etichetta: ssh
// Il motore remoto contro il server SSH di prova (sullo stesso computer: le prove
// controllano anche dal file system locale quello che i comandi hanno fatto).
#include "remote/remoto.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include "remote/quotatura.h"
#include "remote/registro.h"
#include "supporto/supporto.h"

using namespace ormeggio;
using prove::fatto_ssh;
namespace fs = std::filesystem;

namespace {

std::shared_ptr<ssh::Connessione> connetti(const std::string& utente, const std::string& password) {
    return ssh::Connessione::connetti(prove::parametri_server_prova(utente, password));
}

// Una sessione come quella del programma: connessione, SFTP e password di sudo.
struct Sessione {
    std::shared_ptr<ssh::Connessione> conn;
    std::unique_ptr<Remoto> remoto;
    Sessione(std::optional<std::string> sudo, const std::string& utente = fatto_ssh("UTENTE"),
             const std::string& password = fatto_ssh("PASSWORD"))
        : conn(connetti(utente, password)),
          remoto(std::make_unique<Remoto>(conn, conn->apri_sftp(), std::move(sudo))) {}
    Remoto* operator->() { return remoto.get(); }
};

std::vector<std::string> righe_registro() {
    std::vector<std::string> out;
    std::string testo = prove::leggi_file(registro::FILE_REGISTRO());
    for (size_t i = 0; i < testo.size();) {
        size_t k = testo.find('\n', i);
        out.push_back(testo.substr(i, k - i));
        i = k + 1;
    }
    return out;
}

std::string sha256(const std::string& dati) {
    unsigned char d[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(dati.data()), dati.size(), d);
    char hex[2 * SHA256_DIGEST_LENGTH + 1];
    for (int i = 0; i < SHA256_DIGEST_LENGTH; ++i) std::snprintf(hex + 2 * i, 3, "%02x", d[i]);
    return hex;
}

// Cartella nuova nella casa dell'utente SSH, sua, rimossa alla fine.
struct CartellaRemota {
    std::string percorso;
    CartellaRemota() {
        percorso = fatto_ssh("CASA") + "/prova-" + std::to_string(::getpid()) + "-" +
                   std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        fs::create_directory(percorso);
        prove::esegui_locale("chown " + q(fatto_ssh("UTENTE")) + ": " + q(percorso));
    }
    ~CartellaRemota() {
        std::error_code ec;
        fs::remove_all(percorso, ec);
    }
};

const std::string U_FFFD = "\xEF\xBF\xBD";

}  // namespace

class RemotoTest : public ::testing::Test {
  protected:
    prove::CasaTemporanea casa;  // il registro va nella casa temporanea
};

TEST_F(RemotoTest, TriplaDelRisultato) {
    Sessione s(fatto_ssh("PASSWORD"));
    Sessione senza(std::nullopt);
    struct Caso {
        Remoto* remoto;
        std::string comando;
        bool con_sudo;
        std::string uscita;
        std::optional<std::string> errore;
        std::optional<int> codice;
    } casi[] = {
        // Lo standard input è chiuso: cat finisce subito.
        {senza.remoto.get(), "cat", true, "", std::nullopt, 0},
        {s.remoto.get(), "cat", false, "", std::nullopt, 0},
        {s.remoto.get(), "id -un", true, "root\n", std::nullopt, 0},
        {s.remoto.get(), "id -un", false, fatto_ssh("UTENTE") + "\n", std::nullopt, 0},
        {senza.remoto.get(), "id -un", true, fatto_ssh("UTENTE") + "\n", std::nullopt, 0},
        {s.remoto.get(), in_shell("echo fuori; echo dentro >&2"), true, "fuori\n", std::nullopt, 0},
        {s.remoto.get(), in_shell("exit 2"), true, "", "uscita 2", 2},
        {s.remoto.get(), in_shell("echo fuori; echo '  Password: ' >&2; exit 3"), true, "",
         "uscita 3", 3},
        {s.remoto.get(), in_shell("echo fuori; printf ' Password: guasto\\n\\n' >&2; exit 1"), true,
         "", "guasto", 1},
        {s.remoto.get(), "printf 'a\\377b\\303'", true, "a" + U_FFFD + "b" + U_FFFD, std::nullopt,
         0},
        {senza.remoto.get(), "comando-che-non-esiste-42", false, "", "", 127},
    };
    for (const auto& c : casi) {
        auto r = c.remoto->_esegui(c.comando, c.con_sudo);
        EXPECT_EQ(r.uscita, c.uscita) << c.comando;
        EXPECT_EQ(r.codice, c.codice) << c.comando;
        if (c.errore && c.errore->empty())
            EXPECT_TRUE(r.errore && r.errore->find("not found") != std::string::npos)
                << c.comando << ": " << r.errore.value_or("(assente)");
        else
            EXPECT_EQ(r.errore, c.errore) << c.comando;
    }
    EXPECT_TRUE(s->sudo_disponibile());
    EXPECT_FALSE(senza->sudo_disponibile());
    EXPECT_EQ(s->esegui_lettura("id -un"), (std::pair<std::string, TestoErrore>{"root\n", {}}));
    EXPECT_EQ(s->_comando_con_sudo(in_shell("exit 4")), "uscita 4");
}

// Il registro di una sessione con sudo, carattere per carattere.
TEST_F(RemotoTest, RegistroDiUnaSessioneConSudo) {
    Sessione s(fatto_ssh("PASSWORD"));
    const std::string sito = fatto_ssh("SITO");
    ASSERT_TRUE(s->attributi_di(sito + "/index.php"));
    s->_esegui(in_shell("echo avviso >&2; echo due >&2"), false);
    s->_esegui(in_shell("exit 5"));
    s->_esegui("sleep 10", false, 1, std::string("attesa"));
    const std::string D = R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})", T = R"(\d+\.\d{2}s)";
    auto esc = [](const std::string& s) {
        return std::regex_replace(s, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
    };
    const std::vector<std::string> attese = {
        D + "  sudo  uscita=0  " + T + "  \\[attributi\\]  " +
            esc("sudo -S -p '' stat -c '%U|%G|%a' -- " + sito + "/index.php"),
        D + "        uscita=0  " + T + "  " + esc("sh -c 'echo avviso >&2; echo due >&2'"),
        std::string(21, ' ') + "stderr: avviso",
        std::string(21, ' ') + "stderr: due",
        D + "  sudo  uscita=5  " + T + "  " + esc("sudo -S -p '' sh -c 'exit 5'"),
        D + "        uscita=eccezione  " + T + "  \\[attesa\\]  sleep 10",
        std::string(21, ' ') + "stderr: .+",
    };
    auto righe = righe_registro();
    ASSERT_EQ(righe.size(), attese.size());
    for (size_t i = 0; i < righe.size(); ++i)
        EXPECT_TRUE(std::regex_match(righe[i], std::regex(attese[i]))) << righe[i];
}

TEST_F(RemotoTest, LaPasswordDiSudoNonCompareMai) {
    const std::string pw = fatto_ssh("PASSWORD");
    Sessione s(pw);
    // Mentre sudo sleep gira, nessun processo del server ha la password negli argomenti.
    std::thread lavoro([&] { EXPECT_FALSE(s->_esegui("sleep 3").errore); });
    std::string processi;
    for (int i = 0; i < 40 && processi.find("sleep 3") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        processi = prove::esegui_locale("ps -eo args");
    }
    lavoro.join();
    EXPECT_NE(processi.find("sudo -S -p  sleep 3"), std::string::npos) << processi;
    EXPECT_EQ(processi.find(pw), std::string::npos);

    // Nel comando e nello standard error il registro la maschera; gli errori restituiti pure.
    auto r1 = s->_esegui("echo " + q(pw));
    EXPECT_EQ(r1.uscita, pw + "\n");  // l'uscita è un dato: resta com'è
    auto r2 = s->_esegui(in_shell("echo " + q("prima " + pw + " dopo") + " >&2; exit 1"));
    EXPECT_EQ(r2.errore, "prima *** dopo");
    auto r3 = s->_esegui("sleep 5", true, 1, std::string(pw));
    ASSERT_TRUE(r3.errore);
    EXPECT_EQ(r3.errore->find(pw), std::string::npos);
    std::string registro = prove::leggi_file(registro::FILE_REGISTRO());
    EXPECT_EQ(registro.find(pw), std::string::npos) << registro;
    EXPECT_NE(registro.find("echo '***'"), std::string::npos) << registro;
    EXPECT_NE(registro.find("stderr: prima *** dopo"), std::string::npos) << registro;
}

TEST_F(RemotoTest, PasswordDiSudoSbagliata) {
    Sessione s(std::string("sbagliata-42"));
    auto r = s->_esegui("id -un");
    EXPECT_EQ(r.uscita, "");
    EXPECT_EQ(r.codice, 1);
    ASSERT_TRUE(r.errore);
    EXPECT_NE(r.errore->find("incorrect password"), std::string::npos) << *r.errore;
    EXPECT_EQ(r.errore->find("sbagliata-42"), std::string::npos);
    // Senza diritti di sudo: quello che sudo dice.
    Sessione semplice(fatto_ssh("PASSWORD_SENZA_SUDO"), fatto_ssh("UTENTE_SENZA_SUDO"),
                      fatto_ssh("PASSWORD_SENZA_SUDO"));
    auto r2 = semplice->_esegui("id -un");
    ASSERT_TRUE(r2.errore);
    EXPECT_NE(r2.errore->find("sudo"), std::string::npos) << *r2.errore;
}

TEST_F(RemotoTest, ScadenzeEFlussiGrandi) {
    Sessione s(fatto_ssh("PASSWORD"));
    using Orologio = std::chrono::steady_clock;
    auto t0 = Orologio::now();
    // Nessuna uscita oltre la scadenza: il comando fallisce, codice assente.
    auto r = s->_esegui("sleep 60", true, 2);
    EXPECT_FALSE(r.codice);
    EXPECT_TRUE(r.errore && !r.errore->empty());
    EXPECT_LT(Orologio::now() - t0, std::chrono::milliseconds(3500));

    // Uscite chiuse ma processo vivo: scade l'attesa dello stato di uscita.
    t0 = Orologio::now();
    r = s->_esegui(in_shell("exec >&- 2>&-; sleep 60"), false, 2);
    EXPECT_FALSE(r.codice);
    EXPECT_EQ(r.errore, "il comando non ha risposto entro 2 secondi");
    EXPECT_LT(Orologio::now() - t0, std::chrono::milliseconds(3500));
    // timeout 0 vale 30 secondi, non "subito".
    EXPECT_EQ(s->_esegui(in_shell("sleep 1; echo ok"), false, 0).uscita, "ok\n");

    // Ogni attesa ha la sua scadenza: 4 s in tutto con un'uscita al secondo riescono.
    r = s->_esegui(in_shell("for i in 1 2 3 4; do echo $i; sleep 1; done"), true, 2);
    EXPECT_EQ(r.uscita, "1\n2\n3\n4\n");
    EXPECT_EQ(r.codice, 0);

    // 10 MB sullo standard error prima di 10 MB sullo standard output: nessuno stallo.
    r =
        s->_esegui(in_shell("head -c 10000000 /dev/zero | tr '\\0' e >&2; "
                            "head -c 10000000 /dev/zero | tr '\\0' u"));
    EXPECT_EQ(r.codice, 0);
    EXPECT_EQ(r.uscita.size(), 10000000u);
    EXPECT_EQ(r.uscita.find_first_not_of('u'), std::string::npos);
    auto righe = righe_registro();
    EXPECT_TRUE(righe.back().ends_with(" …(troncato)")) << righe.back().substr(0, 80);
}

TEST_F(RemotoTest, ServerCadutoDuranteUnComando) {
    Sessione s(std::nullopt);
    // Il processo sshd di questa connessione è il genitore della shell del comando.
    std::string pid = s->_esegui("sh -c 'echo $PPID'").uscita;
    ASSERT_FALSE(pid.empty());
    std::thread uccisore([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        prove::esegui_locale("kill -9 " + pid);
    });
    auto t0 = std::chrono::steady_clock::now();
    auto r = s->_esegui("sleep 20", true, 10);
    uccisore.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(11));
    EXPECT_FALSE(r.codice);
    EXPECT_TRUE(r.errore && !r.errore->empty());
    auto dopo = s->_esegui("true");
    EXPECT_TRUE(dopo.errore && !dopo.errore->empty());
}

// Nomi ostili: arrivano intatti ai comandi e non eseguono nient'altro.
TEST_F(RemotoTest, NomiOstili) {
    Sessione s(fatto_ssh("PASSWORD"));
    CartellaRemota dir;
    const std::string contenuto = "contenuto di prova\n";
    const std::string origine = dir.percorso + "/origine";
    prove::scrivi_file(origine, contenuto);
    const std::string nomi[] = {"con spazio", "l'apice", "\"doppie\"",     "-meno",
                                "tab\tqui",   "a\ncapo", "$(touch x)",     "`touch y`",
                                "*",          "caf\xe9", "barra\\rovescia"};
    const std::string utente = fatto_ssh("UTENTE");
    // Ogni nome in un thread: i comandi con sudo sono lenti, la connessione è una.
    std::vector<std::thread> lavori;
    for (const auto& nome : nomi)
        lavori.emplace_back([&, nome] {
            SCOPED_TRACE(nome);
            const std::string p = dir.percorso + "/" + nome;
            EXPECT_EQ(s->copia_con_sudo(origine, p), std::nullopt);
            EXPECT_EQ(prove::leggi_file(p), contenuto);
            EXPECT_EQ(s->attributi_di(p), (Attributi{"root", "root", "644"}));
            EXPECT_EQ(s->applica_attributi(p, Attributi{utente, "www-data", "2640"}), std::nullopt);
            EXPECT_EQ(s->attributi_di(p), (Attributi{utente, "www-data", "2640"}));
            EXPECT_EQ(s->tipo_di(p),
                      (std::pair<std::optional<std::string>, TestoErrore>{"file", {}}));
            EXPECT_EQ(s->impronta(p),
                      (std::pair<std::optional<std::string>, TestoErrore>{sha256(contenuto), {}}));
            EXPECT_EQ(s->sostituisci(p, p + ".2"), std::nullopt);
            EXPECT_TRUE(fs::exists(p + ".2") && !fs::exists(p));
            EXPECT_EQ(s->crea_cartella_con_sudo(p), std::nullopt);
            EXPECT_TRUE(fs::is_directory(p));
            EXPECT_EQ(s->tipo_di(p),
                      (std::pair<std::optional<std::string>, TestoErrore>{"cartella", {}}));
        });
    for (auto& t : lavori) t.join();
    // L'elenco li vede tutti con il nome in byte esatto, tranne tab e a capo.
    auto [voci, errore] = s->elenco(dir.percorso);
    ASSERT_FALSE(errore);
    std::set<std::string> visti;
    for (const auto& v : voci) visti.insert(v.nome_grezzo);
    for (const auto& nome : nomi) {
        bool nascosto = nome.find_first_of("\t\n") != std::string::npos;
        EXPECT_EQ(visti.count(nome), nascosto ? 0u : 1u) << nome;
        EXPECT_EQ(visti.count(nome + ".2"), nascosto ? 0u : 1u) << nome;
    }
    for (const auto& nome : nomi) {
        EXPECT_EQ(s->rimuovi_con_sudo(dir.percorso + "/" + nome + ".2"), std::nullopt);
        EXPECT_FALSE(fs::exists(dir.percorso + "/" + nome + ".2")) << nome;
    }
    // Niente è stato eseguito: né x né y, da nessuna parte vicina.
    for (const auto& c : {dir.percorso, fatto_ssh("CASA"), std::string("/root"), std::string("/")})
        for (const char* f : {"/x", "/y"}) EXPECT_FALSE(fs::exists(c + f)) << c + f;
}

TEST_F(RemotoTest, AlberoDelSitoConSudo) {
    const std::string sito = fatto_ssh("SITO");
    Sessione s(fatto_ssh("PASSWORD"));
    auto [voci, errore] = s->elenco(sito);
    ASSERT_FALSE(errore) << *errore;
    std::map<std::string, Voce> per_nome;
    for (const auto& v : voci) per_nome[v.nome] = v;
    ASSERT_EQ(per_nome.size(), 3u);
    const Voce& index = per_nome.at("index.php");
    EXPECT_EQ(index.modo, "640");
    EXPECT_EQ(index.proprietario, "root:www-data");
    EXPECT_EQ(index.dimensione, std::to_string(fs::file_size(sito + "/index.php")));
    EXPECT_FALSE(index.e_cartella);
    EXPECT_TRUE(std::regex_match(index.modificato, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d)")));
    for (const char* c : {"privato", "pubblico"}) {
        EXPECT_TRUE(per_nome.at(c).e_cartella);
        EXPECT_EQ(per_nome.at(c).modo, "2750");
        EXPECT_EQ(per_nome.at(c).dimensione, "");
    }
    const std::string solo_root = sito + "/privato/solo-root.txt";
    EXPECT_EQ(s->esegui_lettura("cat -- " + q(solo_root)),
              (std::pair<std::string, TestoErrore>{"solo root\n", {}}));
    EXPECT_EQ(s->attributi_di(solo_root), (Attributi{"root", "root", "600"}));
    EXPECT_EQ(s->tipo_di(sito + "/privato/manca"),
              (std::pair<std::optional<std::string>, TestoErrore>{}));
    EXPECT_EQ(s->attributi_di(sito + "/privato/manca"), std::nullopt);

    // Senza sudo l'utente SSH non vede niente: né find né SFTP, e lo dice.
    Sessione senza(std::nullopt);
    auto [nessuna, perche] = senza->elenco(sito + "/privato");
    EXPECT_TRUE(nessuna.empty());
    ASSERT_TRUE(perche);
    EXPECT_TRUE(std::regex_search(*perche, std::regex("^find: .*Permission denied.* / SFTP: .+")))
        << *perche;
    auto [tipo, errore_tipo] = senza->tipo_di(sito + "/privato/config.env");
    EXPECT_FALSE(tipo);
    ASSERT_TRUE(errore_tipo);
    EXPECT_NE(errore_tipo->find("Permission denied"), std::string::npos) << *errore_tipo;
}

// find e SFTP danno le stesse voci; con find impossibile (sudo rifiutato) l'elenco passa a SFTP.
TEST_F(RemotoTest, FindESftpDannoLeStesseVoci) {
    CartellaRemota dir;
    fs::create_directory(dir.percorso + "/Cartella");
    prove::scrivi_file(dir.percorso + "/file.txt", "12345");
    prove::scrivi_file(dir.percorso + "/caf\xe9", "");
    ::chmod((dir.percorso + "/file.txt").c_str(), 02640);
    prove::esegui_locale("chown -R " + q(fatto_ssh("UTENTE")) + ":www-data " + q(dir.percorso));
    Sessione s(fatto_ssh("PASSWORD"));
    auto [con_find, e1] = s->_elenco_con_find(dir.percorso);
    ASSERT_FALSE(e1);
    auto con_sftp = s->_voci_da_sftp(s->sftp->elenca(dir.percorso));
    auto per_nome = [](std::vector<Voce> v) {
        std::sort(v.begin(), v.end(),
                  [](auto& a, auto& b) { return a.nome_grezzo < b.nome_grezzo; });
        return v;
    };
    EXPECT_EQ(per_nome(con_find), per_nome(con_sftp));
    EXPECT_EQ(per_nome(con_find).size(), 3u);

    Sessione rifiutata(std::string("sbagliata"));
    auto [voci, errore] = rifiutata->elenco(dir.percorso);
    EXPECT_FALSE(errore);
    EXPECT_EQ(per_nome(voci), per_nome(con_sftp));
    auto righe = righe_registro();
    size_t getent = 0;
    for (const auto& r : righe)
        if (r.find("[getent]  getent ") != std::string::npos) ++getent;
    EXPECT_EQ(getent, 4u);  // una lettura delle tabelle per s (voci_da_sftp) e una per rifiutata
}

TEST_F(RemotoTest, OperazioniCheFallisconoEUtente) {
    Sessione s(fatto_ssh("PASSWORD"));
    CartellaRemota dir;
    const std::string f = dir.percorso + "/f";
    prove::scrivi_file(f, "x");
    ::chmod(f.c_str(), 0600);
    // chown fallito: il modo non si tocca e l'errore porta il percorso.
    auto errore = s->applica_attributi(f, Attributi{"nessuno-cosi-42", "www-data", "644"});
    ASSERT_TRUE(errore);
    EXPECT_TRUE(errore->starts_with(f + ": ")) << *errore;
    struct stat st;
    ::stat(f.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(s->applica_attributi(f, Attributi{}), std::nullopt);
    EXPECT_EQ(s->applica_attributi(f, std::nullopt), std::nullopt);
    EXPECT_EQ(s->_chmod_uno(f, "640", false), std::nullopt);
    EXPECT_EQ(s->_chmod_uno(dir.percorso, "755", true), std::nullopt);
    auto righe = righe_registro();
    std::vector<std::string> comandi;
    for (const auto& r : righe)
        if (r.size() > 21 && r[0] != ' ') comandi.push_back(r.substr(r.find("sudo -S")));
    EXPECT_EQ(comandi, (std::vector<std::string>{
                           "sudo -S -p '' chown nessuno-cosi-42:www-data -- " + f,
                           "sudo -S -p '' chmod 640 -- " + f,
                           "sudo -S -p '' chmod -R 755 -- " + dir.percorso,
                       }));
    EXPECT_EQ(s->impronta(dir.percorso + "/manca").first, std::nullopt);
    EXPECT_TRUE(s->impronta(dir.percorso + "/manca").second);
    EXPECT_EQ(s->tipo_di(dir.percorso + "/manca"),
              (std::pair<std::optional<std::string>, TestoErrore>{}));
    fs::create_symlink("/srv", dir.percorso + "/collegamento");
    EXPECT_EQ(s->tipo_di(dir.percorso + "/collegamento").first, "file");

    // Un percorso relativo che inizia con "-" è una cartella per find, non un'opzione.
    const std::string relativa = "-elenco-" + std::to_string(::getpid());
    fs::create_directory(fatto_ssh("CASA") + "/" + relativa);
    prove::scrivi_file(fatto_ssh("CASA") + "/" + relativa + "/dentro", "");
    auto [voci, errore_relativa] = s->_elenco_con_find(relativa);
    fs::remove_all(fatto_ssh("CASA") + "/" + relativa);
    EXPECT_FALSE(errore_relativa);
    ASSERT_EQ(voci.size(), 1u);
    EXPECT_EQ(voci[0].nome, "dentro");

    size_t prima = righe_registro().size();
    EXPECT_EQ(s->utente_ssh(), fatto_ssh("UTENTE"));
    EXPECT_EQ(s->utente_ssh(), fatto_ssh("UTENTE"));
    auto dopo = righe_registro();
    ASSERT_EQ(dopo.size(), prima + 1);  // la seconda volta non chiede niente
    EXPECT_TRUE(std::regex_match(
        dopo.back(), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d {8}uscita=0  \d+\.\d\ds  )"
                                R"(\[utente\]  id -un)")))
        << dopo.back();
}

// Molti thread sulla stessa connessione: ogni comando ha il suo canale.
TEST_F(RemotoTest, ComandiInParallelo) {
    Sessione s(fatto_ssh("PASSWORD"));
    std::atomic<int> riusciti{0};
    std::vector<std::thread> thread;
    for (int i = 0; i < 8; ++i)
        thread.emplace_back([&, i] {
            for (int k = 0; k < 10; ++k) {
                auto r = s->_esegui("echo " + std::to_string(i * 100 + k), k % 2 == 0);
                if (r.uscita == std::to_string(i * 100 + k) + "\n") ++riusciti;
            }
        });
    for (auto& t : thread) t.join();
    EXPECT_EQ(riusciti.load(), 80);
}
