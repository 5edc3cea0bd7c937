#include "platform/linux/posix/regedit_export.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "ports/printable_name.h"
#include "ports/registry.h"

namespace tarnu::posix {

namespace {

constexpr std::string_view kNewline = "\r\n";
// regedit wraps long hex lines so that none, with its continuation mark, exceeds this.
constexpr std::size_t kLineWidth = 80;

// Whether text can be shown as it is: nothing in it the printable-name function would escape.
bool Printable(std::string_view text) {
    return PrintableName(text) == text;
}

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

// A string regedit can write in quotes and read back unchanged, and that shows as it is: one
// terminating NUL and, before it, only printable text.
bool IsPlainString(std::string_view data) {
    return !data.empty() && data.back() == '\0' && Printable(data.substr(0, data.size() - 1));
}

void Hex(std::string line, std::string_view data,
         const std::function<void(std::string_view)>& out) {
    char piece[4];
    for (std::size_t i = 0; i < data.size(); ++i) {
        const bool last = i + 1 == data.size();
        std::snprintf(piece, sizeof piece, last ? "%02x" : "%02x,",
                      static_cast<unsigned char>(data[i]));
        const std::string_view p(piece);
        if (line.size() + p.size() + (last ? 0 : 1) > kLineWidth) {
            line += '\\';
            line += kNewline;
            out(line);
            line = "  ";
        }
        line += p;
    }
    line += kNewline;
    out(line);
}

void WriteValue(const HiveValue& value, const std::function<void(std::string_view)>& out) {
    std::string head = value.name.empty() ? "@=" : Quoted(value.name) + "=";
    const std::string_view data = value.data;
    if (value.type == reg::RegSz && IsPlainString(data)) {
        head += Quoted(data.substr(0, data.size() - 1));
        head += kNewline;
        out(head);
    } else if (value.type == reg::RegDword && data.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i) {
            number = (number << 8) | static_cast<unsigned char>(data[i]);
        }
        char text[24];
        std::snprintf(text, sizeof text, "dword:%08x\r\n", static_cast<unsigned>(number));
        out(head + text);
    } else if (value.type == reg::RegBinary) {
        Hex(head + "hex:", data, out);
    } else {
        char type[24];
        std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.type));
        Hex(head + type, data, out);
    }
}

// Calls visit with each key of the export and its full name.
void ForEachSection(const Hive& hive, Hive::Key key, const std::string& path,
                    const std::function<void(Hive::Key, const std::string&)>& visit) {
    std::vector<std::string> names;  // the full name of each key on the way down
    hive.ForEachKey(key, [&](Hive::Key k, std::size_t depth) {
        names.resize(depth + 1);
        names[depth] = depth == 0 ? path : names[depth - 1] + "\\" + std::string(hive.Name(k));
        visit(k, names[depth]);
    });
}

}  // namespace

bool ExportRegedit4(const Hive& hive, Hive::Key key, const std::string& path, UnfitName& unfit,
                    const std::function<void(std::string_view)>& out) {
    bool fit = true;
    ForEachSection(hive, key, path, [&](Hive::Key k, const std::string& name) {
        if (fit && !Printable(name)) {
            fit = false;
            unfit = {name, std::nullopt};
        }
        hive.ForEachValue(k, [&](const HiveValue& value) {
            if (fit && !Printable(value.name)) {
                fit = false;
                unfit = {name, std::string(value.name)};
            }
        });
    });
    if (!fit) {
        return false;
    }
    out("REGEDIT4\r\n\r\n");
    ForEachSection(hive, key, path, [&](Hive::Key k, const std::string& name) {
        out("[" + name + "]\r\n");
        hive.ForEachValue(k, [&](const HiveValue& value) { WriteValue(value, out); });
        out(kNewline);
    });
    return true;
}

}  // namespace tarnu::posix
