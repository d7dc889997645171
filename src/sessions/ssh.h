#pragma once
// Client SSH/SFTP su libssh2: una connessione condivisa da più thread, un mutex,
// modalità non bloccante; le attese sul socket avvengono senza il mutex.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ormeggio::ssh {

// Ogni errore porta un testo non vuoto (quello della libreria, se c'è).
class Errore : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ParametriConnessione {
    std::string host;
    int porta = 22;
    std::string utente;
    std::optional<std::string> password;    // anche per keyboard-interactive
    std::string chiave;                     // file della chiave privata, vuoto se assente
    std::optional<std::string> passphrase;  // della chiave
    int timeout_connessione_secondi = 15;
};

class Connessione;

// Un canale exec: un comando, senza pseudo-terminale.
class Canale {
public:
    virtual ~Canale() = default;
    // Scrive sullo standard input (tutto) e svuota.
    virtual void scrivi(std::string_view dati) = 0;
    // Chiude il lato di scrittura: il comando vede la fine dello standard input.
    virtual void chiudi_scrittura() = 0;
    // Legge standard output e standard error fino alla fine, insieme (nessuno dei due
    // può bloccare l'altro); ogni attesa di nuovi dati è limitata a timeout. Errore
    // allo scadere o se la connessione cade.
    virtual void leggi_tutto(std::string& uscita, std::string& errori,
                             std::chrono::milliseconds timeout) = 0;
    // Attende lo stato di uscita al massimo timeout; nullopt se non arriva.
    virtual std::optional<int> attendi_uscita(std::chrono::milliseconds timeout) = 0;
    virtual void chiudi() = 0;
};

struct VoceSftp {
    std::string nome;  // byte grezzi del nome
    uint32_t modo = 0;  // bit di st_mode (tipo e permessi)
    uint32_t uid = 0, gid = 0;
    uint64_t dimensione = 0;
    int64_t modificato = 0;  // secondi dall'epoca
    bool e_cartella() const { return (modo & 0170000) == 0040000; }
    bool e_collegamento() const { return (modo & 0170000) == 0120000; }
};

// File remoto aperto in lettura, con lettura anticipata.
class FileRemoto {
public:
    virtual ~FileRemoto() = default;
    // Legge fino a n byte; 0 alla fine del file. Errore se fallisce.
    virtual size_t leggi(char* buf, size_t n) = 0;
};

// Avanzamento: byte trasferiti finora.
using Avanzamento = std::function<void(uint64_t)>;

class Sftp {
public:
    virtual ~Sftp() = default;
    virtual std::vector<VoceSftp> elenca(const std::string& cartella) = 0;  // senza "." e ".."
    virtual VoceSftp stat(const std::string& percorso) = 0;
    virtual VoceSftp lstat(const std::string& percorso) = 0;
    virtual void invia(const std::string& locale, const std::string& remoto,
                       const Avanzamento& avanzamento = {}) = 0;
    virtual void ricevi(const std::string& remoto, const std::string& locale,
                        const Avanzamento& avanzamento = {}) = 0;
    virtual std::unique_ptr<FileRemoto> apri_lettura(const std::string& percorso) = 0;
    virtual void crea_cartella(const std::string& percorso, int modo) = 0;
    virtual void chmod(const std::string& percorso, int modo) = 0;
    virtual void rimuovi(const std::string& percorso) = 0;
    virtual void rimuovi_cartella(const std::string& percorso) = 0;
    virtual std::string normalizza(const std::string& percorso) = 0;  // "." -> la casa
    virtual void chiudi() = 0;
};

class Connessione {
public:
    virtual ~Connessione() = default;
    // Apre la connessione e autentica. Errore con il testo della libreria.
    static std::shared_ptr<Connessione> connetti(const ParametriConnessione& parametri);
    virtual void imposta_timeout(std::chrono::milliseconds timeout) = 0;  // rete, 30 s di solito
    virtual std::string impronta_host() const = 0;  // SHA-256 della chiave dell'host, esadecimale
    virtual std::unique_ptr<Canale> apri_canale(const std::string& comando) = 0;
    virtual std::shared_ptr<Sftp> apri_sftp() = 0;
    virtual void chiudi() = 0;  // chiude il socket; i canali ancora in uso falliscono con Errore
    virtual bool aperta() const = 0;
};

}  // namespace ormeggio::ssh
