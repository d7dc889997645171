// Allocatore per libssh2. Un trasferimento alloca e libera un pacchetto di ~32 KB
// per ogni blocco ricevuto: con malloc la cima dello heap viene restituita al
// sistema e rioccupata di continuo, e i page fault costano più della cifratura.
// Qui i blocchi grandi liberati restano in una piccola riserva per classe di taglia.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "sessions/ssh_interno.h"

namespace ormeggio::ssh {

namespace {

constexpr int CLASSE_MINIMA = 12;                // 4 KiB: sotto, malloc va benissimo
constexpr int CLASSE_MASSIMA = 22;               // 4 MiB: sopra, niente riserva
constexpr size_t RISERVA_PER_CLASSE = 8u << 20;  // byte tenuti al massimo per classe
constexpr uint32_t SENZA_CLASSE = 0xff;

// Intestazione davanti a ogni blocco: la classe (o la taglia, se fuori classe).
struct alignas(std::max_align_t) Intestazione {
    uint32_t classe;
    size_t dimensione;
};

struct Riserva {
    std::mutex m;
    std::array<std::vector<void*>, CLASSE_MASSIMA + 1> liberi;
};

Riserva& riserva() {
    // Mai distrutta: le sessioni possono essere liberate anche all'uscita.
    static Riserva* r = new Riserva;
    return *r;
}

int classe_di(size_t n) {
    int c = CLASSE_MINIMA;
    while (c <= CLASSE_MASSIMA && (size_t{1} << c) < n) ++c;
    return c;
}

void* dati_di(Intestazione* h) {
    return h + 1;
}
Intestazione* intestazione_di(void* p) {
    return static_cast<Intestazione*>(p) - 1;
}

}  // namespace

void* alloca_libssh2(size_t n, void**) {
    if (n < (size_t{1} << CLASSE_MINIMA) || classe_di(n) > CLASSE_MASSIMA) {
        auto* h = static_cast<Intestazione*>(std::malloc(sizeof(Intestazione) + n));
        if (!h) return nullptr;
        h->classe = SENZA_CLASSE;
        h->dimensione = n;
        return dati_di(h);
    }
    const int c = classe_di(n);
    {
        auto& r = riserva();
        std::lock_guard b(r.m);
        auto& v = r.liberi[static_cast<size_t>(c)];
        if (!v.empty()) {
            void* p = v.back();
            v.pop_back();
            return p;
        }
    }
    auto* h = static_cast<Intestazione*>(std::malloc(sizeof(Intestazione) + (size_t{1} << c)));
    if (!h) return nullptr;
    h->classe = static_cast<uint32_t>(c);
    h->dimensione = size_t{1} << c;
    return dati_di(h);
}

void libera_libssh2(void* p, void**) {
    if (!p) return;
    Intestazione* h = intestazione_di(p);
    if (h->classe != SENZA_CLASSE) {
        auto& r = riserva();
        std::lock_guard b(r.m);
        auto& v = r.liberi[h->classe];
        if ((v.size() + 1) * h->dimensione <= RISERVA_PER_CLASSE) {
            v.push_back(p);
            return;
        }
    }
    std::free(h);
}

void* rialloca_libssh2(void* p, size_t n, void** astratto) {
    if (!p) return alloca_libssh2(n, astratto);
    const size_t vecchia = intestazione_di(p)->dimensione;
    if (n <= vecchia && intestazione_di(p)->classe != SENZA_CLASSE) return p;
    void* nuovo = alloca_libssh2(n, astratto);
    if (!nuovo) return nullptr;
    std::memcpy(nuovo, p, std::min(vecchia, n));
    libera_libssh2(p, astratto);
    return nuovo;
}

}  // namespace ormeggio::ssh
