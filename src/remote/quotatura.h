#pragma once
// Quotatura POSIX delle parole messe nei comandi remoti: l'unica usata dal programma.
#include <string>
#include <string_view>

namespace ormeggio {

// La parola così com'è se fatta solo di caratteri innocui, altrimenti tra apici
// singoli (ogni apice interno scritto come '"'"'); la parola vuota diventa ''.
std::string q(std::string_view parola);

// "sh -c " + il comando composto quotato come una sola parola: così il sudo
// messo davanti dall'esecutore copre anche cd, &&, pipe e glob.
std::string in_shell(std::string_view comando_composto);

}  // namespace ormeggio
