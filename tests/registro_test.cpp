// etichetta: unit
#include "remote/registro.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "sessions/file_json.h"
#include "supporto/supporto.h"

namespace reg = ormeggio::registro;
using prove::leggi_file;

namespace {

std::vector<std::string> righe_file(const std::string& f) {
    std::vector<std::string> out;
    std::string testo = leggi_file(f);
    size_t i = 0;
    while (i < testo.size()) {
        size_t k = testo.find('\n', i);
        out.push_back(testo.substr(i, k - i));
        i = k + 1;
    }
    return out;
}

const std::string DATA = R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})";

}  // namespace

TEST(Registro, FormaDelleRighe) {
    struct Caso {
        std::string comando;
        std::optional<int> codice;
        std::string errori;
        bool sudo;
        std::optional<double> durata;
        std::optional<std::string> nota;
        std::vector<std::string> attese;  // regex, una per riga
    } casi[] = {
        {"true", 0, "", false, std::nullopt, std::nullopt, {DATA + "        uscita=0  true"}},
        {"sudo -S -p '' ls",
         127,
         "",
         true,
         0.4249,
         std::string("lettura"),
         {DATA + R"(  sudo  uscita=127  0\.42s  \[lettura\]  sudo -S -p '' ls)"}},
        {"x",
         std::nullopt,
         "  boom\nbang  \n",
         false,
         12.0,
         std::string(""),
         {DATA + R"(        uscita=eccezione  12\.00s  x)", " {21}stderr: boom",
          " {21}stderr: bang"}},
        {"y", 1, " \n\t ", false, std::nullopt, std::nullopt, {DATA + "        uscita=1  y"}},
        {"z",
         2,
         "a\r\nb\rc",
         false,
         1.005,
         std::string("n"),
         {DATA + R"(        uscita=2  1\.0[01]s  \[n\]  z)", " {21}stderr: a", " {21}stderr: b",
          " {21}stderr: c"}},
    };
    for (const auto& c : casi) {
        prove::CasaTemporanea casa;
        reg::comando(c.comando, c.codice, c.errori, c.sudo, c.durata, std::nullopt, c.nota);
        auto righe = righe_file(reg::FILE_REGISTRO());
        ASSERT_EQ(righe.size(), c.attese.size()) << c.comando;
        for (size_t i = 0; i < righe.size(); ++i)
            EXPECT_TRUE(std::regex_match(righe[i], std::regex(c.attese[i]))) << righe[i];
    }
}

TEST(Registro, LarghezzeEsatte) {
    prove::CasaTemporanea casa;
    reg::comando("ls", 0, "avviso", true, 0.5);
    reg::comando("ls", 0, "", false);
    auto righe = righe_file(reg::FILE_REGISTRO());
    ASSERT_EQ(righe.size(), 3u);
    EXPECT_EQ(righe[0].substr(19), "  sudo  uscita=0  0.50s  ls");
    EXPECT_EQ(righe[1], std::string(21, ' ') + "stderr: avviso");
    EXPECT_EQ(righe[1].find("stderr:"), righe[0].find("sudo"));
    EXPECT_EQ(righe[2].substr(19), "        uscita=0  ls");
    EXPECT_EQ(righe[2].find("uscita="), righe[0].find("uscita="));
}

TEST(Registro, MascheraLaPassword) {
    prove::CasaTemporanea casa;
    reg::comando("echo pw1 | cat pw1", 1, "errore pw1\npw1", true, 1.0, std::string("pw1"));
    reg::comando("echo pw1", 0, "pw1", false, std::nullopt, std::string(""));
    reg::comando("echo pw1", 0, "", false, std::nullopt, std::nullopt);
    auto righe = righe_file(reg::FILE_REGISTRO());
    ASSERT_EQ(righe.size(), 6u);
    EXPECT_TRUE(righe[0].ends_with("  echo *** | cat ***"));
    EXPECT_EQ(righe[1].substr(21), "stderr: errore ***");
    EXPECT_EQ(righe[2].substr(21), "stderr: ***");
    EXPECT_TRUE(righe[3].ends_with("  echo pw1"));
    EXPECT_EQ(righe[4].substr(21), "stderr: pw1");
    EXPECT_TRUE(righe[5].ends_with("  echo pw1"));
}

TEST(Registro, TroncaLoStandardErrorA2000Caratteri) {
    prove::CasaTemporanea casa;
    // "è" è un carattere di due byte: si contano caratteri, non byte.
    std::string lungo;
    for (int i = 0; i < 2500; ++i) lungo += (i % 100 == 99) ? "\n" : "è";
    reg::comando("c", 1, lungo);
    auto righe = righe_file(reg::FILE_REGISTRO());
    std::string ricomposto;
    for (size_t i = 1; i < righe.size(); ++i) {
        ASSERT_EQ(righe[i].substr(0, 29), std::string(21, ' ') + "stderr: ");
        ricomposto += righe[i].substr(29) + (i + 1 < righe.size() ? "\n" : "");
    }
    std::string atteso;
    for (int i = 0; i < 2000; ++i) atteso += (i % 100 == 99) ? "\n" : "è";
    // Il 2000° carattere è un a capo: la riga con il segno di troncamento è a sé.
    EXPECT_EQ(ricomposto, atteso + " …(troncato)");
    EXPECT_EQ(righe.size(), 1u + 20u + 1u);
}

TEST(Registro, Intestazione) {
    prove::CasaTemporanea casa;
    reg::intestazione("carico 3 elemento/i in /srv/sito");
    auto righe = righe_file(reg::FILE_REGISTRO());
    ASSERT_EQ(righe.size(), 2u);
    EXPECT_EQ(righe[0], "");
    EXPECT_TRUE(std::regex_match(
        righe[1], std::regex("===== " + DATA + "  carico 3 elemento/i in /srv/sito")));
}

TEST(Registro, RotazioneOltre2MiB) {
    prove::CasaTemporanea casa;
    std::filesystem::create_directories(ormeggio::CARTELLA_CONFIG());
    const std::string f = reg::FILE_REGISTRO();
    prove::scrivi_file(f, std::string(reg::DIMENSIONE_MASSIMA_BYTE, 'x'));
    reg::scrivi("uno");
    EXPECT_FALSE(std::filesystem::exists(f + ".1"));
    EXPECT_EQ(std::filesystem::file_size(f), reg::DIMENSIONE_MASSIMA_BYTE + 4);
    prove::scrivi_file(f + ".1", "vecchio");
    reg::scrivi("due\n\n");
    EXPECT_EQ(std::filesystem::file_size(f + ".1"), reg::DIMENSIONE_MASSIMA_BYTE + 4);
    EXPECT_EQ(leggi_file(f), "due\n");
}

TEST(Registro, CasaImpossibileNonDisturba) {
    prove::CasaTemporanea casa;
    // La cartella di configurazione non si può creare: al suo posto c'è un file.
    prove::scrivi_file(casa.percorso() + "/.config", "file");
    EXPECT_NO_THROW(reg::comando("ls", 0, "x"));
    EXPECT_NO_THROW(reg::intestazione("h"));
    EXPECT_FALSE(std::filesystem::exists(reg::FILE_REGISTRO()));
}
