#pragma once
// Il modulo di accesso: sessioni salvate a sinistra, dati della connessione a destra.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "sessions/ssh.h"
#include "tk/tk.h"

namespace ormeggio {

class LoginFrame : public std::enable_shared_from_this<LoginFrame> {
public:
    using CallbackConnesso = std::function<void(
        std::shared_ptr<ssh::Connessione> client, std::shared_ptr<ssh::Sftp> sftp,
        const std::string& percorso_iniziale, const std::string& percorso_locale_iniziale,
        std::optional<std::string> sudo_password, std::optional<std::string> nome_profilo)>;

    static std::shared_ptr<LoginFrame> crea(const std::string& genitore,
                                            CallbackConnesso on_connesso);
    ~LoginFrame();

    std::string percorso;      // il riquadro Tk
    std::string btn_connetti;  // il pulsante "Connetti"
    std::unique_ptr<tk::Variabile> var_percorso_locale;

private:
    LoginFrame() = default;
    CallbackConnesso _on_connesso;
};

}  // namespace ormeggio
