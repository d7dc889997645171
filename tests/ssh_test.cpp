// etichetta: ssh
// Il client SSH/SFTP contro il vero sshd di prova su loopback.
#include "sessions/ssh.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "supporto/supporto.h"

using namespace ormeggio::ssh;
using namespace std::chrono_literals;
using prove::fatto_ssh;

namespace {

ParametriConnessione parametri_password() { return prove::parametri_server_prova(); }

std::shared_ptr<Connessione> connetti() {
    return Connessione::connetti(parametri_password());
}

struct Esito {
    std::string uscita, errori;
    std::optional<int> codice;
};

Esito esegui(Connessione& c, const std::string& comando, std::string_view ingresso = {},
             std::chrono::milliseconds timeout = 30s) {
    Esito e;
    auto canale = c.apri_canale(comando);
    if (!ingresso.empty()) canale->scrivi(ingresso);
    canale->chiudi_scrittura();
    canale->leggi_tutto(e.uscita, e.errori, timeout);
    e.codice = canale->attendi_uscita(timeout);
    canale->chiudi();
    return e;
}

// Una cartella temporanea sul server, tolta alla fine.
class CartellaRemota {
  public:
    explicit CartellaRemota(Connessione& c) : _c(c) {
        _percorso = esegui(c, "mktemp -d \"$HOME/prova-ssh.XXXXXX\"").uscita;
        while (!_percorso.empty() && _percorso.back() == '\n') _percorso.pop_back();
        if (_percorso.empty()) throw std::runtime_error("mktemp remoto fallito");
    }
    ~CartellaRemota() {
        try {
            // Se la prova ha fatto cadere la connessione, ne serve una nuova per pulire.
            if (_c.aperta())
                esegui(_c, "rm -rf -- '" + _percorso + "'");
            else
                esegui(*connetti(), "rm -rf -- '" + _percorso + "'");
        } catch (...) {
        }
    }
    const std::string& percorso() const { return _percorso; }

  private:
    Connessione& _c;
    std::string _percorso;
};

std::string dati_casuali(size_t n, unsigned seme) {
    std::mt19937_64 g(seme);
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i += 8) {
        uint64_t v = g();
        std::memcpy(s.data() + i, &v, std::min<size_t>(8, n - i));
    }
    return s;
}

// Un socket in ascolto su loopback che accetta la connessione TCP e poi tace.
struct AscoltoMuto {
    int fd = -1;
    int porta = 0;
    AscoltoMuto() {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 4);
        socklen_t l = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &l);
        porta = ntohs(a.sin_port);
    }
    ~AscoltoMuto() { ::close(fd); }
};

int porta_chiusa() {
    AscoltoMuto s;
    int p = s.porta;
    return p;  // il socket si chiude qui: la porta rifiuta
}

}  // namespace

TEST(Ssh, SiAutenticaConPasswordEConChiavi) {
    struct Caso {
        const char* nome;
        std::function<void(ParametriConnessione&)> prepara;
    } casi[] = {
        {"password", [](ParametriConnessione&) {}},
        {"password come keyboard-interactive",
         [](ParametriConnessione& p) { p.porta = std::stoi(fatto_ssh("PORTA_SOLO_INTERATTIVA")); }},
        {"ed25519 senza passphrase",
         [](ParametriConnessione& p) {
             p.password.reset();
             p.chiave = fatto_ssh("CHIAVE_ED25519");
         }},
        {"ed25519 con passphrase",
         [](ParametriConnessione& p) {
             p.password.reset();
             p.chiave = fatto_ssh("CHIAVE_ED25519_PASSPHRASE");
             p.passphrase = fatto_ssh("PASSPHRASE");
         }},
        // Il server accetta solo firme RSA con SHA-2.
        {"rsa con passphrase",
         [](ParametriConnessione& p) {
             p.password.reset();
             p.chiave = fatto_ssh("CHIAVE_RSA");
             p.passphrase = fatto_ssh("PASSPHRASE");
         }},
    };
    for (auto& caso : casi) {
        SCOPED_TRACE(caso.nome);
        auto p = parametri_password();
        caso.prepara(p);
        auto c = Connessione::connetti(p);
        EXPECT_TRUE(c->aperta());
        EXPECT_EQ(c->impronta_host(), fatto_ssh("IMPRONTA_HOST"));
        auto e = esegui(*c, "id -un");
        EXPECT_EQ(e.uscita, fatto_ssh("UTENTE") + "\n");
        EXPECT_EQ(e.codice, 0);
        c->chiudi();
        EXPECT_FALSE(c->aperta());
    }
}

TEST(Ssh, SenzaPasswordNeChiaveUsaLAgente) {
    prove::CasaTemporanea casa;
    const std::string presa = casa.percorso() + "/agente.sock";
    auto uscita = prove::esegui_locale("ssh-agent -s -a '" + presa + "'");
    auto i = uscita.find("SSH_AGENT_PID=");
    ASSERT_NE(i, std::string::npos) << uscita;
    const int pid = std::atoi(uscita.c_str() + i + 14);
    const char* prima = std::getenv("SSH_AUTH_SOCK");
    const std::string salvato = prima ? prima : "";
    ::setenv("SSH_AUTH_SOCK", presa.c_str(), 1);
    int stato = -1;
    prove::esegui_locale("ssh-add -q '" + fatto_ssh("CHIAVE_ED25519") + "' 2>&1", &stato);
    EXPECT_EQ(stato, 0);
    auto p = parametri_password();
    p.password.reset();
    try {
        auto c = Connessione::connetti(p);
        EXPECT_EQ(esegui(*c, "id -un").uscita, fatto_ssh("UTENTE") + "\n");
    } catch (const Errore& e) {
        ADD_FAILURE() << e.what();
    }
    ::kill(pid, SIGTERM);
    if (prima)
        ::setenv("SSH_AUTH_SOCK", salvato.c_str(), 1);
    else
        ::unsetenv("SSH_AUTH_SOCK");
}

TEST(Ssh, ConnessioniFalliteHannoUnTesto) {
    AscoltoMuto muto;
    struct Caso {
        const char* nome;
        std::function<void(ParametriConnessione&)> prepara;
        const char* atteso;  // parte del testo
    } casi[] = {
        {"password sbagliata", [](ParametriConnessione& p) { p.password = "sbagliata"; },
         "Authentication failed"},
        {"password sbagliata, keyboard-interactive",
         [](ParametriConnessione& p) {
             p.porta = std::stoi(fatto_ssh("PORTA_SOLO_INTERATTIVA"));
             p.password = "sbagliata";
         },
         "Authentication failed"},
        {"porta chiusa", [](ParametriConnessione& p) { p.porta = porta_chiusa(); },
         "Connection refused"},
        {"server muto",
         [&](ParametriConnessione& p) {
             p.porta = muto.porta;
             p.timeout_connessione_secondi = 2;
         },
         "no answer within 2 s"},
        {"chiave mancante",
         [](ParametriConnessione& p) {
             p.password.reset();
             p.chiave = "/nessun/posto/id_ed25519";
         },
         "No such file or directory"},
        {"passphrase sbagliata",
         [](ParametriConnessione& p) {
             p.password.reset();
             p.chiave = fatto_ssh("CHIAVE_ED25519_PASSPHRASE");
             p.passphrase = "non questa";
         },
         "passphrase"},
        {"passphrase rsa sbagliata",
         [](ParametriConnessione& p) {
             p.password.reset();
             p.chiave = fatto_ssh("CHIAVE_RSA");
             p.passphrase = "non questa";
         },
         "wrong passphrase"},
        {"senza credenziali", [](ParametriConnessione& p) { p.password.reset(); },
         "No password, key file or SSH agent"},
    };
    const char* agente = std::getenv("SSH_AUTH_SOCK");
    std::string agente_salvato = agente ? agente : "";
    ::unsetenv("SSH_AUTH_SOCK");
    for (auto& caso : casi) {
        SCOPED_TRACE(caso.nome);
        auto p = parametri_password();
        caso.prepara(p);
        auto inizio = std::chrono::steady_clock::now();
        try {
            Connessione::connetti(p);
            ADD_FAILURE() << "connessione riuscita";
        } catch (const Errore& e) {
            EXPECT_NE(std::string(e.what()).find(caso.atteso), std::string::npos) << e.what();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - inizio, 10s);
    }
    if (agente) ::setenv("SSH_AUTH_SOCK", agente_salvato.c_str(), 1);
}

TEST(Ssh, ComandoUscitaErroriStatoEIngresso) {
    auto c = connetti();
    struct Caso {
        std::string comando, ingresso, uscita, errori;
        int codice;
    } casi[] = {
        {"echo uno; echo due >&2; exit 3", "", "uno\n", "due\n", 3},
        // Senza ingresso, cat vede subito la fine dello standard input.
        {"cat", "", "", "", 0},
        {"tr a-z A-Z", "ciao\n", "CIAO\n", "", 0},
        {"printf '\\377\\000x'", "", std::string("\377\0x", 3), "", 0},
    };
    for (auto& caso : casi) {
        SCOPED_TRACE(caso.comando);
        auto e = esegui(*c, caso.comando, caso.ingresso, 10s);
        EXPECT_EQ(e.uscita, caso.uscita);
        EXPECT_EQ(e.errori, caso.errori);
        EXPECT_EQ(e.codice, caso.codice);
    }
}

TEST(Ssh, MoltiMegabyteSuUscitaEErroriInsieme) {
    auto c = connetti();
    // Prima tutto su standard error, poi su standard output: chi leggesse un solo
    // flusso alla volta resterebbe fermo per sempre.
    auto e = esegui(
        *c, "head -c 10485760 /dev/zero | tr '\\0' e >&2; head -c 10485760 /dev/zero | tr '\\0' u");
    EXPECT_EQ(e.codice, 0);
    EXPECT_EQ(e.uscita.size(), 10485760u);
    EXPECT_EQ(e.errori.size(), 10485760u);
    EXPECT_EQ(e.uscita.find_first_not_of('u'), std::string::npos);
    EXPECT_EQ(e.errori.find_first_not_of('e'), std::string::npos);
}

TEST(Ssh, UnComandoCheNonFinisceScadeAlTermine) {
    auto c = connetti();
    auto canale = c->apri_canale("sleep 60");
    canale->chiudi_scrittura();
    auto inizio = std::chrono::steady_clock::now();
    EXPECT_EQ(canale->attendi_uscita(1s), std::nullopt);
    std::string u, e;
    try {
        canale->leggi_tutto(u, e, 1s);
        ADD_FAILURE() << "nessun errore allo scadere";
    } catch (const Errore& err) {
        EXPECT_STRNE(err.what(), "");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - inizio, 5s);
    canale->chiudi();
    // La connessione resta buona per il comando seguente.
    EXPECT_EQ(esegui(*c, "echo ancora").uscita, "ancora\n");
}

TEST(Ssh, ChiudereUnComandoSenzaStatoDiUscitaNonAspetta) {
    auto c = connetti();
    // Chiude uscita ed errori ma non esce: la fine dei dati arriva, lo stato no.
    auto canale = c->apri_canale("exec >&- 2>&-; sleep 60");
    canale->chiudi_scrittura();
    std::string u, e;
    canale->leggi_tutto(u, e, 5s);
    EXPECT_EQ(canale->attendi_uscita(500ms), std::nullopt);
    auto inizio = std::chrono::steady_clock::now();
    canale->chiudi();
    EXPECT_LT(std::chrono::steady_clock::now() - inizio, 2s);
    EXPECT_EQ(esegui(*c, "echo dopo").uscita, "dopo\n");
}

TEST(Ssh, ConnessioneCadutaDuranteUnComandoDaErrore) {
    auto c = connetti();
    // Il processo sshd della sessione muore mentre il comando è in corso.
    auto canale = c->apri_canale("echo pronto; sleep 0.5; kill -9 $PPID; sleep 30");
    canale->chiudi_scrittura();
    std::string u, e;
    auto inizio = std::chrono::steady_clock::now();
    try {
        canale->leggi_tutto(u, e, 30s);
        ADD_FAILURE() << "letto fino alla fine: " << u;
    } catch (const Errore& err) {
        EXPECT_STRNE(err.what(), "");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - inizio, 10s);
    EXPECT_FALSE(c->aperta());
    EXPECT_THROW(c->apri_canale("true"), Errore);
    EXPECT_THROW(c->apri_sftp(), Errore);
}

TEST(Ssh, ChiudereDaUnAltroThreadFermaIComandiInCorso) {
    auto c = connetti();
    auto sftp = c->apri_sftp();
    std::atomic<int> errori{0};
    std::vector<std::thread> thread;
    for (int i = 0; i < 4; ++i) {
        thread.emplace_back([c, &errori] {
            try {
                auto canale = c->apri_canale("sleep 30");
                std::string u, e;
                canale->leggi_tutto(u, e, 30s);
            } catch (const Errore& e) {
                if (*e.what()) ++errori;
            }
        });
    }
    std::this_thread::sleep_for(500ms);
    auto inizio = std::chrono::steady_clock::now();
    c->chiudi();
    for (auto& t : thread) t.join();
    EXPECT_LT(std::chrono::steady_clock::now() - inizio, 5s);
    EXPECT_EQ(errori, 4);
    EXPECT_THROW(sftp->stat("."), Errore);
    EXPECT_THROW(c->apri_canale("true"), Errore);
}

TEST(Ssh, SftpAndataERitornoConNomeOstile) {
    auto c = connetti();
    auto sftp = c->apri_sftp();
    CartellaRemota cartella(*c);
    prove::CasaTemporanea casa;
    const std::string nome = "a b'c\"$(touch x);`id`\\ é\n.txt";
    const std::string contenuto = dati_casuali(3 * 1024 * 1024 + 17, 7);
    const std::string locale = casa.percorso() + "/origine";
    prove::scrivi_file(locale, contenuto);

    const std::string remoto = cartella.percorso() + "/" + nome;
    uint64_t ultimo = 0;
    sftp->invia(locale, remoto, [&](uint64_t n) { ultimo = n; });
    EXPECT_EQ(ultimo, contenuto.size());

    auto voci = sftp->elenca(cartella.percorso());
    ASSERT_EQ(voci.size(), 1u);
    EXPECT_EQ(voci[0].nome, nome);
    EXPECT_EQ(voci[0].dimensione, contenuto.size());
    EXPECT_FALSE(voci[0].e_cartella());
    EXPECT_GT(voci[0].modificato, 0);

    const std::string ritorno = casa.percorso() + "/ritorno";
    sftp->ricevi(remoto, ritorno);
    EXPECT_TRUE(prove::leggi_file(ritorno) == contenuto);

    auto f = sftp->apri_lettura(remoto);
    std::string letto;
    char buf[10000];
    while (size_t n = f->leggi(buf, sizeof buf)) letto.append(buf, n);
    f.reset();
    EXPECT_TRUE(letto == contenuto);

    sftp->chmod(remoto, 0600);
    EXPECT_EQ(sftp->stat(remoto).modo & 07777, 0600u);
    esegui(*c, "ln -s nessuno '" + cartella.percorso() + "/collegamento'");
    EXPECT_TRUE(sftp->lstat(cartella.percorso() + "/collegamento").e_collegamento());
    EXPECT_THROW(sftp->stat(cartella.percorso() + "/collegamento"), Errore);

    sftp->crea_cartella(cartella.percorso() + "/sotto", 0750);
    auto sotto = sftp->stat(cartella.percorso() + "/sotto");
    EXPECT_TRUE(sotto.e_cartella());
    EXPECT_EQ(sotto.modo & 0777, 0750u);
    sftp->rimuovi_cartella(cartella.percorso() + "/sotto");
    sftp->rimuovi(remoto);
    sftp->rimuovi(cartella.percorso() + "/collegamento");
    EXPECT_TRUE(sftp->elenca(cartella.percorso()).empty());
    EXPECT_EQ(sftp->normalizza("."), fatto_ssh("CASA"));
    // Nessun file di nome "x" creato dal nome ostile.
    EXPECT_EQ(esegui(*c, "ls -A '" + cartella.percorso() + "'").uscita, "");
}

TEST(Ssh, ErroriSftpLeggibili) {
    auto c = connetti();
    auto sftp = c->apri_sftp();
    CartellaRemota cartella(*c);
    prove::CasaTemporanea casa;
    const std::string sito = fatto_ssh("SITO");
    prove::scrivi_file(casa.percorso() + "/f", "x");
    esegui(*c, "mkdir '" + cartella.percorso() + "/piena' && touch '" + cartella.percorso() +
                   "/piena/f'");
    struct Caso {
        const char* nome;
        std::function<void()> azione;
        const char* atteso;
    } casi[] = {
        {"stat mancante", [&] { sftp->stat(cartella.percorso() + "/manca"); }, "No such file"},
        {"elenco protetto", [&] { sftp->elenca(sito); }, "Permission denied"},
        {"invio protetto", [&] { sftp->invia(casa.percorso() + "/f", sito + "/nuovo"); },
         "Permission denied"},
        {"locale mancante",
         [&] { sftp->invia(casa.percorso() + "/manca", cartella.percorso() + "/x"); },
         "No such file or directory"},
        {"ricezione mancante",
         [&] { sftp->ricevi(cartella.percorso() + "/manca", casa.percorso() + "/giu"); },
         "No such file"},
        {"cartella non vuota", [&] { sftp->rimuovi_cartella(cartella.percorso() + "/piena"); },
         "Failure"},
    };
    for (auto& caso : casi) {
        SCOPED_TRACE(caso.nome);
        try {
            caso.azione();
            ADD_FAILURE() << "nessun errore";
        } catch (const Errore& e) {
            EXPECT_NE(std::string(e.what()).find(caso.atteso), std::string::npos) << e.what();
        }
    }
    // Una ricezione fallita non lascia un file locale a metà.
    EXPECT_FALSE(std::filesystem::exists(casa.percorso() + "/giu"));
    // Dopo gli errori il canale SFTP funziona ancora.
    EXPECT_EQ(sftp->normalizza("."), fatto_ssh("CASA"));
}

TEST(Ssh, ComandiDaMoltiThreadDuranteUnInvio) {
    auto c = connetti();
    auto sftp = c->apri_sftp();
    CartellaRemota cartella(*c);
    prove::CasaTemporanea casa;
    const std::string locale = casa.percorso() + "/grande";
    prove::scrivi_file(locale, dati_casuali(64 * 1024 * 1024, 11));
    const std::string remoto = cartella.percorso() + "/grande";

    std::atomic<bool> invio_finito{false};
    std::string errore_invio;
    std::thread invio([&] {
        try {
            sftp->invia(locale, remoto);
        } catch (const Errore& e) {
            errore_invio = e.what();
        }
        invio_finito = true;
    });
    std::atomic<int> riusciti{0}, durante{0};
    std::vector<std::string> errori(8);
    std::vector<std::thread> thread;
    for (int t = 0; t < 8; ++t) {
        thread.emplace_back([&, t] {
            try {
                for (int i = 0; i < 20; ++i) {
                    auto e = esegui(*c, "echo " + std::to_string(t * 100 + i));
                    if (e.codice == 0 && e.uscita == std::to_string(t * 100 + i) + "\n") ++riusciti;
                    if (!invio_finito) ++durante;
                    auto v = sftp->stat(cartella.percorso());
                    if (!v.e_cartella()) errori[t] = "stat sbagliato";
                }
            } catch (const Errore& e) {
                errori[t] = e.what();
            }
        });
    }
    for (auto& t : thread) t.join();
    invio.join();
    for (auto& e : errori) EXPECT_EQ(e, "");
    EXPECT_EQ(errore_invio, "");
    EXPECT_EQ(riusciti, 160);
    EXPECT_GT(durante, 0) << "nessun comando è passato durante l'invio";
    auto somma_locale = prove::esegui_locale("sha256sum < '" + locale + "'").substr(0, 64);
    auto somma_remota = esegui(*c, "sha256sum < '" + remoto + "'").uscita.substr(0, 64);
    EXPECT_EQ(somma_locale, somma_remota);
}
