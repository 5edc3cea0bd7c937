#pragma once

// Registry keys as REGEDIT4 text, the format regedit reads and writes, so that what the tool
// stored can be looked at and carried to a Windows machine.

#include <optional>
#include <string>

#include "platform/linux/posix/hive_file.h"

namespace tarnu::posix {

// A name that cannot stand in the text: the full name of the key that has it, and the name of
// the value when it is a value's name.
struct UnfitName {
    std::string key;
    std::optional<std::string> value;
};

// "REGEDIT4", then one section for `key` and one for each key below it, depth first, each
// followed by an empty line; lines end in CR LF. `path` is the full name of `key`, e.g.
// "HKEY_CURRENT_USER\Software". Strings and DWORDs appear as text where that loses nothing,
// every other value as its bytes in hex.
//
// A key or value name with a line break (CR or LF) cannot be written: the rest of the name
// would stand as lines of their own, values or whole sections that an import would take as
// meant. Then the result is nullopt and `unfit` says which name it was. Every other character
// can: regedit reads a section's name up to the last "]" of its line, and value names are
// quoted.
std::optional<std::string> ExportRegedit4(const HiveKey& key, const std::string& path,
                                          UnfitName& unfit);

}  // namespace tarnu::posix
