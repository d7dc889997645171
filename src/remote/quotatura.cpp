#include "remote/quotatura.h"

namespace ormeggio {

namespace {

bool innocuo(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '_':
        case '%':
        case '+':
        case '=':
        case ':':
        case ',':
        case '.':
        case '/':
        case '-':
        case '@':
            return true;
        default:
            return false;
    }
}

}  // namespace

std::string q(std::string_view parola) {
    if (parola.empty()) return "''";
    bool tutto_innocuo = true;
    for (unsigned char c : parola) {
        if (!innocuo(c)) {
            tutto_innocuo = false;
            break;
        }
    }
    if (tutto_innocuo) return std::string(parola);
    std::string out;
    out.reserve(parola.size() + 8);
    out += '\'';
    for (char c : parola) {
        if (c == '\'')
            out += "'\"'\"'";
        else
            out += c;
    }
    out += '\'';
    return out;
}

std::string in_shell(std::string_view comando_composto) {
    return "sh -c " + q(comando_composto);
}

}  // namespace ormeggio
