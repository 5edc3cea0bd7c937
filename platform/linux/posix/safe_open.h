#pragma once

// Opening and naming files safely for a tool that administrators run as root in folders that
// other users may write: never through a link the tool did not mean to follow, never blocking
// on a FIFO or a device, and always checking through the descriptor what was opened.

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>
#include <utility>

#include "platform/linux/files/file_io.h"
#include "platform/linux/files/path_walk.h"
#include "platform/linux/files/unique_fd.h"

namespace tarnu::posix {

// Being replaced by the path walk of platform/linux/files; what is left here goes with the
// last layer that still opens by name.
using files::MayFollowLink;
using files::ReadWhole;
using files::UniqueFd;
using files::WriteAll;

// Opens path as a regular file: the last part of the path is never followed if it is a link,
// the open never waits (a FIFO or a device would block a plain open), and anything that turns
// out not to be a regular file is closed again. flags are open()'s access and creation flags;
// O_NOFOLLOW, O_NONBLOCK and O_CLOEXEC are added. On failure the result is not ok() and errno
// tells why: ELOOP for a link, EINVAL for something that is not a regular file.
UniqueFd OpenRegular(const std::string& path, int flags, mode_t mode = 0);

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

// Makes a name that was just renamed into folder durable. The folder's entries are flushed
// where the folder can be read; a folder that may be written but not read is flushed with the
// whole file system of fd (any descriptor of a file on it). Returns 0 or the errno of the flush.
// The name is in place either way: a failure here never undoes the rename.
int SyncRenamed(const std::string& folder, int fd);

}  // namespace tarnu::posix
