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

bool ReadAll(int fd, std::string& out) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace

std::optional<posix::HiveValue> StoredValue(const TempRegistry& r, reg::HKEY hive,
                                            const std::string& keyPath,
                                            const std::string& valueName) {
    posix::FileRegistry fresh(r.userFolder, r.machineFolder);
    posix::HiveKey root;
    std::vector<std::string> names;
    if (fresh.LoadHive(hive, root) != reg::ErrorSuccess ||
        posix::SplitKeyPath(keyPath, names) != reg::ErrorSuccess) {
        return std::nullopt;
    }
    const posix::HiveKey* key = posix::FindKey(root, names);
    const posix::HiveValue* value = key ? key->FindValue(valueName) : nullptr;
    return value ? std::optional<posix::HiveValue>(*value) : std::nullopt;
}

bool StoredKeyExists(const TempRegistry& r, reg::HKEY hive, const std::string& keyPath) {
    posix::FileRegistry fresh(r.userFolder, r.machineFolder);
    posix::HiveKey root;
    std::vector<std::string> names;
    return fresh.LoadHive(hive, root) == reg::ErrorSuccess &&
           posix::SplitKeyPath(keyPath, names) == reg::ErrorSuccess &&
           posix::FindKey(root, names) != nullptr;
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
        const std::vector<std::int32_t> results = body();
        const auto* data = reinterpret_cast<const char*>(results.data());
        std::size_t left = results.size() * sizeof(std::int32_t);
        while (left > 0) {
            const ssize_t n = write(fds[1], data, left);
            if (n <= 0) {
                _exit(3);
            }
            data += n;
            left -= static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string bytes;
    const bool read = ReadAll(fds[0], bytes);
    close(fds[0]);
    if (WaitChild(pid) != 0 || !read || bytes.size() % sizeof(std::int32_t) != 0) {
        return std::nullopt;
    }
    std::vector<std::int32_t> results(bytes.size() / sizeof(std::int32_t));
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(results.data()));
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
