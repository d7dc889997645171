// etichetta: ssh
// I camminatori remoti contro il server SSH di prova. Il server gira sullo stesso
// computer: gli alberi si preparano dal file system locale e il cammino locale
// degli stessi alberi dà il risultato atteso.
#include "compare/camminatori_remoti.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "compare/camminatori.h"
#include "compare/esclusioni.h"
#include "remote/quotatura.h"
#include "remote/remoto.h"
#include "supporto/supporto.h"

using namespace ormeggio;
using prove::fatto_ssh;
namespace fs = std::filesystem;
using Percorsi = std::vector<std::string>;

namespace {

struct Sessione {
    std::shared_ptr<ssh::Connessione> conn;
    std::unique_ptr<Remoto> remoto;
    Sessione(std::optional<std::string> sudo, const std::string& utente = fatto_ssh("UTENTE"),
             const std::string& password = fatto_ssh("PASSWORD")) {
        conn = ssh::Connessione::connetti(prove::parametri_server_prova(utente, password));
        remoto = std::make_unique<Remoto>(conn, conn->apri_sftp(), std::move(sudo));
    }
    ssh::Sftp& sftp() { return *remoto->sftp; }
    // L'esecutore della sessione; se comandi non è nullo vi si annota ogni comando.
    Esegui esegui(Percorsi* comandi = nullptr) {
        return [this, comandi](const std::string& c, double timeout) {
            if (comandi) comandi->push_back(c);
            return remoto->esegui_lettura(c, timeout);
        };
    }
};

Sessione con_sudo() {
    return Sessione(fatto_ssh("PASSWORD"));
}
Sessione senza_sudo() {
    return Sessione(std::nullopt, fatto_ssh("UTENTE_SENZA_SUDO"), fatto_ssh("PASSWORD_SENZA_SUDO"));
}

// Un albero sul server, creato da root in locale. Con sito=true è come quello di un
// sito vero: root:www-data, cartelle 2750 e file 640, illeggibile senza sudo.
class AlberoServer {
  public:
    explicit AlberoServer(bool sito) : _sito(sito) {
        char modello[] = "/srv/ormeggio-confronto.XXXXXX";
        if (!::mkdtemp(modello)) throw std::runtime_error("mkdtemp /srv");
        base = modello;
    }
    ~AlberoServer() {
        std::error_code ec;
        fs::remove_all(base, ec);
    }
    void file(const std::string& rel, const std::string& contenuto) {
        fs::create_directories(fs::path(base + "/" + rel).parent_path());
        prove::scrivi_file(base + "/" + rel, contenuto);
    }
    // Applica proprietari e modi a tutto l'albero.
    void chiudi() {
        if (_sito)
            prove::esegui_locale("chown -R root:www-data " + q(base) + " && find " + q(base) +
                                 " -type d -exec chmod 2750 {} + && find " + q(base) +
                                 " -type f -exec chmod 640 {} +");
        else
            prove::esegui_locale("chmod -R a+rX " + q(base));
    }
    std::string base;

  private:
    bool _sito;
};

std::vector<std::string> chiavi(const MappaDimensioni& m) {
    std::vector<std::string> r;
    for (auto& [k, _] : m) r.push_back(k);
    return r;
}

}  // namespace

class CamminatoriRemoti : public ::testing::Test {
  protected:
    prove::CasaTemporanea casa;  // il registro dei comandi va qui
};

TEST_F(CamminatoriRemoti, AlberoDelSitoConFindESudo) {
    AlberoServer a(true);
    a.file("index.php", "<?php echo 1;");
    a.file("vuoto.txt", "");
    a.file("con\ttab.txt", "tab");
    a.file("l'apostrofo e  spazi.txt", "apostrofo");
    a.file("sub/dentro/c.css", "body{}");
    a.file(".git/HEAD", "ref: x");
    a.file("web/.env", "SEGRETO=1");
    a.file("var/log/x.log", "log");
    a.chiudi();

    Sessione s = con_sudo();
    Percorsi messaggi;
    auto [mappa, avvisi] = cammina_remoto(s.sftp(), a.base, PREDEFINITE, s.esegui(),
                                          [&](const std::string& m) { messaggi.push_back(m); });
    EXPECT_EQ(mappa, cammina_locale(a.base, PREDEFINITE).first);
    EXPECT_EQ(chiavi(mappa), (Percorsi{"con\ttab.txt", "index.php", "l'apostrofo e  spazi.txt",
                                       "sub/dentro/c.css", "vuoto.txt"}));
    EXPECT_TRUE(avvisi.empty());
    // find è riuscito: l'SFTP non si tocca (da solo non potrebbe leggere questo albero)
    EXPECT_EQ(messaggi, (Percorsi{"Leggo l'albero sul server…", "5 file sul server."}));

    // le impronte sul server sono quelle dei file
    auto percorsi = chiavi(mappa);
    Percorsi comandi;
    EXPECT_EQ(hash_remoti(s.sftp(), a.base, percorsi, s.esegui(&comandi)),
              hash_locali(a.base, percorsi));
    ASSERT_EQ(comandi.size(), 1u);
    EXPECT_EQ(comandi[0].rfind("sh -c 'cd " + a.base + " && md5sum -- ", 0), 0u) << comandi[0];
}

TEST_F(CamminatoriRemoti, SenzaSudoNeFindNeSftpLeggonoIlSito) {
    AlberoServer a(true);
    a.file("index.php", "x");
    a.chiudi();
    Sessione s = senza_sudo();
    Percorsi messaggi;
    try {
        cammina_remoto(s.sftp(), a.base, {}, s.esegui(),
                       [&](const std::string& m) { messaggi.push_back(m); });
        FAIL() << "nessun errore";
    } catch (const ErroreRemoto& e) {
        const std::string testo = e.what();
        EXPECT_TRUE(std::regex_match(testo, std::regex("Non riesco a leggere " + a.base +
                                                       " sul server \\(find: .*Permission "
                                                       "denied.*; SFTP: .+\\)")))
            << testo;
    }
    EXPECT_EQ(messaggi,
              (Percorsi{"Leggo l'albero sul server…", "Leggo l'albero sul server via SFTP…"}));
}

TEST_F(CamminatoriRemoti, FindFallitoPassaAllSftpCheSaltaLeCartelleEscluse) {
    AlberoServer a(false);
    a.file("index.php", "12345");
    a.file("img/logo.gif", "GIF89a");
    a.file("_locale/chiuso/nota.txt", "nota");
    a.file(".env", "x");
    a.chiudi();
    // find inciampa nella cartella chiusa; l'SFTP non la elenca perché è esclusa
    fs::permissions(a.base + "/_locale/chiuso", fs::perms(0700));

    Sessione s = senza_sudo();
    Percorsi messaggi;
    auto [mappa, avvisi] = cammina_remoto(s.sftp(), a.base, {"_locale/**", ".env"}, s.esegui(),
                                          [&](const std::string& m) { messaggi.push_back(m); });
    EXPECT_EQ(mappa, (MappaDimensioni{{"index.php", 5}, {"img/logo.gif", 6}}));
    EXPECT_TRUE(avvisi.empty());
    EXPECT_EQ(messaggi, (Percorsi{"Leggo l'albero sul server…",
                                  "Leggo l'albero sul server via SFTP…", "2 file sul server."}));

    // senza esecutore si va diritti all'SFTP, e le impronte vengono dall'SFTP
    messaggi.clear();
    auto solo_sftp = cammina_remoto(s.sftp(), a.base, {"_locale/**"}, {},
                                    [&](const std::string& m) { messaggi.push_back(m); });
    EXPECT_EQ(chiavi(solo_sftp.first), (Percorsi{".env", "img/logo.gif", "index.php"}));
    EXPECT_EQ(messaggi, (Percorsi{"Leggo l'albero sul server via SFTP…", "3 file sul server."}));

    messaggi.clear();
    Percorsi percorsi = {"index.php", "img/logo.gif"};
    EXPECT_EQ(hash_remoti(s.sftp(), a.base, percorsi, {},
                          [&](const std::string& m) { messaggi.push_back(m); }),
              hash_locali(a.base, percorsi));
    EXPECT_EQ(messaggi, (Percorsi{"Confronto il contenuto: 1/2", "Confronto il contenuto: 2/2"}));
    // via SFTP il primo file illeggibile ferma tutto con il suo errore
    EXPECT_THROW(hash_remoti(s.sftp(), a.base, {"index.php", "_locale/chiuso/nota.txt"}),
                 ssh::Errore);
}

TEST_F(CamminatoriRemoti, BaseCheEUnFileOCheNonEsiste) {
    AlberoServer a(false);
    a.file("f.txt", "abc");
    a.chiudi();
    Sessione s = con_sudo();
    // find stampa una riga con il percorso relativo vuoto, che si salta
    EXPECT_TRUE(cammina_remoto(s.sftp(), a.base + "/f.txt", {}, s.esegui()).first.empty());
    auto [mappa, errore] = _cammina_remoto_find(s.esegui(), a.base + "/f.txt");
    ASSERT_TRUE(mappa);
    EXPECT_TRUE(mappa->empty());

    try {
        cammina_remoto(s.sftp(), a.base + "/manca", {}, s.esegui());
        FAIL() << "nessun errore";
    } catch (const ErroreRemoto& e) {
        EXPECT_TRUE(std::regex_match(
            e.what(), std::regex("Non riesco a leggere .*/manca sul server \\(find: .*No such "
                                 "file or directory.*; SFTP: .+\\)")))
            << e.what();
    }
}

TEST_F(CamminatoriRemoti, UscitaDiFindNonInterpretabile) {
    // l'uscita di un find che non è quella attesa: la riga conta, non il comando
    struct Caso {
        std::string uscita;
        std::optional<MappaDimensioni> mappa;
        std::optional<std::string> errore;
    };
    const std::string lunga(200, 'x');
    const Caso casi[] = {
        {"3\ta\n0\tb c\n7\tcon\ttab\n", MappaDimensioni{{"a", 3}, {"b c", 0}, {"con\ttab", 7}},
         std::nullopt},
        {"5\t\nsenza-tab\n\n4\tx", MappaDimensioni{{"x", 4}}, std::nullopt},
        {"1\ta\n12k\tb\n", std::nullopt, "uscita di find non interpretabile: 12k\tb"},
        {lunga + "\tf\n", std::nullopt,
         "uscita di find non interpretabile: " + lunga.substr(0, 120)},
        {"", MappaDimensioni{}, std::nullopt},
    };
    for (const auto& c : casi) {
        Esegui finto = [&](const std::string&, double) {
            return std::pair<std::string, std::optional<std::string>>{c.uscita, std::nullopt};
        };
        auto [mappa, errore] = _cammina_remoto_find(finto, "/x");
        EXPECT_EQ(mappa, c.mappa) << c.uscita;
        EXPECT_EQ(errore, c.errore) << c.uscita;
    }
}

TEST_F(CamminatoriRemoti, Md5sumAGruppiDiCento) {
    AlberoServer a(true);
    Percorsi percorsi;
    for (int i = 0; i < 250; ++i) {
        percorsi.push_back("cartella " + std::to_string(i % 3) + "/f'" + std::to_string(i));
        a.file(percorsi.back(), std::to_string(i * i));
    }
    a.chiudi();
    Sessione s = con_sudo();
    Percorsi comandi, messaggi;
    // l'avanzamento arriva prima del comando che annuncia
    Esegui esegui = s.esegui(&comandi);
    auto mappa = _hash_remoti_md5sum(esegui, a.base, percorsi, [&](const std::string& m) {
        messaggi.push_back(m + " dopo " + std::to_string(comandi.size()) + " comandi");
    });
    EXPECT_EQ(mappa, hash_locali(a.base, percorsi));
    EXPECT_EQ(comandi.size(), 3u);
    EXPECT_EQ(messaggi, (Percorsi{"Confronto il contenuto: 100/250 dopo 0 comandi",
                                  "Confronto il contenuto: 200/250 dopo 1 comandi",
                                  "Confronto il contenuto: 250/250 dopo 2 comandi"}));

    // una lista vuota: nessun comando, nessun messaggio
    comandi.clear();
    messaggi.clear();
    EXPECT_TRUE(hash_remoti(s.sftp(), a.base, {}, esegui, [&](const std::string& m) {
                    messaggi.push_back(m);
                }).empty());
    EXPECT_TRUE(comandi.empty());
    EXPECT_TRUE(messaggi.empty());
}

TEST_F(CamminatoriRemoti, Md5sumCheFallisceONomiCheNonTornano) {
    AlberoServer a(true);
    Percorsi percorsi;
    for (int i = 0; i < 150; ++i) {
        percorsi.push_back("f" + std::to_string(i));
        a.file(percorsi.back(), "x");
    }
    a.file("con\\rovescia", "r");
    a.file("a capo\nnel nome", "n");
    a.chiudi();
    Sessione s = con_sudo();

    // un file che manca fa fallire il suo gruppo, e i gruppi dopo non partono
    Percorsi comandi;
    Percorsi con_mancante = percorsi;
    con_mancante[10] = "non-esiste";
    try {
        hash_remoti(s.sftp(), a.base, con_mancante, s.esegui(&comandi));
        FAIL() << "nessun errore";
    } catch (const ErroreRemoto& e) {
        EXPECT_TRUE(std::regex_match(
            e.what(), std::regex("Non riesco a confrontare il contenuto dei file sul server "
                                 "\\(md5sum: non-esiste: No such file or directory\\)")))
            << e.what();
    }
    EXPECT_EQ(comandi.size(), 1u);

    // md5sum scrive con gli escape i nomi con "\" o a capo: quei file non tornano
    try {
        hash_remoti(s.sftp(), a.base, {"f1", "con\\rovescia", "f2", "a capo\nnel nome"},
                    s.esegui());
        FAIL() << "nessun errore";
    } catch (const ErroreRemoto& e) {
        EXPECT_STREQ(e.what(), "2 file non confrontati sul server (il primo: con\\rovescia)");
    }
}

TEST_F(CamminatoriRemoti, ImprontaViaSftpDiUnFileGrande) {
    AlberoServer a(false);
    std::string grande;
    for (int i = 0; grande.size() < 5'000'000; ++i) grande += std::to_string(i) + "\n";
    a.file("grande.bin", grande);
    a.chiudi();
    Sessione s = con_sudo();
    EXPECT_EQ(hash_remoto(s.sftp(), a.base, "grande.bin"), hash_locale(a.base, "grande.bin"));
    EXPECT_EQ(hash_remoto(s.sftp(), a.base + "/", "grande.bin"), hash_locale(a.base, "grande.bin"));
}
