#include "sessions/login_frame.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <filesystem>
#include <thread>

#include "sessions/impostazioni.h"
#include "sessions/portachiavi.h"
#include "sessions/profili.h"
#include "shell/app.h"
#include "shell/i18n.h"
#include "tk/tk.h"

namespace ormeggio {

namespace {

const char* const SPAZI = " \t\n\r\f\v";

std::string rifila(const std::string& s) {
    auto inizio = s.find_first_not_of(SPAZI);
    if (inizio == std::string::npos) return "";
    auto fine = s.find_last_not_of(SPAZI);
    return s.substr(inizio, fine - inizio + 1);
}

// Un file modificato a mano può avere tipi sbagliati: si mostra quel che si può.
std::string campo_testo(const Json& p, const char* chiave, const std::string& predefinito) {
    auto it = p.find(chiave);
    if (it != p.end() && it->is_string()) return it->get<std::string>();
    return predefinito;
}

bool campo_booleano(const Json& p, const char* chiave) {
    auto it = p.find(chiave);
    return it != p.end() && it->is_boolean() && it->get<bool>();
}

std::string testo_porta(const Json& p) {
    auto it = p.find("porta");
    if (it == p.end()) return "22";
    if (it->is_number_integer()) return std::to_string(it->get<long long>());
    if (it->is_number_unsigned()) return std::to_string(it->get<unsigned long long>());
    if (it->is_string()) return it->get<std::string>();
    return "22";
}

// Tutto ciò che il lavoro di connessione legge del modulo, preso sul thread UI.
struct DatiConnessione {
    std::string host;
    long long porta = 22;
    std::string utente;
    std::string chiave;
    std::string password;
    std::string percorso_remoto;
    std::string percorso_locale;
    std::string cartella_locale_predefinita;
    bool usa_sudo = false;
    std::string sudo_password;
    std::optional<std::string> nome_profilo;
};

void lavoro_connessione(const DatiConnessione& d, std::weak_ptr<LoginFrame> debole) {
    std::shared_ptr<ssh::Connessione> client;
    try {
        if (d.porta < INT_MIN || d.porta > INT_MAX)
            throw ssh::Errore("porta fuori intervallo: " + std::to_string(d.porta));
        ssh::ParametriConnessione p;
        p.host = d.host;
        p.porta = static_cast<int>(d.porta);
        p.utente = d.utente;
        p.timeout_connessione_secondi = 15;
        // Con una chiave la password è solo la sua passphrase, mai una password di accesso.
        if (!d.chiave.empty()) {
            p.chiave = d.chiave;
            if (!d.password.empty()) p.passphrase = d.password;
        } else if (!d.password.empty()) {
            p.password = d.password;
        }
        client = ssh::Connessione::connetti(p);
        client->imposta_timeout(std::chrono::seconds(30));
        std::shared_ptr<ssh::Sftp> sftp = client->apri_sftp();

        std::string locale = d.percorso_locale;
        std::error_code ec;
        if (!std::filesystem::is_directory(locale, ec)) locale = d.cartella_locale_predefinita;
        std::optional<std::string> sudo;
        if (d.usa_sudo) sudo = !d.sudo_password.empty() ? d.sudo_password : d.password;

        tk::sul_thread_ui(debole, [debole, client, sftp, remoto = d.percorso_remoto, locale, sudo,
                                   nome = d.nome_profilo] {
            auto self = debole.lock();
            if (!self) return;
            try {
                self->on_connesso(client, sftp, remoto, locale, sudo, nome);
            } catch (const std::exception& e) {
                // La finestra non ha accettato la connessione: il modulo torna usabile.
                try {
                    client->chiudi();
                } catch (...) {
                }
                self->_errore_connessione(e.what());
            }
        });
    } catch (const std::exception& e) {
        if (client) {
            try {
                client->chiudi();
            } catch (...) {
            }
        }
        std::string messaggio = e.what();
        if (messaggio.empty()) messaggio = t("errore imprevisto");
        tk::sul_thread_ui(debole, [debole, messaggio] {
            if (auto self = debole.lock()) self->_errore_connessione(messaggio);
        });
    }
}

}  // namespace

std::optional<long long> leggi_porta(const std::string& testo) {
    std::string s = rifila(testo);
    if (s.empty()) s = "22";
    const char* inizio = s.data();
    const char* fine = s.data() + s.size();
    if (*inizio == '+') ++inizio;
    if (inizio == fine || *inizio == '+') return std::nullopt;
    long long valore = 0;
    auto [p, ec] = std::from_chars(inizio, fine, valore, 10);
    if (ec != std::errc() || p != fine) return std::nullopt;
    return valore;
}

// ---- costruzione ----

std::shared_ptr<LoginFrame> LoginFrame::crea(const std::string& genitore,
                                             CallbackConnesso on_connesso) {
    std::shared_ptr<LoginFrame> f(new LoginFrame());
    f->on_connesso = std::move(on_connesso);
    f->_costruisci(genitore);
    return f;
}

LoginFrame::~LoginFrame() {
    if (tk::inizializzato() && tk::esiste(percorso)) tk::chiama("destroy", percorso);
}

std::string LoginFrame::_nuovo_widget(const std::string& genitore, const std::string& nome) {
    return genitore + "." + nome;
}

void LoginFrame::_costruisci(const std::string& genitore) {
    profili = carica_profili();
    nome_profilo_corrente.reset();
    var_nome = std::make_unique<tk::Variabile>();
    var_host = std::make_unique<tk::Variabile>();
    var_porta = std::make_unique<tk::Variabile>("22");
    var_utente = std::make_unique<tk::Variabile>();
    var_password = std::make_unique<tk::Variabile>();
    var_chiave = std::make_unique<tk::Variabile>();
    var_percorso = std::make_unique<tk::Variabile>(percorso_iniziale_remoto());
    var_percorso_locale = std::make_unique<tk::Variabile>(cartella_locale_predefinita());
    var_usa_sudo = std::make_unique<tk::Variabile>("0");
    var_sudo_password = std::make_unique<tk::Variabile>();
    var_salva_password = std::make_unique<tk::Variabile>("0");

    std::weak_ptr<LoginFrame> debole = weak_from_this();
    // Il comando nasce dopo il widget: sparisce con lui.
    auto azione = [debole](void (LoginFrame::*metodo)(), const std::string& proprietario) {
        return tk::comando(
            [debole, metodo](const std::vector<std::string>&) {
                if (auto self = debole.lock()) ((*self).*metodo)();
            },
            proprietario);
    };
    auto comanda = [&azione](const std::string& widget, void (LoginFrame::*metodo)()) {
        tk::chiama(widget, "configure", "-command", azione(metodo, widget));
    };

    percorso = tk::nuovo_nome(genitore, "login");
    tk::chiama("ttk::frame", percorso, "-padding", 15);

    // Sinistra: le sessioni salvate, per tutta l'altezza.
    const std::string sinistra = _nuovo_widget(percorso, "sessioni");
    tk::chiama("ttk::labelframe", sinistra, "-text", t("Sessioni salvate"));
    tk::chiama("pack", sinistra, "-side", "left", "-fill", "y", "-padx", tk::Obj{0, 15});

    const std::string riquadro_lista = _nuovo_widget(sinistra, "elenco");
    tk::chiama("ttk::frame", riquadro_lista);
    tk::chiama("pack", riquadro_lista, "-side", "top", "-fill", "both", "-expand", 1, "-padx", 8,
               "-pady", tk::Obj{8, 6});
    lista_sessioni = _nuovo_widget(riquadro_lista, "lista");
    const std::string scorrimento = _nuovo_widget(riquadro_lista, "scorri");
    tk::chiama("listbox", lista_sessioni, "-width", 26, "-height", 20, "-relief", "flat",
               "-highlightthickness", 1, "-highlightbackground", "#c8c8c8", "-highlightcolor",
               "#c8c8c8", "-exportselection", 0, "-yscrollcommand",
               tk::Obj{tk::Obj(scorrimento), tk::Obj("set")});
    tk::chiama("ttk::scrollbar", scorrimento, "-orient", "vertical", "-command",
               tk::Obj{tk::Obj(lista_sessioni), tk::Obj("yview")});
    tk::chiama("pack", lista_sessioni, "-side", "left", "-fill", "both", "-expand", 1);
    tk::chiama("pack", scorrimento, "-side", "right", "-fill", "y");

    barra_lista = _nuovo_widget(sinistra, "barra");
    tk::chiama("ttk::frame", barra_lista);
    tk::chiama("pack", barra_lista, "-side", "top", "-fill", "x", "-padx", 8, "-pady",
               tk::Obj{0, 8});
    btn_nuovo = _nuovo_widget(barra_lista, "nuovo");
    btn_elimina = _nuovo_widget(barra_lista, "elimina");
    tk::chiama("ttk::button", btn_nuovo, "-text", t("Nuovo"));
    comanda(btn_nuovo, &LoginFrame::_nuovo_profilo);
    tk::chiama("ttk::button", btn_elimina, "-text", t("Elimina"));
    comanda(btn_elimina, &LoginFrame::_elimina_profilo);
    tk::chiama("grid", btn_nuovo, "-row", 0, "-column", 0, "-sticky", "ew", "-padx", tk::Obj{0, 3});
    tk::chiama("grid", btn_elimina, "-row", 0, "-column", 1, "-sticky", "ew", "-padx",
               tk::Obj{3, 0});
    tk::chiama("grid", "columnconfigure", barra_lista, tk::Obj{0, 1}, "-weight", 1, "-uniform",
               "pulsanti");

    // Destra: il modulo, che prende il resto della larghezza.
    const std::string destra = _nuovo_widget(percorso, "modulo");
    tk::chiama("ttk::frame", destra);
    tk::chiama("pack", destra, "-side", "left", "-fill", "both", "-expand", 1);
    tk::chiama("grid", "columnconfigure", destra, 0, "-weight", 1);

    const std::string titolo = _nuovo_widget(destra, "titolo");
    tk::chiama("ttk::label", titolo, "-text", t("Connessione SSH"), "-font",
               tk::carattere(15, true), "-anchor", "w");
    tk::chiama("grid", titolo, "-row", 0, "-column", 0, "-sticky", "w", "-pady", tk::Obj{0, 12});

    const std::string accesso = _nuovo_widget(destra, "accesso");
    tk::chiama("ttk::labelframe", accesso, "-text", t("Dati di accesso"));
    tk::chiama("grid", accesso, "-row", 1, "-column", 0, "-sticky", "ew", "-pady", tk::Obj{0, 10});
    tk::chiama("grid", "columnconfigure", accesso, 1, "-weight", 1);
    _riga(accesso, t("Descrizione"), *var_nome, 0);
    _riga(accesso, t("Host"), *var_host, 1);
    _riga(accesso, t("Porta"), *var_porta, 2);
    _riga(accesso, t("Utente"), *var_utente, 3);
    _riga(accesso, t("Password"), *var_password, 4, "*");
    btn_sfoglia_chiave = _riga_sfoglia(accesso, t("Chiave privata (opzionale)"), *var_chiave, 5);
    comanda(btn_sfoglia_chiave, &LoginFrame::_scegli_chiave);

    const std::string cartelle = _nuovo_widget(destra, "cartelle");
    tk::chiama("ttk::labelframe", cartelle, "-text", t("Cartelle iniziali"));
    tk::chiama("grid", cartelle, "-row", 2, "-column", 0, "-sticky", "ew");
    tk::chiama("grid", "columnconfigure", cartelle, 1, "-weight", 1);
    _riga(cartelle, t("Remota"), *var_percorso, 0);
    btn_sfoglia_locale = _riga_sfoglia(cartelle, t("Locale"), *var_percorso_locale, 1);
    comanda(btn_sfoglia_locale, &LoginFrame::_scegli_cartella_locale);

    const std::string sicurezza = _nuovo_widget(destra, "sicurezza");
    tk::chiama("ttk::labelframe", sicurezza, "-text", t("Sicurezza"));
    tk::chiama("grid", sicurezza, "-row", 3, "-column", 0, "-sticky", "ew");
    tk::chiama("grid", "columnconfigure", sicurezza, 1, "-weight", 1);
    {
        const std::string usa_sudo = _nuovo_widget(sicurezza, "usa_sudo");
        tk::chiama("ttk::checkbutton", usa_sudo, "-text", t("Usa sudo per i permessi"), "-variable",
                   var_usa_sudo->nome());
        comanda(usa_sudo, &LoginFrame::_aggiorna_stato_sudo);
        tk::chiama("grid", usa_sudo, "-row", 0, "-column", 0, "-columnspan", 3, "-sticky", "w",
                   "-padx", tk::Obj{8, 0}, "-pady", tk::Obj{8, 0});
        const std::string etichetta = _nuovo_widget(sicurezza, "l1");
        tk::chiama("ttk::label", etichetta, "-text", t("Password sudo (vuota = usa quella SSH)"));
        tk::chiama("grid", etichetta, "-row", 1, "-column", 0, "-sticky", "w", "-padx", 8, "-pady",
                   4);
        entry_sudo = _nuovo_widget(sicurezza, "e1");
        tk::chiama("ttk::entry", entry_sudo, "-textvariable", var_sudo_password->nome(), "-show",
                   "*", "-state", "disabled");
        tk::chiama("grid", entry_sudo, "-row", 1, "-column", 1, "-columnspan", 2, "-sticky", "ew",
                   "-padx", tk::Obj{0, 8}, "-pady", 4);
        const std::string salva = _nuovo_widget(sicurezza, "salva_password");
        tk::chiama("ttk::checkbutton", salva, "-text",
                   t("Salva password (cifrata nel portachiavi di sistema)"), "-variable",
                   var_salva_password->nome());
        tk::chiama("grid", salva, "-row", 2, "-column", 0, "-columnspan", 3, "-sticky", "w",
                   "-padx", tk::Obj{8, 0}, "-pady", tk::Obj{0, 8});
    }

    label_stato = _nuovo_widget(destra, "stato");
    tk::chiama("ttk::label", label_stato, "-text", "", "-foreground", "#b3261e", "-anchor", "w",
               "-justify", "left");
    tk::chiama("grid", label_stato, "-row", 4, "-column", 0, "-sticky", "w");
    // Un messaggio lungo della libreria va a capo invece di allargare il modulo.
    tk::chiama("bind", destra, "<Configure>",
               tk::Obj{tk::Obj(tk::comando(
                           [debole](const std::vector<std::string>& a) {
                               auto self = debole.lock();
                               if (!self || a.empty()) return;
                               int larghezza = std::max(100, std::atoi(a[0].c_str()) - 4);
                               tk::chiama(self->label_stato, "configure", "-wraplength", larghezza);
                           },
                           destra)),
                       tk::Obj("%w")});

    barra_pulsanti = _nuovo_widget(destra, "pulsanti");
    tk::chiama("ttk::frame", barra_pulsanti);
    tk::chiama("grid", barra_pulsanti, "-row", 5, "-column", 0, "-sticky", "ew");
    btn_salva = _nuovo_widget(barra_pulsanti, "salva");
    btn_connetti = _nuovo_widget(barra_pulsanti, "connetti");
    tk::chiama("ttk::button", btn_salva, "-text", t("Salva profilo"), "-width", 16);
    tk::chiama(btn_salva, "configure", "-command",
               tk::comando(
                   [debole](const std::vector<std::string>&) {
                       if (auto self = debole.lock()) self->_salva_profilo();
                   },
                   btn_salva));
    tk::chiama("ttk::button", btn_connetti, "-text", t("Connetti"), "-width", 16);
    comanda(btn_connetti, &LoginFrame::_connetti);
    tk::chiama("pack", btn_salva, "-side", "left");
    tk::chiama("pack", btn_connetti, "-side", "right");

    // Legami: la selezione carica il profilo, il doppio clic connette.
    tk::chiama("bind", lista_sessioni, "<<ListboxSelect>>",
               azione(&LoginFrame::_sessione_selezionata, lista_sessioni));
    tk::chiama("bind", lista_sessioni, "<Double-Button-1>",
               azione(&LoginFrame::_connetti, lista_sessioni));
    tk::chiama("bind", percorso, "<Configure>",
               tk::comando(
                   [debole](const std::vector<std::string>&) {
                       if (auto self = debole.lock())
                           self->_allinea_barre_pulsanti(self->barra_lista, self->barra_pulsanti);
                   },
                   percorso));

    _popola_lista_sessioni();
}

void LoginFrame::_riga(const std::string& contenitore, const std::string& etichetta,
                       const tk::Variabile& var, int riga, const std::string& mostra) {
    const std::string l = _nuovo_widget(contenitore, "l" + std::to_string(riga));
    const std::string e = _nuovo_widget(contenitore, "e" + std::to_string(riga));
    tk::chiama("ttk::label", l, "-text", etichetta);
    tk::chiama("grid", l, "-row", riga, "-column", 0, "-sticky", "w", "-padx", 8, "-pady", 4);
    tk::chiama("ttk::entry", e, "-textvariable", var.nome(), "-show", mostra);
    tk::chiama("grid", e, "-row", riga, "-column", 1, "-columnspan", 2, "-sticky", "ew", "-padx",
               tk::Obj{0, 8}, "-pady", 4);
}

// Etichetta, campo e "Sfoglia…" su una riga; restituisce il pulsante.
std::string LoginFrame::_riga_sfoglia(const std::string& contenitore, const std::string& etichetta,
                                      const tk::Variabile& var, int riga) {
    const std::string l = _nuovo_widget(contenitore, "l" + std::to_string(riga));
    const std::string e = _nuovo_widget(contenitore, "e" + std::to_string(riga));
    const std::string b = _nuovo_widget(contenitore, "sfoglia");
    tk::chiama("ttk::label", l, "-text", etichetta);
    tk::chiama("grid", l, "-row", riga, "-column", 0, "-sticky", "w", "-padx", 8, "-pady", 4);
    tk::chiama("ttk::entry", e, "-textvariable", var.nome());
    tk::chiama("grid", e, "-row", riga, "-column", 1, "-sticky", "ew", "-pady", 4);
    tk::chiama("ttk::button", b, "-text", t("Sfoglia…"));
    tk::chiama("grid", b, "-row", riga, "-column", 2, "-padx", tk::Obj{6, 8}, "-pady", 4);
    return b;
}

void LoginFrame::_allinea_barre_pulsanti(const std::string& barra_lista,
                                         const std::string& barra_pulsanti) {
    if (!tk::esiste(barra_lista) || !tk::esiste(barra_pulsanti)) return;
    tk::chiama("pack", "configure", barra_lista, "-pady", tk::Obj{0, 8});
    tk::chiama("grid", "configure", barra_pulsanti, "-pady", 0);
    tk::chiama("update", "idletasks");
    // Il riquadro può essere stato distrutto mentre il toolkit finiva la disposizione.
    if (!tk::esiste(barra_lista) || !tk::esiste(barra_pulsanti)) return;
    int differenza = std::atoi(tk::chiama("winfo", "rooty", barra_lista).c_str()) -
                     std::atoi(tk::chiama("winfo", "rooty", barra_pulsanti).c_str());
    if (differenza > 2)
        tk::chiama("grid", "configure", barra_pulsanti, "-pady", tk::Obj{differenza, 0});
    else if (differenza < -2)
        tk::chiama("pack", "configure", barra_lista, "-pady", tk::Obj{-differenza, 8});
}

// ---- stato ----

void LoginFrame::_mostra_stato(const std::string& testo, const std::string& colore) {
    tk::chiama(label_stato, "configure", "-text", testo, "-foreground", colore);
}

bool LoginFrame::_connessione_in_corso() const {
    return tk::chiama(btn_connetti, "instate", "disabled") == "1";
}

void LoginFrame::_aggiorna_stato_sudo() {
    tk::chiama(entry_sudo, "configure", "-state", var_usa_sudo->get_bool() ? "normal" : "disabled");
}

// ---- profili ----

void LoginFrame::_popola_lista_sessioni() {
    tk::chiama(lista_sessioni, "delete", 0, "end");
    for (const auto& p : profili)
        tk::chiama(lista_sessioni, "insert", "end", campo_testo(p, "nome", ""));
}

void LoginFrame::_sessione_selezionata() {
    auto selezione = tk::dividi_lista(tk::chiama(lista_sessioni, "curselection"));
    if (selezione.empty()) return;
    size_t i = static_cast<size_t>(std::atoi(selezione.front().c_str()));
    if (i >= profili.size()) return;
    Json profilo = profili[i];
    _carica_profilo(profilo);
}

void LoginFrame::_carica_profilo(const Json& profilo) {
    const std::string nome = campo_testo(profilo, "nome", "");
    nome_profilo_corrente = nome;
    var_nome->set(nome);
    var_host->set(campo_testo(profilo, "host", ""));
    var_porta->set(testo_porta(profilo));
    var_utente->set(campo_testo(profilo, "utente", ""));
    var_chiave->set(campo_testo(profilo, "chiave", ""));
    var_percorso->set(campo_testo(profilo, "percorso", percorso_iniziale_remoto()));
    std::string locale = campo_testo(profilo, "percorso_locale", "");
    var_percorso_locale->set(!locale.empty() ? locale : cartella_locale_predefinita());
    var_usa_sudo->set_bool(campo_booleano(profilo, "usa_sudo"));
    _aggiorna_stato_sudo();
    const bool salvata = campo_booleano(profilo, "ha_password_salvata");
    var_salva_password->set_bool(salvata);
    if (salvata) {
        try {
            auto ssh = carica_password(nome, "ssh");
            auto sudo = carica_password(nome, "sudo");
            var_password->set(ssh.value_or(""));
            var_sudo_password->set(sudo.value_or(""));
            _mostra_stato("", "red");
        } catch (const ErrorePortachiavi& e) {
            var_password->set("");
            var_sudo_password->set("");
            _mostra_stato(
                t("Portachiavi di sistema non raggiungibile, password non recuperata: {e}",
                  {{"e", e.what()}}),
                "red");
        }
    } else {
        var_password->set("");
        var_sudo_password->set("");
    }
}

void LoginFrame::_nuovo_profilo() {
    nome_profilo_corrente.reset();
    tk::chiama(lista_sessioni, "selection", "clear", 0, "end");
    for (auto* v :
         {&var_nome, &var_host, &var_utente, &var_password, &var_chiave, &var_sudo_password})
        (*v)->set("");
    var_porta->set("22");
    var_percorso->set(percorso_iniziale_remoto());
    var_percorso_locale->set(cartella_locale_predefinita());
    var_usa_sudo->set_bool(false);
    var_salva_password->set_bool(false);
    _aggiorna_stato_sudo();
}

Json LoginFrame::_raccogli_profilo() {
    const std::string nome = rifila(var_nome->get());
    if (nome.empty())
        throw ErroreModulo(t("La descrizione della sessione è obbligatoria per salvarla."));
    auto porta = leggi_porta(var_porta->get());
    if (!porta) throw ErroreModulo(t("Porta non valida."));
    std::string remoto = rifila(var_percorso->get());
    if (remoto.empty()) remoto = percorso_iniziale_remoto();
    std::string locale = rifila(var_percorso_locale->get());
    if (locale.empty()) locale = cartella_locale_predefinita();

    Json r = Json::object();
    r["nome"] = nome;
    r["host"] = rifila(var_host->get());
    r["porta"] = *porta;
    r["utente"] = rifila(var_utente->get());
    r["chiave"] = rifila(var_chiave->get());
    r["percorso"] = remoto;
    r["percorso_locale"] = locale;
    r["usa_sudo"] = var_usa_sudo->get_bool();
    r["ha_password_salvata"] = var_salva_password->get_bool();
    return r;
}

bool LoginFrame::_salva_profilo() {
    Json record;
    try {
        record = _raccogli_profilo();
    } catch (const ErroreModulo& e) {
        _mostra_stato(e.what(), "red");
        return false;
    }
    const std::optional<std::string> vecchio = nome_profilo_corrente;
    const std::string nuovo = record["nome"].get<std::string>();
    const bool rinomina = vecchio && *vecchio != nuovo;

    // Prima le password del nome nuovo, poi si cancellano quelle del vecchio: se il
    // portachiavi cede a metà, il profilo di prima conserva le sue.
    try {
        if (var_salva_password->get_bool()) {
            salva_password(nuovo, "ssh", var_password->get());
            if (var_usa_sudo->get_bool())
                salva_password(nuovo, "sudo", var_sudo_password->get());
            else
                elimina_password(nuovo, "sudo");
        } else {
            elimina_password(nuovo, "ssh");
            elimina_password(nuovo, "sudo");
        }
    } catch (const ErrorePortachiavi& e) {
        _mostra_stato(t("Portachiavi di sistema non disponibile: {e}", {{"e", e.what()}}), "red");
        return false;
    }
    if (rinomina) {
        elimina_password(*vecchio, "ssh");
        elimina_password(*vecchio, "sudo");
    }

    std::erase_if(profili, [&](const Json& p) {
        const std::string n = campo_testo(p, "nome", "");
        return n == nuovo || (vecchio && n == *vecchio);
    });
    profili.push_back(record);
    // Ordine senza riguardo per maiuscole, anche fuori dall'ASCII: lo fa Tcl.
    std::vector<std::pair<std::string, Json>> chiavi;
    chiavi.reserve(profili.size());
    for (auto& p : profili)
        chiavi.emplace_back(tk::chiama("string", "tolower", campo_testo(p, "nome", "")),
                            std::move(p));
    std::stable_sort(chiavi.begin(), chiavi.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    profili.clear();
    for (auto& [chiave, p] : chiavi) profili.push_back(std::move(p));

    salva_profili(profili);

    nome_profilo_corrente = nuovo;
    _popola_lista_sessioni();
    for (size_t i = 0; i < profili.size(); ++i) {
        if (campo_testo(profili[i], "nome", "") == nuovo) {
            tk::chiama(lista_sessioni, "selection", "clear", 0, "end");
            tk::chiama(lista_sessioni, "selection", "set", i);
            tk::chiama(lista_sessioni, "see", i);
            break;
        }
    }
    _mostra_stato(t("Profilo \"{nome}\" salvato.", {{"nome", nuovo}}), "green");
    return true;
}

void LoginFrame::_elimina_profilo() {
    auto selezione = tk::dividi_lista(tk::chiama(lista_sessioni, "curselection"));
    size_t i = selezione.empty() ? profili.size()
                                 : static_cast<size_t>(std::atoi(selezione.front().c_str()));
    if (i >= profili.size()) {
        tk::informa(t("Nessuna selezione"), t("Seleziona un profilo da eliminare."),
                    tk::chiama("winfo", "toplevel", percorso));
        return;
    }
    _elimina_profilo_per_nome(campo_testo(profili[i], "nome", ""));
}

void LoginFrame::_elimina_profilo_per_nome(const std::string& nome) {
    if (!tk::chiedi_si_no(t("Conferma"), t("Eliminare il profilo \"{nome}\"?", {{"nome", nome}}),
                          "question", tk::chiama("winfo", "toplevel", percorso)))
        return;
    elimina_password(nome, "ssh");
    elimina_password(nome, "sudo");
    std::erase_if(profili, [&](const Json& p) { return campo_testo(p, "nome", "") == nome; });
    salva_profili(profili);
    _popola_lista_sessioni();
    _nuovo_profilo();
}

// ---- scelte di file ----

void LoginFrame::_scegli_chiave() {
    std::string iniziale = rifila(var_chiave->get());
    std::error_code ec;
    std::string cartella = iniziale.empty()
                               ? cartella_home() + "/.ssh"
                               : std::filesystem::path(iniziale).parent_path().string();
    if (!std::filesystem::is_directory(cartella, ec)) cartella = cartella_home();
    auto scelto = tk::scegli_file(t("Seleziona chiave privata"), cartella,
                                  tk::chiama("winfo", "toplevel", percorso));
    if (scelto) var_chiave->set(*scelto);
}

void LoginFrame::_scegli_cartella_locale() {
    std::string iniziale = rifila(var_percorso_locale->get());
    if (iniziale.empty()) iniziale = cartella_locale_predefinita();
    auto scelta = tk::scegli_cartella(t("Seleziona cartella locale iniziale"), iniziale,
                                      tk::chiama("winfo", "toplevel", percorso));
    if (scelta) var_percorso_locale->set(*scelta);
}

// ---- connessione ----

void LoginFrame::_connetti() {
    if (_connessione_in_corso()) return;
    const std::string host = rifila(var_host->get());
    const std::string utente = rifila(var_utente->get());
    if (host.empty() || utente.empty()) {
        _mostra_stato(t("Host e utente sono obbligatori."), "red");
        return;
    }
    auto porta = leggi_porta(var_porta->get());
    if (!porta) {
        _mostra_stato(t("Porta non valida."), "red");
        return;
    }
    if (!nome_profilo_corrente) {
        for (const auto& p : profili) {
            auto h = p.find("host"), u = p.find("utente"), n = p.find("porta");
            if (h != p.end() && h->is_string() && *h == host && u != p.end() && u->is_string() &&
                *u == utente && n != p.end() && n->is_number_integer() &&
                n->get<long long>() == *porta) {
                nome_profilo_corrente = campo_testo(p, "nome", "");
                break;
            }
        }
    }
    if (var_salva_password->get_bool()) {
        if (var_password->get().empty() && rifila(var_chiave->get()).empty()) {
            _mostra_stato(t("La password dovrebbe essere salvata ma non è stata recuperata dal "
                            "portachiavi. Reinseriscila e riprova."),
                          "red");
            return;
        }
        if (!rifila(var_nome->get()).empty() && !_salva_profilo()) return;
    }

    tk::chiama(btn_connetti, "configure", "-state", "disabled");
    _mostra_stato(t("Connessione in corso…"), "black");

    DatiConnessione d;
    d.host = host;
    d.porta = *porta;
    d.utente = utente;
    d.chiave = rifila(var_chiave->get());
    d.password = var_password->get();
    d.percorso_remoto = rifila(var_percorso->get());
    if (d.percorso_remoto.empty()) d.percorso_remoto = percorso_iniziale_remoto();
    d.cartella_locale_predefinita = cartella_locale_predefinita();
    d.percorso_locale = rifila(var_percorso_locale->get());
    if (d.percorso_locale.empty()) d.percorso_locale = d.cartella_locale_predefinita;
    d.usa_sudo = var_usa_sudo->get_bool();
    d.sudo_password = var_sudo_password->get();
    d.nome_profilo = nome_profilo_corrente;

    std::thread(lavoro_connessione, std::move(d), std::weak_ptr<LoginFrame>(weak_from_this()))
        .detach();
}

void LoginFrame::_errore_connessione(const std::string& messaggio) {
    _mostra_stato(t("Errore: {messaggio}", {{"messaggio", messaggio}}), "red");
    tk::chiama(btn_connetti, "configure", "-state", "normal");
}

}  // namespace ormeggio
