// Tabella inglese: chiave = testo italiano esatto.
#include <string_view>
#include <unordered_map>

namespace ormeggio {

const std::unordered_map<std::string_view, std::string_view>& tabella_en() {
    static const std::unordered_map<std::string_view, std::string_view> tabella = {
        {"Esci", "Exit"},
    };
    return tabella;
}

}  // namespace ormeggio
