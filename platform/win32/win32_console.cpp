#include "platform/win32/win32_console.h"

#include "platform/win32/text.h"

#include <windows.h>

namespace tarnu::win32 {

std::string InCodePage(const std::string& utf8, unsigned codePage) {
    const std::wstring wide = WideFromUtf8(utf8);
    if (wide.empty()) {
        return "";
    }
    const int size = static_cast<int>(wide.size());
    const int n =
        ::WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        ::WideCharToMultiByte(codePage, 0, wide.data(), size, bytes.data(), n, nullptr, nullptr);
    }
    return bytes;
}

ConsoleBuffer::~ConsoleBuffer() {
    sync();
}

bool ConsoleBuffer::Connected() const {
    return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE;
}

ConsoleBuffer::int_type ConsoleBuffer::overflow(int_type c) {
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        const char ch = traits_type::to_char_type(c);
        xsputn(&ch, 1);
    }
    return traits_type::not_eof(c);
}

std::streamsize ConsoleBuffer::xsputn(const char* s, std::streamsize n) {
    pending_.append(s, static_cast<std::size_t>(n));
    const std::size_t end = pending_.rfind('\n');
    if (end != std::string::npos) {
        Write(pending_.substr(0, end + 1));
        pending_.erase(0, end + 1);
    }
    return n;
}

int ConsoleBuffer::sync() {
    if (!pending_.empty()) {
        Write(pending_);
        pending_.clear();
    }
    return 0;
}

void ConsoleBuffer::Write(const std::string& utf8) {
    if (!Connected()) {
        return;
    }
    HANDLE handle = static_cast<HANDLE>(handle_);
    DWORD mode = 0;
    if (::GetConsoleMode(handle, &mode)) {
        const std::wstring wide = WideFromUtf8(utf8);
        DWORD written = 0;
        ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    const UINT console = ::GetConsoleOutputCP();
    std::string bytes;
    // Text files on Windows end their lines with "\r\n", as the C runtime's text mode writes them.
    for (const char c : InCodePage(utf8, console != 0 ? console : ::GetACP())) {
        if (c == '\n') {
            bytes += '\r';
        }
        bytes += c;
    }
    DWORD written = 0;
    ::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

ConsoleStream::ConsoleStream(unsigned long which)
    : std::ostream(nullptr), buffer_(::GetStdHandle(which)) {
    rdbuf(&buffer_);
}

ConsoleStream::~ConsoleStream() {
    flush();
}

}  // namespace tarnu::win32
