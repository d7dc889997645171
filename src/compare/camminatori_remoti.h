#pragma once
// Camminatori dell'albero remoto e impronte MD5 dei file remoti: un solo find
// per l'albero e md5sum sul server a gruppi, attraverso l'esecutore della
// sessione; l'SFTP come riserva per l'albero e come sola via senza esecutore.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "compare/tipi_confronto.h"
#include "sessions/ssh.h"

namespace ormeggio {

// L'esecutore di lettura della sessione (Remoto::esegui_lettura): comando già
// quotato e tempo massimo in secondi -> (uscita, errore assente se riuscito).
using Esegui = std::function<std::pair<std::string, std::optional<std::string>>(
    const std::string& comando, double timeout)>;

// Dimensioni dei file sotto percorso_base sul server, esclusioni applicate.
// ErroreRemoto con tutti i motivi quando né find né l'SFTP leggono l'albero: una
// mappa vuota direbbe che non c'è niente da trasferire.
std::pair<MappaDimensioni, std::vector<Avviso>> cammina_remoto(ssh::Sftp& sftp,
                                                               const std::string& percorso_base,
                                                               const Modelli& modelli = {},
                                                               const Esegui& esegui = {},
                                                               const Avanzamento& avanzamento = {});

// (mappa, niente) oppure (niente, testo dell'errore). Nessuna esclusione.
std::pair<std::optional<MappaDimensioni>, std::optional<std::string>> _cammina_remoto_find(
    const Esegui& esegui, const std::string& percorso_base);

// Una visita in profondità, un elenco per cartella; le cartelle escluse non si
// elencano. Ogni errore del canale (ssh::Errore) arriva al chiamante.
MappaDimensioni _cammina_remoto_sftp(ssh::Sftp& sftp, const std::string& percorso_base,
                                     const Modelli& modelli = {});

// MD5 del file letto via SFTP con lettura anticipata; gli errori passano.
std::string hash_remoto(ssh::Sftp& sftp, const std::string& percorso_base,
                        std::string_view percorso_relativo);

// Con l'esecutore: md5sum sul server (ErroreRemoto se fallisce). Senza: un file
// alla volta via SFTP, e il primo che non si legge ferma tutto.
MappaHash hash_remoti(ssh::Sftp& sftp, const std::string& percorso_base,
                      const std::vector<std::string>& percorsi_relativi, const Esegui& esegui = {},
                      const Avanzamento& avanzamento = {});

// Un md5sum ogni FILE_PER_COMANDO_MD5 file, con l'avanzamento prima di ciascuno.
// Ogni percorso chiesto ha la sua impronta, altrimenti ErroreRemoto.
MappaHash _hash_remoti_md5sum(const Esegui& esegui, const std::string& percorso_base,
                              const std::vector<std::string>& percorsi_relativi,
                              const Avanzamento& avanzamento);

}  // namespace ormeggio
