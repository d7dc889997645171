#pragma once
// Per le prove con finestre vere: Tk inizializzato una volta per processo e
// dialoghi sostituiti da risposte scritte in anticipo.
#include <string>
#include <vector>

namespace prove {

// Inizializza Tk (DISPLAY deve esserci) e toglie finestre e risposte precedenti.
void prepara_tk();

// I dialoghi rispondono con le risposte date, in ordine; ogni chiamata è registrata
// in dialoghi_chiamati() come "procedura messaggio".
void risposte_dialoghi(const std::vector<std::string>& risposte);
std::vector<std::string> dialoghi_chiamati();

}  // namespace prove
