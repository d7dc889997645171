// Barra dei menu della finestra principale e i suoi comandi.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tk/tk.h"
#include "browser/browser_frame.h"
#include "sessions/impostazioni.h"
#include "sessions/login_frame.h"
#include "shell/about_dialog.h"
#include "shell/app.h"
#include "shell/i18n.h"
#include "shell/version.h"

namespace ormeggio {

namespace {

std::string cartella_programma() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : p.parent_path().string();
}

}  // namespace

void App::_crea_menu() {
    std::weak_ptr<App> debole = weak_from_this();
    auto azione = [debole](void (App::*metodo)()) {
        return tk::comando([debole, metodo](const std::vector<std::string>&) {
            if (auto app = debole.lock()) ((*app).*metodo)();
        });
    };
    const std::string barra = ".menu";
    tk::chiama("menu", barra, "-tearoff", 0);

    const std::string file = barra + ".file";
    tk::chiama("menu", file, "-tearoff", 0);
    tk::chiama(file, "add", "command", "-label", t("Esci"), "-command", azione(&App::_chiudi));
    tk::chiama(barra, "add", "cascade", "-label", t("File"), "-menu", file);

    const std::string imp = barra + ".impostazioni";
    tk::chiama("menu", imp, "-tearoff", 0);
    tk::chiama(imp, "add", "command", "-label", t("Cartella locale predefinita…"), "-command",
               azione(&App::_scegli_cartella_locale_predefinita));
    tk::chiama(imp, "add", "command", "-label", t("Cartella remota predefinita…"), "-command",
               azione(&App::_scegli_percorso_remoto_predefinito));
    tk::chiama(imp, "add", "separator");
    tk::chiama(imp, "add", "command", "-label", t("Esclusioni dall'upload…"), "-command",
               azione(&App::_modifica_esclusioni));
    tk::chiama(barra, "add", "cascade", "-label", t("Impostazioni"), "-menu", imp);

    const std::string lin = barra + ".lingua";
    tk::chiama("menu", lin, "-tearoff", 0);
    _var_lingua = std::make_unique<tk::Variabile>(lingua());
    for (const auto& [codice, nome] : LANGUAGES) {
        tk::chiama(lin, "add", "radiobutton", "-label", nome, "-value", codice, "-variable",
                   _var_lingua->nome(), "-command",
                   tk::comando([debole, codice = codice](const std::vector<std::string>&) {
                       if (auto app = debole.lock()) app->_imposta_lingua(codice);
                   }));
    }
    tk::chiama(barra, "add", "cascade", "-label", t("Lingua"), "-menu", lin);

    const std::string aiuto = barra + ".aiuto";
    tk::chiama("menu", aiuto, "-tearoff", 0);
    tk::chiama(aiuto, "add", "command", "-label", t("File di aiuto"), "-command",
               azione(&App::_apri_file_aiuto));
    _aggiungi_voci_online(aiuto);
    tk::chiama(aiuto, "add", "separator");
    tk::chiama(aiuto, "add", "command", "-label",
               t("Informazioni su {app_name}…", {{"app_name", APP_NAME}}), "-command",
               tk::comando([](const std::vector<std::string>&) { AboutDialog::crea("."); }));
    tk::chiama(barra, "add", "cascade", "-label", t("Aiuto"), "-menu", aiuto);

    tk::chiama(".", "configure", "-menu", barra);
}

void App::_scegli_cartella_locale_predefinita() {
    auto scelta = tk::scegli_cartella(t("Cartella locale predefinita per le nuove sessioni"),
                                      cartella_locale_predefinita(), ".");
    if (!scelta || scelta->empty()) return;
    imposta_cartella_locale_predefinita(*scelta);
    if (!frame_browser) frame_login->var_percorso_locale->set(*scelta);
}

void App::_scegli_percorso_remoto_predefinito() {
    auto risposta = tk::chiedi_testo(
        t("Cartella remota predefinita"),
        t("Cartella di partenza sul server, per i profili che non ne indicano una:"),
        percorso_remoto_predefinito(), ".", "OK", t("Annulla"));
    if (!risposta) return;
    const char* spazi = " \t\r\n\f\v";
    size_t inizio = risposta->find_first_not_of(spazi);
    std::string p = inizio == std::string::npos
                        ? std::string("/")
                        : risposta->substr(inizio, risposta->find_last_not_of(spazi) - inizio + 1);
    if (p[0] != '/') {
        tk::errore(t("Cartella remota predefinita"),
                   t("Il percorso deve essere assoluto, cioè cominciare con /."), ".");
        return;
    }
    imposta_percorso_remoto_predefinito(p);
}

void App::_imposta_lingua(const std::string& codice) {
    imposta_lingua(codice);
    tk::informa(t("Lingua"),
                "La lingua sarà applicata al prossimo avvio dell'applicazione.\n"
                "The language will be applied the next time the application starts.",
                ".");
}

void App::_apri_file_aiuto() {
    std::string percorso = cartella_programma() + "/README.md";
    std::error_code ec;
    if (!std::filesystem::is_regular_file(percorso, ec)) {
        tk::errore(t("File di aiuto"), t("File di aiuto non trovato: {percorso}",
                                         {{"percorso", percorso}}),
                   ".");
        return;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execlp("xdg-open", "xdg-open", percorso.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int stato = 0;
    bool avviato = pid > 0 && ::waitpid(pid, &stato, 0) == pid &&
                   !(WIFEXITED(stato) && WEXITSTATUS(stato) == 127);
    if (!avviato) {
        std::string e = pid < 0 ? std::strerror(errno) : "xdg-open: comando non trovato";
        tk::errore(t("File di aiuto"), t("Impossibile aprire il file di aiuto: {e}", {{"e", e}}),
                   ".");
    }
}

}  // namespace ormeggio
