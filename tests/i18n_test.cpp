// etichetta: unit
#include "shell/i18n.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

using namespace ormeggio;

namespace {

class Traduzioni : public ::testing::Test {
  protected:
    void TearDown() override { set_language("it"); }
};

// Nomi dei segnaposto "{nome}" di un testo, come insieme.
std::multiset<std::string> segnaposto(std::string_view testo) {
    std::multiset<std::string> nomi;
    static const std::regex re(R"(\{([^{}]*)\})");
    std::string s(testo);
    for (auto it = std::sregex_iterator(s.begin(), s.end(), re); it != std::sregex_iterator(); ++it)
        nomi.insert((*it)[1].str());
    return nomi;
}

}  // namespace

TEST_F(Traduzioni, TabellaCompletaEBenFormata) {
    EXPECT_EQ(numero_traduzioni_en(), 250u);
    for (const auto& [chiave, valore] : tabella_en()) {
        EXPECT_FALSE(valore.empty()) << chiave;
        EXPECT_EQ(segnaposto(chiave), segnaposto(valore)) << chiave;
    }
}

TEST_F(Traduzioni, VociDelicate) {
    struct Caso {
        const char* it;
        const char* en;
    };
    const Caso casi[] = {
        {"Connetti", "Connect"},
        {"\n\nLe cartelle selezionate verranno trattate con tutto il loro contenuto.",
         "\n\nSelected folders will be processed together with all their contents."},
        {"  Cartella corrente:", "  Current folder:"},
        {"  nome            vale in qualunque cartella (es. .env)\n"
         "  a/b/nome        solo in quel percorso\n"
         "  cartella/**     la cartella e tutto il contenuto, a qualunque profondità (es. "
         ".git/**)\n"
         "  /cartella/**    solo nella radice del sito: /var/** non prende vendor/pacchetto/var/",
         "  name            matches in any folder (e.g. .env)\n"
         "  a/b/name        only at that path\n"
         "  folder/**       the folder and all its contents, at any depth (e.g. .git/**)\n"
         "  /folder/**      only in the site root: /var/** does not match vendor/package/var/"},
        {"Esclusi: {elenco}   (clic per modificare)", "Excluded: {elenco}   (click to edit)"},
        {"✓  Percorso relativo", "✓  Relative path"},
        {"«{modello}» è già nell'elenco.", "«{modello}» is already in the list."},
        {"Assegno la proprietà…", "Assigning ownership…"},
        {"Profilo \"{nome}\" salvato.", "Profile \"{nome}\" saved."},
        {"🗑 Elimina", "🗑 Delete"},
        {"Confronto locale ↔ remoto", "Local ↔ remote comparison"},
        {"È disponibile la versione {v}.", "Version {v} is available."},
    };
    for (const auto& c : casi) {
        set_language("en");
        EXPECT_EQ(t(c.it), c.en) << c.it;
        set_language("it");
        EXPECT_EQ(t(c.it), c.it);
    }
}

TEST_F(Traduzioni, SoloLaChiaveEsattaCorrisponde) {
    set_language("en");
    const char* quasi[] = {
        "Cartella corrente:",  // senza gli spazi iniziali
        "Le cartelle selezionate verranno trattate con tutto il loro contenuto.",
        "Assegno la proprietà...",  // tre punti invece dei puntini
        "connetti",
        "Un testo che non è nella tabella",
    };
    for (const char* testo : quasi) EXPECT_EQ(t(testo), testo);
}

TEST_F(Traduzioni, SceltaDellaLingua) {
    ASSERT_EQ(LANGUAGES.size(), 2u);
    EXPECT_EQ(LANGUAGES[0], (std::pair<std::string, std::string>{"it", "Italiano"}));
    EXPECT_EQ(LANGUAGES[1], (std::pair<std::string, std::string>{"en", "English"}));
    EXPECT_EQ(current_language(), "it");

    struct Caso {
        const char* codice;
        const char* attesa;
        const char* connetti;
    };
    const Caso casi[] = {
        {"en", "en", "Connect"},  {"it", "it", "Connetti"}, {"en", "en", "Connect"},
        {"xx", "it", "Connetti"}, {"EN", "it", "Connetti"}, {"", "it", "Connetti"},
    };
    for (const auto& c : casi) {
        set_language(c.codice);
        EXPECT_EQ(current_language(), c.attesa) << c.codice;
        EXPECT_EQ(t("Connetti"), c.connetti) << c.codice;
    }
}

TEST_F(Traduzioni, ValoriConNome) {
    struct Caso {
        const char* lingua;
        const char* testo;
        Valori valori;
        const char* atteso;
    };
    const Caso casi[] = {
        {"it", "Errore: {messaggio}", {{"messaggio", "disco pieno"}}, "Errore: disco pieno"},
        {"en", "Errore: {messaggio}", {{"messaggio", "disk full"}}, "Error: disk full"},
        // Segnaposto riempiti sulla traduzione, in ordine diverso dai valori.
        {"en",
         "{n} elemento/i selezionato/i in {percorso}",
         {{"percorso", "/var/www"}, {"n", "3"}},
         "3 selected item(s) in /var/www"},
        // Stesso segnaposto due volte; valore in più ignorato.
        {"it", "{n} di {n}", {{"n", "7"}, {"altro", "x"}}, "7 di 7"},
        // Graffe doppie = graffe letterali.
        {"it", "{{n}} vale {n}", {{"n", "5"}}, "{n} vale 5"},
        {"it", "a }} b {{", {{"n", "5"}}, "a } b {"},
        // Il valore non viene riesaminato.
        {"it", "{a}{b}", {{"a", "{b}"}, {"b", "2"}}, "{b}2"},
        // Senza valore il segnaposto resta visibile, e le graffe spaiate restano.
        {"it", "{n} in {percorso}", {{"n", "1"}}, "1 in {percorso}"},
        {"it", "{ n} {n", {{"n", "1"}}, "{ n} {n"},
        // Senza valori il testo resta intatto, graffe doppie comprese.
        {"it", "{{x}} e {n}", {}, "{{x}} e {n}"},
        {"en", "Errore: {messaggio}", {}, "Error: {messaggio}"},
    };
    for (const auto& c : casi) {
        set_language(c.lingua);
        EXPECT_EQ(t(c.testo, c.valori), c.atteso) << c.testo;
    }
    set_language("en");
    EXPECT_EQ(t("{n} elemento/i selezionato/i in {percorso}"),
              "{n} selected item(s) in {percorso}");
}
