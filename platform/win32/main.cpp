// The Windows program: every port on the Windows API, DAO through COM. Given an action on its
// command line it runs that action without windows, as its console twin does; see RunAction.

#include <sstream>

#include "app/application.h"
#include "app/command_line.h"
#include "app/system_tool.h"
#include "app/unattended.h"
#include "platform/win32/dao_engine.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_console.h"
#include "platform/win32/win32_copy_survey.h"
#include "platform/win32/win32_dialogs.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_profile.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_ui.h"
#include "platform/win32/win32_unattended.h"
#include "ports/error.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

namespace {

using namespace tarnu;

int RunWindows() {
    ::InitCommonControls();
    try {
        win32::Win32UiPlatform ui(win32::ProgramObject());
        win32::Win32MessageBoxes boxes;
        win32::Win32FileServices files;
        win32::Win32Registry registry;
        win32::Win32Profile profile;
        win32::Win32CommonDialogs dialogs(boxes);
        win32::Win32Shell shell(boxes);
        win32::Win32CopySurvey survey;
        app::SystemTool tool({ui, boxes, files, [] { return win32::MakeDaoEngine(); }, registry,
                              profile, dialogs, shell, survey});
        return tool.Run();
    } catch (...) {
        // Nothing of the program caught it, not even the handlers of its windows.
        ::MessageBoxW(nullptr, win32::WideFromUtf8(app::UncaughtErrorText(CurrentError())).c_str(),
                      win32::WideFromUtf8(app::ApplicationTitle).c_str(),
                      MB_OK | MB_ICONHAND | MB_TASKMODAL);
        return 1;
    }
}

// A standard handle that leads somewhere: one handed down by the caller (a redirection), or the
// console of the command prompt the program was started from. cmd does not wait for a windowed
// program, so its output may mix with the next prompt; scripts call the console twin instead.
void ConnectStandardHandle(DWORD which) {
    HANDLE handle = ::GetStdHandle(which);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        return;
    }
    handle = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        ::SetStdHandle(which, handle);
    }
}

// The windowed program given an action runs it as the console twin would: no window, the texts
// on the standard handles, the exit status for whoever waits for it (start /wait, the Task
// Scheduler). Help, version and usage errors, asked for by a person, show in a message box when
// there is no console to print them to; an action never opens a box, since nobody may be there
// to close it.
int RunAction(app::Action action) {
    const bool console = ::AttachConsole(ATTACH_PARENT_PROCESS) != FALSE;
    if (console) {
        ConnectStandardHandle(STD_OUTPUT_HANDLE);
        ConnectStandardHandle(STD_ERROR_HANDLE);
    }
    win32::ConsoleStream out(STD_OUTPUT_HANDLE);
    win32::ConsoleStream err(STD_ERROR_HANDLE);
    const bool forPerson = action == app::Action::Help || action == app::Action::Version ||
                           action == app::Action::UsageError;
    if (!forPerson || out.Connected() || err.Connected()) {
        return win32::RunWithoutWindows(action, false, out, err);
    }
    std::ostringstream text;
    const int code = win32::RunWithoutWindows(action, false, text, text);
    ::MessageBoxW(
        nullptr, win32::WideFromUtf8(text.str()).c_str(),
        win32::WideFromUtf8(app::ApplicationTitle).c_str(),
        MB_OK | MB_TASKMODAL | (code == app::ExitSuccess ? MB_ICONINFORMATION : MB_ICONHAND));
    return code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The folder browser and DAO are COM objects of this one thread.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const app::Action action = app::ParseCommandLine(win32::CommandLineArguments(), nullptr);
    const int code = action == app::Action::Windows ? RunWindows() : RunAction(action);
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    return code;
}
