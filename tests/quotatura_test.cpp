// etichetta: unit
#include "remote/quotatura.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "supporto/supporto.h"

using ormeggio::in_shell;
using ormeggio::q;

TEST(Quotatura, FormaEsatta) {
    struct Caso {
        std::string parola, atteso;
    } casi[] = {
        {"", "''"},
        {"/srv/sito/index.php", "/srv/sito/index.php"},
        {"a_%+=:,./-@Z9", "a_%+=:,./-@Z9"},
        {"con spazio", "'con spazio'"},
        {"l'apice", "'l'\"'\"'apice'"},
        {"'", "''\"'\"''"},
        {"$(touch x)", "'$(touch x)'"},
        {"*", "'*'"},
        {"~", "'~'"},
        {"caffè", "'caffè'"},
    };
    for (const auto& c : casi) EXPECT_EQ(q(c.parola), c.atteso) << c.parola;
}

// La shell vera deve restituire la parola byte per byte, senza eseguire nulla.
TEST(Quotatura, LaShellRestituisceLaParolaIntatta) {
    std::string cartella = prove::cartella_temporanea("quota");
    const std::string parole[] = {
        "spazi e\ttab",
        "a\nriga",
        "\"doppie\"",
        "'singole'",
        "-n",
        "$(touch " + cartella + "/x)",
        "`touch " + cartella + "/y`",
        "*",
        "\xff\xfe",
        "\\barra",
        "$HOME",
        "a;b|c&d>e<f",
        "!storia",
        "",
    };
    for (const auto& parola : parole) {
        // printf %s X stampa X; od rende visibili i byte per il confronto.
        std::string comando = "printf %s " + q(parola) + " | od -An -tx1";
        std::string atteso_comando = "printf %s \"$1\" | od -An -tx1";
        std::string ottenuto = prove::esegui_locale("sh -c " + q(comando));
        std::string atteso =
            prove::esegui_locale("sh -c " + q(atteso_comando) + " sh " + q(parola));
        EXPECT_EQ(ottenuto, atteso) << parola;
    }
    EXPECT_EQ(prove::esegui_locale("ls -A " + q(cartella)), "");
}

TEST(Quotatura, InShellRendeUnaSolaParola) {
    EXPECT_EQ(in_shell("cd /srv && md5sum -- a"), "sh -c 'cd /srv && md5sum -- a'");
    std::string cartella = prove::cartella_temporanea("quota") + "/l'a b";
    std::filesystem::create_directory(cartella);
    std::string dentro = "cd " + q(cartella) + " && pwd";
    EXPECT_EQ(prove::esegui_locale(in_shell(dentro) + " 2>&1"), cartella + "\n");
}
