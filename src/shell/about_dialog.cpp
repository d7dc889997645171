#include "shell/about_dialog.h"

#include <spawn.h>
#include <sys/wait.h>

#include <thread>

#include "shell/i18n.h"
#include "shell/version.h"
#include "tk/tk.h"

extern char** environ;

namespace ormeggio {

void apri_indirizzo(const std::string& indirizzo) {
    // xdg-open può restare in attesa del browser: lo si raccoglie in un thread.
    std::thread([indirizzo] {
        pid_t pid = 0;
        const char* argv[] = {"xdg-open", indirizzo.c_str(), nullptr};
        if (::posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char**>(argv),
                           environ) == 0) {
            int stato = 0;
            ::waitpid(pid, &stato, 0);
        }
    }).detach();
}

void AboutDialog::_separatore(const std::string& contenitore) {
    std::string s = tk::nuovo_nome(contenitore, "sep");
    tk::chiama("frame", s, "-height", 1, "-background", "#e0e0e0");
    tk::chiama("pack", s, "-fill", "x", "-pady", 10);
}

void AboutDialog::_riga_contatto(const std::string& contenitore, int riga,
                                 const std::string& etichetta, const std::string& valore,
                                 const std::optional<std::string>& link) {
    std::string e = tk::nuovo_nome(contenitore, "et");
    tk::chiama("label", e, "-text", etichetta, "-foreground", _LABEL_FG, "-font", tk::carattere(9),
               "-width", 10, "-anchor", "e", "-background", "white");
    tk::chiama("grid", e, "-row", riga, "-column", 0, "-sticky", "e", "-pady", 2, "-padx",
               tk::Obj{tk::Obj(0), tk::Obj(8)});
    std::string v = tk::nuovo_nome(contenitore, "val");
    if (link) {
        tk::Obj f = tk::carattere(9);
        std::vector<tk::Obj> sottolineato;
        for (auto& x : f.lista()) sottolineato.emplace_back(x);
        sottolineato.emplace_back("underline");
        tk::chiama("label", v, "-text", valore, "-foreground", _LINK_FG, "-font",
                   tk::Obj(sottolineato), "-cursor", "hand2", "-background", "white");
        tk::chiama("bind", v, "<Button-1>",
                   tk::comando([l = *link](const std::vector<std::string>&) { apri_indirizzo(l); },
                               v));
    } else {
        tk::chiama("label", v, "-text", valore, "-foreground", "#111", "-font", tk::carattere(9),
                   "-background", "white");
    }
    tk::chiama("grid", v, "-row", riga, "-column", 1, "-sticky", "w", "-pady", 2);
}

std::string AboutDialog::crea(const std::string& master) {
    std::string w = tk::nuovo_nome(master, "informazioni");
    tk::chiama("toplevel", w, "-background", "white");
    tk::chiama("wm", "title", w, t("Informazioni su {app_name}", {{"app_name", APP_NAME}}));
    tk::chiama("wm", "resizable", w, 0, 0);
    tk::chiama("wm", "transient", w, master);

    std::string testa = w + ".testa";
    tk::chiama("frame", testa, "-background", _HEADER_BG);
    tk::chiama("pack", testa, "-fill", "x");
    std::string nome = testa + ".nome";
    tk::chiama("label", nome, "-text", APP_NAME, "-foreground", "white", "-background", _HEADER_BG,
               "-font", tk::carattere(14, true));
    tk::chiama("pack", nome, "-anchor", "w", "-padx", 24, "-pady", tk::Obj{tk::Obj(18), tk::Obj(0)});
    std::string ver = testa + ".versione";
    tk::chiama("label", ver, "-text", t("Versione {version}", {{"version", APP_VERSION}}),
               "-foreground", _HEADER_FG_VERSION, "-background", _HEADER_BG, "-font",
               tk::carattere(10));
    tk::chiama("pack", ver, "-anchor", "w", "-padx", 24, "-pady", tk::Obj{tk::Obj(0), tk::Obj(18)});

    std::string corpo = w + ".corpo";
    tk::chiama("frame", corpo, "-background", "white");
    tk::chiama("pack", corpo, "-fill", "both", "-expand", 1, "-padx", 24, "-pady", 18);
    auto etichetta = [&](const std::string& testo, const char* colore, tk::Obj font,
                         int sotto = 0) {
        std::string l = tk::nuovo_nome(corpo, "l");
        tk::chiama("label", l, "-text", testo, "-foreground", colore, "-background", "white",
                   "-font", font, "-justify", "left", "-anchor", "w", "-wraplength", 460);
        tk::chiama("pack", l, "-anchor", "w", "-fill", "x", "-pady",
                   tk::Obj{tk::Obj(0), tk::Obj(sotto)});
    };
    etichetta(APP_DESCRIPTION, "#111", tk::carattere(9));
    _separatore(corpo);
    etichetta(t("Sviluppato da"), _LABEL_FG, tk::carattere(9));
    etichetta(APP_AUTHOR, _HEADER_BG, tk::carattere(13, true));
    {
        std::vector<tk::Obj> corsivo;
        for (auto& x : tk::carattere(9).lista()) corsivo.emplace_back(x);
        corsivo.emplace_back("italic");
        etichetta(APP_AUTHOR_ROLE, "#444", tk::Obj(corsivo), 8);
    }
    std::string griglia = corpo + ".contatti";
    tk::chiama("frame", griglia, "-background", "white");
    tk::chiama("pack", griglia, "-anchor", "w");
    _riga_contatto(griglia, 0, t("Indirizzo:"), APP_AUTHOR_ADDR);
    _riga_contatto(griglia, 1, t("Città:"), APP_AUTHOR_CITY);
    _riga_contatto(griglia, 2, t("Email:"), APP_AUTHOR_EMAIL,
                   std::string("mailto:") + APP_AUTHOR_EMAIL);
    _riga_contatto(griglia, 3, t("Telefono:"), APP_AUTHOR_TEL);
    _riga_contatto(griglia, 4, t("Web:"), APP_AUTHOR_WEB, std::string(APP_AUTHOR_WEB));
    _riga_contatto(griglia, 5, t("P.IVA:"), APP_AUTHOR_PIVA);
    _separatore(corpo);
    etichetta(APP_COPYRIGHT, "#888", tk::carattere(8));
    etichetta(t(APP_CREDITS), "#888", tk::carattere(8));
    std::string barra = corpo + ".pulsanti";
    tk::chiama("frame", barra, "-background", "white");
    tk::chiama("pack", barra, "-fill", "x", "-pady", tk::Obj{tk::Obj(14), tk::Obj(0)});
    std::string chiudi = barra + ".chiudi";
    tk::chiama("ttk::button", chiudi, "-text", t("Chiudi"), "-width", 12, "-command",
               tk::Obj{tk::Obj("destroy"), tk::Obj(w)});
    tk::chiama("pack", chiudi, "-side", "right");
    tk::chiama("update", "idletasks");
    tk::prendi_input(w);
    return w;
}

}  // namespace ormeggio
