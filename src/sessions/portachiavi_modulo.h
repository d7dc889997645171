#pragma once
// Il contratto fra libormeggio.so e il modulo libsecret caricato al primo uso.
#include <optional>
#include <string>

namespace ormeggio {

struct ApiPortachiavi {
    void (*salva)(const std::string& servizio, const std::string& account,
                  const std::string& segreto, const std::string& etichetta);
    std::optional<std::string> (*carica)(const std::string& servizio, const std::string& account);
    bool (*elimina)(const std::string& servizio, const std::string& account);
    std::string (*nome_backend)();
};

}  // namespace ormeggio

extern "C" const ormeggio::ApiPortachiavi* ormeggio_api_portachiavi();
