#pragma once

// Reading, writing and making durable through descriptors that the path walk handed out.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/linux/files/unique_fd.h"

namespace tarnu::files {

// Writes all of bytes to fd, going on after short writes and interruptions. False with errno set
// when a write fails; a write that takes nothing counts as a full disk (ENOSPC).
bool WriteAll(int fd, std::string_view bytes);

// The whole content of fd, a regular file, if it holds at most limit bytes. Returns 0, EFBIG
// for a longer file (also one that grew while it was read), or the errno of a failed read.
int ReadWhole(int fd, std::size_t limit, std::string& out);

// Makes the entries of a folder durable after a rename or create in it: fsync of the folder
// where it is open for reading, else syncfs of the file system that anyFd (a descriptor of any
// file on it) lies on. Returns 0 or the errno of the flush.
int SyncFolder(int folder, int anyFd);

// Creates a new file in folder under a name nobody can guess (prefix, 16 random hexadecimal
// digits, suffix), exclusively and never through a link, with mode less the umask. Returns 0
// or errno; name is the name it got.
int CreateTemporary(int folder, const std::string& prefix, const std::string& suffix, mode_t mode,
                    UniqueFd& fd, std::string& name);

// Removes the entry name of folder if it is still the file described by dev and ino, so that a
// file somebody else has put under that name meanwhile stays. Never raises.
void RemoveIfSame(int folder, const std::string& name, dev_t dev, ino_t ino);

// The one lock of a folder that the tool's runs (compaction, update) take, so that they never
// work in one folder at the same time: flock() on a descriptor of the folder itself, which no
// other user can plant or remove as they could a lock file. Waits at most waitMs for a run that
// holds it. Returns 0 with lock holding it, EWOULDBLOCK when the wait ran out, or errno.
int LockFolder(int folder, int waitMs, UniqueFd& lock);

}  // namespace tarnu::files
