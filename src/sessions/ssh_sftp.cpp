// Canale SFTP sulla connessione condivisa.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sessions/ssh.h"
#include "sessions/ssh_interno.h"

namespace ormeggio::ssh {

namespace {

// Un write di libssh2 spezza il buffer in richieste da ~30 KB e le tiene tutte in
// volo: con 1 MiB per chiamata la linea resta piena anche con molta latenza.
constexpr size_t BLOCCO_INVIO = 1 << 20;
constexpr size_t BUFFER_INVIO = 4 * BLOCCO_INVIO;
constexpr size_t BLOCCO_RICEZIONE = 2 << 20;
constexpr size_t LETTURA_ANTICIPATA = 1 << 20;

// Mutex che serve i richiedenti in ordine di arrivo: un trasferimento lungo che
// lo riprende a ogni blocco non deve lasciare indietro un elenco o uno stat.
class TurnoEquo {
  public:
    void lock() {
        std::unique_lock b(_m);
        const uint64_t mio = _prossimo++;
        _cv.wait(b, [&] { return _servito == mio; });
    }
    void unlock() {
        std::lock_guard b(_m);
        ++_servito;
        _cv.notify_all();
    }

  private:
    std::mutex _m;
    std::condition_variable _cv;
    uint64_t _prossimo = 0;
    uint64_t _servito = 0;
};

VoceSftp voce_da_attributi(std::string nome, const LIBSSH2_SFTP_ATTRIBUTES& a) {
    VoceSftp v;
    v.nome = std::move(nome);
    if (a.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS) v.modo = static_cast<uint32_t>(a.permissions);
    if (a.flags & LIBSSH2_SFTP_ATTR_UIDGID) {
        v.uid = static_cast<uint32_t>(a.uid);
        v.gid = static_cast<uint32_t>(a.gid);
    }
    if (a.flags & LIBSSH2_SFTP_ATTR_SIZE) v.dimensione = a.filesize;
    if (a.flags & LIBSSH2_SFTP_ATTR_ACMODTIME) v.modificato = static_cast<int64_t>(a.mtime);
    return v;
}

unsigned int lunghezza(const std::string& s) {
    return static_cast<unsigned int>(s.size());
}

class FileLocale {
  public:
    FileLocale(const std::string& percorso, int flag, mode_t modo = 0644)
        : _fd(::open(percorso.c_str(), flag | O_CLOEXEC, modo)) {
        if (_fd < 0) throw Errore(percorso + ": " + std::strerror(errno));
    }
    ~FileLocale() { chiudi(); }
    FileLocale(const FileLocale&) = delete;
    FileLocale& operator=(const FileLocale&) = delete;
    int fd() const { return _fd; }
    int chiudi() {
        int rc = 0;
        if (_fd >= 0) rc = ::close(_fd);
        _fd = -1;
        return rc;
    }

  private:
    int _fd;
};

}  // namespace

class SftpLibssh2 final : public Sftp, public std::enable_shared_from_this<SftpLibssh2> {
  public:
    SftpLibssh2(std::shared_ptr<ConnessioneLibssh2> c, LIBSSH2_SFTP* sftp)
        : _c(std::move(c)), _sftp(sftp) {}
    ~SftpLibssh2() override {
        try {
            chiudi();
        } catch (...) {
        }
    }

    // Un passo SFTP completo con il turno preso: le macchine a stati di libssh2 per
    // stat, open, readdir, read e write vivono nel canale SFTP e non si intrecciano.
    int esegui(const std::function<int()>& passo, const std::string& contesto) {
        std::lock_guard turno(_turno);
        return _esegui_senza_turno(passo, contesto);
    }

    void chiudi_maniglia(LIBSSH2_SFTP_HANDLE* h) {
        std::lock_guard turno(_turno);
        if (_chiuso || !_guasto.empty() || !_c->aperta()) return;
        std::string errore;
        const Scadenza scadenza =
            Orologio::now() + std::min(_c->timeout_rete(), std::chrono::milliseconds(5000));
        int rc = _c->ripeti([&] { return libssh2_sftp_close_handle(h); }, scadenza, &errore, _sftp);
        if (rc == LIBSSH2_ERROR_TIMEOUT) _guasto = "SFTP channel unusable after a time-out";
    }

    LIBSSH2_SFTP_HANDLE* apri(const std::string& percorso, unsigned long flag, long modo,
                              int tipo) {
        LIBSSH2_SFTP_HANDLE* h = nullptr;
        esegui(
            [&] {
                h = libssh2_sftp_open_ex(_sftp, percorso.data(), lunghezza(percorso), flag, modo,
                                         tipo);
                if (h) return 0;
                return libssh2_session_last_errno(_c->sessione());
            },
            percorso);
        return h;
    }

    std::vector<VoceSftp> elenca(const std::string& cartella) override {
        LIBSSH2_SFTP_HANDLE* h = apri(cartella, 0, 0, LIBSSH2_SFTP_OPENDIR);
        std::vector<VoceSftp> voci;
        try {
            char nome[4096];
            for (;;) {
                LIBSSH2_SFTP_ATTRIBUTES a{};
                int n = esegui(
                    [&] { return libssh2_sftp_readdir_ex(h, nome, sizeof nome, nullptr, 0, &a); },
                    cartella);
                if (n == 0) break;
                std::string s(nome, static_cast<size_t>(n));
                if (s == "." || s == "..") continue;
                voci.push_back(voce_da_attributi(std::move(s), a));
            }
        } catch (...) {
            chiudi_maniglia(h);
            throw;
        }
        chiudi_maniglia(h);
        return voci;
    }

    VoceSftp stat(const std::string& percorso) override {
        return _stat(percorso, LIBSSH2_SFTP_STAT);
    }
    VoceSftp lstat(const std::string& percorso) override {
        return _stat(percorso, LIBSSH2_SFTP_LSTAT);
    }

    void invia(const std::string& locale, const std::string& remoto,
               const Avanzamento& avanzamento) override {
        FileLocale f(locale, O_RDONLY);
        struct stat st {};
        if (::fstat(f.fd(), &st) != 0) throw Errore(locale + ": " + std::strerror(errno));
        LIBSSH2_SFTP_HANDLE* h =
            apri(remoto, LIBSSH2_FXF_WRITE | LIBSSH2_FXF_CREAT | LIBSSH2_FXF_TRUNC,
                 static_cast<long>(st.st_mode & 0777), LIBSSH2_SFTP_OPENFILE);
        try {
            std::unique_ptr<char[]> buf(new char[BUFFER_INVIO]);
            // Finestra [inizio, fine) dei byte letti e non ancora confermati dal server.
            size_t inizio = 0, fine = 0;
            uint64_t confermati = 0;
            bool fine_file = false;
            for (;;) {
                if (!fine_file && fine - inizio < BLOCCO_INVIO) {
                    if (BUFFER_INVIO - fine < BLOCCO_INVIO) {
                        std::memmove(buf.get(), buf.get() + inizio, fine - inizio);
                        fine -= inizio;
                        inizio = 0;
                    }
                    while (fine - inizio < BLOCCO_INVIO && fine < BUFFER_INVIO) {
                        ssize_t n = ::read(f.fd(), buf.get() + fine, BUFFER_INVIO - fine);
                        if (n < 0 && errno == EINTR) continue;
                        if (n < 0) throw Errore(locale + ": " + std::strerror(errno));
                        if (n == 0) {
                            fine_file = true;
                            break;
                        }
                        fine += static_cast<size_t>(n);
                    }
                }
                if (inizio == fine) break;
                const size_t quanti = std::min(fine - inizio, BLOCCO_INVIO);
                int n = esegui(
                    [&] {
                        return static_cast<int>(libssh2_sftp_write(h, buf.get() + inizio, quanti));
                    },
                    remoto);
                inizio += static_cast<size_t>(n);
                confermati += static_cast<uint64_t>(n);
                if (avanzamento && n > 0) avanzamento(confermati);
            }
        } catch (...) {
            chiudi_maniglia(h);
            throw;
        }
        // La chiusura conferma la scrittura: un suo errore è un errore dell'invio.
        esegui([&] { return libssh2_sftp_close_handle(h); }, remoto);
    }

    void ricevi(const std::string& remoto, const std::string& locale,
                const Avanzamento& avanzamento) override {
        LIBSSH2_SFTP_HANDLE* h = apri(remoto, LIBSSH2_FXF_READ, 0, LIBSSH2_SFTP_OPENFILE);
        bool creato = false;
        try {
            FileLocale f(locale, O_WRONLY | O_CREAT | O_TRUNC, 0644);
            creato = true;
            std::unique_ptr<char[]> buf(new char[BLOCCO_RICEZIONE]);
            uint64_t totale = 0;
            for (;;) {
                int n = esegui(
                    [&] {
                        return static_cast<int>(libssh2_sftp_read(h, buf.get(), BLOCCO_RICEZIONE));
                    },
                    remoto);
                if (n == 0) break;
                size_t scritti = 0;
                while (scritti < static_cast<size_t>(n)) {
                    ssize_t w =
                        ::write(f.fd(), buf.get() + scritti, static_cast<size_t>(n) - scritti);
                    if (w < 0 && errno == EINTR) continue;
                    if (w < 0) throw Errore(locale + ": " + std::strerror(errno));
                    scritti += static_cast<size_t>(w);
                }
                totale += static_cast<uint64_t>(n);
                if (avanzamento) avanzamento(totale);
            }
            if (f.chiudi() != 0) throw Errore(locale + ": " + std::strerror(errno));
        } catch (...) {
            chiudi_maniglia(h);
            // Un file ricevuto a metà non serve a nessuno.
            if (creato) ::unlink(locale.c_str());
            throw;
        }
        chiudi_maniglia(h);
    }

    std::unique_ptr<FileRemoto> apri_lettura(const std::string& percorso) override;

    void crea_cartella(const std::string& percorso, int modo) override {
        esegui(
            [&] {
                return libssh2_sftp_mkdir_ex(_sftp, percorso.data(), lunghezza(percorso), modo);
            },
            percorso);
    }

    void chmod(const std::string& percorso, int modo) override {
        LIBSSH2_SFTP_ATTRIBUTES a{};
        a.flags = LIBSSH2_SFTP_ATTR_PERMISSIONS;
        a.permissions = static_cast<unsigned long>(modo & 07777);
        esegui(
            [&] {
                return libssh2_sftp_stat_ex(_sftp, percorso.data(), lunghezza(percorso),
                                            LIBSSH2_SFTP_SETSTAT, &a);
            },
            percorso);
    }

    void rimuovi(const std::string& percorso) override {
        esegui([&] { return libssh2_sftp_unlink_ex(_sftp, percorso.data(), lunghezza(percorso)); },
               percorso);
    }

    void rimuovi_cartella(const std::string& percorso) override {
        esegui([&] { return libssh2_sftp_rmdir_ex(_sftp, percorso.data(), lunghezza(percorso)); },
               percorso);
    }

    std::string normalizza(const std::string& percorso) override {
        std::string destinazione(4096, '\0');
        int n = esegui(
            [&] {
                return libssh2_sftp_symlink_ex(_sftp, percorso.data(), lunghezza(percorso),
                                               destinazione.data(), lunghezza(destinazione),
                                               LIBSSH2_SFTP_REALPATH);
            },
            percorso);
        destinazione.resize(static_cast<size_t>(n));
        return destinazione;
    }

    void chiudi() override {
        std::lock_guard turno(_turno);
        if (_chiuso) return;
        _chiuso = true;
        if (!_c->aperta()) return;  // liberato con la sessione
        std::string errore;
        const Scadenza scadenza =
            Orologio::now() + std::min(_c->timeout_rete(), std::chrono::milliseconds(5000));
        _c->ripeti([&] { return libssh2_sftp_shutdown(_sftp); }, scadenza, &errore);
    }

  private:
    int _esegui_senza_turno(const std::function<int()>& passo, const std::string& contesto) {
        if (_chiuso) throw Errore("The SFTP channel is closed");
        if (!_guasto.empty()) throw Errore(_guasto);
        std::string errore;
        int rc = _c->ripeti(passo, _c->scadenza_rete(), &errore, _sftp);
        if (rc == LIBSSH2_ERROR_TIMEOUT) {
            // L'operazione interrotta resta a metà nel canale SFTP: un'altra la
            // riprenderebbe al suo posto.
            _guasto = "SFTP channel unusable after a time-out";
        }
        if (rc < 0) throw Errore(contesto.empty() ? errore : contesto + ": " + errore);
        return rc;
    }

    VoceSftp _stat(const std::string& percorso, int tipo) {
        LIBSSH2_SFTP_ATTRIBUTES a{};
        esegui(
            [&] {
                return libssh2_sftp_stat_ex(_sftp, percorso.data(), lunghezza(percorso), tipo, &a);
            },
            percorso);
        auto barra = percorso.find_last_of('/');
        return voce_da_attributi(barra == std::string::npos ? percorso : percorso.substr(barra + 1),
                                 a);
    }

    std::shared_ptr<ConnessioneLibssh2> _c;
    LIBSSH2_SFTP* _sftp;
    TurnoEquo _turno;
    bool _chiuso = false;
    std::string _guasto;
};

namespace {

class FileRemotoLibssh2 final : public FileRemoto {
  public:
    FileRemotoLibssh2(std::shared_ptr<SftpLibssh2> s, LIBSSH2_SFTP_HANDLE* h, std::string percorso)
        : _s(std::move(s)),
          _h(h),
          _percorso(std::move(percorso)),
          _buf(new char[LETTURA_ANTICIPATA]) {}
    ~FileRemotoLibssh2() override { _s->chiudi_maniglia(_h); }

    size_t leggi(char* buf, size_t n) override {
        if (_pos == _len) {
            if (_fine) return 0;
            // libssh2 tiene in volo richieste per tutto il buffer: è la lettura anticipata.
            int letti = _s->esegui(
                [&] {
                    return static_cast<int>(libssh2_sftp_read(_h, _buf.get(), LETTURA_ANTICIPATA));
                },
                _percorso);
            _pos = 0;
            _len = static_cast<size_t>(letti);
            if (letti == 0) {
                _fine = true;
                return 0;
            }
        }
        const size_t k = std::min(n, _len - _pos);
        std::memcpy(buf, _buf.get() + _pos, k);
        _pos += k;
        return k;
    }

  private:
    std::shared_ptr<SftpLibssh2> _s;
    LIBSSH2_SFTP_HANDLE* _h;
    std::string _percorso;
    std::unique_ptr<char[]> _buf;
    size_t _pos = 0, _len = 0;
    bool _fine = false;
};

}  // namespace

std::unique_ptr<FileRemoto> SftpLibssh2::apri_lettura(const std::string& percorso) {
    LIBSSH2_SFTP_HANDLE* h = apri(percorso, LIBSSH2_FXF_READ, 0, LIBSSH2_SFTP_OPENFILE);
    return std::make_unique<FileRemotoLibssh2>(shared_from_this(), h, percorso);
}

std::shared_ptr<Sftp> ConnessioneLibssh2::apri_sftp() {
    if (!_aperta) throw Errore(motivo_chiusura());
    LIBSSH2_SFTP* sftp = nullptr;
    // L'avvio di SFTP apre un canale e chiede il sottosistema: prende entrambi i turni.
    std::scoped_lock turni(_mutex_apertura, _mutex_richiesta);
    std::string errore;
    int rc = ripeti(
        [&] {
            sftp = libssh2_sftp_init(_sessione);
            return sftp ? 0 : libssh2_session_last_errno(_sessione);
        },
        scadenza_rete(), &errore);
    if (rc == LIBSSH2_ERROR_TIMEOUT) {
        segna_guasta("Connection stalled: the server did not start SFTP");
        throw Errore("Cannot start SFTP: " + errore);
    }
    if (rc < 0) throw Errore("Cannot start SFTP: " + errore);
    return std::make_shared<SftpLibssh2>(shared_from_this(), sftp);
}

}  // namespace ormeggio::ssh
