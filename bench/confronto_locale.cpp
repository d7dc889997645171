// Banco del confronto in locale: esclusioni, cammino dell'albero, differenze,
// MD5 di un file grande, ciascuno accanto a ciò che userebbe chiunque altro.
// Uso: confronto_locale [esclusioni|cammino|differenze|hash]... (nessuno: tutti)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "compare/camminatori.h"
#include "compare/differenze.h"
#include "compare/esclusioni.h"

using namespace ormeggio;
using Orologio = std::chrono::steady_clock;

namespace {

double secondi(const std::function<void()>& fn) {
    auto t0 = Orologio::now();
    fn();
    return std::chrono::duration<double>(Orologio::now() - t0).count();
}

// La mediana di n prove.
double mediana(int n, const std::function<void()>& fn) {
    std::vector<double> v;
    for (int i = 0; i < n; ++i) v.push_back(secondi(fn));
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void shell(const std::string& comando) {
    if (std::system(comando.c_str()) != 0) {
        std::fprintf(stderr, "fallito: %s\n", comando.c_str());
        std::exit(1);
    }
}

std::string cartella_banco() {
    char modello[] = "/tmp/confronto-banco.XXXXXX";
    if (!::mkdtemp(modello)) std::exit(1);
    return modello;
}

const char* NOMI[] = {"src", "lib", "vendor", "app",  "public",  "var",     "cache", "img",
                      "js",  "css", "config", "test", "storage", "_locale", "node",  "util"};

std::vector<std::string> percorsi_generati(size_t n) {
    std::mt19937 gen(42);
    std::vector<std::string> r;
    r.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        std::string p;
        int profondita = 1 + gen() % 6;
        for (int d = 0; d < profondita; ++d) p += std::string(NOMI[gen() % 16]) + "/";
        p += "file" + std::to_string(i) + (gen() % 3 ? ".php" : ".env");
        r.push_back(std::move(p));
    }
    return r;
}

void banco_esclusioni() {
    auto percorsi = percorsi_generati(100000);
    size_t esclusi = 0;
    double s = mediana(5, [&] {
        esclusi = 0;
        for (const auto& p : percorsi) esclusi += escluso(p, PREDEFINITE);
    });
    std::printf(
        "escluso: %zu percorsi contro PREDEFINITE (%zu esclusi): %.0f ns/percorso "
        "(obiettivo <= 1000)\n",
        percorsi.size(), esclusi, s * 1e9 / percorsi.size());
}

void banco_cammino() {
    const std::string base = cartella_banco();
    // 5000 cartelle su due livelli, 20 file ciascuna: 100000 file.
    for (int c = 0; c < 5000; ++c) {
        std::string cartella = base + "/d" + std::to_string(c / 100) + "/s" + std::to_string(c);
        std::filesystem::create_directories(cartella);
        for (int f = 0; f < 20; ++f) {
            int fd = ::open((cartella + "/f" + std::to_string(f) + ".php").c_str(),
                            O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            if (fd < 0 || ::write(fd, "contenuto", 1 + f % 9) < 0) std::exit(1);
            ::close(fd);
        }
    }
    const std::string find = "find " + base + " -type f -printf '%s %P\\n' >/dev/null";
    shell(find);  // cache calda per entrambi
    size_t n = 0;
    double t_find = 0, t_noi = 0;
    std::vector<double> vf, vn;
    for (int i = 0; i < 7; ++i) {
        vf.push_back(secondi([&] { shell(find); }));
        vn.push_back(secondi([&] { n = cammina_locale(base, PREDEFINITE).first.size(); }));
    }
    std::sort(vf.begin(), vf.end());
    std::sort(vn.begin(), vn.end());
    t_find = vf[3];
    t_noi = vn[3];
    std::printf(
        "cammina_locale: %zu file in 5000 cartelle: %.1f ms; %s: %.1f ms; "
        "rapporto %.2f (obiettivo <= 1.5)\n",
        n, t_noi * 1e3, "find -printf", t_find * 1e3, t_noi / t_find);
    std::filesystem::remove_all(base);
}

void banco_differenze() {
    MappaDimensioni a, b;
    auto percorsi = percorsi_generati(100000);
    for (size_t i = 0; i < percorsi.size(); ++i) {
        a[percorsi[i]] = i;
        b[percorsi[i]] = i % 100 == 0 ? i + 1 : i;
    }
    size_t n = 0;
    double s = mediana(5, [&] { n = confronta(a, b).size(); });
    std::printf("confronta: mappe di %zu voci, %zu differenze: %.1f ms (obiettivo <= 100)\n",
                a.size(), n, s * 1e3);
}

void banco_hash() {
    const std::string base = cartella_banco();
    shell("head -c 1073741824 /dev/urandom > " + base + "/grande.bin");
    const std::string md5sum = "md5sum " + base + "/grande.bin >/dev/null";
    shell(md5sum);  // cache calda
    std::vector<double> vm, vn;
    for (int i = 0; i < 3; ++i) {
        vm.push_back(secondi([&] { shell(md5sum); }));
        vn.push_back(secondi([&] { hash_locale(base, "grande.bin"); }));
    }
    std::sort(vm.begin(), vm.end());
    std::sort(vn.begin(), vn.end());
    const double mib = 1024.0;
    std::printf(
        "hash_locale: 1 GiB: %.0f MiB/s; md5sum: %.0f MiB/s; rapporto di velocità "
        "%.2f (obiettivo >= 0.9)\n",
        mib / vn[1], mib / vm[1], vm[1] / vn[1]);
    std::filesystem::remove_all(base);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> scelti(argv + 1, argv + argc);
    auto vuoi = [&](const char* nome) {
        return scelti.empty() || std::find(scelti.begin(), scelti.end(), nome) != scelti.end();
    };
    if (vuoi("esclusioni")) banco_esclusioni();
    if (vuoi("differenze")) banco_differenze();
    if (vuoi("cammino")) banco_cammino();
    if (vuoi("hash")) banco_hash();
}
