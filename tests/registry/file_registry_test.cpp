#include "platform/linux/posix/file_registry.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "registry/modul_reg.h"
#include "tests/registry/registry_test_util.h"

namespace tarnu::test {
namespace {

using namespace std::string_literals;

// A handle grants only the rights it was opened with; key paths are read as Windows reads them,
// each name keeping the case it was first created in.
TEST(FileRegistryTest, HandlesGrantOnlyTheRightsAskedForAndPathsReadAsWindowsReadsThem) {
    TempRegistry t;
    reg::HKEY key = 0;
    const auto set = [&](reg::HKEY k) { return Set(t.registry, k, "v", reg::RegSz, "x"); };
    const auto writeWith = [&](reg::DWORD mask) {
        reg::HKEY k = 0;
        const reg::LONG opened = t.registry.RegOpenKeyExA(kUser, "K", 0, mask, &k);
        const reg::LONG written = opened ? opened : set(k);
        t.registry.RegCloseKey(k);
        return written;
    };
    const auto create = [&](reg::HKEY parent, const std::string& path) {
        reg::HKEY made = 0;
        reg::DWORD disposition = 0;
        const reg::LONG status = Create(t.registry, parent, path, &made, &disposition);
        t.registry.RegCloseKey(made);
        return status == 0 ? static_cast<reg::LONG>(disposition) : status;
    };
    // Each call with the status it must give, in order.
    const std::vector<std::pair<reg::LONG, reg::LONG>> calls = {
        {t.registry.RegFlushKey(kUser), 0},  // a hive not yet written has nothing to flush
        {create(kUser, "K"), reg::RegCreatedNewKey},
        {t.registry.RegOpenKeyExA(kUser, "K", 0, 0x19, &key), 0},
        {set(key), reg::ErrorAccessDenied},
        {create(key, "Unter"), reg::ErrorAccessDenied},
        {t.registry.RegFlushKey(key), 0},
        {t.registry.RegCloseKey(key), 0},
        {t.registry.RegCloseKey(key), reg::ErrorInvalidHandle},
        {set(key), reg::ErrorInvalidHandle},
        {writeWith(reg::KeySetValue), 0},
        {writeWith(reg::GenericWrite), 0},
        {writeWith(reg::KeyAllAccess), 0},
        {create(kUser, "A\\\\B"), reg::RegCreatedNewKey},
        {create(kUser, "Software\\Größe\\Äpfel"), reg::RegCreatedNewKey},
        {create(kUser, "SOFTWARE\\GRÖSSE"), reg::RegCreatedNewKey},
        {create(kUser, "software\\GRÖßE\\äPFEL\\"), reg::RegOpenedExistingKey},
        {create(kUser, "\\A"), reg::ErrorBadPathname},
        {t.registry.RegOpenKeyExA(kUser, "\\A", 0, 0x19, &key), reg::ErrorBadPathname},
        {create(kUser, std::string(256, 'n')), reg::ErrorInvalidParameter},
        {t.registry.RegOpenKeyExA(kUser, "a", 0, 0x19, &key), 0},
        {create(key, "C"), reg::ErrorAccessDenied},
    };
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].first, calls[i].second) << "call " << i;
    }
    t.registry.RegCloseKey(key);
    // Creating below an open key needs the right to create subkeys.
    ASSERT_EQ(t.registry.RegOpenKeyExA(kUser, "a", 0, reg::KeyCreateSubKey, &key), 0);
    EXPECT_EQ(create(key, "C\\D"), reg::RegCreatedNewKey);
    t.registry.RegCloseKey(key);
    // "GRÖSSE" is another name than "Größe", as ß has no single upper-case letter.
    EXPECT_EQ(Listing(t, kUser),
              (std::vector<std::string>{"\\A", "\\A\\B", "\\A\\C", "\\A\\C\\D", "\\K", "\\K:v=1/x",
                                        "\\Software", "\\Software\\GRÖSSE", "\\Software\\Größe",
                                        "\\Software\\Größe\\Äpfel"}));
    EXPECT_EQ(t.registry.OpenHandleCount(), 0u);
}

// Records of a hive file as the format lays them out: little-endian numbers, names with their
// length, and a header with the tree's length and CRC-32.
std::string Le(std::uint64_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>(v >> (8 * i)));
    }
    return out;
}
std::string Record(const std::string& name, const std::vector<std::string>& values,
                   const std::vector<std::string>& subkeys) {
    std::string out = Le(name.size(), 4) + name + Le(values.size(), 4);
    for (const std::string& v : values) {
        out += Le(v.size(), 4) + v + Le(reg::RegNone, 4) + Le(0, 4);
    }
    out += Le(subkeys.size(), 4);
    for (const std::string& k : subkeys) {
        out += k;
    }
    return out;
}
// A key "k" with one "k" below it, and so on: keys levels in all.
std::string Chain(int keys) {
    return Record("k", {}, keys == 1 ? std::vector<std::string>{} : std::vector{Chain(keys - 1)});
}
std::string HiveFileOf(const std::string& tree) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : tree) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) {
            crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
    }
    return "TARNUREG" + Le(1, 4) + Le(crc ^ 0xFFFFFFFFu, 4) + Le(tree.size(), 8) + tree;
}

TEST(FileRegistryTest, ACorruptHiveIsReportedAndNeverOverwritten) {
    TempRegistry t;
    ASSERT_EQ(Modul_reg::CreateRegKey(t.registry, kUser, "Software\\K"), 1);
    const std::string file = t.registry.HiveFile(kUser);
    const std::string good = ReadFile(file);
    std::string flipped = good;
    flipped[flipped.size() / 2] ^= 0x01;
    const std::string bad[] = {
        "", "kein Registrierungszweig", good.substr(0, good.size() - 1), good + "x", flipped,
        // Intact headers around trees no hive can hold.
        HiveFileOf(Record("", {"Wert", "WERT"}, {})),
        HiveFileOf(Record("", {}, {Record("\xC3\xA4", {}, {}), Record("\xC3\x84", {}, {})})),
        HiveFileOf(Record("", {}, {Record("a\\b", {}, {})})),
        HiveFileOf(Record("", {}, {Record("", {}, {})})),
        HiveFileOf(Record("", {}, {Record(std::string(256, 'n'), {}, {})})),
        HiveFileOf(Record("Wurzel", {}, {})), HiveFileOf(Record("", {}, {}) + "x"),
        HiveFileOf(Le(0, 4) + Le(1000, 4) + Le(0, 4)),
        HiveFileOf(Le(0, 4) + Le(1, 4) + Le(0, 4) + Le(0, 4) + Le(1000, 4)),  // data cut off
        HiveFileOf(Record("", {}, {Chain(513)})),  // one key deeper than Windows allows
    };
    for (const std::string& bytes : bad) {
        WriteFile(file, bytes);
        reg::HKEY key = 0;
        EXPECT_EQ(t.registry.RegOpenKeyExA(kUser, "Software\\K", 0, 0x19, &key),
                  reg::ErrorRegistryCorrupt);
        EXPECT_EQ(Set(t.registry, kUser, "v", reg::RegSz, "x"), reg::ErrorRegistryCorrupt);
        EXPECT_EQ(ReadFile(file), bytes);
        EXPECT_EQ(t.registry.OpenHandleCount(), 0u);
    }
    // Subkeys out of Windows' order, as another version may have left them, and the deepest key
    // Windows allows still read.
    WriteFile(file,
              HiveFileOf(Record("", {}, {Record("b", {}, {}), Record("A", {}, {Chain(511)})})));
    EXPECT_EQ(Modul_reg::RegKeyExists(t.registry, kUser, "B"), 0);
    EXPECT_EQ(Modul_reg::RegKeyExists(t.registry, kUser, "a\\k"), 0);
    // The other hive is not affected.
    EXPECT_EQ(Modul_reg::CreateRegKey(t.registry, kMachine, "Software"), 1);
}

TEST(FileRegistryTest, MachineHiveIsReadOnlyForAUserWhoMayNotWriteIt) {
    TempRegistry t;
    reg::HKEY key = 0;
    ASSERT_EQ(Create(t.registry, kMachine, "Software\\Jet", &key), 0);
    ASSERT_EQ(Set(t.registry, key, "alt", reg::RegDword, Bytes({1, 0, 0, 0})), 0);
    t.registry.RegCloseKey(key);
    // A second registry whose machine hive file is read-only in a writable folder.
    TempRegistry readOnlyFile;
    ASSERT_EQ(Modul_reg::CreateRegKey(readOnlyFile.registry, kMachine, "K"), 1);
    const std::string machineFile = t.registry.HiveFile(kMachine);
    const std::string before = ReadFile(machineFile);

    OpenForUnprivilegedUser(t.dir.path());
    OpenForUnprivilegedUser(t.dir.file("machine"));
    OpenForUnprivilegedUser(readOnlyFile.dir.path());
    GiveToUnprivilegedUser(t.dir.file("user"));
    GiveToUnprivilegedUser(readOnlyFile.dir.file("machine"));
    chmod(t.machineFolder.c_str(), 0555);
    chmod(readOnlyFile.registry.HiveFile(kMachine).c_str(), 0444);

    const auto results = RunInChild(
        [&] {
            posix::FileRegistry registry(t.userFolder, t.machineFolder);
            posix::FileRegistry other(readOnlyFile.userFolder, readOnlyFile.machineFolder);
            reg::HKEY k = 0;
            return std::vector<std::int32_t>{
                Modul_reg::RegKeyExists(registry, kMachine, "Software\\Jet"),
                registry.RegOpenKeyExA(kMachine, "Software\\Jet", 0, 0x3F, &k),
                Create(registry, kMachine, "Software\\Jet", &k),
                Create(registry, kMachine, "Software\\Neu", &k),
                SetOne(registry, kMachine, "Software\\Jet", "neu"),
                Set(registry, kMachine, "neu", reg::RegSz, "x"),
                SetOne(other, kMachine, "K", "neu"),
                SetOne(registry, kUser, "Software\\Access", "Security"),
                static_cast<std::int32_t>(registry.OpenHandleCount())};
        },
        true);
    EXPECT_EQ(results, (std::vector<std::int32_t>{0, 5, 5, 5, 5, 5, 5, 0, 0}));
    EXPECT_EQ(ReadFile(machineFile), before);
    EXPECT_FALSE(StoredValue(readOnlyFile, kMachine, "K", "neu"));
    EXPECT_TRUE(StoredValue(t, kUser, "Software\\Access", "Security"));
}

TEST(FileRegistryTest, ConcurrentWritersLoseNothing) {
    TempRegistry t;
    std::vector<std::string> expected = {"\\Software", "\\Software\\Rennen"};
    auto writer = [&](char c) {
        return [&, c] {
            posix::FileRegistry registry(t.userFolder, t.machineFolder);
            reg::HKEY key = 0;
            reg::DWORD disposition = 0;
            int failed = Create(registry, kUser, "Software\\Rennen", &key, &disposition);
            for (int i = 0; i < 25; ++i) {
                failed += Set(registry, key, c + std::to_string(i), reg::RegSz, "x") != 0;
            }
            return failed ? 100 : static_cast<int>(disposition);
        };
    };
    // Exactly one of them created the key.
    const std::vector<int> dispositions = RunTogether({writer('a'), writer('b')});
    EXPECT_EQ(dispositions[0] + dispositions[1], 3) << dispositions[0] << " " << dispositions[1];
    for (const char c : {'a', 'b'}) {
        for (int i = 0; i < 25; ++i) {
            expected.push_back("\\Software\\Rennen:" + (c + std::to_string(i)) + "=1/x");
        }
    }
    std::vector<std::string> stored = Listing(t, kUser);
    std::sort(stored.begin(), stored.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(stored, expected);
}

// The value a writer stores in step i: a counter and a large body derived from it, so that a
// mix of two steps or a torn file cannot pass for a real state.
std::string StepData(std::uint32_t i) {
    std::string data(200000, static_cast<char>(i % 251));
    std::memcpy(data.data(), &i, sizeof i);
    return data;
}

std::uint32_t StepOf(const std::string& data) {
    std::uint32_t i = 0;
    if (data.size() == 200000) {
        std::memcpy(&i, data.data(), sizeof i);
    }
    return data == StepData(i) ? i : 0;
}

TEST(FileRegistryTest, AKillDuringAWriteLeavesTheOldOrTheNewHive) {
    TempRegistry t;
    reg::HKEY key = 0;
    ASSERT_EQ(Create(t.registry, kUser, "Zaehler", &key), 0);
    ASSERT_EQ(Set(t.registry, key, "n", reg::RegBinary, StepData(1)), 0);
    t.registry.RegCloseKey(key);

    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    for (int round = 0; round < 12; ++round) {
        const auto current = StoredValue(t, kUser, "Zaehler", "n");
        ASSERT_TRUE(current);
        const std::uint32_t start = StepOf(current->data);
        ASSERT_GT(start, 0u);
        int acks[2];
        ASSERT_EQ(pipe(acks), 0);
        const pid_t child = StartChild([&] {
            close(acks[0]);
            posix::FileRegistry registry(t.userFolder, t.machineFolder);
            reg::HKEY k = 0;
            if (Create(registry, kUser, "Zaehler", &k) != 0) {
                return 1;
            }
            for (std::uint32_t i = start + 1;; ++i) {
                if (Set(registry, k, "n", reg::RegBinary, StepData(i)) != 0) {
                    return 2;
                }
                (void)!write(acks[1], &i, sizeof i);
            }
        });
        close(acks[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
        kill(child, SIGKILL);
        EXPECT_EQ(WaitChild(child), -1);
        std::uint32_t acked = start;
        std::uint32_t i = 0;
        while (read(acks[0], &i, sizeof i) == sizeof i) {
            acked = i;
        }
        close(acks[0]);

        const auto after = StoredValue(t, kUser, "Zaehler", "n");
        ASSERT_TRUE(after) << "round " << round;
        const std::uint32_t step = StepOf(after->data);
        EXPECT_TRUE(step == acked || step == acked + 1) << step << " after " << acked;
    }
    // The next writer clears what the killed ones left behind.
    ASSERT_EQ(SetOne(t.registry, kUser, "Zaehler", "fertig"), 0);
    for (const auto& entry : std::filesystem::directory_iterator(t.userFolder)) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos)
            << entry.path();
    }
}

TEST(FileRegistryTest, FoldersFollowTheXdgBaseDirectories) {
    struct Row {
        const char* home;
        const char* configHome;
        const char* configDirs;
        std::string expected;
    };
    for (const Row& row : std::vector<Row>{
             {"/home/anna", nullptr, nullptr,
              "/home/anna/.config/tarnu/registry /etc/xdg/tarnu/registry"},
             {"/home/anna", "/cfg/", "/erste:/zweite", "/cfg/tarnu/registry /erste/tarnu/registry"},
             // Relative entries are invalid and skipped.
             {"/home/anna", "relativ", "relativ:/zweite",
              "/home/anna/.config/tarnu/registry /zweite/tarnu/registry"},
             // An empty HOME names no folder; the user database knows the home folder.
             {"", nullptr, nullptr,
              std::string(::getpwuid(::geteuid())->pw_dir) +
                  "/.config/tarnu/registry /etc/xdg/tarnu/registry"},
         }) {
        const pid_t child = StartChild([&] {
            const auto put = [](const char* name, const char* value) {
                value ? ::setenv(name, value, 1) : ::unsetenv(name);
            };
            put("HOME", row.home);
            put("XDG_CONFIG_HOME", row.configHome);
            put("XDG_CONFIG_DIRS", row.configDirs);
            const std::string folders = posix::FileRegistry::UserFolderFromEnvironment() + " " +
                                        posix::FileRegistry::MachineFolderFromEnvironment();
            return folders == row.expected ? 0 : 1;
        });
        EXPECT_EQ(WaitChild(child), 0) << row.expected;
    }
}

}  // namespace
}  // namespace tarnu::test
