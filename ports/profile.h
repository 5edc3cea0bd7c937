#pragma once

// The profile (INI file) functions of the settings module, with the semantics of their kernel32
// namesakes: buffers of a given size, a count of characters as result, 0 for a failed write.
// Every text argument is handed over as the C string the ANSI entry points would see, so
// anything after a NUL character is not part of it.

#include <cstdint>
#include <string>

namespace tarnu {

class ProfileApi {
  public:
    virtual ~ProfileApi() = default;
    // Copies the value (or, when the file, section or key is missing, the default) into buffer,
    // at most size-1 characters and a closing NUL, and returns the number of characters copied
    // without the NUL. A value that does not fit is cut, and the result is then size-1: a caller
    // that needs the whole value asks again with a larger buffer while it gets size-1 back. With
    // size 0 nothing is written and the result is 0. Where a run can act for other users (on
    // Linux, as root) a file that someone else could have written is not believed: then
    // nothing of it is read and tarnu::Error 70 is raised with a German message that names the
    // file and the remedy.
    virtual std::uint32_t GetPrivateProfileStringA(const std::string& section,
                                                   const std::string& key,
                                                   const std::string& defaultValue, char* buffer,
                                                   std::uint32_t size,
                                                   const std::string& fileName) = 0;
    // Creates the file, section and key as needed and replaces an existing value; returns
    // non-zero on success, 0 when the file cannot be written.
    virtual int WritePrivateProfileStringA(const std::string& section, const std::string& key,
                                           const std::string& value,
                                           const std::string& fileName) = 0;
};

}  // namespace tarnu
