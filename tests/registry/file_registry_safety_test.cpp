// The registry files in folders that other users can write, run as root: links and other files
// in the way, locks held by others, hives of any size.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
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

// A user's links on the way to their own hive, met by a root run: the hive, its lock and every
// folder above them. Before, a link at ~/.config/tarnu made root create its hive and lock in
// whatever folder the user named, and a link at the hive made root give the file to the user.
TEST(FileRegistrySafety, ARootRunFollowsNoLinkOfTheUserOutOfTheirOwnFiles) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "links of another user need root to make";
    }
    struct Row {
        const char* link;  // below the user's configuration folder, made a link of the user's
        bool toTheirOwn;   // to a folder of the user's instead of root's
        std::vector<std::int32_t> expected;  // reading a key, writing a value
    };
    for (const Row& row : std::vector<Row>{
             {"tarnu", false, {5, 5}},
             {"tarnu/registry", false, {5, 5}},
             {"tarnu/registry/HKEY_CURRENT_USER.hive", false, {5, 5}},
             {"tarnu/registry/HKEY_CURRENT_USER.hive.lock", false, {0, 5}},
             {"tarnu", true, {2, 0}},
         }) {
        const std::string link = row.link;
        SCOPED_TRACE(link);
        TempRegistry t;
        ASSERT_EQ(Modul_reg::CreateRegKey(t.registry, kUser, "Software\\K"), 1);
        const std::string secret = t.dir.file("secret");
        WriteFile(secret, "root's own\n");
        ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
        ASSERT_EQ(::mkdir(t.dir.file("root-only").c_str(), 0700), 0);
        GiveToUnprivilegedUser(t.dir.file("theirs"));
        GiveToUnprivilegedUser(t.dir.file("user"));
        const std::string at = t.dir.file("user/" + link);
        std::filesystem::remove_all(at);
        const std::string target = row.toTheirOwn                    ? t.dir.file("theirs")
                                   : link.find(".hive") != link.npos ? secret
                                                                     : t.dir.file("root-only");
        ASSERT_EQ(::symlink(target.c_str(), at.c_str()), 0);
        ASSERT_EQ(::lchown(at.c_str(), 65534, 65534), 0);

        reg::HKEY key = 0;
        const reg::LONG read = t.registry.RegOpenKeyExA(kUser, "Software\\K", 0, 0x19, &key);
        t.registry.RegCloseKey(key);
        reg::LONG write = Create(t.registry, kUser, "Software\\K", &key);
        if (write == 0) {
            write = Set(t.registry, key, "v", reg::RegSz, "x");
            t.registry.RegCloseKey(key);
        }
        EXPECT_EQ((std::vector<std::int32_t>{read, write}), row.expected);
        EXPECT_EQ(t.registry.OpenHandleCount(), 0u);
        EXPECT_TRUE(S_ISLNK(StatOf(at).st_mode));
        EXPECT_EQ(ReadFile(secret), "root's own\n");
        EXPECT_EQ(StatOf(secret).st_uid, 0u);
        EXPECT_EQ(StatOf(secret).st_mode & 07777, 0600u);
        EXPECT_TRUE(FolderContents(t.dir.file("root-only")).empty());
        if (row.toTheirOwn) {
            // Made and then replaced by root, the hive stays the user's own.
            const struct stat made = StatOf(t.dir.file("theirs/registry/HKEY_CURRENT_USER.hive"));
            EXPECT_EQ(made.st_uid, 65534u);
            EXPECT_EQ(made.st_mode & 07777, 0600u);
            EXPECT_EQ(StatOf(t.dir.file("theirs/registry")).st_uid, 65534u);
        }
    }
}

// The same user swapping ~/.config/tarnu between their folder and a link to root's all the while
// root writes a hundred times: no write may land in root's folder.
TEST(FileRegistrySafety, ASwappedConfigurationFolderNeverTakesARootWriteElsewhere) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    TempRegistry t;
    OpenForUnprivilegedUser(t.dir.path());
    ASSERT_EQ(::mkdir(t.dir.file("root-only").c_str(), 0700), 0);
    ASSERT_EQ(Modul_reg::CreateRegKey(t.registry, kUser, "Software"), 1);
    GiveToUnprivilegedUser(t.dir.file("user"));
    const std::string link = t.dir.file("user/link");
    const std::string tarnu = t.dir.file("user/tarnu");
    const pid_t swapper = StartChild(
        [&] {
            (void)!::symlink(t.dir.file("root-only").c_str(), link.c_str());
            for (;;) {
                ::renameat2(AT_FDCWD, link.c_str(), AT_FDCWD, tarnu.c_str(), RENAME_EXCHANGE);
            }
            return 0;
        },
        true);
    for (int i = 0; i < 100; ++i) {
        SetOne(t.registry, kUser, "Software\\K" + std::to_string(i), "v");
    }
    ::kill(swapper, SIGKILL);
    EXPECT_EQ(WaitChild(swapper), -1);
    EXPECT_TRUE(FolderContents(t.dir.file("root-only")).empty());
}

// A hive file the tool cannot have written: answered at once, never waited for, never read
// without end, and never replaced.
TEST(FileRegistrySafety, AHiveThatIsNoRegularFileOrTooLargeIsRefusedAtOnce) {
    struct Case {
        const char* what;
        std::function<void(const std::string& hive)> make;
        // RegOpenKeyExA, RegCreateKeyExA, loading the hive
        std::vector<std::int32_t> expected;
    };
    const std::vector<Case> cases = {
        {"FIFO", [](const std::string& f) { ::mkfifo(f.c_str(), 0600); }, {1015, 1015, 1015}},
        {"folder", [](const std::string& f) { ::mkdir(f.c_str(), 0700); }, {1015, 1015, 1015}},
        {"file of 16 GiB, all holes",
         [](const std::string& f) {
             WriteFile(f, "");
             ASSERT_EQ(::truncate(f.c_str(), off_t{16} << 30), 0);
         },
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
            posix::Hive loaded;
            return std::vector<std::int32_t>{
                t.registry.RegOpenKeyExA(kUser, "Software", 0, 0x19, &key),
                Create(t.registry, kUser, "Software", &key), t.registry.LoadHive(kUser, loaded)};
        });
        EXPECT_EQ(results, c.expected);
        EXPECT_FALSE(std::filesystem::is_regular_file(hive) &&
                     std::filesystem::file_size(hive) != (std::uintmax_t{16} << 30));
    }
}

// A hive at the size limit made of millions of keys took seconds and a gigabyte to read: reading
// and writing it must stay within four times its size in memory. It grows to the limit's last
// byte and not one beyond.
TEST(FileRegistrySafety, AHiveGrowsToItsLimitInFourTimesItsSizeAndNoFurther) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizers' own memory would be counted";
#endif
    TempRegistry t;
    std::filesystem::create_directories(t.userFolder);
    ASSERT_EQ(
        RunCommand(ShellQuote(TARNU_HIVE_SIZE_TOOL) + " make keys " + ShellQuote(t.userFolder))
            .exitCode,
        0);
    const std::string file = t.registry.HiveFile(kUser);
    // The data of a value "v" whose record, with its name and three numbers, fills the room.
    const std::string data(kHiveLimit - StatOf(file).st_size - 13 + 1, '\xA5');
    const auto grown = RunInChild([&] {
        rusage before{};
        ::getrusage(RUSAGE_SELF, &before);
        posix::FileRegistry registry(t.userFolder, t.machineFolder);
        reg::HKEY key = 0;
        const auto put = [&](std::size_t size) {
            return registry.RegSetValueExA(key, "v", 0, reg::RegBinary,
                                           reinterpret_cast<const std::uint8_t*>(data.data()),
                                           static_cast<reg::DWORD>(size));
        };
        std::vector<std::int32_t> out{Create(registry, kUser, "Software", &key)};
        out.push_back(put(data.size()));
        out.push_back(put(data.size() - 1));
        rusage after{};
        ::getrusage(RUSAGE_SELF, &after);
        out.push_back(static_cast<std::int32_t>(after.ru_maxrss - before.ru_maxrss));
        return out;
    });
    ASSERT_TRUE(grown);
    EXPECT_EQ(std::vector(grown->begin(), grown->begin() + 3),
              (std::vector<std::int32_t>{0, reg::ErrorNoSystemResources, 0}));
    EXPECT_LE(grown->at(3), 4 * static_cast<std::int32_t>(kHiveLimit >> 10)) << "KiB";
    EXPECT_EQ(static_cast<std::size_t>(StatOf(file).st_size), kHiveLimit);
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
