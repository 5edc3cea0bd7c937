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
#include "ports/printable_name.h"

namespace {

using tarnu::PrintableName;
using tarnu::posix::FileRegistry;
using tarnu::posix::Hive;
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
    reg::HKEY hiveKey = 0;
    std::string hiveName;
    if (args[1] == "HKCU" || args[1] == "HKEY_CURRENT_USER") {
        hiveKey = reg::HKeyCurrentUser;
        hiveName = "HKEY_CURRENT_USER";
    } else if (args[1] == "HKLM" || args[1] == "HKEY_LOCAL_MACHINE") {
        hiveKey = reg::HKeyLocalMachine;
        hiveName = "HKEY_LOCAL_MACHINE";
    } else {
        return Usage(std::cerr, kUsage);
    }

    const FileRegistry registry = FileRegistry::FromEnvironment();
    Hive hive;
    const reg::LONG status = registry.LoadHive(hiveKey, hive);
    const std::string file = PrintableName(registry.HiveFile(hiveKey));
    if (status == reg::ErrorRegistryCorrupt) {
        std::cerr << "tarnu-reg: Die Registrierungsdatei " << file
                  << " ist beschädigt und wird nicht gelesen.\n";
        return kUnreadable;
    }
    if (status != reg::ErrorSuccess) {
        std::cerr << "tarnu-reg: Die Registrierungsdatei " << file
                  << " kann nicht gelesen werden (Fehler " << status << ").\n";
        return kUnreadable;
    }

    Hive::Key key = hive.Root();
    std::string path = hiveName;
    if (args.size() == 3) {
        std::vector<std::string> names;
        std::vector<std::string> stored;
        std::optional<Hive::Key> found;
        if (tarnu::posix::SplitKeyPath(args[2], names) != reg::ErrorSuccess ||
            !(found = hive.Find(names, &stored))) {
            std::cerr << "tarnu-reg: Der Schlüssel " << hiveName << "\\" << PrintableName(args[2])
                      << " ist nicht vorhanden.\n";
            return kNoKey;
        }
        key = *found;
        // Sections carry the names as stored, whatever case the user typed.
        for (const std::string& name : stored) {
            path += "\\" + name;
        }
    }
    // Every name is checked before anything is printed, so a refusal leaves no partial file.
    tarnu::posix::UnfitName unfit;
    bool written = true;
    const bool fit =
        tarnu::posix::ExportRegedit4(hive, key, path, unfit, [&](std::string_view text) {
            written = written && std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
        });
    if (!fit) {
        std::cerr << "tarnu-reg: Der Schlüssel " << PrintableName(unfit.key)
                  << " lässt sich nicht im REGEDIT4-Format ausgeben: ";
        if (unfit.value) {
            std::cerr << "Der Name seines Werts " << PrintableName(*unfit.value);
        } else {
            std::cerr << "Sein Name";
        }
        std::cerr << " enthält einen Zeilenumbruch oder ein anderes Steuerzeichen. Es wurde "
                     "nichts ausgegeben.\n";
        return kUnfit;
    }
    return std::fflush(stdout) == 0 && written ? 0 : kUnreadable;
}
