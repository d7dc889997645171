// Il programma lanciato come processo: modi a riga di comando e traccia di avvio.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "shell/avvio.h"
#include "supporto/supporto.h"

using namespace ormeggio;

namespace {

std::string programma() {
    const char* b = std::getenv("ORMEGGIO_BUILD");
    return std::string(b ? b : "build") + "/ormeggio";
}

struct Esito {
    int stato;
    std::string uscita;
};

// Lancia il programma con l'ambiente dato (env -i: niente DISPLAY né D-Bus se non richiesti).
Esito lancia(const std::string& argomenti, const std::string& ambiente = "") {
    int stato = 0;
    std::string out = prove::esegui_locale("env -i PATH=/usr/bin:/bin HOME=/tmp " + ambiente + " " +
                                               programma() + " " + argomenti + " 2>/dev/null",
                                           &stato);
    return {stato, out};
}

TEST(Avvio, VersioneOvunqueSenzaDisplay) {
    for (const char* argomenti : {"--version", "x --version y", "--selftest-keyring --version",
                                  "--version --selftest-keyring"}) {
        auto e = lancia(argomenti);
        EXPECT_EQ(e.stato, 0) << argomenti;
        EXPECT_EQ(e.uscita, "Ormeggio 1.34.3\n") << argomenti;
    }
}

TEST(Avvio, EsitoSuFile) {
    std::string dir = prove::cartella_temporanea("esito");
    std::string f = dir + "/esito.txt";
    prove::scrivi_file(f, "vecchio contenuto più lungo\n");
    auto e = lancia("--version --esito=" + f);
    EXPECT_EQ(e.stato, 0);
    EXPECT_EQ(prove::leggi_file(f), "Ormeggio 1.34.3\n");
    // "--esito=" vuoto non scrive niente (nemmeno nella cartella corrente).
    auto prima = std::distance(std::filesystem::directory_iterator(dir), {});
    e = lancia("--version --esito=", "");
    EXPECT_EQ(e.uscita, "Ormeggio 1.34.3\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), prima);
    std::filesystem::remove_all(dir);
}

TEST(Avvio, EsitoRichiesto) {
    using V = std::vector<std::string>;
    EXPECT_EQ(_esito_richiesto(V{"prog", "--esito=/a", "--esito=/b"}), "/a");
    EXPECT_EQ(_esito_richiesto(V{"prog", "--esito="}), "");
    EXPECT_EQ(_esito_richiesto(V{"prog", "--esito", "x--esito=/c"}), std::nullopt);
}

TEST(Avvio, SenzaDisplayLaTracciaVaNellaCartellaONelFile) {
    std::string dir = prove::cartella_temporanea("traccia");
    auto e = lancia("--foo", "ORMEGGIO_TRACCIA=" + dir);
    EXPECT_NE(e.stato, 0);
    std::string traccia = prove::leggi_file(dir + "/Ormeggio-avvio.log");
    EXPECT_EQ(traccia.rfind("Ormeggio: errore non gestito.\neseguibile: ", 0), 0u) << traccia;
    EXPECT_NE(traccia.find("\nargomenti:  " + programma() + " --foo\n"), std::string::npos);
    EXPECT_NE(traccia.find("\nruntime:    "), std::string::npos);
    EXPECT_NE(traccia.find("\n\n"), std::string::npos);
    EXPECT_NE(traccia.find("no display"), std::string::npos) << traccia;

    std::string file = dir + "/mia-traccia.txt";
    prove::scrivi_file(file, "contenuto precedente");
    e = lancia("", "ORMEGGIO_TRACCIA=" + file);
    EXPECT_NE(e.stato, 0);
    EXPECT_EQ(prove::leggi_file(file).rfind("Ormeggio: errore non gestito.\n", 0), 0u);
    std::filesystem::remove_all(dir);
}

TEST(Avvio, PercorsoTraccia) {
    std::string dir = prove::cartella_temporanea("tr");
    struct Caso {
        const char* traccia;
        const char* temp;
        const char* tmp;
        std::string atteso;
    };
    const std::vector<Caso> casi = {
        {nullptr, nullptr, nullptr, "/tmp/Ormeggio-avvio.log"},
        {"", "", "", "/tmp/Ormeggio-avvio.log"},
        {dir.c_str(), "/altro", nullptr, dir + "/Ormeggio-avvio.log"},
        {"", dir.c_str(), "/x", dir + "/Ormeggio-avvio.log"},
        {nullptr, nullptr, dir.c_str(), dir + "/Ormeggio-avvio.log"},
        {"/non/esiste/file.log", nullptr, nullptr, "/non/esiste/file.log"},
    };
    for (const auto& c : casi) {
        for (auto [nome, valore] : {std::pair{"ORMEGGIO_TRACCIA", c.traccia},
                                    std::pair{"TEMP", c.temp}, std::pair{"TMP", c.tmp}}) {
            if (valore)
                setenv(nome, valore, 1);
            else
                unsetenv(nome);
        }
        EXPECT_EQ(percorso_traccia_avvio(), c.atteso);
    }
    unsetenv("ORMEGGIO_TRACCIA");
    unsetenv("TEMP");
    unsetenv("TMP");
    // Una cartella che non esiste: la scrittura fallisce in silenzio.
    setenv("ORMEGGIO_TRACCIA", "/non/esiste/file.log", 1);
    _scrivi_traccia_avvio("x");
    unsetenv("ORMEGGIO_TRACCIA");
    std::filesystem::remove_all(dir);
}

TEST(Avvio, SegnaleFataleScriveLaTraccia) {
    std::string dir = prove::cartella_temporanea("segnale");
    // Un processo figlio che installa il gestore e poi si rompe.
    pid_t pid = fork();
    if (pid == 0) {
        setenv("ORMEGGIO_TRACCIA", dir.c_str(), 1);
        char a0[] = "prova", a1[] = "--rottura";
        char* argv[] = {a0, a1, nullptr};
        installa_gestore_eccezioni(2, argv);
        freopen("/dev/null", "w", stderr);
        raise(SIGSEGV);
        _exit(0);
    }
    int stato = 0;
    waitpid(pid, &stato, 0);
    EXPECT_TRUE(WIFSIGNALED(stato));
    std::string traccia = prove::leggi_file(dir + "/Ormeggio-avvio.log");
    EXPECT_NE(traccia.find("argomenti:  prova --rottura\n"), std::string::npos) << traccia;
    EXPECT_NE(traccia.find("SIGSEGV"), std::string::npos) << traccia;
    std::filesystem::remove_all(dir);
}

}  // namespace
