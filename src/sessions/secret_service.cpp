// Il lato libsecret del portachiavi, in un modulo a parte caricato al primo uso:
// GLib, GIO e libsecret non pesano così sull'avvio della finestra.
#include "sessions/portachiavi.h"
#include "sessions/portachiavi_modulo.h"

#include <libsecret/secret.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <typeinfo>

#include "shell/version.h"

namespace ormeggio {

namespace {

constexpr const char* NOME_SECRET_SERVICE = "org.freedesktop.secrets";
// Le domande al bus stesso rispondono subito; se non lo fanno, il bus è perso.
constexpr int ATTESA_BUS_MS = 5000;

// Schema generico: le voci si ritrovano per servizio e account soltanto,
// anche con secret-tool.
const SecretSchema* schema() {
    static const SecretSchema s = [] {
        SecretSchema s{};
        s.name = "org.freedesktop.Secret.Generic";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &s;
}

struct LiberaOggetto {
    void operator()(gpointer p) const { g_object_unref(p); }
};
using Connessione = std::unique_ptr<GDBusConnection, LiberaOggetto>;

struct ErroreG {
    GError* e = nullptr;
    ~ErroreG() {
        if (e) g_error_free(e);
    }
    std::string testo(const std::string& ripiego) const {
        if (e && e->message && *e->message) return e->message;
        return ripiego;
    }
};

struct LiberaVariant {
    void operator()(GVariant* v) const { g_variant_unref(v); }
};
using Variant = std::unique_ptr<GVariant, LiberaVariant>;

void richiedi_utf8(const std::string& testo, const char* cosa) {
    if (!g_utf8_validate(testo.data(), static_cast<gssize>(testo.size()), nullptr))
        throw ErrorePortachiavi(std::string(cosa) + " non è testo UTF-8 valido");
}

// Un socket che accetta e poi tace terrebbe ferma l'autenticazione per
// sempre: dopo ATTESA_BUS_MS l'operazione viene annullata.
template <typename F>
auto con_scadenza(F&& operazione) {
    GCancellable* annulla = g_cancellable_new();
    std::mutex m;
    std::condition_variable cv;
    bool finito = false;
    std::thread guardia([&] {
        std::unique_lock<std::mutex> lock(m);
        if (!cv.wait_for(lock, std::chrono::milliseconds(ATTESA_BUS_MS), [&] { return finito; }))
            g_cancellable_cancel(annulla);
    });
    auto risultato = operazione(annulla);
    {
        std::lock_guard<std::mutex> lock(m);
        finito = true;
    }
    cv.notify_one();
    guardia.join();
    g_object_unref(annulla);
    return risultato;
}

// Solo un bus di sessione che esiste già: senza indirizzo GLib proverebbe
// ad avviarne uno nuovo con dbus-launch, vuoto e senza portachiavi.
Connessione bus_di_sessione() {
    const char* indirizzo = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!indirizzo || !*indirizzo) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        struct stat st {};
        if (!runtime || !*runtime || ::stat((std::string(runtime) + "/bus").c_str(), &st) != 0 ||
            !S_ISSOCK(st.st_mode))
            throw ErrorePortachiavi(
                "nessuna sessione D-Bus (DBUS_SESSION_BUS_ADDRESS non impostata)");
    }
    ErroreG err;
    Connessione c(con_scadenza([&](GCancellable* annulla) {
        return g_bus_get_sync(G_BUS_TYPE_SESSION, annulla, &err.e);
    }));
    if (!c) {
        if (g_error_matches(err.e, G_IO_ERROR, G_IO_ERROR_CANCELLED))
            throw ErrorePortachiavi("il bus di sessione D-Bus non risponde");
        throw ErrorePortachiavi("bus di sessione D-Bus non raggiungibile: " +
                                err.testo("connessione rifiutata"));
    }
    // La connessione condivisa di GLib chiuderebbe il programma se il bus sparisse.
    g_dbus_connection_set_exit_on_close(c.get(), FALSE);
    if (g_dbus_connection_is_closed(c.get()))
        throw ErrorePortachiavi("bus di sessione D-Bus chiuso");
    return c;
}

Variant chiedi_al_bus(GDBusConnection* c, const char* metodo, GVariant* parametri,
                      const char* tipo) {
    ErroreG err;
    Variant r(g_dbus_connection_call_sync(
        c, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", metodo,
        parametri, G_VARIANT_TYPE(tipo), G_DBUS_CALL_FLAGS_NONE, ATTESA_BUS_MS, nullptr, &err.e));
    if (!r)
        throw ErrorePortachiavi(std::string("bus di sessione D-Bus (") + metodo +
                                "): " + err.testo("nessuna risposta"));
    return r;
}

// Il servizio c'è, o il bus sa avviarlo. Altrimenti libsecret aspetterebbe
// invano e l'utente vedrebbe solo un'attesa.
Connessione servizio_pronto() {
    Connessione c = bus_di_sessione();
    Variant ha =
        chiedi_al_bus(c.get(), "NameHasOwner", g_variant_new("(s)", NOME_SECRET_SERVICE), "(b)");
    gboolean presente = FALSE;
    g_variant_get(ha.get(), "(b)", &presente);
    if (presente) {
        // Un portachiavi bloccato farebbe attendere ogni chiamata di libsecret
        // per il tempo massimo di D-Bus; qui si scopre in pochi secondi.
        ErroreG err;
        Variant eco(g_dbus_connection_call_sync(
            c.get(), NOME_SECRET_SERVICE, "/org/freedesktop/secrets", "org.freedesktop.DBus.Peer",
            "Ping", nullptr, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, ATTESA_BUS_MS, nullptr,
            &err.e));
        if (!eco)
            throw ErrorePortachiavi("il portachiavi non risponde: " +
                                    err.testo("nessuna risposta"));
        return c;
    }

    Variant nomi = chiedi_al_bus(c.get(), "ListActivatableNames", nullptr, "(as)");
    GVariantIter* it = nullptr;
    g_variant_get(nomi.get(), "(as)", &it);
    const gchar* nome = nullptr;
    bool attivabile = false;
    while (g_variant_iter_loop(it, "&s", &nome))
        if (g_strcmp0(nome, NOME_SECRET_SERVICE) == 0) attivabile = true;
    g_variant_iter_free(it);
    if (!attivabile)
        throw ErrorePortachiavi(std::string("nessun portachiavi nella sessione D-Bus (") +
                                NOME_SECRET_SERVICE + " assente)");
    return c;
}

std::string primo_argomento(const std::string& cmdline) {
    std::string a = cmdline.substr(0, cmdline.find('\0'));
    auto barra = a.rfind('/');
    return barra == std::string::npos ? a : a.substr(barra + 1);
}

// Il programma che possiede il servizio sul bus, se il bus lo dice.
std::string programma_del_servizio(GDBusConnection* c) {
    try {
        Variant proprietario =
            chiedi_al_bus(c, "GetNameOwner", g_variant_new("(s)", NOME_SECRET_SERVICE), "(s)");
        const gchar* unico = nullptr;
        g_variant_get(proprietario.get(), "(&s)", &unico);
        Variant pid =
            chiedi_al_bus(c, "GetConnectionUnixProcessID", g_variant_new("(s)", unico), "(u)");
        guint32 n = 0;
        g_variant_get(pid.get(), "(u)", &n);
        const std::string proc = "/proc/" + std::to_string(n);
        std::string testo;
        if (std::getline(std::ifstream(proc + "/cmdline", std::ios::binary), testo, '\n')) {
            std::string nome = primo_argomento(testo);
            if (!nome.empty()) return nome;
        }
        if (std::getline(std::ifstream(proc + "/comm"), testo) && !testo.empty()) return testo;
    } catch (const ErrorePortachiavi&) {
    }
    return {};
}

}  // namespace

namespace {

void salva_nel_servizio(const std::string& servizio, const std::string& account,
                   const std::string& segreto, const std::string& etichetta) {
    richiedi_utf8(servizio, "il servizio");
    richiedi_utf8(account, "il nome della voce");
    richiedi_utf8(etichetta, "l'etichetta");
    // Tenuta fino alla fine: libsecret riusa la stessa connessione condivisa.
    Connessione bus = servizio_pronto();
    ErroreG err;
    if (!secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, etichetta.c_str(),
                                    segreto.c_str(), nullptr, &err.e, "service", servizio.c_str(),
                                    "account", account.c_str(), nullptr))
        throw ErrorePortachiavi(err.testo("il portachiavi ha rifiutato il salvataggio"));
}

std::optional<std::string> carica_dal_servizio(const std::string& servizio, const std::string& account) {
    richiedi_utf8(servizio, "il servizio");
    richiedi_utf8(account, "il nome della voce");
    Connessione bus = servizio_pronto();
    ErroreG err;
    gchar* segreto = secret_password_lookup_nonpageable_sync(schema(), nullptr, &err.e, "service",
                                                             servizio.c_str(), "account",
                                                             account.c_str(), nullptr);
    if (err.e) {
        secret_password_free(segreto);
        throw ErrorePortachiavi(err.testo("lettura dal portachiavi non riuscita"));
    }
    if (!segreto) return std::nullopt;
    std::string risultato(segreto);
    secret_password_free(segreto);
    return risultato;
}

bool elimina_dal_servizio(const std::string& servizio, const std::string& account) {
    richiedi_utf8(servizio, "il servizio");
    richiedi_utf8(account, "il nome della voce");
    Connessione bus = servizio_pronto();
    ErroreG err;
    gboolean tolta =
        secret_password_clear_sync(schema(), nullptr, &err.e, "service", servizio.c_str(),
                                   "account", account.c_str(), nullptr);
    if (err.e) throw ErrorePortachiavi(err.testo("cancellazione dal portachiavi non riuscita"));
    return tolta;
}

std::string nome_del_servizio() {
    Connessione c = servizio_pronto();
    // Aprire la sessione del servizio lo avvia, se il bus deve attivarlo.
    ErroreG err;
    SecretService* servizio = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &err.e);
    if (!servizio) throw ErrorePortachiavi(err.testo("Secret Service non disponibile"));
    g_object_unref(servizio);
    std::string programma = programma_del_servizio(c.get());
    return programma.empty() ? "SecretService" : "SecretService/" + programma;
}

}  // namespace

}  // namespace ormeggio

extern "C" const ormeggio::ApiPortachiavi* ormeggio_api_portachiavi() {
    static const ormeggio::ApiPortachiavi api{ormeggio::salva_nel_servizio, ormeggio::carica_dal_servizio,
                                              ormeggio::elimina_dal_servizio,
                                              ormeggio::nome_del_servizio};
    return &api;
}
