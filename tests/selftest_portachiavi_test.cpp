// etichetta: keyring
// Il programma con --selftest-keyring, con e senza un portachiavi raggiungibile.
#include <gtest/gtest.h>

#include <cstdlib>

#include "supporto/supporto.h"

namespace {

std::string programma() {
    const char* b = std::getenv("ORMEGGIO_BUILD");
    return std::string(b ? b : "build") + "/ormeggio";
}

TEST(SelftestPortachiavi, ConPortachiaviFunzionanteNonLasciaNiente) {
    std::string dir = prove::cartella_temporanea("selftest");
    int stato = -1;
    std::string out = prove::esegui_locale(
        programma() + " --selftest-keyring --esito=" + dir + "/esito 2>&1", &stato);
    EXPECT_EQ(stato, 0) << out;
    EXPECT_EQ(out.rfind("selftest-keyring: OK (backend ", 0), 0u) << out;
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(out.substr(out.size() - 2), ")\n");
    EXPECT_EQ(prove::leggi_file(dir + "/esito"), out);
    // Nessuna voce rimasta nel portachiavi.
    int trovato = 0;
    prove::esegui_locale("secret-tool search --all service Ormeggio-selftest 2>&1", &trovato);
    std::string resto =
        prove::esegui_locale("secret-tool lookup service Ormeggio-selftest account prova", &trovato);
    EXPECT_EQ(resto, "");
    EXPECT_NE(trovato, 0);
}

TEST(SelftestPortachiavi, SenzaDBusFallisce) {
    int stato = -1;
    std::string out = prove::esegui_locale(
        "env -i PATH=/usr/bin:/bin HOME=/tmp " + programma() + " --selftest-keyring 2>/dev/null",
        &stato);
    EXPECT_EQ(stato, 1);
    EXPECT_EQ(out.rfind("selftest-keyring: FALLITO (", 0), 0u) << out;
    EXPECT_EQ(out.substr(out.size() - 2), ")\n");
}

}  // namespace
