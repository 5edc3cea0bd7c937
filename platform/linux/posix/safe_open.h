#pragma once

// Opening and naming files safely for a tool that administrators run as root in folders that
// other users may write: never through a link the tool did not mean to follow, never blocking
// on a FIFO or a device, and always checking through the descriptor what was opened.

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>
#include <utility>

namespace tarnu::posix {

// A file descriptor closed when it goes out of scope.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1);
    // Closes now and tells whether the close went well: it can report a failed write-back.
    bool Close();

  private:
    int fd_ = -1;
};

// Opens path as a regular file: the last part of the path is never followed if it is a link,
// the open never waits (a FIFO or a device would block a plain open), and anything that turns
// out not to be a regular file is closed again. flags are open()'s access and creation flags;
// O_NOFOLLOW, O_NONBLOCK and O_CLOEXEC are added. On failure the result is not ok() and errno
// tells why: ELOOP for a link, EINVAL for something that is not a regular file.
UniqueFd OpenRegular(const std::string& path, int flags, mode_t mode = 0);

// Whether a symbolic link may be followed when the tool rewrites the file at its name: only a
// link that belongs to root, to the user the tool runs as, or to the owner of the folder the link
// lies in. It is the kernel's rule for links in shared folders, and it keeps anybody else from
// pointing a root run at a file of their choosing.
bool MayFollowLink(const struct stat& link, const struct stat& folder);

// The file that a name the tool rewrites really stands for: the name itself when it is not a
// link (also when nothing is there yet), else the end of its chain of links, each link judged
// by MayFollowLink in its own folder. Returns "" and sets error when a link is refused (EACCES),
// the chain is too long (ELOOP), it ends nowhere (ENOENT), or the name cannot be examined.
std::string RewriteTarget(const std::string& path, int& error);

// The folder a path names its last part in: "." for a bare name, "/" for a name in the root.
// For paths without a trailing separator (apart from "/" itself).
std::string FolderOf(const std::string& path);
// The last part of a path.
std::string BaseNameOf(const std::string& path);

// Writes all of bytes to fd, going on after short writes and interruptions. False with errno set
// when a write fails; a write that takes nothing counts as a full disk (ENOSPC).
bool WriteAll(int fd, std::string_view bytes);

// The whole content of fd, a regular file, if it holds at most limit bytes. Returns 0, EFBIG
// for a longer file (also one that grew while it was read), or the errno of a failed read.
int ReadWhole(int fd, std::size_t limit, std::string& out);

// Makes a name that was just renamed into folder durable. The folder's entries are flushed
// where the folder can be read; a folder that may be written but not read is flushed with the
// whole file system of fd (any descriptor of a file on it). Returns 0 or the errno of the flush.
// The name is in place either way: a failure here never undoes the rename.
int SyncRenamed(const std::string& folder, int fd);

}  // namespace tarnu::posix
