#include "registry/modul_reg.h"

#include <cstdint>

namespace tarnu::Modul_reg {

namespace {

// Query value, enumerate subkeys, notify: enough to see that a key is there, and granted on
// keys the user may only read.
constexpr reg::DWORD kExistsAccess = 0x19;
// All six rights of a key, without the standard rights that KEY_ALL_ACCESS adds.
constexpr reg::DWORD kWriteAccess = 0x3F;

// Replaces every CR LF by one NUL; false when the text holds none.
bool ConvertLineBreaks(const std::string& text, std::string& list) {
    if (text.find("\r\n") == std::string::npos) {
        return false;
    }
    list.clear();
    list.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            list.push_back('\0');
            ++i;
        } else {
            list.push_back(text[i]);
        }
    }
    return true;
}

}  // namespace

reg::LONG RegKeyExists(reg::RegistryApi& registry, reg::HKEY hive, const std::string& keyPath) {
    reg::HKEY key = 0;
    const reg::LONG status = registry.RegOpenKeyExA(hive, keyPath, 0, kExistsAccess, &key);
    if (status == reg::ErrorSuccess) {
        registry.RegCloseKey(key);
    }
    return status;
}

reg::LONG CreateRegKey(reg::RegistryApi& registry, reg::HKEY hive, const std::string& keyPath) {
    reg::HKEY key = 0;
    reg::DWORD disposition = 0;
    const reg::LONG status =
        registry.RegCreateKeyExA(hive, keyPath, 0, nullptr, reg::RegOptionNonVolatile, kWriteAccess,
                                 nullptr, &key, &disposition);
    if (status != reg::ErrorSuccess) {
        return 0;
    }
    registry.RegFlushKey(key);
    registry.RegCloseKey(key);
    return static_cast<reg::LONG>(disposition);
}

reg::LONG SetRegValue(reg::RegistryApi& registry, reg::HKEY hive, const std::string& keyPath,
                      const std::string& valueName, const Variant& value, VbBoolean lineBreaks,
                      VbBoolean create) {
    if (create == VbTrue && RegKeyExists(registry, hive, keyPath) != reg::ErrorSuccess) {
        // A failed creation shows up as the failed open below.
        CreateRegKey(registry, hive, keyPath);
    }

    std::string list;
    const bool multi =
        lineBreaks != VbFalse && value.vt() == VT_BSTR && ConvertLineBreaks(value.Text(), list);

    reg::HKEY key = 0;
    const reg::LONG status = registry.RegOpenKeyExA(hive, keyPath, 0, kWriteAccess, &key);
    if (status != reg::ErrorSuccess) {
        return status;
    }

    if (value.vt() == VT_I2 || value.vt() == VT_I4) {
        const auto number = static_cast<std::uint32_t>(static_cast<std::int32_t>(value.Integer()));
        const std::uint8_t bytes[4] = {
            static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
            static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
        registry.RegSetValueExA(key, valueName, 0, reg::RegDword, bytes, 4);
    } else if (value.vt() == VT_BSTR) {
        // Readers rely on the terminators: a NUL after the string or the list's last entry
        // (a text that ended in a line break has it already), then an empty entry closing
        // the list.
        std::string data = multi ? list : value.Text();
        if (!multi || data.back() != '\0') {
            data.push_back('\0');
        }
        if (multi) {
            data.push_back('\0');
        }
        registry.RegSetValueExA(key, valueName, 0, multi ? reg::RegMultiSz : reg::RegSz,
                                reinterpret_cast<const std::uint8_t*>(data.data()),
                                static_cast<reg::DWORD>(data.size()));
    }

    return registry.RegCloseKey(key);
}

}  // namespace tarnu::Modul_reg
