#pragma once

// Registry keys as REGEDIT4 text, the format regedit reads and writes, so that what the tool
// stored can be looked at and carried to a Windows machine.

#include <string>

#include "platform/linux/posix/hive_file.h"

namespace tarnu::posix {

// "REGEDIT4", then one section for `key` and one for each key below it, depth first, each
// followed by an empty line; lines end in CR LF. `path` is the full name of `key`, e.g.
// "HKEY_CURRENT_USER\Software". Strings and DWORDs appear as text where that loses nothing,
// every other value as its bytes in hex.
std::string ExportRegedit4(const HiveKey& key, const std::string& path);

}  // namespace tarnu::posix
