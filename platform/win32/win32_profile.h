#pragma once

#include "ports/profile.h"

namespace tarnu::win32 {

// The profile functions on kernel32. Texts go through the code page; the buffer handed in is
// filled with UTF-8, which can be longer than the code page's bytes: a value that then does not
// fit is cut like any value too long for the buffer, so that the caller asks again with more.
//
// Two things the Windows functions would do are refused, as the Linux profile functions refuse
// them: a write whose section, key or value holds a line break (it would add lines of its own
// to the file, even a section), and a write or read with an empty file name (Windows would take
// WIN.INI). A text the code page cannot carry is refused too: a read then gives the default,
// a write fails.
class Win32Profile final : public ProfileApi {
  public:
    std::uint32_t GetPrivateProfileStringA(const std::string& section, const std::string& key,
                                           const std::string& defaultValue, char* buffer,
                                           std::uint32_t size,
                                           const std::string& fileName) override;
    int WritePrivateProfileStringA(const std::string& section, const std::string& key,
                                   const std::string& value, const std::string& fileName) override;
};

}  // namespace tarnu::win32
