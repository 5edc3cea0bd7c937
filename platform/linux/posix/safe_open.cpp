#include "platform/linux/posix/safe_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

namespace tarnu::posix {

namespace {

// As many links as the kernel itself follows in one path before it gives up.
constexpr int kMaxLinkHops = 40;

}  // namespace

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

UniqueFd OpenRegular(const std::string& path, int flags, mode_t mode) {
    UniqueFd fd(::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode));
    if (!fd.ok()) {
        return fd;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        const int e = errno;
        fd.Reset();
        errno = e;
    } else if (!S_ISREG(st.st_mode)) {
        fd.Reset();
        errno = EINVAL;
    }
    return fd;
}

int SyncRenamed(const std::string& folder, int fd) {
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.ok()) {
        return ::fsync(dir.get()) == 0 ? 0 : errno;
    }
    return ::syncfs(fd) == 0 ? 0 : errno;
}

std::string RewriteTarget(const std::string& path, int& error) {
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            error = errno;
            // A name with nothing behind it is a file still to be made, unless a link led there.
            return error == ENOENT && hop == 0 ? current : std::string();
        }
        if (!S_ISLNK(st.st_mode)) {
            return current;
        }
        const std::string folder = FolderOf(current);
        struct stat folderStat {};
        if (::stat(folder.c_str(), &folderStat) != 0) {
            error = errno;
            return "";
        }
        if (!MayFollowLink(st, folderStat)) {
            error = EACCES;
            return "";
        }
        std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 2);
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
            // A link that changed under us while we looked at it is not followed.
            error = n < 0 ? errno : EAGAIN;
            return "";
        }
        const std::string next(target.data(), static_cast<std::size_t>(n));
        current = next.front() == '/' ? next : (folder == "/" ? "" : folder) + "/" + next;
    }
    error = ELOOP;
    return "";
}

}  // namespace tarnu::posix
