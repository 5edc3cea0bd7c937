#include "platform/win32/win32_files.h"

#include "app/application.h"
#include "platform/win32/text.h"
#include "ports/error.h"
#include "ports/printable_name.h"

#include <windows.h>
// The member of the file services of that name, not kernel32's macro for ReplaceFileA.
#undef ReplaceFile

namespace tarnu {

char PathSeparator() {
    return '\\';
}

std::string DefaultTargetFolder() {
    return "C:\\Programme\\Tarnu";
}

}  // namespace tarnu

namespace tarnu::win32 {

namespace {

[[noreturn]] void RaiseFileError(DWORD code) {
    throw Error(FileErrorNumber(code));
}

// The path as the A functions take it; refused when it would not name exactly one file.
std::string FilePath(const std::string& path) {
    std::string ansi = AnsiFromUtf8(BeforeNul(path));
    if (ansi.find_first_of("*?") != std::string::npos) {
        throw Error(BadNameError, "\"" + path +
                                      "\" enthält Platzhalterzeichen und bezeichnet "
                                      "keine einzelne Datei.");
    }
    return ansi;
}

bool Exists(const std::string& ansiPath) {
    return ::GetFileAttributesA(ansiPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RefuseReadOnly(const std::string& ansiPath) {
    const DWORD attributes = ::GetFileAttributesA(ansiPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        RaiseFileError(::GetLastError());
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        throw Error(err::PathFileAccessError);
    }
}

void Flush(const std::string& ansiPath) {
    // FlushFileBuffers needs a handle with write access; sharing keeps other readers working.
    HANDLE file = ::CreateFileA(ansiPath.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        RaiseFileError(::GetLastError());
    }
    const BOOL ok = ::FlushFileBuffers(file);
    const DWORD code = ::GetLastError();
    ::CloseHandle(file);
    if (!ok) {
        RaiseFileError(code);
    }
}

class NoBackgroundWork : public BackgroundWork {};

}  // namespace

int FileErrorNumber(unsigned long code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
            return err::FileNotFound;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
            return err::PathNotFound;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return err::FileAlreadyExists;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return err::PermissionDenied;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return err::DiskFull;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return err::OutOfMemory;
        case ERROR_CRC:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
        case ERROR_GEN_FAILURE:
            return err::DeviceIoError;
        default:
            // Access denied among them: a read-only file or one the user may not change.
            return err::PathFileAccessError;
    }
}

ui::AppObject AppObjectOfThisProgram() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            RaiseFileError(::GetLastError());
        }
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    if (LostCharacters(path)) {
        throw Error(BadNameError,
                    "Der Ordner des Programms enthält Zeichen, die Windows in der Codepage dieses "
                    "Systems nicht darstellen kann: \"" +
                        Utf8FromAnsi(path) +
                        "\". Bitte legen Sie das Programm in einen Ordner mit einem anderen "
                        "Namen.");
    }
    return app::MakeAppObject(Utf8FromAnsi(path), '\\');
}

std::string Win32FileServices::Dir(const std::string& path) {
    const std::string ansi = FilePath(path);
    WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA(ansi.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return "";
    }
    ::FindClose(search);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        return "";
    }
    return Utf8FromAnsi(found.cFileName);
}

void Win32FileServices::Kill(const std::string& path) {
    const std::string ansi = FilePath(path);
    if (!::DeleteFileA(ansi.c_str())) {
        RaiseFileError(::GetLastError());
    }
}

void Win32FileServices::Name(const std::string& oldPath, const std::string& newPath) {
    const std::string from = FilePath(oldPath);
    const std::string to = FilePath(newPath);
    // MoveFileA never replaces an existing file.
    if (!::MoveFileA(from.c_str(), to.c_str())) {
        RaiseFileError(::GetLastError());
    }
}

LocalDateTime Win32FileServices::Now() {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

std::string Win32FileServices::CurDir() {
    std::string dir(MAX_PATH, '\0');
    DWORD n = ::GetCurrentDirectoryA(static_cast<DWORD>(dir.size()), dir.data());
    if (n >= dir.size()) {
        dir.assign(n, '\0');
        n = ::GetCurrentDirectoryA(static_cast<DWORD>(dir.size()), dir.data());
    }
    if (n == 0 || n >= dir.size()) {
        RaiseFileError(::GetLastError());
    }
    dir.resize(n);
    if (LostCharacters(dir)) {
        throw Error(BadNameError, "Das aktuelle Verzeichnis \"" + Utf8FromAnsi(dir) +
                                      "\" enthält Zeichen, die Windows in der Codepage dieses "
                                      "Systems nicht darstellen kann.");
    }
    return Utf8FromAnsi(dir);
}

void Win32FileServices::ChDir(const std::string& folder) {
    const std::string ansi = FilePath(folder);
    if (!::SetCurrentDirectoryA(ansi.c_str())) {
        const DWORD code = ::GetLastError();
        // A folder that is missing, or a file where the folder should be, is a path not found.
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_DIRECTORY) {
            throw Error(err::PathNotFound);
        }
        RaiseFileError(code);
    }
}

std::int64_t Win32FileServices::FileLen(const std::string& path) {
    const std::string ansi = FilePath(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(ansi.c_str(), GetFileExInfoStandard, &data)) {
        RaiseFileError(::GetLastError());
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        throw Error(err::FileNotFound);
    }
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::unique_ptr<BackgroundWork> Win32FileServices::WriteBehind(const std::string&) {
    return std::make_unique<NoBackgroundWork>();
}

void Win32FileServices::SyncFile(const std::string& path) {
    Flush(FilePath(path));
}

void Win32FileServices::ReplaceFile(const std::string& from, const std::string& to) {
    const std::string replacement = FilePath(from);
    const std::string replaced = FilePath(to);
    const std::string backup = FilePath(ReplaceBackupName(to));
    RefuseReadOnly(replaced);
    // A backup left by a replace that failed half-way may be all there is of a database, and
    // the replace would overwrite it unasked.
    if (Exists(backup)) {
        throw Error(err::FileAlreadyExists,
                    "Neben „" + PrintableName(to) + "“ liegt noch „" +
                        PrintableName(ReplaceBackupName(to)) +
                        "“ von einem früheren, nicht beendeten Ersetzen; sie kann die einzige "
                        "vollständige Fassung der Datenbank sein. Bitte prüfen, beiseitelegen und "
                        "dann erneut versuchen.");
    }
    // With a backup name the replaced file is never just gone: it keeps its name, or lies under
    // the backup name when the replace stopped half-way.
    if (::ReplaceFileA(replaced.c_str(), replacement.c_str(), backup.c_str(),
                       REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        ::DeleteFileA(backup.c_str());
        Flush(replaced);
        return;
    }
    const DWORD code = ::GetLastError();
    if (!Exists(replaced)) {
        // ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: the old file lies under the backup name and must
        // get its own back; the copy keeps its name. Whatever the code, a name left empty with
        // no backup means the old file is gone, and the copy takes its place after all.
        if (!Exists(backup)) {
            MoveIntoPlace(from, to);
            return;
        }
        if (!::MoveFileA(backup.c_str(), replaced.c_str())) {
            throw Error(err::PathFileAccessError,
                        "„" + PrintableName(to) +
                            "“ konnte nicht ersetzt werden, und die bisherige Datei ließ sich "
                            "nicht zurückbenennen: sie liegt jetzt unter „" +
                            PrintableName(ReplaceBackupName(to)) +
                            "“. Bitte benennen Sie sie von Hand um.");
        }
    }
    switch (code) {
        case ERROR_UNABLE_TO_REMOVE_REPLACED:
        case ERROR_SHARING_VIOLATION:
            // Someone has the file open, as Access holds a database: what a locked file gives.
            throw Error(err::PermissionDenied);
        case ERROR_INVALID_FUNCTION:
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_PARAMETER:
        case ERROR_CALL_NOT_IMPLEMENTED:
            // A file system that cannot replace (FAT, some network shares).
            MoveIntoPlace(from, to);
            return;
        default:
            RaiseFileError(code);
    }
}

std::string Win32FileServices::RewriteTarget(const std::string& path) {
    return path;
}

std::vector<std::string> Win32FileServices::ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::string pattern;
    if (folder.empty() || !TryAnsiFromUtf8(BeforeNul(folder), pattern) ||
        pattern.find_first_of("*?") != std::string::npos) {
        return names;
    }
    if (pattern.back() != '\\' && pattern.back() != '/' && pattern.back() != ':') {
        pattern += '\\';
    }
    pattern += '*';
    WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        if (!(found.dwFileAttributes & notPlain) && !LostCharacters(found.cFileName)) {
            names.push_back(Utf8FromAnsi(found.cFileName));
        }
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return names;
}

bool Win32FileServices::RemoveUnused(const std::string& path) {
    std::string ansi;
    if (!TryAnsiFromUtf8(BeforeNul(path), ansi) || ansi.find_first_of("*?") != std::string::npos) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesA(ansi.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        return false;
    }
    return ::DeleteFileA(ansi.c_str()) != FALSE;
}

std::unique_ptr<FolderLock> Win32FileServices::LockFolder(const std::string&) {
    return std::make_unique<FolderLock>();
}

void MoveIntoPlace(const std::string& from, const std::string& to) {
    const std::string source = FilePath(from);
    const std::string target = FilePath(to);
    if (!::MoveFileExA(source.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        RaiseFileError(::GetLastError());
    }
}

}  // namespace tarnu::win32
