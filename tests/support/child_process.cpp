#include "tests/support/child_process.h"

#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "tests/support/temp_dir.h"

namespace tarnu::test {

pid_t StartChild(const std::function<int()>& body, bool asNobody) {
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        if (asNobody && ::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(101);
        }
        // A child that loops until it is killed (a swapper in a race test) must not outlive a
        // test that failed or timed out. Set after the change of user, which clears it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() == 1) {
            ::_exit(104);
        }
        int code = 102;
        try {
            code = body();
        } catch (...) {
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

std::optional<std::vector<std::int32_t>> RunInChild(
    const std::function<std::vector<std::int32_t>()>& body, bool asNobody) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return std::nullopt;
    }
    const pid_t pid = StartChild(
        [&] {
            // A handful of numbers: one write, well below what a pipe takes at once.
            const std::vector<std::int32_t> results = body();
            const auto size = static_cast<ssize_t>(results.size() * sizeof(std::int32_t));
            return ::write(fds[1], results.data(), size) == size ? 0 : 103;
        },
        asNobody);
    ::close(fds[1]);
    std::vector<std::int32_t> results(1024);
    const ssize_t size = ::read(fds[0], results.data(), results.size() * sizeof(std::int32_t));
    ::close(fds[0]);
    if (WaitChild(pid) != 0 || size < 0 || size % sizeof(std::int32_t) != 0) {
        return std::nullopt;
    }
    results.resize(static_cast<std::size_t>(size) / sizeof(std::int32_t));
    return results;
}

std::vector<int> RunTogether(const std::vector<std::function<int()>>& bodies) {
    int gate[2];
    if (::pipe(gate) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<pid_t> pids;
    for (const auto& body : bodies) {
        pids.push_back(StartChild([&] {
            ::close(gate[1]);
            char go;
            return ::read(gate[0], &go, 1) == 0 ? body() : 104;  // waits until the gate closes
        }));
    }
    ::close(gate[0]);
    ::close(gate[1]);
    std::vector<int> codes;
    for (pid_t pid : pids) {
        codes.push_back(WaitChild(pid));
    }
    return codes;
}

CommandRun RunCommand(const std::string& command) {
    CommandRun run;
    TempDir scratch;
    const std::string errFile = scratch.file("stderr");
    FILE* pipe = ::popen(("{ " + command + "\n} 2>" + ShellQuote(errFile)).c_str(), "r");
    char buffer[4096];
    std::size_t n = 0;
    while (pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.out.append(buffer, n);
    }
    const int status = pipe ? ::pclose(pipe) : -1;
    run.exitCode = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = FileExists(errFile) ? ReadFile(errFile) : "";
    return run;
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        st = {};
    }
    return st;
}

void GiveToUnprivilegedUser(const std::string& path) {
    std::filesystem::create_directories(path);
    if (::geteuid() == 0) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
            (void)!::lchown(entry.path().c_str(), 65534, 65534);
        }
        (void)!::chown(path.c_str(), 65534, 65534);
    }
}

void OpenForUnprivilegedUser(const std::string& path) {
    ::chmod(path.c_str(), 0755);
}

std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

}  // namespace tarnu::test
