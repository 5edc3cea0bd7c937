#pragma once

// The engine's files, reached only through the safe path walk. An open database keeps the very
// file the walk checked, the folder that holds it and its name there: its journal, its copy and
// every check of its name go through that folder's descriptor, never through the path again.
//
// The hold an open database keeps on its file stands in for Jet's lock file: every open database
// keeps a shared flock() on the database file itself, and a compaction or an exclusive open needs
// the only, exclusive one. Any process can so tell a file in use with flock(LOCK_EX | LOCK_NB).
// The locks are the operating system's: they vanish with a process that dies and leave no file
// behind.

#include <sys/stat.h>

#include <map>
#include <memory>
#include <string>

#include "platform/linux/files/unique_fd.h"
#include "ports/dbengine.h"

namespace tarnu::engine {

// A file as the engine reached it: open, with the folder that holds it and its name there.
struct PlacedFile {
    files::UniqueFd fd;
    files::UniqueFd folder;
    std::string name;
    struct stat st {};
};

// Whether the entry `name` of `folder` (a link there is not followed) is the file described by
// `file`: what a rename onto the name or an unlink of it would affect.
bool EntryHolds(int folder, const std::string& name, const struct stat& file);

// The files that the runs of this engine have pinned (dao::DBEngine::PinFiles): a path reached
// while a pin lives is kept as the file reached then, and every later reach of that path reopens
// that file through its descriptor instead of walking the path again.
class PinnedFiles {
  public:
    // The file kept for path, opened anew (an open file of its own, so that its locks are its
    // own); raises error 75 when it no longer stands under its name in its folder. A path not
    // kept yet is walked and kept.
    PlacedFile Reach(const std::string& path, bool writable);
    void Pin() { ++pins_; }
    void Unpin();
    bool Active() const { return pins_ > 0; }

  private:
    int pins_ = 0;
    // O_PATH descriptors: they hold no lock and no access of their own.
    std::map<std::string, PlacedFile> kept_;
};

struct ReservedFile;

class FileHold {
  public:
    enum class Mode { Shared, Exclusive };
    // ReadWrite falls back to reading for a file the process may not write.
    enum class Access { ReadOnly, ReadWrite };

    // Reaches the file at an absolute path (through `pins` where they are active) without
    // waiting (a FIFO or a device is no database file) and takes the lock without waiting.
    // Raises the engine's error for a missing or unreadable file, error 75 for a link the link
    // rule refuses, and its "in use" error when another holder's lock is in the way. An
    // exclusive hold of a file this process has reserved stands on the reservation instead.
    FileHold(const std::string& path, Mode mode, Access access, PinnedFiles* pins = nullptr);
    // Holds a file that the engine has just created.
    FileHold(const std::string& path, PlacedFile created, Mode mode);
    ~FileHold();
    FileHold(const FileHold&) = delete;
    FileHold& operator=(const FileHold&) = delete;

    // Checks that the file starts like a database of this engine; raises the engine's error
    // for an unrecognised format otherwise. Reads only.
    void CheckFormat() const;

    const PlacedFile& file() const { return file_; }
    const struct stat& status() const { return file_.st; }
    // The reservation the hold stands on, or null.
    ReservedFile* reservation() const { return reservation_.get(); }

  private:
    // Locks the open file; false when its name has meanwhile come to name another file.
    bool Take(Mode mode);
    void Let();

    PlacedFile file_;
    std::string path_;
    std::shared_ptr<ReservedFile> reservation_;
};

// A database file kept for one compaction (dao::DBEngine::Reserve): its exclusive lock is held
// from here on and lent to the compaction's own hold; the copy that compaction writes is kept
// locked as well until the reservation ends.
class FileReservation final : public dao::Reservation {
  public:
    FileReservation(const std::string& path, PinnedFiles* pins);
    ~FileReservation() override;
    bool StillInPlace() override;

  private:
    std::shared_ptr<ReservedFile> file_;
};

// Keeps the copy, open and already locked exclusively, until the reservation ends.
void KeepCopy(ReservedFile& reservation, const PlacedFile& copy);

// Creates a new file at path with mode (less the umask), exclusively and never through a link;
// raises 3204 when anything stands at the name or a journal lies beside it already, which
// SQLite would take for the new file's own.
PlacedFile CreateExclusively(const std::string& path, mode_t mode);

// name made absolute against the current directory; raises the engine's error for a name that
// cannot be a path (empty, or holding a NUL character).
std::string AbsolutePath(const std::string& name);

}  // namespace tarnu::engine
