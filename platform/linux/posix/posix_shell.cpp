#include "platform/linux/posix/posix_shell.h"

namespace tarnu::posix {

std::vector<std::string> SplitNulList(const std::string& list) {
    std::vector<std::string> items;
    std::size_t at = 0;
    while (at < list.size()) {
        const std::size_t end = list.find('\0', at);
        if (end == at) {
            break;  // the empty item that closes the list
        }
        items.push_back(list.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    return items;
}

int PosixShell::SHFileOperationA(SHFILEOPSTRUCTA& request) {
    request.fAnyOperationsAborted = false;
    const auto refuse = [&](const std::string& text) {
        observer_.Failed({copy_status::kBadRequest, "", text});
        return copy_status::kBadRequest;
    };
    if (request.wFunc != FO_COPY) {
        return refuse("Dieser Dateivorgang wird nicht unterstützt; nur Kopieren ist möglich.");
    }
    const std::vector<std::string> sources = SplitNulList(request.pFrom);
    const std::vector<std::string> targets = SplitNulList(request.pTo);
    if (sources.size() > 1 || targets.size() > 1) {
        return refuse("Es kann nur eine Quelle in ein Ziel kopiert werden.");
    }
    const CopyResult result = CopyService().Copy(sources.empty() ? "" : sources.front(),
                                                 targets.empty() ? "" : targets.front(), observer_);
    request.fAnyOperationsAborted = result.aborted;
    return result.status;
}

}  // namespace tarnu::posix
