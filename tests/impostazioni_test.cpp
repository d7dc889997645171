#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "sessions/impostazioni.h"
#include "supporto/supporto.h"

using namespace ormeggio;

namespace {

class Impostazioni : public ::testing::Test {
protected:
    prove::CasaTemporanea casa;
    std::string file() const { return casa.percorso() + "/.config/approdo/impostazioni.json"; }
    void scrivi(const std::string& contenuto) {
        std::filesystem::create_directories(casa.percorso() + "/.config/approdo");
        prove::scrivi_file(file(), contenuto);
    }
};

TEST_F(Impostazioni, SenzaFileValgonoIPredefiniti) {
    EXPECT_EQ(cartella_locale_predefinita(), casa.percorso());
    EXPECT_EQ(percorso_remoto_predefinito(), "/");
    EXPECT_EQ(lingua(), "it");
    EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(Impostazioni, FileIllegibiliValgonoVuoti) {
    const std::vector<std::string> contenuti = {
        "non json", "[1, 2]", "\"testo\"", "42", "{\"lingua\": \"en\"", "{\"lingua\": \"\xff\xfe\"}",
        ""};
    for (const auto& c : contenuti) {
        scrivi(c);
        EXPECT_TRUE(carica_impostazioni().empty()) << c;
        EXPECT_EQ(lingua(), "it") << c;
    }
    // Una cartella al posto del file.
    std::filesystem::remove(file());
    std::filesystem::create_directory(file());
    EXPECT_TRUE(carica_impostazioni().empty());
}

TEST_F(Impostazioni, ValoriVuotiONonTestoContanoComeAssenti) {
    for (const char* v : {"\"\"", "null", "false", "0", "[]"}) {
        scrivi(std::string("{\"percorso_remoto_predefinito\": ") + v + ", \"lingua\": " + v + "}");
        EXPECT_EQ(percorso_remoto_predefinito(), "/") << v;
        EXPECT_EQ(lingua(), "it") << v;
    }
}

TEST_F(Impostazioni, SetterConservaChiaviSconosciuteEOrdine) {
    scrivi("{\"zeta\": {\"a\": [1, 2]}, \"lingua\": \"it\", \"alfa\": \"è\"}");
    imposta_lingua("en");
    imposta_percorso_remoto_predefinito("/var/www/città");
    EXPECT_EQ(prove::leggi_file(file()),
              "{\n  \"zeta\": {\n    \"a\": [\n      1,\n      2\n    ]\n  },\n"
              "  \"lingua\": \"en\",\n  \"alfa\": \"è\",\n"
              "  \"percorso_remoto_predefinito\": \"/var/www/città\"\n}");
    EXPECT_EQ(lingua(), "en");
    EXPECT_EQ(percorso_remoto_predefinito(), "/var/www/città");
}

TEST_F(Impostazioni, ArrayVieneSostituitoDaUnOggetto) {
    scrivi("[\"vecchio\"]");
    imposta_cartella_locale_predefinita("/srv");
    EXPECT_EQ(prove::leggi_file(file()), "{\n  \"cartella_locale_predefinita\": \"/srv\"\n}");
}

TEST_F(Impostazioni, TestoNonUtf8NonFaFallireLaScrittura) {
    imposta_cartella_locale_predefinita("/tmp/\xff\xfe-nome");
    auto letto = cartella_locale_predefinita();
    EXPECT_EQ(letto, "/tmp/\xEF\xBF\xBD\xEF\xBF\xBD-nome");
}

TEST_F(Impostazioni, ScritturaImpossibileArrivaAlChiamante) {
    // Un file dove dovrebbe esserci la cartella: nemmeno root può scriverci dentro.
    std::filesystem::create_directories(casa.percorso() + "/.config");
    prove::scrivi_file(casa.percorso() + "/.config/approdo", "");
    EXPECT_ANY_THROW(imposta_lingua("en"));
    EXPECT_EQ(lingua(), "it");
}

}  // namespace
