#pragma once

#include "ports/registry.h"

namespace tarnu {

// The click of Sich_aus: switches off the macro security warning of Access 2003 and lets the
// Jet 4.0 engine run without its sandbox restrictions. Writes the Access security level for
// the current user and the machine-wide sandbox mode, creating missing keys. Each write runs
// whatever the others returned; nothing is reported, so a user without administrator rights
// gets the per-user settings only.
void SwitchOffAccessSecurityWarning(reg::RegistryApi& registry);

}  // namespace tarnu
