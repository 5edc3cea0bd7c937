#include "platform/linux/posix/written_copy.h"

#include "platform/linux/posix/posix_shell.h"

namespace tarnu::posix {

WrittenCopy::WrittenCopy(std::ostream& out, std::ostream& err,
                         const volatile std::sig_atomic_t* stop)
    : out_(out), err_(err), stop_(stop) {}

int WrittenCopy::SHFileOperationA(SHFILEOPSTRUCTA& request) {
    files_ = 0;
    bytes_ = 0;
    PosixShell shell(*this);
    const int status = shell.SHFileOperationA(request);
    out_ << "Kopiert: " << files_ << (files_ == 1 ? " Datei, " : " Dateien, ") << bytes_
         << " Bytes\n";
    if (request.fAnyOperationsAborted) {
        err_ << "Kopieren abgebrochen.\n";
    }
    return status;
}

CopySurvey WrittenCopy::SurveyCopy(const std::string& source, const std::string& target) {
    return CopyService().Survey(source, target);
}

bool WrittenCopy::CancelRequested() {
    return stop_ != nullptr && *stop_ != 0;
}

void WrittenCopy::Failed(const CopyFailure& failure) {
    err_ << failure.text << '\n';
}

void WrittenCopy::Finished(const CopyResult& result) {
    files_ = result.filesCopied;
    bytes_ = result.bytesCopied;
}

}  // namespace tarnu::posix
