#pragma once

// Qt keeps what a desktop session shares between programs in the folder XDG_RUNTIME_DIR names.
// Root without a desktop session has none: Qt then warns on every start and falls back to
// /tmp/runtime-root, a name that another user could have taken first.

#include <string>

namespace tarnu::qt {

// While it lives, the process has a runtime folder: the one XDG_RUNTIME_DIR names, or else a
// new folder of the runner's own in /tmp, of mode 0700 and with a name nobody can guess, which
// XDG_RUNTIME_DIR then names until it is removed again at the end.
class PrivateRuntimeFolder {
  public:
    PrivateRuntimeFolder();
    ~PrivateRuntimeFolder();
    PrivateRuntimeFolder(const PrivateRuntimeFolder&) = delete;
    PrivateRuntimeFolder& operator=(const PrivateRuntimeFolder&) = delete;

    // The folder made; empty where XDG_RUNTIME_DIR named one already or none could be made.
    const std::string& Made() const { return made_; }

  private:
    std::string made_;
};

}  // namespace tarnu::qt
