#pragma once

#include <ostream>

#include "ports/shellcopy.h"
#include "ports/ui.h"

namespace tarnu::win32 {

// The shell's file operation, SHFileOperationA. A source or target the code page cannot carry
// is not handed on with "?" in place of its characters, which the shell would take as a
// wildcard: the user gets a message like one of the shell's own error reports, and the
// operation fails with ERROR_NO_UNICODE_TRANSLATION.
class Win32Shell : public ShellApi {
  public:
    explicit Win32Shell(ui::MessageBoxes& boxes) : boxes_(boxes) {}
    int SHFileOperationA(SHFILEOPSTRUCTA& request) override;

  private:
    ui::MessageBoxes& boxes_;
};

// The shell's file operation for a run without windows: no progress dialog and no error box
// (FOF_SILENT and FOF_NOERRORUI on top of the request's flags). The shell tells nothing but its
// status, so that is what goes to err when it is not 0, as does an abort and whatever the
// Windows shell above would have shown in a box.
class UnattendedShell : public ShellApi, private ui::MessageBoxes {
  public:
    explicit UnattendedShell(std::ostream& err) : err_(err), shell_(*this) {}
    int SHFileOperationA(SHFILEOPSTRUCTA& request) override;

  private:
    void Show(const std::string& text, int style, const std::string& title) override;

    std::ostream& err_;
    Win32Shell shell_;
};

}  // namespace tarnu::win32
