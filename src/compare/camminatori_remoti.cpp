#include "compare/camminatori_remoti.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

#include "compare/camminatori.h"
#include "compare/esclusioni.h"
#include "remote/quotatura.h"
#include "remote/utf8.h"
#include "shell/i18n.h"

namespace ormeggio {

namespace {

std::string unisci(const std::string& cartella, std::string_view nome) {
    std::string r = cartella;
    if (r.empty() || r.back() != '/') r += '/';
    r += nome;
    return r;
}

// find e cd prenderebbero per un'opzione un percorso che comincia con "-".
std::string per_comando(const std::string& percorso) {
    return !percorso.empty() && percorso.front() == '-' ? "./" + percorso : percorso;
}

std::optional<uint64_t> intero(std::string_view s) {
    constexpr std::string_view SPAZI = " \t\v\f\r";
    size_t inizio = s.find_first_not_of(SPAZI);
    if (inizio == std::string_view::npos) return std::nullopt;
    s = s.substr(inizio, s.find_last_not_of(SPAZI) - inizio + 1);
    if (s.front() == '+') s.remove_prefix(1);
    if (s.empty() || s.size() > 19) return std::nullopt;
    uint64_t n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    return n;
}

void visita_sftp(ssh::Sftp& sftp, const std::string& cartella, const std::string& prefisso,
                 const Modelli& modelli, MappaDimensioni& mappa) {
    for (const auto& voce : sftp.elenca(cartella)) {
        std::string relativo = prefisso.empty() ? voce.nome : prefisso + "/" + voce.nome;
        if (escluso(relativo, modelli)) continue;
        if (voce.e_cartella())
            visita_sftp(sftp, unisci(cartella, voce.nome), relativo, modelli, mappa);
        else
            mappa.insert_or_assign(std::move(relativo), voce.dimensione);
    }
}

std::string testo_avanzamento(size_t fatti, size_t totale) {
    return t("Confronto il contenuto: {fatti}/{totale}",
             {{"fatti", std::to_string(fatti)}, {"totale", std::to_string(totale)}});
}

}  // namespace

std::pair<std::optional<MappaDimensioni>, std::optional<std::string>> _cammina_remoto_find(
    const Esegui& esegui, const std::string& percorso_base) {
    const std::string comando =
        "find " + q(per_comando(percorso_base)) + " -type f -printf '%s\\t%P\\n'";
    auto [uscita, errore] = esegui(comando, TIMEOUT_ALBERO_SECONDI);
    if (errore) return {std::nullopt, std::move(errore)};

    MappaDimensioni mappa;
    std::string_view resto = uscita;
    while (!resto.empty()) {
        size_t fine = resto.find('\n');
        std::string_view riga = resto.substr(0, fine);
        resto = fine == std::string_view::npos ? std::string_view() : resto.substr(fine + 1);
        size_t tab = riga.find('\t');
        if (tab == std::string_view::npos || tab + 1 == riga.size()) continue;
        auto dimensione = intero(riga.substr(0, tab));
        if (!dimensione)
            return {std::nullopt, t("uscita di find non interpretabile: {riga}",
                                    {{"riga", std::string(primi_caratteri_utf8(riga, 120))}})};
        mappa.insert_or_assign(std::string(riga.substr(tab + 1)), *dimensione);
    }
    return {std::move(mappa), std::nullopt};
}

MappaDimensioni _cammina_remoto_sftp(ssh::Sftp& sftp, const std::string& percorso_base,
                                     const Modelli& modelli) {
    MappaDimensioni mappa;
    visita_sftp(sftp, percorso_base, "", modelli, mappa);
    return mappa;
}

std::pair<MappaDimensioni, std::vector<Avviso>> cammina_remoto(ssh::Sftp& sftp,
                                                               const std::string& percorso_base,
                                                               const Modelli& modelli,
                                                               const Esegui& esegui,
                                                               const Avanzamento& avanzamento) {
    const Avanzamento& avanza = avanzamento ? avanzamento : Avanzamento(_niente);
    std::vector<std::string> motivi;
    auto fatto = [&](size_t n) { avanza(t("{n} file sul server.", {{"n", std::to_string(n)}})); };

    if (esegui) {
        avanza(t("Leggo l'albero sul server…"));
        auto [mappa, errore] = _cammina_remoto_find(esegui, percorso_base);
        if (mappa) {
            if (!modelli.empty())
                std::erase_if(*mappa,
                              [&](const auto& voce) { return escluso(voce.first, modelli); });
            fatto(mappa->size());
            return {std::move(*mappa), {}};
        }
        motivi.push_back("find: " + *errore);
    }

    avanza(t("Leggo l'albero sul server via SFTP…"));
    try {
        MappaDimensioni mappa = _cammina_remoto_sftp(sftp, percorso_base, modelli);
        fatto(mappa.size());
        return {std::move(mappa), {}};
    } catch (const std::exception& e) {
        motivi.push_back(std::string("SFTP: ") + e.what());
    }

    std::string elenco;
    for (const auto& m : motivi) elenco += (elenco.empty() ? "" : "; ") + m;
    throw ErroreRemoto(t("Non riesco a leggere {percorso} sul server ({motivi})",
                         {{"percorso", utf8_valido(percorso_base)}, {"motivi", elenco}}));
}

std::string hash_remoto(ssh::Sftp& sftp, const std::string& percorso_base,
                        std::string_view percorso_relativo) {
    auto file = sftp.apri_lettura(unisci(percorso_base, percorso_relativo));
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1)
        throw std::runtime_error("MD5 non disponibile");
    std::unique_ptr<char[]> blocco(new char[DIMENSIONE_BLOCCO_HASH]);
    while (size_t n = file->leggi(blocco.get(), DIMENSIONE_BLOCCO_HASH))
        EVP_DigestUpdate(ctx.get(), blocco.get(), n);
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int lunghezza = 0;
    EVP_DigestFinal_ex(ctx.get(), md, &lunghezza);
    return esadecimale(md, lunghezza);
}

MappaHash hash_remoti(ssh::Sftp& sftp, const std::string& percorso_base,
                      const std::vector<std::string>& percorsi_relativi, const Esegui& esegui,
                      const Avanzamento& avanzamento) {
    if (percorsi_relativi.empty()) return {};
    const Avanzamento& avanza = avanzamento ? avanzamento : Avanzamento(_niente);
    if (esegui) return _hash_remoti_md5sum(esegui, percorso_base, percorsi_relativi, avanza);
    MappaHash mappa;
    const size_t totale = percorsi_relativi.size();
    for (size_t i = 0; i < totale; ++i) {
        avanza(testo_avanzamento(i + 1, totale));
        mappa.insert_or_assign(percorsi_relativi[i],
                               hash_remoto(sftp, percorso_base, percorsi_relativi[i]));
    }
    return mappa;
}

MappaHash _hash_remoti_md5sum(const Esegui& esegui, const std::string& percorso_base,
                              const std::vector<std::string>& percorsi_relativi,
                              const Avanzamento& avanzamento) {
    MappaHash mappa;
    const size_t totale = percorsi_relativi.size();
    for (size_t inizio = 0; inizio < totale; inizio += FILE_PER_COMANDO_MD5) {
        const size_t fine = std::min(inizio + FILE_PER_COMANDO_MD5, totale);
        if (avanzamento) avanzamento(testo_avanzamento(fine, totale));
        std::string interno = "cd " + q(per_comando(percorso_base)) + " && md5sum --";
        for (size_t i = inizio; i < fine; ++i) interno += " " + q(percorsi_relativi[i]);
        auto [uscita, errore] = esegui(in_shell(interno), TIMEOUT_MD5_SECONDI);
        if (errore)
            throw ErroreRemoto(
                t("Non riesco a confrontare il contenuto dei file sul server ({errore})",
                  {{"errore", *errore}}));
        std::string_view resto = uscita;
        while (!resto.empty()) {
            size_t a_capo = resto.find('\n');
            std::string_view riga = resto.substr(0, a_capo);
            resto =
                a_capo == std::string_view::npos ? std::string_view() : resto.substr(a_capo + 1);
            size_t spazi = riga.find("  ");
            if (spazi != 32 || spazi + 2 == riga.size()) continue;
            mappa.insert_or_assign(std::string(riga.substr(spazi + 2)),
                                   std::string(riga.substr(0, 32)));
        }
    }
    size_t mancanti = 0;
    const std::string* primo = nullptr;
    for (const auto& p : percorsi_relativi) {
        if (mappa.count(p)) continue;
        if (!primo) primo = &p;
        ++mancanti;
    }
    if (mancanti)
        throw ErroreRemoto(t("{n} file non confrontati sul server (il primo: {primo})",
                             {{"n", std::to_string(mancanti)}, {"primo", utf8_valido(*primo)}}));
    return mappa;
}

}  // namespace ormeggio
