// etichetta: unit
#include "sessions/profili.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "supporto/supporto.h"

namespace fs = std::filesystem;
using namespace ormeggio;

namespace {

unsigned modo(const std::string& percorso) {
    struct stat st {};
    if (::stat(percorso.c_str(), &st) != 0) return 07777777;
    return st.st_mode & 07777;
}

// Data di modifica in nanosecondi: basta per vedere se il file è stato riscritto.
long long modificato(const std::string& percorso) {
    struct stat st {};
    ::stat(percorso.c_str(), &st);
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

void scrivi_profili_grezzi(const std::string& testo) {
    fs::create_directories(CARTELLA_CONFIG());
    prove::scrivi_file(FILE_PROFILI(), testo);
}

Json profilo(const std::string& nome, const std::string& host) {
    return Json{{"nome", nome},
                {"host", host},
                {"porta", 22},
                {"utente", "www"},
                {"chiave", ""},
                {"percorso", "/var/www"},
                {"percorso_locale", "/srv"},
                {"usa_sudo", true},
                {"ha_password_salvata", false}};
}

}  // namespace

TEST(Profili, SenzaFileListaVuotaEPrimoSalvataggioPrivato) {
    prove::CasaTemporanea casa;
    EXPECT_TRUE(carica_profili().empty());
    EXPECT_FALSE(fs::exists(CARTELLA_CONFIG()));

    std::vector<Json> lista{profilo("Città", "a.example"), profilo("zeta", "z.example")};
    salva_profili(lista);
    EXPECT_EQ(modo(CARTELLA_CONFIG()), 0700u);
    EXPECT_EQ(modo(FILE_PROFILI()), 0600u);
    EXPECT_EQ(carica_profili(), lista);

    // Rientro di 2 e caratteri non ASCII scritti come sono.
    std::string testo = prove::leggi_file(FILE_PROFILI());
    EXPECT_EQ(testo.rfind("[\n  {\n    \"nome\": \"Città\",\n    \"host\"", 0), 0u) << testo;
    // Niente file temporanei lasciati accanto.
    EXPECT_EQ(std::distance(fs::directory_iterator(CARTELLA_CONFIG()), fs::directory_iterator()),
              1);
}

TEST(Profili, PermessiRiportatiAPrivatiAOgniSalvataggio) {
    prove::CasaTemporanea casa;
    fs::create_directories(CARTELLA_CONFIG());
    fs::permissions(CARTELLA_CONFIG(), fs::perms(0755));
    scrivi_profili_grezzi("[]");
    fs::permissions(FILE_PROFILI(), fs::perms(0644));
    // Nemmeno una umask permissiva deve aprire il file agli altri.
    const mode_t umask_prima = ::umask(0);
    salva_profili({profilo("a", "h")});
    ::umask(umask_prima);
    EXPECT_EQ(modo(CARTELLA_CONFIG()), 0700u);
    EXPECT_EQ(modo(FILE_PROFILI()), 0600u);
}

TEST(Profili, FileInutilizzabileSiLeggeVuoto) {
    struct Caso {
        const char* nome;
        std::string contenuto;
    };
    const std::vector<Caso> casi{
        {"oggetto invece di array", R"({"nome": "a", "host": "h"})"},
        {"JSON non valido", R"([{"nome": "a", )"},
        {"UTF-8 non valido", "[{\"nome\": \"a\xff\xfe\"}]"},
        {"file vuoto", ""},
        {"testo", "nome=a"},
    };
    for (const auto& c : casi) {
        prove::CasaTemporanea casa;
        scrivi_profili_grezzi(c.contenuto);
        EXPECT_TRUE(carica_profili().empty()) << c.nome;
    }
}

TEST(Profili, CartellaAlPostoDelFile) {
    prove::CasaTemporanea casa;
    fs::create_directories(FILE_PROFILI() + "/dentro");
    EXPECT_TRUE(carica_profili().empty());
    // Scrivere non può riuscire: l'errore arriva al chiamante e la cartella resta.
    EXPECT_THROW(salva_profili({profilo("a", "h")}), std::system_error);
    EXPECT_TRUE(fs::is_directory(FILE_PROFILI() + "/dentro"));
    EXPECT_EQ(std::distance(fs::directory_iterator(CARTELLA_CONFIG()), fs::directory_iterator()),
              1);
}

TEST(Profili, ErroreDiScritturaArrivaAlChiamante) {
    prove::CasaTemporanea casa;
    // Un file dove dovrebbe esserci la cartella di configurazione.
    fs::create_directories(casa.percorso() + "/.config");
    prove::scrivi_file(CARTELLA_CONFIG(), "non una cartella");
    EXPECT_THROW(salva_profili({profilo("a", "h")}), std::exception);
    EXPECT_TRUE(carica_profili().empty());
}

// root legge anche un file 000: il caso si prova in un processo figlio che ha
// ceduto i privilegi all'utente nobody, proprietario della casa di prova.
TEST(Profili, FileIlleggibileSiLeggeVuoto) {
    prove::CasaTemporanea casa;
    salva_profili({profilo("a", "h")});
    const uid_t nessuno = 65534;
    const gid_t nessun_gruppo = 65534;
    if (::geteuid() == 0) {
        for (const auto& voce : fs::recursive_directory_iterator(casa.percorso()))
            ASSERT_EQ(::chown(voce.path().c_str(), nessuno, nessun_gruppo), 0);
        ASSERT_EQ(::chown(casa.percorso().c_str(), nessuno, nessun_gruppo), 0);
    }
    fs::permissions(FILE_PROFILI(), fs::perms::none);

    pid_t figlio = ::fork();
    ASSERT_GE(figlio, 0);
    if (figlio == 0) {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(nessun_gruppo) != 0 ||
                                 ::setuid(nessuno) != 0))
            ::_exit(3);
        // Il figlio non deve poter leggere il file, altrimenti la prova non prova niente.
        if (::access(FILE_PROFILI().c_str(), R_OK) == 0) ::_exit(4);
        if (!fs::is_regular_file(FILE_PROFILI())) ::_exit(5);
        ::_exit(carica_profili().empty() ? 0 : 1);
    }
    int stato = 0;
    ASSERT_EQ(::waitpid(figlio, &stato, 0), figlio);
    ASSERT_TRUE(WIFEXITED(stato));
    EXPECT_EQ(WEXITSTATUS(stato), 0) << "3: privilegi, 4: file leggibile, 5: file sparito";
}

TEST(Profili, VociSenzaNomeONonOggettiSaltate) {
    prove::CasaTemporanea casa;
    scrivi_profili_grezzi(R"([1, "testo", null, [], {"host": "h"}, {"nome": 3},
        {"nome": null}, {"nome": "buono", "porta": 2222}, true])");
    auto lista = carica_profili();
    ASSERT_EQ(lista.size(), 1u);
    EXPECT_EQ(lista[0], (Json{{"nome", "buono"}, {"porta", 2222}}));
}

TEST(Profili, TestoNonUtf8NonFaFallireLaScrittura) {
    prove::CasaTemporanea casa;
    Json p = profilo("sito\xff", "h\xc3");
    p["percorso"] = std::string("/var/\xe9t\xe9", 8);
    ASSERT_NO_THROW(salva_profili({p}));
    auto lista = carica_profili();
    ASSERT_EQ(lista.size(), 1u);
    EXPECT_EQ(lista[0]["nome"], "sito\xef\xbf\xbd");  // U+FFFD al posto del byte non valido
    EXPECT_EQ(lista[0]["porta"], 22);
}

TEST(Profili, NessunaPasswordNelFile) {
    prove::CasaTemporanea casa;
    Json p = profilo("a", "h");
    p["ha_password_salvata"] = true;
    p["password"] = "segreto-ssh";
    p["sudo_password"] = "segreto-sudo";
    salva_profili({p});
    std::string testo = prove::leggi_file(FILE_PROFILI());
    EXPECT_EQ(testo.find("segreto"), std::string::npos) << testo;
    auto lista = carica_profili();
    ASSERT_EQ(lista.size(), 1u);
    Json atteso = profilo("a", "h");
    atteso["ha_password_salvata"] = true;
    EXPECT_EQ(lista[0], atteso) << lista[0].dump();
}

TEST(Profili, AggiornaUltimiPercorsiSenzaProfiloNonToccaIlFile) {
    const std::vector<std::optional<std::string>> nomi{std::nullopt, "", "cancellato", "A"};
    for (const auto& nome : nomi) {
        prove::CasaTemporanea casa;
        salva_profili({profilo("a", "h"), profilo("b", "k")});
        // Una data vecchia rende visibile qualsiasi riscrittura.
        timespec vecchie[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, FILE_PROFILI().c_str(), vecchie, 0), 0);
        const std::string prima = prove::leggi_file(FILE_PROFILI());
        const long long data = modificato(FILE_PROFILI());

        aggiorna_ultimi_percorsi(nome, "/altrove", "/locale/altrove");
        EXPECT_EQ(prove::leggi_file(FILE_PROFILI()), prima) << nome.value_or("(assente)");
        EXPECT_EQ(modificato(FILE_PROFILI()), data) << nome.value_or("(assente)");
    }
}

TEST(Profili, AggiornaUltimiPercorsiCambiaSoloLeDueCartelle) {
    prove::CasaTemporanea casa;
    salva_profili({profilo("a", "h"), profilo("b", "k")});
    // Il file vale più della copia in memoria del modulo di accesso.
    auto nel_file = carica_profili();
    nel_file[1]["host"] = "cambiato.example";
    salva_profili(nel_file);

    aggiorna_ultimi_percorsi("b", "/var/www/nuovo", "/home/io/sito");

    auto atteso = nel_file;
    atteso[1]["percorso"] = "/var/www/nuovo";
    atteso[1]["percorso_locale"] = "/home/io/sito";
    auto dopo = carica_profili();
    EXPECT_EQ(dopo, atteso);
    // Stesso ordine dei campi di prima.
    EXPECT_EQ(dopo[1].begin().key(), "nome");
    EXPECT_EQ(modo(FILE_PROFILI()), 0600u);
}
