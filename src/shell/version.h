#pragma once
// Costanti di versione e dati mostrati nella finestra Informazioni.

namespace ormeggio {

inline constexpr const char* APP_NAME = "Ormeggio";
inline constexpr const char* APP_VERSION = "1.34.3";
inline constexpr const char* APP_DESCRIPTION =
    "Pannello locale e pannello remoto affiancati, con caricamento diretto dei file.\n"
    "Confronto ricorsivo locale/remoto con la scelta dei file da caricare.\n"
    "Cambio ricorsivo dei permessi (755/777) e dei proprietari, anche con sudo.\n"
    "Sessioni salvate, con le password cifrate nel portachiavi di sistema.";
inline constexpr const char* APP_AUTHOR = "Squadra Ormeggio";
inline constexpr const char* APP_AUTHOR_ROLE = "Sviluppo software per siti web";
inline constexpr const char* APP_AUTHOR_ADDR = "Via del Porto 1";
inline constexpr const char* APP_AUTHOR_CITY = "Genova";
inline constexpr const char* APP_AUTHOR_EMAIL = "info@ormeggio.example";
inline constexpr const char* APP_AUTHOR_TEL = "+39 010 000 0000";
inline constexpr const char* APP_AUTHOR_WEB = "https://ormeggio.example";
inline constexpr const char* APP_AUTHOR_PIVA = "00000000000";
inline constexpr const char* APP_COPYRIGHT = "© 2026 Squadra Ormeggio";
inline constexpr const char* APP_CREDITS = "Squadra Ormeggio";

}  // namespace ormeggio
