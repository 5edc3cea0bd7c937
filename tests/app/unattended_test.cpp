#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <regex>
#include <string>
#include <thread>

#include "platform/linux/posix/copy_service.h"
#include "ports/files.h"
#include "tests/dbmaint/dbmaint_support.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {
namespace {

namespace fs = std::filesystem;

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
    std::string Snapshot() {
        std::string all;
        for (const auto& e : fs::directory_iterator(program.path())) {
            all += e.path().filename().string() + "=" + ReadFile(e.path().string()) + ";";
        }
        return all;
    }

    TempDir program;
    TempDir config;
    TempDir scratch;
};

TEST_F(Unattended, CompactPrintsEachFileAndTheSuccessWithoutADisplay) {
    const CommandRun o = Run("--compact");
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(o.err, "");
    std::smatch m;
    std::string rest = o.out;
    for (const char* name : {"system.srv", "KDL.mdb", "kdlcode.mde", "Tarnu-Admin.mde"}) {
        ASSERT_TRUE(std::regex_search(
            rest, m, std::regex(std::string("^") + name + ": ([0-9]+) -> ([0-9]+)\n")))
            << o.out;
        EXPECT_LT(std::stoll(m[2]), std::stoll(m[1])) << name;
        EXPECT_EQ(std::stoll(m[2]), static_cast<long long>(fs::file_size(program.file(name))));
        rest = m.suffix();
    }
    EXPECT_EQ(rest, "Die Programmdateien wurden erfolgreich komprimiert!\n");
}

TEST_F(Unattended, CompactFailsWithTheErrorOnStandardError) {
    ::unlink(program.file("kdlcode.mde").c_str());
    const CommandRun o = Run("--compact");
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find("kdlcode.mde"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("nicht gefunden"), std::string::npos) << o.err;
}

TEST_F(Unattended, SecuritySwitchReportsTheWritesItCouldNotMake) {
    CommandRun o = Run("--disable-security-warning");
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(o.out + o.err, "");
    EXPECT_TRUE(FileExists(config.file("machine/tarnu/registry/HKEY_LOCAL_MACHINE.hive")));

    // A machine folder that cannot be made: the user's values are written, the machine's two
    // writes are named with their status.
    TempDir other;
    WriteFile(other.file("datei"), "");
    o = Run("--disable-security-warning", "XDG_CONFIG_DIRS=" + other.file("datei"));
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
    TempDir source;
    TempDir target;
    WriteFile(source.file("a.mde"), "aaaa");
    WriteFile(source.file("b.mdb"), "bb");
    Settings("  " + source.path() + "/*  ", target.path() + "/neu/");
    CommandRun o = Run("--update");
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(o.out, "Kopiert: 2 Dateien, 6 Bytes\nDateien wurden erfolgreich kopiert!\n");
    EXPECT_EQ(ReadFile(target.file("neu/a.mde")), "aaaa");

    // A share that is not mounted, or another run of the tool in the target folder: nothing
    // starts.
    const int lock = ::open(target.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    for (const auto& [quelle, says] : std::vector<std::pair<std::string, std::string>>{
             {source.path() + "/fehlt",
              "Im Quellverzeichnis wurden keine Dateien gefunden: „" + source.path() + "/fehlt“"},
             {source.path() + "/*", FolderBusyText(target.path())}}) {
        Settings(quelle, target.path());
        o = Run("--update");
        EXPECT_EQ(o.exitCode, 1);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, says + "\n");
    }
    ::close(lock);

    // Settings that others may change do not steer a root run: it stops before copying.
    if (::geteuid() == 0) {
        Settings(source.path() + "/*", target.path() + "/fremd/");
        ASSERT_EQ(::chmod(program.file("tarnu-system-tool.ini").c_str(), 0666), 0);
        o = Run("--update");
        EXPECT_EQ(o.exitCode, 1);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err.rfind("Die Einstellungsdatei", 0), 0u) << o.err;
        EXPECT_NE(o.err.find("chmod go-w '" + program.file("tarnu-system-tool.ini")),
                  std::string::npos)
            << o.err;
        EXPECT_FALSE(FileExists(target.file("fremd")));
    }
}

TEST_F(Unattended, UsageErrorsDoNothing) {
    const std::string before = Snapshot();
    for (const char* args : {"--kompakt", "--compact --update", "--compact KDL.mdb",
                             "--compact -platform offscreen"}) {
        const CommandRun o = Run(args);
        EXPECT_EQ(o.exitCode, 2) << args;
        EXPECT_EQ(o.out, "") << args;
        EXPECT_EQ(o.err.rfind("Aufruf: tarnu-system-tool ", 0), 0u) << args << ": " << o.err;
    }
    EXPECT_EQ(Snapshot(), before);

    CommandRun o = Run("--help");
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_NE(o.out.find("--disable-security-warning"), std::string::npos);
    o = Run("--version");
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.out.rfind("TARNU-System-Tool ", 0), 0u) << o.out;
}

// As root without a desktop session, the window runs with a runtime folder of its own instead
// of Qt's warning and its fallback to a name in /tmp that another user could have taken first.
TEST_F(Unattended, TheWindowNeedsNoRuntimeFolderFromTheSession) {
    const std::string err = scratch.file("err");
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
    // Killed, the program leaves its empty folder behind; the test takes it away.
    const std::string after = RunCommand(leftovers).out;
    ASSERT_EQ(after.rfind(before, 0), 0u) << after;
    const std::string made = after.substr(before.size(), after.size() - before.size() - 1);
    EXPECT_EQ(StatOf(made).st_mode & 07777, 0700u) << after;
    ::rmdir(made.c_str());
}

// An update of a target that holds older versions of the source's files, run from a process of
// its own.
class UnattendedUpdate : public Unattended {
  protected:
    // count new versions in the source, their old ones in the target.
    void Prepare(int count) {
        files_ = count;
        for (int i = 0; i < files_; ++i) {
            WriteFile(source.file(Name(i)), New(i));
        }
        Settings(source.path() + "/*", target.path() + "/");
        OldTarget();
    }
    static std::string Name(int i) { return "f" + std::to_string(i); }
    static std::string Old(int i) { return std::string(4000, 'o') + std::to_string(i); }
    static std::string New(int i) { return std::string(4096, 'n') + std::to_string(i); }
    void OldTarget() {
        for (const auto& e : fs::directory_iterator(target.path())) {
            fs::remove(e.path());
        }
        for (int i = 0; i < files_; ++i) {
            WriteFile(target.file(Name(i)), Old(i));
        }
    }
    pid_t Start() {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("TARNU_PROGRAM_FOLDER", program.path().c_str(), 1);
            ::unsetenv("DISPLAY");
            ::freopen(scratch.file("stdout").c_str(), "w", stdout);
            ::freopen(scratch.file("stderr").c_str(), "w", stderr);
            ::execl(TARNU_SYSTEM_TOOL, TARNU_SYSTEM_TOOL, "--update", nullptr);
            ::_exit(127);
        }
        return pid;
    }
    // The files, each wholly old or wholly new, none missing: how many are new.
    int NewFiles() {
        int count = 0;
        for (int i = 0; i < files_; ++i) {
            const std::string data =
                FileExists(target.file(Name(i))) ? ReadFile(target.file(Name(i))) : "";
            EXPECT_TRUE(data == Old(i) || data == New(i))
                << Name(i) << " has " << data.size() << " bytes";
            count += data == New(i);
        }
        return count;
    }
    std::vector<std::string> Temporaries() {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(target.path())) {
            if (posix::IsCopyTempName(e.path().filename().string())) {
                found.push_back(e.path().filename().string());
            }
        }
        return found;
    }

    int files_ = 0;  // how many files the update copies
    TempDir source;
    TempDir target;
};

TEST_F(UnattendedUpdate, SignalsStopTheCopyAsACancelDoes) {
    Prepare(3000);
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal);
        OldTarget();
        const pid_t pid = Start();
        // Once the first temporary file is there, the copy is under way.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (Temporaries().empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ::kill(pid, signal);
        EXPECT_EQ(WaitChild(pid), 1);
        EXPECT_EQ(ReadFile(scratch.file("stdout")), "Kopiert: 0 Dateien, 0 Bytes\n");
        EXPECT_EQ(ReadFile(scratch.file("stderr")), "Kopieren abgebrochen.\n");
        EXPECT_EQ(NewFiles(), 0) << "the target is as it was";
        EXPECT_TRUE(Temporaries().empty());
    }
}

TEST_F(UnattendedUpdate, AKillAtAnyMomentLeavesWholeFilesAndTheNextRunCompletes) {
    Prepare(200);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(WaitChild(Start()), 0);
    const auto whole = std::chrono::steady_clock::now() - begin;
    std::mt19937 random(20240518);
    std::uniform_int_distribution<long> moment(
        0, std::chrono::duration_cast<std::chrono::microseconds>(whole).count());
    int mixed = 0;
    for (int kill = 0; kill < 50; ++kill) {
        OldTarget();
        const pid_t pid = Start();
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(pid, SIGKILL);
        WaitChild(pid);
        const int renewed = NewFiles();
        mixed += renewed > 0 && renewed < files_;
        ASSERT_EQ(WaitChild(Start()), 0) << ReadFile(scratch.file("stderr"));
        EXPECT_EQ(NewFiles(), files_);
        EXPECT_EQ(FolderContents(target.path()).size(), static_cast<std::size_t>(files_))
            << "nothing else is left behind";
    }
    RecordProperty("kills between old and new", mixed);
}

}  // namespace
}  // namespace tarnu::test
