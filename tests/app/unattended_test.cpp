#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "platform/linux/posix/copy_service.h"
#include "ports/files.h"
#include "tests/dbmaint/dbmaint_support.h"
#include "tests/support/child_process.h"

namespace tarnu::test {
namespace {

namespace fs = std::filesystem;

// Exit status, standard output and standard error in one.
std::string Said(const CommandRun& o) {
    return std::to_string(o.exitCode) + "|" + o.out + "|" + o.err;
}

// The program as a scheduler starts it: elsewhere than its program folder, which the environment
// names, and without any display, so that creating a window would fail.
class Unattended : public ::testing::Test {
  protected:
    Unattended() { CopyDemoFolder(program.path()); }

    CommandRun Run(const std::string& args, const std::string& env = "") {
        return RunCommand(
            "cd / && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TARNU_PROGRAM_FOLDER=" +
            ShellQuote(program.path()) + " XDG_CONFIG_HOME=" + ShellQuote(config.file("user")) +
            " XDG_CONFIG_DIRS=" + ShellQuote(config.file("machine")) + " " + env + " " +
            TARNU_SYSTEM_TOOL + " " + args);
    }
    void Settings(const std::string& quelle, const std::string& ziel) {
        WriteFile(program.file("tarnu-system-tool.ini"),
                  "[Pfade]\r\nQuelle=" + quelle + "\r\nZiel=" + ziel + "\r\n");
    }

    TempDir program;
    TempDir config;
    TempDir source;
    TempDir target;
};

TEST_F(Unattended, CompactPrintsEachFileAndTheSuccessOrTheError) {
    CommandRun o = Run("--compact");
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(o.err, "");
    std::smatch m;
    std::string rest = o.out;
    for (const auto& name : kProgramFiles) {
        ASSERT_TRUE(std::regex_search(rest, m, std::regex("^" + name + ": ([0-9]+) -> ([0-9]+)\n")))
            << o.out;
        EXPECT_LT(std::stoll(m[2]), std::stoll(m[1])) << name;
        EXPECT_EQ(std::stoll(m[2]), static_cast<long long>(fs::file_size(program.file(name))));
        rest = m.suffix();
    }
    EXPECT_EQ(rest, "Die Programmdateien wurden erfolgreich komprimiert!\n");

    ::unlink(program.file("kdlcode.mde").c_str());
    EXPECT_EQ(Said(Run("--compact")),
              "1||Datei '" + program.file("kdlcode.mde") + "' nicht gefunden.\n");
}

TEST_F(Unattended, SecuritySwitchReportsTheWritesItCouldNotMake) {
    EXPECT_EQ(Said(Run("--disable-security-warning")), "0||");
    EXPECT_TRUE(FileExists(config.file("machine/tarnu/registry/HKEY_LOCAL_MACHINE.hive")));

    // A machine folder that cannot be made: the user's values are written, the machine's two
    // writes are named with their status.
    WriteFile(source.file("datei"), "");
    const CommandRun o =
        Run("--disable-security-warning", "XDG_CONFIG_DIRS=" + source.file("datei"));
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.out, "");
    const std::string line =
        "SetRegValue HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Jet\\4.0\\Engines\\SandboxMode: "
        "Status ";
    const auto first = o.err.find(line);
    ASSERT_NE(first, std::string::npos) << o.err;
    EXPECT_NE(o.err.find(line, first + 1), std::string::npos) << "both writes are named";
    EXPECT_EQ(o.err.find("HKEY_CURRENT_USER"), std::string::npos) << o.err;
}

TEST_F(Unattended, UpdateCopiesTheRememberedFoldersAndPrintsWhatItCopied) {
    WriteFile(source.file("a.mde"), "aaaa");
    WriteFile(source.file("b.mdb"), "bb");
    Settings("  " + source.path() + "/*  ", target.path() + "/neu/");
    EXPECT_EQ(Said(Run("--update")),
              "0|Kopiert: 2 Dateien, 6 Bytes\nDateien wurden erfolgreich kopiert!\n|");
    EXPECT_EQ(ReadFile(target.file("neu/a.mde")), "aaaa");

    // A share that is not mounted: nothing starts.
    Settings(source.path() + "/fehlt", target.path());
    EXPECT_EQ(Said(Run("--update")), "1||Im Quellverzeichnis wurden keine Dateien gefunden: „" +
                                         source.path() + "/fehlt“\n");

    // Another run of the tool in the target folder: this one waits for it only so long.
    const int lock = ::open(target.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    Settings(source.path() + "/*", target.path());
    EXPECT_EQ(Said(Run("--update")), "1||" + FolderBusyText(target.path()) + "\n");
    ::close(lock);

    // Settings that others may change do not steer a root run: it stops before copying.
    if (::geteuid() == 0) {
        Settings(source.path() + "/*", target.path() + "/fremd/");
        ASSERT_EQ(::chmod(program.file("tarnu-system-tool.ini").c_str(), 0666), 0);
        const CommandRun o = Run("--update");
        EXPECT_EQ(o.exitCode, 1);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err.rfind("Die Einstellungsdatei", 0), 0u) << o.err;
        EXPECT_NE(o.err.find("chmod go-w '" + program.file("tarnu-system-tool.ini")),
                  std::string::npos)
            << o.err;
        EXPECT_FALSE(FileExists(target.file("fremd")));
    }
}

TEST_F(Unattended, AUsageErrorDoesNothingAndHelpAndVersionAnswer) {
    CommandRun o = Run("--compact --update");
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_EQ(o.out, "") << "neither ran";
    EXPECT_EQ(o.err.rfind("Aufruf: tarnu-system-tool ", 0), 0u) << o.err;
    o = Run("--help");
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_NE(o.out.find("--disable-security-warning"), std::string::npos);
    EXPECT_NE(o.out.find("Programmordner: " + program.path() + "\n  aus $TARNU_PROGRAM_FOLDER"),
              std::string::npos)
        << o.out;
    o = Run("--version");
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.out.rfind("TARNU-System-Tool ", 0), 0u) << o.out;
}

// As root without a desktop session, the window runs with a runtime folder of its own instead
// of Qt's warning and its fallback to a name in /tmp that another user could have taken first.
TEST_F(Unattended, TheWindowNeedsNoRuntimeFolderFromTheSession) {
    const std::string err = target.file("err");
    const std::string leftovers = "ls -d /tmp/tarnu-laufzeit-* 2>/dev/null | sort";
    const std::string before = RunCommand(leftovers).out;
    // Up once Qt's offscreen window system says it cannot raise the main window.
    RunCommand("cd / && env -u XDG_RUNTIME_DIR TARNU_PROGRAM_FOLDER=" + ShellQuote(program.path()) +
               " timeout 60 " TARNU_SYSTEM_TOOL " -platform offscreen 2>" + err +
               " & for i in $(seq 300); do grep -q 'raise()' " + err +
               " && break; sleep 0.1; done; kill $!; wait");
    const std::string shown = ReadFile(err);
    EXPECT_NE(shown.find("raise()"), std::string::npos) << "the window did not come up: " << shown;
    EXPECT_EQ(shown.find("XDG_RUNTIME_DIR"), std::string::npos) << shown;
    // Killed, the program leaves its empty folder behind; the test takes it away. Folders that
    // killed runs left before may sort anywhere among the names.
    std::istringstream after(RunCommand(leftovers).out);
    int made = 0;
    for (std::string name; std::getline(after, name);) {
        if (before.find(name + "\n") == std::string::npos) {
            EXPECT_EQ(StatOf(name).st_mode & 07777, 0700u) << name;
            made += ::rmdir(name.c_str()) == 0;
        }
    }
    EXPECT_EQ(made, 1);
}

// An update of a target that holds older versions of the source's files, run from a process of
// its own.
class UnattendedUpdate : public Unattended {
  protected:
    // count new versions in the source, their old ones in the target.
    void Prepare(int count) {
        count_ = count;
        for (int i = 0; i < count_; ++i) {
            WriteFile(source.file(Name(i)), std::string(4096, 'n') + std::to_string(i));
        }
        Settings(source.path() + "/*", target.path() + "/");
        OldTarget();
    }
    static std::string Name(int i) { return "f" + std::to_string(i); }
    static std::string Old(int i) { return std::string(4000, 'o') + std::to_string(i); }
    void OldTarget() {
        fs::remove_all(target.path());
        fs::create_directory(target.path());
        for (int i = 0; i < count_; ++i) {
            WriteFile(target.file(Name(i)), Old(i));
        }
    }
    pid_t Start() {
        return StartChild([&] {
            ::setenv("TARNU_PROGRAM_FOLDER", program.path().c_str(), 1);
            ::unsetenv("DISPLAY");
            ::freopen(config.file("stdout").c_str(), "w", stdout);
            ::freopen(config.file("stderr").c_str(), "w", stderr);
            ::execl(TARNU_SYSTEM_TOOL, TARNU_SYSTEM_TOOL, "--update", nullptr);
            return 127;
        });
    }
    // The files, each wholly old or wholly new, none missing: how many are new.
    int NewFiles() {
        int renewed = 0;
        for (int i = 0; i < count_; ++i) {
            const std::string data = ReadFile(target.file(Name(i)));
            EXPECT_TRUE(data == Old(i) || data == ReadFile(source.file(Name(i))))
                << Name(i) << " has " << data.size() << " bytes";
            renewed += data != Old(i);
        }
        return renewed;
    }
    std::size_t Temporaries() {
        return std::ranges::count_if(FolderContents(target.path()), posix::IsCopyTempName);
    }

    int count_ = 0;  // how many files the update copies
};

TEST_F(UnattendedUpdate, SignalsStopTheCopyAsACancelDoes) {
    Prepare(3000);
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal);
        OldTarget();
        const pid_t pid = Start();
        // Once the first temporary file is there, the copy is under way.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (Temporaries() == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ::kill(pid, signal);
        EXPECT_EQ(WaitChild(pid), 1);
        EXPECT_EQ(ReadFile(config.file("stdout")), "Kopiert: 0 Dateien, 0 Bytes\n");
        EXPECT_EQ(ReadFile(config.file("stderr")), "Kopieren abgebrochen.\n");
        EXPECT_EQ(NewFiles(), 0) << "the target is as it was";
        EXPECT_EQ(Temporaries(), 0u);
    }
}

TEST_F(UnattendedUpdate, AKillAtAnyMomentLeavesWholeFilesAndTheNextRunCompletes) {
    Prepare(200);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(WaitChild(Start()), 0);
    std::mt19937 random(20240518);
    std::uniform_int_distribution<long> moment(
        0, std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 begin)
               .count());
    int mixed = 0;
    for (int kill = 0; kill < 50; ++kill) {
        OldTarget();
        const pid_t pid = Start();
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(pid, SIGKILL);
        WaitChild(pid);
        const int renewed = NewFiles();
        mixed += renewed > 0 && renewed < count_;
        ASSERT_EQ(WaitChild(Start()), 0) << ReadFile(config.file("stderr"));
        EXPECT_EQ(NewFiles(), count_);
        EXPECT_EQ(FolderContents(target.path()).size(), static_cast<std::size_t>(count_))
            << "nothing else is left behind";
    }
    RecordProperty("kills between old and new", mixed);
}

}  // namespace
}  // namespace tarnu::test
