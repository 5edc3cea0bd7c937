#include "platform/win32/text.h"

#include <windows.h>

#include "ports/error.h"

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

// UTF-16 in the ANSI code page; false when a character had to be replaced or approximated.
bool Narrow(std::wstring_view wide, std::string& ansi, bool lenient) {
    ansi.clear();
    if (wide.empty()) {
        return true;
    }
    const DWORD flags = lenient ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* used = lenient ? nullptr : &usedDefault;
    const int n = ::WideCharToMultiByte(CP_ACP, flags, wide.data(), Length(wide.size()), nullptr, 0,
                                        nullptr, used);
    if (n <= 0) {
        return false;
    }
    ansi.resize(static_cast<std::size_t>(n));
    ::WideCharToMultiByte(CP_ACP, flags, wide.data(), Length(wide.size()), ansi.data(), n, nullptr,
                          used);
    return !usedDefault;
}

}  // namespace

bool TryAnsiFromUtf8(std::string_view utf8, std::string& ansi) {
    std::wstring wide;
    return Widen(utf8, wide, false) && Narrow(wide, ansi, false);
}

std::string AnsiFromUtf8(std::string_view utf8) {
    std::string ansi;
    if (!TryAnsiFromUtf8(utf8, ansi)) {
        throw Error(BadNameError, "\"" + std::string(BeforeNul(utf8)) +
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
    Narrow(wide, ansi, true);
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

std::string Utf8FromAnsi(std::string_view ansi) {
    if (ansi.empty()) {
        return "";
    }
    const int n = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), Length(ansi.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), Length(ansi.size()), wide.data(), n);
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
