// The program's actions from the command line: the console twin, as scripts and the Task
// Scheduler run it, and the windowed program given an action.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"
#include "tests/win32/wine_test_support.h"

#include <windows.h>

namespace tarnu::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kCli = "tarnu-system-tool-cli.exe";
const std::string kGui = "tarnu-system-tool.exe";

class ProgramFolder : public ::testing::Test {
  protected:
    ProgramRun Run(const std::string& program, const std::vector<std::string>& args) {
        return RunProgram(BuiltProgram(program), args, {{"TARNU_PROGRAM_FOLDER", folder.path()}});
    }
    TempDir folder;
};

TEST_F(ProgramFolder, UpdateCopiesTheRememberedFoldersAndPrintsTheShellsStatus) {
    TempDir work;
    ASSERT_TRUE(::CreateDirectoryA(work.file("quelle").c_str(), nullptr));
    WriteFile(work.file("quelle\\kdlcode.mde"), "neu");
    WriteFile(work.file("quelle\\Tarnu-Admin.mde"), "neu2");
    // The twin uses the settings file of the program beside it, with the paths as the update
    // window saved them: spaces around them are not part of the paths.
    const std::string ini = folder.file("tarnu-system-tool.ini");
    ::WritePrivateProfileStringA("Pfade", "Quelle", ("  " + work.file("quelle\\*") + " ").c_str(),
                                 ini.c_str());
    ::WritePrivateProfileStringA("Pfade", "Ziel", (work.file("ziel") + "\\").c_str(), ini.c_str());

    const ProgramRun copied = Run(kCli, {"--update"});
    EXPECT_EQ(copied.exitCode, 0u) << copied.err;
    EXPECT_EQ(copied.out, "Dateien wurden erfolgreich kopiert!\r\n");
    EXPECT_EQ(copied.err, "");
    EXPECT_EQ(ReadFile(work.file("ziel\\kdlcode.mde")), "neu");
    EXPECT_EQ(ReadFile(work.file("ziel\\Tarnu-Admin.mde")), "neu2");

    // The copy would replace the twin's own executable, which is running it: refused before
    // anything is copied.
    ASSERT_TRUE(::CreateDirectoryA(work.file("programm").c_str(), nullptr));
    const std::string own = work.file("programm\\" + kCli);
    ASSERT_TRUE(::CopyFileA(BuiltProgram(kCli).c_str(), own.c_str(), 0));
    WriteFile(work.file("quelle\\" + kCli), "neu");
    ::WritePrivateProfileStringA("Pfade", "Ziel", work.file("programm\\").c_str(), ini.c_str());
    const ProgramRun refused =
        RunProgram(own, {"--update"}, {{"TARNU_PROGRAM_FOLDER", folder.path()}});
    EXPECT_EQ(refused.exitCode, 1u);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(
        refused.err.find(kCli + "\x93 wird gerade benutzt: es ist dieses TARNU-System-Tool selbst"),
        std::string::npos)
        << refused.err;
    EXPECT_EQ(FolderContents(work.file("programm")), std::vector<std::string>{kCli});
    EXPECT_EQ(ReadFile(own), ReadFile(BuiltProgram(kCli)));
}

// The usage goes to standard output when asked for, else to standard error with status 2. The
// compaction without DAO fails before its first file, in German in the code page of the output:
// no console here, so the ANSI one. Also the copies of killed runs stay.
TEST_F(ProgramFolder, UsageAndCompactionWithoutDaoOnTheStandardHandles) {
    for (const char* name : {"system.srv", "KDL.mdb", "kdlcode.mde", "01012024120000Dummy.mdb"}) {
        WriteFile(folder.file(name), std::string("Inhalt von ") + name);
    }
    const auto before = Snapshot(folder.path());
    struct Case {
        std::string program, arg;
        unsigned long code;
        std::string out, err;  // what each holds; "" for nothing
    };
    for (const Case& c : std::vector<Case>{
             {kCli, "--help", 0, "Aufruf: tarnu-system-tool-cli ", ""},
             {kGui, "--help", 0, "Aufruf: tarnu-system-tool ", ""},
             {kGui, "--kompakt", 2, "", "Aufruf: tarnu-system-tool "},
             {kCli, "--version", 0, "TARNU-System-Tool 1.", ""},
             {kCli, "--compact", 1, "", "DAO ist auf diesem Rechner nicht installiert"},
             {kGui, "--compact", 1, "", "Es wurde keine Datei ver\xE4ndert."},
         }) {
        const ProgramRun run = Run(c.program, {c.arg});
        EXPECT_EQ(run.exitCode, c.code) << c.program << " " << c.arg;
        for (const auto& [got, expected] : {std::pair{run.out, c.out}, {run.err, c.err}}) {
            EXPECT_TRUE(expected.empty() ? got.empty() : got.find(expected) != std::string::npos)
                << c.program << " " << c.arg << ": " << got;
        }
    }
    EXPECT_EQ(Snapshot(folder.path()), before);
}

// In a console window the texts go out as Unicode, so that cmd shows the umlauts whatever its
// code page; redirected, in the console's code page: the 850 of German Windows, or Wine's 437,
// which has the same bytes for the German letters.
TEST(ConsoleOutput, UmlautsReachTheConsoleAndRedirectionsInTheConsolesCodePage) {
    if (!::GetConsoleWindow()) {
        // Started without a terminal, Wine gives the tests a console without a window, which
        // cannot be shown nor read: a console of their own takes its place.
        ::FreeConsole();
        ASSERT_TRUE(::AllocConsole());
    }
    const UINT before = ::GetConsoleOutputCP();
    ::SetConsoleOutputCP(850);
    ASSERT_TRUE(::GetConsoleOutputCP() == 850 || ::GetConsoleOutputCP() == 437);
    const ProgramRun redirected = RunProgram(BuiltProgram(kCli), {"--help"});
    EXPECT_NE(redirected.out.find("Die Aktion l\x84uft ohne Fenster"), std::string::npos)
        << redirected.out;
    EXPECT_NE(redirected.out.find("R\x81"
                                  "ckgabewert"),
              std::string::npos);

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE screen = ::CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                                CONSOLE_TEXTMODE_BUFFER, nullptr);
    ASSERT_NE(screen, INVALID_HANDLE_VALUE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(::GetConsoleScreenBufferInfo(screen, &info));
    const HANDLE process = StartProgram(BuiltProgram(kCli), {"--help"}, {}, screen, screen);
    ASSERT_NE(process, nullptr);
    ASSERT_EQ(::WaitForSingleObject(process, 60000), WAIT_OBJECT_0);
    ::CloseHandle(process);
    // The usage's first lines, wrapped at the width of the console.
    std::wstring shown(static_cast<std::size_t>(info.dwSize.X) * 12, L'\0');
    DWORD read = 0;
    ASSERT_TRUE(::ReadConsoleOutputCharacterW(screen, shown.data(),
                                              static_cast<DWORD>(shown.size()), {0, 0}, &read));
    shown.resize(read);
    EXPECT_NE(shown.find(L"Die Aktion l\u00E4uft ohne Fenster:"), std::wstring::npos)
        << std::string(shown.begin(), shown.end());
    ::CloseHandle(screen);
    ::SetConsoleOutputCP(before);
}

}  // namespace
}  // namespace tarnu::test
