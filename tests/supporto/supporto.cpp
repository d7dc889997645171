#include "supporto/supporto.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace prove {

std::string cartella_temporanea(const std::string& prefisso) {
    const char* base = std::getenv("ORMEGGIO_PROVE_TMP");
    std::string modello = std::string(base && *base ? base : "/tmp") + "/" + prefisso + ".XXXXXX";
    std::string buf = modello;
    if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp " + modello);
    return buf;
}

CasaTemporanea::CasaTemporanea() : _percorso(cartella_temporanea("casa")) {
    if (const char* h = std::getenv("HOME")) {
        _vecchia = h;
        _aveva = true;
    }
    ::setenv("HOME", _percorso.c_str(), 1);
}

CasaTemporanea::~CasaTemporanea() {
    if (_aveva)
        ::setenv("HOME", _vecchia.c_str(), 1);
    else
        ::unsetenv("HOME");
    std::error_code ec;
    std::filesystem::permissions(_percorso, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(_percorso, ec);
}

const std::map<std::string, std::string>& fatti_ssh() {
    static const std::map<std::string, std::string> fatti = [] {
        std::map<std::string, std::string> m;
        const char* p = std::getenv("ORMEGGIO_SSH_FATTI");
        if (!p) return m;
        std::ifstream f(p);
        std::string riga;
        while (std::getline(f, riga)) {
            auto uguale = riga.find('=');
            if (uguale != std::string::npos) m[riga.substr(0, uguale)] = riga.substr(uguale + 1);
        }
        return m;
    }();
    return fatti;
}

std::string fatto_ssh(const std::string& chiave) {
    auto it = fatti_ssh().find(chiave);
    if (it == fatti_ssh().end())
        throw std::runtime_error("server SSH di prova: manca " + chiave + " (ORMEGGIO_SSH_FATTI)");
    return it->second;
}

ormeggio::ssh::ParametriConnessione parametri_server_prova(const std::string& utente,
                                                           const std::string& password) {
    ormeggio::ssh::ParametriConnessione p;
    p.host = fatto_ssh("HOST");
    p.porta = std::stoi(fatto_ssh("PORTA"));
    p.utente = utente.empty() ? fatto_ssh("UTENTE") : utente;
    p.password = password.empty() ? fatto_ssh("PASSWORD") : password;
    return p;
}

std::string leggi_file(const std::string& percorso) {
    std::ifstream f(percorso, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void scrivi_file(const std::string& percorso, const std::string& contenuto) {
    std::ofstream f(percorso, std::ios::binary | std::ios::trunc);
    f << contenuto;
}

std::string esegui_locale(const std::string& comando, int* stato) {
    std::string out;
    FILE* p = ::popen(comando.c_str(), "r");
    if (!p) throw std::runtime_error("popen " + comando);
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int s = ::pclose(p);
    if (stato) *stato = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    return out;
}

}  // namespace prove
