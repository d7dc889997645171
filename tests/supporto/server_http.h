#pragma once
// Un piccolo server HTTP su loopback per le prove: una connessione per richiesta,
// risposte scelte per percorso (senza la query). Registra ogni richiesta ricevuta.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace prove {

struct RispostaHttp {
    int stato = 200;
    std::string corpo;
    std::chrono::milliseconds ritardo{0};
    bool reset = false;  // chiude la connessione con RST senza rispondere
};

class ServerHttp {
public:
    ServerHttp();
    ~ServerHttp();
    ServerHttp(const ServerHttp&) = delete;
    ServerHttp& operator=(const ServerHttp&) = delete;

    void imposta(const std::string& percorso, RispostaHttp risposta);
    // Risponde ai percorsi senza una risposta fissa (altrimenti 404).
    void imposta_gestore(std::function<RispostaHttp(const std::string& percorso)> gestore);
    std::string url(const std::string& percorso = "") const;
    std::vector<std::string> richieste();  // riga e intestazioni di ogni richiesta

private:
    void _accetta();
    void _servi(int fd);

    int _ascolto = -1;
    int _porta = 0;
    std::thread _thread;
    std::vector<std::thread> _lavori;
    std::mutex _m;
    std::condition_variable _cv;
    bool _fermo = false;
    std::vector<std::string> _richieste;
    std::map<std::string, RispostaHttp> _percorsi;
    std::function<RispostaHttp(const std::string&)> _gestore;
};

}  // namespace prove
