#pragma once

// File services the maintenance needs from the platform. Failures are raised as tarnu::Error
// with the platform's number and German description of the file error.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarnu {

// Work the platform does in the background until the object is destroyed.
class BackgroundWork {
  public:
    virtual ~BackgroundWork() = default;
};

// The lock of a folder (FileServices::LockFolder), held until the object is destroyed.
class FolderLock {
  public:
    virtual ~FolderLock() = default;
};

struct LocalDateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class FileServices {
  public:
    virtual ~FileServices() = default;

    // The directory query for one path: the name part of the file found there, or "" when no
    // file is there (folders do not count).
    virtual std::string Dir(const std::string& path) = 0;
    // Deletes a file; raises when it cannot.
    virtual void Kill(const std::string& path) = 0;
    // Renames a file; raises when it cannot (also when newPath exists).
    virtual void Name(const std::string& oldPath, const std::string& newPath) = 0;
    virtual LocalDateTime Now() = 0;
    // The current directory of the process.
    virtual std::string CurDir() = 0;
    // Makes folder the current directory of the process; raises when it cannot.
    virtual void ChDir(const std::string& folder) = 0;
    // The size in bytes of the file at path; raises when there is no file.
    virtual std::int64_t FileLen(const std::string& path) = 0;

    // While the returned object lives, data written to the file at path (which may not exist
    // yet) is pushed on to stable storage in the background, so that a SyncFile at the end
    // finds little left to do. Never raises; SyncFile reports what went wrong. May do nothing.
    virtual std::unique_ptr<BackgroundWork> WriteBehind(const std::string& path) = 0;
    // Forces a file's data to stable storage; raises when it cannot.
    virtual void SyncFile(const std::string& path) = 0;
    // Puts `from` in the place of the existing file `to` in one step, so that `to` names
    // either the old or the new file at every moment. A read-only `to` is refused like a
    // delete of it would be; on failure both files stay. Once `to` names the new file the
    // replace is done and raises nothing more: it is then made durable as far as the
    // platform can.
    virtual void ReplaceFile(const std::string& from, const std::string& to) = 0;

    // The file that a name the tool rewrites stands for, so that the file itself is rewritten
    // and replaced beside where it lies. Where a name may be a symbolic link, a link is followed
    // only when it belongs to the administrator, to the user the tool runs as, or to the owner
    // of the folder it lies in; any other raises error 75 (so does a chain of links too long).
    // A name with nothing behind it is returned as it is. On Windows: the name unchanged.
    virtual std::string RewriteTarget(const std::string& path) = 0;
    // The names of the regular files directly in a folder (no links, no folders), in no
    // particular order; none when the folder cannot be listed. Never raises.
    virtual std::vector<std::string> ListFiles(const std::string& folder) = 0;
    // Deletes the regular file at path, with whatever the database engine keeps beside it for
    // it, unless a process has it open through the engine, which on Windows a plain delete
    // already refuses, or it belongs to another user than the one the tool runs as (not checked
    // on Windows). A link or anything else at path is left alone. Tells whether the file was
    // deleted. Never raises.
    virtual bool RemoveUnused(const std::string& path) = 0;

    // The one lock of a folder that the tool's runs take (a compaction of its program folder,
    // an update of its target folder), so that no two of them work in one folder at the same
    // time. Waits at most kFolderLockWaitMs for a run that holds it, then raises an error with
    // FolderBusyText(folder). On Windows there is nothing to hold.
    virtual std::unique_ptr<FolderLock> LockFolder(const std::string& folder) = 0;
};

// The separator the platform puts between the parts of a path.
char PathSeparator();

// How long a run of the tool waits for another run that works in the same folder (a compaction
// in the program folder, an update of its target folder) before it gives up.
constexpr int kFolderLockWaitMs = 10000;
// The German message for a folder in which another run of the tool is working.
std::string FolderBusyText(const std::string& folder);

// The name under which a replace keeps the old file beside it while the new one takes its
// place, where the platform's replace needs one. Such a file may be all that is left of a
// database after a replace that failed half-way, so nothing removes it without care.
std::string ReplaceBackupName(const std::string& path);

// The folder a workstation's program files are copied to unless the settings file names another:
// where Tarnu is installed on this platform. No trailing separator.
std::string DefaultTargetFolder();

}  // namespace tarnu
