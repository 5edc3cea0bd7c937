// The Windows program: every port on the Windows API, DAO through COM.

#include "app/application.h"
#include "app/system_tool.h"
#include "platform/win32/dao_engine.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_dialogs.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_profile.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_ui.h"
#include "ports/error.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    using namespace tarnu;
    // The folder browser and DAO are COM objects of this one thread.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ::InitCommonControls();
    int code = 1;
    try {
        win32::Win32UiPlatform ui(win32::AppObjectOfThisProgram());
        win32::Win32MessageBoxes boxes;
        win32::Win32FileServices files;
        win32::Win32Registry registry;
        win32::Win32Profile profile;
        win32::Win32CommonDialogs dialogs(boxes);
        win32::Win32Shell shell(boxes);
        app::SystemTool tool({ui, boxes, files, [] { return win32::MakeDaoEngine(); }, registry,
                              profile, dialogs, shell});
        code = tool.Run();
    } catch (...) {
        // Nothing of the program caught it, not even the handlers of its windows.
        ::MessageBoxA(nullptr,
                      win32::AnsiForDisplay(app::UncaughtErrorText(CurrentError())).c_str(),
                      app::ApplicationTitle, MB_OK | MB_ICONHAND | MB_TASKMODAL);
        code = 1;
    }
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    return code;
}
