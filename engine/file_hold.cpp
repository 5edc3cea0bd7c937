#include "engine/file_hold.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "engine/errors.h"
#include "engine/format.h"

namespace tarnu::engine {

namespace fs = std::filesystem;

namespace {

// Closing any descriptor of a file drops every POSIX lock the process holds on it, SQLite's
// included. So a hold gives its lock back with LOCK_UN and parks its descriptor; the parked
// descriptors of a file are closed only when no hold of it is left in the process, and with the
// holds the engine's SQLite connections to it are gone as well.
struct Parking {
    int holds = 0;
    std::vector<int> parked;
};

std::mutex gParkingMutex;
std::map<std::pair<dev_t, ino_t>, Parking> gParking;

void Arrive(const struct stat& st) {
    std::lock_guard<std::mutex> lock(gParkingMutex);
    ++gParking[{st.st_dev, st.st_ino}].holds;
}

void Leave(const struct stat& st, int fd) {
    std::vector<int> toClose;
    {
        std::lock_guard<std::mutex> lock(gParkingMutex);
        auto it = gParking.find({st.st_dev, st.st_ino});
        if (it == gParking.end()) {
            ::close(fd);
            return;
        }
        it->second.parked.push_back(fd);
        if (--it->second.holds == 0) {
            toClose = std::move(it->second.parked);
            gParking.erase(it);
        }
    }
    for (int parked : toClose) {
        ::close(parked);
    }
}

}  // namespace

std::string AbsolutePath(const std::string& name) {
    if (name.empty() || name.find('\0') != std::string::npos) {
        throw MakeError(jet::InvalidPath, name);
    }
    if (name.front() == '/') {
        return name;
    }
    std::error_code ec;
    fs::path cwd = fs::current_path(ec);
    if (ec) {
        throw MakeError(jet::InvalidPath, name);
    }
    return (cwd / name).string();
}

void RaiseOpenError(const std::string& path, int error) {
    switch (error) {
        case ENOENT: {
            // A missing file in an existing folder is "not found"; a missing folder makes the
            // whole path invalid, as Jet tells the two apart.
            std::error_code ec;
            fs::path parent = fs::path(path).parent_path();
            if (fs::is_directory(parent, ec)) {
                throw MakeError(jet::FileNotFound, path);
            }
            throw MakeError(jet::InvalidPath, path);
        }
        case EACCES:
        case EPERM:
        case EROFS:
            throw MakeError(jet::NoPermission, path);
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            throw MakeError(jet::InvalidPath, path);
        case EMFILE:
        case ENFILE:
        case ENOMEM:
            throw tarnu::Error(tarnu::err::OutOfMemory);
        default:
            throw MakeError(jet::DiskOrNetworkError);
    }
}

FileHold::FileHold(const std::string& path, Mode mode) : path_(path) {
    do {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        RaiseOpenError(path, errno);
    }
    struct stat& st = stat_;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        // Folders and devices are no files for the engine, as for the directory query.
        throw MakeError(jet::FileNotFound, path);
    }
    // flock() locks belong to this open file, not to the process: they are not dropped when
    // SQLite closes its own descriptor of the same file, and they do not meet SQLite's
    // byte-range locks.
    int operation = (mode == Mode::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
    int rc;
    do {
        rc = ::flock(fd_, operation);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int error = errno;
        // Nothing of ours holds a lock through this descriptor yet, but SQLite may through its
        // own descriptor of the same file: park it like any other.
        Arrive(st);
        Leave(st, fd_);
        fd_ = -1;
        if (error == EWOULDBLOCK) {
            throw MakeError(jet::FileInUse, path);
        }
        throw MakeError(jet::DiskOrNetworkError);
    }
    Arrive(st);
}

FileHold::~FileHold() {
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
        Leave(stat_, fd_);
    }
}

void FileHold::CheckFormat() const {
    unsigned char header[kHeaderSize];
    std::size_t got = 0;
    while (got < sizeof header) {
        ssize_t n = ::pread(fd_, header + got, sizeof header - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw MakeError(jet::DiskOrNetworkError);
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    if (!IsEngineHeader(header, got)) {
        throw MakeError(jet::UnrecognizedFormat, path_);
    }
}

}  // namespace tarnu::engine
