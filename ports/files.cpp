#include "ports/files.h"

#include "ports/printable_name.h"

namespace tarnu {

std::string FolderBusyText(const std::string& folder) {
    return "Im Ordner „" + PrintableName(folder) +
           "“ läuft bereits ein Lauf des TARNU-System-Tools (Komprimieren oder "
           "Workstationupdate). Bitte warten, bis er beendet ist, und es dann erneut versuchen.";
}

std::string ReplaceBackupName(const std::string& path) {
    return path + ".Sicherung";
}

}  // namespace tarnu
