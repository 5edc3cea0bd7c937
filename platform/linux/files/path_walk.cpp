#include "platform/linux/files/path_walk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <optional>
#include <utility>

namespace tarnu::files {

namespace {

// As many links as the kernel itself follows in one path before it gives up.
constexpr int kMaxLinks = 40;
// A name that changes hands between its check and its open is looked at again this often.
constexpr int kOpenAttempts = 3;

struct Part {
    std::string name;
    // Marks the end of a link's target: the object reached there must belong to `owner`.
    std::optional<uid_t> owner;
};

// Puts the parts of path in front of those still to walk; "." parts go, ".." parts stay.
void PushFront(const std::string& path, std::deque<Part>& parts) {
    std::vector<Part> split;
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find('/', begin);
        if (end == std::string::npos) {
            end = path.size();
        }
        std::string part = path.substr(begin, end - begin);
        if (!part.empty() && part != ".") {
            split.push_back({std::move(part), std::nullopt});
        }
        begin = end + 1;
    }
    parts.insert(parts.begin(), split.begin(), split.end());
}

bool OnlyMarksLeft(const std::deque<Part>& parts) {
    for (const Part& part : parts) {
        if (!part.owner) {
            return false;
        }
    }
    return true;
}

// The ends of links reached together with the object described by st: each such link's owner
// must own it.
bool MarksAllow(std::deque<Part>& parts, const struct stat& st) {
    while (!parts.empty() && parts.front().owner) {
        if (*parts.front().owner != st.st_uid) {
            return false;
        }
        parts.pop_front();
    }
    return true;
}

int Look(int folder, const char* name, UniqueFd& fd, struct stat& st) {
    fd.Reset(::openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.ok()) {
        return errno;
    }
    return ::fstat(fd.get(), &st) == 0 ? 0 : errno;
}

bool KindFits(Kind kind, mode_t mode, int& error) {
    if (S_ISREG(mode)) {
        error = kind == Kind::Folder ? ENOTDIR : 0;
    } else if (S_ISDIR(mode)) {
        error = kind == Kind::File ? EISDIR : 0;
    } else {
        error = kSpecialFile;
    }
    return error == 0;
}

// Opens a folder that is held as an O_PATH descriptor for reading, through "." so that no name
// is looked up again; a folder the runner may only pass through stays an O_PATH descriptor.
UniqueFd OpenFolderItself(UniqueFd held) {
    UniqueFd readable(::openat(held.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return readable.ok() ? std::move(readable) : std::move(held);
}

// Opens the regular file that st describes at name in folder, or says why not. O_TRUNC waits
// until the open file is known to be the one that was checked.
int OpenCheckedFile(int folder, const std::string& name, int access, const struct stat& st,
                    UniqueFd& fd) {
    const int flags =
        (access & ~(O_TRUNC | O_CREAT | O_EXCL)) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    fd.Reset(::openat(folder, name.c_str(), flags));
    if (!fd.ok()) {
        return errno;
    }
    struct stat now {};
    if (::fstat(fd.get(), &now) != 0) {
        const int e = errno;
        fd.Reset();
        return e;
    }
    if (!SameFile(now, st) || !S_ISREG(now.st_mode)) {
        fd.Reset();
        return EAGAIN;
    }
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    if ((access & O_TRUNC) && ::ftruncate(fd.get(), 0) != 0) {
        const int e = errno;
        fd.Reset();
        return e;
    }
    return 0;
}

}  // namespace

bool MayFollowLink(const struct stat& link, const struct stat& folder) {
    return link.st_uid == 0 || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

int ReadLink(int link, std::string& target) {
    struct stat st {};
    if (::fstat(link, &st) != 0) {
        return errno;
    }
    std::string buffer(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 2, '\0');
    const ssize_t n = ::readlinkat(link, "", buffer.data(), buffer.size());
    if (n < 0) {
        return errno;
    }
    if (static_cast<std::size_t>(n) >= buffer.size() || n == 0) {
        // A link that grew while it was read is no link to follow.
        return EAGAIN;
    }
    buffer.resize(static_cast<std::size_t>(n));
    target = std::move(buffer);
    return 0;
}

int Walk(const std::string& path, const Request& request, Reached& out, int start) {
    out = Reached{};
    if (path.empty() || path.find('\0') != std::string::npos) {
        return ENOENT;
    }
    const bool mustBeFolder = path.size() > 1 && path.back() == '/';
    const Kind kind = mustBeFolder && request.kind == Kind::Any ? Kind::Folder : request.kind;
    if (mustBeFolder && kind == Kind::File) {
        return ENOTDIR;
    }

    UniqueFd cur(::openat(path.front() == '/' ? AT_FDCWD : start, path.front() == '/' ? "/" : ".",
                          O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat curSt {};
    if (!cur.ok() || ::fstat(cur.get(), &curSt) != 0) {
        return errno;
    }
    std::deque<Part> parts;
    PushFront(path, parts);
    int links = 0;

    while (!parts.empty()) {
        Part part = std::move(parts.front());
        parts.pop_front();
        if (part.owner) {
            // The end of a link's target that is a folder on the way.
            if (*part.owner != curSt.st_uid) {
                return kRefusedLink;
            }
            continue;
        }
        const bool last = OnlyMarksLeft(parts);
        if (part.name == "..") {
            UniqueFd up(::openat(cur.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!up.ok() || ::fstat(up.get(), &curSt) != 0) {
                return errno;
            }
            cur = std::move(up);
            continue;
        }

        UniqueFd next;
        struct stat st {};
        int error = Look(cur.get(), part.name.c_str(), next, st);
        const bool wantFolderHere = !last || kind == Kind::Folder;
        for (int made = 0; error == ENOENT && request.makeFolders && wantFolderHere && made < 3;
             ++made) {
            if (::mkdirat(cur.get(), part.name.c_str(), request.folderMode) != 0) {
                if (errno != EEXIST) {
                    return errno;
                }
            } else {
                MadeFolder record;
                record.parent.Reset(::fcntl(cur.get(), F_DUPFD_CLOEXEC, 0));
                record.name = part.name;
                error = Look(cur.get(), part.name.c_str(), next, st);
                if (error == 0 && S_ISDIR(st.st_mode)) {
                    record.dev = st.st_dev;
                    record.ino = st.st_ino;
                    out.made.push_back(std::move(record));
                }
                break;
            }
            error = Look(cur.get(), part.name.c_str(), next, st);
        }
        if (error == ENOENT && last && request.mayBeMissing) {
            // Where it would be created: that folder must satisfy the links that led there.
            if (!MarksAllow(parts, curSt)) {
                return kRefusedLink;
            }
            out.folder = OpenFolderItself(std::move(cur));
            out.name = part.name;
            return 0;
        }
        if (error != 0) {
            return error;
        }

        if (S_ISLNK(st.st_mode)) {
            if (last && request.lastLink != LastLink::Follow) {
                out.st = st;
                out.name = part.name;
                if (request.lastLink == LastLink::Refuse) {
                    out.folder = OpenFolderItself(std::move(cur));
                    return ELOOP;
                }
                if (!MarksAllow(parts, st)) {
                    return kRefusedLink;
                }
                out.fd = std::move(next);
                out.folder = OpenFolderItself(std::move(cur));
                return 0;
            }
            if (++links > kMaxLinks) {
                return ELOOP;
            }
            if (!MayFollowLink(st, curSt)) {
                return kRefusedLink;
            }
            std::string target;
            if (const int e = ReadLink(next.get(), target)) {
                return e;
            }
            if (::geteuid() == 0 && st.st_uid != 0) {
                parts.push_front({"", st.st_uid});
            }
            PushFront(target, parts);
            if (target.front() == '/') {
                cur.Reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
                if (!cur.ok() || ::fstat(cur.get(), &curSt) != 0) {
                    return errno;
                }
            }
            continue;
        }

        if (!last) {
            if (!S_ISDIR(st.st_mode)) {
                return ENOTDIR;
            }
            cur = std::move(next);
            curSt = st;
            continue;
        }

        // The last part: a file or a folder, checked before it is opened.
        out.st = st;
        out.name = part.name;
        if (!KindFits(kind, st.st_mode, error)) {
            out.folder = OpenFolderItself(std::move(cur));
            return error;
        }
        if (!MarksAllow(parts, st)) {
            return kRefusedLink;
        }
        if (S_ISDIR(st.st_mode)) {
            out.fd = OpenFolderItself(std::move(next));
            out.folder = OpenFolderItself(std::move(cur));
            return 0;
        }
        for (int attempt = 1;; ++attempt) {
            error = OpenCheckedFile(cur.get(), part.name, request.access, st, out.fd);
            if (error != EAGAIN || attempt == kOpenAttempts) {
                break;
            }
            // The name was given to another file meanwhile: judge that one afresh.
            if (const int e = Look(cur.get(), part.name.c_str(), next, st)) {
                return e;
            }
            if (S_ISLNK(st.st_mode) || !KindFits(Kind::File, st.st_mode, error)) {
                return S_ISLNK(st.st_mode) ? EAGAIN : error;
            }
            out.st = st;
        }
        if (error != 0) {
            return error;
        }
        out.folder = OpenFolderItself(std::move(cur));
        return 0;
    }

    // The path names no entry: "/", "." or one ending in "..".
    int error = 0;
    if (!KindFits(kind, curSt.st_mode, error)) {
        return error;
    }
    out.st = curSt;
    out.fd = OpenFolderItself(std::move(cur));
    return 0;
}

int OpenEntry(int folder, const std::string& name, Kind kind, int access, UniqueFd& fd,
              struct stat& st) {
    fd.Reset();
    for (int attempt = 1;; ++attempt) {
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return errno;
        }
        if (S_ISLNK(st.st_mode)) {
            return ELOOP;
        }
        int error = 0;
        if (!KindFits(kind, st.st_mode, error)) {
            return error;
        }
        if (S_ISDIR(st.st_mode)) {
            fd.Reset(::openat(folder, name.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
            struct stat now {};
            if (!fd.ok()) {
                error = errno;
            } else if (::fstat(fd.get(), &now) != 0) {
                error = errno;
            } else if (!SameFile(now, st)) {
                error = EAGAIN;
            }
            if (error != 0) {
                fd.Reset();
            }
        } else {
            error = OpenCheckedFile(folder, name, access, st, fd);
        }
        if (error != EAGAIN || attempt == kOpenAttempts) {
            return error;
        }
    }
}

void RemoveMadeFolder(const MadeFolder& made) {
    struct stat st {};
    if (made.parent.ok() &&
        ::fstatat(made.parent.get(), made.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(st.st_mode) && st.st_dev == made.dev && st.st_ino == made.ino) {
        ::unlinkat(made.parent.get(), made.name.c_str(), AT_REMOVEDIR);
    }
}

}  // namespace tarnu::files
