#pragma once

// The shell-copy port of the program on Linux. The copy service runs on a worker thread while
// the user-interface thread keeps every window repainting. Once the copy has taken longer than
// a moment, an application-modal progress dialog names the current file and the bytes copied;
// its cancel button is the one live control, and until it appears no window takes input
// either. Every failure except a cancel ends with the service's own German error box. The
// survey before a copy runs the same way, without a dialog.

#include <chrono>
#include <functional>

#include "platform/linux/posix/copy_service.h"
#include "ports/copy_survey.h"
#include "ports/shellcopy.h"
#include "ports/ui.h"

namespace tarnu::qt {

inline constexpr const char* kCopyErrorTitle = "Fehler beim Kopieren";

class QtShell : public ShellApi, public CopySurveyApi {
  public:
    // What runs on the worker thread with the request; by default the Linux shell port over the
    // copy service. It must report through the observer it is given and poll it for a cancel.
    using CopyRun = std::function<int(SHFILEOPSTRUCTA& request, posix::CopyObserver& observer)>;

    // boxes shows the error box (the program passes its Qt message boxes). The progress dialog
    // appears once the copy has run for progressDelay.
    explicit QtShell(ui::MessageBoxes& boxes, CopyRun run = {},
                     std::chrono::milliseconds progressDelay = std::chrono::milliseconds(500));

    // Returns when the copy has ended and its error box, if any, was confirmed. Needs a
    // QApplication and must be called on its thread.
    int SHFileOperationA(SHFILEOPSTRUCTA& request) override;
    CopySurvey SurveyCopy(const std::string& source, const std::string& target) override;

  private:
    ui::MessageBoxes& boxes_;
    CopyRun run_;
    std::chrono::milliseconds progressDelay_;
};

}  // namespace tarnu::qt
