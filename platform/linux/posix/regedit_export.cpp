#include "platform/linux/posix/regedit_export.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "ports/registry.h"

namespace tarnu::posix {

namespace {

constexpr std::string_view kNewline = "\r\n";
// regedit wraps long hex lines so that none, with its continuation mark, exceeds this.
constexpr std::size_t kLineWidth = 80;

std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

// A string regedit can write in quotes and read back unchanged: one terminating NUL, no other,
// and no line break that would end the line.
bool IsPlainString(std::string_view data) {
    if (data.empty() || data.back() != '\0') {
        return false;
    }
    data.remove_suffix(1);
    return data.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

std::string Hex(std::string_view prefix, std::string_view data) {
    std::string out;
    std::string line(prefix);
    char piece[4];
    for (std::size_t i = 0; i < data.size(); ++i) {
        const bool last = i + 1 == data.size();
        std::snprintf(piece, sizeof piece, last ? "%02x" : "%02x,",
                      static_cast<unsigned char>(data[i]));
        const std::string_view p(piece);
        if (line.size() + p.size() + (last ? 0 : 1) > kLineWidth) {
            out += line;
            out += '\\';
            out += kNewline;
            line = "  ";
        }
        line += p;
    }
    return out + line;
}

void AppendValue(std::string& out, const HiveValue& value) {
    std::string head = value.name.empty() ? "@=" : Quoted(value.name) + "=";
    const std::string_view data = value.data;
    if (value.type == reg::RegSz && IsPlainString(data)) {
        out += head + Quoted(data.substr(0, data.size() - 1));
    } else if (value.type == reg::RegDword && data.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i) {
            number = (number << 8) | static_cast<unsigned char>(data[i]);
        }
        char text[16];
        std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(number));
        out += head + text;
    } else if (value.type == reg::RegBinary) {
        out += Hex(head + "hex:", data);
    } else {
        char type[24];
        std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.type));
        out += Hex(head + type, data);
    }
    out += kNewline;
}

bool HasLineBreak(std::string_view name) {
    return name.find_first_of("\r\n") != std::string_view::npos;
}

bool AppendKey(std::string& out, const HiveKey& key, const std::string& path, UnfitName& unfit) {
    if (HasLineBreak(path)) {
        unfit = {path, std::nullopt};
        return false;
    }
    out += "[" + path + "]";
    out += kNewline;
    for (const HiveValue& value : key.values) {
        if (HasLineBreak(value.name)) {
            unfit = {path, value.name};
            return false;
        }
        AppendValue(out, value);
    }
    out += kNewline;
    for (const HiveKey& sub : key.subkeys) {
        if (!AppendKey(out, sub, path + "\\" + sub.name, unfit)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<std::string> ExportRegedit4(const HiveKey& key, const std::string& path,
                                          UnfitName& unfit) {
    std::string out = "REGEDIT4";
    out += kNewline;
    out += kNewline;
    if (!AppendKey(out, key, path, unfit)) {
        return std::nullopt;
    }
    return out;
}

}  // namespace tarnu::posix
