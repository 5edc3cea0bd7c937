// tarnu-reg: shows what the tool stored in its registry.
//   tarnu-reg export HKCU|HKLM [KEY]
// prints the hive, or the key KEY with everything below it, as REGEDIT4 text.

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/posix/file_registry.h"
#include "platform/linux/posix/hive_file.h"
#include "platform/linux/posix/regedit_export.h"

namespace {

using tarnu::posix::FileRegistry;
using tarnu::posix::HiveKey;
namespace reg = tarnu::reg;

constexpr int kUsage = 1;
constexpr int kNoKey = 2;
constexpr int kUnreadable = 3;
constexpr int kUnfit = 4;

int Usage(std::ostream& out, int status) {
    out << "Aufruf: tarnu-reg export HKCU|HKLM [SCHLÜSSEL]\n"
           "  oder: tarnu-reg --help | --version\n"
           "\n"
           "Gibt den Registrierungszweig des Benutzers (HKCU) oder des Rechners (HKLM)\n"
           "oder einen Schlüssel mit seinen Unterschlüsseln im REGEDIT4-Format aus.\n"
           "\n"
           "Rückgabewert: 0 bei Erfolg, 1 bei falschem Aufruf, 2 wenn der Schlüssel fehlt,\n"
           "3 wenn die Registrierungsdatei nicht gelesen werden kann, 4 bei einem Namen, der\n"
           "sich im REGEDIT4-Format nicht ausgeben lässt.\n";
    return status;
}

// A name from the hive as it may be shown on a terminal: control characters, which could move
// the cursor or fake further lines, appear as <CR>, <LF> or their code.
std::string Shown(const std::string& name) {
    std::string out;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "<CR>";
        } else if (c == '\n') {
            out += "<LF>";
        } else if (byte < 0x20 || byte == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "<%02X>", byte);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--help") {
        return Usage(std::cout, 0);
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::cout << "tarnu-reg (TARNU-System-Tool) " TARNU_VERSION "\n";
        return 0;
    }
    if (args.size() < 2 || args.size() > 3 || args[0] != "export") {
        return Usage(std::cerr, kUsage);
    }
    reg::HKEY hive = 0;
    std::string hiveName;
    if (args[1] == "HKCU" || args[1] == "HKEY_CURRENT_USER") {
        hive = reg::HKeyCurrentUser;
        hiveName = "HKEY_CURRENT_USER";
    } else if (args[1] == "HKLM" || args[1] == "HKEY_LOCAL_MACHINE") {
        hive = reg::HKeyLocalMachine;
        hiveName = "HKEY_LOCAL_MACHINE";
    } else {
        return Usage(std::cerr, kUsage);
    }

    const FileRegistry registry = FileRegistry::FromEnvironment();
    HiveKey root;
    const reg::LONG status = registry.LoadHive(hive, root);
    if (status == reg::ErrorRegistryCorrupt) {
        std::cerr << "tarnu-reg: Die Registrierungsdatei " << registry.HiveFile(hive)
                  << " ist beschädigt und wird nicht gelesen.\n";
        return kUnreadable;
    }
    if (status != reg::ErrorSuccess) {
        std::cerr << "tarnu-reg: Die Registrierungsdatei " << registry.HiveFile(hive)
                  << " kann nicht gelesen werden (Fehler " << status << ").\n";
        return kUnreadable;
    }

    std::vector<std::string> names;
    const HiveKey* key = &root;
    std::string path = hiveName;
    if (args.size() == 3) {
        if (tarnu::posix::SplitKeyPath(args[2], names) != reg::ErrorSuccess ||
            !(key = tarnu::posix::FindKey(root, names))) {
            std::cerr << "tarnu-reg: Der Schlüssel " << hiveName << "\\" << args[2]
                      << " ist nicht vorhanden.\n";
            return kNoKey;
        }
        // Sections carry the names as stored, whatever case the user typed.
        const HiveKey* walk = &root;
        for (const std::string& name : names) {
            walk = walk->FindSubkey(name);
            path += "\\" + walk->name;
        }
    }
    // The whole text is made before anything is printed, so a refusal leaves no partial file.
    tarnu::posix::UnfitName unfit;
    const std::optional<std::string> text = tarnu::posix::ExportRegedit4(*key, path, unfit);
    if (!text) {
        std::cerr << "tarnu-reg: Der Schlüssel " << Shown(unfit.key)
                  << " lässt sich nicht im REGEDIT4-Format ausgeben: ";
        if (unfit.value) {
            std::cerr << "Der Name seines Werts " << Shown(*unfit.value);
        } else {
            std::cerr << "Sein Name";
        }
        std::cerr << " enthält einen Zeilenumbruch. Es wurde nichts ausgegeben.\n";
        return kUnfit;
    }
    std::fwrite(text->data(), 1, text->size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : kUnreadable;
}
