// Both windows of the program drawn by the Windows platform and driven by window messages.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

#include "app/application.h"
#include "app/main_form.h"
#include "platform/win32/win32_copy_survey.h"
#include "platform/win32/win32_profile.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_ui.h"
#include "settings/modul_ini.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/win32/wine_test_support.h"
#include "update/workstation_update.h"

#include <windows.h>

namespace tarnu::test {
namespace {

class Windows : public ::testing::Test {
  protected:
    Windows() { form1.Show(); }

    HWND Form(const char* caption) { return ::FindWindowA("TarnuForm", caption); }
    void Key(WPARAM key) {
        HWND focus = ::GetFocus();
        ::PostMessageA(focus, WM_KEYDOWN, key, 1);
        ::PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
        ui.DispatchPending();
    }
    std::string FocusName(HWND window) {
        HWND focus = ::GetFocus();
        char text[128] = {};
        ::GetWindowTextA(focus, text, sizeof text);
        return ::GetParent(focus) == window ? std::to_string(::GetDlgCtrlID(focus)) + ":" + text
                                            : "elsewhere";
    }

    ComScope com;
    TempDir dir;
    MessageBoxCatcher catcher;
    win32::Win32UiPlatform ui{ui::AppObject{dir.path(), "T", "TARNU-System-Tool"}};
    win32::Win32MessageBoxes boxes;
    app::Application app{ui, boxes};
    win32::Win32Profile profile;
    Modul_ini settings{profile, [this] { return ui.App(); }};
    ScriptedDialogs dialogs;
    win32::Win32Shell shell{boxes};
    win32::Win32CopySurvey survey;
    update::Workstationupdate update{
        app,
        {settings, dialogs, [this] { return dir.path(); }, shell, survey, "C:\\Programme\\Tarnu"}};
    int compactions = 0;
    bool busy = false;
    app::MainForm form1{
        app, app::MainFormActions{[this] {
                                      ++compactions;
                                      busy = ::GetCursor() == ::LoadCursorA(nullptr, IDC_WAIT);
                                      app.MsgBox("fertig", ui::vbInformation, "Tarnu");
                                  },
                                  [this] { update.Show(); },
                                  {}}};
};

using Place = std::array<int, 4>;  // left, top, width, height

// Both windows in pixels at 96 and at 120 dots per inch, the figures worked out by hand from
// the twips; every caption, in the font the control got, fits inside its control's borders. The
// test runs at the resolution of the prefix, 96, and again at 120 from the program test.
TEST_F(Windows, LayoutInPixelsAndCaptionsThatFitAtTheScreensResolution) {
    const char* asked = std::getenv("TARNU_TEST_DPI");
    const int dpi = asked ? std::atoi(asked) : 96;
    ASSERT_EQ(ui.Dpi(), dpi);
    ::SendMessageA(::GetDlgItem(Form("Tarnu-System-Tool"), 101), BM_CLICK, 0, 0);
    struct Row {
        const char* form;
        int id;  // 0: the client area
        Place at96, at120;
    };
    for (const Row& r : std::vector<Row>{
             {"Tarnu-System-Tool", 0, {0, 0, 202, 213}, {0, 0, 253, 266}},
             {"Tarnu-System-Tool", 100, {8, 88, 185, 33}, {10, 110, 231, 41}},
             {"Tarnu-System-Tool", 101, {8, 128, 185, 33}, {10, 160, 231, 41}},
             {"Tarnu-System-Tool", 102, {16, 8, 179, 73}, {20, 10, 224, 91}},
             {"Tarnu-System-Tool", 103, {8, 168, 185, 33}, {10, 210, 231, 41}},
             {"Workstationupdate", 0, {0, 0, 417, 97}, {0, 0, 521, 121}},
             {"Workstationupdate", 100, {96, 8, 289, 17}, {120, 10, 361, 21}},
             {"Workstationupdate", 101, {8, 8, 88, 17}, {10, 10, 101, 21}},
             {"Workstationupdate", 102, {8, 32, 97, 17}, {10, 40, 121, 21}},
             {"Workstationupdate", 103, {96, 32, 289, 17}, {120, 40, 361, 21}},
             {"Workstationupdate", 104, {392, 8, 17, 17}, {490, 10, 21, 21}},
             {"Workstationupdate", 105, {392, 32, 17, 17}, {490, 40, 21, 21}},
             {"Workstationupdate", 106, {232, 64, 105, 25}, {290, 80, 131, 31}},
             {"Workstationupdate", 107, {344, 64, 65, 25}, {430, 80, 81, 31}},
             {"Workstationupdate", 108, {8, 64, 217, 17}, {10, 80, 271, 21}},
         }) {
        const HWND form = Form(r.form);
        const HWND control = r.id ? ::GetDlgItem(form, r.id) : form;
        ASSERT_NE(control, nullptr) << r.form << " " << r.id;
        RECT rect{};
        if (r.id) {
            ::GetWindowRect(control, &rect);
            ::MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&rect), 2);
        } else {
            ::GetClientRect(form, &rect);
        }
        const Place place{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
        EXPECT_EQ(place, dpi == 120 ? r.at120 : r.at96) << r.form << " " << r.id;

        wchar_t text[256] = {};
        char cls[16] = {};
        ::GetClassNameA(control, cls, sizeof cls);
        if (!r.id || !::GetWindowTextW(control, text, 256)) {
            continue;
        }
        // Buttons and text boxes draw inside a two-pixel border; labels have none. Only a
        // text box keeps its text on one line, scrolled.
        const bool edit = lstrcmpiA(cls, "Edit") == 0;
        const int border = lstrcmpiA(cls, "Static") == 0 ? 0 : 2;
        HDC dc = ::GetDC(control);
        const HGDIOBJ old = ::SelectObject(
            dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)));
        RECT need{0, 0, place[2] - 2 * border, 0};
        ::DrawTextW(dc, text, -1, &need,
                    DT_CALCRECT | DT_NOPREFIX | (edit ? DT_SINGLELINE : DT_WORDBREAK));
        EXPECT_TRUE(edit || need.right <= place[2] - 2 * border)
            << r.form << " " << r.id << ": a word is wider than the control";
        EXPECT_LE(need.bottom, place[3] - 2 * border) << r.form << " " << r.id;
        ::SelectObject(dc, old);
        ::ReleaseDC(control, dc);
    }
}

// The dialog manager walks the controls with Tab and clicks with Space; each window gets its
// focus back when it is activated again. The update window leaves the main window usable, and
// the program ends with the last window, the update's paths saved.
TEST_F(Windows, KeyboardFocusMessageBoxesAndTheModelessUpdateWindow) {
    HWND main = Form("Tarnu-System-Tool");
    EXPECT_NE(::SendMessageA(main, WM_GETICON, ICON_BIG, 0), 0);
    ui.DispatchPending();
    EXPECT_EQ(FocusName(main), "100:Programmdateien komprimieren");
    std::vector<std::string> order;
    for (int i = 0; i < 4; ++i) {
        Key(VK_TAB);
        order.push_back(FocusName(main));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"101:Workstationupdate", "102:",
                                               "103:Sicherheitswarung bei Access 2003 ausschalten",
                                               "100:Programmdateien komprimieren"}));
    Key(VK_SPACE);
    EXPECT_EQ(compactions, 1);
    EXPECT_TRUE(busy) << "the wait cursor shows while the action runs";
    EXPECT_NE(::GetCursor(), ::LoadCursorA(nullptr, IDC_WAIT));
    app.MsgBox("b", ui::vbCritical);
    EXPECT_EQ(catcher.boxes, (std::vector<std::string>{"Tarnu: fertig", "TARNU-System-Tool: b"}));

    Key(VK_TAB);
    Key(VK_SPACE);
    ::SendMessageA(::GetDlgItem(main, 101), BM_CLICK, 0, 0);
    ui.DispatchPending();
    HWND upd = Form("Workstationupdate");
    ASSERT_NE(upd, nullptr);
    EXPECT_EQ(::FindWindowExA(nullptr, upd, "TarnuForm", "Workstationupdate"), nullptr)
        << "one window only";
    EXPECT_TRUE(::GetWindowLongA(upd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    EXPECT_TRUE(::IsWindowEnabled(main)) << "the main window stays usable";
    // The source box has the focus; Tab passes the labels and goes on to the target box.
    EXPECT_EQ(FocusName(upd), "100:");
    Key(VK_TAB);
    EXPECT_EQ(FocusName(upd), "103:C:\\Programme\\Tarnu");
    for (const auto& [window, focus] :
         {std::pair{main, "101:Workstationupdate"}, {upd, "103:C:\\Programme\\Tarnu"}}) {
        ::SetActiveWindow(window);
        ui.DispatchPending();
        EXPECT_EQ(FocusName(window), focus);
    }

    ::SendMessageA(main, WM_CLOSE, 0, 0);
    ui.DispatchPending();
    EXPECT_EQ(Form("Tarnu-System-Tool"), nullptr);
    EXPECT_FALSE(ui.QuitRequested()) << "the update window is still open";
    update.SetText("Quelle", "\\\\server\\tarnu");
    ::SendMessageA(upd, WM_CLOSE, 0, 0);
    ui.DispatchPending();
    EXPECT_TRUE(ui.QuitRequested());
    EXPECT_EQ(settings.ReadIniValue("Pfade", "Quelle", "", ""), "\\\\server\\tarnu");
}

}  // namespace
}  // namespace tarnu::test
