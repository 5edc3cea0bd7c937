#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>

#include "app/system_tool.h"
#include "platform/linux/posix/file_registry.h"
#include "platform/linux/posix/ini_profile.h"
#include "platform/linux/qt/qt_shell.h"
#include "registry/modul_reg.h"
#include "tests/dbmaint/dbmaint_support.h"
#include "tests/support/child_process.h"
#include "tests/support/qt/qt_test_util.h"
#include "tests/support/recording_message_boxes.h"
#include "tests/support/scripted_dialogs.h"

namespace tarnu::test {
namespace {

// The whole program wired as it starts, on real files, engine, registry and Qt widgets.
class SystemTool : public ::testing::Test {
  protected:
    SystemTool() {
        CopyDemoFolder(dir.path());
        tool.App().RunHandler([this] { tool.Form1().Show(); });
    }
    ~SystemTool() override { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    void Click(const char* button) {
        VisibleWindow("Form1")->findChild<QAbstractButton*>(button)->click();
    }

    TempDir dir;
    TempDir config;
    ScopedCurrentDir cd{dir.path()};
    RecordingQtUi ui{ui::AppObject{dir.path(), "tarnu-system-tool", "TARNU-System-Tool"}};
    RecordingMessageBoxes boxes;
    posix::PosixFileServices files;
    posix::FileRegistry registry{config.file("user"), config.file("machine")};
    posix::IniProfile profile;
    ScriptedDialogs dialogs;
    qt::QtShell shell{boxes};
    app::SystemTool tool{{ui, boxes, files, [] { return engine::MakeEngine(); }, registry, profile,
                          dialogs, shell, shell}};
};

// Each button reaches what it stands for: the compaction, the security switch, the update
// window, whose copy goes through the Qt shell.
TEST_F(SystemTool, EachButtonDoesItsWork) {
    const off_t before = StatOf(dir.file("KDL.mdb")).st_size;
    Click("Command1");
    EXPECT_EQ(boxes.boxes, (Shown{{"Die Programmdateien wurden erfolgreich komprimiert!",
                                   ui::vbInformation, "Tarnu"}}));
    EXPECT_LT(StatOf(dir.file("KDL.mdb")).st_size, before);

    // Which values, is the switch's own test; here only that the button reaches it.
    Click("Sich_aus");
    EXPECT_EQ(Modul_reg::RegKeyExists(registry, reg::HKeyCurrentUser,
                                      "Software\\Microsoft\\Office\\11.0\\Access\\Security"),
              0);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);

    Click("pb_Workstationupdate");
    EXPECT_EQ(tool.App().LoadedWindows(), 2);
    QWidget* update = VisibleWindow("Workstationupdate");
    ASSERT_NE(update, nullptr);
    EXPECT_EQ(tool.UpdateWindow().Text("Ziel"), "/opt/tarnu");
    // The files of the program folder, by pattern, into a target folder that does not exist yet.
    tool.UpdateWindow().SetText("Quelle", " " + dir.path() + "/*.mdb ");
    tool.UpdateWindow().SetText("Ziel", config.path() + "/neu/");
    update->findChild<QAbstractButton*>("kopieren")->click();
    EXPECT_EQ(boxes.boxes.size(), 2u) << "the switch and the window say nothing";
    EXPECT_EQ(boxes.boxes.back().text, "Dateien wurden erfolgreich kopiert!");
    EXPECT_EQ(ReadFile(config.path() + "/neu/KDL.mdb"), ReadFile(dir.file("KDL.mdb")));
    EXPECT_FALSE(FileExists(config.path() + "/neu/kdlcode.mde")) << "only what the pattern names";
    update->close();
    EXPECT_NE(ReadFile(dir.file("tarnu-system-tool.ini")).find("Ziel=" + config.path() + "/neu/"),
              std::string::npos);
}

}  // namespace
}  // namespace tarnu::test
