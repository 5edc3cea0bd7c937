#pragma once

// The copy of a run without windows: no progress dialog and no error box. Each error the copy
// service reports goes to the error stream as the box would have shown it, and when the copy
// has ended the files and bytes it put in place go to the output. A flag, typically set by a
// signal handler, cancels the copy as the progress dialog's button would.

#include <csignal>
#include <cstdint>
#include <ostream>

#include "platform/linux/posix/copy_service.h"
#include "ports/copy_survey.h"
#include "ports/shellcopy.h"

namespace tarnu::posix {

class WrittenCopy : public ShellApi, public CopySurveyApi, private CopyObserver {
  public:
    // stop may be null: then nothing cancels the copy.
    WrittenCopy(std::ostream& out, std::ostream& err, const volatile std::sig_atomic_t* stop);
    int SHFileOperationA(SHFILEOPSTRUCTA& request) override;
    CopySurvey SurveyCopy(const std::string& source, const std::string& target) override;

  private:
    void Progress(const CopyProgress&) override {}
    bool CancelRequested() override;
    void Failed(const CopyFailure& failure) override;
    void Finished(const CopyResult& result) override;

    std::ostream& out_;
    std::ostream& err_;
    const volatile std::sig_atomic_t* stop_;
    std::uint64_t files_ = 0;
    std::uint64_t bytes_ = 0;
};

}  // namespace tarnu::posix
