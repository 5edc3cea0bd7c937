#include "platform/win32/win32_unattended.h"

#include "app/application.h"
#include "app/unattended.h"
#include "platform/win32/dao_engine.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_copy_survey.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_profile.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_shell.h"
#include "ports/error.h"

#include <windows.h>

#include <shellapi.h>

namespace tarnu::win32 {

namespace {

constexpr const char* kTwinSuffix = "-cli";

std::string EnvironmentValue(const char* name) {
    const std::wstring wideName = WideFromUtf8(name);
    const DWORD size = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) {
        return "";
    }
    std::wstring value(size, L'\0');
    const DWORD n = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
    value.resize(n < size ? n : 0);
    return Utf8FromWide(value);
}

}  // namespace

std::vector<std::string> CommandLineArguments() {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!argv) {
        return args;
    }
    for (int i = 1; i < count; ++i) {
        args.push_back(Utf8FromWide(argv[i]));
    }
    ::LocalFree(argv);
    return args;
}

ui::AppObject ProgramObject(bool twin) {
    ui::AppObject app = AppObjectOfThisProgram();
    const std::string suffix = kTwinSuffix;
    if (twin && app.EXEName.size() > suffix.size() &&
        lstrcmpiA(app.EXEName.c_str() + app.EXEName.size() - suffix.size(), suffix.c_str()) == 0) {
        app.EXEName.resize(app.EXEName.size() - suffix.size());
    }
    const std::string folder = EnvironmentValue(app::ProgramFolderVariable);
    std::string ansi;
    if (!TryAnsiFromUtf8(folder, ansi) || ansi.find_first_of("*?") != std::string::npos) {
        throw Error(BadNameError, std::string("Der Programmordner aus ") +
                                      app::ProgramFolderVariable + " \"" + folder +
                                      "\" enthält Zeichen, die Windows in der Codepage dieses "
                                      "Systems nicht darstellen kann oder die in keinem "
                                      "Ordnernamen stehen dürfen.");
    }
    return app::WithProgramFolder(app, folder, '\\');
}

int RunWithoutWindows(app::Action action, bool twin, std::ostream& out, std::ostream& err) {
    try {
        const std::string name = AppObjectOfThisProgram().EXEName;
        switch (action) {
            case app::Action::Help:
                out << app::UsageText(name, !twin);
                return app::ExitSuccess;
            case app::Action::Version:
                out << app::VersionText() << '\n';
                return app::ExitSuccess;
            case app::Action::UsageError:
                err << app::UsageText(name, !twin);
                return app::ExitUsage;
            default:
                break;
        }
        Win32FileServices files;
        Win32Registry registry;
        Win32Profile profile;
        UnattendedShell shell(err);
        Win32CopySurvey survey;
        return app::RunUnattended(action, {files, [] { return MakeDaoEngine(); }, registry, profile,
                                           shell, survey, ProgramObject(twin), out, err});
    } catch (...) {
        err << app::UncaughtErrorText(CurrentError()) << '\n';
        return app::ExitFailure;
    }
}

}  // namespace tarnu::win32
