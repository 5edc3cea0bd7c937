#pragma once

// Modul_reg: a small, stateless module that tests, creates and writes registry keys. It only
// writes; it reads no values and deletes nothing. Results are Win32 statuses passed through
// unchanged; nothing raises and nothing shows a message. Every handle opened by a call is
// closed before that call returns.

#include <string>

#include "ports/registry.h"
#include "registry/variant.h"

namespace tarnu::Modul_reg {

// 0 when the key can be opened for querying (it is there), else the status of the failed open,
// ErrorFileNotFound for a missing key.
reg::LONG RegKeyExists(reg::RegistryApi& registry, reg::HKEY hive, const std::string& keyPath);

// Creates the key with all its missing parents: RegCreatedNewKey (1) when it was created,
// RegOpenedExistingKey (2) when it was there, 0 when the creation failed.
reg::LONG CreateRegKey(reg::RegistryApi& registry, reg::HKEY hive, const std::string& keyPath);

// Writes one value, its registry type chosen by the value's type code: VT_I2 and VT_I4 as
// REG_DWORD, VT_BSTR as REG_SZ with its terminating NUL, every other type not at all.
// With `create` exactly VbTrue a missing key is created first. With `lineBreaks` set (non-zero)
// a text holding CR LF is stored as a REG_MULTI_SZ list, one entry per line, closed by an empty
// entry. Returns the status of the failed open, or else the status of closing the key, also
// when the write itself failed or nothing was written.
reg::LONG SetRegValue(reg::RegistryApi& registry, reg::HKEY hive, const std::string& keyPath,
                      const std::string& valueName, const Variant& value, VbBoolean lineBreaks,
                      VbBoolean create);

}  // namespace tarnu::Modul_reg
