#pragma once

#include <signal.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "platform/linux/engine/engine.h"
#include "tests/support/child_process.h"
#include "tests/support/error_of.h"

namespace tarnu::test {

// A child process that opens a database and keeps it open until it is killed.
class HoldingChild {
  public:
    explicit HoldingChild(const std::string& path, bool exclusive = false) {
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        pid_ = StartChild([&] {
            std::unique_ptr<engine::Database> db;
            const int result = ErrorOf(
                [&] { db = engine::MakeEngine()->OpenDatabase(path, exclusive, false, ""); });
            (void)!::write(fds[1], &result, sizeof result);
            while (true) {
                ::pause();
            }
            return 0;
        });
        ::close(fds[1]);
        if (::read(fds[0], &openResult_, sizeof openResult_) != sizeof openResult_) {
            openResult_ = -1;
        }
        ::close(fds[0]);
    }
    ~HoldingChild() { Kill(); }
    HoldingChild(const HoldingChild&) = delete;
    HoldingChild& operator=(const HoldingChild&) = delete;

    void Kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            WaitChild(pid_);
            pid_ = -1;
        }
    }
    // The error number of the child's open, 0 when it succeeded.
    int openResult() const { return openResult_; }

  private:
    pid_t pid_ = -1;
    int openResult_ = -1;
};

}  // namespace tarnu::test
