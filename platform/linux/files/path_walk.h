#pragma once

// The one way the Linux platform reaches a file by its path. The tool often runs as root in
// folders that other users can write, so a name may turn into a link, a FIFO or another file at
// any moment. A path is therefore walked one part at a time through descriptors: every link on
// the way is read and judged by the link rule before it is followed, the type of the last part
// is known before it is opened, and what the caller gets is the open descriptor of the very
// file or folder that was checked, with the descriptor of the folder that holds it. Nothing
// needs to open the same name a second time: creating, renaming and removing beside it go
// through that folder's descriptor.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/linux/files/unique_fd.h"

namespace tarnu::files {

// Errors of a walk beyond the system's own numbers.
// A link that the link rule does not let the tool follow.
constexpr int kRefusedLink = ENOLINK;
// A FIFO, device or socket where a file or folder was wanted: never opened.
constexpr int kSpecialFile = ENXIO;

// The link rule, the kernel's rule for links in shared folders applied to every link: a link is
// followed only when it belongs to root, to the user the tool runs as, or to the owner of the
// folder it lies in. When root runs, a link of another user must also lead to something that
// same user owns, so that nobody can point a root run at a file of somebody else.
bool MayFollowLink(const struct stat& link, const struct stat& folder);

enum class Kind {
    File,    // a regular file
    Folder,  // a folder
    Any,     // either of the two
};

// What to do with a link as the last part of the path.
enum class LastLink {
    Follow,  // follow it under the link rule, as every link before it
    Refuse,  // ELOOP
    Keep,    // stop at the link: `fd` is an O_PATH descriptor of the link itself
};

struct Request {
    Kind kind = Kind::File;
    // For a file: O_RDONLY, O_WRONLY or O_RDWR, with O_APPEND or O_TRUNC where wanted. A folder
    // is always opened for reading (or, where the runner may only pass through it, O_PATH).
    int access = O_RDONLY;
    LastLink lastLink = LastLink::Follow;
    // A missing last part is no error: `fd` stays closed, `folder` and `name` say where it
    // would be (to be created there with O_EXCL).
    bool mayBeMissing = false;
    // Missing folders on the way, and the last part for Kind::Folder, are made with folderMode
    // (less the umask, as mkdir makes them).
    bool makeFolders = false;
    mode_t folderMode = 0777;
};

// A folder the walk made, so that a run that fails can take it away again.
struct MadeFolder {
    UniqueFd parent;
    std::string name;
    dev_t dev = 0;
    ino_t ino = 0;
};

struct Reached {
    // The folder that holds the object under `name`: opened for reading where the runner may
    // read it, else an O_PATH descriptor (enough for the *at calls, not for fsync or flock).
    UniqueFd folder;
    // The object's name in `folder`. Both are empty where the path names no entry that could be
    // created, renamed or removed: "/", "." or a path ending in "..".
    std::string name;
    // The object, open; closed when it is missing (only with mayBeMissing). A file is opened
    // with the request's access, O_NOFOLLOW, O_NOCTTY and O_CLOEXEC (O_NONBLOCK is taken off
    // again once the file is known to be regular).
    UniqueFd fd;
    // The object's status as checked before it was opened; all zero when it is missing.
    struct stat st {};
    // Folders the walk made, outermost first.
    std::vector<MadeFolder> made;
};

// Walks path from the folder `start` (AT_FDCWD: the current directory; an absolute path starts
// at "/"). Returns 0 or an error number, errno style: ENOENT, ENOTDIR (a file where a folder
// is needed, or a path ending in "/" that names a file), EISDIR (a folder where a file is
// wanted), ELOOP (too many links, or a last link with LastLink::Refuse), kRefusedLink,
// kSpecialFile, EAGAIN (the name kept changing to another file while it was opened), or what
// the system reports (EACCES, ...). On ELOOP for a refused last link and on kSpecialFile,
// `folder`, `name` and `st` still describe what was found.
int Walk(const std::string& path, const Request& request, Reached& out, int start = AT_FDCWD);

// Opens one entry of an open folder without following a link, for walking a tree: `name` is a
// name as a folder lists it, not a path. The type is learnt before the open, and the open file
// must be the one that was looked at. Returns 0, ELOOP for a link (st describes the link),
// kSpecialFile, EISDIR or ENOTDIR for the wrong kind (st describes it), EAGAIN, or errno.
int OpenEntry(int folder, const std::string& name, Kind kind, int access, UniqueFd& fd,
              struct stat& st);

// Reads the target of a link given as an O_PATH descriptor of the link itself. 0 or errno.
int ReadLink(int link, std::string& target);

// Whether two results of stat() describe the same file.
inline bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes a folder the walk made, if it is still that folder and empty. Never raises.
void RemoveMadeFolder(const MadeFolder& made);

}  // namespace tarnu::files
