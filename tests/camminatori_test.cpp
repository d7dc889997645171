#include "compare/camminatori.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "compare/esclusioni.h"
#include "supporto/supporto.h"

using namespace ormeggio;
namespace fs = std::filesystem;
using Percorsi = std::vector<std::string>;

namespace {

class Albero {
  public:
    Albero() : base(prove::cartella_temporanea("albero")) {
        fs::permissions(base, fs::perms(0755));
    }
    ~Albero() {
        // le cartelle chiuse vanno riaperte prima di rimuoverle
        for (auto& v : fs::recursive_directory_iterator(
                 base, fs::directory_options::skip_permission_denied)) {
            std::error_code ec;
            if (v.is_directory(ec) && !v.is_symlink(ec))
                fs::permissions(v.path(), fs::perms(0755), ec);
        }
        std::error_code ec;
        fs::remove_all(base, ec);
    }
    void file(const std::string& rel, const std::string& contenuto) {
        fs::create_directories(fs::path(base + "/" + rel).parent_path());
        prove::scrivi_file(base + "/" + rel, contenuto);
    }
    void cartella(const std::string& rel) { fs::create_directories(base + "/" + rel); }
    void collegamento(const std::string& destinazione, const std::string& rel) {
        fs::create_symlink(destinazione, base + "/" + rel);
    }
    void modo(const std::string& rel, int m) { fs::permissions(base + "/" + rel, fs::perms(m)); }
    const std::string base;
};

// Da root i permessi non fermano nessuno: la funzione gira in un processo figlio
// con l'utente nobody e restituisce il suo testo attraverso una pipe.
std::string senza_privilegi(const std::function<std::string()>& fn) {
    if (::geteuid() != 0) return fn();
    int tubo[2];
    if (::pipe(tubo) != 0) throw std::runtime_error("pipe");
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(tubo[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        std::string r = fn();
        ssize_t scritti = ::write(tubo[1], r.data(), r.size());
        ::_exit(scritti == static_cast<ssize_t>(r.size()) ? 0 : 3);
    }
    ::close(tubo[1]);
    std::string r;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(tubo[0], buf, sizeof buf)) > 0) r.append(buf, n);
    ::close(tubo[0]);
    int stato = 0;
    ::waitpid(pid, &stato, 0);
    if (!WIFEXITED(stato) || WEXITSTATUS(stato) != 0) throw std::runtime_error("figlio fallito");
    return r;
}

std::string descrivi(const std::pair<MappaDimensioni, std::vector<Avviso>>& esito) {
    std::ostringstream s;
    for (auto& [p, d] : esito.first) s << p << "=" << d << "\n";
    for (auto& a : esito.second) s << "avviso " << a.percorso << ": " << a.motivo << "\n";
    return s.str();
}

}  // namespace

TEST(CamminaLocale, DimensioniCollegamentiEdEsclusioni) {
    Albero a;
    a.file("index.php", "12345");
    a.file("vuoto", "");
    a.file("sub/b.txt", "ab");
    a.file("sub/deep/c.txt", "abc");
    a.file(".git/HEAD", "ref");
    a.file("lib/.git/config", "x");
    a.file("web/.env", "SEGRETO=1");
    a.file("nome con spazi e \t tab", "1");
    a.cartella("_locale");
    a.collegamento("index.php", "link_file");
    a.collegamento("sub", "link_cartella");
    a.collegamento("manca", "rotto");
    a.collegamento("ciclo", "ciclo");
    a.collegamento("manca", "_locale/rotto_escluso");

    std::vector<std::string> messaggi;
    auto esito =
        cammina_locale(a.base, PREDEFINITE, [&](const std::string& m) { messaggi.push_back(m); });
    EXPECT_EQ(esito.first, (MappaDimensioni{{"index.php", 5},
                                            {"vuoto", 0},
                                            {"sub/b.txt", 2},
                                            {"sub/deep/c.txt", 3},
                                            {"nome con spazi e \t tab", 1},
                                            {"link_file", 5}}));
    // il collegamento rotto e il ciclo sono avvisi; quello sotto _locale no
    ASSERT_EQ(esito.second.size(), 2u) << descrivi(esito);
    std::map<std::string, std::string> avvisi;
    for (auto& av : esito.second) avvisi[av.percorso] = av.motivo;
    EXPECT_EQ(avvisi["rotto"], "No such file or directory");
    EXPECT_EQ(avvisi["ciclo"], "Too many levels of symbolic links");
    // un messaggio per cartella visitata: base, sub, sub/deep, lib, web
    EXPECT_EQ(messaggi.size(), 5u);
    EXPECT_EQ(messaggi.front(), "Leggo l'albero locale: 0 file…");

    // senza modelli si vede tutto
    auto tutto = cammina_locale(a.base);
    EXPECT_EQ(tutto.first.count(".git/HEAD"), 1u);
    EXPECT_EQ(tutto.first.count("web/.env"), 1u);
    EXPECT_EQ(tutto.second.size(), 3u) << descrivi(tutto);
}

TEST(CamminaLocale, BaseAssenteOFile) {
    Albero a;
    a.file("f", "x");
    for (const std::string& base : {a.base + "/non-esiste", a.base + "/f", std::string()}) {
        auto [mappa, avvisi] = cammina_locale(base, {}, _niente);
        EXPECT_TRUE(mappa.empty()) << base;
        EXPECT_TRUE(avvisi.empty()) << base;
    }
}

TEST(CamminaLocale, PermessiNegatiDentroEFuoriUnaCartellaEsclusa) {
    Albero a;
    a.file("ok.txt", "1");
    a.file("chiusa/segreto.txt", "22");
    a.file("_locale/chiusa/nota.txt", "333");
    a.file("muta/x.txt", "4444");
    // lettura senza attraversamento: i nomi si vedono, i file non si esaminano
    a.modo("chiusa", 0744);
    a.modo("_locale/chiusa", 0744);
    // nessuna lettura: la cartella non si elenca e si salta in silenzio
    a.modo("muta", 0311);
    std::string visto =
        senza_privilegi([&] { return descrivi(cammina_locale(a.base, {"_locale/**"})); });
    EXPECT_EQ(visto, "ok.txt=1\navviso chiusa/segreto.txt: Permission denied\n");
}

TEST(HashLocale, ImpronteNoteEFileIlleggibili) {
    Albero a;
    a.file("vuoto", "");
    a.file("abc", "abc");
    a.file("sub/grande.bin", std::string(3 * DIMENSIONE_BLOCCO_HASH + 17, 'x'));
    a.cartella("cartella");
    a.file("privato", "p");
    a.modo("privato", 0600);

    EXPECT_EQ(hash_locale(a.base, "vuoto"), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(hash_locale(a.base + "/", "abc"), "900150983cd24fb0d6963f7d28e17f72");
    const std::string atteso =
        prove::esegui_locale("md5sum < " + a.base + "/sub/grande.bin").substr(0, 32);
    EXPECT_EQ(hash_locale(a.base, "sub/grande.bin"), atteso);
    EXPECT_THROW(hash_locale(a.base, "manca"), std::system_error);

    std::vector<Avviso> avvisi;
    auto mappa = hash_locali(a.base, {"abc", "manca", "cartella", "sub/grande.bin"}, {}, &avvisi);
    EXPECT_EQ(mappa,
              (MappaHash{{"abc", "900150983cd24fb0d6963f7d28e17f72"}, {"sub/grande.bin", atteso}}));
    EXPECT_EQ(avvisi, (std::vector<Avviso>{{"manca", "No such file or directory"},
                                           {"cartella", "Is a directory"}}));
    // senza lista degli avvisi il file manca e basta
    EXPECT_EQ(hash_locali(a.base, {"manca", "abc"}).size(), 1u);

    std::string visto = senza_privilegi([&] {
        std::vector<Avviso> av;
        auto m = hash_locali(a.base, {"privato", "abc"}, {}, &av);
        return std::to_string(m.size()) + " " + av.at(0).percorso + ": " + av.at(0).motivo;
    });
    EXPECT_EQ(visto, "1 privato: Permission denied");
}

TEST(HashLocali, AvanzamentoOgniVentiFileEAllUltimo) {
    Albero a;
    Percorsi percorsi;
    for (int i = 1; i <= 45; ++i) {
        percorsi.push_back("f" + std::to_string(i));
        a.file(percorsi.back(), std::to_string(i));
    }
    Percorsi messaggi;
    auto mappa =
        hash_locali(a.base, percorsi, [&](const std::string& m) { messaggi.push_back(m); });
    EXPECT_EQ(mappa.size(), 45u);
    EXPECT_EQ(messaggi, (Percorsi{"Leggo il contenuto in locale: 20/45",
                                  "Leggo il contenuto in locale: 40/45",
                                  "Leggo il contenuto in locale: 45/45"}));
    messaggi.clear();
    EXPECT_TRUE(
        hash_locali(a.base, {}, [&](const std::string& m) { messaggi.push_back(m); }).empty());
    EXPECT_TRUE(messaggi.empty());
}
