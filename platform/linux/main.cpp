// The Linux program: Qt for windows and dialogs, our own layers for the rest.

#include <QApplication>

#include "app/application.h"
#include "app/system_tool.h"
#include "engine/engine.h"
#include "platform/linux/posix/file_registry.h"
#include "platform/linux/posix/ini_profile.h"
#include "platform/linux/posix/posix_files.h"
#include "platform/linux/qt/qt_common_dialogs.h"
#include "platform/linux/qt/qt_shell.h"
#include "platform/linux/qt/qt_ui.h"

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    tarnu::qt::QtUiPlatform ui(tarnu::app::MakeAppObject(
        QCoreApplication::applicationFilePath().toStdString(), tarnu::PathSeparator()));
    tarnu::qt::QtMessageBoxes boxes;
    tarnu::posix::PosixFileServices files;
    auto registry = tarnu::posix::FileRegistry::FromEnvironment();
    tarnu::posix::IniProfile profile;
    tarnu::qt::QtCommonDialogs dialogs;
    tarnu::qt::QtShell shell(boxes);
    tarnu::app::SystemTool tool({ui, boxes, files, [] { return tarnu::engine::MakeEngine(); },
                                 registry, profile, dialogs, shell});
    return tool.Run();
}
