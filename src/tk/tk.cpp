#include "tk/tk.h"

#include <atomic>
#include <cstdio>
#include <iostream>
#include <thread>

namespace tk {

// Tcl 8.6 usa int per le lunghezze.
using Tcl_Size = int;

namespace {

Tcl_Interp* g_interp = nullptr;
Tcl_ThreadId g_thread_ui{};
std::atomic<bool> g_pronto{false};
std::atomic<unsigned long> g_contatore{0};

std::string unico(const char* prefisso) {
    return std::string("::ormeggio::") + prefisso + std::to_string(++g_contatore);
}

// Codice Tcl del livello: gestore degli errori di sfondo e finestra di richiesta.
const char* SCRIPT_BASE = R"TCL(
namespace eval ::ormeggio {}
proc ::ormeggio::_elimina_cb {cb args} { catch {rename $cb {}} }
proc ::ormeggio::_una_volta {cb} { try { uplevel #0 [list $cb] } finally { rename $cb {} } }
proc ::ormeggio::_errore_sfondo {messaggio opzioni} {
    if {[dict exists $opzioni -errorinfo]} {
        puts stderr [dict get $opzioni -errorinfo]
    } else {
        puts stderr $messaggio
    }
    flush stderr
}
interp bgerror {} ::ormeggio::_errore_sfondo
proc ::ormeggio::chiedi_testo {titolo richiesta iniziale genitore ok annulla} {
    set w [toplevel $genitore.chiedi[incr ::ormeggio::_n_chiedi]]
    wm title $w $titolo
    if {[winfo viewable [winfo toplevel $genitore]]} { wm transient $w [winfo toplevel $genitore] }
    set ::ormeggio::_esito_chiedi($w) {}
    set ::ormeggio::_testo_chiedi($w) $iniziale
    ttk::frame $w.f -padding 12
    ttk::label $w.f.l -text $richiesta -wraplength 420 -justify left
    ttk::entry $w.f.e -width 50 -textvariable ::ormeggio::_testo_chiedi($w)
    ttk::frame $w.f.b
    ttk::button $w.f.b.ok -text $ok -command [list set ::ormeggio::_esito_chiedi($w) ok]
    ttk::button $w.f.b.no -text $annulla -command [list set ::ormeggio::_esito_chiedi($w) annulla]
    pack $w.f -fill both -expand 1
    pack $w.f.l -anchor w
    pack $w.f.e -fill x -pady 8
    pack $w.f.b -anchor e
    pack $w.f.b.no $w.f.b.ok -side right -padx 4
    bind $w <Return> [list $w.f.b.ok invoke]
    bind $w <Escape> [list $w.f.b.no invoke]
    wm protocol $w WM_DELETE_WINDOW [list $w.f.b.no invoke]
    focus $w.f.e
    $w.f.e selection range 0 end
    catch {grab $w}
    vwait ::ormeggio::_esito_chiedi($w)
    set esito $::ormeggio::_esito_chiedi($w)
    set testo $::ormeggio::_testo_chiedi($w)
    unset ::ormeggio::_esito_chiedi($w) ::ormeggio::_testo_chiedi($w)
    destroy $w
    if {$esito eq "ok"} { return [list 1 $testo] }
    return [list 0 {}]
}
)TCL";

struct EventoUi {
    Tcl_Event intestazione;
    std::function<void()>* fn;
};

int esegui_evento(Tcl_Event* ev, int) {
    auto* e = reinterpret_cast<EventoUi*>(ev);
    std::unique_ptr<std::function<void()>> fn(e->fn);
    try {
        (*fn)();
    } catch (const std::exception& x) {
        std::cerr << "Errore in un passaggio al thread UI: " << x.what() << std::endl;
    }
    return 1;
}

std::string messaggio_errore() {
    Tcl_Obj* info = Tcl_GetVar2Ex(g_interp, "errorInfo", nullptr, TCL_GLOBAL_ONLY);
    std::string r = Tcl_GetStringResult(g_interp);
    if (r.empty() && info) r = Tcl_GetString(info);
    return r;
}

struct DatiComando {
    Callback fn;
    CallbackRisultato fn_risultato;
};

int trampolino(ClientData cd, Tcl_Interp* ip, int objc, Tcl_Obj* const objv[]) {
    auto* d = static_cast<DatiComando*>(cd);
    std::vector<std::string> argomenti;
    argomenti.reserve(size_t(objc > 0 ? objc - 1 : 0));
    for (int i = 1; i < objc; ++i) argomenti.emplace_back(Tcl_GetString(objv[i]));
    try {
        if (d->fn_risultato) {
            std::string r = d->fn_risultato(argomenti);
            Tcl_SetObjResult(ip, Tcl_NewStringObj(r.data(), Tcl_Size(r.size())));
        } else {
            // Copia: il comando può essere eliminato mentre gira.
            Callback fn = d->fn;
            fn(argomenti);
        }
        return TCL_OK;
    } catch (const std::exception& x) {
        Tcl_SetObjResult(ip, Tcl_NewStringObj(x.what(), -1));
        return TCL_ERROR;
    }
}

void libera_comando(ClientData cd) { delete static_cast<DatiComando*>(cd); }

std::string registra(DatiComando* d, const std::string& proprietario) {
    std::string nome = unico("cb");
    Tcl_CreateObjCommand(g_interp, nome.c_str(), trampolino, d, libera_comando);
    if (!proprietario.empty()) {
        chiama("trace", "add", "command", proprietario, "delete",
               Obj{Obj("::ormeggio::_elimina_cb"), Obj(nome)});
    }
    return nome;
}

void richiedi_interp() {
    if (!g_interp) throw Errore("interprete Tk non inizializzato");
}

}  // namespace

// ---- Obj ----

Obj::Obj() : _p(Tcl_NewObj()) { Tcl_IncrRefCount(_p); }
Obj::Obj(const char* s) : _p(Tcl_NewStringObj(s ? s : "", -1)) { Tcl_IncrRefCount(_p); }
Obj::Obj(const std::string& s) : _p(Tcl_NewStringObj(s.data(), Tcl_Size(s.size()))) {
    Tcl_IncrRefCount(_p);
}
Obj::Obj(std::string_view s) : _p(Tcl_NewStringObj(s.data(), Tcl_Size(s.size()))) {
    Tcl_IncrRefCount(_p);
}
Obj::Obj(int v) : _p(Tcl_NewIntObj(v)) { Tcl_IncrRefCount(_p); }
Obj::Obj(long v) : _p(Tcl_NewWideIntObj(v)) { Tcl_IncrRefCount(_p); }
Obj::Obj(long long v) : _p(Tcl_NewWideIntObj(Tcl_WideInt(v))) { Tcl_IncrRefCount(_p); }
Obj::Obj(unsigned v) : _p(Tcl_NewWideIntObj(v)) { Tcl_IncrRefCount(_p); }
Obj::Obj(unsigned long v) : _p(Tcl_NewWideIntObj(Tcl_WideInt(v))) { Tcl_IncrRefCount(_p); }
Obj::Obj(unsigned long long v) : _p(Tcl_NewWideIntObj(Tcl_WideInt(v))) { Tcl_IncrRefCount(_p); }
Obj::Obj(double v) : _p(Tcl_NewDoubleObj(v)) { Tcl_IncrRefCount(_p); }
Obj::Obj(const std::vector<Obj>& elementi) : _p(Tcl_NewListObj(0, nullptr)) {
    Tcl_IncrRefCount(_p);
    for (const auto& e : elementi) Tcl_ListObjAppendElement(nullptr, _p, e.get());
}
Obj::Obj(const std::vector<std::string>& elementi) : _p(Tcl_NewListObj(0, nullptr)) {
    Tcl_IncrRefCount(_p);
    for (const auto& e : elementi)
        Tcl_ListObjAppendElement(nullptr, _p, Tcl_NewStringObj(e.data(), Tcl_Size(e.size())));
}
Obj::Obj(std::initializer_list<Obj> elementi) : Obj(std::vector<Obj>(elementi)) {}
Obj::Obj(Tcl_Obj* p) : _p(p ? p : Tcl_NewObj()) { Tcl_IncrRefCount(_p); }
Obj::Obj(const Obj& o) : _p(o._p) { Tcl_IncrRefCount(_p); }
Obj::Obj(Obj&& o) noexcept : _p(o._p) { o._p = nullptr; }
Obj& Obj::operator=(Obj o) noexcept {
    std::swap(_p, o._p);
    return *this;
}
Obj::~Obj() {
    if (_p) Tcl_DecrRefCount(_p);
}
std::string Obj::str() const {
    Tcl_Size n = 0;
    const char* s = Tcl_GetStringFromObj(_p, &n);
    return std::string(s, size_t(n));
}
std::vector<std::string> Obj::lista() const {
    Tcl_Size n = 0;
    Tcl_Obj** elementi = nullptr;
    if (Tcl_ListObjGetElements(g_interp, _p, &n, &elementi) != TCL_OK)
        throw Errore("lista Tcl non valida: " + str());
    std::vector<std::string> r;
    r.reserve(size_t(n));
    for (Tcl_Size i = 0; i < n; ++i) r.push_back(Obj(elementi[i]).str());
    return r;
}

// ---- interprete ----

void inizializza(const std::string& nome_app) {
    if (g_interp) return;
    Tcl_FindExecutable(nullptr);
    Tcl_Interp* ip = Tcl_CreateInterp();
    Tcl_SetVar2(ip, "argv0", nullptr, nome_app.c_str(), TCL_GLOBAL_ONLY);
    Tcl_SetVar2(ip, "argv", nullptr, "", TCL_GLOBAL_ONLY);
    Tcl_SetVar2(ip, "argc", nullptr, "0", TCL_GLOBAL_ONLY);
    if (Tcl_Init(ip) != TCL_OK || Tk_Init(ip) != TCL_OK) {
        std::string m = Tcl_GetStringResult(ip);
        Tcl_DeleteInterp(ip);
        throw Errore("avvio di Tk non riuscito: " + (m.empty() ? std::string("errore sconosciuto") : m));
    }
    g_interp = ip;
    g_thread_ui = Tcl_GetCurrentThread();
    if (Tcl_Eval(ip, SCRIPT_BASE) != TCL_OK) throw Errore(messaggio_errore());
    // Il nome registrato per "send".
    chiama("tk", "appname", nome_app);
    g_pronto = true;
}

bool inizializzato() { return g_interp != nullptr; }

Tcl_Interp* interp() {
    richiedi_interp();
    return g_interp;
}

Obj chiama_obj(const std::vector<Obj>& parole) {
    richiedi_interp();
    std::vector<Tcl_Obj*> v;
    v.reserve(parole.size());
    for (const auto& p : parole) v.push_back(p.get());
    if (Tcl_EvalObjv(g_interp, Tcl_Size(v.size()), v.data(), TCL_EVAL_GLOBAL) != TCL_OK)
        throw Errore(messaggio_errore());
    return Obj(Tcl_GetObjResult(g_interp));
}

std::string chiama_v(const std::vector<Obj>& parole) { return chiama_obj(parole).str(); }

std::string script(const std::string& codice) {
    richiedi_interp();
    if (Tcl_EvalEx(g_interp, codice.c_str(), Tcl_Size(codice.size()), TCL_EVAL_GLOBAL) != TCL_OK)
        throw Errore(messaggio_errore());
    return Tcl_GetStringResult(g_interp);
}

std::vector<std::string> dividi_lista(const std::string& lista) { return Obj(lista).lista(); }

std::string comando(Callback fn, const std::string& proprietario) {
    richiedi_interp();
    return registra(new DatiComando{std::move(fn), {}}, proprietario);
}

std::string comando_risultato(CallbackRisultato fn, const std::string& proprietario) {
    richiedi_interp();
    return registra(new DatiComando{{}, std::move(fn)}, proprietario);
}

void elimina_comando(const std::string& nome) {
    if (g_interp) Tcl_DeleteCommand(g_interp, nome.c_str());
}

// ---- variabili ----

Variabile::Variabile(const std::string& iniziale) : _nome(unico("v")) { set(iniziale); }
Variabile::~Variabile() {
    if (g_interp) Tcl_UnsetVar2(g_interp, _nome.c_str(), nullptr, TCL_GLOBAL_ONLY);
}
std::string Variabile::get() const {
    Tcl_Obj* o = Tcl_GetVar2Ex(interp(), _nome.c_str(), nullptr, TCL_GLOBAL_ONLY);
    return o ? Obj(o).str() : std::string();
}
void Variabile::set(const std::string& valore) {
    Tcl_SetVar2Ex(interp(), _nome.c_str(), nullptr,
                  Tcl_NewStringObj(valore.data(), Tcl_Size(valore.size())), TCL_GLOBAL_ONLY);
}
bool Variabile::get_bool() const {
    Tcl_Obj* o = Tcl_GetVar2Ex(interp(), _nome.c_str(), nullptr, TCL_GLOBAL_ONLY);
    int b = 0;
    if (!o || Tcl_GetBooleanFromObj(nullptr, o, &b) != TCL_OK) return false;
    return b != 0;
}
void Variabile::set_bool(bool valore) { set(valore ? "1" : "0"); }

// ---- widget ----

std::string nuovo_nome(const std::string& genitore, const std::string& prefisso) {
    std::string base = (genitore == ".") ? "" : genitore;
    return base + "." + prefisso + std::to_string(++g_contatore);
}

bool esiste(const std::string& widget) { return chiama("winfo", "exists", widget) == "1"; }

Obj carattere(int dimensione, bool grassetto) {
    std::string famiglia = chiama("font", "actual", "TkDefaultFont", "-family");
    std::vector<Obj> v{Obj(famiglia), Obj(dimensione)};
    if (grassetto) v.emplace_back("bold");
    return Obj(v);
}

// ---- thread UI ----

bool e_thread_ui() { return g_pronto && Tcl_GetCurrentThread() == g_thread_ui; }

void sul_thread_ui(std::function<void()> fn) {
    if (!g_pronto) return;
    auto* e = reinterpret_cast<EventoUi*>(Tcl_Alloc(sizeof(EventoUi)));
    e->intestazione.proc = esegui_evento;
    e->intestazione.nextPtr = nullptr;
    e->fn = new std::function<void()>(std::move(fn));
    Tcl_ThreadQueueEvent(g_thread_ui, &e->intestazione, TCL_QUEUE_TAIL);
    Tcl_ThreadAlert(g_thread_ui);
}

void sul_thread_ui(std::weak_ptr<void> bersaglio, std::function<void()> fn) {
    sul_thread_ui([bersaglio = std::move(bersaglio), fn = std::move(fn)] {
        if (auto vivo = bersaglio.lock()) fn();
    });
}

void prendi_input(const std::string& finestra) {
    try {
        chiama("grab", "set", finestra);
    } catch (const Errore&) {
        chiama("tkwait", "visibility", finestra);
        chiama("grab", "set", finestra);
    }
}

std::string dopo(int millisecondi, std::function<void()> fn) {
    std::string nome = comando([fn = std::move(fn)](const std::vector<std::string>&) { fn(); });
    return chiama("after", millisecondi, Obj{Obj("::ormeggio::_una_volta"), Obj(nome)});
}

void ciclo_eventi() {
    richiedi_interp();
    Tk_MainLoop();
}

void elabora_eventi() {
    while (Tcl_DoOneEvent(TCL_DONT_WAIT)) {
    }
}

bool attendi_finche(const std::function<bool()>& condizione, std::chrono::milliseconds limite) {
    auto fine = std::chrono::steady_clock::now() + limite;
    while (!condizione()) {
        if (std::chrono::steady_clock::now() >= fine) return condizione();
        if (!Tcl_DoOneEvent(TCL_DONT_WAIT)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// ---- dialoghi ----

std::string messaggio(const std::string& tipo, const std::string& icona, const std::string& titolo,
                      const std::string& testo, const std::string& genitore) {
    return chiama("tk_messageBox", "-type", tipo, "-icon", icona, "-title", titolo, "-message",
                  testo, "-parent", genitore);
}

void informa(const std::string& titolo, const std::string& testo, const std::string& genitore) {
    messaggio("ok", "info", titolo, testo, genitore);
}
void avvisa(const std::string& titolo, const std::string& testo, const std::string& genitore) {
    messaggio("ok", "warning", titolo, testo, genitore);
}
void errore(const std::string& titolo, const std::string& testo, const std::string& genitore) {
    messaggio("ok", "error", titolo, testo, genitore);
}
bool chiedi_si_no(const std::string& titolo, const std::string& testo, const std::string& icona,
                  const std::string& genitore) {
    return messaggio("yesno", icona, titolo, testo, genitore) == "yes";
}

std::optional<std::string> scegli_cartella(const std::string& titolo, const std::string& iniziale,
                                           const std::string& genitore) {
    std::string r = chiama("tk_chooseDirectory", "-title", titolo, "-initialdir", iniziale,
                           "-parent", genitore, "-mustexist", 1);
    if (r.empty()) return std::nullopt;
    return r;
}

std::optional<std::string> scegli_file(const std::string& titolo, const std::string& iniziale,
                                       const std::string& genitore) {
    std::string r = chiama("tk_getOpenFile", "-title", titolo, "-initialdir", iniziale, "-parent",
                           genitore);
    if (r.empty()) return std::nullopt;
    return r;
}

std::optional<std::string> chiedi_testo(const std::string& titolo, const std::string& richiesta,
                                        const std::string& iniziale, const std::string& genitore,
                                        const std::string& testo_ok,
                                        const std::string& testo_annulla) {
    auto r = chiama_obj({Obj("::ormeggio::chiedi_testo"), Obj(titolo), Obj(richiesta),
                         Obj(iniziale), Obj(genitore), Obj(testo_ok), Obj(testo_annulla)})
                 .lista();
    if (r.size() == 2 && r[0] == "1") return r[1];
    return std::nullopt;
}

}  // namespace tk
