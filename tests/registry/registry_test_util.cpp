#include "tests/registry/registry_test_util.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace tarnu::test {

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

}  // namespace

namespace {

// The key as stored on disk now, read through a fresh instance.
std::optional<posix::HiveKey> StoredKey(const TempRegistry& r, reg::HKEY hive,
                                        const std::string& keyPath) {
    posix::FileRegistry fresh(r.userFolder, r.machineFolder);
    posix::HiveKey root;
    std::vector<std::string> names;
    if (fresh.LoadHive(hive, root) != reg::ErrorSuccess ||
        posix::SplitKeyPath(keyPath, names) != reg::ErrorSuccess) {
        return std::nullopt;
    }
    const posix::HiveKey* key = posix::FindKey(root, names);
    return key ? std::optional<posix::HiveKey>(*key) : std::nullopt;
}

}  // namespace

std::optional<posix::HiveValue> StoredValue(const TempRegistry& r, reg::HKEY hive,
                                            const std::string& keyPath,
                                            const std::string& valueName) {
    const auto key = StoredKey(r, hive, keyPath);
    const posix::HiveValue* value = key ? key->FindValue(valueName) : nullptr;
    return value ? std::optional<posix::HiveValue>(*value) : std::nullopt;
}

bool StoredKeyExists(const TempRegistry& r, reg::HKEY hive, const std::string& keyPath) {
    return StoredKey(r, hive, keyPath).has_value();
}

std::string Bytes(std::initializer_list<int> bytes) {
    std::string out;
    for (int b : bytes) {
        out.push_back(static_cast<char>(b));
    }
    return out;
}

std::optional<std::vector<std::int32_t>> RunUnprivileged(
    const std::function<std::vector<std::int32_t>()>& body) {
    int fds[2];
    if (pipe(fds) != 0) {
        return std::nullopt;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        return std::nullopt;
    }
    if (pid == 0) {
        close(fds[0]);
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kNoGroup) != 0 || setuid(kNobody) != 0)) {
            _exit(2);
        }
        // A handful of numbers: one write, well below what a pipe takes at once.
        const std::vector<std::int32_t> results = body();
        const auto size = static_cast<ssize_t>(results.size() * sizeof(std::int32_t));
        _exit(write(fds[1], results.data(), size) == size ? 0 : 3);
    }
    close(fds[1]);
    std::vector<std::int32_t> results(1024);
    const ssize_t size = read(fds[0], results.data(), results.size() * sizeof(std::int32_t));
    close(fds[0]);
    if (WaitChild(pid) != 0 || size < 0 || size % sizeof(std::int32_t) != 0) {
        return std::nullopt;
    }
    results.resize(static_cast<std::size_t>(size) / sizeof(std::int32_t));
    return results;
}

void GiveToUnprivilegedUser(const std::string& path) {
    std::filesystem::create_directories(path);
    if (geteuid() == 0) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
            (void)!chown(entry.path().c_str(), kNobody, kNoGroup);
        }
        (void)!chown(path.c_str(), kNobody, kNoGroup);
    }
}

void OpenForUnprivilegedUser(const std::string& path) {
    chmod(path.c_str(), 0755);
}

pid_t StartChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(body());
    }
    return pid;
}

int WaitChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tarnu::test
