// etichetta: unit
#include "remote/proprietari.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>

using namespace ormeggio;

TEST(Proprietari, NomiLocali) {
    EXPECT_EQ(proprietari::utente_locale(0), "root");
    EXPECT_EQ(proprietari::gruppo_locale(0), "root");
    EXPECT_EQ(proprietari::locale(0, 0), "root:root");
    // Un id che nessuno ha resta il numero.
    EXPECT_EQ(proprietari::locale(0, 4000000001u), "root:4000000001");
    EXPECT_EQ(proprietari::utente_locale(4000000002u), "4000000002");
}

TEST(Proprietari, MappaDaGetent) {
    auto m = proprietari::_mappa_da_getent(
        "root:x:0:0:root:/root:/bin/bash\n"
        "www-data:x:33:33:www-data:/var/www:/usr/sbin/nologin\n"
        "corto:x\n"
        "lettere:x:abc:1::/:/bin/sh\n"
        "vuoto:x::1::/:/bin/sh\n"
        "doppio:x:33\n"
        "ultimo:x:1000:1000::/home/ultimo:/bin/sh");
    EXPECT_EQ(m, (std::map<long long, std::string>{{0, "root"}, {33, "doppio"}, {1000, "ultimo"}}));
    EXPECT_TRUE(proprietari::_mappa_da_getent(std::nullopt).empty());
    EXPECT_EQ(proprietari::_mappa_da_getent("www-data:x:33:\n"),
              (std::map<long long, std::string>{{33, "www-data"}}));
}

namespace {

// Un lettore con le risposte di un server: ogni chiamata consuma la prossima.
struct Risposte {
    std::vector<std::pair<std::string, std::optional<std::string>>> coda;
    std::vector<std::string> comandi;
    MappaRemota::Lettore lettore() {
        return [this](const std::string& c) {
            comandi.push_back(c);
            auto r = coda.front();
            coda.erase(coda.begin());
            return r;
        };
    }
};

const std::string PASSWD = "root:x:0:0::/root:/bin/sh\nwww-data:x:33:33::/var/www:/bin/sh\n";
const std::string GROUP = "root:x:0:\nwww-data:x:33:\nsito:x:2000:\n";

}  // namespace

TEST(MappaRemota, UnFallimentoNonSiRicorda) {
    Risposte r;
    r.coda = {{"", "getent: comando non trovato"}, {"", "uscita 2"}, {PASSWD, {}}, {GROUP, {}}};
    MappaRemota m(r.lettore());
    EXPECT_EQ(MappaRemota::coppia_da(m._pronta(), 33, 2000), "33:2000");
    EXPECT_EQ(m.coppia(33, 2000), "www-data:sito");
    EXPECT_EQ(m.coppia(4242, 33), "4242:www-data");
    EXPECT_EQ(m.coppia(std::nullopt, 0), ":root");
    EXPECT_EQ(r.comandi, (std::vector<std::string>{"getent passwd", "getent group", "getent passwd",
                                                   "getent group"}));
}

TEST(MappaRemota, SoloIGruppiBastanoESiTengono) {
    Risposte r;
    r.coda = {{"", "uscita 2"}, {GROUP, {}}};
    MappaRemota m(r.lettore());
    EXPECT_EQ(m.coppia(33, 33), "33:www-data");
    EXPECT_EQ(m.coppia(0, 0), "0:root");
    EXPECT_EQ(r.comandi.size(), 2u);
}
