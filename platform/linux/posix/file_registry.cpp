#include "platform/linux/posix/file_registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/linux/files/file_io.h"
#include "platform/linux/files/path_walk.h"

namespace tarnu::posix {

namespace {

using files::UniqueFd;

constexpr reg::DWORD kWriteRights = reg::KeySetValue | reg::KeyCreateSubKey | reg::KeyCreateLink |
                                    reg::Delete | reg::WriteDac | reg::WriteOwner;

bool IsPredefined(reg::HKEY hKey) {
    return hKey == reg::HKeyCurrentUser || hKey == reg::HKeyLocalMachine;
}

reg::LONG StatusOfErrno(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
        case ELOOP:
        case files::kRefusedLink:
            return reg::ErrorAccessDenied;
        case ENOSPC:
        case EDQUOT:
            return reg::ErrorDiskFull;
        default:
            return reg::ErrorRegistryIoFailed;
    }
}

// What a failed walk to a hive file or open of it means: nothing there yet (a missing hive is
// an empty one), a link in the way, or something in its place that is no hive.
reg::LONG StatusOfHiveOpen(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return reg::ErrorSuccess;
        case files::kSpecialFile:
        case EISDIR:
            return reg::ErrorRegistryCorrupt;
        default:
            return StatusOfErrno(error);
    }
}

// The folder a path names its last part in, for paths without a trailing separator.
std::string ParentOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether this process may put a new hive file in place: the folder (or, while it is missing,
// the nearest folder above it) must be writable, and so must an existing hive file, which an
// administrator may have made read-only on purpose. Only a first answer: the change itself
// goes through the walk and meets any link or swap there.
bool MayWrite(const std::string& folder, const std::string& name) {
    std::string dir = folder;
    files::Reached reached;
    for (;;) {
        const int error = files::Walk(dir, {files::Kind::Folder, O_RDONLY}, reached);
        if (error == 0) {
            break;
        }
        const std::string parent = ParentOf(dir);
        if (error != ENOENT || parent == dir) {
            return false;
        }
        dir = parent;
    }
    // "." of the folder's own descriptor: the folder that was walked, not a name looked up anew.
    if (::faccessat(reached.fd.get(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
        return false;
    }
    if (dir == folder &&
        ::faccessat(reached.fd.get(), name.c_str(), F_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0) {
        return ::faccessat(reached.fd.get(), name.c_str(), W_OK,
                           AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0;
    }
    return true;
}

// What an administrator creates in a user's folder belongs to that user, so that running the
// tool once with administrator rights does not lock the user out of their own hive. True with
// the owner of `model` when that is someone other than root and this process is root.
bool OwnerToTake(const struct stat& model, uid_t& uid, gid_t& gid) {
    if (::geteuid() != 0 || (model.st_uid == 0 && model.st_gid == 0)) {
        return false;
    }
    uid = model.st_uid;
    gid = model.st_gid;
    return true;
}

// Hands the folders the walk has just made to the owner of the folder each was made in, through
// a descriptor of the very folder that was made: whoever may write the parent could have put
// something else under its name meanwhile.
void HandOver(const std::vector<files::MadeFolder>& made) {
    for (const files::MadeFolder& m : made) {
        struct stat parent {};
        uid_t uid = 0;
        gid_t gid = 0;
        if (::fstat(m.parent.get(), &parent) != 0 || !OwnerToTake(parent, uid, gid)) {
            continue;
        }
        UniqueFd fd;
        struct stat st {};
        if (files::OpenEntry(m.parent.get(), m.name, files::Kind::Folder, O_RDONLY, fd, st) == 0 &&
            st.st_dev == m.dev && st.st_ino == m.ino) {
            (void)!::fchown(fd.get(), uid, gid);
        }
    }
}

// The lock file of a hive in `folder`, created when missing. Only a regular file reached
// without a link serves: anything else in its place is refused. The lock is for the hive's
// owner alone, since whoever can open it can hold it; a new one belongs to the owner of the
// folder, as the hive does. One of this runner's own that others may open (an earlier version
// made them so) is replaced: writers check after locking that they hold the lock of that name.
reg::LONG OpenLock(int folder, const struct stat& folderSt, const std::string& name,
                   UniqueFd& lock) {
    // Another writer may create or (by hand) remove it at the same moment: a few rounds settle it.
    for (int round = 0; round < 8; ++round) {
        lock.Reset(::openat(
            folder, name.c_str(),
            O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
        if (lock.ok()) {
            uid_t uid = 0;
            gid_t gid = 0;
            if (OwnerToTake(folderSt, uid, gid)) {
                (void)!::fchown(lock.get(), uid, gid);
            }
            return reg::ErrorSuccess;
        }
        if (errno != EEXIST) {
            return StatusOfErrno(errno);
        }
        struct stat st {};
        const int error = files::OpenEntry(folder, name, files::Kind::File, O_RDONLY, lock, st);
        if (error == 0 && st.st_uid == ::geteuid() && st.st_nlink == 1 && (st.st_mode & 077) != 0) {
            files::RemoveIfSame(folder, name, st.st_dev, st.st_ino);
            continue;
        }
        if (error == 0) {
            return reg::ErrorSuccess;
        }
        if (error != ENOENT) {
            return error == files::kSpecialFile || error == EISDIR ? reg::ErrorAccessDenied
                                                                   : StatusOfErrno(error);
        }
    }
    return reg::ErrorRegistryIoFailed;
}

// Reads a hive from an open file; ErrorRegistryCorrupt for anything that is not an intact hive.
reg::LONG ReadHive(int fd, Hive& hive) {
    std::string bytes;
    if (const int error = files::ReadWhole(fd, kMaxHiveFileSize, bytes)) {
        return error == EFBIG ? reg::ErrorRegistryCorrupt : StatusOfErrno(error);
    }
    return hive.Load(std::move(bytes)) ? reg::ErrorSuccess : reg::ErrorRegistryCorrupt;
}

// Writes the new hive beside the old one, makes it durable and renames it over the old one,
// so that the name holds either the complete old or the complete new hive at any moment. The
// new file takes the permission bits and owner of `old`, the hive it replaces, if there is one.
reg::LONG ReplaceHiveFile(int folder, const struct stat& folderSt, const std::string& name,
                          mode_t newMode, const std::optional<struct stat>& old,
                          std::string_view bytes) {
    UniqueFd fd;
    std::string temp;
    if (const int error = files::CreateTemporary(folder, name + ".tmp-", "", 0600, fd, temp)) {
        return StatusOfErrno(error);
    }
    struct stat made {};
    ::fstat(fd.get(), &made);
    auto fail = [&](int error) {
        files::RemoveIfSame(folder, temp, made.st_dev, made.st_ino);
        return StatusOfErrno(error);
    };
    uid_t uid = 0;
    gid_t gid = 0;
    if (old ? OwnerToTake(*old, uid, gid) : OwnerToTake(folderSt, uid, gid)) {
        (void)!::fchown(fd.get(), uid, gid);
    }
    if (::fchmod(fd.get(), old ? old->st_mode & 0777 : newMode) != 0 ||
        !files::WriteAll(fd.get(), bytes) || ::fsync(fd.get()) != 0) {
        return fail(errno);
    }
    if (::renameat(folder, temp.c_str(), folder, name.c_str()) != 0) {
        return fail(errno);
    }
    // The new hive is in place and its data on disk: the change is done, whatever the flush of
    // its name says. Reporting it as failed would have the caller believe the old value stands.
    files::SyncFolder(folder, fd.get());
    return reg::ErrorSuccess;
}

// New files are written under a temporary name while the lock is held; any such file found by
// the holder of the lock was left by a writer that died.
void RemoveStaleTemporaries(int folder, const std::string& prefix) {
    UniqueFd listing(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* dir = listing.ok() ? ::fdopendir(listing.get()) : nullptr;
    if (!dir) {
        return;
    }
    listing.Release();
    while (const dirent* entry = ::readdir(dir)) {
        if (std::string_view(entry->d_name).starts_with(prefix)) {
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        }
    }
    ::closedir(dir);
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home) {
        return home;
    }
    const passwd* pw = getpwuid(geteuid());
    return pw && pw->pw_dir ? pw->pw_dir : "/";
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

}  // namespace

FileRegistry::FileRegistry(std::string userFolder, std::string machineFolder,
                           std::chrono::milliseconds lockWait)
    : lockWait_(lockWait) {
    // The user's hive is private to the user, as the configuration folder is; machine-wide
    // settings must stay readable for every user.
    user_.folder = WithoutTrailingSlashes(std::move(userFolder));
    user_.name = "HKEY_CURRENT_USER.hive";
    user_.file = user_.folder + "/" + user_.name;
    user_.folderMode = 0700;
    user_.fileMode = 0600;
    machine_.folder = WithoutTrailingSlashes(std::move(machineFolder));
    machine_.name = "HKEY_LOCAL_MACHINE.hive";
    machine_.file = machine_.folder + "/" + machine_.name;
    machine_.folderMode = 0755;
    machine_.fileMode = 0644;
}

FileRegistry FileRegistry::FromEnvironment() {
    return FileRegistry(UserFolderFromEnvironment(), MachineFolderFromEnvironment());
}

// Relative paths in these variables are invalid and ignored, as the XDG base directories say.
std::string FileRegistry::UserFolderFromEnvironment() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base = config && config[0] == '/' ? std::string(config) : HomeFolder() + "/.config";
    return WithoutTrailingSlashes(base) + "/tarnu/registry";
}

std::string FileRegistry::MachineFolderFromEnvironment() {
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    std::string base = "/etc/xdg";
    std::string_view rest = dirs ? dirs : "";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string_view entry = rest.substr(0, colon);
        if (!entry.empty() && entry.front() == '/') {
            base = entry;
            break;
        }
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    return WithoutTrailingSlashes(base) + "/tarnu/registry";
}

const FileRegistry::Place* FileRegistry::PlaceOf(reg::HKEY hive) const {
    if (hive == reg::HKeyCurrentUser) {
        return &user_;
    }
    if (hive == reg::HKeyLocalMachine) {
        return &machine_;
    }
    return nullptr;
}

std::string FileRegistry::HiveFile(reg::HKEY hive) const {
    const Place* place = PlaceOf(hive);
    return place ? place->file : std::string();
}

reg::LONG FileRegistry::LoadHive(reg::HKEY hive, Hive& out) const {
    const Place* place = PlaceOf(hive);
    if (!place) {
        return reg::ErrorInvalidHandle;
    }
    files::Request request;
    request.lastLink = files::LastLink::Refuse;
    request.mayBeMissing = true;
    files::Reached reached;
    out = Hive();
    if (const int error = files::Walk(place->file, request, reached); error != 0) {
        return StatusOfHiveOpen(error);
    }
    return reached.fd.ok() ? ReadHive(reached.fd.get(), out) : reg::ErrorSuccess;
}

reg::LONG FileRegistry::Resolve(reg::HKEY hKey, const std::string& subKey, Base& base,
                                std::vector<std::string>& names) const {
    if (const reg::LONG status = Resolve(hKey, base); status != reg::ErrorSuccess) {
        return status;
    }
    return SplitKeyPath(subKey, names);
}

reg::LONG FileRegistry::Resolve(reg::HKEY hKey, Base& base) const {
    if (IsPredefined(hKey)) {
        base = Base{hKey, {}, reg::KeyAllAccess, true};
        return reg::ErrorSuccess;
    }
    const auto it = handles_.find(hKey);
    if (it == handles_.end()) {
        return reg::ErrorInvalidHandle;
    }
    base = Base{it->second.root, it->second.names, it->second.access, false};
    return reg::ErrorSuccess;
}

reg::DWORD FileRegistry::GrantedAccess(const Place& place, reg::DWORD samDesired) const {
    reg::DWORD access = samDesired & ~(reg::GenericRead | reg::GenericWrite | reg::GenericExecute |
                                       reg::GenericAll | reg::MaximumAllowed);
    if (samDesired & (reg::GenericRead | reg::GenericExecute)) {
        access |= reg::KeyRead;
    }
    if (samDesired & reg::GenericWrite) {
        access |= reg::KeyWrite;
    }
    if (samDesired & reg::GenericAll) {
        access |= reg::KeyAllAccess;
    }
    if (samDesired & reg::MaximumAllowed) {
        access |= MayWrite(place.folder, place.name) ? reg::KeyAllAccess : reg::KeyRead;
    }
    return access;
}

reg::HKEY FileRegistry::AddHandle(reg::HKEY root, std::vector<std::string> names,
                                  reg::DWORD access) {
    // Handles are not reused right away, so a stale copy of a closed one stays invalid.
    while (nextHandle_ == 0 || nextHandle_ >= 0x80000000u || handles_.count(nextHandle_)) {
        nextHandle_ = nextHandle_ >= 0x80000000u ? 0x1000 : nextHandle_ + 4;
    }
    const reg::HKEY handle = nextHandle_;
    nextHandle_ += 4;
    handles_.emplace(handle, OpenKey{root, std::move(names), access});
    return handle;
}

template <typename Change>
reg::LONG FileRegistry::Mutate(const Place& place, Change change) {
    if (!MayWrite(place.folder, place.name)) {
        return reg::ErrorAccessDenied;
    }
    files::Request request;
    request.kind = files::Kind::Folder;
    request.makeFolders = true;
    request.folderMode = place.folderMode;
    files::Reached dir;
    if (const int error = files::Walk(place.folder, request, dir)) {
        return StatusOfErrno(error);
    }
    HandOver(dir.made);
    const int folder = dir.fd.get();
    struct stat folderSt {};
    if (::fstat(folder, &folderSt) != 0) {
        return StatusOfErrno(errno);
    }

    // A lock that was removed or replaced while this writer waited for it guards nothing any
    // more: the writer then takes the lock that has the name now.
    const std::string lockName = place.name + ".lock";
    const auto deadline = std::chrono::steady_clock::now() + lockWait_;
    UniqueFd lock;
    for (int round = 0;; ++round) {
        if (const reg::LONG status = OpenLock(folder, folderSt, lockName, lock)) {
            return status;
        }
        if (const int locked = LockExclusive(lock.get(), deadline)) {
            return locked == ETIMEDOUT ? reg::ErrorTimeout : StatusOfErrno(locked);
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(lock.get(), &held) == 0 &&
            ::fstatat(folder, lockName.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            files::SameFile(held, named)) {
            break;
        }
        if (round == 8) {
            return reg::ErrorRegistryIoFailed;
        }
    }
    RemoveStaleTemporaries(folder, place.name + ".tmp-");

    // Another process may have written since this one last read: change the hive as it is now.
    Hive hive;
    std::optional<struct stat> old;
    UniqueFd fd;
    struct stat st {};
    if (const int error =
            files::OpenEntry(folder, place.name, files::Kind::File, O_RDONLY, fd, st)) {
        if (const reg::LONG status = StatusOfHiveOpen(error)) {
            return status;
        }
    } else if (const reg::LONG status = ReadHive(fd.get(), hive)) {
        return status;
    } else {
        old = st;
    }
    bool changed = false;
    if (const reg::LONG status = change(hive, changed); status != reg::ErrorSuccess || !changed) {
        return status;
    }
    return ReplaceHiveFile(folder, folderSt, place.name, place.fileMode, old, hive.Bytes());
}

reg::LONG FileRegistry::RegOpenKeyExA(reg::HKEY hKey, const std::string& subKey,
                                      reg::DWORD /*options*/, reg::DWORD samDesired,
                                      reg::HKEY* result) {
    if (!result) {
        return reg::ErrorInvalidParameter;
    }
    Base base;
    std::vector<std::string> names;
    if (const reg::LONG status = Resolve(hKey, subKey, base, names); status != reg::ErrorSuccess) {
        return status;
    }
    if (base.predefined && names.empty()) {
        *result = hKey;
        return reg::ErrorSuccess;
    }
    const Place& place = *PlaceOf(base.root);
    Hive hive;
    if (const reg::LONG status = LoadHive(base.root, hive); status != reg::ErrorSuccess) {
        return status;
    }
    names.insert(names.begin(), base.names.begin(), base.names.end());
    std::vector<std::string> stored;
    if (!hive.Find(names, &stored)) {
        return reg::ErrorFileNotFound;
    }
    names = std::move(stored);
    const reg::DWORD access = GrantedAccess(place, samDesired);
    if ((access & kWriteRights) && !MayWrite(place.folder, place.name)) {
        return reg::ErrorAccessDenied;
    }
    *result = AddHandle(base.root, std::move(names), access);
    return reg::ErrorSuccess;
}

reg::LONG FileRegistry::RegCreateKeyExA(reg::HKEY hKey, const std::string& subKey,
                                        reg::DWORD /*reserved*/, const char* /*className*/,
                                        reg::DWORD options, reg::DWORD samDesired,
                                        const void* /*securityAttributes*/, reg::HKEY* result,
                                        reg::DWORD* disposition) {
    // Volatile keys would have to vanish at the next start of the machine; not offered here.
    if (!result || options != reg::RegOptionNonVolatile) {
        return reg::ErrorInvalidParameter;
    }
    Base base;
    std::vector<std::string> names;
    if (const reg::LONG status = Resolve(hKey, subKey, base, names); status != reg::ErrorSuccess) {
        return status;
    }
    const std::size_t baseDepth = base.names.size();
    names.insert(names.begin(), base.names.begin(), base.names.end());
    if (names.size() > kMaxKeyDepth) {
        return reg::ErrorInvalidParameter;
    }
    const Place& place = *PlaceOf(base.root);
    const reg::DWORD access = GrantedAccess(place, samDesired);

    Hive current;
    if (const reg::LONG status = LoadHive(base.root, current); status != reg::ErrorSuccess) {
        return status;
    }
    bool created = false;
    std::vector<std::string> stored;
    if (current.Find(names, &stored)) {
        names = std::move(stored);
        if ((access & kWriteRights) && !MayWrite(place.folder, place.name)) {
            return reg::ErrorAccessDenied;
        }
    } else {
        if (!(base.access & reg::KeyCreateSubKey)) {
            return reg::ErrorAccessDenied;
        }
        const reg::LONG status = Mutate(place, [&](Hive& hive, bool& changed) {
            const reg::LONG made = hive.CreateKey(names, baseDepth, created);
            changed = created;
            return made;
        });
        if (status != reg::ErrorSuccess) {
            return status;
        }
    }
    *result = AddHandle(base.root, std::move(names), access);
    if (disposition) {
        *disposition = created ? reg::RegCreatedNewKey : reg::RegOpenedExistingKey;
    }
    return reg::ErrorSuccess;
}

reg::LONG FileRegistry::RegFlushKey(reg::HKEY hKey) {
    Base base;
    if (const reg::LONG status = Resolve(hKey, base); status != reg::ErrorSuccess) {
        return status;
    }
    // Every change is already on disk when its call returns; this only makes sure of it.
    files::Request request;
    request.lastLink = files::LastLink::Refuse;
    request.mayBeMissing = true;
    files::Reached reached;
    if (const int error = files::Walk(PlaceOf(base.root)->file, request, reached)) {
        return StatusOfHiveOpen(error);
    }
    if (!reached.fd.ok()) {
        return reg::ErrorSuccess;
    }
    if (::fsync(reached.fd.get()) != 0) {
        return StatusOfErrno(errno);
    }
    const int error = files::SyncFolder(reached.folder.get(), reached.fd.get());
    return error == 0 ? reg::ErrorSuccess : StatusOfErrno(error);
}

reg::LONG FileRegistry::RegSetValueExA(reg::HKEY hKey, const std::string& valueName,
                                       reg::DWORD /*reserved*/, reg::DWORD type,
                                       const std::uint8_t* data, reg::DWORD cbData) {
    Base base;
    if (const reg::LONG status = Resolve(hKey, base); status != reg::ErrorSuccess) {
        return status;
    }
    if (!(base.access & reg::KeySetValue)) {
        return reg::ErrorAccessDenied;
    }
    if (!data && cbData != 0) {
        return reg::ErrorNoAccess;
    }
    const std::string_view name(valueName.c_str());
    if (name.size() > kMaxValueNameLength) {
        return reg::ErrorInvalidParameter;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data), data ? cbData : 0);
    return Mutate(*PlaceOf(base.root), [&](Hive& hive, bool& changed) {
        return hive.SetValue(base.names, name, type, bytes, changed);
    });
}

reg::LONG FileRegistry::RegCloseKey(reg::HKEY hKey) {
    if (IsPredefined(hKey)) {
        return reg::ErrorSuccess;
    }
    return handles_.erase(hKey) ? reg::ErrorSuccess : reg::ErrorInvalidHandle;
}

}  // namespace tarnu::posix
