#pragma once
// La finestra principale: mostra il modulo di accesso o il browser, mai entrambi.
#include <memory>
#include <optional>
#include <string>

#include "online/servizi_online.h"
#include "sessions/ssh.h"
#include "tk/tk.h"

namespace ormeggio {

class LoginFrame;
class BrowserFrame;

inline constexpr const char* GEOMETRIA_LOGIN = "1000x640";
inline constexpr const char* GEOMETRIA_CONNESSO = "1500x850";

std::string percorso_iniziale_remoto();

class App : public std::enable_shared_from_this<App> {
public:
    // Crea la finestra radice "." (Tk dev'essere inizializzato).
    static std::shared_ptr<App> crea();
    ~App();

    void on_connesso(std::shared_ptr<ssh::Connessione> client, std::shared_ptr<ssh::Sftp> sftp,
                     const std::string& percorso_iniziale,
                     const std::string& percorso_locale_iniziale,
                     std::optional<std::string> sudo_password,
                     std::optional<std::string> nome_profilo);
    void on_disconnetti();
    void _chiudi();

    // Titolo della finestra, con l'avviso di una versione nuova se c'è.
    void _aggiorna_titolo();

    std::shared_ptr<ssh::Connessione> client;
    std::shared_ptr<ssh::Sftp> sftp;
    std::string percorso_corrente;
    std::shared_ptr<LoginFrame> frame_login;
    std::shared_ptr<BrowserFrame> frame_browser;
    std::optional<std::string> _versione_nuova;
    std::unique_ptr<tk::Variabile> _var_lingua;
    std::string etichetta_piede;  // percorso Tk del piè di pagina

    // Menu e preferenze.
    void _crea_menu();
    void _scegli_cartella_locale_predefinita();
    void _scegli_percorso_remoto_predefinito();
    void _modifica_esclusioni();
    void _imposta_lingua(const std::string& codice);
    void _apri_file_aiuto();
    void _apri_novita();
    void _apri_privacy();
    void _controlla_aggiornamenti(bool manuale);
    void _avvia_servizi_online();
    std::string _finestra_attesa();
    void _esito_versione(const std::optional<EsitoVersione>& esito, bool manuale,
                         const std::optional<std::string>& attesa);
    void _aggiungi_voci_online(const std::string& menu);

private:
    App() = default;
    void _costruisci();
    std::optional<std::string> _salva_ultimi_percorsi();
};

}  // namespace ormeggio
