#pragma once
// Parti interne del client SSH condivise fra ssh.cpp e ssh_sftp.cpp.
#include <libssh2.h>
#include <libssh2_sftp.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "sessions/ssh.h"

namespace ormeggio::ssh {

using Orologio = std::chrono::steady_clock;
using Scadenza = Orologio::time_point;

class ConnessioneLibssh2 final : public Connessione,
                                 public std::enable_shared_from_this<ConnessioneLibssh2> {
  public:
    ConnessioneLibssh2();
    ~ConnessioneLibssh2() override;
    ConnessioneLibssh2(const ConnessioneLibssh2&) = delete;
    ConnessioneLibssh2& operator=(const ConnessioneLibssh2&) = delete;

    void apri(const ParametriConnessione& parametri);

    void imposta_timeout(std::chrono::milliseconds timeout) override;
    std::string impronta_host() const override { return _impronta; }
    std::unique_ptr<Canale> apri_canale(const std::string& comando) override;
    std::shared_ptr<Sftp> apri_sftp() override;
    void chiudi() override;
    bool aperta() const override { return _aperta.load(); }

    // Chiama passo() sotto il mutex finché restituisce LIBSSH2_ERROR_EAGAIN; fra un
    // tentativo e l'altro attende il socket senza il mutex. Restituisce il codice
    // finale; se è negativo, *errore riceve il testo (mai vuoto). Allo scadere
    // restituisce LIBSSH2_ERROR_TIMEOUT. Se sftp non è nullo, un errore del
    // protocollo SFTP viene tradotto nel testo del suo codice di stato.
    int ripeti(const std::function<int()>& passo, Scadenza scadenza, std::string* errore,
               LIBSSH2_SFTP* sftp = nullptr);
    // Come ripeti, ma lancia Errore con il testo (preceduto da contesto, se c'è).
    int ripeti_o_lancia(const std::function<int()>& passo, Scadenza scadenza,
                        const std::string& contesto = {}, LIBSSH2_SFTP* sftp = nullptr);

    Scadenza scadenza_rete() const;
    std::chrono::milliseconds timeout_rete() const {
        return std::chrono::milliseconds(_timeout_ms.load());
    }
    LIBSSH2_SESSION* sessione() const { return _sessione; }
    // Serializza le macchine a stati di libssh2 che vivono nella sessione (apertura
    // di canali e del sottosistema SFTP): vanno completate da un solo chiamante.
    std::mutex& mutex_apertura() { return _mutex_apertura; }
    // Lo stesso per le richieste sui canali che attendono risposta (exec, sottosistema).
    std::mutex& mutex_richiesta() { return _mutex_richiesta; }
    // Rende inutilizzabile la connessione: ogni chiamata successiva fallisce con motivo.
    void segna_guasta(const std::string& motivo);
    std::string motivo_chiusura() const;

  private:
    void _connetti_tcp(const ParametriConnessione& p, Scadenza scadenza);
    void _autentica(const ParametriConnessione& p, Scadenza scadenza);
    bool _autentica_con_agente(const std::string& utente, Scadenza scadenza, std::string* errore);
    void _attendi_socket(std::unique_lock<std::mutex>& blocco, uint64_t generazione_vista,
                         int direzioni, Scadenza scadenza);
    void _sveglia();
    std::string _testo_errore(int codice, LIBSSH2_SFTP* sftp);
    static void _risposta_interattiva(const char* nome, int nome_len, const char* istruzione,
                                      int istruzione_len, int num_domande,
                                      const LIBSSH2_USERAUTH_KBDINT_PROMPT* domande,
                                      LIBSSH2_USERAUTH_KBDINT_RESPONSE* risposte, void** astratto);

    int _socket = -1;
    int _sveglia_fd = -1;  // eventfd: interrompe chi attende sul socket
    LIBSSH2_SESSION* _sessione = nullptr;
    std::string _impronta;
    std::atomic<bool> _aperta{false};
    std::atomic<int64_t> _timeout_ms{30000};
    std::string _password_interattiva;  // solo durante l'autenticazione

    mutable std::mutex _mutex;  // protegge la sessione libssh2 e i campi qui sotto
    std::condition_variable _cambiato;
    uint64_t _generazione = 0;       // cresce a ogni chiamata a libssh2 e a ogni risveglio
    bool _in_attesa_socket = false;  // un thread è in poll sul socket
    int _direzioni_richieste = 0;    // direzioni che gli altri thread aspettano
    // Un pacchetto uscente rimasto a metà appartiene all'operazione che lo ha
    // cominciato: finché non lo completa, nessun altro thread chiama libssh2.
    std::thread::id _proprietario_invio;
    std::string _motivo;

    std::mutex _mutex_apertura;
    std::mutex _mutex_richiesta;
};

// Allocatore delle sessioni libssh2 (ssh_memoria.cpp). Ciò che libssh2 libera da sé
// (risposte keyboard-interactive, firme) va allocato con alloca_libssh2.
void* alloca_libssh2(size_t n, void** astratto);
void libera_libssh2(void* p, void** astratto);
void* rialloca_libssh2(void* p, size_t n, void** astratto);

// Testo leggibile di un codice di stato SFTP.
std::string testo_stato_sftp(unsigned long codice);

}  // namespace ormeggio::ssh
