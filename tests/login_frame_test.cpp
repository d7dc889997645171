// etichetta: gui
// Il modulo di accesso con widget Tk veri sotto Xvfb, il portachiavi vero in una
// sessione D-Bus privata e il server SSH di prova su loopback. I dialoghi sono
// procedure Tcl sostituite da risposte preparate.
// gtest prima di Tk: le macro di X11 (None, Bool) romperebbero le sue intestazioni.
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include "sessions/login_frame.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "browser/browser_frame.h"
#include "sessions/impostazioni.h"
#include "sessions/portachiavi.h"
#include "sessions/profili.h"
#include "shell/app.h"
#include "shell/i18n.h"
#include "supporto/gui.h"
#include "supporto/supporto.h"
#include "tk/tk.h"

using namespace ormeggio;
using namespace std::chrono_literals;

namespace {

// Un ascoltatore TCP su 127.0.0.1 che accetta e non parla mai; conta le connessioni.
class AscoltatoreMuto {
  public:
    AscoltatoreMuto() {
        _fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t l = sizeof a;
        if (_fd < 0 || ::bind(_fd, reinterpret_cast<sockaddr*>(&a), l) != 0 ||
            ::listen(_fd, 8) != 0 || ::getsockname(_fd, reinterpret_cast<sockaddr*>(&a), &l) != 0)
            throw std::runtime_error("ascoltatore muto");
        porta = ntohs(a.sin_port);
        _thread = std::thread([this] {
            while (!_fine) {
                pollfd pf{_fd, POLLIN, 0};
                if (::poll(&pf, 1, 50) > 0) {
                    int c = ::accept(_fd, nullptr, nullptr);
                    if (c >= 0) {
                        _clienti.push_back(c);
                        ++accettate;
                    }
                }
            }
        });
    }
    ~AscoltatoreMuto() {
        _fine = true;
        _thread.join();
        for (int c : _clienti) ::close(c);
        ::close(_fd);
    }
    int porta = 0;
    std::atomic<int> accettate{0};

  private:
    int _fd = -1;
    std::atomic<bool> _fine{false};
    std::vector<int> _clienti;
    std::thread _thread;
};

// Una porta di loopback su cui nessuno ascolta: la connessione è rifiutata.
int porta_chiusa() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t l = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), l);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &l);
    ::close(fd);
    return ntohs(a.sin_port);
}

struct Connesso {
    int volte = 0;
    std::shared_ptr<ssh::Connessione> client;
    std::shared_ptr<ssh::Sftp> sftp;
    std::string percorso_iniziale, percorso_locale_iniziale;
    std::optional<std::string> sudo_password, nome_profilo;
};

// Nomi di profilo di queste prove: le voci del portachiavi vanno tolte alla fine.
const char* const NOMI[] = {
    "Sito login", "alfa login", "Beta login", "gamma login", "Sito login rinominato", "Zeta login"};

class ModuloAccesso : public testing::Test {
  protected:
    void SetUp() override {
        set_language("it");
        prove::prepara_tk();
        tk::chiama("ttk::style", "theme", "use", "clam");
        tk::chiama("wm", "geometry", ".", GEOMETRIA_LOGIN);
        _ripulisci_portachiavi();
    }
    void TearDown() override {
        if (esito.client) esito.client->chiudi();
        esito = {};
        f.reset();
        _ripulisci_portachiavi();
        set_language("it");
    }

    void crea_modulo() {
        f.reset();
        f = LoginFrame::crea(
            ".", [this](std::shared_ptr<ssh::Connessione> c, std::shared_ptr<ssh::Sftp> s,
                        const std::string& pi, const std::string& pli,
                        std::optional<std::string> sp, std::optional<std::string> np) {
                ++esito.volte;
                esito.client = std::move(c);
                esito.sftp = std::move(s);
                esito.percorso_iniziale = pi;
                esito.percorso_locale_iniziale = pli;
                esito.sudo_password = std::move(sp);
                esito.nome_profilo = std::move(np);
            });
        tk::chiama("pack", f->percorso, "-fill", "both", "-expand", 1);
        tk::chiama("update");
    }

    std::string stato() { return tk::chiama(f->label_stato, "cget", "-text"); }
    std::string colore() { return tk::chiama(f->label_stato, "cget", "-foreground"); }
    bool connetti_attivo() { return tk::chiama(f->btn_connetti, "instate", "!disabled") == "1"; }
    std::vector<std::string> righe() {
        return tk::dividi_lista(tk::chiama(f->lista_sessioni, "get", 0, "end"));
    }

    // Un clic sulla riga, come farebbe l'utente (la selezione poi carica il profilo).
    // I tempi degli eventi decidono se Tk vede un doppio clic: due clic singoli di
    // seguito non devono sembrarlo.
    void clic_riga(int i, bool doppio = false) {
        tk::chiama(f->lista_sessioni, "see", i);
        tk::chiama("update");
        auto bbox = tk::dividi_lista(tk::chiama(f->lista_sessioni, "bbox", i));
        ASSERT_EQ(bbox.size(), 4u);
        int x = std::atoi(bbox[0].c_str()) + 5, y = std::atoi(bbox[1].c_str()) + 3;
        _tempo_eventi += 10000;
        for (int volta = 0; volta < (doppio ? 2 : 1); ++volta) {
            _tempo_eventi += 40;
            tk::chiama("event", "generate", f->lista_sessioni, "<ButtonPress-1>", "-x", x, "-y", y,
                       "-time", _tempo_eventi);
            tk::chiama("event", "generate", f->lista_sessioni, "<ButtonRelease-1>", "-x", x, "-y",
                       y, "-time", _tempo_eventi + 10);
        }
        tk::elabora_eventi();
    }

    void compila(const std::string& host, const std::string& porta, const std::string& utente,
                 const std::string& password) {
        f->var_host->set(host);
        f->var_porta->set(porta);
        f->var_utente->set(utente);
        f->var_password->set(password);
    }
    void compila_server(const std::string& password) {
        compila(prove::fatto_ssh("HOST"), prove::fatto_ssh("PORTA"), prove::fatto_ssh("UTENTE"),
                password);
    }

    // Attende la fine del lavoro di connessione: riuscito o fallito.
    bool attendi_esito(std::chrono::milliseconds limite = 25s) {
        return tk::attendi_finche([&] { return esito.volte > 0 || connetti_attivo(); }, limite);
    }

    Json profilo_nel_file(const std::string& nome) {
        for (const auto& p : carica_profili())
            if (p["nome"] == nome) return p;
        return Json();
    }

    static void _ripulisci_portachiavi() {
        for (const char* n : NOMI)
            for (const char* tipo : {"ssh", "sudo"}) elimina_password(n, tipo);
    }

    prove::CasaTemporanea casa;
    std::shared_ptr<LoginFrame> f;
    Connesso esito;
    static inline long _tempo_eventi = 1000000;
};

}  // namespace

// ---- disposizione ----

TEST_F(ModuloAccesso, TestiInItalianoEInglese) {
    struct Caso {
        const char* lingua;
        std::vector<std::pair<std::string, std::string>> testi;  // widget relativo, testo
    };
    const Caso casi[] = {
        {"it",
         {{".sessioni", "Sessioni salvate"},
          {".sessioni.barra.nuovo", "Nuovo"},
          {".sessioni.barra.elimina", "Elimina"},
          {".modulo.titolo", "Connessione SSH"},
          {".modulo.accesso", "Dati di accesso"},
          {".modulo.accesso.l0", "Descrizione"},
          {".modulo.accesso.l1", "Host"},
          {".modulo.accesso.l2", "Porta"},
          {".modulo.accesso.l3", "Utente"},
          {".modulo.accesso.l4", "Password"},
          {".modulo.accesso.l5", "Chiave privata (opzionale)"},
          {".modulo.accesso.sfoglia", "Sfoglia…"},
          {".modulo.cartelle", "Cartelle iniziali"},
          {".modulo.cartelle.l0", "Remota"},
          {".modulo.cartelle.l1", "Locale"},
          {".modulo.sicurezza", "Sicurezza"},
          {".modulo.sicurezza.usa_sudo", "Usa sudo per i permessi"},
          {".modulo.sicurezza.l1", "Password sudo (vuota = usa quella SSH)"},
          {".modulo.sicurezza.salva_password",
           "Salva password (cifrata nel portachiavi di sistema)"},
          {".modulo.pulsanti.salva", "Salva profilo"},
          {".modulo.pulsanti.connetti", "Connetti"}}},
        {"en",
         {{".sessioni", "Saved sessions"},
          {".sessioni.barra.nuovo", "New"},
          {".sessioni.barra.elimina", "Delete"},
          {".modulo.titolo", "SSH connection"},
          {".modulo.accesso", "Login details"},
          {".modulo.accesso.l0", "Description"},
          {".modulo.accesso.l3", "Username"},
          {".modulo.accesso.l5", "Private key (optional)"},
          {".modulo.accesso.sfoglia", "Browse…"},
          {".modulo.cartelle", "Initial folders"},
          {".modulo.cartelle.l0", "Remote"},
          {".modulo.cartelle.l1", "Local"},
          {".modulo.sicurezza", "Security"},
          {".modulo.sicurezza.usa_sudo", "Use sudo for permissions"},
          {".modulo.sicurezza.l1", "Sudo password (empty = use the SSH one)"},
          {".modulo.sicurezza.salva_password", "Save password (encrypted in the system keyring)"},
          {".modulo.pulsanti.salva", "Save profile"},
          {".modulo.pulsanti.connetti", "Connect"}}},
    };
    for (const auto& caso : casi) {
        set_language(caso.lingua);
        crea_modulo();
        for (const auto& [widget, testo] : caso.testi)
            EXPECT_EQ(tk::chiama(f->percorso + widget, "cget", "-text"), testo)
                << caso.lingua << " " << widget;
    }
}

TEST_F(ModuloAccesso, WidgetComeDescritti) {
    crea_modulo();
    const std::string& l = f->lista_sessioni;
    EXPECT_EQ(tk::chiama(l, "cget", "-width"), "26");
    EXPECT_EQ(tk::chiama(l, "cget", "-height"), "20");
    EXPECT_EQ(tk::chiama(l, "cget", "-relief"), "flat");
    EXPECT_EQ(tk::chiama(l, "cget", "-highlightthickness"), "1");
    EXPECT_EQ(tk::chiama(l, "cget", "-highlightbackground"), "#c8c8c8");
    EXPECT_EQ(tk::chiama(l, "cget", "-exportselection"), "0");
    EXPECT_EQ(tk::chiama(f->percorso, "cget", "-padding"), "15");
    EXPECT_EQ(tk::chiama(f->percorso + ".modulo.accesso.e4", "cget", "-show"), "*");
    EXPECT_EQ(tk::chiama(f->percorso + ".modulo.accesso.e1", "cget", "-show"), "");
    EXPECT_EQ(tk::chiama(f->entry_sudo, "cget", "-show"), "*");
    EXPECT_EQ(tk::chiama(f->label_stato, "cget", "-foreground"), "#b3261e");
    EXPECT_EQ(stato(), "");
    for (const auto& b : {f->btn_salva, f->btn_connetti})
        EXPECT_EQ(tk::chiama(b, "cget", "-width"), "16");
    EXPECT_EQ(f->var_porta->get(), "22");
    EXPECT_EQ(f->var_percorso->get(), "/");
    EXPECT_EQ(f->var_percorso_locale->get(), casa.percorso());

    // L'entry di sudo segue la casella, cliccata come farebbe l'utente.
    const std::string casella = f->percorso + ".modulo.sicurezza.usa_sudo";
    EXPECT_EQ(tk::chiama(f->entry_sudo, "cget", "-state"), "disabled");
    tk::chiama(casella, "invoke");
    EXPECT_EQ(tk::chiama(f->entry_sudo, "cget", "-state"), "normal");
    tk::chiama(casella, "invoke");
    EXPECT_EQ(tk::chiama(f->entry_sudo, "cget", "-state"), "disabled");
}

TEST_F(ModuloAccesso, LeDueBarreDiPulsantiRestanoAllineate) {
    // Nomi e percorsi lunghissimi non devono spostare né nascondere le barre.
    std::vector<Json> profili;
    for (int i = 0; i < 40; ++i)
        profili.push_back({{"nome", "profilo " + std::to_string(i) + std::string(200, 'x')},
                           {"host", std::string(300, 'h')},
                           {"percorso_locale", "/" + std::string(500, 'p')}});
    salva_profili(profili);
    crea_modulo();
    clic_riga(3);
    for (const char* geometria : {"1000x640", "1500x850", "1100x700", "1000x900"}) {
        tk::chiama("wm", "geometry", ".", geometria);
        tk::chiama("update");
        int lista = std::atoi(tk::chiama("winfo", "rooty", f->barra_lista).c_str());
        int modulo = std::atoi(tk::chiama("winfo", "rooty", f->barra_pulsanti).c_str());
        EXPECT_LE(std::abs(lista - modulo), 2) << geometria;
        // Tutti e due i pulsanti del modulo restano dentro la finestra.
        int destra_connetti = std::atoi(tk::chiama("winfo", "rootx", f->btn_connetti).c_str()) +
                              std::atoi(tk::chiama("winfo", "width", f->btn_connetti).c_str());
        int destra_finestra = std::atoi(tk::chiama("winfo", "rootx", ".").c_str()) +
                              std::atoi(tk::chiama("winfo", "width", ".").c_str());
        EXPECT_LE(destra_connetti, destra_finestra) << geometria;
        EXPECT_EQ(tk::chiama("winfo", "ismapped", f->btn_connetti), "1") << geometria;
    }
    tk::chiama("wm", "geometry", ".", GEOMETRIA_LOGIN);
}

// ---- porta ----

TEST(LeggiPorta, InteriDecimali) {
    struct Caso {
        const char* testo;
        std::optional<long long> porta;
    };
    const Caso casi[] = {{"22", 22},
                         {" 2222 ", 2222},
                         {"", 22},
                         {"   ", 22},
                         {"+2222", 2222},
                         {"-1", -1},
                         {"0", 0},
                         {"99999", 99999},
                         {"abc", std::nullopt},
                         {"22abc", std::nullopt},
                         {"2 2", std::nullopt},
                         {"0x16", std::nullopt},
                         {"22.0", std::nullopt},
                         {"+", std::nullopt},
                         {"++2", std::nullopt},
                         {"99999999999999999999", std::nullopt}};
    for (const auto& c : casi) EXPECT_EQ(leggi_porta(c.testo), c.porta) << "'" << c.testo << "'";
}

// ---- salvataggio ----

TEST_F(ModuloAccesso, ValidazioneDelSalvataggioNonScriveNulla) {
    struct Caso {
        const char* nome;
        const char* porta;
        const char* messaggio;
    };
    const Caso casi[] = {
        {"", "22", "La descrizione della sessione è obbligatoria per salvarla."},
        {"   ", "22", "La descrizione della sessione è obbligatoria per salvarla."},
        {"Sito login", "abc", "Porta non valida."},
        {"", "abc", "La descrizione della sessione è obbligatoria per salvarla."},
    };
    crea_modulo();
    for (const auto& c : casi) {
        f->var_nome->set(c.nome);
        f->var_porta->set(c.porta);
        f->var_salva_password->set_bool(true);
        f->var_password->set("segreta");
        EXPECT_FALSE(f->_salva_profilo());
        EXPECT_EQ(stato(), c.messaggio);
        EXPECT_EQ(colore(), "red");
    }
    EXPECT_FALSE(std::filesystem::exists(FILE_PROFILI()));
    EXPECT_FALSE(carica_password("Sito login", "ssh"));
}

TEST_F(ModuloAccesso, SalvaConESenzaPassword) {
    struct Caso {
        bool salva_password;
        bool usa_sudo;
        std::optional<std::string> ssh, sudo;  // attesi nel portachiavi
    };
    const Caso casi[] = {
        {true, true, "pw ssh", "pw sudo"},
        {true, false, "pw ssh", std::nullopt},  // la password di sudo di prima sparisce
        {false, true, std::nullopt, std::nullopt},
    };
    crea_modulo();
    for (const auto& c : casi) {
        f->var_nome->set("  Sito login ");
        compila(" esempio.test ", " 2222 ", " mario ", "pw ssh");
        f->var_chiave->set("");
        f->var_percorso->set("  ");
        f->var_percorso_locale->set("");
        f->var_usa_sudo->set_bool(c.usa_sudo);
        f->var_sudo_password->set("pw sudo");
        f->var_salva_password->set_bool(c.salva_password);
        tk::chiama(f->btn_salva, "invoke");
        EXPECT_EQ(stato(), "Profilo \"Sito login\" salvato.");
        EXPECT_EQ(colore(), "green");
        EXPECT_EQ(carica_password("Sito login", "ssh"), c.ssh);
        EXPECT_EQ(carica_password("Sito login", "sudo"), c.sudo);

        const std::string testo = prove::leggi_file(FILE_PROFILI());
        EXPECT_EQ(testo.find("pw ssh"), std::string::npos);
        EXPECT_EQ(testo.find("pw sudo"), std::string::npos);
        Json atteso = {{"nome", "Sito login"},
                       {"host", "esempio.test"},
                       {"porta", 2222},
                       {"utente", "mario"},
                       {"chiave", ""},
                       {"percorso", "/"},
                       {"percorso_locale", casa.percorso()},
                       {"usa_sudo", c.usa_sudo},
                       {"ha_password_salvata", c.salva_password}};
        EXPECT_EQ(Json::parse(testo), Json::array({atteso}));
        EXPECT_EQ(righe(), std::vector<std::string>{"Sito login"});
        EXPECT_EQ(tk::chiama(f->lista_sessioni, "curselection"), "0");
    }
}

TEST_F(ModuloAccesso, RinominaSpostaLePasswordEOrdinaSenzaMaiuscole) {
    salva_profili({{{"nome", "alfa login"}, {"host", "a"}},
                   {{"nome", "Sito login"}, {"host", "s"}, {"ha_password_salvata", true}},
                   {{"nome", "Zeta login"}, {"host", "z"}}});
    salva_password("Sito login", "ssh", "vecchia");
    salva_password("Sito login", "sudo", "vecchia sudo");
    crea_modulo();
    EXPECT_EQ(righe(), (std::vector<std::string>{"alfa login", "Sito login", "Zeta login"}));
    clic_riga(1);
    EXPECT_EQ(f->var_password->get(), "vecchia");
    f->var_nome->set("Beta login");
    f->var_usa_sudo->set_bool(true);
    tk::chiama(f->btn_salva, "invoke");

    EXPECT_EQ(stato(), "Profilo \"Beta login\" salvato.");
    EXPECT_EQ(righe(), (std::vector<std::string>{"alfa login", "Beta login", "Zeta login"}));
    EXPECT_EQ(tk::chiama(f->lista_sessioni, "curselection"), "1");
    EXPECT_EQ(carica_password("Beta login", "ssh"), "vecchia");
    EXPECT_EQ(carica_password("Beta login", "sudo"), "vecchia sudo");
    EXPECT_FALSE(carica_password("Sito login", "ssh"));
    EXPECT_FALSE(carica_password("Sito login", "sudo"));
    std::vector<std::string> nel_file;
    for (const auto& p : carica_profili()) nel_file.push_back(p["nome"]);
    EXPECT_EQ(nel_file, (std::vector<std::string>{"alfa login", "Beta login", "Zeta login"}));
    EXPECT_EQ(profilo_nel_file("Beta login")["host"], "s");
}

// ---- eliminazione ----

TEST_F(ModuloAccesso, EliminaChiedeConfermaERipulisce) {
    salva_profili({{{"nome", "alfa login"}, {"host", "a"}},
                   {{"nome", "Sito login"}, {"host", "s"}, {"ha_password_salvata", true}}});
    salva_password("Sito login", "ssh", "pw");
    crea_modulo();

    // Nulla selezionato: solo l'avviso.
    prove::risposte_dialoghi({"ok"});
    tk::chiama(f->btn_elimina, "invoke");
    EXPECT_EQ(prove::dialoghi_chiamati(),
              std::vector<std::string>{"tk_messageBox -title=Nessuna selezione "
                                       "-message=Seleziona un profilo da eliminare."});
    EXPECT_EQ(carica_profili().size(), 2u);

    // Risposta no: nulla cambia.
    clic_riga(1);
    prove::risposte_dialoghi({"no", "yes"});
    tk::chiama(f->btn_elimina, "invoke");
    EXPECT_EQ(prove::dialoghi_chiamati().back(),
              "tk_messageBox -title=Conferma -message=Eliminare il profilo \"Sito login\"?");
    EXPECT_EQ(carica_profili().size(), 2u);
    EXPECT_EQ(righe().size(), 2u);
    EXPECT_EQ(carica_password("Sito login", "ssh"), "pw");
    EXPECT_EQ(f->var_host->get(), "s");

    // Risposta sì: via il record e le password; il modulo torna nuovo.
    tk::chiama(f->btn_elimina, "invoke");
    EXPECT_EQ(prove::dialoghi_chiamati().size(), 3u);
    EXPECT_EQ(righe(), std::vector<std::string>{"alfa login"});
    EXPECT_EQ(carica_profili().size(), 1u);
    EXPECT_FALSE(carica_password("Sito login", "ssh"));
    EXPECT_EQ(f->var_host->get(), "");
    EXPECT_EQ(f->var_nome->get(), "");
    EXPECT_FALSE(f->nome_profilo_corrente);
    EXPECT_EQ(tk::chiama(f->lista_sessioni, "curselection"), "");
}

// ---- scelta di chiave e cartella ----

TEST_F(ModuloAccesso, SfogliaChiaveECartellaLocale) {
    crea_modulo();
    // Cartella iniziale del dialogo delle cartelle: quella del campo, o la predefinita.
    auto ultima_cartella_iniziale = [] {
        auto chiamate = tk::dividi_lista(tk::chiama("set", "::prove::chiamate"));
        auto argomenti = tk::dividi_lista(tk::dividi_lista(chiamate.back()).at(1));
        for (size_t i = 0; i + 1 < argomenti.size(); i += 2)
            if (argomenti[i] == "-initialdir") return argomenti[i + 1];
        return std::string("?");
    };
    prove::risposte_dialoghi({"/chiavi/id_prova", "", "/srv/sito", ""});
    tk::chiama(f->btn_sfoglia_chiave, "invoke");
    EXPECT_EQ(f->var_chiave->get(), "/chiavi/id_prova");
    tk::chiama(f->btn_sfoglia_chiave, "invoke");  // annullato
    EXPECT_EQ(f->var_chiave->get(), "/chiavi/id_prova");

    f->var_percorso_locale->set("");
    tk::chiama(f->btn_sfoglia_locale, "invoke");
    EXPECT_EQ(ultima_cartella_iniziale(), casa.percorso());
    EXPECT_EQ(f->var_percorso_locale->get(), "/srv/sito");
    tk::chiama(f->btn_sfoglia_locale, "invoke");  // annullato
    EXPECT_EQ(ultima_cartella_iniziale(), "/srv/sito");
    EXPECT_EQ(f->var_percorso_locale->get(), "/srv/sito");

    auto d = prove::dialoghi_chiamati();
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[0], "tk_getOpenFile -title=Seleziona chiave privata");
    EXPECT_EQ(d[2], "tk_chooseDirectory -title=Seleziona cartella locale iniziale");
}

// ---- caricamento ----

TEST_F(ModuloAccesso, CaricaUnFileScrittoAMano) {
    imposta_percorso_remoto_predefinito("/var/www");
    prove::scrivi_file(casa.percorso() + "/.config/approdo/profili.json",
                       R"([
          {"nome": "alfa login", "host": 42, "porta": "2200", "utente": null, "usa_sudo": "sì",
           "percorso": "", "percorso_locale": ""},
          "non un oggetto",
          {"host": "senza nome"},
          {"nome": "Beta login", "porta": 2222, "percorso": ["x"], "ha_password_salvata": 1},
          {"nome": "gamma login", "host": "g.test", "porta": 22, "utente": "u", "chiave": "/k",
           "percorso": "/srv", "percorso_locale": "/tmp", "usa_sudo": true}
        ])");
    crea_modulo();
    EXPECT_EQ(righe(), (std::vector<std::string>{"alfa login", "Beta login", "gamma login"}));

    struct Caso {
        int riga;
        std::string host, porta, utente, chiave, percorso, locale;
        bool sudo;
    };
    const Caso casi[] = {
        {0, "", "2200", "", "", "", casa.percorso(), false},
        {1, "", "2222", "", "", "/var/www", casa.percorso(), false},
        {2, "g.test", "22", "u", "/k", "/srv", "/tmp", true},
    };
    for (const auto& c : casi) {
        clic_riga(c.riga);
        EXPECT_EQ(f->var_host->get(), c.host) << c.riga;
        EXPECT_EQ(f->var_porta->get(), c.porta) << c.riga;
        EXPECT_EQ(f->var_utente->get(), c.utente) << c.riga;
        EXPECT_EQ(f->var_chiave->get(), c.chiave) << c.riga;
        EXPECT_EQ(f->var_percorso->get(), c.percorso) << c.riga;
        EXPECT_EQ(f->var_percorso_locale->get(), c.locale) << c.riga;
        EXPECT_EQ(f->var_usa_sudo->get_bool(), c.sudo) << c.riga;
        EXPECT_EQ(tk::chiama(f->entry_sudo, "cget", "-state"), c.sudo ? "normal" : "disabled");
        EXPECT_FALSE(f->var_salva_password->get_bool()) << c.riga;
    }

    // "Nuovo" svuota il modulo e rimette i valori predefiniti, stato invariato.
    f->_mostra_stato("qualcosa", "green");
    tk::chiama(f->btn_nuovo, "invoke");
    EXPECT_FALSE(f->nome_profilo_corrente);
    EXPECT_EQ(f->var_host->get(), "");
    EXPECT_EQ(f->var_porta->get(), "22");
    EXPECT_EQ(f->var_percorso->get(), "/var/www");
    EXPECT_EQ(f->var_percorso_locale->get(), casa.percorso());
    EXPECT_EQ(tk::chiama(f->entry_sudo, "cget", "-state"), "disabled");
    EXPECT_EQ(tk::chiama(f->lista_sessioni, "curselection"), "");
    EXPECT_EQ(stato(), "qualcosa");
}

TEST_F(ModuloAccesso, PortachiaviIrraggiungibileAlCaricamentoEPoiConnetti) {
    salva_profili({{{"nome", "Sito login"},
                    {"host", "127.0.0.1"},
                    {"porta", 22},
                    {"utente", "u"},
                    {"usa_sudo", true},
                    {"ha_password_salvata", true}}});
    salva_password("Sito login", "ssh", "pw");
    salva_password("Sito login", "sudo", "pw sudo");
    crea_modulo();

    // Raggiungibile: le password arrivano nei campi e la riga di stato si svuota.
    f->_mostra_stato("vecchio messaggio", "green");
    clic_riga(0);
    EXPECT_EQ(f->var_password->get(), "pw");
    EXPECT_EQ(f->var_sudo_password->get(), "pw sudo");
    EXPECT_EQ(stato(), "");

    std::string bus =
        std::getenv("DBUS_SESSION_BUS_ADDRESS") ? std::getenv("DBUS_SESSION_BUS_ADDRESS") : "";
    std::string runtime = std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::unsetenv("XDG_RUNTIME_DIR");
    tk::chiama(f->btn_nuovo, "invoke");
    clic_riga(0);
    EXPECT_EQ(f->var_password->get(), "");
    EXPECT_EQ(f->var_sudo_password->get(), "");
    EXPECT_EQ(
        stato().rfind("Portachiavi di sistema non raggiungibile, password non recuperata: ", 0), 0u)
        << stato();
    EXPECT_GT(stato().size(), 70u);
    EXPECT_EQ(colore(), "red");

    tk::chiama(f->btn_connetti, "invoke");
    EXPECT_EQ(stato(),
              "La password dovrebbe essere salvata ma non è stata recuperata dal portachiavi. "
              "Reinseriscila e riprova.");
    EXPECT_TRUE(connetti_attivo());

    // Salvare senza portachiavi: messaggio, e il file resta com'era.
    const std::string prima = prove::leggi_file(FILE_PROFILI());
    f->var_password->set("nuova");
    f->var_host->set("altro.test");
    EXPECT_FALSE(f->_salva_profilo());
    EXPECT_EQ(stato().rfind("Portachiavi di sistema non disponibile: ", 0), 0u) << stato();
    EXPECT_EQ(prove::leggi_file(FILE_PROFILI()), prima);

    if (!bus.empty()) ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
    if (!runtime.empty()) ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    EXPECT_EQ(carica_password("Sito login", "ssh"), "pw");
}

// ---- connessione: validazione ----

TEST_F(ModuloAccesso, ValidazioneDellaConnessione) {
    struct Caso {
        const char* host;
        const char* porta;
        const char* utente;
        const char* messaggio;
    };
    const Caso casi[] = {
        {"", "22", "u", "Host e utente sono obbligatori."},
        {"h", "22", "  ", "Host e utente sono obbligatori."},
        {"h", "abc", "u", "Porta non valida."},
        {"h", "2 2", "u", "Porta non valida."},
    };
    crea_modulo();
    for (const auto& c : casi) {
        compila(c.host, c.porta, c.utente, "pw");
        tk::chiama(f->btn_connetti, "invoke");
        EXPECT_EQ(stato(), c.messaggio) << c.porta;
        EXPECT_EQ(colore(), "red");
        EXPECT_TRUE(connetti_attivo());
    }
    tk::elabora_eventi();
    EXPECT_EQ(esito.volte, 0);
}

// ---- connessione: server vero ----

TEST_F(ModuloAccesso, ConnessioneConPasswordESudo) {
    imposta_percorso_remoto_predefinito("/srv");
    struct Caso {
        bool usa_sudo;
        const char* sudo_password;
        std::optional<std::string> sudo_atteso;  // "PASSWORD" = la password SSH
        std::string locale;
        std::string locale_atteso;  // "CASA" = la cartella predefinita
    };
    const std::string esistente = prove::cartella_temporanea("locale");
    const Caso casi[] = {
        {true, "", "PASSWORD", esistente, esistente},
        {true, "altra", "altra", "/non/esiste/affatto", "CASA"},
        {false, "altra", std::nullopt, "", "CASA"},
    };
    for (const auto& c : casi) {
        crea_modulo();
        compila_server(prove::fatto_ssh("PASSWORD"));
        f->var_porta->set(" " + prove::fatto_ssh("PORTA") + " ");
        f->var_percorso->set("");
        f->var_percorso_locale->set(c.locale);
        f->var_usa_sudo->set_bool(c.usa_sudo);
        f->var_sudo_password->set(c.sudo_password);
        tk::chiama(f->btn_connetti, "invoke");
        EXPECT_EQ(stato(), "Connessione in corso…");
        EXPECT_EQ(colore(), "black");
        EXPECT_FALSE(connetti_attivo());
        ASSERT_TRUE(attendi_esito());
        ASSERT_EQ(esito.volte, 1) << stato();
        ASSERT_TRUE(esito.client && esito.sftp);
        EXPECT_EQ(esito.sftp->normalizza("."), prove::fatto_ssh("CASA"));
        EXPECT_EQ(esito.percorso_iniziale, "/srv");
        EXPECT_EQ(esito.percorso_locale_iniziale,
                  c.locale_atteso == "CASA" ? casa.percorso() : c.locale_atteso);
        if (c.sudo_atteso == "PASSWORD")
            EXPECT_EQ(esito.sudo_password, prove::fatto_ssh("PASSWORD"));
        else
            EXPECT_EQ(esito.sudo_password, c.sudo_atteso);
        EXPECT_FALSE(esito.nome_profilo);
        // Il modulo resta "in connessione" finché la finestra non lo riabilita.
        EXPECT_FALSE(connetti_attivo());
        esito.client->chiudi();
        esito = {};
    }
    std::filesystem::remove_all(esistente);
}

TEST_F(ModuloAccesso, ChiaveEPassphraseOppureNessunaCredenziale) {
    const std::string non_chiave = prove::cartella_temporanea("chiave") + "/id_finta";
    prove::scrivi_file(non_chiave, "questa non è una chiave privata\n");
    struct Caso {
        const char* descrizione;
        std::string chiave;
        std::string password;
        bool riesce;
    };
    const Caso casi[] = {
        {"chiave cifrata e passphrase", prove::fatto_ssh("CHIAVE_ED25519_PASSPHRASE"),
         prove::fatto_ssh("PASSPHRASE"), true},
        {"chiave senza passphrase", prove::fatto_ssh("CHIAVE_ED25519"), "", true},
        // La password di accesso nel campo vale solo come passphrase: qui è sbagliata.
        {"chiave cifrata e password di accesso", prove::fatto_ssh("CHIAVE_ED25519_PASSPHRASE"),
         prove::fatto_ssh("PASSWORD"), false},
        {"file che non è una chiave", non_chiave, prove::fatto_ssh("PASSWORD"), false},
        {"né chiave né password", "", "", false},
        {"password sbagliata", "", "sbagliata", false},
    };
    for (const auto& c : casi) {
        crea_modulo();
        compila_server(c.password);
        f->var_chiave->set(" " + c.chiave + " ");
        tk::chiama(f->btn_connetti, "invoke");
        ASSERT_TRUE(attendi_esito()) << c.descrizione;
        EXPECT_EQ(esito.volte, c.riesce ? 1 : 0) << c.descrizione << ": " << stato();
        if (c.riesce) {
            ASSERT_TRUE(esito.client && esito.client->aperta()) << c.descrizione;
            esito.client->chiudi();
        } else {
            // "Errore: " e il testo della libreria, in rosso; "Connetti" di nuovo usabile.
            EXPECT_EQ(stato().rfind("Errore: ", 0), 0u) << c.descrizione << ": " << stato();
            EXPECT_GT(stato().size(), std::string("Errore: ").size() + 3) << c.descrizione;
            EXPECT_EQ(colore(), "red") << c.descrizione;
            EXPECT_TRUE(connetti_attivo()) << c.descrizione;
        }
        std::printf("[ %s ] %s\n", c.descrizione, stato().c_str());
        esito = {};
    }
    std::filesystem::remove_all(std::filesystem::path(non_chiave).parent_path());
}

TEST_F(ModuloAccesso, PortaCheRifiutaInInglese) {
    set_language("en");
    crea_modulo();
    compila("127.0.0.1", std::to_string(porta_chiusa()), "u", "pw");
    tk::chiama(f->btn_connetti, "invoke");
    EXPECT_EQ(stato(), "Connecting…");
    ASSERT_TRUE(attendi_esito(5s));
    EXPECT_EQ(esito.volte, 0);
    EXPECT_EQ(stato().rfind("Error: ", 0), 0u) << stato();
    EXPECT_NE(stato().find("refused"), std::string::npos) << stato();
    EXPECT_TRUE(connetti_attivo());
}

TEST_F(ModuloAccesso, IndirizzoMutoEntro15SecondiConFinestraViva) {
    AscoltatoreMuto muto;
    salva_profili(
        {{{"nome", "Sito login"}, {"host", "127.0.0.1"}, {"porta", muto.porta}, {"utente", "u"}}});
    crea_modulo();
    clic_riga(0);
    f->var_password->set("pw");

    // Un timer Tcl che deve continuare a scattare mentre il lavoro aspetta.
    tk::script(
        "set ::battiti 0; proc battito {} { incr ::battiti; set ::prossimo [after 100 battito] }; "
        "battito");
    auto inizio = std::chrono::steady_clock::now();
    tk::chiama(f->btn_connetti, "invoke");
    ASSERT_TRUE(tk::attendi_finche([&] { return muto.accettate.load() == 1; }, 5s));

    // Un doppio clic mentre la connessione è in corso non avvia nulla.
    clic_riga(0, true);
    tk::attendi_finche([] { return false; }, 1500ms);
    EXPECT_EQ(muto.accettate.load(), 1);
    EXPECT_EQ(stato(), "Connessione in corso…");

    ASSERT_TRUE(attendi_esito(25s));
    std::chrono::duration<double> durata = std::chrono::steady_clock::now() - inizio;
    tk::script("after cancel $::prossimo");
    int battiti = std::atoi(tk::script("set ::battiti").c_str());
    EXPECT_EQ(esito.volte, 0);
    EXPECT_EQ(stato().rfind("Errore: ", 0), 0u) << stato();
    EXPECT_LE(durata.count(), 17.0);
    EXPECT_GE(durata.count(), 14.0);
    // Circa un battito ogni 100 ms per tutta l'attesa.
    EXPECT_GE(battiti, static_cast<int>(durata.count() * 10 * 0.7)) << battiti;
    EXPECT_TRUE(connetti_attivo());
    EXPECT_EQ(muto.accettate.load(), 1);
}

TEST_F(ModuloAccesso, AdottaIlProfiloConStessoHostUtenteEPorta) {
    salva_profili({{{"nome", "alfa login"},
                    {"host", prove::fatto_ssh("HOST")},
                    {"porta", 1},
                    {"utente", prove::fatto_ssh("UTENTE")}},
                   {{"nome", "Sito login"},
                    {"host", prove::fatto_ssh("HOST")},
                    {"porta", std::stoi(prove::fatto_ssh("PORTA"))},
                    {"utente", prove::fatto_ssh("UTENTE")}}});
    crea_modulo();
    // Modulo nuovo, "Salva password" acceso con un'altra descrizione: il profilo
    // adottato viene sostituito dal nuovo (una rinomina).
    compila_server(prove::fatto_ssh("PASSWORD"));
    f->var_nome->set("Zeta login");
    f->var_salva_password->set_bool(true);
    tk::chiama(f->btn_connetti, "invoke");
    ASSERT_TRUE(attendi_esito());
    ASSERT_EQ(esito.volte, 1) << stato();
    EXPECT_EQ(esito.nome_profilo, "Zeta login");
    EXPECT_EQ(righe(), (std::vector<std::string>{"alfa login", "Zeta login"}));
    EXPECT_EQ(carica_password("Zeta login", "ssh"), prove::fatto_ssh("PASSWORD"));
    EXPECT_TRUE(profilo_nel_file("Sito login").is_null());
}

// Se la finestra non accetta la connessione, il modulo torna usabile e la chiude.
TEST_F(ModuloAccesso, ConnessioneRifiutataDallaFinestra) {
    std::shared_ptr<ssh::Connessione> ricevuta;
    f = LoginFrame::crea(".", [&](std::shared_ptr<ssh::Connessione> c, auto&&...) {
        ricevuta = c;
        throw std::runtime_error("browser non costruito");
    });
    tk::chiama("pack", f->percorso, "-fill", "both", "-expand", 1);
    compila_server(prove::fatto_ssh("PASSWORD"));
    tk::chiama(f->btn_connetti, "invoke");
    ASSERT_TRUE(tk::attendi_finche([&] { return connetti_attivo(); }, 25s));
    EXPECT_EQ(stato(), "Errore: browser non costruito");
    ASSERT_TRUE(ricevuta);
    EXPECT_FALSE(ricevuta->aperta());
}

// Il percorso di un utente nuovo: salva con la password, connette, disconnette,
// riavvia il programma, sceglie la sessione e connette senza scrivere nulla.
TEST_F(ModuloAccesso, AppConnetteDisconnetteERiconnetteDaSessioneSalvata) {
    auto app = App::crea();
    f = app->frame_login;
    tk::chiama("update");
    f->var_nome->set("Sito login");
    compila_server(prove::fatto_ssh("PASSWORD"));
    f->var_salva_password->set_bool(true);
    tk::chiama(f->btn_salva, "invoke");
    tk::chiama(f->btn_connetti, "invoke");
    ASSERT_TRUE(tk::attendi_finche(
        [&] { return app->frame_browser != nullptr || connetti_attivo(); }, 25s));
    ASSERT_TRUE(app->frame_browser) << stato();
    tk::chiama("update");
    EXPECT_EQ(tk::chiama("wm", "geometry", ".").rfind(GEOMETRIA_CONNESSO, 0), 0u);
    EXPECT_EQ(tk::chiama("winfo", "ismapped", f->percorso), "0");
    EXPECT_EQ(app->frame_browser->nome_profilo, "Sito login");
    auto client = app->client;
    ASSERT_TRUE(client && client->aperta());

    tk::chiama(app->frame_browser->btn_disconnetti, "invoke");
    tk::chiama("update");
    EXPECT_FALSE(app->frame_browser);
    EXPECT_FALSE(app->client);
    EXPECT_FALSE(client->aperta());
    EXPECT_TRUE(connetti_attivo());
    EXPECT_EQ(tk::chiama("winfo", "ismapped", f->percorso), "1");
    EXPECT_EQ(f->var_password->get(), prove::fatto_ssh("PASSWORD"));  // il modulo è come prima
    f.reset();
    app.reset();

    // "Riavvio": un modulo nuovo legge il file e il portachiavi; doppio clic.
    prove::prepara_tk();
    tk::chiama("wm", "geometry", ".", GEOMETRIA_LOGIN);
    crea_modulo();
    ASSERT_EQ(righe(), std::vector<std::string>{"Sito login"});
    clic_riga(0, true);
    ASSERT_TRUE(attendi_esito());
    ASSERT_EQ(esito.volte, 1) << stato();
    EXPECT_EQ(esito.nome_profilo, "Sito login");
    EXPECT_TRUE(esito.client->aperta());
}
