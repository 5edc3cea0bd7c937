#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>
#include <tuple>

#include "dbmaint/compaction_run.h"
#include "tests/dbmaint/dbmaint_support.h"
#include "tests/support/child_process.h"
#include "tests/support/recording_message_boxes.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {
namespace {

using Clock = std::chrono::steady_clock;

// Runs the whole compaction in a child process working in dir; exits 0 after the success box.
pid_t StartRun(const std::string& dir) {
    return StartChild([&] {
        if (::chdir(dir.c_str()) != 0) {
            return 2;
        }
        posix::PosixFileServices files;
        RecordingMessageBoxes boxes;
        dbmaint::EngineHolder holder([] { return engine::MakeEngine(); });
        dbmaint::CompactionRun run(holder, files, boxes, [&] { return dir; });
        run();
        return boxes.boxes.size() == 1 && boxes.boxes[0].style == ui::vbInformation ? 0 : 3;
    });
}

// Mode, owner and group of each program file.
std::map<std::string, std::tuple<mode_t, uid_t, gid_t>> AccessOf(const std::string& dir) {
    std::map<std::string, std::tuple<mode_t, uid_t, gid_t>> access;
    for (const auto& name : kProgramFiles) {
        const struct stat st = StatOf(dir + "/" + name);
        access[name] = {st.st_mode, st.st_uid, st.st_gid};
    }
    return access;
}

TEST(CompactionKill, EveryNameHoldsAWholeDatabaseAfterAKillAtAnyMoment) {
    TempDir dir;
    CopyDemoFolder(dir.path());
    const auto before = ReadProgramFolder(dir.path());
    // Modes and owners that the default of a new file would not give.
    const bool root = ::geteuid() == 0;
    ::chmod(dir.file("system.srv").c_str(), 0600);
    ::chmod(dir.file("KDL.mdb").c_str(), 0660);
    ::chmod(dir.file("kdlcode.mde").c_str(), 0604);
    if (root) {
        ::chown(dir.file("KDL.mdb").c_str(), 0, 65534);
        ::chown(dir.file("kdlcode.mde").c_str(), 65534, 65534);
    }
    const auto access = AccessOf(dir.path());

    // A whole undisturbed run tells how long there is to hit.
    auto t0 = Clock::now();
    int status = 0;
    ::waitpid(StartRun(dir.path()), &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    ASSERT_EQ(AccessOf(dir.path()), access) << "after a whole run";
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0);

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<long> moment(0, whole.count());

    const auto deadline = Clock::now() + std::chrono::seconds(5);
    int kills = 0;
    int midRun = 0;
    while (Clock::now() < deadline && kills < 40) {
        const pid_t pid = StartRun(dir.path());
        std::this_thread::sleep_for(std::chrono::microseconds(moment(rng)));
        if (::waitpid(pid, &status, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            ++midRun;
        }
        ::waitpid(pid, &status, 0);
        ++kills;

        for (const auto& name : kProgramFiles) {
            ASSERT_TRUE(FileExists(dir.file(name))) << name << " lost after kill " << kills;
        }
        ASSERT_EQ(ReadProgramFolder(dir.path()), before) << "after kill " << kills;
        ASSERT_EQ(AccessOf(dir.path()), access) << "after kill " << kills;
    }
    EXPECT_GE(kills, 5);
    EXPECT_GT(midRun, 0) << "no kill landed inside a run";
    // What the killed runs left, copies and their journals, is the runner's and goes with the
    // next whole run: nothing may pile up.
    ::waitpid(StartRun(dir.path()), &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    std::vector<std::string> only = kProgramFiles;
    std::sort(only.begin(), only.end());
    EXPECT_EQ(FolderContents(dir.path()), only);
}

}  // namespace
}  // namespace tarnu::test
