#include "platform/win32/text.h"

#include <windows.h>

#include "ports/error.h"
#include "ports/printable_name.h"

namespace tarnu::win32 {

namespace {

int Length(std::size_t size) {
    if (size > 0x7FFFFFFF) {
        throw Error(err::OutOfMemory);
    }
    return static_cast<int>(size);
}

// UTF-8 as UTF-16; false for an invalid sequence unless lenient.
bool Widen(std::string_view utf8, std::wstring& wide, bool lenient) {
    wide.clear();
    if (utf8.empty()) {
        return true;
    }
    const DWORD flags = lenient ? 0 : MB_ERR_INVALID_CHARS;
    const int n =
        ::MultiByteToWideChar(CP_UTF8, flags, utf8.data(), Length(utf8.size()), nullptr, 0);
    if (n <= 0) {
        return false;
    }
    wide.resize(static_cast<std::size_t>(n));
    ::MultiByteToWideChar(CP_UTF8, flags, utf8.data(), Length(utf8.size()), wide.data(), n);
    return true;
}

// WC_ERR_INVALID_CHARS, which the headers give only to programs for Vista and later: only a
// UTF-8 code page needs it, and no Windows before 10 has one as its ANSI code page.
constexpr DWORD kErrInvalidChars = 0x80;

// UTF-16 in the code page; false when a character had to be replaced or approximated. Unless
// lenient, a code page is told not to approximate and to report a default character put in. UTF-8
// has bytes for every character and refuses both requests, which would fail every conversion;
// it is told instead to refuse a lone surrogate rather than write U+FFFD for it unnoticed.
bool Narrow(std::wstring_view wide, std::string& ansi, unsigned codePage, bool lenient) {
    ansi.clear();
    if (wide.empty()) {
        return true;
    }
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = lenient ? 0 : utf8 ? kErrInvalidChars : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* used = lenient || utf8 ? nullptr : &usedDefault;
    const int n = ::WideCharToMultiByte(codePage, flags, wide.data(), Length(wide.size()), nullptr,
                                        0, nullptr, used);
    if (n <= 0) {
        return false;
    }
    ansi.resize(static_cast<std::size_t>(n));
    ::WideCharToMultiByte(codePage, flags, wide.data(), Length(wide.size()), ansi.data(), n,
                          nullptr, used);
    return !usedDefault;
}

}  // namespace

unsigned AnsiCodePage() {
    return ::GetACP();
}

bool TryAnsiFromUtf8(std::string_view utf8, std::string& ansi, unsigned codePage) {
    std::wstring wide;
    return Widen(utf8, wide, false) && Narrow(wide, ansi, codePage, false);
}

std::string AnsiFromUtf8(std::string_view utf8, unsigned codePage) {
    std::string ansi;
    if (!TryAnsiFromUtf8(utf8, ansi, codePage)) {
        throw Error(BadNameError, "\"" + PrintableName(BeforeNul(utf8)) +
                                      "\" enthält Zeichen, die Windows in der Codepage dieses "
                                      "Systems nicht darstellen kann; der Name wird nicht "
                                      "verwendet.");
    }
    return ansi;
}

std::string AnsiForDisplay(std::string_view utf8) {
    std::wstring wide;
    Widen(utf8, wide, true);
    std::string ansi;
    Narrow(wide, ansi, CP_ACP, true);
    return ansi;
}

std::string Utf8FromWide(std::wstring_view wide) {
    if (wide.empty()) {
        return "";
    }
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), Length(wide.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), Length(wide.size()), utf8.data(), n, nullptr,
                              nullptr);
    }
    return utf8;
}

std::string Utf8FromAnsi(std::string_view ansi, unsigned codePage) {
    if (ansi.empty()) {
        return "";
    }
    const int n = ::MultiByteToWideChar(codePage, 0, ansi.data(), Length(ansi.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        ::MultiByteToWideChar(codePage, 0, ansi.data(), Length(ansi.size()), wide.data(), n);
    }
    return Utf8FromWide(wide);
}

std::wstring WideFromUtf8(std::string_view utf8) {
    std::wstring wide;
    Widen(utf8, wide, true);
    return wide;
}

std::string_view BeforeNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

bool LostCharacters(std::string_view ansiPath) {
    if (ansiPath.substr(0, 4) == "\\\\?\\") {
        ansiPath.remove_prefix(4);
    }
    return ansiPath.find('?') != std::string_view::npos;
}

}  // namespace tarnu::win32
