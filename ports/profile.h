#pragma once

// The profile (INI file) functions of the settings module, with the semantics of their kernel32
// namesakes: buffers of a given size, a count of characters as result, 0 for a failed write.

#include <cstdint>
#include <string>

namespace tarnu {

class ProfileApi {
  public:
    virtual ~ProfileApi() = default;
    // Copies the value (or the default) into buffer, at most size-1 characters and a closing
    // NUL, and returns the number of characters copied without the NUL.
    virtual std::uint32_t GetPrivateProfileStringA(const std::string& section,
                                                   const std::string& key,
                                                   const std::string& defaultValue, char* buffer,
                                                   std::uint32_t size,
                                                   const std::string& fileName) = 0;
    // Creates the file, section and key as needed; returns non-zero on success, 0 on failure.
    virtual int WritePrivateProfileStringA(const std::string& section, const std::string& key,
                                           const std::string& value,
                                           const std::string& fileName) = 0;
};

}  // namespace tarnu
