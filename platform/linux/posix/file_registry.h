#pragma once

// The registry on Linux: one file per hive, written through whole and atomically on every
// change. HKEY_CURRENT_USER lives in the user's configuration folder, HKEY_LOCAL_MACHINE in
// the first system-wide one, so that - as on Windows - a user without administrator rights
// can read machine-wide settings but not change them.
//
// Writers take an exclusive lock beside the hive, read the hive anew, apply their one change
// and put the new file in place with rename; several processes can therefore write at once
// without losing each other's changes, and a crash leaves the old or the new hive. A hive
// file that does not read as a hive is reported (ErrorRegistryCorrupt) and left alone.
//
// Administrators run the tool as root on folders that users own. Every folder on the way to a
// hive is therefore walked with the link rule of the safe path walk (a user's link must not
// lead a root run into somebody else's folder), the hive, its lock and the new file beside it
// are reached through the folder's descriptor and never through a symbolic link
// (ErrorAccessDenied), anything but a regular file in the place of the hive or larger than
// kMaxHiveFileSize is no hive (ErrorRegistryCorrupt) and is never opened, ownership is handed
// on only for files and folders just created, and a lock somebody else keeps is waited for
// only so long (ErrorTimeout).
//
// Not safe for use from several threads at once; separate instances are independent.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "platform/linux/posix/file_lock.h"
#include "platform/linux/posix/hive_file.h"
#include "ports/registry.h"

namespace tarnu::posix {

class FileRegistry : public reg::RegistryApi {
  public:
    // HKEY_CURRENT_USER is kept in userFolder, HKEY_LOCAL_MACHINE in machineFolder; the
    // folders are created when the first key is. A writer that cannot get a hive's lock within
    // lockWait gives up with ErrorTimeout.
    FileRegistry(std::string userFolder, std::string machineFolder,
                 std::chrono::milliseconds lockWait = kLockWait);
    // The folders of the XDG base directories: $XDG_CONFIG_HOME (else ~/.config) and the first
    // folder of $XDG_CONFIG_DIRS (else /etc/xdg), each with "/tarnu/registry".
    static FileRegistry FromEnvironment();
    static std::string UserFolderFromEnvironment();
    static std::string MachineFolderFromEnvironment();

    reg::LONG RegOpenKeyExA(reg::HKEY hKey, const std::string& subKey, reg::DWORD options,
                            reg::DWORD samDesired, reg::HKEY* result) override;
    reg::LONG RegCreateKeyExA(reg::HKEY hKey, const std::string& subKey, reg::DWORD reserved,
                              const char* className, reg::DWORD options, reg::DWORD samDesired,
                              const void* securityAttributes, reg::HKEY* result,
                              reg::DWORD* disposition) override;
    reg::LONG RegFlushKey(reg::HKEY hKey) override;
    reg::LONG RegSetValueExA(reg::HKEY hKey, const std::string& valueName, reg::DWORD reserved,
                             reg::DWORD type, const std::uint8_t* data, reg::DWORD cbData) override;
    reg::LONG RegCloseKey(reg::HKEY hKey) override;

    // Handles opened and not yet closed.
    std::size_t OpenHandleCount() const { return handles_.size(); }
    // The file of a hive; empty for a root key that is not kept here.
    std::string HiveFile(reg::HKEY hive) const;
    // The hive as it is on disk now (empty when there is no file yet).
    reg::LONG LoadHive(reg::HKEY hive, Hive& out) const;

  private:
    struct Place {
        std::string folder;
        std::string name;  // of the hive file in folder
        std::string file;  // folder + "/" + name
        mode_t folderMode;
        mode_t fileMode;
    };
    struct OpenKey {
        reg::HKEY root;                  // the predefined key of the hive
        std::vector<std::string> names;  // from the root of the hive, as stored
        reg::DWORD access;
    };
    struct Base {
        reg::HKEY root = 0;
        std::vector<std::string> names;
        reg::DWORD access = 0;
        bool predefined = false;
    };

    const Place* PlaceOf(reg::HKEY hive) const;
    reg::LONG Resolve(reg::HKEY hKey, Base& base) const;
    // The base of hKey and the names of subKey below it.
    reg::LONG Resolve(reg::HKEY hKey, const std::string& subKey, Base& base,
                      std::vector<std::string>& names) const;
    reg::DWORD GrantedAccess(const Place& place, reg::DWORD samDesired) const;
    reg::HKEY AddHandle(reg::HKEY root, std::vector<std::string> names, reg::DWORD access);
    // Applies one change to the hive on disk under the writers' lock. `change` reports whether
    // it changed anything; an unchanged hive is not written.
    template <typename Change>
    reg::LONG Mutate(const Place& place, Change change);

    Place user_;
    Place machine_;
    std::chrono::milliseconds lockWait_;
    std::map<reg::HKEY, OpenKey> handles_;
    reg::HKEY nextHandle_ = 0x1000;
};

}  // namespace tarnu::posix
