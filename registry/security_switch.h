#pragma once

#include <string>
#include <vector>

#include "ports/registry.h"

namespace tarnu {

// One of the switch's writes and the status it returned.
struct RegistryWrite {
    std::string value;  // the value's full name, such as "HKEY_CURRENT_USER\...\Access\Security"
    reg::LONG status = reg::ErrorSuccess;
};

// The click of Sich_aus: switches off the macro security warning of Access 2003 and lets the
// Jet 4.0 engine run without its sandbox restrictions. Writes the Access security level for
// the current user and the machine-wide sandbox mode, creating missing keys. Each write runs
// whatever the others returned, so a user without administrator rights gets the per-user
// settings at least. The click shows nothing; the statuses are handed back for a caller that
// wants to report them.
std::vector<RegistryWrite> SwitchOffAccessSecurityWarning(reg::RegistryApi& registry);

}  // namespace tarnu
