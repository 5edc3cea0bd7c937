#pragma once

// The hold an open database keeps on its file, standing in for Jet's lock file: every open
// database keeps a shared lock, a compaction or an exclusive open needs the only lock. The locks
// are the operating system's, so they vanish with a process that dies, and they leave no file
// behind.

#include <sys/stat.h>

#include <string>

namespace tarnu::engine {

class FileHold {
  public:
    enum class Mode { Shared, Exclusive };

    // Opens the file at an absolute path and takes the lock without waiting. Raises the
    // engine's error for a missing or unreadable file and its "in use" error when another
    // holder's lock is in the way.
    FileHold(const std::string& path, Mode mode);
    ~FileHold();
    FileHold(const FileHold&) = delete;
    FileHold& operator=(const FileHold&) = delete;

    // Checks that the file starts like a database of this engine; raises the engine's error
    // for an unrecognised format otherwise. Reads only.
    void CheckFormat() const;

  private:
    int fd_ = -1;
    struct stat stat_ {};
    std::string path_;
};

// name made absolute against the current directory; raises the engine's error for a name that
// cannot be a path (empty, or holding a NUL character).
std::string AbsolutePath(const std::string& name);

// The engine's error for a failed open() of path with that errno.
[[noreturn]] void RaiseOpenError(const std::string& path, int error);

}  // namespace tarnu::engine
