#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/application.h"
#include "app/command_line.h"

namespace tarnu::app {
namespace {

// The program folder is the executable's, or the one an administrator names; the settings
// file keeps the program's name either way.
TEST(AppObject, ProgramFolderAndNameOfTheExecutable) {
    struct Case {
        const char* executable;
        char separator;
        const char* named;
        const char* path;
        const char* name;
    };
    for (const Case& c : std::vector<Case>{
             {"/opt/tarnu/tarnu-system-tool", '/', "", "/opt/tarnu", "tarnu-system-tool"},
             // Only the last extension goes, and dots in folder names are not extensions.
             {"/srv/v1.2/Tarnu.System.exe", '/', "", "/srv/v1.2", "Tarnu.System"},
             {"/srv/v1.2/tool", '/', "", "/srv/v1.2", "tool"},
             // A root folder keeps its separator.
             {"/T.exe", '/', "", "/", "T"},
             {"D:\\T.exe", '\\', "", "D:\\", "T"},
             {"D:\\X\\T.exe", '\\', "", "D:\\X", "T"},
             {"/usr/bin/tarnu-system-tool", '/', "/opt/tarnu//", "/opt/tarnu", "tarnu-system-tool"},
             {"/usr/bin/tarnu-system-tool", '/', "/", "/", "tarnu-system-tool"},
             {"C:\\Programme\\T.exe", '\\', "D:\\", "D:\\", "T"},
             {"C:\\Programme\\T.exe", '\\', "D:\\Tarnu\\", "D:\\Tarnu", "T"},
         }) {
        const auto a =
            WithProgramFolder(MakeAppObject(c.executable, c.separator), c.named, c.separator);
        EXPECT_EQ(a.Path, c.path) << c.executable << " " << c.named;
        EXPECT_EQ(a.EXEName, c.name) << c.executable;
    }
}

// A window system with one option that takes a value and one that takes none.
int QtLike(const std::string& argument) {
    if (argument == "-platform" || argument == "--platform") {
        return 1;
    }
    return argument == "-reverse" ? 0 : -1;
}

TEST(CommandLine, ActionsPlatformOptionsAndUsageErrors) {
    struct Case {
        std::vector<std::string> args;
        Action expected;
    };
    for (const Case& c : std::vector<Case>{
             {{}, Action::Windows},
             {{"-platform", "offscreen", "-reverse"}, Action::Windows},
             {{"--compact"}, Action::Compact},
             {{"--update"}, Action::Update},
             {{"--disable-security-warning"}, Action::DisableSecurityWarning},
             {{"--help"}, Action::Help},
             {{"--version"}, Action::Version},
             {{"--compact", "--compact"}, Action::Compact},
             // Two actions at once, an unknown option, a stray word: nothing is done.
             {{"--compact", "--update"}, Action::UsageError},
             {{"--kompakt"}, Action::UsageError},
             {{"KDL.mdb"}, Action::UsageError},
             {{"--compact", "KDL.mdb"}, Action::UsageError},
             // A window system's option's value must be there; and an unattended run has no
             // windows to apply it to.
             {{"-platform"}, Action::UsageError},
             {{"--compact", "-platform", "offscreen"}, Action::UsageError},
         }) {
        std::string shown;
        for (const std::string& a : c.args) {
            shown += a + " ";
        }
        EXPECT_EQ(ParseCommandLine(c.args, QtLike), c.expected) << shown;
    }
    EXPECT_EQ(ParseCommandLine({"-reverse"}, nullptr), Action::UsageError)
        << "a platform without options of its own takes none";
}

TEST(CommandLine, AProgramWithoutWindowsDoesNotPromiseOne) {
    EXPECT_NE(UsageText("tarnu-system-tool").find("Hauptfenster"), std::string::npos);
    const std::string twin = UsageText("tarnu-system-tool-cli", false);
    EXPECT_EQ(twin.find("Hauptfenster"), std::string::npos) << twin;
    EXPECT_NE(twin.find("--compact"), std::string::npos);
}

}  // namespace
}  // namespace tarnu::app
