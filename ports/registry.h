#pragma once

// The registry functions the registry module calls, with the semantics of their advapi32
// namesakes: Win32 statuses as results, handles closed explicitly, data stored byte for byte.

#include <cstdint>
#include <string>

namespace tarnu::reg {

using HKEY = std::uint32_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;

constexpr HKEY HKeyCurrentUser = 0x80000001u;
constexpr HKEY HKeyLocalMachine = 0x80000002u;

constexpr LONG ErrorSuccess = 0;
constexpr LONG ErrorFileNotFound = 2;
constexpr LONG ErrorAccessDenied = 5;
constexpr LONG ErrorInvalidHandle = 6;

constexpr DWORD RegNone = 0;
constexpr DWORD RegSz = 1;
constexpr DWORD RegDword = 4;
constexpr DWORD RegMultiSz = 7;

constexpr DWORD RegCreatedNewKey = 1;
constexpr DWORD RegOpenedExistingKey = 2;

constexpr DWORD KeyQueryValue = 0x0001;
constexpr DWORD KeySetValue = 0x0002;
constexpr DWORD KeyCreateSubKey = 0x0004;
constexpr DWORD KeyEnumerateSubKeys = 0x0008;
constexpr DWORD KeyNotify = 0x0010;
constexpr DWORD KeyCreateLink = 0x0020;

class RegistryApi {
  public:
    virtual ~RegistryApi() = default;
    virtual LONG RegOpenKeyExA(HKEY hKey, const std::string& subKey, DWORD options,
                               DWORD samDesired, HKEY* result) = 0;
    virtual LONG RegCreateKeyExA(HKEY hKey, const std::string& subKey, DWORD reserved,
                                 const char* className, DWORD options, DWORD samDesired,
                                 const void* securityAttributes, HKEY* result,
                                 DWORD* disposition) = 0;
    virtual LONG RegFlushKey(HKEY hKey) = 0;
    virtual LONG RegSetValueExA(HKEY hKey, const std::string& valueName, DWORD reserved, DWORD type,
                                const std::uint8_t* data, DWORD cbData) = 0;
    virtual LONG RegCloseKey(HKEY hKey) = 0;
};

}  // namespace tarnu::reg
