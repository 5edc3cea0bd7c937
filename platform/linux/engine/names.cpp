#include "platform/linux/engine/names.h"

namespace tarnu::engine {

bool IsValidName(std::string_view name) {
    if (name.empty() || name.front() == ' ') {
        return false;
    }
    std::size_t characters = 0;
    for (char c : name) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f) {
            return false;
        }
        // Count UTF-8 lead bytes only, so that an umlaut is one character.
        if ((b & 0xc0) != 0x80) {
            ++characters;
        }
    }
    return characters <= 64;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<char>(x + 32);
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<char>(y + 32);
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

}  // namespace tarnu::engine
