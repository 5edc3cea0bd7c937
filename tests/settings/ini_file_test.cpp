// The Linux profile functions: the cases both platforms share, and the settings file as a file:
// replaced whole, never torn, shared by concurrent writers.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/linux/posix/ini_profile.h"
#include "ports/error.h"
#include "tests/settings/profile_cases.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tarnu::posix {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;
using test::WriteFile;

constexpr std::size_t kFileLimit = 1u << 20;

class IniFile : public ::testing::Test {
  protected:
    std::string Get(const std::string& file) {
        char buffer[64];
        return std::string(
            buffer, profile.GetPrivateProfileStringA("S", "k", "DEF", buffer, sizeof buffer, file));
    }
    int Put(const std::string& value, const std::string& file) {
        return profile.WritePrivateProfileStringA("S", "k", value, file);
    }

    test::TempDir dir;
    const std::string path = dir.file("t.ini");
    IniProfile profile;
};

// The Linux files hold the shared cases' UTF-8 as it is.
TEST_F(IniFile, SharedCasesOfTheProfileFunctions) {
    const test::ProfileFileText utf8{[](const std::string& s) { return s; },
                                     [](const std::string& s) { return s; }};
    test::ExpectHandWrittenFilesRead(profile, utf8);
    test::ExpectDefaultsAndBufferSizes(profile, utf8);
    test::ExpectWritesChangeOnlyTheirLine(profile, utf8);
    test::ExpectRefusedWritesChangeNothing(profile, utf8);
}

TEST_F(IniFile, RewriteKeepsModeAndLinksAndLeavesNothingBeside) {
    WriteFile(dir.file("shared.ini"), "[S]\nk=1\n");
    ASSERT_EQ(::chmod(dir.file("shared.ini").c_str(), 0640), 0);
    ASSERT_EQ(::symlink("shared.ini", path.c_str()), 0);
    ASSERT_EQ(Put("2", path), 1);
    EXPECT_EQ(ReadFile(dir.file("shared.ini")), "[S]\nk=2\n");
    EXPECT_TRUE(S_ISLNK(test::StatOf(path).st_mode));
    EXPECT_EQ(test::StatOf(dir.file("shared.ini")).st_mode & 07777, 0640u);
    EXPECT_EQ(test::FolderContents(dir.path()), (std::vector<std::string>{"shared.ini", "t.ini"}));
}

TEST_F(IniFile, AWriterWaitsForAnotherProcessOnlySoLong) {
    WriteFile(path, "[S]\r\nk=1\r\n");
    const int held = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const pid_t child = test::StartChild([&] {
        ::alarm(5);  // a write that waits fails the test instead of hanging it
        return IniProfile(100ms).WritePrivateProfileStringA("S", "k", "2", path);
    });
    EXPECT_EQ(test::WaitChild(child), 0);
    EXPECT_EQ(ReadFile(path), "[S]\r\nk=1\r\n");
    ::close(held);
    EXPECT_EQ(Put("2", path), 1);
}

// Before, the writer created the file to lock it, and a write that failed then left it empty.
TEST_F(IniFile, AFailedWriteLeavesNoNewFileBehind) {
    const pid_t child = test::StartChild([&] {
        const rlimit full{4, 4};  // the disk is full, as far as this process is concerned
        ::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &full);
        return Put("C:\\Quelle", path);
    });
    EXPECT_EQ(test::WaitChild(child), 0);
    EXPECT_TRUE(test::FolderContents(dir.path()).empty());
}

// Only a regular file of a sensible size, reached under the link rule, is a settings file:
// anything else reads as a missing file, without waiting and without reading on and on, and is
// not written. What is not a settings file is never even opened: opening a link to a watchdog
// device would reboot the machine, and a root run must not read another user's choice of file.
TEST_F(IniFile, OnlyARegularFileReachedUnderTheLinkRuleIsOpenedReadOrWritten) {
    const std::string head = "[S]\r\nk=v\r\n;";
    const std::string secret = dir.file("secret");
    const std::string fifo = dir.file("fifo");
    const auto sized = [&](std::size_t size) {
        return [&, size] {
            WriteFile(path, head + std::string(size - head.size(), 'x'));
            return true;
        };
    };
    struct Case {
        const char* what;
        std::function<bool()> make;  // false: cannot be made here
        std::string unopened;        // what must never be opened
        bool settings = false;       // read and written as a settings file
    };
    const std::vector<Case> cases = {
        {"FIFO", [&] { return ::mkfifo(path.c_str(), 0600) == 0; }, path},
        {"device", [&] { return ::mknod(path.c_str(), S_IFCHR | 0600, ::makedev(1, 3)) == 0; },
         path},
        {"root's link to a FIFO",
         [&] { return ::mkfifo(fifo.c_str(), 0600) == 0 && ::symlink("fifo", path.c_str()) == 0; },
         fifo},
        {"another user's link to root's file",
         [&] {
             return ::symlink(secret.c_str(), path.c_str()) == 0 &&
                    ::lchown(path.c_str(), 65534, 65534) == 0;
         },
         secret},
        {"file at the limit", sized(kFileLimit), "", true},
        {"file over the limit", sized(kFileLimit + 1), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink(path.c_str());
        ::unlink(fifo.c_str());
        WriteFile(secret, "[S]\r\nk=geheim\r\n");
        ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
        if (!c.make()) {
            continue;  // no devices or other users' links here
        }
        const int opens = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(opens, 0);
        if (!c.unopened.empty()) {
            ASSERT_GE(::inotify_add_watch(opens, c.unopened.c_str(), IN_OPEN), 0);
        }
        const ino_t before = test::StatOf(path).st_ino;
        const pid_t child = test::StartChild([&] {
            ::alarm(5);
            return (Get(path) == (c.settings ? "v" : "DEF") ? 0 : 1) |
                   (Put("w", path) == c.settings ? 0 : 2);
        });
        EXPECT_EQ(test::WaitChild(child), 0);
        inotify_event event{};
        EXPECT_LT(::read(opens, &event, sizeof event), 0) << "opened " << c.unopened;
        ::close(opens);
        EXPECT_EQ(test::StatOf(path).st_ino == before, !c.settings)
            << "a refused write changes nothing";
        EXPECT_EQ(ReadFile(secret), "[S]\r\nk=geheim\r\n");
    }
    // A value that would take the file over the limit is refused too.
    WriteFile(path, head);
    EXPECT_EQ(Put(std::string(kFileLimit, 'y'), path), 0);
    EXPECT_EQ(ReadFile(path), head);
}

// The settings file decides from where and to where a root run copies. Root believes only one
// of root's that nobody else may write, and says which file and what to do; a user's own runs
// read their own file as ever.
TEST_F(IniFile, ARootRunBelievesOnlyASettingsFileOfRootsThatNobodyElseMayWrite) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    const std::string named = dir.file("e\x1b[31m.ini");  // its name must not steer a terminal
    struct Row {
        uid_t owner;
        mode_t mode;
        bool believed;
    };
    for (const Row& row : std::vector<Row>{{0, 0644, true},
                                           {0, 0600, true},
                                           {0, 0664, false},
                                           {0, 0606, false},
                                           {65534, 0644, false}}) {
        SCOPED_TRACE(std::to_string(row.owner) + " " + std::to_string(row.mode));
        WriteFile(named, "[S]\r\nk=v\r\n");
        ASSERT_EQ(::chown(named.c_str(), row.owner, row.owner), 0);
        ASSERT_EQ(::chmod(named.c_str(), row.mode), 0);
        std::string read;
        std::string refusal;
        try {
            read = Get(named);
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), 70);
            refusal = e.description();
        }
        EXPECT_EQ(read, row.believed ? "v" : "");
        EXPECT_EQ(refusal.empty(), row.believed) << refusal;
        if (!row.believed) {
            const std::string shown = dir.file("e\\x1B[31m.ini");
            EXPECT_NE(refusal.find("chown root '" + shown + "'\nchmod go-w '" + shown + "'"),
                      std::string::npos)
                << refusal;
            EXPECT_EQ(refusal.find('\x1b'), std::string::npos);
        }
    }
    // One that root makes is believed also where root's umask lets the group write.
    const mode_t umask = ::umask(002);
    EXPECT_EQ(Put("neu", path), 1);
    ::umask(umask);
    EXPECT_EQ(Get(path), "neu");

    test::OpenForUnprivilegedUser(dir.path());
    ASSERT_EQ(::chmod(named.c_str(), 0666), 0);
    const pid_t child = test::StartChild([&] { return Get(named) == "v" ? 0 : 1; }, true);
    EXPECT_EQ(test::WaitChild(child), 0) << "the user's own run reads the user's file";
}

// A writer killed at some moment of a write leaves the old file or the new one, never a mix.
// The kills are spread over a few times the length of one write, the slowest of a few measured
// first, so that most of them land inside a write whatever the speed of the disk.
TEST_F(IniFile, KillDuringAWriteLeavesAWholeFile) {
    const std::size_t length = 1u << 19;
    auto oneWrite = std::chrono::steady_clock::duration::zero();
    for (int i = 0; i < 3; ++i) {
        const auto started = std::chrono::steady_clock::now();
        ASSERT_EQ(Put(std::string(length, 'a'), path), 1);
        oneWrite = std::max(oneWrite, std::chrono::steady_clock::now() - started);
    }
    const std::string head = "[S]\r\nk=";
    constexpr int kRounds = 12;
    int changed = 0;
    for (int round = 0; round < kRounds; ++round) {
        const pid_t child = test::StartChild([&] {
            for (int i = 0;; ++i) {
                Put(std::string(length, 'b' + i % 24), path);
            }
            return 0;
        });
        std::this_thread::sleep_for(oneWrite * (round + 1) * 6 / kRounds);
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        EXPECT_EQ(test::WaitChild(child), -1);
        const std::string content = ReadFile(path);
        const char letter = content.size() > head.size() ? content[head.size()] : '?';
        ASSERT_TRUE(content == head + std::string(length, letter) + "\r\n") << "round " << round;
        changed += letter != 'a';
    }
    // Otherwise the children never got to write and the rounds proved nothing.
    EXPECT_GT(changed, 0);
}

TEST_F(IniFile, ConcurrentWritersLoseNoValue) {
    auto writer = [&](char prefix) {
        return [&, prefix] {
            int failed = 0;
            for (int i = 0; i < 40; ++i) {
                const std::string key = prefix + std::to_string(i);
                failed += profile.WritePrivateProfileStringA("Pfade", key, "v" + key, path) != 1;
            }
            return failed;
        };
    };
    EXPECT_EQ(test::RunTogether({writer('A'), writer('B')}), (std::vector<int>{0, 0}));
    const std::string content = ReadFile(path);
    EXPECT_EQ(content.rfind("[Pfade]"), 0u);
    for (const char prefix : {'A', 'B'}) {
        for (int i = 0; i < 40; ++i) {
            const std::string key = prefix + std::to_string(i);
            EXPECT_NE(content.find("\r\n" + key + "=v" + key + "\r\n"), std::string::npos) << key;
        }
    }
}

}  // namespace
}  // namespace tarnu::posix
