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

#include "platform/linux/posix/safe_open.h"
#include "ports/error.h"

namespace tarnu::posix {

namespace {

[[noreturn]] void RaiseFileError(int e) {
    throw Error(FileErrorNumber(e));
}

// Files without a write permission for their owner are what the platform calls read-only;
// the tool refuses to delete or replace them, even where the system would let it.
void RefuseReadOnly(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        RaiseFileError(errno);
    }
    if (!(st.st_mode & S_IWUSR)) {
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
    struct stat st {};
    if (path.empty() || path.back() == '/' || ::stat(path.c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode)) {
        return "";
    }
    const auto cut = path.find_last_of('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

void PosixFileServices::Kill(const std::string& path) {
    RefuseReadOnly(path);
    if (::unlink(path.c_str()) != 0) {
        RaiseFileError(errno);
    }
}

void PosixFileServices::Name(const std::string& oldPath, const std::string& newPath) {
    // Renaming never replaces: an existing target is an error, as the platform's rename has it.
    if (::renameat2(AT_FDCWD, oldPath.c_str(), AT_FDCWD, newPath.c_str(), RENAME_NOREPLACE) != 0) {
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
    if (::chdir(folder.c_str()) != 0) {
        RaiseFileError(errno);
    }
}

std::int64_t PosixFileServices::FileLen(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        RaiseFileError(errno);
    }
    if (S_ISDIR(st.st_mode)) {
        throw Error(err::FileNotFound);
    }
    return static_cast<std::int64_t>(st.st_size);
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
        UniqueFd fd;
        while (true) {
            if (!fd.ok()) {
                fd = OpenRegular(path_, O_RDONLY);
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

}  // namespace

std::unique_ptr<BackgroundWork> PosixFileServices::WriteBehind(const std::string& path) {
    return std::make_unique<WriteBehindThread>(path);
}

void PosixFileServices::SyncFile(const std::string& path) {
    UniqueFd fd = OpenRegular(path, O_RDONLY);
    if (!fd.ok() || ::fsync(fd.get()) != 0) {
        RaiseFileError(errno);
    }
}

void PosixFileServices::ReplaceFile(const std::string& from, const std::string& to) {
    RefuseReadOnly(to);
    // Opened first: once renamed, the new file may be out of reach for a folder that can be
    // written but not read.
    UniqueFd moved = OpenRegular(from, O_RDONLY);
    if (::rename(from.c_str(), to.c_str()) != 0) {
        RaiseFileError(errno);
    }
    // The replace is done: a failed flush of the new name does not make it undone.
    SyncRenamed(FolderOf(to), moved.get());
}

std::string PosixFileServices::RewriteTarget(const std::string& path) {
    int error = 0;
    std::string target = posix::RewriteTarget(path, error);
    if (target.empty()) {
        throw Error(error == EACCES ? err::PathFileAccessError : FileErrorNumber(error));
    }
    return target;
}

std::vector<std::string> PosixFileServices::ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.ok()) {
        return names;
    }
    DIR* dir = ::fdopendir(fd.get());
    if (dir == nullptr) {
        return names;
    }
    fd.Release();
    while (const dirent* entry = ::readdir(dir)) {
        if (IsRegularEntry(::dirfd(dir), entry->d_name)) {
            names.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    return names;
}

bool PosixFileServices::RemoveUnused(const std::string& path) {
    UniqueFd fd = OpenRegular(path, O_RDONLY);
    struct stat st {};
    if (!fd.ok() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(fd.get(), &st) != 0 ||
        st.st_size == 0) {
        return false;
    }
    // Deleted while locked, and only if the name still leads to the file checked.
    struct stat now {};
    return ::lstat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino &&
           ::unlink(path.c_str()) == 0;
}

}  // namespace tarnu::posix
