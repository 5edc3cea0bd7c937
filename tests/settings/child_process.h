#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace tarnu::test {

// Starts body in a forked child, which ends with body's result as exit status. With
// asUnprivileged the child first becomes "nobody" when it runs as root, since root may write
// where the test wants writing to be refused.
pid_t StartChild(const std::function<int()>& body, bool asUnprivileged = false);
// The exit status of the child, or -1 when a signal ended it.
int WaitChild(pid_t pid);
int RunInChild(const std::function<int()>& body, bool asUnprivileged = false);

// Makes path readable and searchable (and, for a folder, not writable) for everybody, so that
// an unprivileged child can reach it but not change it.
void MakeReadOnlyForAll(const std::string& path);
void MakeWritableForAll(const std::string& path);

}  // namespace tarnu::test
