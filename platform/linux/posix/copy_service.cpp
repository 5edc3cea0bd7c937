#include "platform/linux/posix/copy_service.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <new>
#include <vector>

#include "platform/linux/posix/safe_open.h"
#include "ports/printable_name.h"

namespace tarnu::posix {

namespace {

using namespace copy_status;

// Large enough that a copy costs few calls, small enough that a cancel is answered within a
// moment even on a slow disk.
constexpr std::size_t kChunkBytes = 8 << 20;
// Where the kernel cannot copy between the two files itself.
constexpr std::size_t kBufferBytes = 1 << 20;

constexpr std::string_view kTempSuffix = ".tarnu-tmp";
constexpr std::size_t kTempDigits = 16;

struct Stop {
    int status;
    std::string path;
    std::string text;
};
struct Cancelled {};

std::string Quoted(std::string_view name) {
    return "„" + PrintableName(name) + "“";
}

// Why a call failed, in German, to follow a colon.
std::string Cause(int e) {
    switch (e) {
        case EACCES:
        case EPERM:
            return "Zugriff verweigert";
        case ENOENT:
            return "Datei oder Ordner nicht gefunden";
        case ENOTDIR:
            return "ein Teil des Pfades ist kein Ordner";
        case EISDIR:
            return "dort steht ein Ordner";
        case EEXIST:
        case ENOTEMPTY:
            return "der Name ist schon vergeben";
        case ENOSPC:
            return "der Datenträger ist voll";
        case EDQUOT:
            return "das Speicherkontingent ist erschöpft";
        case EFBIG:
            return "die Datei ist zu groß";
        case EROFS:
            return "das Dateisystem ist schreibgeschützt";
        case EIO:
            return "Ein-/Ausgabefehler";
        case ENAMETOOLONG:
            return "der Name ist zu lang";
        case ELOOP:
            return "zu viele Verknüpfungen hintereinander";
        case EMFILE:
        case ENFILE:
            return "zu viele offene Dateien";
        case ENOMEM:
            return "nicht genügend Speicher";
        case EBUSY:
        case ETXTBSY:
            return "die Datei wird gerade verwendet";
        default:
            return "Systemfehler " + std::to_string(e);
    }
}

std::string CollapseSeparators(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c != '/' || out.empty() || out.back() != '/') {
            out += c;
        }
    }
    return out;
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::size_t CharLength(std::string_view s, std::size_t i) {
    return std::max<std::size_t>(1, Utf8Length(s, i));
}

// "*" stands for any run of characters, "?" for exactly one; everything else for itself.
bool Wildcard(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += CharLength(name, n);
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            starN += CharLength(name, starN);
            n = starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

// As on Windows, a pattern ending in ".*" also takes names without a dot: "*.*" is every name.
bool Matches(std::string_view pattern, std::string_view name) {
    return Wildcard(pattern, name) ||
           (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
            Wildcard(pattern.substr(0, pattern.size() - 2), name));
}

bool IsPattern(std::string_view name) {
    return name.find_first_of("*?") != std::string_view::npos;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

struct Listed {
    std::string name;
    unsigned char type;  // DT_*; DT_UNKNOWN where the file system does not tell
};

// The entries of a folder, without "." and "..", in byte order so that every run goes the same
// way. Returns false with errno set when the folder cannot be read.
bool ListFolder(int fd, std::vector<Listed>& entries) {
    entries.clear();
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) {
        return false;
    }
    DIR* dir = ::fdopendir(own);
    if (!dir) {
        const int e = errno;
        ::close(own);
        errno = e;
        return false;
    }
    ::rewinddir(dir);
    while (true) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            break;
        }
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            entries.push_back({std::string(name), entry->d_type});
        }
    }
    const int e = errno;
    ::closedir(dir);
    errno = e;
    std::sort(entries.begin(), entries.end(),
              [](const Listed& a, const Listed& b) { return a.name < b.name; });
    return e == 0;
}

// The file type of an entry: what the folder said, or else what the entry says. 0 when it
// cannot be looked at (errno tells why).
mode_t TypeOf(int dirFd, const Listed& entry) {
    switch (entry.type) {
        case DT_REG:
            return S_IFREG;
        case DT_DIR:
            return S_IFDIR;
        case DT_LNK:
            return S_IFLNK;
        default:
            break;
    }
    struct stat st {};
    return ::fstatat(dirFd, entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? st.st_mode & S_IFMT
                                                                               : 0;
}

// The process's file creation mask, without changing it; -1 when it cannot be read.
int ReadUmask() {
    UniqueFd fd(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
    char text[4096];
    const ssize_t n = fd.ok() ? ::read(fd.get(), text, sizeof text - 1) : -1;
    if (n <= 0) {
        return -1;
    }
    text[n] = '\0';
    const char* line = std::strstr(text, "\nUmask:");
    return line ? static_cast<int>(std::strtol(line + 7, nullptr, 8)) : -1;
}

std::string SpecialKind(mode_t mode) {
    if (S_ISFIFO(mode)) {
        return "eine Pipe (FIFO)";
    }
    if (S_ISSOCK(mode)) {
        return "ein Socket";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "eine Gerätedatei";
    }
    return "keine gewöhnliche Datei";
}

[[noreturn]] void StopSpecial(const std::string& path, mode_t mode) {
    throw Stop{kUnreadable, path,
               Quoted(path) + " ist " + SpecialKind(mode) + " und wird nicht kopiert."};
}

[[noreturn]] void StopUnreadable(const std::string& path, int e) {
    throw Stop{kUnreadable, path, Quoted(path) + " kann nicht gelesen werden: " + Cause(e) + "."};
}

[[noreturn]] void StopDestination(const std::string& path, int e) {
    throw Stop{kDestination, path,
               Quoted(path) + " kann nicht geschrieben werden: " + Cause(e) + "."};
}

// Whether the folder at path, or any folder above it, is the folder st describes. path need not
// exist yet: folders still to be made cannot be the source.
bool LiesWithin(const std::string& path, const struct stat& folder) {
    std::string existing = path;
    struct stat st {};
    while (::stat(existing.c_str(), &st) != 0) {
        if (existing == "/" || existing == ".") {
            return false;
        }
        existing = FolderOf(existing);
    }
    char* real = ::realpath(existing.c_str(), nullptr);
    if (!real) {
        return false;
    }
    std::string current = real;
    std::free(real);
    while (true) {
        if (::stat(current.c_str(), &st) == 0 && SameFile(st, folder)) {
            return true;
        }
        if (current == "/") {
            return false;
        }
        current = FolderOf(current);
    }
}

// One item of the source: the source as named, or one match of a pattern.
struct Item {
    std::string path;  // for messages and progress
    std::string name;  // the name its copy takes in a receiving folder
    int dirFd;         // where at is looked up
    std::string at;
    bool follow;  // a source as named is followed if it is a link; matches are not
    struct stat st;
};

// What stands at a destination name that is about to be replaced.
struct Replaced {
    bool regular = false;
    struct stat st {};
    UniqueFd lock;  // held until the new file is in place, so that nobody opens the old one
};

class CopyRun {
  public:
    explicit CopyRun(CopyObserver& observer) : observer_(observer) {
        std::uint64_t seed = 0;
        if (::getrandom(&seed, sizeof seed, GRND_NONBLOCK) != sizeof seed) {
            seed = static_cast<std::uint64_t>(::time(nullptr)) * 0x9E3779B97F4A7C15ULL ^
                   static_cast<std::uint64_t>(::getpid());
        }
        tempBase_ = seed;
    }

    void Go(std::string source, std::string target);
    CopyResult& result() { return result_; }
    // A name no other file of the folder has, recognisable as a copy's temporary file.
    std::string NextTempName() {
        static constexpr char kHex[] = "0123456789abcdef";
        std::uint64_t value = tempBase_ + tempCounter_++;
        std::string digits(kTempDigits, '0');
        for (std::size_t i = kTempDigits; i-- > 0; value >>= 4) {
            digits[i] = kHex[value & 0xF];
        }
        return "." + digits + std::string(kTempSuffix);
    }

  private:
    void CheckCancel() {
        if (observer_.CancelRequested()) {
            throw Cancelled{};
        }
    }

    std::vector<Item> Sources(const std::string& source, bool& pattern);
    std::string ResolveTarget(const std::string& target);
    void MakeFolders(const std::string& path);
    void Count(int dirFd, const std::string& at, bool follow, const struct stat& st);
    void CountFolder(int dirFd, const std::string& at, bool follow);
    // type is the entry's S_IFMT bits. fresh: the destination folder was made by this run, so
    // nothing stands at dstName yet.
    void CopyEntry(int srcDirFd, const std::string& srcAt, bool follow, mode_t type,
                   const std::string& srcPath, int dstDirFd, const std::string& dstName,
                   const std::string& dstPath, bool fresh);
    void CopyFolder(int srcFd, const std::string& srcPath, int dstDirFd, const std::string& dstName,
                    const std::string& dstPath, bool fresh);
    void CopyFile(int srcDirFd, const std::string& srcAt, bool follow, const std::string& srcPath,
                  int dstDirFd, const std::string& dstName, const std::string& dstPath, bool fresh);
    void CopyLink(int srcDirFd, const std::string& srcAt, const std::string& srcPath, int dstDirFd,
                  const std::string& dstName, const std::string& dstPath, bool fresh);
    void CopyData(int in, int out, const struct stat& st, const std::string& srcPath,
                  const std::string& dstPath);
    Replaced Prepare(int dstDirFd, const std::string& dstName, const std::string& dstPath,
                     const std::string& srcPath);
    void RemoveLeftovers(int dirFd);
    void NoteForSync(int dirFd);
    void SyncAll();
    void Advance(std::uint64_t bytes) {
        progress_.bytesDone += bytes;
        result_.bytesCopied += bytes;
        observer_.Progress(progress_);
    }

    CopyObserver& observer_;
    CopyResult result_;
    CopyProgress progress_;
    UniqueFd patternFolder_;
    std::map<dev_t, UniqueFd> syncFds_;
    std::vector<char> buffer_;
    bool rangeUnsupported_ = false;
    int umask_ = ReadUmask();
    std::uint64_t tempBase_ = 0;
    std::uint64_t tempCounter_ = 0;
};

// A temporary file or link beside its final name; removed again unless it was put in place.
class TempEntry {
  public:
    TempEntry(CopyRun& run, int dirFd) : run_(run), dirFd_(dirFd) {}
    ~TempEntry() {
        if (!name_.empty() && !placed_) {
            ::unlinkat(dirFd_, name_.c_str(), 0);
        }
    }
    TempEntry(const TempEntry&) = delete;
    TempEntry& operator=(const TempEntry&) = delete;

    // A new empty file, locked so that another run's clean-up leaves it alone.
    void CreateFile(const std::string& dstPath, mode_t mode) {
        Create(dstPath, [&](const std::string& name) {
            fd_.Reset(::openat(dirFd_, name.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
            return fd_.ok();
        });
        ::flock(fd_.get(), LOCK_EX | LOCK_NB);
    }
    void CreateLink(const std::string& target, const std::string& dstPath) {
        Create(dstPath, [&](const std::string& name) {
            return ::symlinkat(target.c_str(), dirFd_, name.c_str()) == 0;
        });
    }
    int fd() const { return fd_.get(); }

    void PutInPlace(const std::string& dstName, const std::string& dstPath) {
        if (::renameat(dirFd_, name_.c_str(), dirFd_, dstName.c_str()) != 0) {
            StopDestination(dstPath, errno);
        }
        placed_ = true;
        if (fd_.ok() && !fd_.Close()) {
            StopDestination(dstPath, errno);
        }
    }

  private:
    template <typename MakeFn>
    void Create(const std::string& dstPath, MakeFn make) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = run_.NextTempName();
            if (make(name)) {
                name_ = name;
                return;
            }
            if (errno != EEXIST) {
                StopDestination(dstPath, errno);
            }
        }
        StopDestination(dstPath, EEXIST);
    }

    CopyRun& run_;
    int dirFd_;
    std::string name_;
    UniqueFd fd_;
    bool placed_ = false;
};

std::vector<Item> CopyRun::Sources(const std::string& source, bool& isPattern) {
    std::vector<Item> items;
    std::string folder, pattern;
    if (source.back() == '/') {
        // A folder named with a separator at its end stands for everything in it.
        folder = source.size() > 1 ? source.substr(0, source.size() - 1) : source;
        pattern = "*";
    } else if (IsPattern(BaseNameOf(source))) {
        folder = FolderOf(source);
        pattern = BaseNameOf(source);
    }
    isPattern = !pattern.empty();
    if (isPattern) {
        patternFolder_.Reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!patternFolder_.ok()) {
            if (errno == ENOENT || errno == ENOTDIR) {
                throw Stop{kNoSource, folder,
                           "Der Ordner " + Quoted(folder) + " wurde nicht gefunden."};
            }
            StopUnreadable(folder, errno);
        }
        std::vector<Listed> entries;
        if (!ListFolder(patternFolder_.get(), entries)) {
            StopUnreadable(folder, errno);
        }
        for (const Listed& entry : entries) {
            const std::string& name = entry.name;
            if (!Matches(pattern, name)) {
                continue;
            }
            struct stat st {};
            if (::fstatat(patternFolder_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                StopUnreadable(Join(folder, name), errno);
            }
            items.push_back({Join(folder, name), name, patternFolder_.get(), name, false, st});
        }
        return items;
    }

    std::string path = source;
    std::string name = BaseNameOf(path);
    if (name == "." || name == "..") {
        // The copy takes the folder's real name.
        char* real = ::realpath(path.c_str(), nullptr);
        if (real) {
            path = real;
            std::free(real);
            if (path == "/") {
                return Sources("/", isPattern);
            }
            name = BaseNameOf(path);
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) {
            throw Stop{kNoSource, source,
                       "Die Quelle " + Quoted(source) + " wurde nicht gefunden."};
        }
        StopUnreadable(source, errno);
    }
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        StopSpecial(source, st.st_mode);
    }
    items.push_back({source, name, AT_FDCWD, path, true, st});
    return items;
}

std::string CopyRun::ResolveTarget(const std::string& target) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        return target;
    }
    // The target as named is followed, but only along links that the link rule lets a root run
    // follow: nobody else may point the copy at a folder or a file of their choosing.
    int error = 0;
    std::string resolved = RewriteTarget(target, error);
    if (!resolved.empty()) {
        return resolved;
    }
    if (error == EACCES) {
        throw Stop{kDestination, target,
                   "Der Verknüpfung " + Quoted(target) +
                       " wird nicht gefolgt: sie gehört weder root noch dem Besitzer ihres "
                       "Ordners."};
    }
    if (error == ENOENT) {
        throw Stop{kDestination, target, "Die Verknüpfung " + Quoted(target) + " führt ins Leere."};
    }
    StopDestination(target, error);
}

void CopyRun::MakeFolders(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return;
    }
    for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string prefix = path.substr(0, at);
        if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
            StopDestination(prefix, errno);
        }
        if (at == std::string::npos) {
            return;
        }
    }
}

void CopyRun::Count(int dirFd, const std::string& at, bool follow, const struct stat& st) {
    if (S_ISREG(st.st_mode)) {
        ++progress_.filesTotal;
        progress_.bytesTotal += static_cast<std::uint64_t>(st.st_size);
    } else if (S_ISLNK(st.st_mode)) {
        ++progress_.filesTotal;
    } else if (S_ISDIR(st.st_mode)) {
        CountFolder(dirFd, at, follow);
    }
}

void CopyRun::CountFolder(int dirFd, const std::string& at, bool follow) {
    CheckCancel();
    // What cannot be read here is reported when the copy gets there.
    UniqueFd fd(::openat(dirFd, at.c_str(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW)));
    std::vector<Listed> entries;
    if (!fd.ok() || !ListFolder(fd.get(), entries)) {
        return;
    }
    for (const Listed& entry : entries) {
        if (entry.type == DT_DIR) {
            CountFolder(fd.get(), entry.name, false);
        } else if (entry.type == DT_LNK) {
            ++progress_.filesTotal;
        } else if (struct stat st{};
                   ::fstatat(fd.get(), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            Count(fd.get(), entry.name, false, st);
        }
    }
}

void CopyRun::Go(std::string source, std::string target) {
    if (source.empty()) {
        throw Stop{kNoSource, "", "Es wurde keine Quelle angegeben."};
    }
    source = CollapseSeparators(source);
    target = CollapseSeparators(target);
    bool pattern = false;
    const std::vector<Item> items = Sources(source, pattern);

    // An empty target is the current folder, as in the shell.
    if (target.empty()) {
        target = ".";
    }
    const bool separatorEnded = target.size() > 1 && target.back() == '/';
    if (separatorEnded) {
        target.pop_back();
    }
    const std::string resolved = ResolveTarget(target);
    struct stat targetSt {};
    bool exists = true;
    if (::stat(resolved.c_str(), &targetSt) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            StopDestination(target, errno);
        }
        exists = false;
    }
    const bool targetIsFolder = exists && S_ISDIR(targetSt.st_mode);

    // Either a receiving folder that takes every item under its own name, or the one item
    // copied to the target's name.
    bool receiving = true;
    std::string parent = resolved;
    std::string ownName;
    if (separatorEnded || targetIsFolder) {
        if (exists && !targetIsFolder) {
            throw Stop{kOntoFile, target,
                       "Das Ziel " + Quoted(target) + " ist kein Ordner, sondern eine Datei."};
        }
    } else if (!pattern) {
        if (exists && S_ISDIR(items.front().st.st_mode)) {
            throw Stop{kOntoFile, target,
                       "Der Ordner " + Quoted(items.front().path) +
                           " kann nicht an die Stelle der Datei " + Quoted(target) +
                           " kopiert werden."};
        }
        receiving = false;
        parent = FolderOf(resolved);
        ownName = BaseNameOf(resolved);
    } else if (exists && !items.empty()) {
        throw Stop{kOntoFile, target,
                   "Das Ziel " + Quoted(target) +
                       " ist eine Datei; mehrere Dateien können nicht dorthin kopiert werden."};
    }
    if (items.empty()) {
        return;  // a pattern that matches nothing copies nothing
    }

    // Everything that can be seen before anything is written is checked first.
    for (const Item& item : items) {
        const std::string dstPath = Join(parent, receiving ? item.name : ownName);
        struct stat dst {};
        if (::lstat(dstPath.c_str(), &dst) == 0 && SameFile(dst, item.st)) {
            throw Stop{kSameFile, item.path,
                       Quoted(item.path) + " kann nicht auf sich selbst kopiert werden."};
        }
        if (S_ISDIR(item.st.st_mode) && LiesWithin(parent, item.st)) {
            throw Stop{kIntoItself, item.path,
                       "Der Ordner " + Quoted(item.path) +
                           " kann nicht in sich selbst kopiert werden: das Ziel " +
                           Quoted(dstPath) + " liegt darin."};
        }
    }
    for (const Item& item : items) {
        Count(item.dirFd, item.at, item.follow, item.st);
    }

    struct stat parentSt {};
    const bool parentExisted = ::stat(parent.c_str(), &parentSt) == 0;
    MakeFolders(parent);
    UniqueFd parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parentFd.ok()) {
        StopDestination(parent, errno);
    }
    if (parentExisted) {
        RemoveLeftovers(parentFd.get());
    }
    NoteForSync(parentFd.get());

    for (const Item& item : items) {
        const std::string dstName = receiving ? item.name : ownName;
        CopyEntry(item.dirFd, item.at, item.follow, item.st.st_mode & S_IFMT, item.path,
                  parentFd.get(), dstName, Join(parent, dstName), false);
    }
    SyncAll();
}

void CopyRun::CopyEntry(int srcDirFd, const std::string& srcAt, bool follow, mode_t type,
                        const std::string& srcPath, int dstDirFd, const std::string& dstName,
                        const std::string& dstPath, bool fresh) {
    CheckCancel();
    if (S_ISDIR(type)) {
        UniqueFd fd(::openat(srcDirFd, srcAt.c_str(),
                             O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW)));
        if (!fd.ok()) {
            StopUnreadable(srcPath, errno);
        }
        CopyFolder(fd.get(), srcPath, dstDirFd, dstName, dstPath, fresh);
    } else if (S_ISREG(type)) {
        CopyFile(srcDirFd, srcAt, follow, srcPath, dstDirFd, dstName, dstPath, fresh);
    } else if (S_ISLNK(type)) {
        CopyLink(srcDirFd, srcAt, srcPath, dstDirFd, dstName, dstPath, fresh);
    } else {
        StopSpecial(srcPath, type);
    }
}

void CopyRun::CopyFolder(int srcFd, const std::string& srcPath, int dstDirFd,
                         const std::string& dstName, const std::string& dstPath, bool fresh) {
    struct stat srcSt {};
    if (::fstat(srcFd, &srcSt) != 0) {
        StopUnreadable(srcPath, errno);
    }
    // A new folder is made with the source's bits, but writable for us until it is filled. It
    // gets exactly the source's bits at the end, also when the copy stops inside it: a cancel
    // must not leave a folder that only its owner can enter.
    const mode_t wanted = srcSt.st_mode & 01777;
    const mode_t initial = (wanted & 0777) | S_IRWXU;
    const bool finalAtOnce = umask_ >= 0 && initial == wanted && (wanted & umask_) == 0;
    struct stat dst {};
    bool created = false;
    if (fresh || ::fstatat(dstDirFd, dstName.c_str(), &dst, AT_SYMLINK_NOFOLLOW) != 0) {
        if (!fresh && errno != ENOENT) {
            StopDestination(dstPath, errno);
        }
        if (::mkdirat(dstDirFd, dstName.c_str(), initial) != 0) {
            StopDestination(dstPath, errno);
        }
        created = true;
    } else if (S_ISLNK(dst.st_mode)) {
        // Merging through it would leave the target tree.
        throw Stop{kOntoFolder, dstPath,
                   "Der Ordner " + Quoted(srcPath) + " kann nicht mit " + Quoted(dstPath) +
                       " zusammengeführt werden: dort steht eine Verknüpfung."};
    } else if (!S_ISDIR(dst.st_mode)) {
        throw Stop{kOntoFile, dstPath,
                   "Der Ordner " + Quoted(srcPath) + " kann nicht an die Stelle der Datei " +
                       Quoted(dstPath) + " kopiert werden."};
    }
    UniqueFd dstFd(
        ::openat(dstDirFd, dstName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dstFd.ok()) {
        StopDestination(dstPath, errno);
    }
    if (!created) {
        RemoveLeftovers(dstFd.get());
    }
    NoteForSync(dstFd.get());
    struct FinalBits {
        int fd;
        mode_t mode;
        bool pending;
        ~FinalBits() {
            if (pending) {
                (void)::fchmod(fd, mode);
            }
        }
    } finalBits{dstFd.get(), wanted, created && !finalAtOnce};

    std::vector<Listed> entries;
    if (!ListFolder(srcFd, entries)) {
        StopUnreadable(srcPath, errno);
    }
    for (const Listed& entry : entries) {
        const std::string childPath = Join(srcPath, entry.name);
        const mode_t type = TypeOf(srcFd, entry);
        if (type == 0) {
            StopUnreadable(childPath, errno);
        }
        CopyEntry(srcFd, entry.name, false, type, childPath, dstFd.get(), entry.name,
                  Join(dstPath, entry.name), created);
    }
    if (finalBits.pending) {
        finalBits.pending = false;
        if (::fchmod(dstFd.get(), wanted) != 0) {
            StopDestination(dstPath, errno);
        }
    }
}

Replaced CopyRun::Prepare(int dstDirFd, const std::string& dstName, const std::string& dstPath,
                          const std::string& srcPath) {
    Replaced old;
    if (::fstatat(dstDirFd, dstName.c_str(), &old.st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            StopDestination(dstPath, errno);
        }
        return old;
    }
    if (S_ISDIR(old.st.st_mode)) {
        throw Stop{kOntoFolder, dstPath,
                   Quoted(srcPath) + " kann nicht kopiert werden: am Ziel steht der Ordner " +
                       Quoted(dstPath) + "."};
    }
    if (S_ISLNK(old.st.st_mode)) {
        return old;  // the link itself is replaced, never the file it points to
    }
    if (!S_ISREG(old.st.st_mode)) {
        throw Stop{
            kDestination, dstPath,
            Quoted(dstPath) + " ist " + SpecialKind(old.st.st_mode) + " und wird nicht ersetzt."};
    }
    old.regular = true;
    // A file that another process holds locked (an open database) stays as it is. One that the
    // runner may not even read cannot be asked; the folder's permissions then decide.
    old.lock.Reset(::openat(dstDirFd, dstName.c_str(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (old.lock.ok() && ::flock(old.lock.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        throw Stop{kInUse, dstPath,
                   "Die Datei " + Quoted(dstPath) +
                       " wird von einem anderen Programm verwendet und kann nicht ersetzt "
                       "werden."};
    }
    return old;
}

void CopyRun::CopyFile(int srcDirFd, const std::string& srcAt, bool follow,
                       const std::string& srcPath, int dstDirFd, const std::string& dstName,
                       const std::string& dstPath, bool fresh) {
    progress_.currentFile = srcPath;
    observer_.Progress(progress_);
    UniqueFd in(::openat(srcDirFd, srcAt.c_str(),
                         O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW)));
    if (!in.ok()) {
        StopUnreadable(srcPath, errno);
    }
    struct stat st {};
    if (::fstat(in.get(), &st) != 0) {
        StopUnreadable(srcPath, errno);
    }
    if (!S_ISREG(st.st_mode)) {
        StopSpecial(srcPath, st.st_mode);  // it was swapped since the folder was read
    }
    const Replaced old = fresh ? Replaced{} : Prepare(dstDirFd, dstName, dstPath, srcPath);

    // The file gets its bits at once where the creation mask leaves them alone; it is still
    // under its temporary name.
    const mode_t mode = st.st_mode & 01777;
    const bool modeAtOnce = umask_ >= 0 && (mode & static_cast<mode_t>(umask_)) == 0;
    TempEntry temp(*this, dstDirFd);
    temp.CreateFile(dstPath, modeAtOnce ? mode : 0600);
    CopyData(in.get(), temp.fd(), st, srcPath, dstPath);
    if (old.regular && ::fchown(temp.fd(), old.st.st_uid, old.st.st_gid) != 0) {
        // Who may not give a file away may still keep its group.
        (void)::fchown(temp.fd(), static_cast<uid_t>(-1), old.st.st_gid);
    }
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    if ((!modeAtOnce && ::fchmod(temp.fd(), mode) != 0) || ::futimens(temp.fd(), times) != 0) {
        StopDestination(dstPath, errno);
    }
    temp.PutInPlace(dstName, dstPath);
    ++result_.filesCopied;
    ++progress_.filesDone;
    observer_.Progress(progress_);
}

void CopyRun::CopyData(int in, int out, const struct stat& st, const std::string& srcPath,
                       const std::string& dstPath) {
    // The file is copied as large as it was when it was opened; only a file that claims to be
    // empty is read to its end (files of /proc and the like have data but no size).
    const auto size = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t done = 0;
    const auto wanted = [&](std::size_t most) {
        return size == 0 ? most
                         : static_cast<std::size_t>(std::min<std::uint64_t>(most, size - done));
    };
    // The kernel copies by itself where it can, and a copy-on-write file system shares the
    // data instead of copying it. Where it cannot, or fails, plain reads and writes take over
    // and tell a read error from a write error.
    bool useRange = !rangeUnsupported_ && size > 0;
    if (size > kChunkBytes) {
        // A longer read-ahead, as cp asks for too.
        (void)::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    while (size == 0 || done < size) {
        CheckCancel();
        ssize_t n;
        if (useRange) {
            n = ::copy_file_range(in, nullptr, out, nullptr, wanted(kChunkBytes), 0);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                if (n < 0 && (errno == ENOSYS || errno == EOPNOTSUPP)) {
                    rangeUnsupported_ = true;
                }
                useRange = false;  // and a short file is found short by read()
                continue;
            }
        } else {
            if (buffer_.empty()) {
                buffer_.resize(kBufferBytes);
            }
            do {
                n = ::read(in, buffer_.data(), wanted(buffer_.size()));
            } while (n < 0 && errno == EINTR);
            if (n < 0) {
                StopUnreadable(srcPath, errno);
            }
            if (n == 0) {
                return;  // it shrank since it was opened
            }
            if (!WriteAll(out, std::string_view(buffer_.data(), static_cast<std::size_t>(n)))) {
                StopDestination(dstPath, errno);
            }
        }
        done += static_cast<std::uint64_t>(n);
        Advance(static_cast<std::uint64_t>(n));
    }
}

void CopyRun::CopyLink(int srcDirFd, const std::string& srcAt, const std::string& srcPath,
                       int dstDirFd, const std::string& dstName, const std::string& dstPath,
                       bool fresh) {
    progress_.currentFile = srcPath;
    observer_.Progress(progress_);
    std::string target(256, '\0');
    while (true) {
        const ssize_t n = ::readlinkat(srcDirFd, srcAt.c_str(), target.data(), target.size());
        if (n < 0) {
            StopUnreadable(srcPath, errno);
        }
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            break;
        }
        target.resize(target.size() * 2);
    }
    const Replaced old = fresh ? Replaced{} : Prepare(dstDirFd, dstName, dstPath, srcPath);
    TempEntry temp(*this, dstDirFd);
    temp.CreateLink(target, dstPath);
    temp.PutInPlace(dstName, dstPath);
    ++result_.filesCopied;
    ++progress_.filesDone;
    observer_.Progress(progress_);
}

void CopyRun::RemoveLeftovers(int dirFd) {
    std::vector<Listed> entries;
    if (!ListFolder(dirFd, entries)) {
        return;  // what cannot be read here cannot be written either; the copy will say so
    }
    for (const Listed& entry : entries) {
        const std::string& name = entry.name;
        if (!IsCopyTempName(name)) {
            continue;
        }
        struct stat st {};
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            ::unlinkat(dirFd, name.c_str(), 0);
        } else if (S_ISREG(st.st_mode)) {
            // A file still locked is being written by a copy that is running right now.
            UniqueFd fd(
                ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            if (fd.ok() && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
                ::unlinkat(dirFd, name.c_str(), 0);
            }
        }
    }
}

void CopyRun::NoteForSync(int dirFd) {
    struct stat st {};
    if (::fstat(dirFd, &st) != 0 || syncFds_.count(st.st_dev) != 0) {
        return;
    }
    syncFds_.emplace(st.st_dev, UniqueFd(::fcntl(dirFd, F_DUPFD_CLOEXEC, 0)));
}

void CopyRun::SyncAll() {
    for (const auto& [dev, fd] : syncFds_) {
        if (!fd.ok() || ::syncfs(fd.get()) != 0) {
            const int e = fd.ok() ? errno : EMFILE;
            throw Stop{kDestination, "",
                       "Die kopierten Dateien konnten nicht dauerhaft gespeichert werden: " +
                           Cause(e) + "."};
        }
    }
}

}  // namespace

bool IsCopyTempName(std::string_view name) {
    if (name.size() != 1 + kTempDigits + kTempSuffix.size() || name.front() != '.' ||
        name.substr(1 + kTempDigits) != kTempSuffix) {
        return false;
    }
    return std::all_of(name.begin() + 1, name.begin() + 1 + kTempDigits,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

CopyResult CopyService::Copy(const std::string& source, const std::string& target,
                             CopyObserver& observer) {
    CopyRun run(observer);
    try {
        run.Go(source, target);
    } catch (const Cancelled&) {
        run.result().status = kCancelled;
        run.result().aborted = true;
    } catch (const Stop& stop) {
        run.result().status = stop.status;
        observer.Failed({stop.status, stop.path, stop.text});
    } catch (const std::bad_alloc&) {
        run.result().status = kDestination;
        observer.Failed({kDestination, "", "Nicht genügend Speicher zum Kopieren."});
    }
    return run.result();
}

}  // namespace tarnu::posix
