#pragma once

// The hold an open database keeps on its file, standing in for Jet's lock file: every open
// database keeps a shared flock() on the database file itself, and a compaction or an exclusive
// open needs the only, exclusive one. Any process can so tell a file in use with
// flock(LOCK_EX | LOCK_NB). The locks are the operating system's: they vanish with a process that
// dies and leave no file behind.

#include <sys/stat.h>

#include <memory>
#include <string>

#include "platform/linux/posix/safe_open.h"
#include "ports/dbengine.h"

namespace tarnu::engine {

struct ReservedFile;

class FileHold {
  public:
    enum class Mode { Shared, Exclusive };
    // ReadWrite falls back to reading for a file the process may not write.
    enum class Access { ReadOnly, ReadWrite };

    // Opens the file at an absolute path without waiting (a FIFO or a device is no database
    // file) and takes the lock without waiting. Raises the engine's error for a missing or
    // unreadable file and its "in use" error when another holder's lock is in the way. An
    // exclusive hold of a file this process has reserved stands on the reservation instead.
    FileHold(const std::string& path, Mode mode, Access access);
    // Holds a file that the engine has just created at path.
    FileHold(const std::string& path, posix::UniqueFd created, Mode mode);
    ~FileHold();
    FileHold(const FileHold&) = delete;
    FileHold& operator=(const FileHold&) = delete;

    // Checks that the file starts like a database of this engine; raises the engine's error
    // for an unrecognised format otherwise. Reads only.
    void CheckFormat() const;

    int fd() const { return fd_.get(); }
    // The path with every link resolved: where the file really lies, and so its journal.
    const std::string& fileName() const { return fileName_; }
    const struct stat& status() const { return stat_; }
    // The reservation the hold stands on, or null.
    ReservedFile* reservation() const { return reservation_.get(); }

  private:
    // Locks the open file; false when its name has meanwhile come to name another file.
    bool Take(Mode mode);
    void Let();

    posix::UniqueFd fd_;
    struct stat stat_ {};
    std::string path_;
    std::string fileName_;
    std::shared_ptr<ReservedFile> reservation_;
};

// A database file kept for one compaction (dao::DBEngine::Reserve): its exclusive lock is held
// from here on and lent to the compaction's own hold; the copy that compaction writes is kept
// locked as well until the reservation ends.
class FileReservation final : public dao::Reservation {
  public:
    explicit FileReservation(const std::string& path);
    ~FileReservation() override;
    bool StillInPlace() override;

  private:
    std::shared_ptr<ReservedFile> file_;
};

// Keeps the copy at path, open as fd and already locked exclusively, until the reservation ends.
void KeepCopy(ReservedFile& reservation, const std::string& path, int fd);

// Whether two results of stat() describe the same file.
bool SameFile(const struct stat& a, const struct stat& b);
// Whether the name itself (a link at it is not followed) is the file described by `file`: what
// a rename onto the name or an unlink of it would affect.
bool NameHolds(const std::string& name, const struct stat& file);

// name made absolute against the current directory; raises the engine's error for a name that
// cannot be a path (empty, or holding a NUL character).
std::string AbsolutePath(const std::string& name);

// The engine's error for a failed open() of path with that errno.
[[noreturn]] void RaiseOpenError(const std::string& path, int error);

}  // namespace tarnu::engine
