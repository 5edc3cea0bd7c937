#pragma once

// Taking turns at a file with other processes without waiting for ever: whoever holds a lock
// (another user, a process that hangs) must not be able to stop the tool for good.

#include <chrono>

namespace tarnu::posix {

// How long a writer waits for the lock of another process before it gives up.
inline constexpr std::chrono::milliseconds kLockWait{10000};

// Takes an exclusive flock() on fd, waiting until deadline at the latest. Returns 0 once it is
// held, ETIMEDOUT when another holder kept it until the deadline, else the errno of the failure.
int LockExclusive(int fd, std::chrono::steady_clock::time_point deadline);

}  // namespace tarnu::posix
