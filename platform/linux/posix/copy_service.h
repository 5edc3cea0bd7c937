#pragma once

// The file copy behind the shell-copy port on Linux. One source item (a file, a folder, or a
// pattern with "*" or "?" in its last part) goes into one target, as the Windows shell copies
// with no confirmations and target folders made without asking. Names are bytes and stay bytes.
// Every file is written under a temporary name and renamed into place, so that a cancel, an
// error or a kill never leaves a partial file under a final name; a success is reported only
// once the data is on stable storage.
//
// The service reports through an observer of its own and never shows anything itself, so that
// the program's dialogs and a command line can both sit on top of it.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnu::posix {

// The shell's numbers for the outcomes of a copy; 0 is success.
namespace copy_status {
constexpr int kNoSource = 0x402;       // empty or missing source, or a pattern's folder missing
constexpr int kCancelled = 0x4C7;      // stopped by the user; the aborted flag is set as well
constexpr int kSameFile = 0x71;        // the source is its own destination
constexpr int kIntoItself = 0x76;      // a folder into itself or below itself
constexpr int kOntoFile = 0x7E;        // a folder or pattern onto a file, or "file/" as target
constexpr int kOntoFolder = 0x80;      // a file onto a folder, or a link where a folder merges
constexpr int kUnreadable = 0x78;      // a source that cannot be read, or a FIFO/device/socket
constexpr int kInUse = 0x20;           // a destination file locked by another process
constexpr int kDestination = 0x10000;  // anything else on the destination
constexpr int kBadRequest = 87;        // a request the port does not carry out (not a copy)
}  // namespace copy_status

struct CopyProgress {
    std::string currentFile;       // the source now being copied, bytes as on disk
    std::uint64_t bytesDone = 0;   // of all files, including those already finished
    std::uint64_t bytesTotal = 0;  // counted before the first file is copied
    std::uint64_t filesDone = 0;
    std::uint64_t filesTotal = 0;
};

struct CopyFailure {
    int status = 0;
    std::string path;  // the file or folder at fault, bytes as on disk; may be empty
    std::string text;  // German, naming the file in printable form and the cause
};

// What the copy reports while it runs. Every call comes from the thread that runs the copy.
class CopyObserver {
  public:
    virtual ~CopyObserver() = default;
    // When a file begins and after every chunk of its data (a few megabytes at most).
    virtual void Progress(const CopyProgress& progress) = 0;
    // Asked before every file and every chunk: true stops the copy at once. Must not block; a
    // flag set from another thread or a signal handler is what it is meant to read.
    virtual bool CancelRequested() = 0;
    // At most once per copy, for every failure except a cancel, before Copy returns.
    virtual void Failed(const CopyFailure& failure) = 0;
};

struct CopyResult {
    int status = 0;                 // 0 or one of copy_status
    bool aborted = false;           // cancelled by the user
    std::uint64_t filesCopied = 0;  // files and links put in place
    std::uint64_t bytesCopied = 0;
};

class CopyService {
  public:
    // Copies source to target. An empty target stands for the current folder, as in the shell.
    // Stops at the first error; what was copied before it stays.
    CopyResult Copy(const std::string& source, const std::string& target, CopyObserver& observer);
};

// Whether name is one of the temporary files a copy writes (and removes again).
bool IsCopyTempName(std::string_view name);

}  // namespace tarnu::posix
