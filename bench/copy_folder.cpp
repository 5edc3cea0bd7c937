// Copies one source item to a target with the copy service, as the program's copy does, but
// without a window: the benchmark times it against cp. Prints what was copied and the peak
// resident memory of the process.
//   tarnu-copy-folder SOURCE TARGET

#include <sys/resource.h>

#include <cstdio>
#include <string>

#include "platform/linux/posix/copy_service.h"

namespace {

class PrintedFailures : public tarnu::posix::CopyObserver {
  public:
    void Progress(const tarnu::posix::CopyProgress&) override {}
    bool CancelRequested() override { return false; }
    void Failed(const tarnu::posix::CopyFailure& failure) override {
        std::fprintf(stderr, "%s\n", failure.text.c_str());
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tarnu-copy-folder SOURCE TARGET\n");
        return 2;
    }
    PrintedFailures observer;
    const tarnu::posix::CopyResult result =
        tarnu::posix::CopyService().Copy(argv[1], argv[2], observer);
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("status 0x%X files %llu bytes %llu peak_rss_kb %ld\n",
                static_cast<unsigned>(result.status),
                static_cast<unsigned long long>(result.filesCopied),
                static_cast<unsigned long long>(result.bytesCopied), usage.ru_maxrss);
    return result.status == 0 ? 0 : 1;
}
