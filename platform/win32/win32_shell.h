#pragma once

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

}  // namespace tarnu::win32
