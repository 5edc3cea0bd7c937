// Both windows of the program drawn by the Windows platform and driven by window messages.

#include <gtest/gtest.h>

#include "app/application.h"
#include "app/main_form.h"
#include "platform/win32/win32_copy_survey.h"
#include "platform/win32/win32_profile.h"
#include "platform/win32/win32_ui.h"
#include "settings/modul_ini.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/win32/wine_test_support.h"
#include "update/workstation_update.h"

#include <windows.h>

namespace tarnu::test {
namespace {

class NoShell : public ShellApi {
  public:
    int SHFileOperationA(SHFILEOPSTRUCTA& r) override {
        r.fAnyOperationsAborted = false;
        return 0;
    }
};

class Windows : public ::testing::Test {
  protected:
    Windows() { form1.Show(); }

    HWND Form(const char* caption) { return ::FindWindowA("TarnuForm", caption); }
    HWND Child(HWND form, const char* cls, const char* caption) {
        return ::FindWindowExA(form, nullptr, cls, caption);
    }
    RECT ClientRectOf(HWND control) {
        RECT r;
        ::GetWindowRect(control, &r);
        ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
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
    int Px(int twips) { return win32::PixelsFromTwips(twips, ui.Dpi()); }

    ComScope com;
    TempDir dir;
    MessageBoxCatcher catcher;
    win32::Win32UiPlatform ui{ui::AppObject{dir.path(), "T", "TARNU-System-Tool"}};
    win32::Win32MessageBoxes boxes;
    app::Application app{ui, boxes};
    win32::Win32Profile profile;
    Modul_ini settings{profile, [this] { return ui.App(); }};
    ScriptedDialogs dialogs;
    NoShell shell;
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

TEST_F(Windows, MainWindowIsLaidOutInTwipsAtTheScreensResolution) {
    HWND w = Form("Tarnu-System-Tool");
    ASSERT_NE(w, nullptr);
    RECT client;
    ::GetClientRect(w, &client);
    EXPECT_EQ(client.right, Px(3030));
    EXPECT_EQ(client.bottom, Px(3195));
    const LONG style = ::GetWindowLongA(w, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    EXPECT_NE(::GetWindow(w, GW_OWNER), nullptr) << "owned, so no taskbar button";
    struct Expected {
        HWND control;
        int left, top, width, height;
    };
    const HWND command1 = Child(w, "Button", "Programmdateien komprimieren");
    const HWND picture = Child(w, "TarnuPicture", nullptr);
    for (const Expected& e :
         std::vector<Expected>{{command1, 120, 1320, 2775, 495},
                               {Child(w, "Button", "Workstationupdate"), 120, 1920, 2775, 495},
                               {picture, 240, 120, 2685, 1095},
                               {Child(w, "Button", "Sicherheitswarung bei Access 2003 ausschalten"),
                                120, 2520, 2775, 495}}) {
        ASSERT_NE(e.control, nullptr);
        const RECT r = ClientRectOf(e.control);
        EXPECT_EQ(r.left, Px(e.left));
        EXPECT_EQ(r.top, Px(e.top));
        EXPECT_EQ(r.right - r.left, Px(e.width));
        EXPECT_EQ(r.bottom - r.top, Px(e.height));
        if (e.control != picture) {
            EXPECT_TRUE(::GetWindowLongA(e.control, GWL_STYLE) & BS_MULTILINE);
        }
    }
    auto bitmap = static_cast<HBITMAP>(::GetPropA(picture, "TarnuPicture"));
    BITMAP info{};
    ASSERT_TRUE(bitmap && ::GetObjectA(bitmap, sizeof info, &info));
    EXPECT_EQ(info.bmWidth, 159);
    EXPECT_EQ(info.bmHeight, 57);
}

TEST_F(Windows, FocusStartsOnTheFirstButtonTabWalksTheIndicesAndSpaceClicks) {
    HWND w = Form("Tarnu-System-Tool");
    ui.DispatchPending();
    EXPECT_EQ(FocusName(w), "100:Programmdateien komprimieren");
    std::vector<std::string> order;
    for (int i = 0; i < 4; ++i) {
        Key(VK_TAB);
        order.push_back(FocusName(w));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"101:Workstationupdate", "102:",
                                               "103:Sicherheitswarung bei Access 2003 ausschalten",
                                               "100:Programmdateien komprimieren"}));
    Key(VK_SPACE);
    EXPECT_EQ(compactions, 1);
    EXPECT_TRUE(busy) << "the wait cursor shows while the action runs";
    EXPECT_NE(::GetCursor(), ::LoadCursorA(nullptr, IDC_WAIT));
    ASSERT_EQ(catcher.boxes.size(), 1u);
    EXPECT_EQ(catcher.boxes[0].title, "Tarnu");
    EXPECT_EQ(catcher.boxes[0].text, "fertig");
    EXPECT_EQ(catcher.boxes[0].icon, MessageBoxCatcher::Icon::Information);
    EXPECT_EQ(catcher.boxes[0].buttons, 1);
}

TEST_F(Windows, MessageBoxStylesShowTheirIcons) {
    app.MsgBox("a", ui::vbOKOnly);
    app.MsgBox("b", ui::vbCritical, "Tarnu");
    ASSERT_EQ(catcher.boxes.size(), 2u);
    EXPECT_EQ(catcher.boxes[0].title, "TARNU-System-Tool");
    EXPECT_EQ(catcher.boxes[0].icon, MessageBoxCatcher::Icon::None);
    EXPECT_EQ(catcher.boxes[1].icon, MessageBoxCatcher::Icon::Critical);
}

TEST_F(Windows, UpdateWindowIsModelessAndTheProgramEndsWithTheLastWindow) {
    HWND main = Form("Tarnu-System-Tool");
    ::SendMessageA(Child(main, "Button", "Workstationupdate"), BM_CLICK, 0, 0);
    ::SendMessageA(Child(main, "Button", "Workstationupdate"), BM_CLICK, 0, 0);
    ui.DispatchPending();
    HWND upd = Form("Workstationupdate");
    ASSERT_NE(upd, nullptr);
    EXPECT_EQ(::FindWindowExA(nullptr, upd, "TarnuForm", "Workstationupdate"), nullptr)
        << "one window only";
    EXPECT_TRUE(::GetWindowLongA(upd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    RECT client;
    ::GetClientRect(upd, &client);
    EXPECT_EQ(client.right, Px(6255));
    EXPECT_EQ(client.bottom, Px(1455));
    EXPECT_TRUE(::IsWindowEnabled(main)) << "the main window stays usable";
    // The source box has the focus; Tab passes the labels and goes on to the target box.
    char cls[16] = {};
    EXPECT_EQ(::GetDlgCtrlID(::GetFocus()), 100);
    ::GetClassNameA(::GetFocus(), cls, sizeof cls);
    EXPECT_STREQ(cls, "Edit");
    Key(VK_TAB);
    EXPECT_EQ(::GetDlgCtrlID(::GetFocus()), 103);

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
