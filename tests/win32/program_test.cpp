// The Windows program itself, started as a user starts it and driven from outside through its
// windows: what a person with Wine sees when pressing the buttons.

#include <gtest/gtest.h>

#include "platform/win32/text.h"
#include "tests/support/temp_dir.h"
#include "tests/win32/wine_test_support.h"

#include <windows.h>

#include <shlwapi.h>

namespace tarnu::test {
namespace {

// The program's visible top-level window of that class (and caption), once it is there. The
// test runs alone: no other program of the build has windows meanwhile.
HWND WaitForWindow(const char* cls, const char* caption = nullptr, int timeoutMs = 60000) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (HWND hwnd = ::FindWindowA(cls, caption); hwnd && ::IsWindowVisible(hwnd)) {
            return hwnd;
        }
        ::Sleep(50);
    }
    return nullptr;
}

// A box's text, which travels by message from the other process.
std::wstring BoxText(HWND box) {
    wchar_t text[2048] = {};
    ::SendMessageW(::GetDlgItem(box, 0xFFFF), WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text));
    return text;
}

class RunningProgram : public ::testing::Test {
  protected:
    void Start() {
        process = StartProgram(BuiltProgram("tarnu-system-tool.exe"), {},
                               {{"TARNU_PROGRAM_FOLDER", folder.path()}});
        ASSERT_NE(process, nullptr);
        main = WaitForWindow("TarnuForm", "Tarnu-System-Tool");
        ASSERT_NE(main, nullptr);
    }
    HWND Button(const char* caption) { return ::FindWindowExA(main, nullptr, "Button", caption); }
    // Closes the main window; the program ends with it and status 0.
    void Close() {
        ::PostMessageA(main, WM_CLOSE, 0, 0);
        EXPECT_EQ(EndProgram(process, 60000), 0u);
        process = nullptr;
    }
    ~RunningProgram() override {
        if (process) {
            EndProgram(process, 0);
        }
    }

    TempDir folder;
    void* process = nullptr;
    HWND main = nullptr;
};

// The third button writes the three values and shows nothing; the first, without DAO, shows
// the critical box with OK only and leaves the folder alone.
TEST_F(RunningProgram, ButtonsWriteWinesRegistryOrSayDaoIsMissing) {
    RemoveSecurityValues();
    for (const char* name : {"system.srv", "KDL.mdb", "kdlcode.mde", "Tarnu-Admin.mde"}) {
        WriteFile(folder.file(name), std::string("Inhalt von ") + name);
    }
    const auto before = Snapshot(folder.path());
    Start();
    // Sent: it returns once the click's handler has run.
    ::SendMessageA(Button("Sicherheitswarung bei Access 2003 ausschalten"), BM_CLICK, 0, 0);
    ExpectSecurityValuesWritten();
    EXPECT_EQ(WaitForWindow("#32770", nullptr, 2000), nullptr);
    // Posted: the handler waits in the message box until it is answered.
    ::PostMessageA(Button("Programmdateien komprimieren"), BM_CLICK, 0, 0);
    HWND box = WaitForWindow("#32770");
    ASSERT_NE(box, nullptr);
    char title[128] = {};
    ::GetWindowTextA(box, title, sizeof title);
    EXPECT_STREQ(title, "Tarnu");
    const std::wstring text = BoxText(box);
    EXPECT_NE(text.find(L"DAO ist auf diesem Rechner nicht installiert"), std::wstring::npos);
    EXPECT_NE(::GetDlgItem(box, IDOK), nullptr);
    EXPECT_EQ(::GetDlgItem(box, IDCANCEL), nullptr) << "OK only";
    // The critical style's icon, in stc1 of Wine's boxes.
    EXPECT_NE(::SendDlgItemMessageA(box, 0x440, STM_GETICON, 0, 0), 0);
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(Snapshot(folder.path()), before);
    Close();
}

// Typed into the source box, a character the code page lacks reaches the copy as it is and is
// refused with a message naming it. An ANSI message loop made "O" of "Ω" and copied that folder.
TEST_F(RunningProgram, TypedCharacterTheCodePageLacksIsRefusedNotApproximated) {
    TempDir source, target;
    ASSERT_TRUE(::CreateDirectoryA(source.file("O").c_str(), nullptr));
    WriteFile(source.file("O") + "\\datei.txt", "look-alike");
    WriteFile(folder.file("tarnu-system-tool.ini"), "[Pfade]\r\nZiel=" + target.path() + "\r\n");
    Start();
    ::SendMessageA(Button("Workstationupdate"), BM_CLICK, 0, 0);
    HWND update = WaitForWindow("TarnuForm", "Workstationupdate");
    ASSERT_NE(update, nullptr);
    for (const wchar_t c : win32::WideFromUtf8(source.path() + "\\\xCE\xA9")) {
        ::PostMessageW(::GetDlgItem(update, 100), WM_CHAR, c, 1);
    }
    ::PostMessageA(::FindWindowExA(update, nullptr, "Button", "Dateien kopieren"), BM_CLICK, 0, 0);
    HWND box = WaitForWindow("#32770");
    ASSERT_NE(box, nullptr);
    EXPECT_NE(BoxText(box).find(L"\\\u03A9"), std::wstring::npos)
        << win32::Utf8FromWide(BoxText(box));
    EXPECT_TRUE(FolderContents(target.path()).empty());
}

// At 120 dots per inch (125 % on Windows) the windows grow with the screen's resolution and
// their captions still fit: the layout test of the window tests again, at the resolution of the
// prefix, which each program reads as it starts, so this test runs alone.
TEST(Resolution, WindowsAt120DotsPerInch) {
    const char* desktop = "Control Panel\\Desktop";
    const DWORD dpi = 120;
    ASSERT_EQ(::SHSetValueA(HKEY_CURRENT_USER, desktop, "LogPixels", REG_DWORD, &dpi, sizeof dpi),
              ERROR_SUCCESS);
    const ProgramRun run =
        RunProgram(BuiltProgram("win32_windows_test.exe"),
                   {"--gtest_filter=Windows.LayoutInPixels*"}, {{"TARNU_TEST_DPI", "120"}});
    ::SHDeleteValueA(HKEY_CURRENT_USER, desktop, "LogPixels");
    EXPECT_EQ(run.exitCode, 0u) << run.out << run.err;
    EXPECT_NE(run.out.find("[  PASSED  ] 1 test."), std::string::npos) << run.out;
}

}  // namespace
}  // namespace tarnu::test
