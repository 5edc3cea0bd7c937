#pragma once

// The file copy behind the shell-copy port on Linux. One source item (a file, a folder, or a
// pattern with "*" or "?" in its last part) goes into one target, as the Windows shell copies
// with no confirmations and target folders made without asking. Names are bytes and stay bytes.
//
// A workstation that is half old and half new is broken in ways nobody sees at once, so a copy
// is all or nothing: every file is first written under a temporary name beside its final name;
// only when all of them are there and on stable storage does a short second pass rename them
// into place. A failure or a cancel before that pass takes away every temporary file and every
// folder the copy made, leaving the target as it was.
//
// The source and every folder of the target's path are reached through the safe path walk; a
// copy belongs to the runner and gets the source's permission bits without setuid and setgid,
// less the umask, as `cp -r` makes its copies.
//
// The service reports through an observer of its own and never shows anything itself, so that
// the program's dialogs and a command line can both sit on top of it.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "ports/copy_survey.h"

namespace tarnu::posix {

// The shell's numbers for the outcomes of a copy; 0 is success.
namespace copy_status {
constexpr int kNoSource = 0x402;       // empty or missing source, or a pattern's folder missing
constexpr int kCancelled = 0x4C7;      // stopped by the user; the aborted flag is set as well
constexpr int kSameFile = 0x71;        // the source is its own destination
constexpr int kIntoItself = 0x76;      // a folder into itself or below itself
constexpr int kTooDeep = 0x79;         // folders nested deeper than kMaxFolderDepth
constexpr int kOntoFile = 0x7E;        // a folder or pattern onto a file, or "file/" as target
constexpr int kOntoFolder = 0x80;      // a file onto a folder, or a link where a folder merges
constexpr int kUnreadable = 0x78;      // a source that cannot be read, or a FIFO/device/socket
constexpr int kInUse = 0x20;           // a destination file or folder another process works on
constexpr int kDestination = 0x10000;  // anything else on the destination
constexpr int kBadRequest = 87;        // a request the port does not carry out (not a copy)
}  // namespace copy_status

// How many folders may lie inside one another in what is copied, the top folder included.
constexpr int kMaxFolderDepth = 256;

struct CopyProgress {
    std::string currentFile;       // the source now being copied, bytes as on disk
    std::uint64_t bytesDone = 0;   // of all files written so far, including finished ones
    std::uint64_t bytesTotal = 0;  // counted before the first file is copied
    std::uint64_t filesDone = 0;
    std::uint64_t filesTotal = 0;
};

struct CopyFailure {
    int status = 0;
    std::string path;  // the file or folder at fault, bytes as on disk; may be empty
    std::string text;  // German, naming the file in printable form and the cause
};

struct CopyResult {
    int status = 0;                 // 0 or one of copy_status
    bool aborted = false;           // cancelled by the user
    std::uint64_t filesCopied = 0;  // files and links put in place under their final names
    std::uint64_t bytesCopied = 0;  // the bytes of those files
};

// What the copy reports while it runs. Every call comes from the thread that runs the copy.
class CopyObserver {
  public:
    virtual ~CopyObserver() = default;
    // When a file begins and after every chunk of its data (a few megabytes at most).
    virtual void Progress(const CopyProgress& progress) = 0;
    // Asked before every file and every chunk: true stops the copy at once. Must not block; a
    // flag set from another thread or a signal handler is what it is meant to read. Once every
    // file is written the renames are not stopped any more: they take moments.
    virtual bool CancelRequested() = 0;
    // At most once per copy, for every failure except a cancel, before Copy returns.
    virtual void Failed(const CopyFailure& failure) = 0;
    // Once, when the copy has ended, with what it put in place.
    virtual void Finished(const CopyResult&) {}
};

// Where a test can make the copy fail as a full disk or a refused rename would.
enum class FaultPoint {
    Write,   // before the data of a file is written under its temporary name
    Rename,  // before a file takes its final name
};
// Returns 0 to let the step go on, else the errno it fails with. path: the final name.
using FaultSeam = std::function<int(FaultPoint point, const std::string& path)>;

class CopyService {
  public:
    CopyService() = default;
    explicit CopyService(FaultSeam fault) : fault_(std::move(fault)) {}

    // Copies source to target. An empty target stands for the current folder, as in the shell.
    // Waits at most kFolderLockWaitMs for another run of the tool that works in the target
    // folder. Stops at the first error, and then the target is as it was, unless the error
    // came while the files took their final names: then the failure says which have the new
    // version.
    CopyResult Copy(const std::string& source, const std::string& target, CopyObserver& observer);

    // What Copy would write, found without writing anything; the in-use test is the engine's
    // lock, and the new files are written beside the old ones.
    CopySurvey Survey(const std::string& source, const std::string& target);

  private:
    FaultSeam fault_;
};

// Whether name is one of the temporary files a copy writes (and removes again).
bool IsCopyTempName(std::string_view name);

}  // namespace tarnu::posix
