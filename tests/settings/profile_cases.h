#pragma once

// The behaviour of the profile functions, written once and run against each platform's: the
// INI layer of Linux and the kernel32 functions under Wine. Where the expected results are not
// obvious (quotes, duplicates, odd headers, lone CR, defaults) they are what Wine 8's kernel32
// gave for the same file; the few cases where both platforms deliberately do something else
// than Windows are marked as such.

#include <functional>
#include <string>

#include "ports/profile.h"

namespace tarnu::test {

// How a platform keeps the table's texts (UTF-8) in its files: Linux as they are, Windows in
// its code page unless the file starts with a UTF-8 byte order mark.
struct ProfileFileText {
    std::function<std::string(const std::string&)> toFile;
    std::function<std::string(const std::string&)> fromFile;
    // Wine's functions: they rewrite every line of a file they write to (CR LF, no blank lines,
    // no indentation), so only what reads back is compared there; and the cases marked as
    // Wine's own shortcomings are left out.
    bool wine = false;
};

// Each runs one group of cases and reports every mismatch as a test failure.
void ExpectHandWrittenFilesRead(ProfileApi& profile, const ProfileFileText& text);
void ExpectDefaultsAndBufferSizes(ProfileApi& profile, const ProfileFileText& text);
void ExpectWritesChangeOnlyTheirLine(ProfileApi& profile, const ProfileFileText& text);
void ExpectRefusedWritesChangeNothing(ProfileApi& profile, const ProfileFileText& text);

}  // namespace tarnu::test
