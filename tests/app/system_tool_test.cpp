#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>

#include "app/system_tool.h"
#include "engine/engine.h"
#include "platform/linux/posix/file_registry.h"
#include "platform/linux/posix/ini_profile.h"
#include "platform/linux/posix/posix_files.h"
#include "platform/linux/posix/regedit_export.h"
#include "tests/dbmaint/dbmaint_support.h"
#include "tests/support/qt/qt_test_util.h"
#include "tests/support/recording_message_boxes.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {
namespace {

class NoCopy : public ShellApi {
  public:
    int SHFileOperationA(SHFILEOPSTRUCTA&) override { return 0x402; }
};

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
    std::string Export(reg::HKEY hive) {
        posix::HiveKey root;
        EXPECT_EQ(registry.LoadHive(hive, root), 0);
        posix::UnfitName unfit;
        return posix::ExportRegedit4(root, "", unfit).value_or("");
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
    NoCopy shell;
    app::SystemTool tool{
        {ui, boxes, files, [] { return engine::MakeEngine(); }, registry, profile, dialogs, shell}};
};

TEST_F(SystemTool, FirstButtonCompactsTheProgramFolder) {
    struct stat before {};
    ::stat(dir.file("KDL.mdb").c_str(), &before);
    Click("Command1");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Die Programmdateien wurden erfolgreich komprimiert!");
    struct stat after {};
    ::stat(dir.file("KDL.mdb").c_str(), &after);
    EXPECT_LT(after.st_size, before.st_size);
}

TEST_F(SystemTool, ThirdButtonWritesTheThreeValuesSilently) {
    Click("Sich_aus");
    Click("Sich_aus");
    EXPECT_TRUE(boxes.boxes.empty());
    const std::string user = Export(reg::HKeyCurrentUser);
    const std::string machine = Export(reg::HKeyLocalMachine);
    EXPECT_NE(user.find("\"Security\"=dword:00000001"), std::string::npos) << user;
    EXPECT_NE(user.find("\"level\"=dword:00000001"), std::string::npos) << user;
    EXPECT_NE(machine.find("\"SandboxMode\"=dword:00000002"), std::string::npos) << machine;
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_F(SystemTool, SecondButtonOpensTheUpdateWindowWithThePlatformsDefaultTarget) {
    Click("pb_Workstationupdate");
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(tool.App().LoadedWindows(), 2);
    ASSERT_NE(VisibleWindow("Workstationupdate"), nullptr);
    EXPECT_EQ(tool.UpdateWindow().Text("Ziel"), "/opt/tarnu");
}

}  // namespace
}  // namespace tarnu::test
