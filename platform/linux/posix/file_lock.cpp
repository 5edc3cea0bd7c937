#include "platform/linux/posix/file_lock.h"

#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace tarnu::posix {

int LockExclusive(int fd, std::chrono::steady_clock::time_point deadline) {
    // flock() itself cannot wait with a limit, so ask again and again: soon at first, as locks
    // are mostly held for one short write, then more calmly.
    std::chrono::milliseconds pause{1};
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return 0;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            return errno;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return ETIMEDOUT;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds{25});
    }
}

}  // namespace tarnu::posix
