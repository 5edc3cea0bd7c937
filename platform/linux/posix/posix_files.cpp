#include "platform/linux/posix/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "platform/linux/files/file_io.h"
#include "platform/linux/files/path_walk.h"
#include "ports/error.h"

namespace tarnu::posix {

using files::UniqueFd;

namespace {

[[noreturn]] void RaiseFileError(int e) {
    throw Error(FileErrorNumber(e));
}

int WalkTo(const std::string& path, files::Kind kind, files::LastLink lastLink,
           files::Reached& reached, bool mayBeMissing = false) {
    files::Request request;
    request.kind = kind;
    request.lastLink = lastLink;
    request.mayBeMissing = mayBeMissing;
    return files::Walk(path, request, reached);
}

// An entry of a folder as a rename or a removal meets it: the folder reached by the walk, and the
// entry itself looked at there without following a link.
struct Entry {
    UniqueFd folder;
    std::string name;
    struct stat st {};  // all zero when nothing is there
    bool Exists() const { return st.st_mode != 0; }
};

// 0, or the error of the walk to the entry's folder; ENOENT for a path that names no entry.
int Locate(const std::string& path, Entry& entry) {
    const std::size_t slash = path.find_last_of('/');
    entry.name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (entry.name.empty() || entry.name == "." || entry.name == "..") {
        return ENOENT;
    }
    files::Reached folder;
    const std::string folderPath = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : path.substr(0, slash);
    if (const int error =
            WalkTo(folderPath, files::Kind::Folder, files::LastLink::Follow, folder)) {
        return error;
    }
    entry.folder = std::move(folder.fd);
    if (::fstatat(entry.folder.get(), entry.name.c_str(), &entry.st, AT_SYMLINK_NOFOLLOW) != 0) {
        entry.st = {};
        return errno == ENOENT ? 0 : errno;
    }
    return 0;
}

// Where a folder lies, as the system tells it for the descriptor; "" when it does not.
std::string PathOfFolder(int folder) {
    std::string path(4096, '\0');
    const ssize_t n =
        ::readlink(("/proc/self/fd/" + std::to_string(folder)).c_str(), path.data(), path.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= path.size() || path[0] != '/') {
        return "";
    }
    path.resize(static_cast<std::size_t>(n));
    return path;
}

// Files without a write permission for their owner are what the platform calls read-only;
// the tool refuses to delete or replace them, even where the system would let it.
void RefuseReadOnly(const struct stat& st) {
    if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) {
        throw Error(err::PathFileAccessError);
    }
}

}  // namespace

std::string ExecutablePath() {
    std::string path(4096, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0) {
            return "";
        }
        if (static_cast<std::size_t>(n) < path.size()) {
            path.resize(static_cast<std::size_t>(n));
            return path;
        }
        path.resize(path.size() * 2);
    }
}

int FileErrorNumber(int e) {
    switch (e) {
        case ENOENT:
            return err::FileNotFound;
        case ENOTDIR:
            return err::PathNotFound;
        case EEXIST:
        case ENOTEMPTY:
            return err::FileAlreadyExists;
        case EACCES:
        case EPERM:
        case EBUSY:
        case ETXTBSY:
            return err::PermissionDenied;
        case ENOSPC:
        case EDQUOT:
            return err::DiskFull;
        case EIO:
            return err::DeviceIoError;
        case ENOMEM:
            return err::OutOfMemory;
        default:
            return err::PathFileAccessError;
    }
}

std::string PosixFileServices::Dir(const std::string& path) {
    files::Reached reached;
    const int error = path.empty() || path.back() == '/'
                          ? ENOENT
                          : WalkTo(path, files::Kind::File, files::LastLink::Follow, reached);
    // A file that the runner may not read is there all the same.
    if (error != 0 && !(error == EACCES && S_ISREG(reached.st.st_mode))) {
        return "";
    }
    const auto cut = path.find_last_of('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

void PosixFileServices::Kill(const std::string& path) {
    Entry entry;
    if (const int error = Locate(path, entry)) {
        RaiseFileError(error);
    }
    if (!entry.Exists()) {
        RaiseFileError(ENOENT);
    }
    RefuseReadOnly(entry.st);
    if (::unlinkat(entry.folder.get(), entry.name.c_str(), 0) != 0) {
        RaiseFileError(errno);
    }
}

void PosixFileServices::Name(const std::string& oldPath, const std::string& newPath) {
    Entry from;
    Entry to;
    int error = Locate(oldPath, from);
    if (error != 0 || (error = Locate(newPath, to)) != 0) {
        RaiseFileError(error);
    }
    // Renaming never replaces: an existing target is an error, as the platform's rename has it.
    if (::renameat2(from.folder.get(), from.name.c_str(), to.folder.get(), to.name.c_str(),
                    RENAME_NOREPLACE) != 0) {
        RaiseFileError(errno);
    }
}

LocalDateTime PosixFileServices::Now() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string PosixFileServices::CurDir() {
    std::string buf(4096, '\0');
    while (::getcwd(buf.data(), buf.size()) == nullptr) {
        if (errno != ERANGE) {
            RaiseFileError(errno);
        }
        buf.resize(buf.size() * 2);
    }
    buf.resize(buf.find('\0'));
    return buf;
}

void PosixFileServices::ChDir(const std::string& folder) {
    files::Reached reached;
    if (const int error = WalkTo(folder, files::Kind::Folder, files::LastLink::Follow, reached)) {
        RaiseFileError(error);
    }
    if (::fchdir(reached.fd.get()) != 0) {
        RaiseFileError(errno);
    }
}

std::int64_t PosixFileServices::FileLen(const std::string& path) {
    files::Reached reached;
    const int error = WalkTo(path, files::Kind::File, files::LastLink::Follow, reached);
    if (error == EISDIR || error == files::kSpecialFile) {
        throw Error(err::FileNotFound);
    }
    if (error != 0 && !(error == EACCES && S_ISREG(reached.st.st_mode))) {
        RaiseFileError(error);
    }
    return static_cast<std::int64_t>(reached.st.st_size);
}

namespace {

// Hands the file's dirty pages to the disk every few milliseconds while another part of the
// program is still writing it, instead of leaving them all for one long fsync at the end. The
// mutex guards only the stop flag: the open and the write-back happen outside it, so that the
// owner never waits for them longer than one write-back takes, and the open never waits at all.
class WriteBehindThread : public BackgroundWork {
  public:
    explicit WriteBehindThread(std::string path)
        : path_(std::move(path)), thread_([this] { Run(); }) {}
    ~WriteBehindThread() override {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

  private:
    void Run() {
        Entry entry;
        bool located = false;
        UniqueFd fd;
        while (true) {
            // Only a file of the runner's is opened: the name may have been taken by another
            // user's file, which the run will not write and must not open.
            if (!located) {
                located = Locate(path_, entry) == 0;
            }
            struct stat st {};
            if (located && !fd.ok() &&
                ::fstatat(entry.folder.get(), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
                files::OpenEntry(entry.folder.get(), entry.name, files::Kind::File, O_RDONLY, fd,
                                 st);
            }
            if (fd.ok()) {
                ::sync_file_range(fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
            }
            std::unique_lock lock(mutex_);
            if (wake_.wait_for(lock, std::chrono::milliseconds(25), [this] { return stop_; })) {
                return;
            }
        }
    }

    std::string path_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

bool IsRegularEntry(int folder, const char* name) {
    struct stat st {};
    return ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

class HeldFolder : public FolderLock {
  public:
    explicit HeldFolder(UniqueFd lock) : lock_(std::move(lock)) {}

  private:
    UniqueFd lock_;
};

}  // namespace

std::unique_ptr<BackgroundWork> PosixFileServices::WriteBehind(const std::string& path) {
    return std::make_unique<WriteBehindThread>(path);
}

void PosixFileServices::SyncFile(const std::string& path) {
    files::Reached reached;
    if (const int error = WalkTo(path, files::Kind::File, files::LastLink::Refuse, reached)) {
        RaiseFileError(error);
    }
    if (::fsync(reached.fd.get()) != 0) {
        RaiseFileError(errno);
    }
}

void PosixFileServices::ReplaceFile(const std::string& from, const std::string& to) {
    Entry target;
    Entry source;
    int error = Locate(to, target);
    if (error != 0 || (error = Locate(from, source)) != 0) {
        RaiseFileError(error);
    }
    if (!target.Exists()) {
        RaiseFileError(ENOENT);
    }
    // Whatever stands at the name instead of a file (a link put there) is not what is replaced.
    if (!S_ISREG(target.st.st_mode)) {
        throw Error(err::PathFileAccessError);
    }
    RefuseReadOnly(target.st);
    // Opened first: once renamed, the new file may be out of reach for a folder that can be
    // written but not read, and its file system is what a flush of such a folder needs.
    UniqueFd moved;
    struct stat st {};
    if ((error = files::OpenEntry(source.folder.get(), source.name, files::Kind::File, O_RDONLY,
                                  moved, st)) != 0) {
        RaiseFileError(error);
    }
    // The file keeps its owner: a new file of root's that is to stand in for another user's file
    // takes that user as its owner only in the moment before the rename, so that a run killed
    // before it leaves a file of root's that the next run may sweep away.
    const bool handOver = ::geteuid() == 0 && st.st_uid == 0 && target.st.st_uid != 0;
    if (handOver && (::fchown(moved.get(), target.st.st_uid, static_cast<gid_t>(-1)) != 0 ||
                     ::fchmod(moved.get(), st.st_mode & 07777) != 0)) {
        RaiseFileError(errno);
    }
    if (::renameat(source.folder.get(), source.name.c_str(), target.folder.get(),
                   target.name.c_str()) != 0) {
        RaiseFileError(errno);
    }
    // The replace is done: a failed flush of the new owner or name does not make it undone.
    if (handOver) {
        ::fsync(moved.get());
    }
    files::SyncFolder(target.folder.get(), moved.get());
}

std::string PosixFileServices::RewriteTarget(const std::string& path) {
    files::Reached reached;
    int error =
        WalkTo(path, files::Kind::File, files::LastLink::Keep, reached, /*mayBeMissing=*/true);
    // Nothing is there, or the name itself is no link, whatever else it is (the engine then says
    // what is wrong with it): the name is the file.
    const bool seen = reached.st.st_mode != 0;
    if (error == 0 ? !S_ISLNK(reached.st.st_mode)
                   : error == ENOENT || (seen && error != files::kRefusedLink)) {
        return path;
    }
    if (error == 0) {
        // A link: followed, each link on the way under the link rule, to where the file lies.
        error = WalkTo(path, files::Kind::File, files::LastLink::Follow, reached, true);
        if (error == 0 && !reached.fd.ok()) {
            error = ENOENT;  // a link to nowhere must not make a file where it points
        }
    }
    if (error != 0) {
        RaiseFileError(error);
    }
    const std::string folder = PathOfFolder(reached.folder.get());
    if (folder.empty()) {
        throw Error(err::PathFileAccessError);
    }
    return (folder == "/" ? "" : folder) + "/" + reached.name;
}

std::vector<std::string> PosixFileServices::ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    files::Reached reached;
    if (WalkTo(folder, files::Kind::Folder, files::LastLink::Follow, reached) != 0) {
        return names;
    }
    DIR* dir = ::fdopendir(reached.fd.get());
    if (dir == nullptr) {
        return names;
    }
    reached.fd.Release();
    while (const dirent* entry = ::readdir(dir)) {
        if (IsRegularEntry(::dirfd(dir), entry->d_name)) {
            names.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    return names;
}

bool PosixFileServices::RemoveUnused(const std::string& path) {
    Entry entry;
    if (Locate(path, entry) != 0 || !S_ISREG(entry.st.st_mode) || entry.st.st_uid != ::geteuid()) {
        return false;
    }
    UniqueFd fd;
    struct stat st {};
    if (files::OpenEntry(entry.folder.get(), entry.name, files::Kind::File, O_RDONLY, fd, st) !=
            0 ||
        !files::SameFile(st, entry.st) || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    // Deleted while locked, and only if the name still leads to the file checked. Its journal
    // goes first, so that none is ever left without its file, to be taken for the journal of a
    // new file of that name.
    const std::string journal = entry.name + "-journal";
    struct stat js {};
    if (::fstatat(entry.folder.get(), journal.c_str(), &js, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(js.st_mode) && js.st_uid == ::geteuid()) {
        files::RemoveIfSame(entry.folder.get(), journal, js.st_dev, js.st_ino);
    }
    struct stat now {};
    return ::fstatat(entry.folder.get(), entry.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
           files::SameFile(now, st) && ::unlinkat(entry.folder.get(), entry.name.c_str(), 0) == 0;
}

std::unique_ptr<FolderLock> PosixFileServices::LockFolder(const std::string& folder) {
    files::Reached reached;
    if (const int error = WalkTo(folder, files::Kind::Folder, files::LastLink::Follow, reached)) {
        RaiseFileError(error);
    }
    UniqueFd lock;
    const int error = files::LockFolder(reached.fd.get(), kFolderLockWaitMs, lock);
    if (error == EWOULDBLOCK) {
        throw Error(err::PermissionDenied, FolderBusyText(folder));
    }
    if (error != 0) {
        RaiseFileError(error);
    }
    return std::make_unique<HeldFolder>(std::move(lock));
}

}  // namespace tarnu::posix
