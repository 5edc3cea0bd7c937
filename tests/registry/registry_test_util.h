#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/posix/file_registry.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {

// A registry whose two hives live in a fresh temporary folder.
struct TempRegistry {
    TempDir dir;
    std::string userFolder = dir.file("user/tarnu/registry");
    std::string machineFolder = dir.file("machine/tarnu/registry");
    posix::FileRegistry registry{userFolder, machineFolder};
};

// The value as it is stored on disk now, read through a fresh instance; nullopt when the key or
// the value is missing or the hive does not load.
std::optional<posix::HiveValue> StoredValue(const TempRegistry& r, reg::HKEY hive,
                                            const std::string& keyPath,
                                            const std::string& valueName);
bool StoredKeyExists(const TempRegistry& r, reg::HKEY hive, const std::string& keyPath);
std::string Bytes(std::initializer_list<int> bytes);

// Runs `body` in a forked child process that has given up root (as user nobody) when this
// process runs as root, so that file permissions apply to it. The numbers `body` returns come
// back; nullopt when the child did not end normally.
std::optional<std::vector<std::int32_t>> RunUnprivileged(
    const std::function<std::vector<std::int32_t>()>& body);
// Lets the unprivileged child write below `path` (when running as root).
void GiveToUnprivilegedUser(const std::string& path);
// Lets the unprivileged child enter the folders of a TempDir.
void OpenForUnprivilegedUser(const std::string& path);

// Runs `body` in a forked child process and returns its exit status (-1 when killed).
pid_t StartChild(const std::function<int()>& body);
int WaitChild(pid_t pid);

}  // namespace tarnu::test
