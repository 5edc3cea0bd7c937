// The Linux program: Qt for windows and dialogs, our own layers for the rest. With an action on
// its command line it runs that action without windows, and then needs no display.

#include <QApplication>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/application.h"
#include "app/command_line.h"
#include "app/system_tool.h"
#include "app/unattended.h"
#include "platform/linux/engine/engine.h"
#include "platform/linux/posix/file_registry.h"
#include "platform/linux/posix/ini_profile.h"
#include "platform/linux/posix/posix_files.h"
#include "platform/linux/posix/written_copy.h"
#include "platform/linux/qt/qt_common_dialogs.h"
#include "platform/linux/qt/qt_shell.h"
#include "platform/linux/qt/qt_ui.h"
#include "platform/linux/qt/runtime_folder.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

// What the build that made this program knows of its installation: the bin folders that
// `cmake --install` and the package put it in, and the program folder it then works on.
tarnu::app::Installation ThisInstallation() {
    tarnu::app::Installation installation;
    installation.programFolder = TARNU_INSTALLED_PROGRAM_FOLDER;
    std::string_view folders = TARNU_INSTALLED_BIN_FOLDERS;
    for (auto cut = folders.find(':'); !folders.empty(); cut = folders.find(':')) {
        installation.binFolders.emplace_back(folders.substr(0, cut));
        folders.remove_prefix(cut == std::string_view::npos ? folders.size() : cut + 1);
    }
    return installation;
}

tarnu::app::ProgramFolder ChosenProgramFolder() {
    const char* named = std::getenv(tarnu::app::ProgramFolderVariable);
    return tarnu::app::ChooseProgramFolder(tarnu::posix::ExecutablePath(), named ? named : "",
                                           ThisInstallation(), tarnu::PathSeparator());
}

tarnu::ui::AppObject ProgramObject() {
    return ChosenProgramFolder().app;
}

int RunWindows(int argc, char** argv) {
    tarnu::qt::PrivateRuntimeFolder runtime;
    QApplication qapp(argc, argv);
    tarnu::qt::QtUiPlatform ui(ProgramObject());
    tarnu::qt::QtMessageBoxes boxes;
    tarnu::posix::PosixFileServices files;
    auto registry = tarnu::posix::FileRegistry::FromEnvironment();
    tarnu::posix::IniProfile profile;
    tarnu::qt::QtCommonDialogs dialogs;
    tarnu::qt::QtShell shell(boxes);
    tarnu::app::SystemTool tool({ui, boxes, files, [] { return tarnu::engine::MakeEngine(); },
                                 registry, profile, dialogs, shell, shell});
    return tool.Run();
}

int RunAction(tarnu::app::Action action) {
    if (action == tarnu::app::Action::Update) {
        // A stop asked for by the scheduler, Ctrl+C or a closed terminal ends the copy as its
        // cancel button would: the target stays as it was.
        struct sigaction stop {};
        stop.sa_handler = RequestStop;
        sigemptyset(&stop.sa_mask);
        sigaction(SIGINT, &stop, nullptr);
        sigaction(SIGTERM, &stop, nullptr);
        sigaction(SIGHUP, &stop, nullptr);
    }
    tarnu::posix::PosixFileServices files;
    auto registry = tarnu::posix::FileRegistry::FromEnvironment();
    tarnu::posix::IniProfile profile;
    tarnu::posix::WrittenCopy shell(std::cout, std::cerr, &stopRequested);
    return tarnu::app::RunUnattended(
        action, {files, [] { return tarnu::engine::MakeEngine(); }, registry, profile, shell, shell,
                 ProgramObject(), std::cout, std::cerr});
}

}  // namespace

int main(int argc, char** argv) {
    using tarnu::app::Action;
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const std::string name = tarnu::app::MakeAppObject(argc > 0 ? argv[0] : "", '/').EXEName;
    const Action action = tarnu::app::ParseCommandLine(args, tarnu::qt::QtOptionArity);
    switch (action) {
        case Action::Windows:
            return RunWindows(argc, argv);
        case Action::Help:
            std::cout << tarnu::app::UsageText(
                name, true, tarnu::app::ProgramFolderText(ChosenProgramFolder()));
            return tarnu::app::ExitSuccess;
        case Action::Version:
            std::cout << tarnu::app::VersionText() << '\n';
            return tarnu::app::ExitSuccess;
        case Action::UsageError:
            std::cerr << tarnu::app::UsageText(
                name, true, tarnu::app::ProgramFolderText(ChosenProgramFolder()));
            return tarnu::app::ExitUsage;
        default:
            return RunAction(action);
    }
}
