#include "tests/settings/child_process.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace tarnu::test {

namespace {
constexpr uid_t kNobody = 65534;
}

pid_t StartChild(const std::function<int()>& body, bool asUnprivileged) {
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        int code = 100;
        try {
            if (asUnprivileged && ::geteuid() == 0 &&
                (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 ||
                 ::setuid(kNobody) != 0)) {
                ::_exit(101);
            }
            code = body();
        } catch (...) {
            code = 102;
        }
        ::_exit(code);
    }
    return pid;
}

int WaitChild(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            throw std::runtime_error("waitpid failed");
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunInChild(const std::function<int()>& body, bool asUnprivileged) {
    return WaitChild(StartChild(body, asUnprivileged));
}

void MakeReadOnlyForAll(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 ||
        ::chmod(path.c_str(), S_ISDIR(st.st_mode) ? 0555 : 0444) != 0) {
        throw std::runtime_error("cannot change the mode of " + path);
    }
}

void MakeWritableForAll(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 ||
        ::chmod(path.c_str(), S_ISDIR(st.st_mode) ? 0777 : 0666) != 0) {
        throw std::runtime_error("cannot change the mode of " + path);
    }
}

}  // namespace tarnu::test
