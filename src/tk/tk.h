#pragma once
// Livello del toolkit: un interprete Tcl/Tk sul thread dell'interfaccia, comandi
// costruiti come liste di Tcl_Obj (mai testo dell'utente incollato in uno script),
// callback C++ come comandi Tcl, variabili, dialoghi e il passaggio al thread UI.
#include <tcl.h>
#include <tk.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tk {

class Errore : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Riferimento posseduto a un Tcl_Obj.
class Obj {
public:
    Obj();
    Obj(const char* s);
    Obj(const std::string& s);
    Obj(std::string_view s);
    Obj(int v);
    Obj(long v);
    Obj(long long v);
    Obj(unsigned v);
    Obj(unsigned long v);
    Obj(unsigned long long v);
    Obj(double v);
    Obj(const std::vector<Obj>& elementi);  // lista Tcl
    Obj(const std::vector<std::string>& elementi);
    Obj(std::initializer_list<Obj> elementi);
    explicit Obj(Tcl_Obj* p);  // prende un riferimento
    Obj(const Obj& o);
    Obj(Obj&& o) noexcept;
    Obj& operator=(Obj o) noexcept;
    ~Obj();

    Tcl_Obj* get() const { return _p; }
    std::string str() const;
    std::vector<std::string> lista() const;

private:
    Tcl_Obj* _p;
};

// Crea l'interprete e Tk sul thread chiamante (che diventa il thread UI).
// Errore se Tk non parte (per esempio senza display).
void inizializza(const std::string& nome_app = "ormeggio");
bool inizializzato();
Tcl_Interp* interp();

// Esegue un comando Tcl dato come lista di parole; restituisce il risultato.
Obj chiama_obj(const std::vector<Obj>& parole);
std::string chiama_v(const std::vector<Obj>& parole);
template <class... A>
std::string chiama(A&&... parole) {
    return chiama_v(std::vector<Obj>{Obj(std::forward<A>(parole))...});
}
// Solo per codice Tcl costante del programma, mai con dati dell'utente.
std::string script(const std::string& codice);

std::vector<std::string> dividi_lista(const std::string& lista);

// Callback come comandi Tcl. Con un widget proprietario (che deve già esistere),
// il comando sparisce con lui.
using Callback = std::function<void(const std::vector<std::string>& argomenti)>;
using CallbackRisultato = std::function<std::string(const std::vector<std::string>& argomenti)>;
std::string comando(Callback fn, const std::string& proprietario = "");
std::string comando_risultato(CallbackRisultato fn, const std::string& proprietario = "");
void elimina_comando(const std::string& nome);

// Variabile Tcl globale con nome unico, per -textvariable e -variable.
class Variabile {
public:
    explicit Variabile(const std::string& iniziale = "");
    ~Variabile();
    Variabile(const Variabile&) = delete;
    Variabile& operator=(const Variabile&) = delete;
    const std::string& nome() const { return _nome; }
    std::string get() const;
    void set(const std::string& valore);
    bool get_bool() const;
    void set_bool(bool valore);

private:
    std::string _nome;
};

// Percorso nuovo e unico per un figlio di genitore ("." per la radice).
std::string nuovo_nome(const std::string& genitore, const std::string& prefisso = "w");
bool esiste(const std::string& widget);
// Descrizione di carattere: la famiglia predefinita alla dimensione data.
Obj carattere(int dimensione, bool grassetto = false);

// Passaggio al thread UI da qualunque thread. Con un bersaglio, la chiamata è
// scartata se il bersaglio non esiste più quando arriva.
void sul_thread_ui(std::function<void()> fn);
void sul_thread_ui(std::weak_ptr<void> bersaglio, std::function<void()> fn);
bool e_thread_ui();

// Dà tutto l'input alla finestra (grab), aspettando che sia visibile se serve.
void prendi_input(const std::string& finestra);

std::string dopo(int millisecondi, std::function<void()> fn);
void ciclo_eventi();   // fino alla chiusura della finestra principale
void elabora_eventi(); // tutto ciò che è pronto, senza attendere
// Elabora eventi finché condizione() o scade il tempo; restituisce condizione().
bool attendi_finche(const std::function<bool()>& condizione,
                    std::chrono::milliseconds limite = std::chrono::seconds(10));

// Dialoghi, tutti attraverso procedure Tcl sostituibili nelle prove.
// tipo: "ok", "yesno", ...; icona: "info", "warning", "error", "question".
std::string messaggio(const std::string& tipo, const std::string& icona, const std::string& titolo,
                      const std::string& testo, const std::string& genitore = ".");
void informa(const std::string& titolo, const std::string& testo, const std::string& genitore = ".");
void avvisa(const std::string& titolo, const std::string& testo, const std::string& genitore = ".");
void errore(const std::string& titolo, const std::string& testo, const std::string& genitore = ".");
bool chiedi_si_no(const std::string& titolo, const std::string& testo,
                  const std::string& icona = "question", const std::string& genitore = ".");
std::optional<std::string> scegli_cartella(const std::string& titolo, const std::string& iniziale,
                                           const std::string& genitore = ".");
std::optional<std::string> scegli_file(const std::string& titolo, const std::string& iniziale,
                                       const std::string& genitore = ".");
// Una riga di testo chiesta all'utente (procedura ::ormeggio::chiedi_testo).
std::optional<std::string> chiedi_testo(const std::string& titolo, const std::string& richiesta,
                                        const std::string& iniziale = "",
                                        const std::string& genitore = ".",
                                        const std::string& testo_ok = "OK",
                                        const std::string& testo_annulla = "Cancel");

}  // namespace tk
