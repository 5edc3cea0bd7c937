#pragma once

#include <string>

#include "ports/files.h"
#include "ports/ui.h"

namespace tarnu::win32 {

// The platform's error number for a failed file operation's Win32 error code.
int FileErrorNumber(unsigned long win32Error);

// The application object of the running executable, from GetModuleFileNameA. Raises
// BadNameError when the executable's path holds characters the code page cannot carry: every
// path the program builds on it would be wrong.
ui::AppObject AppObjectOfThisProgram();

// File services on kernel32. Every path goes to Windows through its ANSI entry points and is
// refused (BadNameError) when the code page cannot carry it or it holds a wildcard, which would
// let the query or the delete reach other files than the one named.
class Win32FileServices : public FileServices {
  public:
    std::string Dir(const std::string& path) override;
    void Kill(const std::string& path) override;
    void Name(const std::string& oldPath, const std::string& newPath) override;
    LocalDateTime Now() override;
    std::string CurDir() override;
    void ChDir(const std::string& folder) override;
    std::int64_t FileLen(const std::string& path) override;
    // Windows gets written data to the disk on its own; FlushFileBuffers at the end suffices.
    std::unique_ptr<BackgroundWork> WriteBehind(const std::string& path) override;
    void SyncFile(const std::string& path) override;
    // ReplaceFileA, which keeps the replaced file's security descriptor, attributes and
    // creation time, then a flush of the file; where the file system cannot replace, a
    // MoveFileExA with replace-existing and write-through. The old file is kept under
    // ReplaceBackupName(to) until the new one has its name, then removed; an existing file of
    // that name is refused (58), a file someone holds open gives 70.
    void ReplaceFile(const std::string& from, const std::string& to) override;
    // Windows programs reach files by their names; nothing is rewritten.
    std::string RewriteTarget(const std::string& path) override;
    // Names the code page cannot carry are left out: they could not be used by name anyway.
    std::vector<std::string> ListFiles(const std::string& folder) override;
    // DeleteFileA, which refuses a file that Jet or anyone else holds open.
    bool RemoveUnused(const std::string& path) override;
    // A trivial lock: Jet keeps a file it compacts from every other process on its own.
    std::unique_ptr<FolderLock> LockFolder(const std::string& folder) override;
};

// The step ReplaceFile falls back on: moves `from` over `to` and returns when the move is on
// the disk. Raises the file error when it cannot.
void MoveIntoPlace(const std::string& from, const std::string& to);

}  // namespace tarnu::win32
