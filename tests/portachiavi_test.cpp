// etichetta: keyring
#include "sessions/portachiavi.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>

#include "supporto/supporto.h"

using namespace ormeggio;

namespace {

// Nomi propri di questo processo: il portachiavi di prova è condiviso tra le prove.
std::string nome_unico(const std::string& base) {
    return "prova-" + std::to_string(::getpid()) + "-" + base;
}

std::string dbus_secrets(const std::string& argomenti) {
    return prove::esegui_locale(
        "dbus-send --session --print-reply --dest=org.freedesktop.secrets "
        "/org/freedesktop/secrets " +
        argomenti + " 2>&1");
}

}  // namespace

TEST(Portachiavi, AndataERitorno) {
    const std::vector<std::string> password{
        "semplice", "", "àèìòù 🗑 'apice' \"virgolette\" \\ $HOME ; rm -rf",
        std::string(4096, 'x')};
    const std::string nome = nome_unico("andata");
    for (const auto& p : password) {
        salva_password(nome, "ssh", p);
        auto letta = carica_password(nome, "ssh");
        ASSERT_TRUE(letta.has_value()) << "lunghezza " << p.size();
        EXPECT_EQ(*letta, p);
        elimina_password(nome, "ssh");
        EXPECT_EQ(carica_password(nome, "ssh"), std::nullopt);
    }
}

TEST(Portachiavi, SostituzioneETipiSeparati) {
    const std::string nome = nome_unico("Città::sito");
    salva_password(nome, "ssh", "prima");
    salva_password(nome, "ssh", "seconda");
    salva_password(nome, "sudo", "di sudo");
    EXPECT_EQ(carica_password(nome, "ssh"), "seconda");
    EXPECT_EQ(carica_password(nome, "sudo"), "di sudo");
    // Un altro profilo con lo stesso inizio non vede le voci di questo.
    EXPECT_EQ(carica_password(nome + "x", "ssh"), std::nullopt);

    elimina_password(nome, "sudo");
    EXPECT_EQ(carica_password(nome, "sudo"), std::nullopt);
    EXPECT_EQ(carica_password(nome, "ssh"), "seconda");
    elimina_password(nome, "ssh");
    EXPECT_EQ(carica_password(nome, "ssh"), std::nullopt);
}

TEST(Portachiavi, MaiSalvataENonEsistente) {
    const std::string nome = nome_unico("mai");
    EXPECT_EQ(carica_password(nome, "ssh"), std::nullopt);
    EXPECT_NO_THROW(elimina_password(nome, "ssh"));
    EXPECT_NO_THROW(elimina_password(nome, "sudo"));
    EXPECT_FALSE(elimina_segreto(SERVIZIO_KEYRING, _chiave(nome, "ssh")));
}

// La voce è quella che il formato esterno promette: servizio "Ormeggio",
// account "nome::tipo", nella raccolta predefinita; un altro client la trova.
TEST(Portachiavi, VoceLeggibileDaAltriClient) {
    EXPECT_EQ(_chiave("sito", "sudo"), "sito::sudo");
    const std::string nome = nome_unico("esterna");
    const std::string account = _chiave(nome, "ssh");
    salva_password(nome, "ssh", "letta-da-fuori");
    int stato = -1;
    EXPECT_EQ(prove::esegui_locale("secret-tool lookup service Ormeggio account '" + account + "'",
                                   &stato),
              "letta-da-fuori");
    EXPECT_EQ(stato, 0);

    std::smatch m;
    const std::string alias =
        dbus_secrets("org.freedesktop.Secret.Service.ReadAlias string:default");
    ASSERT_TRUE(std::regex_search(alias, m, std::regex("object path \"([^\"]+)\""))) << alias;
    const std::string raccolta = m[1];
    ASSERT_NE(raccolta, "/");
    const std::string trovate = dbus_secrets(
        "org.freedesktop.Secret.Service.SearchItems dict:string:string:service,Ormeggio,account," +
        account);
    EXPECT_NE(trovate.find("object path \"" + raccolta + "/"), std::string::npos) << trovate;

    elimina_password(nome, "ssh");
    prove::esegui_locale("secret-tool lookup service Ormeggio account '" + account + "'", &stato);
    EXPECT_NE(stato, 0);
}

TEST(Portachiavi, ProvaRiesceENonLasciaNiente) {
    auto [ok, messaggio] = _prova_portachiavi();
    EXPECT_TRUE(ok) << messaggio;
    EXPECT_TRUE(std::regex_match(messaggio, std::regex(R"(OK \(backend SecretService/[^ ]+\))")))
        << messaggio;
    // Il nome del backend viene dal programma che possiede il servizio sul bus.
    EXPECT_EQ(messaggio, "OK (backend " + nome_backend_portachiavi() + ")");
    EXPECT_EQ(carica_segreto("Ormeggio-selftest", "prova"), std::nullopt);
    int stato = -1;
    prove::esegui_locale("secret-tool lookup service Ormeggio-selftest account prova", &stato);
    EXPECT_NE(stato, 0);
}

// Senza portachiavi raggiungibile. GLib e libsecret tengono la connessione al
// bus per tutto il processo: ogni caso gira in un processo nuovo (lo stile
// "threadsafe" rilancia l'eseguibile), che esce con 0 se tutto è andato come
// deve e altrimenti spiega su stderr.
namespace {

struct Irraggiungibile {
    const char* nome;
    // Prepara l'ambiente e restituisce come rimettere in ordine.
    std::function<std::function<void()>(const std::string& cartella)> prepara;
    double secondi_massimi;
    // Sul bus muto ogni operazione aspetta la scadenza: ne basta una.
    bool tutte_le_operazioni = true;
};

void PrintTo(const Irraggiungibile& caso, std::ostream* os) {
    *os << caso.nome;
}

std::function<void()> senza_bus(const std::string&) {
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::unsetenv("XDG_RUNTIME_DIR");
    return [] {};
}

std::function<void()> socket_morto(const std::string& cartella) {
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + cartella + "/nessuno").c_str(), 1);
    return [] {};
}

// Un socket che accetta le connessioni (le tiene il kernel) e non risponde mai.
std::function<void()> bus_muto(const std::string& cartella) {
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    const std::string percorso = cartella + "/muto";
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", percorso.c_str());
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 16) != 0)
        std::abort();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + percorso).c_str(), 1);
    return [s] { ::close(s); };
}

// Un vero bus di sessione, ma senza il servizio dei segreti e senza attivazione.
std::function<void()> bus_senza_portachiavi(const std::string& cartella) {
    const std::string conf = cartella + "/bus.conf";
    prove::scrivi_file(conf,
                       "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                       "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/"
                       "busconfig.dtd\">\n<busconfig><type>session</type><listen>unix:path=" +
                           cartella +
                           "/bus</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow "
                           "eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    int stato = -1;
    std::string pid =
        prove::esegui_locale("dbus-daemon --config-file=" + conf + " --fork --print-pid", &stato);
    if (stato != 0 || std::atoi(pid.c_str()) <= 0) std::abort();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + cartella + "/bus").c_str(), 1);
    pid_t demone = std::atoi(pid.c_str());
    return [demone] { ::kill(demone, SIGTERM); };
}

// Ogni operazione deve fallire con ErrorePortachiavi, con un messaggio, e in fretta.
std::string verifica_irraggiungibile(double secondi_massimi, bool tutte_le_operazioni) {
    std::vector<std::pair<const char*, std::function<void()>>> operazioni{
        {"carica_password", [] { carica_password("sito", "ssh"); }},
        {"salva_password", [] { salva_password("sito", "ssh", "x"); }},
        {"elimina_password", [] { elimina_password("sito", "ssh"); }},
    };
    if (!tutte_le_operazioni) operazioni.resize(1);
    std::string problemi;
    for (const auto& [nome, op] : operazioni) {
        auto inizio = std::chrono::steady_clock::now();
        std::string esito = "nessuna eccezione";
        try {
            op();
        } catch (const ErrorePortachiavi& e) {
            esito = std::string(e.what()).empty() ? "messaggio vuoto" : "";
        } catch (const std::exception& e) {
            esito = std::string("altra eccezione: ") + e.what();
        }
        std::chrono::duration<double> durata = std::chrono::steady_clock::now() - inizio;
        if (durata.count() > secondi_massimi)
            esito += " dopo " + std::to_string(durata.count()) + " s";
        if (!esito.empty()) problemi += std::string(nome) + ": " + esito + "\n";
    }
    auto [ok, messaggio] = _prova_portachiavi();
    if (ok || !std::regex_match(messaggio, std::regex(R"(FALLITO \(ErrorePortachiavi: .+\))")))
        problemi += "_prova_portachiavi: " + messaggio + "\n";
    return problemi;
}

class PortachiaviIrraggiungibileDeathTest : public testing::TestWithParam<Irraggiungibile> {};

}  // namespace

TEST_P(PortachiaviIrraggiungibileDeathTest, ErroreDistintoESvelto) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto& caso = GetParam();
    EXPECT_EXIT(
        {
            const std::string cartella = prove::cartella_temporanea("bus");
            auto riordina = caso.prepara(cartella);
            std::string problemi =
                verifica_irraggiungibile(caso.secondi_massimi, caso.tutte_le_operazioni);
            riordina();
            std::filesystem::remove_all(cartella);
            std::fprintf(stderr, "%s",
                         problemi.empty() ? "tutto come previsto\n" : problemi.c_str());
            std::fflush(stderr);
            std::_Exit(problemi.empty() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "tutto come previsto");
}

INSTANTIATE_TEST_SUITE_P(
    Casi, PortachiaviIrraggiungibileDeathTest,
    testing::Values(Irraggiungibile{"senza_bus", senza_bus, 4},
                    Irraggiungibile{"socket_morto", socket_morto, 4},
                    Irraggiungibile{"bus_senza_portachiavi", bus_senza_portachiavi, 4},
                    // Qui si aspetta la scadenza della connessione (5 s).
                    Irraggiungibile{"bus_muto", bus_muto, 8, false}),
    [](const testing::TestParamInfo<Irraggiungibile>& i) { return i.param.nome; });
