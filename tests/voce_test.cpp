// etichetta: unit
#include "remote/voce.h"

#include <gtest/gtest.h>

#include <ctime>

#include "remote/utf8.h"

using namespace ormeggio;

TEST(ModoOttale, Casi) {
    struct Caso {
        uint32_t modo;
        const char* atteso;
    } casi[] = {{0644, "644"},    {064, "064"},    {02750, "2750"}, {040755, "755"},
                {07777, "7777"},  {0777, "777"},   {01000, "1000"}, {0, "000"},
                {0100600, "600"}, {042750, "2750"}};
    for (const auto& c : casi) EXPECT_EQ(modo_ottale(c.modo), c.atteso) << std::oct << c.modo;
}

TEST(Utf8, SostituzioneDeiByteNonValidi) {
    struct Caso {
        std::string byte, atteso;
    } casi[] = {
        {"caffè", "caffè"},
        {"a\xff"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        {"\xC3", "\xEF\xBF\xBD"},  // troncata alla fine
        {"\xE2\x82"
         "x",
         "\xEF\xBF\xBD"
         "x"},                                     // parte massimale: un solo U+FFFD
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // forma troppo lunga
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogato
        {"\xF0\x9F\x97\x91", "\xF0\x9F\x97\x91"},                  // 🗑
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& c : casi) EXPECT_EQ(utf8_valido(c.byte), c.atteso);
}

namespace {

std::string record(std::string nome, std::string tipo, std::string modo, std::string t = "0") {
    return nome + "\t" + tipo + "\t" + modo + "\tutente\tgruppo\t1234\t" + t + std::string(1, '\0');
}

std::string ora_attesa(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
    return buf;
}

}  // namespace

TEST(VociDaFind, CampiETipi) {
    std::string uscita = record("index.php", "f", "640", "1700000000.9999999990") +
                         record("privato", "d", "2750", "1700000000") +
                         record("vecchio", "f", "64", "non-numero") +
                         record("strano", "l", "rwx", "1e300");
    auto voci = voci_da_find(uscita);
    ASSERT_EQ(voci.size(), 4u);
    EXPECT_EQ(voci[0], (Voce{"index.php", false, "640", "utente:gruppo", "1234",
                             ora_attesa(1700000000), "index.php"}));
    EXPECT_EQ(voci[1], (Voce{"privato", true, "2750", "utente:gruppo", "", ora_attesa(1700000000),
                             "privato"}));
    EXPECT_EQ(voci[2].modo, "064");
    EXPECT_EQ(voci[2].modificato, "");
    EXPECT_EQ(voci[3].modo, "rwx");
    EXPECT_FALSE(voci[3].e_cartella);
    EXPECT_EQ(voci[3].modificato, "");
}

TEST(VociDaFind, RecordMalformatiSaltatiSenzaToccareGliAltri) {
    std::string uscita = record("prima", "f", "644") + record("con\ttab", "f", "644") +
                         record("a\ncapo", "f", "644") + "solo\tdue" + std::string(1, '\0') +
                         record("ultima", "f", "644") + "\n";
    auto voci = voci_da_find(uscita);
    ASSERT_EQ(voci.size(), 2u);
    EXPECT_EQ(voci[0].nome, "prima");
    EXPECT_EQ(voci[1].nome, "ultima");
}

// Un nome con un a capo che imita un record intero non crea voci false.
TEST(VociDaFind, UnNomeNonPuoFingereUnAltraVoce) {
    std::string falso = "finto\tf\t644\troot\troot\t1\t0\nindex.php";
    auto voci = voci_da_find(record(falso, "f", "644"));
    EXPECT_TRUE(voci.empty());
}

TEST(VociDaFind, NomeNonUtf8TenutoGrezzo) {
    auto voci = voci_da_find(record("caf\xe9", "f", "644"));
    ASSERT_EQ(voci.size(), 1u);
    EXPECT_EQ(voci[0].nome, "caf\xEF\xBF\xBD");
    EXPECT_EQ(voci[0].nome_grezzo, "caf\xe9");
}
