#include "compare/esclusioni.h"

#include <gtest/gtest.h>

using namespace ormeggio;

TEST(Normalizza, FormaNormale) {
    const std::pair<const char*, const char*> casi[] = {
        {"a/b", "a/b"}, {"/a/b/", "a/b"}, {"\\a\\b", "a/b"}, {"./a", "a"},       {"././a", "a"},
        {"/./a", "a"},  {"./", "."},      {"a//b", "a//b"},  {"a/./b", "a/./b"}, {"../a", "../a"},
        {"", ""},       {"///", ""},      {".//a", "/a"},    {"a\\b/", "a/b"},
    };
    for (auto [dato, atteso] : casi) EXPECT_EQ(normalizza(dato), atteso) << dato;
}

struct Caso {
    const char* modello;
    const char* percorso;
    bool atteso;
};

TEST(ModelloCorrisponde, TabellaDeiCasi) {
    const Caso casi[] = {
        // un nome senza barre vale in ogni cartella, con maiuscole distinte
        {".env", ".env", true},
        {".env", "web/.env", true},
        {".env", "a/b/.env", true},
        {".env", "x.env", false},
        {".env", ".env.local", false},
        {".env", ".ENV", false},
        {"/.env", ".env", true},
        {"/.env", "web/.env", false},
        // cartella con più componenti: prefisso letterale dalla radice
        {"config/keys/**", "config/keys", true},
        {"config/keys/**", "config/keys/a.pem", true},
        {"config/keys/**", "config/keys/sub/b", true},
        {"config/keys/**", "x/config/keys/a", false},
        {"config/keys/**", "config/keys2/a", false},
        {"/var/**", "var", true},
        {"/var/**", "var/log/x.log", true},
        {"/var/**", "vendor/pacchetto/var/cache", false},
        {"/var/**", "variabili", false},
        // un solo nome di cartella: a ogni profondità, anche come file
        {".git/**", ".git/config", true},
        {".git/**", "sub/.git/HEAD", true},
        {".git/**", "a/b/.git", true},
        {".git/**", "a.git/x", false},
        {"*.log", "a.log", true},
        {"*.log", "var/x/b.log", true},
        {"*.log", "a.log.gz", false},
        // la stella attraversa le barre; il modello con barra parte dalla radice
        {"docs/*.md", "docs/a.md", true},
        {"docs/*.md", "docs/x/y.md", true},
        {"docs/*.md", "z/docs/a.md", false},
        // nessun jolly nel prefisso di una cartella ancorata o composta
        {"config/*/**", "config/*/x", true},
        {"config/*/**", "config/a/x", false},
        // "./" non ancora: vale a ogni profondità
        {"./build/**", "build/x", true},
        {"./build/**", "src/build/x", true},
        {"logs/", "logs", true},
        {"logs/", "a/logs", true},
        {"  .env\t", "a/.env", true},
        {"\\var\\**", "var/x", true},
        {"\\var\\**", "a/var/x", false},
        {"config\\keys\\**", "config/keys/k", true},
        // modelli vuoti, barra sola, doppia stella
        {"", "a", false},
        {"   ", "a", false},
        {"/", "a", false},
        {"//", "a", false},
        {"**", "a/b/c", true},
        {"/**", "a/b/c", true},
        {"**", ".env", true},
        // insiemi di caratteri, "!" nega, "^" è un membro qualsiasi
        {"[ab].txt", "a.txt", true},
        {"[a-c].txt", "b.txt", true},
        {"[a-c].txt", "d.txt", false},
        {"[!a].txt", "b.txt", true},
        {"[!a].txt", "a.txt", false},
        {"[^a].txt", "^.txt", true},
        {"[^a].txt", "a.txt", true},
        {"[^a].txt", "b.txt", false},
        {"?.txt", "a.txt", true},
        {"a?b", "x/a/b", false},
        {"/a?b", "a/b", true},
        // "[" senza "]" è un carattere qualsiasi
        {"a[b", "a[b", true},
        {"a[b", "ab", false},
        {"[", "x/[", true},
        {"*[", "x/ab[", true},
    };
    for (const auto& c : casi)
        EXPECT_EQ(_modello_corrisponde(normalizza(c.percorso), c.modello), c.atteso)
            << "modello «" << c.modello << "» percorso «" << c.percorso << "»";
}

TEST(Escluso, ListeEPredefinite) {
    EXPECT_FALSE(escluso(".env", {}));
    EXPECT_TRUE(escluso("/web/.env", {"*.log", ".env"}));
    EXPECT_TRUE(escluso("web\\.env", {".env"}));
    EXPECT_TRUE(escluso("./.git/HEAD", {".env", ".env", ".git/**"}));
    EXPECT_FALSE(escluso("index.php", {".env", ".env"}));

    const std::pair<const char*, bool> predefinite[] = {
        {".env", true},
        {"sito/.env", true},
        {"config/keys/private.pem", true},
        {"var/log/app.log", true},
        {"vendor/lib/var/cache.php", false},
        {"storage/dump.sql", true},
        {"app/storage/x", false},
        {"a/_locale/note.txt", true},
        {"CLAUDE.md", true},
        {"doc/CLAUDE.md", true},
        {"lib/.git/objects/ab", true},
        {"index.php", false},
        {"src/Config/keys.php", false},
    };
    for (auto [p, atteso] : predefinite) EXPECT_EQ(escluso(p, PREDEFINITE), atteso) << p;
}

TEST(Dividi, OrdineConservatoInEntrambeLeListe) {
    auto [vuoto_a, vuoto_b] = dividi({}, PREDEFINITE);
    EXPECT_TRUE(vuoto_a.empty());
    EXPECT_TRUE(vuoto_b.empty());

    std::vector<Differenza> diff = {
        {"b.php", "nuovo", 1}, {".env", "modificato", 2}, {"a.php", "modificato", 3},
        {"var/x", "nuovo", 4}, {"c.php", "nuovo", 5},
    };
    auto [da_caricare, esclusi] = dividi(diff, PREDEFINITE);
    EXPECT_EQ(da_caricare, (std::vector<Differenza>{diff[0], diff[2], diff[4]}));
    EXPECT_EQ(esclusi, (std::vector<Differenza>{diff[1], diff[3]}));

    auto [tutti, nessuno] = dividi(diff, {});
    EXPECT_EQ(tutti, diff);
    EXPECT_TRUE(nessuno.empty());
}
