#pragma once

// The profile functions for Linux: INI files read and written by the rules of the Windows
// profile functions, so that a settings file means the same on both platforms and a file edited
// by hand is understood as Windows would understand it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ports/profile.h"

namespace tarnu::posix {

// The text rules on their own, apart from any file.
namespace ini {

// The value of key in the first section called section, as reading gives it: blanks around it
// removed, one pair of matching quotes (" or ') around it removed. Section and key are matched
// without regard to case and to blanks around them; lines before the first section header form
// the section "". Of two equal keys the first wins; keys of a later section with the same name
// are not seen. nullopt when the section or the key is missing.
std::optional<std::string> FindValue(std::string_view content, std::string_view section,
                                     std::string_view key);

// How a default is given back: trailing spaces removed, then one pair of quotes.
std::string DefaultForm(std::string_view defaultValue);

// The content with key in section set to value, every other line kept byte for byte. An
// existing key keeps its place and its line end; a new key goes after the last non-blank line
// of its section; a new section goes at the end of the file. A new line ends as the line before
// it does, after a last line without a line end as the file's first line does, and with CR LF in
// a new file. Section, key and value must be Writable.
std::string SetValue(std::string_view content, std::string_view section, std::string_view key,
                     std::string_view value);

// Whether text can stand in one line of the file: a line break in it would end the line and
// make the rest of the value a line of its own, or even a section header.
bool Writable(std::string_view text);

}  // namespace ini

class IniProfile final : public ProfileApi {
  public:
    std::uint32_t GetPrivateProfileStringA(const std::string& section, const std::string& key,
                                           const std::string& defaultValue, char* buffer,
                                           std::uint32_t size,
                                           const std::string& fileName) override;

    // The file is replaced as a whole (new file beside it, flushed, renamed over it, folder
    // flushed), so it is never seen half written, also not after a crash. Writers of the same
    // file take turns and each one works on what the one before left. Returns 0 when the file
    // or its folder may not be written, the path is not a file, or a name or the value holds a
    // line break.
    int WritePrivateProfileStringA(const std::string& section, const std::string& key,
                                   const std::string& value, const std::string& fileName) override;
};

}  // namespace tarnu::posix
