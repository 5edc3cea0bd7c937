#pragma once

#include <sys/types.h>

#include <functional>

namespace tarnu::test {

// Runs body in a forked child that exits with body's result. With asNobody a child running as
// root first becomes "nobody", since root may write where a test wants writing refused.
pid_t StartChild(const std::function<int()>& body, bool asNobody = false);
// The child's exit status, or -1 when a signal ended it.
int WaitChild(pid_t pid);

}  // namespace tarnu::test
