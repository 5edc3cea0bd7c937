#include "platform/linux/files/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>

namespace tarnu::files {

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

int ReadWhole(int fd, std::size_t limit, std::string& out) {
    out.clear();
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return errno;
    }
    if (static_cast<std::uint64_t>(st.st_size) > limit) {
        return EFBIG;
    }
    // Read straight into the string, sized once: a file at the limit must not cost a multiple
    // of its size on the way in. One byte more than the limit tells a file that grew beyond it.
    out.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t got = 0;
    for (;;) {
        if (got == out.size()) {
            if (got > limit) {
                out.clear();
                return EFBIG;
            }
            out.resize(std::min(limit + 1, got + 65536));
        }
        const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int e = errno;
            out.clear();
            return e;
        }
        if (n == 0) {
            out.resize(got);
            return 0;
        }
        got += static_cast<std::size_t>(n);
    }
}

int SyncFolder(int folder, int anyFd) {
    if (::fsync(folder) == 0) {
        return 0;
    }
    if (errno != EBADF) {
        return errno;
    }
    return ::syncfs(anyFd) == 0 ? 0 : errno;
}

int CreateTemporary(int folder, const std::string& prefix, const std::string& suffix, mode_t mode,
                    UniqueFd& fd, std::string& name) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[8];
        if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        std::string candidate = prefix;
        for (unsigned char b : random) {
            candidate += kHex[b >> 4];
            candidate += kHex[b & 0xF];
        }
        candidate += suffix;
        fd.Reset(::openat(folder, candidate.c_str(),
                          O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode));
        if (fd.ok()) {
            name = std::move(candidate);
            return 0;
        }
        if (errno != EEXIST) {
            return errno;
        }
    }
    return EEXIST;
}

void RemoveIfSame(int folder, const std::string& name, dev_t dev, ino_t ino) {
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == dev &&
        st.st_ino == ino) {
        ::unlinkat(folder, name.c_str(), 0);
    }
}

int LockFolder(int folder, int waitMs, UniqueFd& lock) {
    // A descriptor of its own: flock() belongs to the open file, and the caller's descriptor of
    // the folder may be an O_PATH one, which cannot be locked.
    UniqueFd own(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!own.ok()) {
        return errno;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (::flock(own.get(), LOCK_EX | LOCK_NB) == 0) {
            lock = std::move(own);
            return 0;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return errno;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return EWOULDBLOCK;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace tarnu::files
