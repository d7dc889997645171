#include "remote/proprietari.h"

#include <grp.h>
#include <pwd.h>

#include <cerrno>
#include <charconv>
#include <vector>

namespace ormeggio {

namespace proprietari {

namespace {

// Le funzioni _r con un buffer che cresce finché basta; assente per "non c'è"
// e per ogni errore del sistema.
template <typename Voce, typename Funzione, typename Campo>
std::optional<std::string> _senza_eccezioni(Funzione funzione, unsigned chiave, Campo campo) {
    std::vector<char> buf(1024);
    while (true) {
        Voce voce{};
        Voce* risultato = nullptr;
        int e = funzione(chiave, &voce, buf.data(), buf.size(), &risultato);
        if (e == ERANGE && buf.size() < (1u << 20)) {
            buf.resize(buf.size() * 4);
            continue;
        }
        if (e != 0 || !risultato || !(risultato->*campo)) return std::nullopt;
        return std::string(risultato->*campo);
    }
}

}  // namespace

std::string utente_locale(unsigned uid) {
    auto nome = _senza_eccezioni<passwd>(::getpwuid_r, uid, &passwd::pw_name);
    return nome ? *nome : std::to_string(uid);
}

std::string gruppo_locale(unsigned gid) {
    auto nome = _senza_eccezioni<group>(::getgrgid_r, gid, &group::gr_name);
    return nome ? *nome : std::to_string(gid);
}

std::string locale(unsigned uid, unsigned gid) {
    return utente_locale(uid) + ":" + gruppo_locale(gid);
}

std::map<long long, std::string> _mappa_da_getent(const std::optional<std::string>& uscita,
                                                  size_t colonna_nome, size_t colonna_id) {
    std::map<long long, std::string> mappa;
    if (!uscita) return mappa;
    std::string_view testo = *uscita;
    size_t inizio = 0;
    while (inizio < testo.size()) {
        size_t fine = testo.find('\n', inizio);
        if (fine == std::string_view::npos) fine = testo.size();
        std::string_view riga = testo.substr(inizio, fine - inizio);
        inizio = fine + 1;
        if (!riga.empty() && riga.back() == '\r') riga.remove_suffix(1);

        std::vector<std::string_view> campi;
        size_t da = 0;
        while (true) {
            size_t due_punti = riga.find(':', da);
            campi.push_back(
                riga.substr(da, due_punti == std::string_view::npos ? due_punti : due_punti - da));
            if (due_punti == std::string_view::npos) break;
            da = due_punti + 1;
        }
        if (campi.size() <= std::max(colonna_nome, colonna_id)) continue;
        std::string_view id = campi[colonna_id];
        // Come una conversione a intero tollerante: spazi attorno e segno ammessi.
        while (!id.empty() && (id.front() == ' ' || id.front() == '\t')) id.remove_prefix(1);
        while (!id.empty() && (id.back() == ' ' || id.back() == '\t')) id.remove_suffix(1);
        if (!id.empty() && id.front() == '+') id.remove_prefix(1);
        long long valore = 0;
        auto [fine_numero, ec] = std::from_chars(id.data(), id.data() + id.size(), valore);
        if (id.empty() || ec != std::errc() || fine_numero != id.data() + id.size()) continue;
        mappa[valore] = std::string(campi[colonna_nome]);
    }
    return mappa;
}

}  // namespace proprietari

MappaRemota::MappaRemota(Lettore leggi) : _leggi(std::move(leggi)) {}

std::shared_ptr<const MappaRemota::Tabelle> MappaRemota::_pronta() {
    if (auto t = _tabelle.load()) return t;
    if (!_leggi) return nullptr;
    auto [utenti, errore_utenti] = _leggi("getent passwd");
    auto [gruppi, errore_gruppi] = _leggi("getent group");
    auto t = std::make_shared<Tabelle>();
    if (!errore_utenti) t->utenti = proprietari::_mappa_da_getent(utenti);
    if (!errore_gruppi) t->gruppi = proprietari::_mappa_da_getent(gruppi);
    if (t->utenti.empty() && t->gruppi.empty()) return nullptr;
    std::shared_ptr<const Tabelle> pronte = t;
    _tabelle.store(pronte);
    return pronte;
}

namespace {

std::string nome_o_numero(const std::map<long long, std::string>* mappa,
                          std::optional<long long> id) {
    if (!id) return "";
    if (mappa) {
        auto it = mappa->find(*id);
        if (it != mappa->end()) return it->second;
    }
    return std::to_string(*id);
}

}  // namespace

std::string MappaRemota::utente(std::optional<long long> uid) {
    if (!uid) return "";
    auto t = _pronta();
    return nome_o_numero(t ? &t->utenti : nullptr, uid);
}

std::string MappaRemota::gruppo(std::optional<long long> gid) {
    if (!gid) return "";
    auto t = _pronta();
    return nome_o_numero(t ? &t->gruppi : nullptr, gid);
}

std::string MappaRemota::coppia(std::optional<long long> uid, std::optional<long long> gid) {
    std::string u = utente(uid);
    return u + ":" + gruppo(gid);
}

std::string MappaRemota::coppia_da(const std::shared_ptr<const Tabelle>& tabelle,
                                   std::optional<long long> uid, std::optional<long long> gid) {
    return nome_o_numero(tabelle ? &tabelle->utenti : nullptr, uid) + ":" +
           nome_o_numero(tabelle ? &tabelle->gruppi : nullptr, gid);
}

}  // namespace ormeggio
