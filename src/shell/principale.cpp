// Il programma vero e proprio, caricato da main dopo il gestore degli errori.
#include "tk/tk.h"
extern "C" int ormeggio_principale(int, char**) { return 0; }
