// The Windows program itself, started as a user starts it and driven from outside through its
// windows: what a person with Wine sees when pressing the buttons.

#include <gtest/gtest.h>

#include "platform/win32/text.h"
#include "tests/support/temp_dir.h"
#include "tests/win32/wine_test_support.h"

#include <windows.h>

namespace tarnu::test {
namespace {

struct Search {
    DWORD process;
    const char* cls;
    const char* caption;  // nullptr: any
    HWND found;
};

BOOL CALLBACK Match(HWND hwnd, LPARAM lp) {
    auto* s = reinterpret_cast<Search*>(lp);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    char cls[64] = {};
    char caption[256] = {};
    ::GetClassNameA(hwnd, cls, sizeof cls);
    ::GetWindowTextA(hwnd, caption, sizeof caption);
    if (owner == s->process && ::IsWindowVisible(hwnd) && lstrcmpA(cls, s->cls) == 0 &&
        (!s->caption || lstrcmpA(caption, s->caption) == 0)) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// The program's visible top-level window of that class (and caption), once it is there.
HWND WaitForWindow(DWORD process, const char* cls, const char* caption = nullptr,
                   int timeoutMs = 60000) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        Search s{process, cls, caption, nullptr};
        ::EnumWindows(Match, reinterpret_cast<LPARAM>(&s));
        if (s.found) {
            return s.found;
        }
        ::Sleep(50);
    }
    return nullptr;
}

// The text of a control of another process: its window text travels by message.
std::string TextOf(HWND hwnd) {
    char text[2048] = {};
    ::SendMessageA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

class RunningProgram : public ::testing::Test {
  protected:
    void Start() {
        process = StartProgram(BuiltProgram("tarnu-system-tool.exe"), {},
                               {{"TARNU_PROGRAM_FOLDER", folder.path()}});
        ASSERT_NE(process, nullptr);
        main = WaitForWindow(::GetProcessId(process), "TarnuForm", "Tarnu-System-Tool");
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

TEST_F(RunningProgram, ThirdButtonWritesTheThreeValuesIntoWinesRegistry) {
    RemoveSecurityValues();
    Start();
    // Sent: it returns once the click's handler has run.
    ::SendMessageA(Button("Sicherheitswarung bei Access 2003 ausschalten"), BM_CLICK, 0, 0);
    ExpectSecurityValuesWritten();
    // The switch shows nothing.
    EXPECT_EQ(WaitForWindow(::GetProcessId(process), "#32770", nullptr, 2000), nullptr);
    Close();
}

TEST_F(RunningProgram, FirstButtonWithoutDaoShowsTheCriticalBoxAndLeavesTheFolderAlone) {
    for (const char* name : {"system.srv", "KDL.mdb", "kdlcode.mde", "Tarnu-Admin.mde"}) {
        WriteFile(folder.file(name), std::string("Inhalt von ") + name);
    }
    const auto before = Snapshot(folder.path());
    Start();
    // Posted: the handler waits in the message box until it is answered.
    ::PostMessageA(Button("Programmdateien komprimieren"), BM_CLICK, 0, 0);
    HWND box = WaitForWindow(::GetProcessId(process), "#32770");
    ASSERT_NE(box, nullptr);
    char title[128] = {};
    ::GetWindowTextA(box, title, sizeof title);
    EXPECT_STREQ(title, "Tarnu");
    const std::string text = TextOf(::GetDlgItem(box, 0xFFFF));
    EXPECT_NE(text.find("DAO ist auf diesem Rechner nicht installiert"), std::string::npos) << text;
    EXPECT_NE(::GetDlgItem(box, IDOK), nullptr);
    EXPECT_EQ(::GetDlgItem(box, IDCANCEL), nullptr) << "OK only";
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
    HWND update = WaitForWindow(::GetProcessId(process), "TarnuForm", "Workstationupdate");
    ASSERT_NE(update, nullptr);
    for (const wchar_t c : win32::WideFromUtf8(source.path() + "\\\xCE\xA9")) {
        ::PostMessageW(::GetDlgItem(update, 100), WM_CHAR, c, 1);
    }
    ::PostMessageA(::FindWindowExA(update, nullptr, "Button", "Dateien kopieren"), BM_CLICK, 0, 0);
    HWND box = WaitForWindow(::GetProcessId(process), "#32770");
    ASSERT_NE(box, nullptr);
    wchar_t text[2048] = {};
    ::SendMessageW(::GetDlgItem(box, 0xFFFF), WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text));
    EXPECT_NE(std::wstring(text).find(L"\\\u03A9"), std::wstring::npos)
        << win32::Utf8FromWide(text);
    EXPECT_TRUE(FolderContents(target.path()).empty());
}

// At 120 dots per inch (125 % on Windows) the windows grow with the screen's resolution and
// their captions still fit: the layout test of the window tests again, at the resolution of the
// prefix, which each program reads as it starts, so this test runs alone.
TEST(Resolution, WindowsAt120DotsPerInch) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD dpi = 120;
    ::RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                     sizeof dpi);
    const ProgramRun run =
        RunProgram(BuiltProgram("win32_windows_test.exe"),
                   {"--gtest_filter=Windows.LayoutInPixels*"}, {{"TARNU_TEST_DPI", "120"}});
    ::RegDeleteValueA(key, "LogPixels");
    ::RegCloseKey(key);
    EXPECT_EQ(run.exitCode, 0u) << run.out << run.err;
    EXPECT_NE(run.out.find("[  PASSED  ] 1 test."), std::string::npos) << run.out;
}

}  // namespace
}  // namespace tarnu::test
