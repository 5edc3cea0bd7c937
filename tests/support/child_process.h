#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnu::test {

// Runs body in a forked child that exits with body's result (102 when it throws). With asNobody
// a child running as root first becomes "nobody", so that file permissions apply to it.
pid_t StartChild(const std::function<int()>& body, bool asNobody = false);
// The child's exit status, or -1 when a signal ended it.
int WaitChild(pid_t pid);
// Runs body in a child and hands back the numbers it returned; nullopt when the child failed.
std::optional<std::vector<std::int32_t>> RunInChild(
    const std::function<std::vector<std::int32_t>()>& body, bool asNobody = false);
// Runs each body in a child of its own, all let go at the same moment; their exit statuses.
std::vector<int> RunTogether(const std::vector<std::function<int()>>& bodies);

// A shell command's standard output, standard error and exit status (-1 when it did not exit
// normally).
struct CommandRun {
    std::string out;
    std::string err;
    int exitCode = -1;
};
CommandRun RunCommand(const std::string& command);
// s in single quotes for the shell.
std::string ShellQuote(const std::string& s);

// What lstat() tells of path; all zero when there is nothing.
struct stat StatOf(const std::string& path);
// Makes the folder path with its missing parents and, run as root, gives it with everything in
// it to the unprivileged user of StartChild.
void GiveToUnprivilegedUser(const std::string& path);
// Lets the unprivileged user pass through a folder of ours, such as a TempDir.
void OpenForUnprivilegedUser(const std::string& path);

}  // namespace tarnu::test
