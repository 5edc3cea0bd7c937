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

void WrittenCopy::Progress(const CopyProgress& progress) {
    files_ = progress.filesDone;
    bytes_ = progress.bytesDone;
}

bool WrittenCopy::CancelRequested() {
    return stop_ != nullptr && *stop_ != 0;
}

void WrittenCopy::Failed(const CopyFailure& failure) {
    err_ << failure.text << '\n';
}

}  // namespace tarnu::posix
