#include "platform/linux/posix/file_registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/linux/posix/safe_open.h"

namespace tarnu::posix {

namespace {

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
            return reg::ErrorAccessDenied;
        case ENOSPC:
        case EDQUOT:
            return reg::ErrorDiskFull;
        default:
            return reg::ErrorRegistryIoFailed;
    }
}

// What a failed open of a hive file means: nothing there yet (a missing hive is an empty one),
// a link in the way, or something in its place that is no hive.
reg::LONG StatusOfHiveOpen(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return reg::ErrorSuccess;
        case ELOOP:
            return reg::ErrorAccessDenied;
        case EINVAL:
            return reg::ErrorRegistryCorrupt;
        default:
            return StatusOfErrno(error);
    }
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether this process may put a new hive file in place: the folder (or, while it is missing,
// the nearest folder above it) must be writable, and so must an existing hive file, which an
// administrator may have made read-only on purpose.
bool MayWrite(const std::string& folder, const std::string& file) {
    std::string dir = folder;
    struct stat st {};
    while (stat(dir.c_str(), &st) != 0) {
        const std::string parent = FolderOf(dir);
        if (errno != ENOENT || parent == dir) {
            return false;
        }
        dir = parent;
    }
    if (!S_ISDIR(st.st_mode) || faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return false;
    }
    if (dir == folder && faccessat(AT_FDCWD, file.c_str(), F_OK, AT_EACCESS) == 0) {
        return faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) == 0;
    }
    return true;
}

// What an administrator creates in a user's folder belongs to that user, so that running the
// tool once with administrator rights does not lock the user out of their own hive. True with
// the owner of `model` when that is someone other than root and this process is root.
bool OwnerToTake(const struct stat& model, uid_t& uid, gid_t& gid) {
    if (geteuid() != 0 || (model.st_uid == 0 && model.st_gid == 0)) {
        return false;
    }
    uid = model.st_uid;
    gid = model.st_gid;
    return true;
}

bool OwnerToTake(const std::string& model, uid_t& uid, gid_t& gid) {
    struct stat st {};
    return stat(model.c_str(), &st) == 0 && OwnerToTake(st, uid, gid);
}

reg::LONG MakeFolders(const std::string& folder, mode_t mode) {
    if (IsDirectory(folder)) {
        return reg::ErrorSuccess;
    }
    const std::string parent = FolderOf(folder);
    if (parent != folder) {
        if (const reg::LONG status = MakeFolders(parent, mode)) {
            return status;
        }
    }
    if (mkdir(folder.c_str(), mode) != 0) {
        return errno == EEXIST ? reg::ErrorSuccess : StatusOfErrno(errno);
    }
    uid_t uid = 0;
    gid_t gid = 0;
    if (!OwnerToTake(parent, uid, gid)) {
        return reg::ErrorSuccess;
    }
    // Handed over through the folder just made, never by its name: whoever may write the
    // parent could have put a link to anything there in the meantime.
    UniqueFd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!dir.ok() || fstat(dir.get(), &st) != 0) {
        return errno == ELOOP || errno == ENOTDIR ? reg::ErrorAccessDenied : StatusOfErrno(errno);
    }
    if (st.st_uid != geteuid()) {
        return reg::ErrorAccessDenied;  // not the folder this process made
    }
    (void)!fchown(dir.get(), uid, gid);
    return reg::ErrorSuccess;
}

// The lock file of a hive, created when missing. Only a regular file reached without a link
// serves: anything else in its place is refused. The lock is for the hive's owner alone, since
// whoever can open it can hold it; a new one belongs to the owner of the folder, as the hive
// does, and one left open to others by an earlier version is closed up.
reg::LONG OpenLock(const std::string& folder, const std::string& path, UniqueFd& lock) {
    auto refused = [](int error) {
        return error == ELOOP || error == EINVAL ? reg::ErrorAccessDenied : StatusOfErrno(error);
    };
    // Another writer may create or (by hand) remove it at the same moment: a few rounds settle it.
    for (int round = 0; round < 8; ++round) {
        lock = OpenRegular(path, O_RDONLY | O_CREAT | O_EXCL, 0600);
        if (lock.ok()) {
            uid_t uid = 0;
            gid_t gid = 0;
            if (OwnerToTake(folder, uid, gid)) {
                (void)!fchown(lock.get(), uid, gid);
            }
            return reg::ErrorSuccess;
        }
        if (errno != EEXIST) {
            return refused(errno);
        }
        lock = OpenRegular(path, O_RDONLY);
        if (lock.ok()) {
            struct stat st {};
            if (fstat(lock.get(), &st) == 0 && st.st_uid == geteuid() && st.st_nlink == 1 &&
                (st.st_mode & 077) != 0) {
                (void)!fchmod(lock.get(), st.st_mode & 0700);
            }
            return reg::ErrorSuccess;
        }
        if (errno != ENOENT) {
            return refused(errno);
        }
    }
    return reg::ErrorRegistryIoFailed;
}

// The hive in `file`; an empty one while there is no file. `found` gets the status of the file
// when there is one. The hive is reached only as a regular file and not through a link: a link
// is refused, and a FIFO, a device or a folder in its place, like a file larger than any hive
// the tool writes, is not a hive.
reg::LONG ReadHiveFile(const std::string& file, HiveKey& root,
                       std::optional<struct stat>* found = nullptr) {
    UniqueFd fd = OpenRegular(file, O_RDONLY);
    if (!fd.ok()) {
        root = HiveKey();
        return StatusOfHiveOpen(errno);
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) {
        return StatusOfErrno(errno);
    }
    std::string bytes;
    if (const int error = ReadWhole(fd.get(), kMaxHiveFileSize, bytes)) {
        return error == EFBIG ? reg::ErrorRegistryCorrupt : StatusOfErrno(error);
    }
    if (!ParseHive(bytes, root)) {
        return reg::ErrorRegistryCorrupt;
    }
    if (found) {
        *found = st;
    }
    return reg::ErrorSuccess;
}

// Writes the new hive beside the old one, makes it durable and renames it over the old one,
// so that the file name holds either the complete old or the complete new hive at any moment.
// The new file takes the mode and owner of `old`, the hive it replaces, if there is one.
reg::LONG ReplaceHiveFile(const std::string& folder, const std::string& file, mode_t newMode,
                          const std::optional<struct stat>& old, std::string_view bytes) {
    std::string temp = file + ".tmp-XXXXXX";
    // Made with O_EXCL, so never through a link; its owner changes through the descriptor.
    UniqueFd fd(mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.ok()) {
        return StatusOfErrno(errno);
    }
    auto fail = [&temp](int error) {
        unlink(temp.c_str());
        return StatusOfErrno(error);
    };
    const mode_t mode = old ? old->st_mode & 07777 : newMode;
    uid_t uid = 0;
    gid_t gid = 0;
    if (old ? OwnerToTake(*old, uid, gid) : OwnerToTake(folder, uid, gid)) {
        (void)!fchown(fd.get(), uid, gid);
    }
    if (fchmod(fd.get(), mode) != 0 || !WriteAll(fd.get(), bytes) || fsync(fd.get()) != 0) {
        return fail(errno);
    }
    if (rename(temp.c_str(), file.c_str()) != 0) {
        return fail(errno);
    }
    // The new hive is in place and its data on disk: the change is done, whatever the flush of
    // its name says. Reporting it as failed would have the caller believe the old value stands.
    SyncRenamed(folder, fd.get());
    return reg::ErrorSuccess;
}

// New files are written under a temporary name while the lock is held; any such file found by
// the holder of the lock was left by a writer that died.
void RemoveStaleTemporaries(const std::string& folder, const std::string& file) {
    const std::string prefix = BaseNameOf(file) + ".tmp-";
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        return;
    }
    while (const dirent* entry = readdir(dir)) {
        if (std::string_view(entry->d_name).starts_with(prefix)) {
            unlinkat(dirfd(dir), entry->d_name, 0);
        }
    }
    closedir(dir);
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home) {
        return home;
    }
    const passwd* pw = getpwuid(geteuid());
    return pw && pw->pw_dir ? pw->pw_dir : "/";
}

// Walks to the key and puts the stored case of every name in place; false when one is missing.
bool TakeStoredNames(const HiveKey& root, std::vector<std::string>& names) {
    const HiveKey* key = &root;
    for (std::string& name : names) {
        key = key->FindSubkey(name);
        if (!key) {
            return false;
        }
        name = key->name;
    }
    return true;
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
    user_.file = user_.folder + "/HKEY_CURRENT_USER.hive";
    user_.folderMode = 0700;
    user_.fileMode = 0600;
    machine_.folder = WithoutTrailingSlashes(std::move(machineFolder));
    machine_.file = machine_.folder + "/HKEY_LOCAL_MACHINE.hive";
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

const FileRegistry::Hive* FileRegistry::HiveOf(reg::HKEY hive) const {
    if (hive == reg::HKeyCurrentUser) {
        return &user_;
    }
    if (hive == reg::HKeyLocalMachine) {
        return &machine_;
    }
    return nullptr;
}

std::string FileRegistry::HiveFile(reg::HKEY hive) const {
    const Hive* h = HiveOf(hive);
    return h ? h->file : std::string();
}

reg::LONG FileRegistry::LoadHive(reg::HKEY hive, HiveKey& root) const {
    const Hive* h = HiveOf(hive);
    return h ? ReadHiveFile(h->file, root) : reg::ErrorInvalidHandle;
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

reg::DWORD FileRegistry::GrantedAccess(const Hive& hive, reg::DWORD samDesired) const {
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
        access |= MayWrite(hive.folder, hive.file) ? reg::KeyAllAccess : reg::KeyRead;
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
reg::LONG FileRegistry::Mutate(const Hive& hive, Change change) {
    if (!MayWrite(hive.folder, hive.file)) {
        return reg::ErrorAccessDenied;
    }
    if (const reg::LONG status = MakeFolders(hive.folder, hive.folderMode)) {
        return status;
    }
    UniqueFd lock;
    if (const reg::LONG status = OpenLock(hive.folder, hive.file + ".lock", lock)) {
        return status;
    }
    const int locked = LockExclusive(lock.get(), std::chrono::steady_clock::now() + lockWait_);
    if (locked != 0) {
        return locked == ETIMEDOUT ? reg::ErrorTimeout : StatusOfErrno(locked);
    }
    RemoveStaleTemporaries(hive.folder, hive.file);

    // Another process may have written since this one last read: change the hive as it is now.
    HiveKey root;
    std::optional<struct stat> old;
    if (const reg::LONG status = ReadHiveFile(hive.file, root, &old)) {
        return status;
    }
    bool changed = false;
    if (const reg::LONG status = change(root, changed); status != reg::ErrorSuccess || !changed) {
        return status;
    }
    const std::string bytes = SerializeHive(root);
    // A hive too large to be read again would be lost as a whole.
    if (bytes.size() > kMaxHiveFileSize) {
        return reg::ErrorNoSystemResources;
    }
    return ReplaceHiveFile(hive.folder, hive.file, hive.fileMode, old, bytes);
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
    const Hive& hive = *HiveOf(base.root);
    HiveKey root;
    if (const reg::LONG status = LoadHive(base.root, root); status != reg::ErrorSuccess) {
        return status;
    }
    names.insert(names.begin(), base.names.begin(), base.names.end());
    if (!TakeStoredNames(root, names)) {
        return reg::ErrorFileNotFound;
    }
    const reg::DWORD access = GrantedAccess(hive, samDesired);
    if ((access & kWriteRights) && !MayWrite(hive.folder, hive.file)) {
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
    const Hive& hive = *HiveOf(base.root);
    const reg::DWORD access = GrantedAccess(hive, samDesired);

    HiveKey current;
    if (const reg::LONG status = LoadHive(base.root, current); status != reg::ErrorSuccess) {
        return status;
    }
    bool created = false;
    if (TakeStoredNames(current, names)) {
        if ((access & kWriteRights) && !MayWrite(hive.folder, hive.file)) {
            return reg::ErrorAccessDenied;
        }
    } else {
        if (!(base.access & reg::KeyCreateSubKey)) {
            return reg::ErrorAccessDenied;
        }
        const reg::LONG status = Mutate(hive, [&](HiveKey& root, bool& changed) {
            HiveKey* key = &root;
            for (std::size_t i = 0; i < names.size(); ++i) {
                HiveKey* next = key->FindSubkey(names[i]);
                if (!next) {
                    if (i < baseDepth) {
                        return reg::ErrorKeyDeleted;
                    }
                    next = &key->AddSubkey(names[i]);
                    created = true;
                }
                names[i] = next->name;
                key = next;
            }
            changed = created;
            return reg::ErrorSuccess;
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
    const Hive& hive = *HiveOf(base.root);
    UniqueFd fd = OpenRegular(hive.file, O_RDONLY);
    if (!fd.ok()) {
        return StatusOfHiveOpen(errno);
    }
    if (fsync(fd.get()) != 0) {
        return StatusOfErrno(errno);
    }
    const int error = SyncRenamed(hive.folder, fd.get());
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
    return Mutate(*HiveOf(base.root), [&](HiveKey& root, bool& changed) {
        HiveKey* key = FindKey(root, base.names);
        if (!key) {
            return reg::ErrorKeyDeleted;
        }
        changed = key->SetValue(name, type, bytes);
        return reg::ErrorSuccess;
    });
}

reg::LONG FileRegistry::RegCloseKey(reg::HKEY hKey) {
    if (IsPredefined(hKey)) {
        return reg::ErrorSuccess;
    }
    return handles_.erase(hKey) ? reg::ErrorSuccess : reg::ErrorInvalidHandle;
}

}  // namespace tarnu::posix
