#include "app/command_line.h"

#include <array>
#include <utility>

namespace tarnu::app {

namespace {

constexpr std::array<std::pair<const char*, Action>, 5> kOptions = {{
    {"--compact", Action::Compact},
    {"--disable-security-warning", Action::DisableSecurityWarning},
    {"--update", Action::Update},
    {"--help", Action::Help},
    {"--version", Action::Version},
}};

Action OptionAction(const std::string& argument) {
    for (const auto& [name, action] : kOptions) {
        if (argument == name) {
            return action;
        }
    }
    return Action::Windows;
}

}  // namespace

Action ParseCommandLine(const std::vector<std::string>& args,
                        const PlatformOptionArity& platformOption) {
    Action action = Action::Windows;
    bool platformOptions = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const Action asked = OptionAction(args[i]);
        if (asked != Action::Windows) {
            if (action != Action::Windows && action != asked) {
                return Action::UsageError;
            }
            action = asked;
            continue;
        }
        const int values = platformOption ? platformOption(args[i]) : -1;
        if (values < 0 || args.size() - i - 1 < static_cast<std::size_t>(values)) {
            return Action::UsageError;
        }
        platformOptions = true;
        i += static_cast<std::size_t>(values);
    }
    if (platformOptions && action != Action::Windows) {
        return Action::UsageError;
    }
    return action;
}

std::string UsageText(const std::string& programName, bool windowed,
                      const std::string& programFolder) {
    std::string usage = "Aufruf: " + programName;
    usage += windowed
                 ? " [--compact | --update | --disable-security-warning | --help | --version]\n"
                   "\n"
                   "Ohne Aktion öffnet sich das Hauptfenster. Mit einer Aktion läuft sie ohne "
                   "Fenster:\n"
                 : " --compact | --update | --disable-security-warning | --help | --version\n"
                   "\n"
                   "Die Aktion läuft ohne Fenster:\n";
    usage +=
        "  --compact                   Programmdateien komprimieren\n"
        "  --update                    Programmdateien vom gespeicherten Quell- ins\n"
        "                              Zielverzeichnis kopieren (Workstationupdate)\n"
        "  --disable-security-warning  Sicherheitswarnung bei Access 2003 ausschalten\n"
        "  --help                      diese Hilfe zeigen\n"
        "  --version                   die Version zeigen\n"
        "\n";
    usage += programFolder.empty()
                 ? "Programmordner: $TARNU_PROGRAM_FOLDER, sonst der Ordner des Programms.\n"
                 : programFolder;
    usage += "Rückgabewert: 0 bei Erfolg, 1 bei einem Fehler, 2 bei falschem Aufruf.\n";
    return usage;
}

}  // namespace tarnu::app
