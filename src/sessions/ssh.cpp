#include "sessions/ssh.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "sessions/ssh_chiavi.h"
#include "sessions/ssh_interno.h"

namespace ormeggio::ssh {

namespace {

constexpr size_t BLOCCO_LETTURA = 64 * 1024;
// Quanto leggere da un canale per ogni presa del mutex: abbastanza da non pagare
// troppe prese, poco abbastanza da non affamare gli altri thread.
constexpr size_t LETTURA_PER_TURNO = 1024 * 1024;

void inizializza_libreria() {
    static const int esito = libssh2_init(0);
    if (esito != 0) throw Errore("Cannot initialise libssh2 (" + std::to_string(esito) + ")");
}

bool errore_di_rete(int codice) {
    switch (codice) {
        case LIBSSH2_ERROR_SOCKET_NONE:
        case LIBSSH2_ERROR_SOCKET_SEND:
        case LIBSSH2_ERROR_SOCKET_RECV:
        case LIBSSH2_ERROR_SOCKET_DISCONNECT:
        case LIBSSH2_ERROR_SOCKET_TIMEOUT:
        case LIBSSH2_ERROR_BANNER_RECV:
        case LIBSSH2_ERROR_BANNER_SEND:
        case LIBSSH2_ERROR_BAD_USE:
        case LIBSSH2_ERROR_DECRYPT:
        case LIBSSH2_ERROR_KEX_FAILURE:
            return true;
        default:
            return false;
    }
}

std::string esadecimale(const unsigned char* dati, size_t n) {
    static const char cifre[] = "0123456789abcdef";
    std::string s;
    s.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        s += cifre[dati[i] >> 4];
        s += cifre[dati[i] & 15];
    }
    return s;
}

int numero_segnale(const std::string& nome) {
    static const std::pair<const char*, int> segnali[] = {
        {"HUP", SIGHUP},   {"INT", SIGINT},   {"QUIT", SIGQUIT}, {"ILL", SIGILL},
        {"ABRT", SIGABRT}, {"FPE", SIGFPE},   {"KILL", SIGKILL}, {"SEGV", SIGSEGV},
        {"PIPE", SIGPIPE}, {"ALRM", SIGALRM}, {"TERM", SIGTERM}, {"USR1", SIGUSR1},
        {"USR2", SIGUSR2}, {"BUS", SIGBUS}};
    for (const auto& [n, v] : segnali)
        if (nome == n) return v;
    return 0;
}

std::string secondi(std::chrono::milliseconds ms) {
    auto s = (ms.count() + 999) / 1000;
    return std::to_string(s) + " s";
}

}  // namespace

std::string testo_stato_sftp(unsigned long codice) {
    switch (codice) {
        case LIBSSH2_FX_OK:
            return "Success";
        case LIBSSH2_FX_EOF:
            return "End of file";
        case LIBSSH2_FX_NO_SUCH_FILE:
            return "No such file";
        case LIBSSH2_FX_PERMISSION_DENIED:
            return "Permission denied";
        case LIBSSH2_FX_FAILURE:
            return "Failure";
        case LIBSSH2_FX_BAD_MESSAGE:
            return "Bad message";
        case LIBSSH2_FX_NO_CONNECTION:
            return "No connection";
        case LIBSSH2_FX_CONNECTION_LOST:
            return "Connection lost";
        case LIBSSH2_FX_OP_UNSUPPORTED:
            return "Operation unsupported";
        case LIBSSH2_FX_INVALID_HANDLE:
            return "Invalid handle";
        case LIBSSH2_FX_NO_SUCH_PATH:
            return "No such path";
        case LIBSSH2_FX_FILE_ALREADY_EXISTS:
            return "File already exists";
        case LIBSSH2_FX_WRITE_PROTECT:
            return "Write protected";
        case LIBSSH2_FX_NO_MEDIA:
            return "No media";
        case LIBSSH2_FX_NO_SPACE_ON_FILESYSTEM:
            return "No space left on the file system";
        case LIBSSH2_FX_QUOTA_EXCEEDED:
            return "Quota exceeded";
        case LIBSSH2_FX_UNKNOWN_PRINCIPAL:
            return "Unknown principal";
        case LIBSSH2_FX_LOCK_CONFLICT:
            return "Lock conflict";
        case LIBSSH2_FX_DIR_NOT_EMPTY:
            return "Directory not empty";
        case LIBSSH2_FX_NOT_A_DIRECTORY:
            return "Not a directory";
        case LIBSSH2_FX_INVALID_FILENAME:
            return "Invalid file name";
        case LIBSSH2_FX_LINK_LOOP:
            return "Too many levels of symbolic links";
        default:
            return "SFTP error " + std::to_string(codice);
    }
}

// ---------------------------------------------------------------------------
// Connessione

std::shared_ptr<Connessione> Connessione::connetti(const ParametriConnessione& parametri) {
    auto c = std::make_shared<ConnessioneLibssh2>();
    c->apri(parametri);
    return c;
}

ConnessioneLibssh2::ConnessioneLibssh2() {
    inizializza_libreria();
    _sveglia_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (_sveglia_fd < 0) throw Errore(std::string("eventfd: ") + std::strerror(errno));
}

ConnessioneLibssh2::~ConnessioneLibssh2() {
    if (_sessione) {
        if (_aperta.load()) libssh2_session_disconnect(_sessione, "");
        // Con il socket chiuso in entrambe le direzioni nessun invio può restare
        // sospeso: la liberazione finisce subito.
        if (_socket >= 0) ::shutdown(_socket, SHUT_RDWR);
        for (int i = 0; i < 100 && libssh2_session_free(_sessione) == LIBSSH2_ERROR_EAGAIN; ++i) {
        }
    }
    if (_socket >= 0) ::close(_socket);
    if (_sveglia_fd >= 0) ::close(_sveglia_fd);
}

void ConnessioneLibssh2::_connetti_tcp(const ParametriConnessione& p, Scadenza scadenza) {
    const std::string dove = p.host + ":" + std::to_string(p.porta);
    addrinfo suggerimenti{};
    suggerimenti.ai_family = AF_UNSPEC;
    suggerimenti.ai_socktype = SOCK_STREAM;
    addrinfo* indirizzi = nullptr;
    int rc =
        ::getaddrinfo(p.host.c_str(), std::to_string(p.porta).c_str(), &suggerimenti, &indirizzi);
    if (rc != 0) throw Errore("Cannot resolve " + p.host + ": " + ::gai_strerror(rc));
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> guardia(indirizzi, ::freeaddrinfo);

    std::string ultimo = "no address";
    for (addrinfo* a = indirizzi; a; a = a->ai_next) {
        int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            ultimo = std::strerror(errno);
            continue;
        }
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
            ultimo = std::strerror(errno);
            ::close(fd);
            continue;
        }
        // Connessione non bloccante: l'attesa è limitata anche se l'indirizzo tace.
        int errore_socket = 0;
        for (;;) {
            auto resta =
                std::chrono::duration_cast<std::chrono::milliseconds>(scadenza - Orologio::now());
            if (resta.count() <= 0) {
                errore_socket = ETIMEDOUT;
                break;
            }
            pollfd pf{fd, POLLOUT, 0};
            int n = ::poll(&pf, 1, static_cast<int>(resta.count()));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                errore_socket = errno;
                break;
            }
            if (n == 0) continue;
            socklen_t l = sizeof errore_socket;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &errore_socket, &l);
            break;
        }
        if (errore_socket == 0) {
            int uno = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &uno, sizeof uno);
            _socket = fd;
            return;
        }
        ::close(fd);
        if (errore_socket == ETIMEDOUT) {
            throw Errore("Cannot connect to " + dove + ": no answer within " +
                         std::to_string(p.timeout_connessione_secondi) + " s");
        }
        ultimo = std::strerror(errore_socket);
    }
    throw Errore("Cannot connect to " + dove + ": " + ultimo);
}

void ConnessioneLibssh2::apri(const ParametriConnessione& p) {
    const int limite = p.timeout_connessione_secondi > 0 ? p.timeout_connessione_secondi : 15;
    const Scadenza scadenza = Orologio::now() + std::chrono::seconds(limite);
    const std::string dove = p.host + ":" + std::to_string(p.porta);
    _connetti_tcp(p, scadenza);

    _sessione = libssh2_session_init_ex(alloca_libssh2, libera_libssh2, rialloca_libssh2, this);
    if (!_sessione) throw Errore("Cannot create the SSH session");
    libssh2_session_set_blocking(_sessione, 0);
    _motivo = "Connection closed";
    _aperta = true;

    std::string errore;
    int rc =
        ripeti([&] { return libssh2_session_handshake(_sessione, _socket); }, scadenza, &errore);
    if (rc == LIBSSH2_ERROR_TIMEOUT)
        throw Errore("SSH handshake with " + dove + ": no answer within " + std::to_string(limite) +
                     " s");
    if (rc != 0) throw Errore("SSH handshake with " + dove + " failed: " + errore);

    // Ogni chiave dell'host è accettata; ne teniamo l'impronta per chi la vuole mostrare.
    if (const char* h = libssh2_hostkey_hash(_sessione, LIBSSH2_HOSTKEY_HASH_SHA256))
        _impronta = esadecimale(reinterpret_cast<const unsigned char*>(h), 32);

    _autentica(p, scadenza);
}

void ConnessioneLibssh2::_risposta_interattiva(const char*, int, const char*, int, int num_domande,
                                               const LIBSSH2_USERAUTH_KBDINT_PROMPT*,
                                               LIBSSH2_USERAUTH_KBDINT_RESPONSE* risposte,
                                               void** astratto) {
    auto* self = static_cast<ConnessioneLibssh2*>(*astratto);
    // Ogni domanda riceve la password: con PAM l'unica domanda è quella.
    for (int i = 0; i < num_domande; ++i) {
        const std::string& pw = self->_password_interattiva;
        // libssh2 libera le risposte con l'allocatore della sessione.
        char* copia = static_cast<char*>(alloca_libssh2(pw.size() + 1, astratto));
        if (!copia) {
            risposte[i].text = nullptr;
            risposte[i].length = 0;
            continue;
        }
        std::memcpy(copia, pw.data(), pw.size());
        copia[pw.size()] = '\0';
        risposte[i].text = copia;
        risposte[i].length = static_cast<unsigned int>(pw.size());
    }
}

bool ConnessioneLibssh2::_autentica_con_agente(const std::string& utente, Scadenza scadenza,
                                               std::string* errore) {
    LIBSSH2_AGENT* agente = nullptr;
    {
        std::lock_guard blocco(_mutex);
        agente = libssh2_agent_init(_sessione);
    }
    if (!agente) {
        *errore = "Cannot use the SSH agent";
        return false;
    }
    bool riuscito = false;
    std::string testo;
    int rc = ripeti([&] { return libssh2_agent_connect(agente); }, scadenza, &testo);
    if (rc == 0)
        rc = ripeti([&] { return libssh2_agent_list_identities(agente); }, scadenza, &testo);
    if (rc == 0) {
        libssh2_agent_publickey* precedente = nullptr;
        libssh2_agent_publickey* identita = nullptr;
        testo = "The SSH agent has no key that the server accepts";
        for (;;) {
            int r;
            {
                std::lock_guard blocco(_mutex);
                r = libssh2_agent_get_identity(agente, &identita, precedente);
            }
            if (r != 0) break;
            std::string e;
            if (ripeti([&] { return libssh2_agent_userauth(agente, utente.c_str(), identita); },
                       scadenza, &e) == 0) {
                riuscito = true;
                break;
            }
            if (!_aperta) {
                testo = e;
                break;
            }
            precedente = identita;
        }
    }
    {
        std::lock_guard blocco(_mutex);
        libssh2_agent_disconnect(agente);
        libssh2_agent_free(agente);
    }
    if (!riuscito) *errore = "SSH agent: " + testo;
    return riuscito;
}

void ConnessioneLibssh2::_autentica(const ParametriConnessione& p, Scadenza scadenza) {
    const std::string& u = p.utente;
    const auto ul = static_cast<unsigned int>(u.size());
    std::string errore;
    std::string metodi;
    bool gia_autenticato = false;
    int rc = ripeti(
        [&] {
            const char* lista = libssh2_userauth_list(_sessione, u.c_str(), ul);
            if (lista) {
                metodi = lista;
                return 0;
            }
            if (libssh2_userauth_authenticated(_sessione)) {
                gia_autenticato = true;
                return 0;
            }
            return libssh2_session_last_errno(_sessione);
        },
        scadenza, &errore);
    if (rc == LIBSSH2_ERROR_TIMEOUT) throw Errore("Authentication: no answer from the server");
    if (rc != 0) throw Errore("Authentication: " + errore);
    if (gia_autenticato) return;
    auto offre = [&](const char* m) { return metodi.find(m) != std::string::npos; };

    std::string errore_chiave;
    if (!p.chiave.empty()) {
        if (::access(p.chiave.c_str(), R_OK) != 0) {
            errore_chiave = "Cannot read the key file " + p.chiave + ": " + std::strerror(errno);
        } else {
            const char* frase = p.passphrase ? p.passphrase->c_str() : nullptr;
            auto rsa = ChiaveRsaSha2::carica(p.chiave, p.passphrase, &errore_chiave);
            rc = LIBSSH2_ERROR_PUBLICKEY_UNVERIFIED;
            if (rsa && rsa->valida()) {
                void* astratto = rsa.get();
                const auto& blob = rsa->blob();
                rc = ripeti(
                    [&] {
                        return libssh2_userauth_publickey(
                            _sessione, u.c_str(),
                            reinterpret_cast<const unsigned char*>(blob.data()), blob.size(),
                            &ChiaveRsaSha2::firma, &astratto);
                    },
                    scadenza, &errore_chiave);
                if (rc == 0) return;
            }
            // Le altre chiavi, e le RSA per i server che conoscono solo ssh-rsa.
            if (rc != LIBSSH2_ERROR_TIMEOUT && _aperta && (!rsa || rsa->valida())) {
                rc = ripeti(
                    [&] {
                        return libssh2_userauth_publickey_fromfile_ex(
                            _sessione, u.c_str(), ul, nullptr, p.chiave.c_str(), frase);
                    },
                    scadenza, &errore_chiave);
                if (rc == 0) return;
                if (rc != LIBSSH2_ERROR_TIMEOUT && rsa_in_formato_openssh(p.chiave))
                    errore_chiave +=
                        " (an RSA key in the OpenSSH format is signed with SHA-1, "
                        "which this server refuses; 'ssh-keygen -p -m PEM -f " +
                        p.chiave + "' converts it to a format signed with SHA-256)";
            }
            if (rc == LIBSSH2_ERROR_TIMEOUT)
                throw Errore("Authentication: no answer from the server");
        }
        if (!p.password) throw Errore(errore_chiave);
    }

    if (p.password) {
        const std::string& pw = *p.password;
        std::string e =
            "The server accepts neither password nor keyboard-interactive "
            "authentication (it offers: " +
            metodi + ")";
        if (offre("password")) {
            rc = ripeti(
                [&] {
                    return libssh2_userauth_password_ex(_sessione, u.c_str(), ul, pw.c_str(),
                                                        static_cast<unsigned int>(pw.size()),
                                                        nullptr);
                },
                scadenza, &e);
            if (rc == 0) return;
            if (!_aperta) throw Errore(e);
        }
        if (offre("keyboard-interactive")) {
            _password_interattiva = pw;
            rc = ripeti(
                [&] {
                    return libssh2_userauth_keyboard_interactive_ex(_sessione, u.c_str(), ul,
                                                                    &_risposta_interattiva);
                },
                scadenza, &e);
            std::fill(_password_interattiva.begin(), _password_interattiva.end(), '\0');
            _password_interattiva.clear();
            if (rc == 0) return;
        }
        if (!errore_chiave.empty()) e = errore_chiave + "; " + e;
        throw Errore(e);
    }

    const char* agente = std::getenv("SSH_AUTH_SOCK");
    if (agente && *agente && offre("publickey")) {
        if (_autentica_con_agente(u, scadenza, &errore)) return;
        throw Errore(errore);
    }
    throw Errore("No password, key file or SSH agent to authenticate with");
}

void ConnessioneLibssh2::imposta_timeout(std::chrono::milliseconds timeout) {
    _timeout_ms = timeout.count() > 0 ? timeout.count() : 30000;
}

Scadenza ConnessioneLibssh2::scadenza_rete() const {
    return Orologio::now() + timeout_rete();
}

std::string ConnessioneLibssh2::motivo_chiusura() const {
    std::lock_guard blocco(_mutex);
    return _motivo;
}

void ConnessioneLibssh2::_sveglia() {
    uint64_t uno = 1;
    [[maybe_unused]] auto n = ::write(_sveglia_fd, &uno, sizeof uno);
}

void ConnessioneLibssh2::segna_guasta(const std::string& motivo) {
    std::lock_guard blocco(_mutex);
    if (_aperta.exchange(false)) {
        _motivo = motivo.empty() ? "Connection closed" : motivo;
        if (_socket >= 0) ::shutdown(_socket, SHUT_RDWR);
    }
    _proprietario_invio = {};
    _sveglia();
    _cambiato.notify_all();
}

void ConnessioneLibssh2::chiudi() {
    std::lock_guard blocco(_mutex);
    if (_aperta.exchange(false)) {
        // Un solo tentativo di congedo: se il socket non accetta, si chiude comunque.
        if (_proprietario_invio == std::thread::id())
            libssh2_session_disconnect(_sessione, "Closed by the user");
        _motivo = "Connection closed";
        if (_socket >= 0) ::shutdown(_socket, SHUT_RDWR);
    }
    _proprietario_invio = {};
    _sveglia();
    _cambiato.notify_all();
}

std::string ConnessioneLibssh2::_testo_errore(int codice, LIBSSH2_SFTP* sftp) {
    if (codice == LIBSSH2_ERROR_SFTP_PROTOCOL && sftp)
        return testo_stato_sftp(libssh2_sftp_last_error(sftp));
    char* messaggio = nullptr;
    int lunghezza = 0;
    libssh2_session_last_error(_sessione, &messaggio, &lunghezza, 0);
    std::string testo = messaggio && lunghezza > 0 ? std::string(messaggio, lunghezza) : "";
    if (errore_di_rete(codice)) {
        if (testo.empty()) return "Connection to the server lost";
        return "Connection to the server lost (" + testo + ")";
    }
    if (testo.empty()) return "SSH error " + std::to_string(codice);
    return testo;
}

void ConnessioneLibssh2::_attendi_socket(std::unique_lock<std::mutex>& blocco,
                                         uint64_t generazione_vista, int direzioni,
                                         Scadenza scadenza) {
    short eventi = 0;
    if (direzioni & LIBSSH2_SESSION_BLOCK_INBOUND) eventi |= POLLIN;
    if (direzioni & LIBSSH2_SESSION_BLOCK_OUTBOUND) eventi |= POLLOUT;
    if (eventi == 0) eventi = POLLIN;

    if (_in_attesa_socket) {
        // Un altro thread sta già aspettando il socket: basta aspettare che qualcosa
        // cambi. Se servono direzioni che lui non guarda, lo si sveglia.
        if (eventi & ~_direzioni_richieste) {
            _direzioni_richieste |= eventi;
            _sveglia();
        }
        _cambiato.wait_until(blocco, scadenza,
                             [&] { return _generazione != generazione_vista || !_aperta; });
        return;
    }
    _in_attesa_socket = true;
    _direzioni_richieste = eventi;
    const int fd = _socket;
    blocco.unlock();
    auto resta =
        std::chrono::duration_cast<std::chrono::milliseconds>(scadenza - Orologio::now()).count();
    pollfd pf[2] = {{fd, eventi, 0}, {_sveglia_fd, POLLIN, 0}};
    // Il limite di un secondo è solo una rete di sicurezza contro un risveglio perso.
    ::poll(pf, 2, static_cast<int>(std::clamp<long long>(resta, 0, 1000)));
    if (pf[1].revents & POLLIN) {
        uint64_t v;
        [[maybe_unused]] auto n = ::read(_sveglia_fd, &v, sizeof v);
    }
    blocco.lock();
    _in_attesa_socket = false;
    _direzioni_richieste = 0;
    ++_generazione;
    _cambiato.notify_all();
}

int ConnessioneLibssh2::ripeti(const std::function<int()>& passo, Scadenza scadenza,
                               std::string* errore, LIBSSH2_SFTP* sftp) {
    const auto io = std::this_thread::get_id();
    // Chi ha un pacchetto uscente a metà lo porta a termine anche oltre la propria
    // scadenza, fino al limite di rete: abbandonarlo renderebbe inservibile la sessione.
    Scadenza limite_invio{};
    std::unique_lock blocco(_mutex);
    for (;;) {
        if (!_aperta) {
            if (_proprietario_invio == io) _proprietario_invio = {};
            *errore = _motivo;
            return LIBSSH2_ERROR_SOCKET_DISCONNECT;
        }
        if (_proprietario_invio != std::thread::id() && _proprietario_invio != io) {
            if (Orologio::now() >= scadenza) {
                *errore = "No answer from the server within the time limit";
                return LIBSSH2_ERROR_TIMEOUT;
            }
            _cambiato.wait_until(blocco, scadenza);
            continue;
        }
        const int rc = passo();
        const int direzioni = libssh2_session_block_directions(_sessione);
        ++_generazione;
        if (rc == LIBSSH2_ERROR_EAGAIN && (direzioni & LIBSSH2_SESSION_BLOCK_OUTBOUND)) {
            if (_proprietario_invio != io) limite_invio = Orologio::now() + timeout_rete();
            _proprietario_invio = io;
        } else if (_proprietario_invio == io) {
            _proprietario_invio = {};
        }
        // La chiamata può aver letto dal socket pacchetti destinati ad altri thread.
        _cambiato.notify_all();
        if (_in_attesa_socket) _sveglia();

        if (rc != LIBSSH2_ERROR_EAGAIN) {
            if (rc < 0) {
                *errore = _testo_errore(rc, sftp);
                if (errore_di_rete(rc) && _aperta.exchange(false)) {
                    _motivo = *errore;
                    ::shutdown(_socket, SHUT_RDWR);
                    _sveglia();
                }
            }
            return rc;
        }
        const bool proprietario = _proprietario_invio == io;
        const Scadenza limite = proprietario ? std::max(scadenza, limite_invio) : scadenza;
        if (Orologio::now() >= limite) {
            *errore = "No answer from the server within the time limit";
            if (proprietario) {
                // Un pacchetto rimasto a metà non si può abbandonare: la connessione
                // non è più utilizzabile.
                _proprietario_invio = {};
                if (_aperta.exchange(false)) {
                    _motivo = "Connection stalled: " + *errore;
                    ::shutdown(_socket, SHUT_RDWR);
                    _sveglia();
                }
            }
            return LIBSSH2_ERROR_TIMEOUT;
        }
        _attendi_socket(blocco, _generazione, direzioni, limite);
    }
}

int ConnessioneLibssh2::ripeti_o_lancia(const std::function<int()>& passo, Scadenza scadenza,
                                        const std::string& contesto, LIBSSH2_SFTP* sftp) {
    std::string errore;
    int rc = ripeti(passo, scadenza, &errore, sftp);
    if (rc < 0) throw Errore(contesto.empty() ? errore : contesto + ": " + errore);
    return rc;
}

// ---------------------------------------------------------------------------
// Canale exec

namespace {

class CanaleLibssh2 final : public Canale {
  public:
    CanaleLibssh2(std::shared_ptr<ConnessioneLibssh2> c, LIBSSH2_CHANNEL* canale)
        : _c(std::move(c)), _canale(canale) {}
    ~CanaleLibssh2() override { chiudi(); }

    void scrivi(std::string_view dati) override {
        _controlla();
        size_t fatto = 0;
        while (fatto < dati.size()) {
            auto n = _c->ripeti_o_lancia(
                [&] {
                    return static_cast<int>(
                        libssh2_channel_write_ex(_canale, 0, dati.data() + fatto,
                                                 std::min<size_t>(dati.size() - fatto, 1 << 20)));
                },
                _c->scadenza_rete(), "Writing to the command");
            fatto += static_cast<size_t>(n);
        }
    }

    void chiudi_scrittura() override {
        _controlla();
        _c->ripeti_o_lancia([&] { return libssh2_channel_send_eof(_canale); }, _c->scadenza_rete(),
                            "Closing the command's input");
    }

    void leggi_tutto(std::string& uscita, std::string& errori,
                     std::chrono::milliseconds timeout) override {
        _controlla();
        if (_fine_letta) return;
        for (;;) {
            bool finito = false;
            std::string errore;
            int rc = _c->ripeti([&] { return _leggi_turno(&uscita, &errori, finito); },
                                Orologio::now() + timeout, &errore);
            if (rc == LIBSSH2_ERROR_TIMEOUT)
                throw Errore("No output from the command within " + secondi(timeout));
            if (rc < 0) throw Errore(errore);
            if (finito) {
                _fine_letta = true;
                return;
            }
        }
    }

    std::optional<int> attendi_uscita(std::chrono::milliseconds timeout) override {
        _controlla();
        if (_uscita) return _uscita;
        const Scadenza scadenza = Orologio::now() + timeout;
        // Quello che resta da leggere va consumato, altrimenti il comando resta
        // fermo su una finestra piena e non esce mai.
        while (!_fine_letta) {
            bool finito = false;
            std::string errore;
            int rc = _c->ripeti([&] { return _leggi_turno(nullptr, nullptr, finito); }, scadenza,
                                &errore);
            if (rc == LIBSSH2_ERROR_TIMEOUT) return std::nullopt;
            if (rc < 0) throw Errore(errore);
            if (finito) _fine_letta = true;
        }
        std::string errore;
        int rc =
            _c->ripeti([&] { return libssh2_channel_wait_closed(_canale); }, scadenza, &errore);
        if (rc == LIBSSH2_ERROR_TIMEOUT) return std::nullopt;
        if (rc < 0) throw Errore(errore);
        std::string segnale;
        _c->ripeti(
            [&] {
                char* nome = nullptr;
                size_t lunghezza = 0;
                libssh2_channel_get_exit_signal(_canale, &nome, &lunghezza, nullptr, nullptr,
                                                nullptr, nullptr);
                if (nome) {
                    segnale.assign(nome, lunghezza);
                    libssh2_free(_c->sessione(), nome);
                }
                _uscita = libssh2_channel_get_exit_status(_canale);
                return 0;
            },
            scadenza, &errore);
        // Un comando terminato da un segnale esce come farebbe nella shell: 128 + numero.
        if (!segnale.empty()) _uscita = 128 + numero_segnale(segnale);
        return _uscita;
    }

    void chiudi() override {
        if (!_canale) return;
        if (_c->aperta()) {
            std::string errore;
            // Chiusura di cortesia, poi la liberazione: entrambe con un limite breve.
            // Un comando ancora in corso (nessuno stato di uscita) chiude il canale solo
            // quando finisce: si manda la chiusura e lo si lascia alla sessione.
            const auto attesa = _uscita
                                    ? std::min(_c->timeout_rete(), std::chrono::milliseconds(5000))
                                    : std::chrono::milliseconds(200);
            const Scadenza scadenza = Orologio::now() + attesa;
            int rc = _c->ripeti([&] { return libssh2_channel_close(_canale); }, scadenza, &errore);
            if (rc == 0 && _c->aperta())
                _c->ripeti([&] { return libssh2_channel_free(_canale); }, scadenza, &errore);
        }
        // A connessione chiusa il canale viene liberato insieme alla sessione.
        _canale = nullptr;
    }

  private:
    void _controlla() {
        if (!_canale) throw Errore("The channel is closed");
        if (!_c->aperta()) throw Errore(_c->motivo_chiusura());
    }

    // Un turno sotto il mutex: legge uscita ed errori finché ce n'è, senza che
    // l'uno possa bloccare l'altro. 1 = fine dei dati, 0 = progresso, EAGAIN = niente.
    int _leggi_turno(std::string* uscita, std::string* errori, bool& finito) {
        char buf[BLOCCO_LETTURA];
        size_t letti = 0;
        bool vuoti[2] = {false, false};
        while (letti < LETTURA_PER_TURNO && !(vuoti[0] && vuoti[1])) {
            for (int flusso = 0; flusso < 2; ++flusso) {
                if (vuoti[flusso]) continue;
                auto n = libssh2_channel_read_ex(_canale, flusso, buf, sizeof buf);
                if (n > 0) {
                    std::string* dest = flusso == 0 ? uscita : errori;
                    if (dest) dest->append(buf, static_cast<size_t>(n));
                    letti += static_cast<size_t>(n);
                } else if (n == 0 || n == LIBSSH2_ERROR_EAGAIN) {
                    vuoti[flusso] = true;
                } else {
                    return static_cast<int>(n);
                }
            }
        }
        if (vuoti[0] && vuoti[1] && libssh2_channel_eof(_canale)) {
            finito = true;
            return 1;
        }
        return letti > 0 ? 0 : LIBSSH2_ERROR_EAGAIN;
    }

    std::shared_ptr<ConnessioneLibssh2> _c;
    LIBSSH2_CHANNEL* _canale;
    bool _fine_letta = false;
    std::optional<int> _uscita;
};

}  // namespace

std::unique_ptr<Canale> ConnessioneLibssh2::apri_canale(const std::string& comando) {
    if (!_aperta) throw Errore(motivo_chiusura());
    LIBSSH2_CHANNEL* canale = nullptr;
    // libssh2 attende la conferma di un'apertura, o di una richiesta exec, per un
    // canale alla volta: quella di un altro canale la scambierebbe per un errore.
    // Aperture e richieste hanno quindi ciascuna il suo turno, e le due fasi di
    // comandi diversi si sovrappongono.
    std::unique_lock apertura(_mutex_apertura);
    std::string errore;
    int rc = ripeti(
        [&] {
            canale = libssh2_channel_open_session(_sessione);
            return canale ? 0 : libssh2_session_last_errno(_sessione);
        },
        scadenza_rete(), &errore);
    if (rc == LIBSSH2_ERROR_TIMEOUT) {
        // L'apertura interrotta resterebbe a metà nella sessione.
        segna_guasta("Connection stalled: the server did not open a channel");
        throw Errore("Cannot open a channel: " + errore);
    }
    if (rc < 0) throw Errore("Cannot open a channel: " + errore);
    apertura.unlock();
    auto risultato = std::make_unique<CanaleLibssh2>(shared_from_this(), canale);
    std::lock_guard richiesta(_mutex_richiesta);
    rc = ripeti(
        [&] {
            return libssh2_channel_process_startup(canale, "exec", 4, comando.data(),
                                                   static_cast<unsigned int>(comando.size()));
        },
        scadenza_rete(), &errore);
    if (rc == LIBSSH2_ERROR_TIMEOUT) {
        segna_guasta("Connection stalled: the server did not start the command");
        throw Errore("Cannot run the command: " + errore);
    }
    if (rc < 0) throw Errore("Cannot run the command: " + errore);
    return risultato;
}

}  // namespace ormeggio::ssh
