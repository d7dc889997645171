// etichetta: gui
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

#include "supporto/gui.h"
#include "supporto/supporto.h"
#include "tk/tk.h"

namespace {

class Tk : public ::testing::Test {
protected:
    void SetUp() override { prove::prepara_tk(); }
};

TEST_F(Tk, PassaggiDaMoltiThreadArrivanoTuttiEInOrdine) {
    constexpr int THREAD = 8, PER_THREAD = 1000;
    std::vector<std::vector<int>> ricevuti(THREAD);
    std::atomic<int> totale{0};
    std::vector<std::thread> lavoratori;
    for (int t = 0; t < THREAD; ++t) {
        lavoratori.emplace_back([t, &ricevuti, &totale] {
            for (int i = 0; i < PER_THREAD; ++i) {
                tk::sul_thread_ui([t, i, &ricevuti, &totale] {
                    EXPECT_TRUE(tk::e_thread_ui());
                    ricevuti[t].push_back(i);
                    ++totale;
                });
            }
        });
    }
    for (auto& l : lavoratori) l.join();
    ASSERT_TRUE(tk::attendi_finche([&] { return totale == THREAD * PER_THREAD; }));
    for (int t = 0; t < THREAD; ++t) {
        ASSERT_EQ(ricevuti[t].size(), size_t(PER_THREAD));
        for (int i = 0; i < PER_THREAD; ++i) ASSERT_EQ(ricevuti[t][i], i) << "thread " << t;
    }
}

TEST_F(Tk, PassaggioConBersaglioScompersoVieneScartato) {
    auto bersaglio = std::make_shared<int>(0);
    std::weak_ptr<void> debole = bersaglio;
    int eseguiti = 0;
    std::thread([&] { tk::sul_thread_ui(debole, [&] { ++eseguiti; }); }).join();
    bersaglio.reset();
    bool fatto = false;
    tk::sul_thread_ui([&] { fatto = true; });
    ASSERT_TRUE(tk::attendi_finche([&] { return fatto; }));
    EXPECT_EQ(eseguiti, 0);
}

TEST_F(Tk, TestiOstiliRestanoTesto) {
    std::string bersaglio = prove::cartella_temporanea("tk") + "/x";
    const std::vector<std::string> testi = {
        "[exec touch " + bersaglio + "]", "$x", "{", "\"", "\\", "}{", "a;b", "🗑 Elimina",
        "line\nfeed", "[set ::tcl_platform(os)]"};
    std::string voce = tk::nuovo_nome(".", "voce");
    tk::Variabile var;
    tk::chiama("ttk::entry", voce, "-textvariable", var.nome());
    std::vector<std::string> visti;
    std::string pulsante = tk::nuovo_nome(".", "p");
    tk::chiama("ttk::button", pulsante);
    for (const auto& testo : testi) {
        std::string etichetta = tk::nuovo_nome(".", "et");
        tk::chiama("ttk::label", etichetta, "-text", testo);
        EXPECT_EQ(tk::chiama(etichetta, "cget", "-text"), testo);
        var.set(testo);
        EXPECT_EQ(tk::chiama(voce, "get"), testo);
        tk::chiama(voce, "delete", 0, "end");
        tk::chiama(voce, "insert", 0, testo);
        EXPECT_EQ(var.get(), testo);
        // L'argomento arriva intatto al codice C++.
        std::string cmd =
            tk::comando([&](const std::vector<std::string>& a) { visti.push_back(a.at(0)); });
        tk::chiama(pulsante, "configure", "-command", tk::Obj{tk::Obj(cmd), tk::Obj(testo)});
        tk::chiama(pulsante, "invoke");
    }
    tk::elabora_eventi();
    EXPECT_EQ(visti, testi);
    EXPECT_FALSE(std::filesystem::exists(bersaglio));
}

TEST_F(Tk, ComandoSparisceConIlSuoWidget) {
    std::string w = tk::nuovo_nome(".", "f");
    tk::chiama("ttk::frame", w);
    std::string cmd = tk::comando([](const std::vector<std::string>&) {}, w);
    EXPECT_EQ(tk::chiama("info", "commands", cmd), cmd);
    tk::chiama("destroy", w);
    EXPECT_EQ(tk::chiama("info", "commands", cmd), "");
}

TEST_F(Tk, EccezioneNelCallbackDiventaErroreTcl) {
    std::string b = tk::nuovo_nome(".", "b");
    tk::chiama("ttk::button", b, "-command", tk::comando([](const std::vector<std::string>&) {
                   throw std::runtime_error("guasto previsto");
               }));
    // Chiamato direttamente: l'errore torna al chiamante.
    try {
        tk::chiama(b, "invoke");
        FAIL() << "nessun errore";
    } catch (const tk::Errore& e) {
        EXPECT_NE(std::string(e.what()).find("guasto previsto"), std::string::npos);
    }
    // Da un evento: finisce sullo standard error e la finestra resta usabile.
    testing::internal::CaptureStderr();
    tk::chiama("after", 0, tk::Obj{tk::Obj(b), tk::Obj("invoke")});
    tk::attendi_finche([] { return false; }, std::chrono::milliseconds(200));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("guasto previsto"), std::string::npos);
    EXPECT_EQ(tk::chiama("winfo", "exists", b), "1");
}

TEST_F(Tk, DialoghiPassanoPerLeProcedureSostituibili) {
    prove::risposte_dialoghi({"yes", "no", "/tmp", ""});
    EXPECT_TRUE(tk::chiedi_si_no("Titolo", "Domanda?"));
    EXPECT_FALSE(tk::chiedi_si_no("Titolo", "Domanda?"));
    EXPECT_EQ(tk::scegli_cartella("Scegli", "/"), std::optional<std::string>("/tmp"));
    EXPECT_EQ(tk::scegli_file("Scegli", "/"), std::nullopt);
    auto chiamate = prove::dialoghi_chiamati();
    ASSERT_EQ(chiamate.size(), 4u);
    EXPECT_EQ(chiamate[0], "tk_messageBox -title=Titolo -message=Domanda?");
}

}  // namespace
