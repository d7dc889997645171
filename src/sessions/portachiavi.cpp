#include "sessions/portachiavi.h"

#include <cxxabi.h>
#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <typeinfo>

#include "sessions/portachiavi_modulo.h"
#include "shell/version.h"

namespace ormeggio {

ErrorePortachiavi::~ErrorePortachiavi() = default;

namespace {

constexpr const char* TESTO_PROVA = "ormeggio-prova-portachiavi";

// Il modulo sta accanto a libormeggio.so.
const ApiPortachiavi& api() {
    static const ApiPortachiavi* caricata = nullptr;
    static std::string errore;
    static std::once_flag una_volta;
    std::call_once(una_volta, [] {
        Dl_info info{};
        std::string cartella = ".";
        if (::dladdr(reinterpret_cast<void*>(&_prova_portachiavi), &info) && info.dli_fname) {
            std::string f = info.dli_fname;
            auto barra = f.rfind('/');
            if (barra != std::string::npos) cartella = f.substr(0, barra);
        }
        void* h = ::dlopen((cartella + "/libormeggio_portachiavi.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!h) {
            const char* e = ::dlerror();
            errore = e ? e : "libormeggio_portachiavi.so";
            return;
        }
        auto f = reinterpret_cast<const ApiPortachiavi* (*)()>(::dlsym(h, "ormeggio_api_portachiavi"));
        if (f) caricata = f();
        if (!caricata) errore = "libormeggio_portachiavi.so senza ormeggio_api_portachiavi";
    });
    if (!caricata) throw ErrorePortachiavi("portachiavi non disponibile: " + errore);
    return *caricata;
}

std::string nome_tipo(const std::exception& e) {
    int stato = 0;
    char* chiaro = abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &stato);
    std::string nome = stato == 0 && chiaro ? chiaro : typeid(e).name();
    std::free(chiaro);
    const std::string prefisso = "ormeggio::";
    if (nome.rfind(prefisso, 0) == 0) nome.erase(0, prefisso.size());
    return nome;
}

}  // namespace

std::string _chiave(const std::string& nome_profilo, const std::string& tipo) {
    return nome_profilo + "::" + tipo;
}

void salva_segreto(const std::string& servizio, const std::string& account,
                   const std::string& segreto, const std::string& etichetta) {
    api().salva(servizio, account, segreto, etichetta);
}

std::optional<std::string> carica_segreto(const std::string& servizio, const std::string& account) {
    return api().carica(servizio, account);
}

bool elimina_segreto(const std::string& servizio, const std::string& account) {
    return api().elimina(servizio, account);
}

std::string nome_backend_portachiavi() { return api().nome_backend(); }

void salva_password(const std::string& nome_profilo, const std::string& tipo,
                    const std::string& password) {
    salva_segreto(SERVIZIO_KEYRING, _chiave(nome_profilo, tipo), password,
                  std::string(SERVIZIO_KEYRING) + ": password " + tipo + " di " + nome_profilo);
}

std::optional<std::string> carica_password(const std::string& nome_profilo,
                                           const std::string& tipo) {
    return carica_segreto(SERVIZIO_KEYRING, _chiave(nome_profilo, tipo));
}

void elimina_password(const std::string& nome_profilo, const std::string& tipo) {
    elimina_segreto(SERVIZIO_KEYRING, _chiave(nome_profilo, tipo));
}

std::pair<bool, std::string> _prova_portachiavi() {
    try {
        const std::string servizio = std::string(APP_NAME) + "-selftest";
        const std::string account = "prova";
        const std::string backend = nome_backend_portachiavi();
        salva_segreto(servizio, account, TESTO_PROVA, servizio + ": voce di prova");
        std::optional<std::string> riletto;
        try {
            riletto = carica_segreto(servizio, account);
        } catch (...) {
            try {
                elimina_segreto(servizio, account);
            } catch (...) {
            }
            throw;
        }
        elimina_segreto(servizio, account);
        if (riletto != TESTO_PROVA)
            return {false, "FALLITO (backend " + backend + ": riletto " +
                               (riletto ? "'" + *riletto + "'" : std::string("None")) + ")"};
        return {true, "OK (backend " + backend + ")"};
    } catch (const std::exception& e) {
        try {
            return {false, "FALLITO (" + nome_tipo(e) + ": " + e.what() + ")"};
        } catch (...) {
        }
    } catch (...) {
    }
    return {false, "FALLITO (errore sconosciuto)"};
}

}  // namespace ormeggio
