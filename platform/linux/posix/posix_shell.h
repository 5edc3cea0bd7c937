#pragma once

// The shell-copy port on Linux: takes the request record of a copy and runs the copy service
// with an observer that reports progress and errors to whoever sits on top (the program's
// dialogs, a command line).

#include <string>
#include <vector>

#include "platform/linux/posix/copy_service.h"
#include "ports/shellcopy.h"

namespace tarnu::posix {

// The items of a NUL-separated list closed by an empty item. A list that lacks its closing
// empty item ends where the text ends.
std::vector<std::string> SplitNulList(const std::string& list);

// Carries out FO_COPY requests of one source item and at most one target item (none: the
// current folder) and returns the copy's status, setting fAnyOperationsAborted after a cancel.
// The flags are not consulted: the copy always runs without questions and makes missing target
// folders, and keeps no undo information. Any other operation, and several sources or targets,
// are refused with copy_status::kBadRequest and an error through the observer, without touching
// a file.
class PosixShell : public ShellApi {
  public:
    explicit PosixShell(CopyObserver& observer) : observer_(observer) {}
    int SHFileOperationA(SHFILEOPSTRUCTA& request) override;

  private:
    CopyObserver& observer_;
};

}  // namespace tarnu::posix
