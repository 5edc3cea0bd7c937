#pragma once

// Registry keys as REGEDIT4 text, the format regedit reads and writes, so that what the tool
// stored can be looked at and carried to a Windows machine.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

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
// every other value as its bytes in hex. The text goes to `out` piece by piece, so that a
// hive of any size is exported without being held twice.
//
// The text is read by people on a terminal and imported on Windows, so it shows no control
// character and nothing else the printable-name function would have to escape (a line break
// would start lines of their own that an import takes as meant; ESC would steer the terminal).
// A string holding one is written in hex, as REG_SZ (hex(1):) or REG_MULTI_SZ (hex(7):) are
// anyway. A key or value name holding one cannot be written: then nothing at all goes to `out`,
// the result is false and `unfit` says which name it was.
bool ExportRegedit4(const Hive& hive, Hive::Key key, const std::string& path, UnfitName& unfit,
                    const std::function<void(std::string_view)>& out);

}  // namespace tarnu::posix
