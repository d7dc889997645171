#pragma once
// Password delle sessioni nel portachiavi del desktop (Secret Service su D-Bus,
// tramite libsecret). Voce: servizio SERVIZIO_KEYRING, account "nome::tipo".
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace ormeggio {

inline constexpr const char* SERVIZIO_KEYRING = "Ormeggio";

// Il portachiavi non risponde, è bloccato o rifiuta: un solo tipo d'errore,
// sempre con un messaggio.
class ErrorePortachiavi : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
    ~ErrorePortachiavi() override;  // ancora il tipo in libormeggio.so, per il modulo
};

// "nome_profilo::tipo", tipo "ssh" o "sudo".
std::string _chiave(const std::string& nome_profilo, const std::string& tipo);

// Salva (sostituendo) la password; ErrorePortachiavi se il portachiavi manca.
void salva_password(const std::string& nome_profilo, const std::string& tipo,
                    const std::string& password);
// La password salvata, o nullopt se non ce n'è; ErrorePortachiavi se il
// portachiavi non si raggiunge (che non è la stessa cosa di "niente salvato").
std::optional<std::string> carica_password(const std::string& nome_profilo,
                                           const std::string& tipo);
// Cancella la password; una voce che non esiste non è un errore.
void elimina_password(const std::string& nome_profilo, const std::string& tipo);

// Le stesse operazioni per servizio e account qualunque.
void salva_segreto(const std::string& servizio, const std::string& account,
                   const std::string& segreto, const std::string& etichetta);
std::optional<std::string> carica_segreto(const std::string& servizio, const std::string& account);
// true se c'era una voce da cancellare.
bool elimina_segreto(const std::string& servizio, const std::string& account);

// Nome del portachiavi in uso, ad esempio "SecretService/gnome-keyring-daemon":
// l'interfaccia e il programma che possiede il servizio sul bus.
std::string nome_backend_portachiavi();

// Scrive, rilegge e cancella una voce di prova. (true, "OK (backend …)") o
// (false, "FALLITO (…)"); non lancia mai eccezioni.
std::pair<bool, std::string> _prova_portachiavi();

}  // namespace ormeggio
