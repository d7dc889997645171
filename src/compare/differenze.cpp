#include "compare/differenze.h"

#include <algorithm>
#include <unordered_set>

#include "shell/i18n.h"

namespace ormeggio {

namespace {

unsigned char minuscola(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

bool precede_senza_maiuscole(const Differenza& x, const Differenza& y) {
    return std::lexicographical_compare(x.percorso.begin(), x.percorso.end(), y.percorso.begin(),
                                        y.percorso.end(),
                                        [](char a, char b) { return minuscola(a) < minuscola(b); });
}

}  // namespace

std::vector<Differenza> confronta(const MappaDimensioni& mappa_a, const MappaDimensioni& mappa_b,
                                  const FunzioneHash& hash_a, const FunzioneHash& hash_b,
                                  std::vector<Avviso>* avvisi) {
    std::vector<Differenza> risultato;
    std::vector<std::string> dubbi;
    const bool con_hash = hash_a && hash_b;

    // Le due mappe sono ordinate: basta scorrerle insieme.
    auto b = mappa_b.begin();
    for (const auto& [percorso, dimensione] : mappa_a) {
        while (b != mappa_b.end() && b->first < percorso) ++b;
        if (b == mappa_b.end() || b->first != percorso)
            risultato.push_back({percorso, "nuovo", dimensione});
        else if (b->second != dimensione)
            risultato.push_back({percorso, "modificato", dimensione});
        else if (con_hash)
            dubbi.push_back(percorso);
    }

    if (!dubbi.empty()) {
        const MappaHash impronte_a = hash_a(dubbi);
        const MappaHash impronte_b = hash_b(dubbi);
        std::unordered_set<std::string> gia_avvisati;
        if (avvisi)
            for (const auto& a : *avvisi) gia_avvisati.insert(a.percorso);
        for (const auto& percorso : dubbi) {
            auto ia = impronte_a.find(percorso);
            auto ib = impronte_b.find(percorso);
            if (ia == impronte_a.end() || ib == impronte_b.end()) {
                // Né uguale né diverso: la finestra lo elenca fra i non leggibili.
                if (avvisi && gia_avvisati.insert(percorso).second)
                    avvisi->push_back(
                        {percorso, t("contenuto non confrontabile: file non leggibile")});
                continue;
            }
            if (ia->second != ib->second)
                risultato.push_back({percorso, "modificato", mappa_a.at(percorso)});
        }
    }

    std::stable_sort(risultato.begin(), risultato.end(), precede_senza_maiuscole);
    return risultato;
}

}  // namespace ormeggio
