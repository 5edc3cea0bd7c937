#pragma once

#include <map>

#include "ports/registry.h"

namespace tarnu::win32 {

// The registry functions on advapi32. Key names and string data (REG_SZ, REG_EXPAND_SZ,
// REG_MULTI_SZ) go through the code page; a text it cannot carry is refused with
// ERROR_NO_UNICODE_TRANSLATION and nothing is written. Handles are numbered here, so that the
// port's 32-bit handles can stand for the system's, whatever their width.
class Win32Registry : public reg::RegistryApi {
  public:
    Win32Registry() = default;
    ~Win32Registry() override;
    Win32Registry(const Win32Registry&) = delete;
    Win32Registry& operator=(const Win32Registry&) = delete;

    reg::LONG RegOpenKeyExA(reg::HKEY hKey, const std::string& subKey, reg::DWORD options,
                            reg::DWORD samDesired, reg::HKEY* result) override;
    reg::LONG RegCreateKeyExA(reg::HKEY hKey, const std::string& subKey, reg::DWORD reserved,
                              const char* className, reg::DWORD options, reg::DWORD samDesired,
                              const void* securityAttributes, reg::HKEY* result,
                              reg::DWORD* disposition) override;
    reg::LONG RegFlushKey(reg::HKEY hKey) override;
    reg::LONG RegSetValueExA(reg::HKEY hKey, const std::string& valueName, reg::DWORD reserved,
                             reg::DWORD type, const std::uint8_t* data, reg::DWORD cbData) override;
    reg::LONG RegCloseKey(reg::HKEY hKey) override;

    // Keys opened through this object and not closed yet.
    std::size_t OpenHandleCount() const { return open_.size(); }

  private:
    // The system's handle for a port handle; nullptr when it is neither a root key nor open.
    void* Native(reg::HKEY hKey) const;
    reg::HKEY Remember(void* native);

    std::map<reg::HKEY, void*> open_;
    reg::HKEY next_ = 1;
};

}  // namespace tarnu::win32
