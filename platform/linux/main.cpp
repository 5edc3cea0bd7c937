// The Linux program: Qt for windows and dialogs, our own layers for the rest.

#include <QApplication>

#include "app/application.h"
#include "app/system_tool.h"
#include "engine/engine.h"
#include "platform/linux/posix/file_registry.h"
#include "platform/linux/posix/posix_files.h"
#include "platform/linux/qt/qt_ui.h"

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    tarnu::qt::QtUiPlatform ui(tarnu::app::MakeAppObject(
        QCoreApplication::applicationFilePath().toStdString(), tarnu::PathSeparator()));
    tarnu::qt::QtMessageBoxes boxes;
    tarnu::posix::PosixFileServices files;
    auto registry = tarnu::posix::FileRegistry::FromEnvironment();
    tarnu::app::SystemTool tool(
        {ui, boxes, files, [] { return tarnu::engine::MakeEngine(); }, registry});
    return tool.Run();
}
