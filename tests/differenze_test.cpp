#include "compare/differenze.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "compare/tipi_confronto.h"
#include "shell/i18n.h"

using namespace ormeggio;
using Percorsi = std::vector<std::string>;

namespace {

// Funzione d'impronta che registra le chiamate e risponde da una tabella.
struct Impronte {
    MappaHash tabella;
    std::vector<Percorsi>* chiamate;
    MappaHash operator()(const Percorsi& percorsi) const {
        chiamate->push_back(percorsi);
        MappaHash r;
        for (const auto& p : percorsi)
            if (auto it = tabella.find(p); it != tabella.end()) r.emplace(p, it->second);
        return r;
    }
};

}  // namespace

TEST(Confronta, DimensioniSenzaImpronte) {
    const MappaDimensioni locale = {
        {"B.txt", 3}, {"a.txt", 1}, {"c.txt", 2}, {"uguale", 0}, {"cambia", 10}};
    const MappaDimensioni remoto = {{"uguale", 0}, {"cambia", 11}, {"solo_remoto", 5}};
    EXPECT_EQ(confronta(locale, remoto), (std::vector<Differenza>{{"a.txt", "nuovo", 1},
                                                                  {"B.txt", "nuovo", 3},
                                                                  {"c.txt", "nuovo", 2},
                                                                  {"cambia", "modificato", 10}}));
    // invertendo le mappe si inverte la direzione
    EXPECT_EQ(confronta(remoto, locale),
              (std::vector<Differenza>{{"cambia", "modificato", 11}, {"solo_remoto", "nuovo", 5}}));
    EXPECT_TRUE(confronta({}, {}).empty());
}

TEST(Confronta, OrdineStabileFraPercorsiCheDifferisconoPerMaiuscole) {
    const MappaDimensioni a = {{"b", 1}, {"A", 1}, {"a", 1}, {"B", 1}};
    auto r = confronta(a, {});
    Percorsi ordine;
    for (auto& d : r) ordine.push_back(d.percorso);
    // a parità di minuscole resta l'ordine della mappa
    EXPECT_EQ(ordine, (Percorsi{"A", "a", "B", "b"}));
}

TEST(Confronta, ImpronteSoloPerLeDimensioniUguali) {
    std::vector<Percorsi> chiamate_a, chiamate_b;
    const MappaDimensioni a = {
        {"nuovo", 4}, {"stesso", 5}, {"diverso", 5}, {"vuoto", 0}, {"taglia", 9}};
    const MappaDimensioni b = {{"stesso", 5}, {"diverso", 5}, {"vuoto", 0}, {"taglia", 8}};
    Impronte ha{{{"stesso", "1"}, {"diverso", "2"}, {"vuoto", "0"}}, &chiamate_a};
    Impronte hb{{{"stesso", "1"}, {"diverso", "3"}, {"vuoto", "0"}}, &chiamate_b};
    std::vector<Avviso> avvisi;
    auto r = confronta(a, b, ha, hb, &avvisi);
    EXPECT_EQ(
        r, (std::vector<Differenza>{
               {"diverso", "modificato", 5}, {"nuovo", "nuovo", 4}, {"taglia", "modificato", 9}}));
    // una sola chiamata per lato, con gli stessi percorsi
    ASSERT_EQ(chiamate_a.size(), 1u);
    EXPECT_EQ(chiamate_a, chiamate_b);
    EXPECT_EQ(chiamate_a[0], (Percorsi{"diverso", "stesso", "vuoto"}));
    EXPECT_TRUE(avvisi.empty());

    // con una sola funzione d'impronta non si chiama nulla: uguale dimensione, uguale file
    chiamate_a.clear();
    EXPECT_EQ(confronta(a, b, ha, {}).size(), 2u);
    EXPECT_TRUE(chiamate_a.empty());
    // mappe vuote: nessuna chiamata
    EXPECT_TRUE(confronta({}, {}, ha, hb).empty());
    EXPECT_TRUE(chiamate_a.empty());
}

TEST(Confronta, ImprontaMancanteDiventaAvvisoUnaVolta) {
    std::vector<Percorsi> chiamate;
    const MappaDimensioni m = {{"gia_avvisato", 1}, {"illeggibile_remoto", 2}, {"ok", 3}};
    Impronte ha{{{"illeggibile_remoto", "x"}, {"ok", "y"}}, &chiamate};
    Impronte hb{{{"gia_avvisato", "z"}, {"ok", "y"}}, &chiamate};
    std::vector<Avviso> avvisi = {{"gia_avvisato", "Permission denied"}};
    auto r = confronta(m, m, ha, hb, &avvisi);
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(avvisi, (std::vector<Avviso>{{"gia_avvisato", "Permission denied"},
                                           {"illeggibile_remoto",
                                            "contenuto non confrontabile: file non leggibile"}}));
    // senza lista degli avvisi il file manca e basta
    EXPECT_TRUE(confronta(m, m, ha, hb).empty());
}

TEST(Confronta, GliErroriDelleImprontePassano) {
    const MappaDimensioni m = {{"a", 1}};
    FunzioneHash fallisce = [](const Percorsi&) -> MappaHash {
        throw ErroreRemoto("Non riesco a confrontare");
    };
    FunzioneHash vuota = [](const Percorsi&) { return MappaHash{}; };
    EXPECT_THROW(confronta(m, m, vuota, fallisce), ErroreRemoto);
}
