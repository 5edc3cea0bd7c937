#include "platform/linux/posix/posix_files.h"

#include <fcntl.h>
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

#include "ports/error.h"

namespace tarnu::posix {

namespace {

[[noreturn]] void RaiseFileError(int e) {
    throw Error(FileErrorNumber(e));
}

std::string FolderOf(const std::string& path) {
    const auto cut = path.find_last_of('/');
    if (cut == std::string::npos) {
        return ".";
    }
    return cut == 0 ? "/" : path.substr(0, cut);
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

void SyncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        RaiseFileError(errno);
    }
    const int rc = ::fsync(fd);
    const int e = errno;
    ::close(fd);
    if (rc != 0) {
        RaiseFileError(e);
    }
}

}  // namespace

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

namespace {

// Hands the file's dirty pages to the disk every few milliseconds while another part of the
// program is still writing it, instead of leaving them all for one long fsync at the end.
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
        int fd = -1;
        std::unique_lock lock(mutex_);
        while (!stop_) {
            if (fd < 0) {
                fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
            }
            if (fd >= 0) {
                ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
            }
            wake_.wait_for(lock, std::chrono::milliseconds(25));
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }

    std::string path_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<BackgroundWork> PosixFileServices::WriteBehind(const std::string& path) {
    return std::make_unique<WriteBehindThread>(path);
}

void PosixFileServices::SyncFile(const std::string& path) {
    SyncPath(path, O_RDONLY);
}

void PosixFileServices::ReplaceFile(const std::string& from, const std::string& to) {
    RefuseReadOnly(to);
    if (::rename(from.c_str(), to.c_str()) != 0) {
        RaiseFileError(errno);
    }
    // The rename itself is only durable once the folder's entry is on disk.
    SyncPath(FolderOf(to), O_RDONLY | O_DIRECTORY);
}

}  // namespace tarnu::posix
