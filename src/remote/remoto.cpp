#include "remote/remoto.h"

#include <chrono>
#include <cmath>
#include <exception>
#include <thread>

#include "remote/quotatura.h"
#include "remote/registro.h"
#include "remote/utf8.h"
#include "shell/i18n.h"

namespace ormeggio {

namespace {

std::string senza_prompt(std::string testo) {
    constexpr std::string_view PROMPT = "Password:";
    for (size_t k; (k = testo.find(PROMPT)) != std::string::npos;) testo.erase(k, PROMPT.size());
    return std::string(senza_spazi(testo));
}

}  // namespace

Remoto::Remoto(std::shared_ptr<ssh::Connessione> client_, std::shared_ptr<ssh::Sftp> sftp_,
               std::optional<std::string> sudo_password_)
    : client(std::move(client_)),
      sftp(std::move(sftp_)),
      sudo_password(std::move(sudo_password_)),
      _proprietari([this](const std::string& comando) {
          // Le tabelle sono pubbliche: chiederle con sudo manderebbe la password per niente.
          auto r = _esegui(comando, false, 0, std::string("getent"));
          return std::pair<std::string, std::optional<std::string>>(std::move(r.uscita),
                                                                    std::move(r.errore));
      }) {}

RisultatoComando Remoto::_esegui_grezzo(const std::string& comando, bool con_sudo, double timeout,
                                        const std::optional<std::string>& nota) {
    using namespace std::chrono;
    const bool sudo_attivo = con_sudo && sudo_password.has_value();
    const std::string riga = sudo_attivo ? "sudo -S -p '' " + comando : comando;
    const double scadenza = timeout > 0 ? timeout : _TIMEOUT_COMANDO_SECONDI;
    const auto attesa = milliseconds(static_cast<long long>(std::llround(scadenza * 1000.0)));
    const auto inizio = steady_clock::now();
    auto trascorsi = [&] { return duration<double>(steady_clock::now() - inizio).count(); };

    std::unique_ptr<ssh::Canale> canale;
    auto chiudi = [&] {
        if (!canale) return;
        try {
            canale->chiudi();
        } catch (...) {
        }
    };
    // Un comando scaduto può essere ancora vivo sul server e la chiusura può
    // aspettarlo: la si lascia a un thread a parte, così il chiamante ha l'errore
    // alla scadenza e non qualche secondo dopo.
    auto chiudi_dopo = [&] {
        if (!canale) return;
        try {
            std::thread([c = std::move(canale)] {
                try {
                    c->chiudi();
                } catch (...) {
                }
            }).detach();
        } catch (...) {
            chiudi();
        }
    };
    auto fallito = [&](std::string testo) {
        if (testo.empty()) testo = t("errore della connessione SSH senza descrizione");
        testo = registro::_senza_password(utf8_valido(testo), sudo_password);
        registro::comando(riga, std::nullopt, testo, sudo_attivo, trascorsi(), sudo_password, nota);
        chiudi_dopo();
        return RisultatoComando{"", std::move(testo), std::nullopt};
    };

    std::string uscita, errori;
    std::optional<int> codice;
    try {
        if (!client) return fallito(t("connessione SSH chiusa"));
        canale = client->apri_canale(riga);
        if (sudo_attivo) canale->scrivi(*sudo_password + "\n");
        try {
            canale->chiudi_scrittura();
        } catch (...) {
        }
        canale->leggi_tutto(uscita, errori, attesa);
        codice = canale->attendi_uscita(attesa);
        if (!codice)
            return fallito(t("il comando non ha risposto entro {n} secondi",
                             {{"n", std::to_string(static_cast<long long>(scadenza))}}));
    } catch (const std::exception& e) {
        return fallito(e.what());
    } catch (...) {
        return fallito("");
    }
    chiudi();

    std::string pulito = senza_prompt(utf8_valido(errori));
    registro::comando(riga, codice, pulito, sudo_attivo, trascorsi(), sudo_password, nota);
    if (*codice != 0) {
        std::string errore = pulito.empty()
                                 ? t("uscita {codice}", {{"codice", std::to_string(*codice)}})
                                 : registro::_senza_password(pulito, sudo_password);
        return {"", std::move(errore), codice};
    }
    return {std::move(uscita), std::nullopt, 0};
}

RisultatoComando Remoto::_esegui(const std::string& comando, bool con_sudo, double timeout,
                                 const std::optional<std::string>& nota) {
    RisultatoComando r = _esegui_grezzo(comando, con_sudo, timeout, nota);
    if (!r.uscita.empty()) r.uscita = utf8_valido(r.uscita);
    return r;
}

TestoErrore Remoto::_comando_con_sudo(const std::string& comando, double timeout,
                                      const std::optional<std::string>& nota) {
    return _esegui(comando, true, timeout, nota).errore;
}

std::pair<std::string, TestoErrore> Remoto::esegui_lettura(const std::string& comando,
                                                           double timeout) {
    auto r = _esegui(comando, true, timeout, std::string("lettura"));
    return {std::move(r.uscita), std::move(r.errore)};
}

std::optional<Attributi> Remoto::attributi_di(const std::string& percorso) {
    auto r = _esegui("stat -c '%U|%G|%a' -- " + q(percorso), true, 0, std::string("attributi"));
    if (r.errore) return std::nullopt;
    std::string_view testo = senza_spazi(r.uscita);
    if (testo.empty()) return std::nullopt;
    size_t a = testo.find('|');
    if (a == std::string_view::npos) return std::nullopt;
    size_t b = testo.find('|', a + 1);
    if (b == std::string_view::npos || testo.find('|', b + 1) != std::string_view::npos)
        return std::nullopt;
    Attributi attributi{std::string(testo.substr(0, a)),
                        std::string(testo.substr(a + 1, b - a - 1)),
                        std::string(testo.substr(b + 1))};
    if (attributi.proprietario.empty() || attributi.gruppo.empty() || attributi.modo.empty())
        return std::nullopt;
    return attributi;
}

std::pair<std::optional<std::string>, TestoErrore> Remoto::tipo_di(const std::string& percorso) {
    auto r = _esegui("stat -c '%F' -- " + q(percorso), true, 0, std::string("esiste?"));
    if (!r.errore) {
        return {senza_spazi(r.uscita) == "directory" ? "cartella" : "file", std::nullopt};
    }
    if (r.errore->find("No such file") != std::string::npos ||
        r.errore->find("non esiste") != std::string::npos)
        return {std::nullopt, std::nullopt};
    return {std::nullopt, r.errore};
}

std::optional<std::string> Remoto::utente_ssh() {
    if (auto noto = _utente_ssh.load(); noto && !noto->empty()) return *noto;
    auto r = _esegui("id -un", false, 0, std::string("utente"));
    if (r.errore) return std::nullopt;
    std::string_view testo = senza_spazi(r.uscita);
    if (testo.empty()) return std::nullopt;
    std::string nome(testo.substr(0, testo.find_first_of("\r\n")));
    _utente_ssh.store(std::make_shared<const std::string>(nome));
    return nome;
}

std::pair<std::optional<std::string>, TestoErrore> Remoto::impronta(const std::string& percorso) {
    auto r = _esegui("sha256sum -- " + q(percorso), true, 0, std::string("verifica"));
    if (r.errore) return {std::nullopt, r.errore};
    std::string_view testo = senza_spazi(r.uscita);
    std::string_view primo = testo.substr(0, testo.find(' '));
    // sha256sum mette una barra rovescia davanti alla riga quando il nome contiene
    // "\" o un a capo: l'impronta è la stessa.
    if (primo.size() == 65 && primo.front() == '\\') primo.remove_prefix(1);
    if (primo.size() == 64) return {std::string(primo), std::nullopt};
    return {std::nullopt, t("sha256sum: uscita non interpretabile ({uscita})",
                            {{"uscita", std::string(primi_caratteri_utf8(testo, 80))}})};
}

TestoErrore Remoto::applica_attributi(const std::string& percorso,
                                      const std::optional<Attributi>& attributi, bool ricorsivo) {
    if (!attributi || attributi->vuoti()) return std::nullopt;
    // Prima il proprietario: chown toglie il bit setgid, il modo va rimesso dopo.
    if (auto errore =
            _chown_uno(percorso, attributi->proprietario + ":" + attributi->gruppo, ricorsivo))
        return errore;
    return _chmod_uno(percorso, attributi->modo, ricorsivo);
}

TestoErrore Remoto::sostituisci(const std::string& temporaneo, const std::string& destinazione) {
    return _comando_con_sudo("mv -f -- " + q(temporaneo) + " " + q(destinazione));
}

TestoErrore Remoto::copia_con_sudo(const std::string& origine, const std::string& destinazione) {
    return _comando_con_sudo("cp -- " + q(origine) + " " + q(destinazione));
}

TestoErrore Remoto::crea_cartella_con_sudo(const std::string& percorso) {
    return _comando_con_sudo("mkdir -- " + q(percorso));
}

TestoErrore Remoto::rimuovi_con_sudo(const std::string& percorso) {
    return _comando_con_sudo("rm -f -- " + q(percorso));
}

TestoErrore Remoto::_chmod_uno(const std::string& percorso, const std::string& modo_octal_str,
                               bool ricorsivo) {
    // Un modo fatto di cifre resta com'è; uno strano (letto da un server) non
    // diventa mai sintassi di shell.
    auto errore = _comando_con_sudo("chmod " + std::string(ricorsivo ? "-R " : "") +
                                    q(modo_octal_str) + " -- " + q(percorso));
    if (!errore) return std::nullopt;
    return utf8_valido(percorso) + ": " + *errore;
}

TestoErrore Remoto::_chown_uno(const std::string& percorso, const std::string& proprietario,
                               bool ricorsivo) {
    auto errore = _comando_con_sudo("chown " + std::string(ricorsivo ? "-R " : "") +
                                    q(proprietario) + " -- " + q(percorso));
    if (!errore) return std::nullopt;
    return utf8_valido(percorso) + ": " + *errore;
}

RisultatoElenco Remoto::_elenco_con_find(const std::string& percorso) {
    // find non accetta "--": un percorso relativo che inizia con "-" sarebbe un'opzione.
    std::string cartella =
        !percorso.empty() && percorso.front() == '-' ? "./" + percorso : percorso;
    auto r = _esegui_grezzo(
        "find " + q(cartella) + " -maxdepth 1 -mindepth 1 -printf '" + _FORMATO_FIND + "'", true, 0,
        std::string("elenco cartella"));
    if (r.errore) return {{}, r.errore};
    return {voci_da_find(r.uscita), std::nullopt};
}

std::vector<Voce> Remoto::_voci_da_sftp(const std::vector<ssh::VoceSftp>& attributi) {
    std::vector<Voce> voci;
    voci.reserve(attributi.size());
    auto tabelle = attributi.empty() ? nullptr : _proprietari._pronta();
    for (const auto& a : attributi) {
        Voce v;
        v.nome = utf8_valido(a.nome);
        v.nome_grezzo = a.nome;
        v.e_cartella = a.e_cartella();
        v.modo = modo_ottale(a.modo);
        v.proprietario = MappaRemota::coppia_da(tabelle, a.uid, a.gid);
        v.dimensione = v.e_cartella ? "" : std::to_string(a.dimensione);
        v.modificato = a.modificato == 0 ? "" : ora_locale(static_cast<double>(a.modificato));
        voci.push_back(std::move(v));
    }
    return voci;
}

RisultatoElenco Remoto::_elenco(const std::string& percorso) {
    auto [voci, errore_find] = _elenco_con_find(percorso);
    if (!errore_find) return {std::move(voci), std::nullopt};
    std::string errore_sftp;
    try {
        if (!sftp) throw std::runtime_error(t("canale SFTP non aperto"));
        return {_voci_da_sftp(sftp->elenca(percorso)), std::nullopt};
    } catch (const std::exception& e) {
        errore_sftp = e.what();
    } catch (...) {
    }
    if (errore_sftp.empty()) errore_sftp = t("errore SFTP senza descrizione");
    return {{}, "find: " + *errore_find + " / SFTP: " + utf8_valido(errore_sftp)};
}

}  // namespace ormeggio
