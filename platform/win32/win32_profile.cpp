#include "platform/win32/win32_profile.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/win32/text.h"

namespace tarnu::win32 {

namespace {

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// Copies text into the caller's buffer as the profile functions do: cut to size-1 bytes and
// closed with a NUL; the count without the NUL.
std::uint32_t Deliver(std::string_view text, char* buffer, std::uint32_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint32_t n =
        static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), size - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n;
}

// How a default comes back for a missing file: trailing blanks removed, then one pair of
// matching quotes.
std::string DefaultForm(std::string_view text) {
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
        text.back() == text.front()) {
        text = text.substr(1, text.size() - 2);
    }
    return std::string(text);
}

}  // namespace

std::uint32_t Win32Profile::GetPrivateProfileStringA(const std::string& section,
                                                     const std::string& key,
                                                     const std::string& defaultValue, char* buffer,
                                                     std::uint32_t size,
                                                     const std::string& fileName) {
    if (size == 0) {
        return 0;
    }
    std::string s, k, d, f;
    if (!TryAnsiFromUtf8(BeforeNul(section), s) || !TryAnsiFromUtf8(BeforeNul(key), k) ||
        !TryAnsiFromUtf8(BeforeNul(defaultValue), d) || !TryAnsiFromUtf8(BeforeNul(fileName), f) ||
        f.empty()) {
        // Nothing Windows could be asked about: read as a missing file would be.
        return Deliver(DefaultForm(BeforeNul(defaultValue)), buffer, size);
    }
    std::vector<char> ansi(static_cast<std::size_t>(size) + 1, '\0');
    const DWORD n =
        ::GetPrivateProfileStringA(s.c_str(), k.c_str(), d.c_str(), ansi.data(), size, f.c_str());
    // Each byte of the code page is at least one byte of UTF-8, so a value Windows had to cut
    // (size-1 bytes) is cut here too, and the caller sees size-1 and asks again with more room.
    return Deliver(Utf8FromAnsi(std::string_view(ansi.data(), std::min<DWORD>(n, size))), buffer,
                   size);
}

int Win32Profile::WritePrivateProfileStringA(const std::string& section, const std::string& key,
                                             const std::string& value,
                                             const std::string& fileName) {
    const std::string_view sectionText = BeforeNul(section);
    const std::string_view keyText = BeforeNul(key);
    const std::string_view valueText = BeforeNul(value);
    if (HasLineBreak(sectionText) || HasLineBreak(keyText) || HasLineBreak(valueText)) {
        return 0;
    }
    std::string s, k, v, f;
    if (!TryAnsiFromUtf8(sectionText, s) || !TryAnsiFromUtf8(keyText, k) ||
        !TryAnsiFromUtf8(valueText, v) || !TryAnsiFromUtf8(BeforeNul(fileName), f) || f.empty()) {
        return 0;
    }
    return ::WritePrivateProfileStringA(s.c_str(), k.c_str(), v.c_str(), f.c_str()) ? 1 : 0;
}

}  // namespace tarnu::win32
