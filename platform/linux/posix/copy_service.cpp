#include "platform/linux/posix/copy_service.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <vector>

#include "platform/linux/files/file_io.h"
#include "platform/linux/files/path_walk.h"
#include "ports/files.h"
#include "ports/printable_name.h"

namespace tarnu::posix {

namespace {

using namespace copy_status;
using files::Kind;
using files::UniqueFd;

// Large enough that a copy costs few calls, small enough that a cancel is answered within a
// moment even on a slow disk.
constexpr std::size_t kChunkBytes = 8 << 20;
// Where the kernel cannot copy between the two files itself.
constexpr std::size_t kBufferBytes = 1 << 20;

constexpr std::string_view kTempPrefix = ".";
constexpr std::string_view kTempSuffix = ".tarnu-tmp";
constexpr std::size_t kTempDigits = 16;
// Temporary names listed in a message about a copy stopped while its files took their names.
constexpr std::size_t kNamesListed = 10;

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

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
        case EAGAIN:
            return "die Datei wurde während des Kopierens ausgetauscht";
        case files::kRefusedLink:
            return "eine Verknüpfung auf dem Weg gehört weder root noch dem Besitzer ihres "
                   "Ordners, oder sie führt zu Dateien eines anderen Benutzers";
        case files::kSpecialFile:
            return "dort steht keine gewöhnliche Datei";
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

// The folder a path names its last part in ("." for a bare name, "/" for a name in the root)
// and the last part, for paths without a separator at their end.
std::string FolderPart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}
std::string NamePart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
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

// The names in a folder, without "." and "..", in byte order so that every run goes the same
// way. Returns false with errno set when the folder cannot be read.
bool ListFolder(int fd, std::vector<std::string>& names) {
    names.clear();
    const int own = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
    while (true) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            break;
        }
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    const int e = errno;
    ::closedir(dir);
    errno = e;
    std::sort(names.begin(), names.end());
    return e == 0;
}

// The process's file creation mask, without changing it; 022 when it cannot be read.
mode_t ReadUmask() {
    UniqueFd fd(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
    char text[4096];
    const ssize_t n = fd.ok() ? ::read(fd.get(), text, sizeof text - 1) : -1;
    if (n <= 0) {
        return 022;
    }
    text[n] = '\0';
    const char* line = std::strstr(text, "\nUmask:");
    return line ? static_cast<mode_t>(std::strtol(line + 7, nullptr, 8)) & 0777 : 022;
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

bool SameFile(const struct stat& a, dev_t dev, ino_t ino) {
    return a.st_dev == dev && a.st_ino == ino;
}

// A new name nobody can guess for a link beside its final name, made without following
// anything; files get theirs from files::CreateTemporary.
int CreateTemporaryLink(int folder, const std::string& target, std::string& name) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[kTempDigits / 2];
        if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        std::string candidate(kTempPrefix);
        for (unsigned char b : random) {
            candidate += kHex[b >> 4];
            candidate += kHex[b & 0xF];
        }
        candidate += kTempSuffix;
        if (::symlinkat(target.c_str(), folder, candidate.c_str()) == 0) {
            name = std::move(candidate);
            return 0;
        }
        if (errno != EEXIST) {
            return errno;
        }
    }
    return EEXIST;
}

// Whether another process holds the engine's lock on the regular file name in folder. A file
// the runner may not even open cannot be asked; the folder's permissions then decide.
bool HeldByAnother(int folder, const std::string& name, UniqueFd* keep = nullptr) {
    UniqueFd fd;
    struct stat st {};
    if (files::OpenEntry(folder, name, Kind::File, O_RDONLY, fd, st) != 0) {
        return false;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK;
    }
    if (keep) {
        *keep = std::move(fd);
    }
    return false;
}

// One entry of what is copied. Folders list their entries as a block of nodes of their own.
struct Node {
    std::size_t parent = kNone;  // the folder node it lies in; kNone at the top
    std::size_t firstChild = 0;
    std::size_t children = 0;
    std::string name;     // in its source folder
    std::string dstName;  // in its destination folder
    mode_t type = 0;      // S_IFREG, S_IFDIR or S_IFLNK
    mode_t mode = 0;      // the source's permission bits
    std::uint64_t size = 0;
    dev_t dev = 0;
    ino_t ino = 0;

    // What stands at the destination before the copy.
    enum class At : std::uint8_t { Nothing, File, Link, Folder } at = At::Nothing;
    std::uint64_t atSize = 0;
    dev_t atDev = 0;  // of the folder there, or of the one this run made
    ino_t atIno = 0;
    bool made = false;     // a folder this run made
    bool touched = false;  // a folder this run wrote into, or one above such a folder

    std::string temp;  // the temporary name of the copy, once it is written
    dev_t tempDev = 0;
    ino_t tempIno = 0;
    bool placed = false;  // renamed to its final name
};

// A copy that stopped while its files took their final names.
struct CommitStop {
    int status;
    std::size_t node;
    std::string cause;
};

class CopyRun {
  public:
    CopyRun(CopyObserver& observer, const FaultSeam& fault) : observer_(observer), fault_(fault) {}

    void Copy(std::string source, std::string target);
    CopySurvey Survey(std::string source, std::string target);
    CopyResult& result() { return result_; }
    // Takes away the temporary files and the folders of this run: before the commit pass all of
    // them, after a stop inside it those that did not take their names.
    void RollBack();
    std::string CommitFailureText(const CommitStop& stop);
    std::string FailedPath(const CommitStop& stop) const { return DstPath(stop.node); }

  private:
    bool IsFolder(std::size_t i) const { return S_ISDIR(nodes_[i].type); }
    void CheckCancel() {
        if (observer_.CancelRequested()) {
            throw Cancelled{};
        }
    }
    std::string SrcPath(std::size_t i) const;
    std::string DstPath(std::size_t i) const;

    void FindSources(const std::string& source);
    void AddNode(std::size_t parent, std::string name, const struct stat& st,
                 const std::string& path);
    void PlanSources();
    void ListSource(std::size_t folder, int fd);
    void LookAtTarget(std::string target);
    void CheckIntoItself(int anchor);
    void ReachTarget();
    void PlanDestination(std::vector<SurveyedFile>* survey);
    void Stage();
    void StageFile(std::size_t i, int srcFolder, int dstFolder);
    void StageLink(std::size_t i, int srcFolder, int dstFolder);
    UniqueFd OpenSourceFolder(std::size_t i, int srcFolder);
    UniqueFd StageFolder(std::size_t i, int dstFolder);
    void CopyData(int in, int out, const struct stat& st, std::size_t i);
    void Commit();
    void CommitOne(std::size_t i, int dstFolder);
    void MarkTouched(std::size_t folder);
    void NoteForSync(int fd);
    void SyncAll(const std::string& what);
    void Sweep(int folder);
    bool NoOtherRunAbove(int folder);

    // Goes through the folders of the destination that hold something of this run, outermost
    // first, each reached from the one above it and known by what it was when the run wrote
    // into it. visit(node, folderFd) for each entry; leave(folder, fd, parentFd) after its
    // entries. A folder that is no longer what it was is passed over with its entries.
    template <typename Visit, typename Leave>
    void WalkWritten(Visit visit, Leave leave);

    CopyObserver& observer_;
    const FaultSeam& fault_;
    CopyResult result_;
    CopyProgress progress_;

    std::vector<Node> nodes_;
    std::size_t tops_ = 0;
    bool pattern_ = false;
    std::string source_;
    std::string patternFolder_;
    UniqueFd srcTop_;     // the folder of a pattern's matches
    UniqueFd srcSingle_;  // the one source item that is not a pattern

    std::string target_;
    bool receiving_ = true;  // the items go into the target folder under their own names
    std::string dstFolder_;  // the folder the items go into, as a path for messages
    std::string makePath_;   // the path of that folder where it is not there yet
    UniqueFd dstRoot_;       // that folder, once it is there
    std::vector<files::MadeFolder> made_;
    UniqueFd lock_;
    bool rootTouched_ = false;
    bool committed_ = false;  // every file has its final name

    std::map<dev_t, UniqueFd> syncFds_;
    std::vector<char> buffer_;
    bool rangeUnsupported_ = false;
    mode_t umask_ = ReadUmask();
};

std::string CopyRun::SrcPath(std::size_t i) const {
    std::vector<std::size_t> chain;
    for (; nodes_[i].parent != kNone; i = nodes_[i].parent) {
        chain.push_back(i);
    }
    std::string path = pattern_ ? Join(patternFolder_, nodes_[i].name) : source_;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        path = Join(path, nodes_[*it].name);
    }
    return path;
}

std::string CopyRun::DstPath(std::size_t i) const {
    std::vector<std::size_t> chain;
    for (; nodes_[i].parent != kNone; i = nodes_[i].parent) {
        chain.push_back(i);
    }
    std::string path = receiving_ ? Join(dstFolder_, nodes_[i].dstName) : target_;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        path = Join(path, nodes_[*it].dstName);
    }
    return path;
}

void CopyRun::AddNode(std::size_t parent, std::string name, const struct stat& st,
                      const std::string& path) {
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) {
        StopSpecial(path, st.st_mode);
    }
    Node node;
    node.parent = parent;
    node.dstName = name;
    node.name = std::move(name);
    node.type = st.st_mode & S_IFMT;
    node.mode = st.st_mode & 07777;
    node.size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
    node.dev = st.st_dev;
    node.ino = st.st_ino;
    if (!S_ISDIR(st.st_mode)) {
        ++progress_.filesTotal;
        progress_.bytesTotal += node.size;
    }
    nodes_.push_back(std::move(node));
}

void CopyRun::FindSources(const std::string& source) {
    std::string folder, pattern;
    if (source.back() == '/') {
        // A folder named with a separator at its end stands for everything in it.
        folder = source.size() > 1 ? source.substr(0, source.size() - 1) : source;
        pattern = "*";
    } else if (IsPattern(NamePart(source))) {
        folder = FolderPart(source);
        pattern = NamePart(source);
    }
    files::Reached at;
    if (!pattern.empty()) {
        pattern_ = true;
        patternFolder_ = folder;
        files::Request request;
        request.kind = Kind::Folder;
        const int e = files::Walk(folder, request, at);
        if (e == ENOENT || e == ENOTDIR) {
            throw Stop{kNoSource, folder,
                       "Der Ordner " + Quoted(folder) + " wurde nicht gefunden."};
        }
        if (e != 0) {
            StopUnreadable(folder, e);
        }
        srcTop_ = std::move(at.fd);
        std::vector<std::string> names;
        if (!ListFolder(srcTop_.get(), names)) {
            StopUnreadable(folder, errno);
        }
        for (std::string& name : names) {
            if (!Matches(pattern, name)) {
                continue;
            }
            struct stat st {};
            if (::fstatat(srcTop_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                StopUnreadable(Join(folder, name), errno);
            }
            const std::string path = Join(folder, name);
            AddNode(kNone, std::move(name), st, path);
        }
        tops_ = nodes_.size();
        return;
    }

    // The one item as named; a link there is followed under the link rule.
    source_ = source;
    files::Request request;
    request.kind = Kind::Any;
    const int e = files::Walk(source, request, at);
    if (e == ENOENT || e == ENOTDIR || e == ELOOP) {
        throw Stop{kNoSource, source, "Die Quelle " + Quoted(source) + " wurde nicht gefunden."};
    }
    if (e == files::kSpecialFile) {
        StopSpecial(source, at.st.st_mode);
    }
    if (e != 0) {
        StopUnreadable(source, e);
    }
    std::string name = NamePart(source);
    if (name == "." || name == "..") {
        name = at.name;
    }
    if (name.empty()) {
        // ".", ".." or "/": the copy takes the folder's real name, which its parent lists.
        UniqueFd parent(::openat(at.fd.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat parentSt {};
        std::vector<std::string> names;
        if (parent.ok() && ::fstat(parent.get(), &parentSt) == 0 &&
            !SameFile(parentSt, at.st.st_dev, at.st.st_ino) && ListFolder(parent.get(), names)) {
            for (const std::string& candidate : names) {
                struct stat st {};
                if (::fstatat(parent.get(), candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                    SameFile(st, at.st.st_dev, at.st.st_ino)) {
                    name = candidate;
                }
            }
        }
        if (name.empty()) {
            source_.clear();
            return FindSources("/");
        }
    }
    srcSingle_ = std::move(at.fd);
    AddNode(kNone, std::move(name), at.st, source);
    tops_ = 1;
}

UniqueFd CopyRun::OpenSourceFolder(std::size_t i, int srcFolder) {
    UniqueFd fd;
    if (nodes_[i].parent == kNone && !pattern_) {
        fd.Reset(::openat(srcSingle_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fd.ok()) {
            StopUnreadable(SrcPath(i), errno);
        }
        return fd;
    }
    struct stat st {};
    if (const int e = files::OpenEntry(srcFolder, nodes_[i].name, Kind::Folder, O_RDONLY, fd, st)) {
        StopUnreadable(SrcPath(i), e == ELOOP || e == ENOTDIR ? EAGAIN : e);
    }
    return fd;
}

void CopyRun::ListSource(std::size_t folder, int fd) {
    CheckCancel();
    std::vector<std::string> names;
    if (!ListFolder(fd, names)) {
        StopUnreadable(SrcPath(folder), errno);
    }
    nodes_[folder].firstChild = nodes_.size();
    nodes_[folder].children = names.size();
    const std::string path = SrcPath(folder);
    for (std::string& name : names) {
        const std::string childPath = Join(path, name);
        struct stat st {};
        if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            StopUnreadable(childPath, errno);
        }
        AddNode(folder, std::move(name), st, childPath);
    }
}

void CopyRun::PlanSources() {
    // Without recursion, so that no depth of folders can exhaust the stack, and with one open
    // folder for each level.
    struct Level {
        std::size_t node;
        UniqueFd fd;
        std::size_t next = 0;
    };
    std::vector<Level> levels;
    for (std::size_t top = 0; top < tops_; ++top) {
        if (!IsFolder(top)) {
            continue;
        }
        levels.push_back({top, OpenSourceFolder(top, srcTop_.get())});
        ListSource(top, levels.back().fd.get());
        while (!levels.empty()) {
            Level& level = levels.back();
            if (level.next == nodes_[level.node].children) {
                levels.pop_back();
                continue;
            }
            const std::size_t child = nodes_[level.node].firstChild + level.next++;
            if (!IsFolder(child)) {
                continue;
            }
            if (levels.size() >= static_cast<std::size_t>(kMaxFolderDepth)) {
                throw Stop{kTooDeep, SrcPath(top),
                           "Im Ordner " + Quoted(SrcPath(top)) + " liegen mehr als " +
                               std::to_string(kMaxFolderDepth) +
                               " Ordner ineinander; so tief verschachtelte Ordner werden nicht "
                               "kopiert. Es wurde nichts geschrieben."};
            }
            UniqueFd fd = OpenSourceFolder(child, level.fd.get());
            levels.push_back({child, std::move(fd)});
            ListSource(child, levels.back().fd.get());
        }
    }
}

void CopyRun::LookAtTarget(std::string target) {
    if (target.empty()) {
        target = ".";  // as in the shell
    }
    bool separatorEnded = target.size() > 1 && target.back() == '/';
    if (separatorEnded) {
        target.pop_back();
    }
    const std::string last = NamePart(target);
    if (last == "." || last == "..") {
        separatorEnded = true;  // a folder by its very name
    }
    target_ = target;

    files::Request request;
    request.kind = Kind::Folder;
    request.mayBeMissing = true;
    files::Reached at;
    const int e = files::Walk(target, request, at);
    bool exists = false;
    bool isFolder = false;
    bool onTheWay = false;  // folders on the way are missing
    if (e == 0) {
        exists = isFolder = at.fd.ok();
        if (!exists) {
            // A link at the end that leads nowhere is no name to create a file under.
            files::Request look;
            look.kind = Kind::Any;
            look.lastLink = files::LastLink::Keep;
            look.mayBeMissing = true;
            files::Reached link;
            if (files::Walk(target, look, link) == 0 && link.fd.ok() && S_ISLNK(link.st.st_mode)) {
                throw Stop{kDestination, target,
                           "Die Verknüpfung " + Quoted(target) + " führt ins Leere."};
            }
        }
    } else if ((e == ENOTDIR || e == files::kSpecialFile) && at.folder.ok()) {
        exists = true;  // a file, or something else that is no folder
    } else if (e == ENOENT) {
        onTheWay = true;
    } else if (e == files::kRefusedLink) {
        throw Stop{kDestination, target,
                   "Der Verknüpfung in " + Quoted(target) +
                       " wird nicht gefolgt: sie gehört weder root noch dem Besitzer ihres "
                       "Ordners, oder sie führt zu Dateien eines anderen Benutzers."};
    } else {
        StopDestination(target, e);
    }

    // Either a receiving folder that takes every item under its own name, or the one item
    // copied to the target's name.
    if (separatorEnded || isFolder) {
        if (exists && !isFolder) {
            throw Stop{kOntoFile, target,
                       "Das Ziel " + Quoted(target) + " ist kein Ordner, sondern eine Datei."};
        }
    } else if (!pattern_) {
        if (exists && IsFolder(0)) {
            throw Stop{kOntoFile, target,
                       "Der Ordner " + Quoted(SrcPath(0)) + " kann nicht an die Stelle der Datei " +
                           Quoted(target) + " kopiert werden."};
        }
        receiving_ = false;
    } else if (exists && tops_ > 0) {
        throw Stop{kOntoFile, target,
                   "Das Ziel " + Quoted(target) +
                       " ist eine Datei; mehrere Dateien können nicht dorthin kopiert werden."};
    }

    if (receiving_) {
        dstFolder_ = target;
        if (isFolder) {
            dstRoot_ = std::move(at.fd);
        } else {
            makePath_ = target;
        }
    } else {
        dstFolder_ = FolderPart(target);
        if (onTheWay) {
            makePath_ = dstFolder_;
            nodes_[0].dstName = last;
        } else {
            dstRoot_ = std::move(at.folder);
            nodes_[0].dstName = at.name;
        }
    }
}

void CopyRun::CheckIntoItself(int anchor) {
    for (std::size_t top = 0; top < tops_; ++top) {
        if (!IsFolder(top)) {
            continue;
        }
        // Up from the folder the copy goes to (or the nearest one of its path that is there)
        // to the root: the source folder must not be on the way.
        UniqueFd cur(::openat(anchor, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat st {};
        for (int up = 0; cur.ok() && ::fstat(cur.get(), &st) == 0 && up < 4096; ++up) {
            if (SameFile(st, nodes_[top].dev, nodes_[top].ino)) {
                throw Stop{kIntoItself, SrcPath(top),
                           "Der Ordner " + Quoted(SrcPath(top)) +
                               " kann nicht in sich selbst kopiert werden: das Ziel " +
                               Quoted(DstPath(top)) + " liegt darin."};
            }
            UniqueFd parent(::openat(cur.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
            struct stat parentSt {};
            if (!parent.ok() || ::fstat(parent.get(), &parentSt) != 0 ||
                SameFile(parentSt, st.st_dev, st.st_ino)) {
                break;
            }
            cur = std::move(parent);
        }
    }
}

// The nearest folder of path that is there: path itself, or the folder of a part before it.
UniqueFd NearestFolder(std::string path) {
    for (;;) {
        files::Request request;
        request.kind = Kind::Folder;
        files::Reached at;
        const int e = files::Walk(path, request, at);
        if (e == 0) {
            return std::move(at.fd);
        }
        if (e != ENOENT || path == "/" || path == ".") {
            return {};
        }
        path = FolderPart(path);
    }
}

void CopyRun::ReachTarget() {
    if (!dstRoot_.ok()) {
        files::Request request;
        request.kind = Kind::Folder;
        request.makeFolders = true;
        files::Reached at;
        const int e = files::Walk(makePath_, request, at);
        made_ = std::move(at.made);
        if (e != 0) {
            StopDestination(makePath_, e);
        }
        dstRoot_ = std::move(at.fd);
    }
    // One run at a time in a folder: another update of it, or a compaction of the program
    // folder it is, waits for this one, or this one for it.
    const int e = files::LockFolder(dstRoot_.get(), kFolderLockWaitMs, lock_);
    if (e == EWOULDBLOCK) {
        throw Stop{kInUse, dstFolder_, FolderBusyText(dstFolder_)};
    }
    if (e != 0) {
        StopDestination(dstFolder_, e);
    }
}

void CopyRun::PlanDestination(std::vector<SurveyedFile>* survey) {
    struct Level {
        std::size_t node;
        UniqueFd fd;
        std::size_t next = 0;
    };
    std::vector<Level> levels;
    // Looks at what stands at node i's name in folder; true when the node is a folder that is
    // there already and holds more to look at.
    const auto look = [&](std::size_t i, int folder) {
        Node& n = nodes_[i];
        struct stat st {};
        if (folder < 0 || ::fstatat(folder, n.dstName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (folder >= 0 && errno != ENOENT) {
                StopDestination(DstPath(i), errno);
            }
            n.at = Node::At::Nothing;
        } else if (n.parent == kNone && SameFile(st, n.dev, n.ino)) {
            throw Stop{kSameFile, SrcPath(i),
                       Quoted(SrcPath(i)) + " kann nicht auf sich selbst kopiert werden."};
        } else if (IsFolder(i)) {
            if (S_ISLNK(st.st_mode)) {
                // Merging through it would leave the target tree.
                throw Stop{kOntoFolder, DstPath(i),
                           "Der Ordner " + Quoted(SrcPath(i)) + " kann nicht mit " +
                               Quoted(DstPath(i)) +
                               " zusammengeführt werden: dort steht eine Verknüpfung."};
            }
            if (!S_ISDIR(st.st_mode)) {
                throw Stop{kOntoFile, DstPath(i),
                           "Der Ordner " + Quoted(SrcPath(i)) +
                               " kann nicht an die Stelle der Datei " + Quoted(DstPath(i)) +
                               " kopiert werden."};
            }
            n.at = Node::At::Folder;
            n.atDev = st.st_dev;
            n.atIno = st.st_ino;
        } else if (S_ISDIR(st.st_mode)) {
            throw Stop{kOntoFolder, DstPath(i),
                       Quoted(SrcPath(i)) +
                           " kann nicht kopiert werden: am Ziel steht der Ordner " +
                           Quoted(DstPath(i)) + "."};
        } else if (S_ISLNK(st.st_mode)) {
            n.at = Node::At::Link;  // the link itself is replaced, never what it leads to
        } else if (S_ISREG(st.st_mode)) {
            n.at = Node::At::File;
            n.atSize = static_cast<std::uint64_t>(st.st_size);
        } else {
            throw Stop{kDestination, DstPath(i),
                       Quoted(DstPath(i)) + " ist " + SpecialKind(st.st_mode) +
                           " und wird nicht ersetzt."};
        }
        if (survey && !IsFolder(i)) {
            SurveyedFile file;
            file.path = DstPath(i);
            file.size = n.size;
            file.replaces = n.at != Node::At::Nothing;
            file.replacedSize = n.atSize;
            if (n.at == Node::At::File && HeldByAnother(folder, n.dstName)) {
                file.use = FileUse::InUse;
            }
            survey->push_back(std::move(file));
        }
        return n.at == Node::At::Folder;
    };
    const auto open = [&](std::size_t i, int folder) {
        UniqueFd fd;
        struct stat st {};
        int e = files::OpenEntry(folder, nodes_[i].dstName, Kind::Folder, O_RDONLY, fd, st);
        if (e == 0 && !SameFile(st, nodes_[i].atDev, nodes_[i].atIno)) {
            e = EAGAIN;
        }
        if (e != 0) {
            StopDestination(DstPath(i), e);
        }
        NoteForSync(fd.get());
        return fd;
    };

    const int root = dstRoot_.ok() ? dstRoot_.get() : -1;
    for (std::size_t top = 0; top < tops_; ++top) {
        if (!look(top, root) && !(survey && IsFolder(top))) {
            continue;
        }
        // A survey lists also the files of folders that are not there yet.
        levels.push_back({top, nodes_[top].at == Node::At::Folder ? open(top, root) : UniqueFd()});
        while (!levels.empty()) {
            Level& level = levels.back();
            if (level.next == nodes_[level.node].children) {
                levels.pop_back();
                continue;
            }
            const std::size_t child = nodes_[level.node].firstChild + level.next++;
            const int folder = level.fd.ok() ? level.fd.get() : -1;
            if (look(child, folder)) {
                levels.push_back({child, open(child, folder)});
            } else if (survey && IsFolder(child)) {
                levels.push_back({child, UniqueFd()});
            }
        }
    }
}

void CopyRun::MarkTouched(std::size_t folder) {
    for (; folder != kNone && !nodes_[folder].touched; folder = nodes_[folder].parent) {
        nodes_[folder].touched = true;
    }
    rootTouched_ = true;
}

UniqueFd CopyRun::StageFolder(std::size_t i, int dstFolder) {
    Node& n = nodes_[i];
    if (n.at != Node::At::Folder) {
        // Writable for the run until its files have their names, whatever the source's bits.
        if (::mkdirat(dstFolder, n.dstName.c_str(), (n.mode & 01777) | S_IRWXU) != 0) {
            StopDestination(DstPath(i), errno);
        }
    }
    UniqueFd fd;
    struct stat st {};
    int e = files::OpenEntry(dstFolder, n.dstName, Kind::Folder, O_RDONLY, fd, st);
    if (e == 0 && n.at == Node::At::Folder && !SameFile(st, n.atDev, n.atIno)) {
        e = EAGAIN;
    }
    if (e != 0) {
        StopDestination(DstPath(i), e);
    }
    if (n.at != Node::At::Folder) {
        n.made = true;
        n.atDev = st.st_dev;
        n.atIno = st.st_ino;
        MarkTouched(i);
    }
    return fd;
}

void CopyRun::Stage() {
    struct Level {
        std::size_t node;
        UniqueFd src;
        UniqueFd dst;
        std::size_t next = 0;
    };
    const auto stage = [&](std::size_t i, int srcFolder, int dstFolder) {
        if (S_ISREG(nodes_[i].type)) {
            StageFile(i, srcFolder, dstFolder);
        } else if (S_ISLNK(nodes_[i].type)) {
            StageLink(i, srcFolder, dstFolder);
        }
    };
    std::vector<Level> levels;
    for (std::size_t top = 0; top < tops_; ++top) {
        CheckCancel();
        if (!IsFolder(top)) {
            stage(top, srcTop_.get(), dstRoot_.get());
            continue;
        }
        UniqueFd src = OpenSourceFolder(top, srcTop_.get());
        levels.push_back({top, std::move(src), StageFolder(top, dstRoot_.get())});
        while (!levels.empty()) {
            Level& level = levels.back();
            if (level.next == nodes_[level.node].children) {
                levels.pop_back();
                continue;
            }
            const std::size_t child = nodes_[level.node].firstChild + level.next++;
            CheckCancel();
            if (!IsFolder(child)) {
                stage(child, level.src.get(), level.dst.get());
                continue;
            }
            UniqueFd childSrc = OpenSourceFolder(child, level.src.get());
            UniqueFd childDst = StageFolder(child, level.dst.get());
            levels.push_back({child, std::move(childSrc), std::move(childDst)});
        }
    }
}

void CopyRun::StageFile(std::size_t i, int srcFolder, int dstFolder) {
    const std::string srcPath = SrcPath(i);
    const std::string dstPath = DstPath(i);
    progress_.currentFile = srcPath;
    observer_.Progress(progress_);
    UniqueFd in;
    struct stat st {};
    if (nodes_[i].parent == kNone && !pattern_) {
        in = std::move(srcSingle_);
        if (::fstat(in.get(), &st) != 0) {
            StopUnreadable(srcPath, errno);
        }
    } else if (const int e =
                   files::OpenEntry(srcFolder, nodes_[i].name, Kind::File, O_RDONLY, in, st)) {
        if (e == files::kSpecialFile) {
            StopSpecial(srcPath, st.st_mode);  // it was swapped since the folder was read
        }
        StopUnreadable(srcPath, e == ELOOP || e == EISDIR ? EAGAIN : e);
    }
    // A file that another process holds locked (an open database) stays as it is.
    if (nodes_[i].at == Node::At::File && HeldByAnother(dstFolder, nodes_[i].dstName)) {
        throw Stop{kInUse, dstPath,
                   "Die Datei " + Quoted(dstPath) +
                       " wird von einem anderen Programm verwendet und kann nicht ersetzt "
                       "werden."};
    }

    // The runner's file with the source's bits less setuid and setgid, handed to open so that
    // the umask, a default ACL and a set-group-ID folder have their say, as with cp.
    UniqueFd out;
    std::string temp;
    if (const int e =
            files::CreateTemporary(dstFolder, std::string(kTempPrefix), std::string(kTempSuffix),
                                   st.st_mode & 01777, out, temp)) {
        StopDestination(dstPath, e);
    }
    Node& n = nodes_[i];
    n.temp = std::move(temp);
    struct stat made {};
    ::fstat(out.get(), &made);
    n.tempDev = made.st_dev;
    n.tempIno = made.st_ino;
    MarkTouched(n.parent);
    if (fault_) {
        if (const int e = fault_(FaultPoint::Write, dstPath)) {
            StopDestination(dstPath, e);
        }
    }
    CopyData(in.get(), out.get(), st, i);
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    if (::futimens(out.get(), times) != 0 || !out.Close()) {
        StopDestination(dstPath, errno);
    }
    ++progress_.filesDone;
    observer_.Progress(progress_);
}

void CopyRun::StageLink(std::size_t i, int srcFolder, int dstFolder) {
    const std::string srcPath = SrcPath(i);
    progress_.currentFile = srcPath;
    observer_.Progress(progress_);
    std::string target(256, '\0');
    while (true) {
        const ssize_t n =
            ::readlinkat(srcFolder, nodes_[i].name.c_str(), target.data(), target.size());
        if (n < 0) {
            StopUnreadable(srcPath, errno == EINVAL ? EAGAIN : errno);
        }
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            break;
        }
        target.resize(target.size() * 2);
    }
    std::string temp;
    if (const int e = CreateTemporaryLink(dstFolder, target, temp)) {
        StopDestination(DstPath(i), e);
    }
    Node& n = nodes_[i];
    struct stat made {};
    ::fstatat(dstFolder, temp.c_str(), &made, AT_SYMLINK_NOFOLLOW);
    n.temp = std::move(temp);
    n.tempDev = made.st_dev;
    n.tempIno = made.st_ino;
    MarkTouched(n.parent);
    ++progress_.filesDone;
    observer_.Progress(progress_);
}

void CopyRun::CopyData(int in, int out, const struct stat& st, std::size_t i) {
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
                StopUnreadable(SrcPath(i), errno);
            }
            if (n == 0) {
                break;  // it shrank since it was opened
            }
            if (!files::WriteAll(out,
                                 std::string_view(buffer_.data(), static_cast<std::size_t>(n)))) {
                StopDestination(DstPath(i), errno);
            }
        }
        done += static_cast<std::uint64_t>(n);
        progress_.bytesDone += static_cast<std::uint64_t>(n);
        observer_.Progress(progress_);
    }
    nodes_[i].size = done;
}

template <typename Visit, typename Leave>
void CopyRun::WalkWritten(Visit visit, Leave leave) {
    struct Level {
        std::size_t node;
        UniqueFd fd;
        std::size_t next = 0;
    };
    if (!rootTouched_) {
        return;
    }
    const int root = dstRoot_.get();
    std::vector<Level> levels;
    const auto enter = [&](std::size_t i, int parent) {
        const Node& n = nodes_[i];
        if (!IsFolder(i) || !n.touched) {
            return false;
        }
        UniqueFd fd;
        struct stat st {};
        if (files::OpenEntry(parent, n.dstName, Kind::Folder, O_RDONLY, fd, st) != 0 ||
            !SameFile(st, n.atDev, n.atIno)) {
            return false;
        }
        levels.push_back({i, std::move(fd)});
        return true;
    };
    for (std::size_t top = 0; top < tops_; ++top) {
        visit(top, root);
        if (!enter(top, root)) {
            continue;
        }
        while (!levels.empty()) {
            Level& level = levels.back();
            if (level.next == nodes_[level.node].children) {
                const int parent = levels.size() > 1 ? levels[levels.size() - 2].fd.get() : root;
                leave(level.node, level.fd.get(), parent);
                levels.pop_back();
                continue;
            }
            const std::size_t child = nodes_[level.node].firstChild + level.next++;
            const int folder = level.fd.get();
            visit(child, folder);
            enter(child, folder);
        }
    }
}

void CopyRun::RollBack() {
    if (committed_) {
        return;
    }
    WalkWritten(
        [&](std::size_t i, int folder) {
            const Node& n = nodes_[i];
            if (!n.temp.empty() && !n.placed) {
                files::RemoveIfSame(folder, n.temp, n.tempDev, n.tempIno);
            }
        },
        [&](std::size_t i, int, int parent) {
            const Node& n = nodes_[i];
            struct stat st {};
            if (n.made && ::fstatat(parent, n.dstName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(st.st_mode) && SameFile(st, n.atDev, n.atIno)) {
                ::unlinkat(parent, n.dstName.c_str(), AT_REMOVEDIR);  // only if it is empty
            }
        });
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
        files::RemoveMadeFolder(*it);
    }
}

void CopyRun::CommitOne(std::size_t i, int dstFolder) {
    Node& n = nodes_[i];
    if (n.temp.empty() || n.placed) {
        return;
    }
    // Nobody may open the old file through the engine while the new one takes its name.
    UniqueFd old;
    if (n.at == Node::At::File && HeldByAnother(dstFolder, n.dstName, &old)) {
        throw CommitStop{kInUse, i, "die Datei wird von einem anderen Programm verwendet"};
    }
    int e = fault_ ? fault_(FaultPoint::Rename, DstPath(i)) : 0;
    if (e == 0 && ::renameat(dstFolder, n.temp.c_str(), dstFolder, n.dstName.c_str()) != 0) {
        e = errno;
    }
    if (e != 0) {
        throw CommitStop{kDestination, i, Cause(e)};
    }
    n.placed = true;
    ++result_.filesCopied;
    result_.bytesCopied += n.size;
}

void CopyRun::Commit() {
    WalkWritten([&](std::size_t i, int folder) { CommitOne(i, folder); },
                [&](std::size_t i, int fd, int) {
                    const Node& n = nodes_[i];
                    const mode_t wanted = n.mode & 01777;
                    struct stat st {};
                    if (n.made && (wanted & S_IRWXU) != S_IRWXU && ::fstat(fd, &st) == 0) {
                        // Now that its files have their names it gets the source's bits, and
                        // keeps the set-group-ID bit it took over from the folder above.
                        (void)::fchmod(fd, (wanted & ~umask_) | (st.st_mode & S_ISGID));
                    }
                    if (!n.made) {
                        Sweep(fd);
                    }
                });
    Sweep(dstRoot_.get());
}

std::string CopyRun::CommitFailureText(const CommitStop& stop) {
    std::string text = Quoted(DstPath(stop.node)) + " konnte nicht ersetzt werden: " + stop.cause +
                       ". Das Update ist unvollständig";
    std::vector<std::string> placed;
    std::size_t count = 0;
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        if (nodes_[i].placed && count++ < kNamesListed) {
            placed.push_back(Quoted(DstPath(i)));
        }
    }
    if (count == 0) {
        return text + ": es wurde noch keine Datei ersetzt.";
    }
    text += ". Schon die neue Version haben: ";
    for (std::size_t k = 0; k < placed.size(); ++k) {
        text += (k > 0 ? ", " : "") + placed[k];
    }
    if (count > placed.size()) {
        text += " und " + std::to_string(count - placed.size()) + " weitere";
    }
    return text +
           ". Alle anderen Dateien haben noch die alte Version; ein neuer Lauf des "
           "Kopierens schließt das Update ab.";
}

void CopyRun::NoteForSync(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || syncFds_.count(st.st_dev) != 0) {
        return;
    }
    syncFds_.emplace(st.st_dev, UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 0)));
}

void CopyRun::SyncAll(const std::string& what) {
    for (const auto& [dev, fd] : syncFds_) {
        if (!fd.ok() || ::syncfs(fd.get()) != 0) {
            const int e = fd.ok() ? errno : EMFILE;
            throw Stop{kDestination, "", what + Cause(e) + "."};
        }
    }
}

bool CopyRun::NoOtherRunAbove(int folder) {
    struct stat locked {};
    ::fstat(lock_.get(), &locked);
    UniqueFd cur(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int up = 0; cur.ok() && up < 4096; ++up) {
        struct stat st {};
        if (::fstat(cur.get(), &st) != 0) {
            return false;
        }
        if (!SameFile(st, locked.st_dev, locked.st_ino)) {
            if (::flock(cur.get(), LOCK_SH | LOCK_NB) != 0) {
                return false;
            }
            ::flock(cur.get(), LOCK_UN);
        }
        UniqueFd parent(::openat(cur.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat parentSt {};
        if (!parent.ok() || ::fstat(parent.get(), &parentSt) != 0) {
            return false;
        }
        if (SameFile(parentSt, st.st_dev, st.st_ino)) {
            return true;
        }
        cur = std::move(parent);
    }
    return false;
}

void CopyRun::Sweep(int folder) {
    // Temporary files that runs killed before their end left behind. One of them is known to be
    // abandoned only when the runner owns it and no run of the tool holds the lock of its folder
    // or of a folder above it: a run that is going on right now keeps its own until it ends.
    std::vector<std::string> names;
    if (!ListFolder(folder, names)) {
        return;
    }
    int othersAway = -1;
    for (const std::string& name : names) {
        struct stat st {};
        if (!IsCopyTempName(name) ||
            ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            st.st_uid != ::geteuid() || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) {
            continue;
        }
        if (othersAway < 0) {
            othersAway = NoOtherRunAbove(folder) ? 1 : 0;
        }
        if (othersAway == 0) {
            return;
        }
        files::RemoveIfSame(folder, name, st.st_dev, st.st_ino);
    }
}

void CopyRun::Copy(std::string source, std::string target) {
    if (source.empty()) {
        throw Stop{kNoSource, "", "Es wurde keine Quelle angegeben."};
    }
    FindSources(CollapseSeparators(source));
    PlanSources();
    LookAtTarget(CollapseSeparators(target));
    if (tops_ == 0) {
        return;  // a pattern that matches nothing copies nothing
    }
    const UniqueFd anchor = dstRoot_.ok() ? UniqueFd(::fcntl(dstRoot_.get(), F_DUPFD_CLOEXEC, 0))
                                          : NearestFolder(makePath_);
    if (anchor.ok()) {
        CheckIntoItself(anchor.get());
        // syncfs reports only errors of writes made after its descriptor was opened.
        NoteForSync(anchor.get());
    }
    ReachTarget();
    NoteForSync(dstRoot_.get());
    PlanDestination(nullptr);
    Stage();
    SyncAll("Die kopierten Dateien konnten nicht dauerhaft gespeichert werden: ");
    CheckCancel();
    Commit();
    committed_ = true;
    SyncAll(
        "Die Dateien sind ersetzt, aber ihre neuen Namen konnten nicht dauerhaft gespeichert "
        "werden: ");
}

CopySurvey CopyRun::Survey(std::string source, std::string target) {
    CopySurvey survey;
    survey.keepsOldUntilDone = true;
    try {
        if (source.empty()) {
            survey.outcome = SurveyOutcome::NoSource;
            return survey;
        }
        FindSources(CollapseSeparators(source));
        PlanSources();
        LookAtTarget(CollapseSeparators(target));
        survey.folder = dstFolder_;
        survey.outcome = SurveyOutcome::Surveyed;
        if (tops_ == 0) {
            return survey;
        }
        const UniqueFd anchor = dstRoot_.ok()
                                    ? UniqueFd(::fcntl(dstRoot_.get(), F_DUPFD_CLOEXEC, 0))
                                    : NearestFolder(makePath_);
        if (anchor.ok()) {
            CheckIntoItself(anchor.get());
            struct statvfs fs {};
            if (::fstatvfs(anchor.get(), &fs) == 0) {
                survey.freeBytes = static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
            }
        }
        if (dstRoot_.ok()) {
            // Whether another run works there is learnt by waiting for its lock as the copy
            // will; the copy takes it afresh.
            UniqueFd probe;
            if (files::LockFolder(dstRoot_.get(), kFolderLockWaitMs, probe) == EWOULDBLOCK) {
                survey.outcome = SurveyOutcome::FolderBusy;
                return survey;
            }
        }
        PlanDestination(&survey.files);
    } catch (const Stop& stop) {
        survey.outcome =
            stop.status == kNoSource ? SurveyOutcome::NoSource : SurveyOutcome::Unknown;
        survey.files.clear();
    } catch (...) {
        survey.outcome = SurveyOutcome::Unknown;
        survey.files.clear();
    }
    return survey;
}

class NoObserver : public CopyObserver {
  public:
    void Progress(const CopyProgress&) override {}
    bool CancelRequested() override { return false; }
    void Failed(const CopyFailure&) override {}
};

}  // namespace

bool IsCopyTempName(std::string_view name) {
    if (name.size() != kTempPrefix.size() + kTempDigits + kTempSuffix.size() ||
        name.substr(0, kTempPrefix.size()) != kTempPrefix ||
        name.substr(kTempPrefix.size() + kTempDigits) != kTempSuffix) {
        return false;
    }
    const std::string_view digits = name.substr(kTempPrefix.size(), kTempDigits);
    return std::all_of(digits.begin(), digits.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

CopyResult CopyService::Copy(const std::string& source, const std::string& target,
                             CopyObserver& observer) {
    CopyRun run(observer, fault_);
    const auto fail = [&](int status, const std::string& path, const std::string& text) {
        run.RollBack();
        run.result().status = status;
        observer.Failed({status, path, text});
    };
    try {
        run.Copy(source, target);
    } catch (const Cancelled&) {
        run.RollBack();
        run.result().status = kCancelled;
        run.result().aborted = true;
    } catch (const Stop& stop) {
        fail(stop.status, stop.path, stop.text);
    } catch (const CommitStop& stop) {
        fail(stop.status, run.FailedPath(stop), run.CommitFailureText(stop));
    } catch (const std::bad_alloc&) {
        fail(kDestination, "", "Nicht genügend Speicher zum Kopieren.");
    }
    observer.Finished(run.result());
    return run.result();
}

CopySurvey CopyService::Survey(const std::string& source, const std::string& target) {
    NoObserver observer;
    return CopyRun(observer, fault_).Survey(source, target);
}

}  // namespace tarnu::posix
