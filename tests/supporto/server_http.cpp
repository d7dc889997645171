#include "supporto/server_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace prove {

ServerHttp::ServerHttp() {
    _ascolto = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t l = sizeof a;
    if (::bind(_ascolto, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(_ascolto, 16) != 0 ||
        ::getsockname(_ascolto, reinterpret_cast<sockaddr*>(&a), &l) != 0)
        throw std::runtime_error("server HTTP di prova");
    _porta = ntohs(a.sin_port);
    _thread = std::thread([this] { _accetta(); });
}

ServerHttp::~ServerHttp() {
    {
        std::lock_guard b(_m);
        _fermo = true;
    }
    _cv.notify_all();
    _thread.join();
    for (auto& t : _lavori) t.join();
    ::close(_ascolto);
}

void ServerHttp::imposta(const std::string& percorso, RispostaHttp risposta) {
    std::lock_guard b(_m);
    _percorsi[percorso] = std::move(risposta);
}

void ServerHttp::imposta_gestore(std::function<RispostaHttp(const std::string&)> gestore) {
    std::lock_guard b(_m);
    _gestore = std::move(gestore);
}

std::string ServerHttp::url(const std::string& percorso) const {
    return "http://127.0.0.1:" + std::to_string(_porta) + percorso;
}

std::vector<std::string> ServerHttp::richieste() {
    std::lock_guard b(_m);
    return _richieste;
}

void ServerHttp::_accetta() {
    while (true) {
        {
            std::lock_guard b(_m);
            if (_fermo) return;
        }
        pollfd p{_ascolto, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        int fd = ::accept4(_ascolto, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) _lavori.emplace_back([this, fd] { _servi(fd); });
    }
}

void ServerHttp::_servi(int fd) {
    std::string testa;
    char buf[4096];
    while (testa.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        testa.append(buf, size_t(n));
    }
    RispostaHttp r{404, "non trovato", {}, false};
    {
        std::unique_lock b(_m);
        _richieste.push_back(testa);
        size_t inizio = testa.find(' ');
        std::string percorso =
            inizio == std::string::npos ? "" : testa.substr(inizio + 1, testa.find(' ', inizio + 1) - inizio - 1);
        percorso = percorso.substr(0, percorso.find('?'));
        auto it = _percorsi.find(percorso);
        if (it != _percorsi.end())
            r = it->second;
        else if (_gestore)
            r = _gestore(percorso);
        if (r.ritardo.count() > 0) _cv.wait_for(b, r.ritardo, [this] { return _fermo; });
    }
    if (r.reset) {
        linger l{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        ::close(fd);
        return;
    }
    std::string risposta = "HTTP/1.1 " + std::to_string(r.stato) +
                           " X\r\nContent-Type: application/json\r\nContent-Length: " +
                           std::to_string(r.corpo.size()) + "\r\nConnection: close\r\n\r\n" +
                           r.corpo;
    size_t inviati = 0;
    while (inviati < risposta.size()) {
        ssize_t n = ::send(fd, risposta.data() + inviati, risposta.size() - inviati, MSG_NOSIGNAL);
        if (n <= 0) break;
        inviati += size_t(n);
    }
    ::close(fd);
}

}  // namespace prove
