// The settings file as a file: replaced whole, never torn, shared by concurrent writers.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/linux/posix/ini_profile.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tarnu::posix {
namespace {

using test::ReadFile;
using test::WriteFile;

TEST(IniFile, RewriteKeepsModeAndLinksAndLeavesNothingBeside) {
    test::TempDir dir;
    const std::string link = dir.file("T.ini");
    WriteFile(dir.file("shared.ini"), "[S]\nk=1\n");
    ASSERT_EQ(::chmod(dir.file("shared.ini").c_str(), 0640), 0);
    ASSERT_EQ(::symlink("shared.ini", link.c_str()), 0);
    IniProfile profile;
    ASSERT_EQ(profile.WritePrivateProfileStringA("S", "k", "2", link), 1);
    EXPECT_EQ(ReadFile(dir.file("shared.ini")), "[S]\nk=2\n");
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(link.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);

    // A link that points nowhere is refused rather than replaced.
    ASSERT_EQ(::symlink("missing.ini", dir.file("gone.ini").c_str()), 0);
    EXPECT_EQ(profile.WritePrivateProfileStringA("S", "k", "2", dir.file("gone.ini")), 0);
    EXPECT_FALSE(test::FileExists(dir.file("missing.ini")));
}

// A writer killed at some moment of a write leaves the old file or the new one, never a mix.
// The kills are spread over a few times the length of one write, measured first, so that most
// of them land inside a write whatever the speed of the disk.
TEST(IniFile, KillDuringAWriteLeavesAWholeFile) {
    test::TempDir dir;
    const std::string path = dir.file("t.ini");
    const std::size_t length = 1u << 20;
    IniProfile profile;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(profile.WritePrivateProfileStringA("S", "K", std::string(length, 'a'), path), 1);
    const auto oneWrite = std::chrono::steady_clock::now() - started;
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
        std::this_thread::sleep_for(oneWrite * (round + 1) * 3 / kRounds);
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

TEST(IniFile, ConcurrentWritersLoseNoValue) {
    test::TempDir dir;
    const std::string path = dir.file("t.ini");
    constexpr int kKeys = 40;
    auto writer = [&](const std::string& prefix) {
        return [&, prefix] {
            IniProfile profile;
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
