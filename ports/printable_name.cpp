#include "ports/printable_name.h"

#include <algorithm>

namespace tarnu {

namespace {

char32_t CodePoint(std::string_view s, std::size_t i, std::size_t length) {
    const auto c = static_cast<unsigned char>(s[i]);
    char32_t cp = length == 1   ? c
                  : length == 2 ? (c & 0x1F)
                  : length == 3 ? (c & 0x0F)
                                : (c & 0x07);
    for (std::size_t k = 1; k < length; ++k) {
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    return cp;
}

bool Hidden(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 ||
           (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

}  // namespace

std::size_t Utf8Length(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t length = 0;
    if (c < 0x80) {
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
    } else {
        return 0;
    }
    if (i + length > s.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    const char32_t cp = CodePoint(s, i, length);
    const bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
    if (overlong || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
        return 0;
    }
    return length;
}

std::string PrintableName(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t length = Utf8Length(name, i);
        if (length > 0 && !Hidden(CodePoint(name, i, length))) {
            out.append(name.substr(i, length));
            i += length;
            continue;
        }
        for (std::size_t k = 0; k < std::max<std::size_t>(1, length); ++k) {
            const auto b = static_cast<unsigned char>(name[i + k]);
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
        i += std::max<std::size_t>(1, length);
    }
    return out;
}

}  // namespace tarnu
