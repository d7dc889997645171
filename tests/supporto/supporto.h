#pragma once
// Strumenti comuni delle prove: casa temporanea, fatti del server SSH di prova.
#include <map>
#include <string>

#include "sessions/ssh.h"

namespace prove {

// Imposta HOME su una cartella temporanea nuova per la durata dell'oggetto.
class CasaTemporanea {
public:
    CasaTemporanea();
    ~CasaTemporanea();
    CasaTemporanea(const CasaTemporanea&) = delete;
    CasaTemporanea& operator=(const CasaTemporanea&) = delete;
    const std::string& percorso() const { return _percorso; }

private:
    std::string _percorso;
    std::string _vecchia;
    bool _aveva = false;
};

// Cartella temporanea nuova (rimossa dal chiamante o alla fine delle prove).
std::string cartella_temporanea(const std::string& prefisso = "prova");

// Coppie CHIAVE=VALORE scritte dal server SSH di prova (ORMEGGIO_SSH_FATTI);
// vuoto se il server non è avviato.
const std::map<std::string, std::string>& fatti_ssh();
std::string fatto_ssh(const std::string& chiave);
// Parametri di accesso con password al server di prova (utente con sudo, se non detto).
ormeggio::ssh::ParametriConnessione parametri_server_prova(const std::string& utente = "",
                                                           const std::string& password = "");

std::string leggi_file(const std::string& percorso);
void scrivi_file(const std::string& percorso, const std::string& contenuto);

// Esegue un comando di shell locale e ne restituisce l'uscita standard.
std::string esegui_locale(const std::string& comando, int* stato = nullptr);

}  // namespace prove
