#include "supporto/gui.h"

#include "tk/tk.h"

namespace prove {

namespace {

// Ogni dialogo registra la chiamata e restituisce la prossima risposta ("" se finite).
const char* SCRIPT_DIALOGHI = R"TCL(
namespace eval ::prove { variable risposte {}; variable chiamate {} }
proc ::prove::_registra {nome argomenti} {
    set testo ""
    foreach {k v} $argomenti {
        if {$k in {-message -title}} { append testo "$k=$v " }
    }
    lappend ::prove::chiamate [list $nome $argomenti]
    set r [lindex $::prove::risposte 0]
    set ::prove::risposte [lrange $::prove::risposte 1 end]
    return $r
}
foreach p {tk_messageBox tk_chooseDirectory tk_getOpenFile tk_getSaveFile} {
    proc $p args [format {return [::prove::_registra %s $args]} $p]
}
proc ::ormeggio::chiedi_testo {titolo richiesta iniziale genitore ok annulla} {
    set r [::prove::_registra chiedi_testo [list -title $titolo -message $richiesta -initial $iniziale]]
    return $r
}
)TCL";

}  // namespace

void prepara_tk() {
    if (!tk::inizializzato()) {
        tk::inizializza("ormeggio-prova");
        tk::script(SCRIPT_DIALOGHI);
    }
    for (const auto& figlio : tk::Obj(tk::chiama("winfo", "children", ".")).lista())
        tk::chiama("destroy", figlio);
    tk::chiama(".", "configure", "-menu", "");
    tk::script("set ::prove::risposte {}; set ::prove::chiamate {}");
    tk::elabora_eventi();
}

void risposte_dialoghi(const std::vector<std::string>& risposte) {
    tk::chiama("set", "::prove::risposte", tk::Obj(risposte));
}

std::vector<std::string> dialoghi_chiamati() {
    std::vector<std::string> r;
    for (const auto& c : tk::Obj(tk::chiama("set", "::prove::chiamate")).lista()) {
        auto parti = tk::dividi_lista(c);
        std::string riga = parti.at(0);
        auto argomenti = tk::dividi_lista(parti.at(1));
        for (size_t i = 0; i + 1 < argomenti.size(); i += 2)
            if (argomenti[i] == "-message" || argomenti[i] == "-title")
                riga += " " + argomenti[i] + "=" + argomenti[i + 1];
        r.push_back(riga);
    }
    return r;
}

}  // namespace prove
