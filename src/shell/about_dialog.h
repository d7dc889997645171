#pragma once
// La finestra "Informazioni su": modale, non ridimensionabile.
#include <optional>
#include <string>

namespace ormeggio {

inline constexpr const char* _HEADER_BG = "#2d5a3f";
inline constexpr const char* _HEADER_FG_VERSION = "#c8e6c9";
inline constexpr const char* _LABEL_FG = "#666";
inline constexpr const char* _LINK_FG = "#1565c0";

class AboutDialog {
public:
    // Costruisce la finestra sopra master e ne restituisce il percorso Tk.
    static std::string crea(const std::string& master);
    static void _separatore(const std::string& contenitore);
    static void _riga_contatto(const std::string& contenitore, int riga,
                               const std::string& etichetta, const std::string& valore,
                               const std::optional<std::string>& link = std::nullopt);
};

// Apre un indirizzo con il gestore predefinito del desktop, senza attendere.
void apri_indirizzo(const std::string& indirizzo);

}  // namespace ormeggio
