#include "platform/linux/qt/runtime_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/linux/files/unique_fd.h"

namespace tarnu::qt {

namespace {

constexpr const char* kVariable = "XDG_RUNTIME_DIR";

}  // namespace

PrivateRuntimeFolder::PrivateRuntimeFolder() {
    const char* named = std::getenv(kVariable);
    if (named && *named) {
        return;
    }
    // mkdtemp picks a name nobody can guess and makes it only where nothing is, so nothing
    // another user put into /tmp is ever taken over. The umask may have taken bits that Qt
    // insists on, so the mode is set again on the folder just made, never through its name.
    std::string name = "/tmp/tarnu-laufzeit-XXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) {
        return;
    }
    name = buffer.data();
    const files::UniqueFd folder(
        ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.ok() || ::fchmod(folder.get(), S_IRWXU) != 0 ||
        ::setenv(kVariable, name.c_str(), 1) != 0) {
        ::rmdir(name.c_str());
        return;
    }
    made_ = name;
}

PrivateRuntimeFolder::~PrivateRuntimeFolder() {
    if (made_.empty()) {
        return;
    }
    ::unsetenv(kVariable);
    // Only while empty: whatever Qt left there is not ours to judge.
    ::rmdir(made_.c_str());
}

}  // namespace tarnu::qt
