// Runs the whole compaction of the main window's first button on a program folder, without a
// window: the benchmark times it against SQLite's own VACUUM INTO of the same files.
//   tarnu-compact-folder DIR

#include <unistd.h>

#include <cstdio>
#include <string>

#include "dbmaint/compaction_run.h"
#include "platform/linux/engine/engine.h"
#include "platform/linux/posix/posix_files.h"
#include "ports/ui.h"

namespace {

class PrintedBoxes : public tarnu::ui::MessageBoxes {
  public:
    void Show(const std::string& text, int style, const std::string& title) override {
        std::printf("%s: %s\n", title.c_str(), text.c_str());
        ok = style == tarnu::ui::vbInformation;
    }
    bool ok = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarnu-compact-folder DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    if (::chdir(dir.c_str()) != 0) {
        std::perror(argv[1]);
        return 2;
    }
    tarnu::posix::PosixFileServices files;
    PrintedBoxes boxes;
    tarnu::dbmaint::EngineHolder engine([] { return tarnu::engine::MakeEngine(); });
    tarnu::dbmaint::CompactionRun run(engine, files, boxes, [&] { return dir; });
    run();
    return boxes.ok ? 0 : 1;
}
