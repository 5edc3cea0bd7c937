#include "platform/win32/win32_registry.h"

#include <windows.h>

#include "platform/win32/text.h"

namespace tarnu::win32 {

namespace {

constexpr reg::LONG kUntranslatable = ERROR_NO_UNICODE_TRANSLATION;

bool IsStringType(reg::DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

HKEY AsKey(void* native) {
    return static_cast<HKEY>(native);
}

}  // namespace

Win32Registry::~Win32Registry() {
    for (const auto& [id, native] : open_) {
        ::RegCloseKey(AsKey(native));
    }
}

void* Win32Registry::Native(reg::HKEY hKey) const {
    switch (hKey) {
        case 0x80000000u:
            return HKEY_CLASSES_ROOT;
        case reg::HKeyCurrentUser:
            return HKEY_CURRENT_USER;
        case reg::HKeyLocalMachine:
            return HKEY_LOCAL_MACHINE;
        case 0x80000003u:
            return HKEY_USERS;
        case 0x80000005u:
            return HKEY_CURRENT_CONFIG;
        default:
            break;
    }
    const auto it = open_.find(hKey);
    return it == open_.end() ? nullptr : it->second;
}

reg::HKEY Win32Registry::Remember(void* native) {
    // Numbers below the root keys' range, skipping any still in use after a wrap-around.
    while (next_ == 0 || next_ >= 0x80000000u || open_.count(next_)) {
        next_ = next_ >= 0x80000000u ? 1 : next_ + 1;
    }
    const reg::HKEY id = next_++;
    open_[id] = native;
    return id;
}

reg::LONG Win32Registry::RegOpenKeyExA(reg::HKEY hKey, const std::string& subKey,
                                       reg::DWORD options, reg::DWORD samDesired,
                                       reg::HKEY* result) {
    void* parent = Native(hKey);
    if (!parent) {
        return ERROR_INVALID_HANDLE;
    }
    std::string name;
    if (!TryAnsiFromUtf8(BeforeNul(subKey), name)) {
        return kUntranslatable;
    }
    HKEY key = nullptr;
    const LONG status = ::RegOpenKeyExA(AsKey(parent), name.c_str(), options, samDesired, &key);
    if (status == ERROR_SUCCESS && result) {
        // Windows may hand a root key back as itself; it is then no handle of ours to close.
        *result = (key == AsKey(parent) && hKey >= 0x80000000u) ? hKey : Remember(key);
    }
    return status;
}

reg::LONG Win32Registry::RegCreateKeyExA(reg::HKEY hKey, const std::string& subKey,
                                         reg::DWORD reserved, const char* className,
                                         reg::DWORD options, reg::DWORD samDesired,
                                         const void* securityAttributes, reg::HKEY* result,
                                         reg::DWORD* disposition) {
    void* parent = Native(hKey);
    if (!parent) {
        return ERROR_INVALID_HANDLE;
    }
    std::string name;
    std::string klass;
    if (!TryAnsiFromUtf8(BeforeNul(subKey), name) ||
        (className && !TryAnsiFromUtf8(className, klass))) {
        return kUntranslatable;
    }
    HKEY key = nullptr;
    DWORD created = 0;
    const LONG status = ::RegCreateKeyExA(
        AsKey(parent), name.c_str(), reserved, className ? klass.data() : nullptr, options,
        samDesired, static_cast<LPSECURITY_ATTRIBUTES>(const_cast<void*>(securityAttributes)), &key,
        &created);
    if (status == ERROR_SUCCESS) {
        const reg::HKEY id = Remember(key);
        if (result) {
            *result = id;
        } else {
            RegCloseKey(id);
        }
        if (disposition) {
            *disposition = created;
        }
    }
    return status;
}

reg::LONG Win32Registry::RegFlushKey(reg::HKEY hKey) {
    void* native = Native(hKey);
    return native ? ::RegFlushKey(AsKey(native)) : ERROR_INVALID_HANDLE;
}

reg::LONG Win32Registry::RegSetValueExA(reg::HKEY hKey, const std::string& valueName,
                                        reg::DWORD reserved, reg::DWORD type,
                                        const std::uint8_t* data, reg::DWORD cbData) {
    void* native = Native(hKey);
    if (!native) {
        return ERROR_INVALID_HANDLE;
    }
    std::string name;
    if (!TryAnsiFromUtf8(BeforeNul(valueName), name)) {
        return kUntranslatable;
    }
    if (!data && cbData != 0) {
        return ERROR_NOACCESS;
    }
    std::string bytes(reinterpret_cast<const char*>(data), cbData);
    if (IsStringType(type) && !bytes.empty()) {
        // The whole data, NULs and all, so that a list keeps its entries and terminators.
        std::string ansi;
        if (!TryAnsiFromUtf8(bytes, ansi)) {
            return kUntranslatable;
        }
        bytes = std::move(ansi);
    }
    return ::RegSetValueExA(AsKey(native), name.c_str(), reserved, type,
                            reinterpret_cast<const BYTE*>(bytes.data()),
                            static_cast<DWORD>(bytes.size()));
}

reg::LONG Win32Registry::RegCloseKey(reg::HKEY hKey) {
    const auto it = open_.find(hKey);
    if (it == open_.end()) {
        // Closing a root key does nothing.
        return Native(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    }
    const LONG status = ::RegCloseKey(AsKey(it->second));
    open_.erase(it);
    return status;
}

}  // namespace tarnu::win32
