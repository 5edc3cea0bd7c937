// The console twin of the Windows program: the same actions without windows, for scripts and
// the Task Scheduler, which wait for a console program and get its exit status. Without an
// action there is nothing for it to do but say how it is called.

#include "app/command_line.h"
#include "app/unattended.h"
#include "platform/win32/win32_console.h"
#include "platform/win32/win32_unattended.h"

#include <windows.h>

#include <objbase.h>

int main() {
    using namespace tarnu;
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int code = app::ExitUsage;
    {
        win32::ConsoleStream out(STD_OUTPUT_HANDLE);
        win32::ConsoleStream err(STD_ERROR_HANDLE);
        app::Action action = app::ParseCommandLine(win32::CommandLineArguments(), nullptr);
        if (action == app::Action::Windows) {
            action = app::Action::UsageError;
        }
        code = win32::RunWithoutWindows(action, true, out, err);
    }
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    return code;
}
