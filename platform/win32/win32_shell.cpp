#include "platform/win32/win32_shell.h"

#include <windows.h>

#include <shellapi.h>

#include "platform/win32/text.h"
#include "ports/error.h"

namespace tarnu::win32 {

namespace {

constexpr const char* kCopyErrorTitle = "Fehler beim Kopieren der Datei oder des Ordners";

// A list of items closed by an empty one, in the code page; the list keeps its NULs. A list
// that lacks its closing NULs gets them, so that the shell never reads past its end.
std::string AnsiList(const std::string& list) {
    std::string ansi = AnsiFromUtf8(list);
    while (ansi.size() < 2 || ansi.compare(ansi.size() - 2, 2, std::string(2, '\0')) != 0) {
        ansi.push_back('\0');
    }
    return ansi;
}

}  // namespace

int Win32Shell::SHFileOperationA(SHFILEOPSTRUCTA& request) {
    std::string from;
    std::string to;
    std::string title;
    try {
        from = AnsiList(request.pFrom);
        to = AnsiList(request.pTo);
        if (request.lpszProgressTitle) {
            title = AnsiFromUtf8(request.lpszProgressTitle);
        }
    } catch (const Error& e) {
        boxes_.Show(e.description(), ui::vbCritical, kCopyErrorTitle);
        request.fAnyOperationsAborted = false;
        return ERROR_NO_UNICODE_TRANSLATION;
    }
    ::SHFILEOPSTRUCTA op{};
    op.hwnd = reinterpret_cast<HWND>(request.hwnd);
    op.wFunc = request.wFunc;
    op.pFrom = from.c_str();
    op.pTo = to.c_str();
    op.fFlags = request.fFlags;
    op.fAnyOperationsAborted = FALSE;
    op.hNameMappings = reinterpret_cast<LPVOID>(request.hNameMappings);
    op.lpszProgressTitle = request.lpszProgressTitle ? title.c_str() : nullptr;
    const int status = ::SHFileOperationA(&op);
    request.fAnyOperationsAborted = op.fAnyOperationsAborted != FALSE;
    return status;
}

int UnattendedShell::SHFileOperationA(SHFILEOPSTRUCTA& request) {
    SHFILEOPSTRUCTA silent = request;
    silent.fFlags |= FOF_SILENT | FOF_NOERRORUI;
    const int status = shell_.SHFileOperationA(silent);
    request.fAnyOperationsAborted = silent.fAnyOperationsAborted;
    if (status != 0) {
        char hex[16];
        wsprintfA(hex, "0x%X", static_cast<unsigned>(status));
        err_ << "Kopieren fehlgeschlagen: Status " << status << " (" << hex << ")\n";
    }
    if (request.fAnyOperationsAborted) {
        err_ << "Kopieren abgebrochen.\n";
    }
    return status;
}

void UnattendedShell::Show(const std::string& text, int, const std::string&) {
    err_ << text << '\n';
}

}  // namespace tarnu::win32
