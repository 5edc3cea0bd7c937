// The settings file as a file: replaced whole, never torn, shared by concurrent writers.

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/posix/ini_profile.h"
#include "tests/settings/child_process.h"
#include "tests/support/temp_dir.h"

namespace tarnu::posix {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(d);
    }
    return names;
}

std::string Read(IniProfile& profile, const std::string& section, const std::string& key,
                 const std::string& path) {
    std::vector<char> buffer(256);
    const std::uint32_t n = profile.GetPrivateProfileStringA(
        section, key, "<missing>", buffer.data(), static_cast<std::uint32_t>(buffer.size()), path);
    return std::string(buffer.data(), n);
}

TEST(IniFile, RewriteKeepsModeAndLeavesNothingBeside) {
    TempDir dir;
    const std::string path = dir.file("t.ini");
    WriteFile(path, "[S]\nk=1\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    IniProfile profile;
    ASSERT_EQ(profile.WritePrivateProfileStringA("S", "k", "2", path), 1);
    ASSERT_EQ(profile.WritePrivateProfileStringA("T", "k", "3", path), 1);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"t.ini"});
}

TEST(IniFile, WriteThroughALinkChangesTheFileItPointsTo) {
    TempDir dir;
    const std::string target = dir.file("shared.ini");
    const std::string link = dir.file("T.ini");
    WriteFile(target, "[S]\r\nk=1\r\n");
    ASSERT_EQ(::symlink("shared.ini", link.c_str()), 0);
    IniProfile profile;
    ASSERT_EQ(profile.WritePrivateProfileStringA("S", "k", "2", link), 1);
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(target), "[S]\r\nk=2\r\n");
}

// A writer killed at some moment of a write leaves the old file or the new one, never a mix.
// The kills are spread over a few times the length of one write, measured first, so that most
// of them land inside a write whatever the speed of the disk.
TEST(IniFile, KillDuringAWriteLeavesAWholeFile) {
    TempDir dir;
    const std::string path = dir.file("t.ini");
    const std::size_t length = 1u << 20;
    IniProfile profile;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(profile.WritePrivateProfileStringA("S", "K", std::string(length, 'a'), path), 1);
    const auto oneWrite = std::chrono::steady_clock::now() - started;
    const std::string head = "[S]\r\nK=";
    const std::size_t wholeSize = head.size() + length + 2;

    constexpr int kRounds = 12;
    int changed = 0;
    for (int round = 0; round < kRounds; ++round) {
        const pid_t child = test::StartChild([&] {
            IniProfile writer;
            for (int i = 0;; ++i) {
                writer.WritePrivateProfileStringA("S", "K", std::string(length, 'b' + i % 24),
                                                  path);
            }
            return 0;
        });
        std::this_thread::sleep_for(oneWrite * (round + 1) * 3 / kRounds);
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        EXPECT_EQ(test::WaitChild(child), -1);

        const std::string content = ReadFile(path);
        ASSERT_EQ(content.size(), wholeSize) << "round " << round;
        ASSERT_EQ(content.substr(0, head.size()), head);
        ASSERT_EQ(content.substr(content.size() - 2), "\r\n");
        const char letter = content[head.size()];
        ASSERT_EQ(content.find_first_not_of(letter, head.size()), content.size() - 2)
            << "round " << round;
        changed += letter != 'a';
    }
    // Otherwise the children never got to write and the rounds proved nothing.
    EXPECT_GT(changed, 0);
}

TEST(IniFile, ConcurrentWritersLoseNoValue) {
    TempDir dir;
    const std::string path = dir.file("t.ini");
    constexpr int kKeys = 40;
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    auto writer = [&](char prefix) {
        return test::StartChild([&, prefix] {
            ::close(gate[1]);
            char go;
            if (::read(gate[0], &go, 1) != 0) {
                return 3;
            }
            IniProfile profile;
            for (int i = 0; i < kKeys; ++i) {
                const std::string name = std::string(1, prefix) + std::to_string(i);
                if (profile.WritePrivateProfileStringA("Pfade", name, "v" + name, path) != 1) {
                    return 1;
                }
            }
            return 0;
        });
    };
    const pid_t first = writer('A');
    const pid_t second = writer('B');
    ::close(gate[0]);
    ::close(gate[1]);  // both start now
    EXPECT_EQ(test::WaitChild(first), 0);
    EXPECT_EQ(test::WaitChild(second), 0);

    IniProfile profile;
    for (const char prefix : {'A', 'B'}) {
        for (int i = 0; i < kKeys; ++i) {
            const std::string name = std::string(1, prefix) + std::to_string(i);
            EXPECT_EQ(Read(profile, "Pfade", name, path), "v" + name);
        }
    }
    const std::string content = ReadFile(path);
    EXPECT_EQ(content.find("[Pfade]"), 0u);
    EXPECT_EQ(content.find("[Pfade]", 1), std::string::npos);
}

}  // namespace
}  // namespace tarnu::posix
