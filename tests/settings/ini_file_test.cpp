// The Linux profile functions: the cases both platforms share, and the settings file as a file:
// replaced whole, never torn, shared by concurrent writers.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/linux/posix/ini_profile.h"
#include "tests/settings/profile_cases.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tarnu::posix {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;
using test::WriteFile;

constexpr std::size_t kFileLimit = 1u << 20;

std::string Get(IniProfile& profile, const std::string& path) {
    char buffer[64];
    const std::uint32_t n =
        profile.GetPrivateProfileStringA("S", "k", "DEF", buffer, sizeof buffer, path);
    return std::string(buffer, n);
}

class IniFile : public ::testing::Test {
  protected:
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
    const std::string link = path;
    WriteFile(dir.file("shared.ini"), "[S]\nk=1\n");
    ASSERT_EQ(::chmod(dir.file("shared.ini").c_str(), 0640), 0);
    ASSERT_EQ(::symlink("shared.ini", link.c_str()), 0);
    ASSERT_EQ(profile.WritePrivateProfileStringA("S", "k", "2", link), 1);
    EXPECT_EQ(ReadFile(dir.file("shared.ini")), "[S]\nk=2\n");
    EXPECT_TRUE(S_ISLNK(test::StatOf(link).st_mode));
    EXPECT_EQ(test::StatOf(dir.file("shared.ini")).st_mode & 07777, 0640u);
    EXPECT_EQ(test::FolderContents(dir.path()), (std::vector<std::string>{"shared.ini", "t.ini"}));
}

// In a program folder others can write, a user's link at the settings file would make root's
// next write change any file the user names.
TEST_F(IniFile, AnotherUsersLinkIsNotFollowed) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a link to another user needs root";
    }
    WriteFile(dir.file("root-only"), "geheim\n");
    ASSERT_EQ(::chmod(dir.file("root-only").c_str(), 0600), 0);
    ASSERT_EQ(::symlink(dir.file("root-only").c_str(), path.c_str()), 0);
    ASSERT_EQ(::lchown(path.c_str(), 65534, 65534), 0);
    EXPECT_EQ(profile.WritePrivateProfileStringA("Pfade", "Quelle", "x", path), 0);
    EXPECT_EQ(ReadFile(dir.file("root-only")), "geheim\n");
    EXPECT_TRUE(S_ISLNK(test::StatOf(path).st_mode));
}

TEST_F(IniFile, AWriterWaitsForAnotherProcessOnlySoLong) {
    WriteFile(path, "[S]\r\nk=1\r\n");
    const int held = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const pid_t child = test::StartChild([&] {
        ::alarm(5);  // a write that waits fails the test instead of hanging it
        IniProfile waiting(100ms);
        return waiting.WritePrivateProfileStringA("S", "k", "2", path);
    });
    EXPECT_EQ(test::WaitChild(child), 0);
    EXPECT_EQ(ReadFile(path), "[S]\r\nk=1\r\n");
    ::close(held);
    EXPECT_EQ(profile.WritePrivateProfileStringA("S", "k", "2", path), 1);
}

// Before, the writer created the file to lock it, and a write that failed then left it empty.
TEST_F(IniFile, AFailedWriteLeavesNoNewFileBehind) {
    const pid_t child = test::StartChild([&] {
        // The disk is full, as far as this process is concerned.
        const rlimit small{4, 4};
        ::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &small);
        return profile.WritePrivateProfileStringA("Pfade", "Quelle", "C:\\Quelle", path);
    });
    EXPECT_EQ(test::WaitChild(child), 0);
    EXPECT_TRUE(test::FolderContents(dir.path()).empty());
    ASSERT_EQ(profile.WritePrivateProfileStringA("S", "k", "v", path), 1);
    EXPECT_EQ(Get(profile, path), "v");
}

// Only a regular file of a sensible size is a settings file: anything else reads as a missing
// file, without waiting and without reading on and on, and is not written.
TEST_F(IniFile, OnlyARegularFileUpToItsLimitIsReadOrWritten) {
    const std::string head = "[S]\r\nk=v\r\n;";
    struct Case {
        const char* what;
        std::function<void(const std::string& path)> make;
        std::string read;
        int written;
    };
    const std::vector<Case> cases = {
        {"FIFO", [](const std::string& p) { ::mkfifo(p.c_str(), 0600); }, "DEF", 0},
        {"file at the limit",
         [&](const std::string& p) {
             WriteFile(p, head + std::string(kFileLimit - head.size(), 'x'));
         },
         "v", 1},
        {"file over the limit",
         [&](const std::string& p) {
             WriteFile(p, head + std::string(kFileLimit + 1 - head.size(), 'x'));
         },
         "DEF", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink(path.c_str());
        c.make(path);
        const ino_t before = test::StatOf(path).st_ino;
        const pid_t child = test::StartChild([&] {
            ::alarm(5);
            return (Get(profile, path) == c.read ? 0 : 1) |
                   (profile.WritePrivateProfileStringA("S", "k", "w", path) == c.written ? 0 : 2);
        });
        EXPECT_EQ(test::WaitChild(child), 0);
        EXPECT_EQ(test::StatOf(path).st_ino == before, c.written == 0)
            << "a refused write changes nothing";
    }
    // A value that would take the file over the limit is refused too.
    ::unlink(path.c_str());
    WriteFile(path, head);
    EXPECT_EQ(profile.WritePrivateProfileStringA("S", "k", std::string(kFileLimit, 'y'), path), 0);
    EXPECT_EQ(ReadFile(path), head);
}

// A writer killed at some moment of a write leaves the old file or the new one, never a mix.
// The kills are spread over a few times the length of one write, the slowest of a few measured
// first, so that most of them land inside a write whatever the speed of the disk.
TEST_F(IniFile, KillDuringAWriteLeavesAWholeFile) {
    const std::size_t length = 1u << 19;
    auto oneWrite = std::chrono::steady_clock::duration::zero();
    for (int i = 0; i < 3; ++i) {
        const auto started = std::chrono::steady_clock::now();
        ASSERT_EQ(profile.WritePrivateProfileStringA("S", "K", std::string(length, 'a'), path), 1);
        oneWrite = std::max(oneWrite, std::chrono::steady_clock::now() - started);
    }
    const std::string head = "[S]\r\nK=";

    constexpr int kRounds = 12;
    int changed = 0;
    for (int round = 0; round < kRounds; ++round) {
        const pid_t child = test::StartChild([&] {
            for (int i = 0;; ++i) {
                profile.WritePrivateProfileStringA("S", "K", std::string(length, 'b' + i % 24),
                                                   path);
            }
            return 0;
        });
        std::this_thread::sleep_for(oneWrite * (round + 1) * 6 / kRounds);
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        EXPECT_EQ(test::WaitChild(child), -1);

        const std::string content = ReadFile(path);
        ASSERT_EQ(content.size(), head.size() + length + 2) << "round " << round;
        ASSERT_EQ(content.substr(0, head.size()), head);
        const char letter = content[head.size()];
        ASSERT_EQ(content.find_first_not_of(letter, head.size()), content.size() - 2);
        ASSERT_EQ(content.substr(content.size() - 2), "\r\n");
        changed += letter != 'a';
    }
    // Otherwise the children never got to write and the rounds proved nothing.
    EXPECT_GT(changed, 0);
}

TEST_F(IniFile, ConcurrentWritersLoseNoValue) {
    constexpr int kKeys = 40;
    auto writer = [&](const std::string& prefix) {
        return [&, prefix] {
            for (int i = 0; i < kKeys; ++i) {
                const std::string key = prefix + std::to_string(i);
                if (profile.WritePrivateProfileStringA("Pfade", key, "v" + key, path) != 1) {
                    return 1;
                }
            }
            return 0;
        };
    };
    EXPECT_EQ(test::RunTogether({writer("A"), writer("B")}), (std::vector<int>{0, 0}));

    const std::string content = ReadFile(path);
    for (const std::string prefix : {"A", "B"}) {
        for (int i = 0; i < kKeys; ++i) {
            const std::string key = prefix + std::to_string(i);
            EXPECT_NE(content.find("\r\n" + key + "=v" + key + "\r\n"), std::string::npos) << key;
        }
    }
    EXPECT_EQ(content.rfind("[Pfade]"), 0u);
}

}  // namespace
}  // namespace tarnu::posix
