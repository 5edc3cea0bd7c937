#pragma once

// The profile functions for Linux: INI files read and written by the rules of the Windows
// profile functions, so that a settings file means the same on both platforms and a file edited
// by hand is understood as Windows would understand it.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/posix/file_lock.h"
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

// The German message for a settings file that a root run does not believe (see below), naming
// the file and how to make it believable.
std::string UntrustedSettingsText(const std::string& path);

class IniProfile final : public ProfileApi {
  public:
    // A writer that cannot get the lock of the settings file within lockWait gives up (0).
    explicit IniProfile(std::chrono::milliseconds lockWait = kLockWait) : lockWait_(lockWait) {}

    // The path is walked under the link rule of the safe path walk, and only a regular file of
    // at most 1 MiB is opened and read; anything else (a refused link, a FIFO, a device, a
    // folder, a larger file) reads as a missing file, at once and without being opened.
    // Run as root, the file read must belong to root and must not be writable by its group or
    // others, as OpenSSH's strict modes ask of its files: it decides where a root run copies,
    // and in a program folder that others may write anybody could have put it there. Otherwise
    // nothing of it is used: the read raises tarnu::Error 70 with UntrustedSettingsText.
    std::uint32_t GetPrivateProfileStringA(const std::string& section, const std::string& key,
                                           const std::string& defaultValue, char* buffer,
                                           std::uint32_t size,
                                           const std::string& fileName) override;

    // The file is replaced as a whole (new file beside it, flushed, renamed over it, folder
    // flushed), so it is never seen half written, also not after a crash; a new file appears
    // complete or not at all. Writers of the same file take turns and each one works on what
    // the one before left. The path is walked under the link rule: a symbolic link is followed
    // only when it belongs to root, to the user the tool runs as or to the owner of its folder.
    // Returns 0 when the file or its folder may not be written, the path is not a regular
    // file, a link is refused, another process holds the file for longer than lockWait, the
    // file is or would grow larger than 1 MiB, or a name or the value holds a line break.
    int WritePrivateProfileStringA(const std::string& section, const std::string& key,
                                   const std::string& value, const std::string& fileName) override;

  private:
    std::chrono::milliseconds lockWait_;
};

}  // namespace tarnu::posix
