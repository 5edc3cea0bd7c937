#include "platform/linux/engine/file_hold.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/linux/engine/errors.h"
#include "platform/linux/engine/format.h"
#include "platform/linux/files/path_walk.h"

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

[[noreturn]] void RaiseMoved() {
    throw tarnu::Error(tarnu::err::PathFileAccessError);
}

// The engine's error for a path the walk could not take, or a file it could not open or make.
[[noreturn]] void RaiseReachError(const std::string& path, int error) {
    switch (error) {
        case ENOENT:  // a folder on the way is missing, which makes the whole path invalid
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            throw MakeError(jet::InvalidPath, path);
        case EISDIR:
        case files::kSpecialFile:
            // Folders and devices are no files for the engine, as for the directory query.
            throw MakeError(jet::FileNotFound, path);
        case files::kRefusedLink:
            throw tarnu::Error(tarnu::err::PathFileAccessError);
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY:
            throw MakeError(jet::NoPermission, path);
        case EAGAIN:
            throw MakeError(jet::FileInUse, path);
        case EMFILE:
        case ENFILE:
        case ENOMEM:
            throw tarnu::Error(tarnu::err::OutOfMemory);
        default:
            throw MakeError(jet::DiskOrNetworkError);
    }
}

bool MayOnlyRead(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == ETXTBSY;
}

// Walks path to the regular file it names, read-write where the process may write it.
PlacedFile ReachByPath(const std::string& path, bool writable) {
    files::Request request;
    request.kind = files::Kind::File;
    request.mayBeMissing = true;
    request.access = writable ? O_RDWR : O_RDONLY;
    files::Reached reached;
    int error = files::Walk(path, request, reached);
    if (writable && MayOnlyRead(error)) {
        request.access = O_RDONLY;
        error = files::Walk(path, request, reached);
    }
    if (error != 0) {
        RaiseReachError(path, error);
    }
    if (!reached.fd.ok()) {
        throw MakeError(jet::FileNotFound, path);
    }
    PlacedFile file;
    file.fd = std::move(reached.fd);
    file.folder = std::move(reached.folder);
    file.name = std::move(reached.name);
    file.st = reached.st;
    return file;
}

// A new open file of the file that `kept` is a descriptor of, reached through the descriptor
// alone: no name is looked up.
int Reopen(int kept, int access, files::UniqueFd& fd) {
    const std::string self = "/proc/self/fd/" + std::to_string(kept);
    fd.Reset(::open(self.c_str(), access | O_NOCTTY | O_CLOEXEC));
    return fd.ok() ? 0 : errno;
}

files::UniqueFd Duplicate(const files::UniqueFd& fd) {
    files::UniqueFd copy(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0));
    if (!copy.ok()) {
        throw tarnu::Error(tarnu::err::OutOfMemory);
    }
    return copy;
}

}  // namespace

struct ReservedFile {
    PlacedFile file;
    PlacedFile copy;
    // A hold of this process stands on the reservation.
    bool lent = false;
};

bool EntryHolds(int folder, const std::string& name, const struct stat& file) {
    struct stat now {};
    return ::fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
           files::SameFile(now, file);
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

PlacedFile PinnedFiles::Reach(const std::string& path, bool writable) {
    auto it = kept_.find(path);
    if (it == kept_.end()) {
        PlacedFile reached = ReachByPath(path, writable);
        PlacedFile kept;
        // Without /proc the descriptor cannot be reopened; the path is then walked each time
        // and must lead to the same file.
        Reopen(reached.fd.get(), O_PATH, kept.fd);
        kept.folder = Duplicate(reached.folder);
        kept.name = reached.name;
        kept.st = reached.st;
        kept_.emplace(path, std::move(kept));
        return reached;
    }
    const PlacedFile& kept = it->second;
    if (!kept.fd.ok()) {
        PlacedFile again = ReachByPath(path, writable);
        if (!files::SameFile(again.st, kept.st)) {
            RaiseMoved();
        }
        return again;
    }
    if (!EntryHolds(kept.folder.get(), kept.name, kept.st)) {
        RaiseMoved();
    }
    PlacedFile file;
    int error = Reopen(kept.fd.get(), writable ? O_RDWR : O_RDONLY, file.fd);
    if (writable && MayOnlyRead(error)) {
        error = Reopen(kept.fd.get(), O_RDONLY, file.fd);
    }
    if (error != 0) {
        RaiseReachError(path, error);
    }
    if (::fstat(file.fd.get(), &file.st) != 0) {
        RaiseReachError(path, errno);
    }
    file.folder = Duplicate(kept.folder);
    file.name = kept.name;
    return file;
}

void PinnedFiles::Unpin() {
    if (--pins_ == 0) {
        kept_.clear();
    }
}

PlacedFile CreateExclusively(const std::string& path, mode_t mode) {
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (slash == std::string::npos || name.empty() || name == "." || name == "..") {
        throw MakeError(jet::InvalidPath, path);
    }
    files::Request request;
    request.kind = files::Kind::Folder;
    files::Reached folder;
    if (const int error = files::Walk(slash == 0 ? "/" : path.substr(0, slash), request, folder)) {
        RaiseReachError(path, error);
    }
    struct stat journal {};
    if (::fstatat(folder.fd.get(), (name + "-journal").c_str(), &journal, AT_SYMLINK_NOFOLLOW) ==
        0) {
        throw MakeError(jet::DatabaseExists);
    }
    PlacedFile file;
    file.fd.Reset(::openat(folder.fd.get(), name.c_str(),
                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode));
    if (!file.fd.ok()) {
        if (errno == EEXIST) {
            throw MakeError(jet::DatabaseExists);
        }
        RaiseReachError(path, errno);
    }
    if (::fstat(file.fd.get(), &file.st) != 0) {
        RaiseReachError(path, errno);
    }
    file.folder = std::move(folder.fd);
    file.name = name;
    return file;
}

FileHold::FileHold(const std::string& path, Mode mode, Access access, PinnedFiles* pins)
    : path_(path) {
    const bool writable = access == Access::ReadWrite;
    const bool pinned = pins != nullptr && pins->Active();
    for (int attempt = 1;; ++attempt) {
        file_ = pinned ? pins->Reach(path, writable) : ReachByPath(path, writable);
        if (Take(mode)) {
            return;
        }
        // The name was given to another file between the open and the lock (a compaction put
        // its copy there): the lock belongs on that one, unless the run pinned the first.
        Let();
        file_ = PlacedFile{};
        if (pinned) {
            RaiseMoved();
        }
        if (attempt == kOpenAttempts) {
            throw MakeError(jet::FileInUse, path);
        }
    }
}

FileHold::FileHold(const std::string& path, PlacedFile created, Mode mode)
    : file_(std::move(created)), path_(path) {
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
        auto it = gReserved.find(KeyOf(file_.st));
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
        if (const int error = Flock(file_.fd.get(), mode == Mode::Shared ? LOCK_SH : LOCK_EX)) {
            RaiseLockError(path_, error);
        }
    }
    return EntryHolds(file_.folder.get(), file_.name, file_.st);
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
        ssize_t n =
            ::pread(file_.fd.get(), header + got, sizeof header - got, static_cast<off_t>(got));
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

FileReservation::FileReservation(const std::string& path, PinnedFiles* pins)
    : file_(std::make_shared<ReservedFile>()) {
    const bool pinned = pins != nullptr && pins->Active();
    for (int attempt = 1;; ++attempt) {
        file_->file = pinned ? pins->Reach(path, false) : ReachByPath(path, false);
        if (const int error = Flock(file_->file.fd.get(), LOCK_EX)) {
            RaiseLockError(path, error);
        }
        if (EntryHolds(file_->file.folder.get(), file_->file.name, file_->file.st)) {
            break;
        }
        file_->file = PlacedFile{};
        if (pinned) {
            RaiseMoved();
        }
        if (attempt == kOpenAttempts) {
            throw MakeError(jet::FileInUse, path);
        }
    }
    std::lock_guard<std::mutex> lock(gReservedMutex);
    gReserved[KeyOf(file_->file.st)] = file_;
}

FileReservation::~FileReservation() {
    std::lock_guard<std::mutex> lock(gReservedMutex);
    auto it = gReserved.find(KeyOf(file_->file.st));
    if (it != gReserved.end() && it->second.lock() == file_) {
        gReserved.erase(it);
    }
}

bool FileReservation::StillInPlace() {
    // As the replace sees the names: a link now standing at either of them is not the file.
    const PlacedFile& file = file_->file;
    const PlacedFile& copy = file_->copy;
    return copy.fd.ok() && EntryHolds(file.folder.get(), file.name, file.st) &&
           EntryHolds(copy.folder.get(), copy.name, copy.st);
}

void KeepCopy(ReservedFile& reservation, const PlacedFile& copy) {
    PlacedFile kept;
    kept.fd = Duplicate(copy.fd);
    kept.folder = Duplicate(copy.folder);
    kept.name = copy.name;
    kept.st = copy.st;
    reservation.copy = std::move(kept);
}

}  // namespace tarnu::engine
