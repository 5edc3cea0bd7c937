// The registry files in folders that other users can write, run as root: links and other files
// in the way, locks held by others, hives of any size.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "platform/linux/posix/file_registry.h"
#include "registry/modul_reg.h"
#include "tests/registry/registry_test_util.h"

namespace tarnu::test {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kHiveLimit = 64u << 20;

// A link at the name of the hive or of its lock, set by the user whose configuration folder it
// is, pointing at a file of root's. Before, a root write gave that file to the user.
TEST(FileRegistrySafety, LinksAtTheHiveOrItsLockAreNeverFollowed) {
    for (const std::string suffix : {".lock", ""}) {
        SCOPED_TRACE("link at the hive" + suffix);
        TempRegistry t;
        ASSERT_EQ(Modul_reg::CreateRegKey(t.registry, kUser, "Software\\K"), 1);
        TempRegistry other;
        ASSERT_EQ(Modul_reg::CreateRegKey(other.registry, kUser, "Fremd"), 1);
        const std::string target = other.registry.HiveFile(kUser);
        const std::string before = ReadFile(target);
        GiveToUnprivilegedUser(t.userFolder);
        const std::string link = t.registry.HiveFile(kUser) + suffix;
        ASSERT_EQ(::unlink(link.c_str()), 0);
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
        if (::geteuid() == 0) {
            ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);
        }

        reg::HKEY key = 0;
        EXPECT_EQ(Create(t.registry, kUser, "Neu", &key), reg::ErrorAccessDenied);
        if (suffix.empty()) {
            EXPECT_EQ(t.registry.RegOpenKeyExA(kUser, "Fremd", 0, 0x19, &key),
                      reg::ErrorAccessDenied);
        } else {
            ASSERT_EQ(t.registry.RegOpenKeyExA(kUser, "Software\\K", 0, 0x3F, &key), 0);
            EXPECT_EQ(Set(t.registry, key, "v", reg::RegSz, "x"), reg::ErrorAccessDenied);
            t.registry.RegCloseKey(key);
        }
        EXPECT_EQ(t.registry.OpenHandleCount(), 0u);
        EXPECT_TRUE(S_ISLNK(StatOf(link).st_mode));
        EXPECT_EQ(ReadFile(target), before);
        EXPECT_EQ(StatOf(target).st_uid, ::geteuid());
        EXPECT_EQ(StatOf(target).st_mode & 07777, 0600u);
    }
}

// A hive file the tool cannot have written: answered at once, never waited for, never read
// without end, and never replaced.
TEST(FileRegistrySafety, AHiveThatIsNoRegularFileOrTooLargeIsRefusedAtOnce) {
    // A valid hive one byte over the limit.
    posix::HiveKey big;
    big.SetValue("v", reg::RegBinary, "");
    const std::size_t overhead = posix::SerializeHive(big).size();
    big.SetValue("v", reg::RegBinary, std::string(kHiveLimit + 1 - overhead, 'x'));
    const std::string bigHive = posix::SerializeHive(big);
    ASSERT_EQ(bigHive.size(), kHiveLimit + 1);

    struct Case {
        const char* what;
        std::function<void(const std::string& hive)> make;
        // RegOpenKeyExA, RegCreateKeyExA, loading the hive
        std::vector<std::int32_t> expected;
    };
    const std::vector<Case> cases = {
        {"FIFO", [](const std::string& f) { ::mkfifo(f.c_str(), 0600); }, {1015, 1015, 1015}},
        {"folder", [](const std::string& f) { ::mkdir(f.c_str(), 0700); }, {1015, 1015, 1015}},
        {"link to /dev/zero",
         [](const std::string& f) { (void)!::symlink("/dev/zero", f.c_str()); },
         {5, 5, 5}},
        {"hive over the limit",
         [&](const std::string& f) { WriteFile(f, bigHive); },
         {1015, 1015, 1015}},
        {"FIFO at the lock",
         [](const std::string& f) { ::mkfifo((f + ".lock").c_str(), 0600); },
         {2, 5, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempRegistry t;
        std::filesystem::create_directories(t.userFolder);
        const std::string hive = t.registry.HiveFile(kUser);
        c.make(hive);
        const auto results = RunInChild([&] {
            ::alarm(5);  // a call that waits fails the test instead of hanging it
            reg::HKEY key = 0;
            posix::HiveKey root;
            return std::vector<std::int32_t>{
                t.registry.RegOpenKeyExA(kUser, "Software", 0, 0x19, &key),
                Create(t.registry, kUser, "Software", &key), t.registry.LoadHive(kUser, root)};
        });
        EXPECT_EQ(results, c.expected);
        EXPECT_FALSE(std::filesystem::is_regular_file(hive) &&
                     std::filesystem::file_size(hive) != bigHive.size());
    }
}

TEST(FileRegistrySafety, AChangeThatWouldOutgrowTheHiveIsRefused) {
    TempRegistry t;
    reg::HKEY key = 0;
    ASSERT_EQ(Create(t.registry, kUser, "Software", &key), 0);
    ASSERT_EQ(Set(t.registry, key, "klein", reg::RegSz, "x"), 0);
    const std::string before = ReadFile(t.registry.HiveFile(kUser));
    EXPECT_EQ(Set(t.registry, key, "riesig", reg::RegBinary, std::string(kHiveLimit, 'x')),
              reg::ErrorNoSystemResources);
    EXPECT_EQ(ReadFile(t.registry.HiveFile(kUser)), before);
    EXPECT_EQ(Set(t.registry, key, "danach", reg::RegSz, "y"), 0);
    t.registry.RegCloseKey(key);
    EXPECT_TRUE(StoredValue(t, kUser, "Software", "danach"));
}

// A folder that can be written but not read: once the new hive has its name the change is done,
// and it must not be reported as failed because the folder cannot be opened to flush it.
TEST(FileRegistrySafety, AChangeInAFolderThatCannotBeReadIsReportedDone) {
    TempRegistry t;
    OpenForUnprivilegedUser(t.dir.path());
    GiveToUnprivilegedUser(t.userFolder);
    ASSERT_EQ(::chmod(t.userFolder.c_str(), 0333), 0);
    const auto results = RunInChild(
        [&] {
            posix::FileRegistry registry(t.userFolder, t.machineFolder);
            reg::HKEY key = 0;
            return std::vector<std::int32_t>{Create(registry, kUser, "Software\\K", &key),
                                             Set(registry, key, "v", reg::RegSz, "x"),
                                             registry.RegFlushKey(key)};
        },
        true);
    EXPECT_EQ(results, (std::vector<std::int32_t>{0, 0, 0}));
    ASSERT_EQ(::chmod(t.userFolder.c_str(), 0700), 0);
    EXPECT_TRUE(StoredValue(t, kUser, "Software\\K", "v"));
}

// A lock anybody could open lets anybody stop every writer of the hive for good.
TEST(FileRegistrySafety, LocksAreTheOwnersAloneAndNeverWaitedForWithoutEnd) {
    TempRegistry t;
    std::filesystem::create_directories(t.machineFolder);
    const std::string userLock = t.registry.HiveFile(kUser) + ".lock";
    const std::string machineLock = t.registry.HiveFile(kMachine) + ".lock";
    WriteFile(machineLock, "");  // as an earlier version left it
    ASSERT_EQ(::chmod(machineLock.c_str(), 0644), 0);
    ASSERT_EQ(SetOne(t.registry, kUser, "K", "v"), 0);
    ASSERT_EQ(SetOne(t.registry, kMachine, "K", "v"), 0);
    EXPECT_EQ(StatOf(userLock).st_mode & 07777, 0600u);
    EXPECT_EQ(StatOf(machineLock).st_mode & 07777, 0600u);

    // Another process holds the user's lock and does not let go.
    const int held = ::open(userLock.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const std::string before = ReadFile(t.registry.HiveFile(kUser));
    const auto results = RunInChild([&] {
        ::alarm(5);
        posix::FileRegistry registry(t.userFolder, t.machineFolder, 100ms);
        reg::HKEY key = 0;
        reg::HKEY created = 0;
        return std::vector<std::int32_t>{registry.RegOpenKeyExA(kUser, "K", 0, 0x3F, &key),
                                         Set(registry, key, "w", reg::RegSz, "x"),
                                         Create(registry, kUser, "Neu", &created),
                                         SetOne(registry, kMachine, "K", "w")};
    });
    EXPECT_EQ(results, (std::vector<std::int32_t>{0, reg::ErrorTimeout, reg::ErrorTimeout, 0}));
    EXPECT_EQ(ReadFile(t.registry.HiveFile(kUser)), before);
    ::close(held);
    EXPECT_EQ(SetOne(t.registry, kUser, "K", "w"), 0);
}

}  // namespace
}  // namespace tarnu::test
