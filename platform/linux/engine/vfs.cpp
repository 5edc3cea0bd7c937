#include "platform/linux/engine/vfs.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/linux/files/file_io.h"
#include "platform/linux/files/path_walk.h"

namespace tarnu::engine {

namespace {

constexpr const char* kName = "tarnu";

// SQLite's lock bytes, far beyond the data of any file of ours, as its own layer places them:
// programs that use that layer on the same file keep out of the engine's way and it out of theirs.
constexpr off_t kPendingByte = 0x40000000;
constexpr off_t kReservedByte = kPendingByte + 1;
constexpr off_t kSharedFirst = kPendingByte + 2;
constexpr off_t kSharedSize = 510;

struct Handed {
    const std::string* name = nullptr;
    int fd = -1;
    int folder = -1;
    const std::string* fileName = nullptr;
};
thread_local Handed tHanded;

// SQLite allocates and zeroes this; it holds no C++ objects.
struct File {
    sqlite3_file base;
    int fd;
    int lock;         // the connection's SQLite lock level on a database file
    bool database;    // a database file: locked; else a journal
    bool syncFolder;  // a journal just created, whose folder entry is not on disk yet
    // A database file's folder, or for a new journal a descriptor of the same folder; else -1.
    int folder;
    // A database file's name in its folder, and SQLite's name for its journal: the very pointer
    // SQLite hands to the layer whenever it means that journal.
    char* name;
    const char* journal;
    // The journal this database file opened last, and what stood at the journal's name the last
    // time the layer refused it.
    bool journalKnown;
    dev_t journalDev;
    ino_t journalIno;
    bool refused;
    uid_t refusedOwner;
    mode_t refusedMode;
};

// The open database files of the process, so that a journal SQLite names can be found beside
// its database. Never held across a call that can block.
std::mutex gDatabasesMutex;
std::vector<File*> gDatabases;

sqlite3_vfs* gUnix = nullptr;
sqlite3_vfs gVfs;

File* Of(sqlite3_file* file) {
    return reinterpret_cast<File*>(file);
}

// Locks of the open file description, not of the process: SQLite's connections to one file in
// this process exclude each other like those of different processes, and closing some other
// descriptor of the file drops none of them.
int SetLock(int fd, short type, off_t start, off_t length) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    int rc;
    do {
        rc = ::fcntl(fd, F_OFD_SETLK, &lock);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        return SQLITE_OK;
    }
    return errno == EAGAIN || errno == EACCES ? SQLITE_BUSY : SQLITE_IOERR_LOCK;
}

int Close(sqlite3_file* file) {
    File* f = Of(file);
    if (f->database) {
        SetLock(f->fd, F_UNLCK, 0, 0);
        std::lock_guard<std::mutex> lock(gDatabasesMutex);
        std::erase(gDatabases, f);
    }
    ::close(f->fd);
    if (f->folder >= 0) {
        ::close(f->folder);
    }
    sqlite3_free(f->name);
    f->folder = -1;
    f->name = nullptr;
    return SQLITE_OK;
}

int Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
    auto* out = static_cast<char*>(buffer);
    int got = 0;
    while (got < amount) {
        const ssize_t n = ::pread(Of(file)->fd, out + got, static_cast<size_t>(amount - got),
                                  static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return SQLITE_IOERR_READ;
        }
        if (n == 0) {
            // SQLite expects the missing part zeroed.
            std::memset(out + got, 0, static_cast<size_t>(amount - got));
            return SQLITE_IOERR_SHORT_READ;
        }
        got += static_cast<int>(n);
    }
    return SQLITE_OK;
}

int Write(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
    const auto* in = static_cast<const char*>(buffer);
    int put = 0;
    while (put < amount) {
        const ssize_t n = ::pwrite(Of(file)->fd, in + put, static_cast<size_t>(amount - put),
                                   static_cast<off_t>(offset + put));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 && (errno == ENOSPC || errno == EDQUOT) ? SQLITE_FULL : SQLITE_IOERR_WRITE;
        }
        put += static_cast<int>(n);
    }
    return SQLITE_OK;
}

int Truncate(sqlite3_file* file, sqlite3_int64 size) {
    return ::ftruncate(Of(file)->fd, static_cast<off_t>(size)) == 0 ? SQLITE_OK
                                                                    : SQLITE_IOERR_TRUNCATE;
}

int Sync(sqlite3_file* file, int) {
    File* f = Of(file);
    if (::fdatasync(f->fd) != 0) {
        return SQLITE_IOERR_FSYNC;
    }
    if (f->syncFolder) {
        // A new journal counts only once its name is on disk too. A folder that cannot be read
        // cannot be synced this way; like SQLite's own layer, the journal goes on without it.
        f->syncFolder = false;
        ::fsync(f->folder);
    }
    return SQLITE_OK;
}

int FileSize(sqlite3_file* file, sqlite3_int64* size) {
    struct stat st {};
    if (::fstat(Of(file)->fd, &st) != 0) {
        return SQLITE_IOERR_FSTAT;
    }
    *size = st.st_size;
    return SQLITE_OK;
}

// SQLite's locking protocol on its lock bytes: a reader holds a read lock on the shared range,
// taken through a momentary lock on the pending byte; a writer takes the reserved byte, then the
// pending byte to keep new readers out, then the whole shared range.
int Lock(sqlite3_file* file, int level) {
    File* f = Of(file);
    if (f->lock >= level) {
        return SQLITE_OK;
    }
    if (level == SQLITE_LOCK_SHARED ||
        (level == SQLITE_LOCK_EXCLUSIVE && f->lock < SQLITE_LOCK_PENDING)) {
        const int rc =
            SetLock(f->fd, level == SQLITE_LOCK_SHARED ? F_RDLCK : F_WRLCK, kPendingByte, 1);
        if (rc != SQLITE_OK) {
            return rc;
        }
        if (level == SQLITE_LOCK_EXCLUSIVE) {
            f->lock = SQLITE_LOCK_PENDING;
        }
    }
    if (level == SQLITE_LOCK_SHARED) {
        const int rc = SetLock(f->fd, F_RDLCK, kSharedFirst, kSharedSize);
        const int dropped = SetLock(f->fd, F_UNLCK, kPendingByte, 1);
        if (rc != SQLITE_OK) {
            return rc;
        }
        if (dropped != SQLITE_OK) {
            SetLock(f->fd, F_UNLCK, 0, 0);
            return SQLITE_IOERR_UNLOCK;
        }
        f->lock = SQLITE_LOCK_SHARED;
        return SQLITE_OK;
    }
    const int rc = level == SQLITE_LOCK_RESERVED
                       ? SetLock(f->fd, F_WRLCK, kReservedByte, 1)
                       : SetLock(f->fd, F_WRLCK, kSharedFirst, kSharedSize);
    if (rc != SQLITE_OK) {
        return rc;
    }
    f->lock = level;
    return SQLITE_OK;
}

int Unlock(sqlite3_file* file, int level) {
    File* f = Of(file);
    if (f->lock <= level) {
        return SQLITE_OK;
    }
    if (f->lock > SQLITE_LOCK_SHARED) {
        if (level == SQLITE_LOCK_SHARED &&
            SetLock(f->fd, F_RDLCK, kSharedFirst, kSharedSize) != SQLITE_OK) {
            return SQLITE_IOERR_RDLOCK;
        }
        if (SetLock(f->fd, F_UNLCK, kPendingByte, 2) != SQLITE_OK) {
            return SQLITE_IOERR_UNLOCK;
        }
    }
    if (level == SQLITE_LOCK_NONE && SetLock(f->fd, F_UNLCK, 0, 0) != SQLITE_OK) {
        return SQLITE_IOERR_UNLOCK;
    }
    f->lock = level;
    return SQLITE_OK;
}

int CheckReservedLock(sqlite3_file* file, int* reserved) {
    File* f = Of(file);
    if (f->lock > SQLITE_LOCK_SHARED) {
        *reserved = 1;
        return SQLITE_OK;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kReservedByte;
    lock.l_len = 1;
    if (::fcntl(f->fd, F_OFD_GETLK, &lock) != 0) {
        return SQLITE_IOERR_CHECKRESERVEDLOCK;
    }
    *reserved = lock.l_type != F_UNLCK;
    return SQLITE_OK;
}

int FileControl(sqlite3_file* file, int op, void* argument) {
    switch (op) {
        case SQLITE_FCNTL_LOCKSTATE:
            *static_cast<int*>(argument) = Of(file)->lock;
            return SQLITE_OK;
        case SQLITE_FCNTL_VFSNAME:
            *static_cast<char**>(argument) = sqlite3_mprintf("%s", kName);
            return SQLITE_OK;
        default:
            return SQLITE_NOTFOUND;
    }
}

int SectorSize(sqlite3_file*) {
    return 4096;
}

int DeviceCharacteristics(sqlite3_file*) {
    return SQLITE_IOCAP_POWERSAFE_OVERWRITE;
}

// Version 1: no shared memory (the engine's files never use a write-ahead log) and no mapping.
const sqlite3_io_methods kMethods = {
    1,
    Close,
    Read,
    Write,
    Truncate,
    Sync,
    FileSize,
    Lock,
    Unlock,
    CheckReservedLock,
    FileControl,
    SectorSize,
    DeviceCharacteristics,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

int OpenDatabaseFile(const char* name, File* f, int flags, int* outFlags) {
    if (name == nullptr || tHanded.name == nullptr || *tHanded.name != name) {
        return SQLITE_CANTOPEN;
    }
    const int fd = ::fcntl(tHanded.fd, F_DUPFD_CLOEXEC, 0);
    const int folder = ::fcntl(tHanded.folder, F_DUPFD_CLOEXEC, 0);
    char* fileName = sqlite3_mprintf("%s", tHanded.fileName->c_str());
    tHanded = {};
    if (fd < 0 || folder < 0 || fileName == nullptr) {
        ::close(fd);
        ::close(folder);
        sqlite3_free(fileName);
        return SQLITE_CANTOPEN;
    }
    f->fd = fd;
    f->folder = folder;
    f->name = fileName;
    f->journal = sqlite3_filename_journal(name);
    f->database = true;
    f->base.pMethods = &kMethods;
    {
        std::lock_guard<std::mutex> lock(gDatabasesMutex);
        gDatabases.push_back(f);
    }
    if (outFlags) {
        // A file the engine could only open for reading is read-only to SQLite as well.
        *outFlags =
            (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY
                ? (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY
                : flags;
    }
    return SQLITE_OK;
}

// The database file whose journal SQLite means by `journal`; null for any other name (a
// super-journal named inside a journal, a write-ahead log), which the layer never reaches.
File* DatabaseOfJournal(const char* journal) {
    std::lock_guard<std::mutex> lock(gDatabasesMutex);
    for (File* f : gDatabases) {
        if (f->journal == journal) {
            return f;
        }
    }
    return nullptr;
}

File* MainDatabaseOf(sqlite3* db) {
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
        file == nullptr || file->pMethods != &kMethods) {
        return nullptr;
    }
    return Of(file);
}

std::string JournalName(const File* database) {
    return std::string(database->name) + "-journal";
}

// Only a journal that the runner or the database's owner made may be rolled into the database
// or removed: any other would write pages of somebody else's choosing into it.
bool MayUseJournal(const File* database, const struct stat& journal) {
    struct stat owner {};
    return S_ISREG(journal.st_mode) && ::fstat(database->fd, &owner) == 0 &&
           (journal.st_uid == ::geteuid() || journal.st_uid == owner.st_uid);
}

int RefuseJournal(File* database) {
    struct stat st {};
    ::fstatat(database->folder, JournalName(database).c_str(), &st, AT_SYMLINK_NOFOLLOW);
    database->refused = true;
    database->refusedOwner = st.st_uid;
    database->refusedMode = st.st_mode;
    return SQLITE_PERM;
}

// The rollback journal beside a database file, in its folder: never through a link, never a FIFO
// or device, and never a file that neither the runner nor the database's owner made.
int OpenJournal(const char* name, File* f, int flags, int* outFlags) {
    File* database = DatabaseOfJournal(name);
    struct stat owner {};
    if (database == nullptr || ::fstat(database->fd, &owner) != 0) {
        return SQLITE_CANTOPEN;
    }
    const std::string journal = JournalName(database);
    const bool writing = (flags & SQLITE_OPEN_READWRITE) != 0;
    files::UniqueFd fd;
    struct stat st {};
    int error = files::OpenEntry(database->folder, journal, files::Kind::File,
                                 writing ? O_RDWR : O_RDONLY, fd, st);
    bool created = false;
    if (error == ENOENT && (flags & SQLITE_OPEN_CREATE)) {
        fd.Reset(::openat(database->folder, journal.c_str(),
                          O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                          owner.st_mode & 0777));
        error = fd.ok() && ::fstat(fd.get(), &st) == 0 ? 0 : errno;
        created = error == 0;
    }
    if (error == ELOOP || error == files::kSpecialFile || error == EISDIR || error == EEXIST ||
        error == EACCES || error == EPERM ||
        (error == 0 && !created && !MayUseJournal(database, st))) {
        // Something that is no journal of ours stands at the name: the database may not be
        // used until it is gone.
        return RefuseJournal(database);
    }
    if (error != 0) {
        return SQLITE_CANTOPEN;
    }
    if (created) {
        // The journal belongs to whoever the database belongs to, so that its owner can still
        // roll it back after a root run died.
        if (::geteuid() == 0) {
            (void)!::fchown(fd.get(), owner.st_uid, owner.st_gid);
        }
        ::fchmod(fd.get(), owner.st_mode & 0777);
        f->folder = ::fcntl(database->folder, F_DUPFD_CLOEXEC, 0);
        f->syncFolder = f->folder >= 0;
    }
    database->refused = false;
    database->journalKnown = true;
    database->journalDev = st.st_dev;
    database->journalIno = st.st_ino;
    f->fd = fd.Release();
    f->base.pMethods = &kMethods;
    if (outFlags) {
        *outFlags = flags;
    }
    return SQLITE_OK;
}

int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    File* f = Of(file);
    std::memset(f, 0, sizeof *f);
    f->folder = -1;
    if (flags & SQLITE_OPEN_MAIN_DB) {
        return OpenDatabaseFile(name, f, flags, outFlags);
    }
    if (flags & SQLITE_OPEN_MAIN_JOURNAL) {
        return OpenJournal(name, f, flags, outFlags);
    }
    if (flags & (SQLITE_OPEN_WAL | SQLITE_OPEN_SUPER_JOURNAL)) {
        // The engine's files never use a write-ahead log nor write two databases in one
        // transaction: such a name can only come from a file of somebody else's making.
        return SQLITE_CANTOPEN;
    }
    // Temporary files: SQLite's own layer makes them under names of its choosing, exclusively
    // and without following links.
    return gUnix->xOpen(gUnix, name, file, flags, outFlags);
}

// Whether a journal is there: in the database's folder, without following a link. As SQLite's
// own layer has it, an empty file is no journal; anything else at the name is one, so that a
// link or a FIFO there is refused when SQLite opens it rather than passed over.
int Access(sqlite3_vfs*, const char* name, int flags, int* result) {
    *result = 0;
    const File* database = DatabaseOfJournal(name);
    struct stat st {};
    if (database == nullptr ||
        ::fstatat(database->folder, JournalName(database).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return SQLITE_OK;
    }
    *result = flags != SQLITE_ACCESS_EXISTS || !S_ISREG(st.st_mode) || st.st_size > 0;
    return SQLITE_OK;
}

// Removes a journal when SQLite is done with it: the one the database opened last, or, never
// opened, one the layer would have used. Whatever else has taken the name meanwhile stays.
int Delete(sqlite3_vfs*, const char* name, int syncFolder) {
    const File* database = DatabaseOfJournal(name);
    if (database == nullptr) {
        return SQLITE_IOERR_DELETE;
    }
    const std::string journal = JournalName(database);
    struct stat st {};
    if (::fstatat(database->folder, journal.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? SQLITE_IOERR_DELETE_NOENT : SQLITE_IOERR_DELETE;
    }
    const bool ours = database->journalKnown
                          ? st.st_dev == database->journalDev && st.st_ino == database->journalIno
                          : MayUseJournal(database, st);
    if (!ours) {
        return SQLITE_OK;
    }
    if (::unlinkat(database->folder, journal.c_str(), 0) != 0 && errno != ENOENT) {
        return SQLITE_IOERR_DELETE;
    }
    if (syncFolder) {
        ::fsync(database->folder);
    }
    return SQLITE_OK;
}

// The engine names its files by absolute paths and wants them kept as they are: the file is
// the descriptor, and the journal lies beside it in its folder whatever the name.
int FullPathname(sqlite3_vfs* vfs, const char* name, int size, char* out) {
    if (name[0] != '/') {
        return gUnix->xFullPathname(gUnix, name, size, out);
    }
    (void)vfs;
    const size_t length = std::strlen(name);
    if (length + 1 > static_cast<size_t>(size)) {
        return SQLITE_CANTOPEN;
    }
    std::memcpy(out, name, length + 1);
    return SQLITE_OK;
}

}  // namespace

const char* VfsName() {
    static std::once_flag once;
    std::call_once(once, [] {
        gUnix = sqlite3_vfs_find("unix");
        gVfs = *gUnix;
        gVfs.pNext = nullptr;
        gVfs.zName = kName;
        gVfs.szOsFile = std::max(gUnix->szOsFile, static_cast<int>(sizeof(File)));
        gVfs.pAppData = nullptr;
        gVfs.xOpen = Open;
        gVfs.xAccess = Access;
        gVfs.xDelete = Delete;
        gVfs.xFullPathname = FullPathname;
        sqlite3_vfs_register(&gVfs, 0);
    });
    return kName;
}

HandOver::HandOver(const std::string& name, int fd, int folder, const std::string& fileName) {
    tHanded = {&name, fd, folder, &fileName};
}

HandOver::~HandOver() {
    tHanded = {};
}

std::optional<RefusedJournal> RefusedJournalOf(sqlite3* db) {
    const File* database = MainDatabaseOf(db);
    if (database == nullptr || !database->refused) {
        return std::nullopt;
    }
    // Where the folder lies now, as the system tells it for the descriptor.
    std::string folder(4096, '\0');
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(database->folder)).c_str(),
                                 folder.data(), folder.size());
    folder.resize(n > 0 && folder[0] == '/' ? static_cast<std::size_t>(n) : 0);
    if (folder == "/") {
        folder.clear();
    }
    return RefusedJournal{folder + "/" + JournalName(database), database->refusedOwner,
                          S_ISREG(database->refusedMode)};
}

bool JournalBeside(sqlite3* db) {
    const File* database = MainDatabaseOf(db);
    struct stat st {};
    return database != nullptr && ::fstatat(database->folder, JournalName(database).c_str(), &st,
                                            AT_SYMLINK_NOFOLLOW) == 0;
}

void RemoveStaleJournal(sqlite3* db) {
    const File* database = MainDatabaseOf(db);
    struct stat st {};
    if (database != nullptr &&
        ::fstatat(database->folder, JournalName(database).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        MayUseJournal(database, st)) {
        files::RemoveIfSame(database->folder, JournalName(database), st.st_dev, st.st_ino);
    }
}

}  // namespace tarnu::engine
