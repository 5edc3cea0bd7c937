#pragma once

// The registry functions the registry module calls, with the semantics of their advapi32
// namesakes: Win32 statuses as results, handles closed explicitly, data stored byte for byte.
//
// What every implementation guarantees, as the Windows registry does:
// - Key paths are relative to an open key or a predefined root key, their parts separated by
//   "\"; repeated and trailing separators are ignored, a leading one is refused with
//   ErrorBadPathname. Names are compared without regard to case and stored with theirs.
//   Like the ANSI entry points, names end at their first NUL character.
// - Opening with an access mask grants exactly that mask (generic rights mapped to key
//   rights); a handle without KeySetValue cannot set values (ErrorAccessDenied). Asking for a
//   right the user does not have on the key, such as any write right on a machine-wide key
//   for a user without administrator rights, fails with ErrorAccessDenied.
// - RegCreateKeyExA creates every missing key along the path and reports
//   RegCreatedNewKey or RegOpenedExistingKey; `disposition` may be null.
// - RegSetValueExA stores the type and the cbData bytes exactly as passed, replacing a value
//   of the same name whatever its old type; data may be null only when cbData is 0.
// - A predefined root key used with an empty path by RegOpenKeyExA yields that same root key;
//   closing a root key does nothing and succeeds. A handle that is not open yields
//   ErrorInvalidHandle.

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
constexpr LONG ErrorInvalidParameter = 87;
constexpr LONG ErrorDiskFull = 112;
constexpr LONG ErrorBadPathname = 161;
constexpr LONG ErrorNoAccess = 998;  // an invalid buffer was passed
// The hive behind the key cannot be used: its file is not a valid hive and is left as it is.
constexpr LONG ErrorRegistryCorrupt = 1015;
constexpr LONG ErrorRegistryIoFailed = 1016;
// The key of the handle was removed from the hive by someone else after it was opened.
constexpr LONG ErrorKeyDeleted = 1018;
// The change would make the hive larger than a hive may be; nothing was changed.
constexpr LONG ErrorNoSystemResources = 1450;
// Another process kept the hive locked for longer than a writer waits.
constexpr LONG ErrorTimeout = 1460;

constexpr DWORD RegNone = 0;
constexpr DWORD RegSz = 1;
constexpr DWORD RegExpandSz = 2;
constexpr DWORD RegBinary = 3;
constexpr DWORD RegDword = 4;
constexpr DWORD RegMultiSz = 7;
constexpr DWORD RegQword = 11;

constexpr DWORD RegOptionNonVolatile = 0;

constexpr DWORD RegCreatedNewKey = 1;
constexpr DWORD RegOpenedExistingKey = 2;

constexpr DWORD KeyQueryValue = 0x0001;
constexpr DWORD KeySetValue = 0x0002;
constexpr DWORD KeyCreateSubKey = 0x0004;
constexpr DWORD KeyEnumerateSubKeys = 0x0008;
constexpr DWORD KeyNotify = 0x0010;
constexpr DWORD KeyCreateLink = 0x0020;

constexpr DWORD Delete = 0x00010000;
constexpr DWORD ReadControl = 0x00020000;
constexpr DWORD WriteDac = 0x00040000;
constexpr DWORD WriteOwner = 0x00080000;
constexpr DWORD MaximumAllowed = 0x02000000;
constexpr DWORD GenericAll = 0x10000000;
constexpr DWORD GenericExecute = 0x20000000;
constexpr DWORD GenericWrite = 0x40000000;
constexpr DWORD GenericRead = 0x80000000;

constexpr DWORD KeyRead = ReadControl | KeyQueryValue | KeyEnumerateSubKeys | KeyNotify;
constexpr DWORD KeyWrite = ReadControl | KeySetValue | KeyCreateSubKey;
constexpr DWORD KeyAllAccess = 0x000F003F;

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
