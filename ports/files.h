#pragma once

// File services the maintenance needs from the platform. Failures are raised as tarnu::Error
// with the platform's number and German description of the file error.

#include <memory>
#include <string>

namespace tarnu {

// Work the platform does in the background until the object is destroyed.
class BackgroundWork {
  public:
    virtual ~BackgroundWork() = default;
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

    // While the returned object lives, data written to the file at path (which may not exist
    // yet) is pushed on to stable storage in the background, so that a SyncFile at the end
    // finds little left to do. Never raises; SyncFile reports what went wrong. May do nothing.
    virtual std::unique_ptr<BackgroundWork> WriteBehind(const std::string& path) = 0;
    // Forces a file's data to stable storage; raises when it cannot.
    virtual void SyncFile(const std::string& path) = 0;
    // Puts `from` in the place of the existing file `to` in one step, so that `to` names
    // either the old or the new file at every moment, and makes the change durable. A
    // read-only `to` is refused like a delete of it would be. On failure both files stay.
    virtual void ReplaceFile(const std::string& from, const std::string& to) = 0;
};

// The separator the platform puts between the parts of a path.
char PathSeparator();

// The folder a workstation's program files are copied to unless the settings file names another:
// where Tarnu is installed on this platform. No trailing separator.
std::string DefaultTargetFolder();

}  // namespace tarnu
