#pragma once
// Il browser: pannello locale e pannello remoto affiancati, con i pulsanti.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "sessions/ssh.h"
#include "tk/tk.h"

namespace ormeggio {

class BrowserFrame : public std::enable_shared_from_this<BrowserFrame> {
public:
    static std::shared_ptr<BrowserFrame> crea(
        const std::string& genitore, std::shared_ptr<ssh::Connessione> client,
        std::shared_ptr<ssh::Sftp> sftp, const std::string& percorso_iniziale,
        const std::string& percorso_locale_iniziale, std::optional<std::string> sudo_password,
        std::optional<std::string> nome_profilo, std::function<void()> on_disconnetti);
    ~BrowserFrame();

    // Registra le cartelle correnti nella sessione salvata.
    void salva_ultimi_percorsi();

    std::string percorso;
    std::shared_ptr<ssh::Connessione> client;
    std::shared_ptr<ssh::Sftp> sftp;
    std::string percorso_remoto;
    std::string percorso_locale;
    std::optional<std::string> sudo_password;
    std::optional<std::string> nome_profilo;
    std::string btn_disconnetti;

private:
    BrowserFrame() = default;
    std::function<void()> _on_disconnetti;
};

}  // namespace ormeggio
