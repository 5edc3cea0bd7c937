#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/linux/posix/copy_service.h"
#include "tests/copy_cases/shell_copy_cases.h"

namespace tarnu::test {

// Keeps what the copy reports; cancels or acts when a test asks it to.
class RecordingObserver : public posix::CopyObserver {
  public:
    void Progress(const posix::CopyProgress& progress) override {
        if (progressCalls++ == 0) {
            first = progress;
        }
        last = progress;
        if (onProgress) {
            onProgress(progress);
        }
    }
    bool CancelRequested() override { return cancel; }
    void Failed(const posix::CopyFailure& failure) override { failures.push_back(failure); }

    std::function<void(const posix::CopyProgress&)> onProgress;
    bool cancel = false;
    int progressCalls = 0;
    posix::CopyProgress first, last;
    std::vector<posix::CopyFailure> failures;
};

// Everything below dir (not dir itself), sorted by path; links are not followed.
copycases::Tree ReadTree(const std::string& dir);
// Makes the entries of tree below dir, in order.
void MakeTree(const std::string& dir, const copycases::Tree& tree);
// The temporary files of a copy anywhere below dir.
std::vector<std::string> TempLeftovers(const std::string& dir);

}  // namespace tarnu::test
