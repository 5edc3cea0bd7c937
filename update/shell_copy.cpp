#include "update/shell_copy.h"

namespace tarnu::update {

std::string TrimSpaces(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool ShellCopy(ShellApi& shell, const std::string& source, const std::string& target) {
    try {
        SHFILEOPSTRUCTA request;
        request.hwnd = 0;
        request.wFunc = FO_COPY;
        // Lists of exactly one item, each closed by an empty item.
        request.pFrom = source + '\0' + '\0';
        request.pTo = target + '\0' + '\0';
        request.fFlags = CopyFlags;
        request.fAnyOperationsAborted = false;
        const int status = shell.SHFileOperationA(request);
        return status == 0 && !request.fAnyOperationsAborted;
    } catch (...) {
        // The shell never got to report anything, so nothing says the files are there.
        return false;
    }
}

}  // namespace tarnu::update
