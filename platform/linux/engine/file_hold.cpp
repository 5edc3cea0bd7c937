#include "platform/linux/engine/file_hold.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/linux/engine/errors.h"
#include "platform/linux/engine/format.h"

namespace tarnu::engine {

namespace fs = std::filesystem;

namespace {

// A name that changes hands while a hold is taken is looked at again this often before the file
// counts as in use.
constexpr int kOpenAttempts = 3;

// The reservations of this process, by file. The engine is used from one thread, but a mutex
// costs nothing here and never guards a call that can block.
std::mutex gReservedMutex;
std::map<std::pair<dev_t, ino_t>, std::weak_ptr<ReservedFile>> gReserved;

std::pair<dev_t, ino_t> KeyOf(const struct stat& st) {
    return {st.st_dev, st.st_ino};
}

// Whether an open by `name` would now reach the file described by st.
bool NameLeadsTo(const std::string& name, const struct stat& st) {
    struct stat now {};
    return ::stat(name.c_str(), &now) == 0 && SameFile(now, st);
}

int Flock(int fd, int operation) {
    int rc;
    do {
        rc = ::flock(fd, operation | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : errno;
}

[[noreturn]] void RaiseLockError(const std::string& path, int error) {
    if (error == EWOULDBLOCK) {
        throw MakeError(jet::FileInUse, path);
    }
    throw MakeError(jet::DiskOrNetworkError);
}

// Opens a database file by name, following links as any open by name does, but never waiting:
// a FIFO or a device would block a plain open, and they are no database files anyway.
posix::UniqueFd OpenByName(const std::string& path, FileHold::Access access, struct stat& st) {
    const int common = O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    posix::UniqueFd fd;
    if (access == FileHold::Access::ReadWrite) {
        fd.Reset(::open(path.c_str(), O_RDWR | common));
        if (!fd.ok() && errno != EACCES && errno != EPERM && errno != EROFS && errno != EISDIR &&
            errno != ETXTBSY) {
            RaiseOpenError(path, errno);
        }
    }
    if (!fd.ok()) {
        fd.Reset(::open(path.c_str(), O_RDONLY | common));
    }
    if (!fd.ok()) {
        RaiseOpenError(path, errno);
    }
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        // Folders and devices are no files for the engine, as for the directory query.
        throw MakeError(jet::FileNotFound, path);
    }
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::string Resolved(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return path;
    }
    std::string result = resolved;
    std::free(resolved);
    return result;
}

}  // namespace

struct ReservedFile {
    std::string path;
    posix::UniqueFd fd;
    struct stat st {};
    std::string copyPath;
    posix::UniqueFd copyFd;
    struct stat copySt {};
    // A hold of this process stands on the reservation.
    bool lent = false;
};

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool NameHolds(const std::string& name, const struct stat& file) {
    struct stat now {};
    return ::lstat(name.c_str(), &now) == 0 && SameFile(now, file);
}

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

FileHold::FileHold(const std::string& path, Mode mode, Access access) : path_(path) {
    for (int attempt = 1;; ++attempt) {
        fd_ = OpenByName(path, access, stat_);
        fileName_ = Resolved(path);
        if (Take(mode)) {
            return;
        }
        // The name was given to another file between the open and the lock (a compaction put
        // its copy there): the lock belongs on that one.
        Let();
        fd_.Reset();
        if (attempt == kOpenAttempts) {
            throw MakeError(jet::FileInUse, path);
        }
    }
}

FileHold::FileHold(const std::string& path, posix::UniqueFd created, Mode mode)
    : fd_(std::move(created)), path_(path) {
    if (::fstat(fd_.get(), &stat_) != 0) {
        throw MakeError(jet::DiskOrNetworkError);
    }
    fileName_ = Resolved(path);
    if (!Take(mode)) {
        Let();
        throw MakeError(jet::FileInUse, path);
    }
}

FileHold::~FileHold() {
    Let();
}

bool FileHold::Take(Mode mode) {
    if (mode == Mode::Exclusive) {
        std::lock_guard<std::mutex> lock(gReservedMutex);
        auto it = gReserved.find(KeyOf(stat_));
        if (it != gReserved.end()) {
            if (std::shared_ptr<ReservedFile> reserved = it->second.lock()) {
                if (reserved->lent) {
                    throw MakeError(jet::FileInUse, path_);
                }
                reserved->lent = true;
                reservation_ = std::move(reserved);
            }
        }
    }
    // flock() locks belong to this open file, not to the process: they do not meet SQLite's
    // byte-range locks, and closing another descriptor of the same file keeps them.
    if (!reservation_) {
        if (const int error = Flock(fd_.get(), mode == Mode::Shared ? LOCK_SH : LOCK_EX)) {
            RaiseLockError(path_, error);
        }
    }
    return NameLeadsTo(path_, stat_) && NameLeadsTo(fileName_, stat_);
}

// Gives back what the hold stands on; closing the descriptor drops its lock.
void FileHold::Let() {
    if (reservation_) {
        std::lock_guard<std::mutex> lock(gReservedMutex);
        reservation_->lent = false;
        reservation_.reset();
    }
}

void FileHold::CheckFormat() const {
    unsigned char header[kHeaderSize];
    std::size_t got = 0;
    while (got < sizeof header) {
        ssize_t n = ::pread(fd_.get(), header + got, sizeof header - got, static_cast<off_t>(got));
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

namespace tarnu::engine {

FileReservation::FileReservation(const std::string& path)
    : file_(std::make_shared<ReservedFile>()) {
    file_->path = AbsolutePath(path);
    for (int attempt = 1;; ++attempt) {
        file_->fd = OpenByName(file_->path, FileHold::Access::ReadOnly, file_->st);
        if (const int error = Flock(file_->fd.get(), LOCK_EX)) {
            RaiseLockError(file_->path, error);
        }
        if (NameLeadsTo(file_->path, file_->st)) {
            break;
        }
        file_->fd.Reset();
        if (attempt == kOpenAttempts) {
            throw MakeError(jet::FileInUse, file_->path);
        }
    }
    std::lock_guard<std::mutex> lock(gReservedMutex);
    gReserved[KeyOf(file_->st)] = file_;
}

FileReservation::~FileReservation() {
    std::lock_guard<std::mutex> lock(gReservedMutex);
    auto it = gReserved.find(KeyOf(file_->st));
    if (it != gReserved.end() && it->second.lock() == file_) {
        gReserved.erase(it);
    }
}

bool FileReservation::StillInPlace() {
    // As the replace sees the names: a link now standing at either of them is not the file.
    return file_->copyFd.ok() && NameHolds(file_->path, file_->st) &&
           NameHolds(file_->copyPath, file_->copySt);
}

void KeepCopy(ReservedFile& reservation, const std::string& path, int fd) {
    posix::UniqueFd kept(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    struct stat st {};
    if (!kept.ok() || ::fstat(kept.get(), &st) != 0) {
        throw MakeError(jet::DiskOrNetworkError);
    }
    reservation.copyPath = path;
    reservation.copySt = st;
    reservation.copyFd = std::move(kept);
}

}  // namespace tarnu::engine
