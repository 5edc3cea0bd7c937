#pragma once

// Text at the border between the program and the "A" entry points of Windows. Inside, text is
// UTF-8; the A functions take and give bytes of the system's ANSI code page. Every conversion
// keeps NUL characters, which serve as terminators and list separators in several requests.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnu::win32 {

// The error raised for a text that cannot go to Windows as it is: the platform's error for a
// bad file name, with a German description that names the text.
constexpr std::int32_t BadNameError = 52;

// The system's ANSI code page, in which the A functions take and give text: 1252 on German
// Windows, 65001 where Windows' "Unicode UTF-8" option is on.
unsigned AnsiCodePage();

// The text in the code page. Refuses (tarnu::Error BadNameError) a text that is not valid
// UTF-8 or holds a character the code page cannot carry: Windows would put "?" or a look-alike
// in its place, and a path with "?" is a wildcard that can name other files than the one meant.
std::string AnsiFromUtf8(std::string_view utf8, unsigned codePage = AnsiCodePage());
// As AnsiFromUtf8, but false instead of an error.
bool TryAnsiFromUtf8(std::string_view utf8, std::string& ansi, unsigned codePage = AnsiCodePage());
// For texts only shown to the user (captions, message boxes): characters the code page cannot
// carry become "?", since refusing to show a message would hide it altogether.
std::string AnsiForDisplay(std::string_view utf8);

// Bytes of the code page, or UTF-16, as UTF-8. Always succeeds.
std::string Utf8FromAnsi(std::string_view ansi, unsigned codePage = AnsiCodePage());
std::string Utf8FromWide(std::wstring_view wide);
// UTF-8 as UTF-16; invalid sequences become U+FFFD.
std::wstring WideFromUtf8(std::string_view utf8);

// The part of a text before its first NUL: what a function that takes a C string sees of it.
std::string_view BeforeNul(std::string_view text);

// Whether a path returned by an A function had a character replaced on the way: "?" can never
// be part of a Windows file name, so the code page could not carry what stood there. The
// prefix "\\?\" of long paths does not count.
bool LostCharacters(std::string_view ansiPath);

}  // namespace tarnu::win32
