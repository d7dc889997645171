#include "sessions/esclusioni_sito.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "compare/esclusioni.h"
#include "sessions/impostazioni.h"
#include "supporto/supporto.h"

using namespace ormeggio;
using prove::CasaTemporanea;
using Lista = std::vector<std::string>;

namespace {

void scrivi_impostazioni(const std::string& testo) {
    std::filesystem::create_directories(CARTELLA_CONFIG());
    prove::scrivi_file(FILE_IMPOSTAZIONI(), testo);
}

}  // namespace

TEST(EsclusioniSito, SenzaFileValgonoLePredefinite) {
    CasaTemporanea casa;
    EXPECT_EQ(esclusioni(), PREDEFINITE);
    EXPECT_TRUE(siti_con_esclusioni().empty());
    EXPECT_EQ(esclusioni_attive("/var/www"), PREDEFINITE);
    EXPECT_TRUE(esclusioni_sito("/var/www").empty());
}

TEST(EsclusioniSito, ListaGeneraleVuotaONonArray) {
    CasaTemporanea casa;
    imposta_esclusioni({});
    EXPECT_EQ(esclusioni(), Lista{});
    EXPECT_EQ(esclusioni_attive("/srv/sito"), Lista{});

    scrivi_impostazioni(R"({"esclusioni": ".env"})");
    EXPECT_EQ(esclusioni(), PREDEFINITE);

    scrivi_impostazioni(R"({"esclusioni": [".env", 7, null]})");
    EXPECT_EQ(esclusioni(), (Lista{".env", "7", "null"}));
}

TEST(EsclusioniSito, AltreChiaviIntatteERipetizioniConservate) {
    CasaTemporanea casa;
    imposta_lingua("en");
    imposta_esclusioni({"*.log", ".env", "*.log"});
    imposta_esclusioni_sito("/srv/a", {"x/**"});
    EXPECT_EQ(lingua(), "en");
    EXPECT_EQ(esclusioni(), (Lista{"*.log", ".env", "*.log"}));
    EXPECT_EQ(esclusioni_attive("/srv/a"), (Lista{"*.log", ".env", "*.log", "x/**"}));
    Json imp = carica_impostazioni();
    EXPECT_EQ(imp["lingua"], "en");
}

TEST(EsclusioniSito, ChiaveDelSito) {
    const std::pair<const char*, const char*> casi[] = {
        {"/var/www", "/var/www"},
        {"/var/www/", "/var/www"},
        {"/var/www///", "/var/www"},
        {"", "/"},
        {"/", "/"},
        {"///", "/"},
        {"rel/", "rel"},
    };
    for (auto [p, atteso] : casi) EXPECT_EQ(chiave_sito(p), atteso) << p;

    CasaTemporanea casa;
    imposta_esclusioni_sito("/var/www/", {"cache/**"});
    EXPECT_EQ(esclusioni_sito("/var/www"), Lista{"cache/**"});
    imposta_esclusioni_sito("", {"tmp/**"});
    EXPECT_EQ(esclusioni_sito("/"), Lista{"tmp/**"});
    // nessuna gerarchia: né le sottocartelle né il genitore
    EXPECT_TRUE(esclusioni_sito("/var/www/sub").empty());
    EXPECT_TRUE(esclusioni_sito("/var").empty());
    EXPECT_EQ(siti_con_esclusioni(), (Lista{"/", "/var/www"}));
}

TEST(EsclusioniSito, ListaVuotaToglieIlSitoMaNonLOggetto) {
    CasaTemporanea casa;
    imposta_esclusioni_sito("/b", {"x"});
    imposta_esclusioni_sito("/a", {"y"});
    EXPECT_EQ(siti_con_esclusioni(), (Lista{"/a", "/b"}));
    imposta_esclusioni_sito("/b/", {});
    imposta_esclusioni_sito("/a", {});
    imposta_esclusioni_sito("/mai-salvato", {});
    EXPECT_TRUE(siti_con_esclusioni().empty());
    Json imp = carica_impostazioni();
    ASSERT_TRUE(imp.contains("esclusioni_per_sito"));
    EXPECT_EQ(imp["esclusioni_per_sito"], Json::object());
}

TEST(EsclusioniSito, ElencoAttivo) {
    CasaTemporanea casa;
    imposta_esclusioni({".env", "*.log"});
    imposta_esclusioni_sito("/srv", {"*.log", "cache/**", "cache/**", "/upload/**"});
    EXPECT_EQ(esclusioni_attive("/srv/"), (Lista{".env", "*.log", "cache/**", "/upload/**"}));
    EXPECT_EQ(esclusioni_attive(), (Lista{".env", "*.log"}));
    EXPECT_EQ(esclusioni_attive(""), (Lista{".env", "*.log"}));
    EXPECT_EQ(esclusioni_attive("/altro"), (Lista{".env", "*.log"}));
}

TEST(EsclusioniSito, ValoriIllegibiliNelFile) {
    CasaTemporanea casa;
    const char* contenuti[] = {
        "[1, 2]",
        "non json",
        R"({"esclusioni_per_sito": ["/srv"]})",
        R"({"esclusioni_per_sito": {"/srv": "x/**"}})",
    };
    for (const char* c : contenuti) {
        scrivi_impostazioni(c);
        EXPECT_EQ(esclusioni(), PREDEFINITE) << c;
        EXPECT_TRUE(esclusioni_sito("/srv").empty()) << c;
        EXPECT_EQ(esclusioni_attive("/srv"), PREDEFINITE) << c;
    }
    // un oggetto dei siti illeggibile si rifà da zero al salvataggio
    imposta_esclusioni_sito("/srv", {"a"});
    EXPECT_EQ(esclusioni_sito("/srv"), Lista{"a"});
}
