#pragma once
// Il motore del pannello remoto: possiede la connessione, il canale SFTP e la
// password di sudo della sessione; esegue i comandi (l'unico punto che apre
// canali exec), le interrogazioni e le operazioni sui file, e l'elenco delle
// cartelle. Nessun widget: si chiama dai thread di lavoro.
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "remote/proprietari.h"
#include "remote/voce.h"
#include "sessions/ssh.h"

namespace ormeggio {

// (uscita, errore, codice): successo è esattamente errore assente.
struct RisultatoComando {
    std::string uscita;                 // vuota se il comando è fallito
    std::optional<std::string> errore;  // mai vuoto quando presente
    std::optional<int> codice;          // assente: non partito, non letto o scaduto
};

// Proprietario, gruppo e modo (ottale come lo stampa stat %a) di un percorso.
struct Attributi {
    std::string proprietario;
    std::string gruppo;
    std::string modo;
    bool vuoti() const { return proprietario.empty() && gruppo.empty() && modo.empty(); }
    bool operator==(const Attributi&) const = default;
};

using TestoErrore = std::optional<std::string>;  // assente: riuscito
using RisultatoElenco = std::pair<std::vector<Voce>, TestoErrore>;

class Remoto {
  public:
    static constexpr int _TIMEOUT_COMANDO_SECONDI = 30;
    // Formato di find -printf, con le sequenze \t e \0 scritte per find. I record
    // finiscono con NUL, che un nome non può contenere: un nome con un a capo non
    // può spezzarsi in una riga che sembri un'altra voce.
    static constexpr const char* _FORMATO_FIND = "%f\\t%y\\t%m\\t%u\\t%g\\t%s\\t%T@\\0";

    Remoto(std::shared_ptr<ssh::Connessione> client, std::shared_ptr<ssh::Sftp> sftp,
           std::optional<std::string> sudo_password);
    Remoto(const Remoto&) = delete;
    Remoto& operator=(const Remoto&) = delete;

    const std::shared_ptr<ssh::Connessione> client;
    const std::shared_ptr<ssh::Sftp> sftp;
    const std::optional<std::string> sudo_password;  // vuota conta come presente

    // --- esecuzione dei comandi ---
    // `comando` è già quotato; sotto sudo la prima parola è il programma (vedi in_shell).
    // timeout in secondi, 0 = _TIMEOUT_COMANDO_SECONDI; ogni attesa ne è limitata.
    RisultatoComando _esegui(const std::string& comando, bool con_sudo = true, double timeout = 0,
                             const std::optional<std::string>& nota = {});
    TestoErrore _comando_con_sudo(const std::string& comando, double timeout = 0,
                                  const std::optional<std::string>& nota = {});
    std::pair<std::string, TestoErrore> esegui_lettura(const std::string& comando,
                                                       double timeout = 0);
    bool sudo_disponibile() const { return sudo_password.has_value(); }

    // --- interrogazioni e operazioni su un percorso (sudo se c'è) ---
    std::optional<Attributi> attributi_di(const std::string& percorso);
    // ("cartella" | "file" | assente = non esiste, errore)
    std::pair<std::optional<std::string>, TestoErrore> tipo_di(const std::string& percorso);
    std::optional<std::string> utente_ssh();
    // (SHA-256 esadecimale, errore)
    std::pair<std::optional<std::string>, TestoErrore> impronta(const std::string& percorso);
    TestoErrore applica_attributi(const std::string& percorso,
                                  const std::optional<Attributi>& attributi,
                                  bool ricorsivo = false);
    TestoErrore sostituisci(const std::string& temporaneo, const std::string& destinazione);
    TestoErrore copia_con_sudo(const std::string& origine, const std::string& destinazione);
    TestoErrore crea_cartella_con_sudo(const std::string& percorso);
    TestoErrore rimuovi_con_sudo(const std::string& percorso);
    TestoErrore _chmod_uno(const std::string& percorso, const std::string& modo_octal_str,
                           bool ricorsivo);
    TestoErrore _chown_uno(const std::string& percorso, const std::string& proprietario,
                           bool ricorsivo);

    // --- elenco di una cartella ---
    // find (con sudo se c'è), altrimenti SFTP; l'ordine è quello del server.
    RisultatoElenco elenco(const std::string& percorso) { return _elenco(percorso); }
    RisultatoElenco _elenco(const std::string& percorso);
    RisultatoElenco _elenco_con_find(const std::string& percorso);
    std::vector<Voce> _voci_da_sftp(const std::vector<ssh::VoceSftp>& attributi);

    MappaRemota _proprietari;

  private:
    // Come _esegui, ma l'uscita resta in byte (i nomi dei file non sono per forza UTF-8).
    RisultatoComando _esegui_grezzo(const std::string& comando, bool con_sudo, double timeout,
                                    const std::optional<std::string>& nota);

    std::atomic<std::shared_ptr<const std::string>> _utente_ssh;
};

}  // namespace ormeggio
