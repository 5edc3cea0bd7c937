#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/application.h"
#include "app/command_line.h"

namespace tarnu::app {
namespace {

// The program folder is the one an administrator names, else an installed program's, else the
// executable's own; the settings file keeps the program's name either way.
TEST(AppObject, ProgramFolderAndNameOfTheExecutable) {
    const Installation installed{{"/usr/local/bin", "/usr/bin/"}, "/opt/tarnu/"};
    constexpr auto Named = FolderSource::Named;
    constexpr auto Installed = FolderSource::Installed;
    constexpr auto Own = FolderSource::Executable;
    struct Case {
        const char* executable;
        char separator;
        const char* named;
        const char* path;
        const char* name;
        FolderSource source;
    };
    for (const Case& c : std::vector<Case>{
             {"/opt/tarnu/tarnu-system-tool", '/', "", "/opt/tarnu", "tarnu-system-tool", Own},
             // Only the last extension goes, and dots in folder names are not extensions.
             {"/srv/v1.2/Tarnu.System.exe", '/', "", "/srv/v1.2", "Tarnu.System", Own},
             {"/srv/v1.2/tool", '/', "", "/srv/v1.2", "tool", Own},
             // A root folder keeps its separator.
             {"/T.exe", '/', "", "/", "T", Own},
             {"D:\\T.exe", '\\', "", "D:\\", "T", Own},
             {"D:\\X\\T.exe", '\\', "", "D:\\X", "T", Own},
             {"/usr/bin/tarnu-system-tool", '/', "/srv/t//", "/srv/t", "tarnu-system-tool", Named},
             {"/usr/bin/tarnu-system-tool", '/', "/", "/", "tarnu-system-tool", Named},
             {"C:\\Programme\\T.exe", '\\', "D:\\", "D:\\", "T", Named},
             {"C:\\Programme\\T.exe", '\\', "D:\\Tarnu\\", "D:\\Tarnu", "T", Named},
             // Installed: in a bin folder of the installation, not below or beside one.
             {"/usr/bin/tarnu-system-tool", '/', "", "/opt/tarnu", "tarnu-system-tool", Installed},
             {"/usr/local/bin/tarnu-system-tool", '/', "", "/opt/tarnu", "tarnu-system-tool",
              Installed},
             {"/usr/bin/x/tarnu-system-tool", '/', "", "/usr/bin/x", "tarnu-system-tool", Own},
             {"/usr/bi/tarnu-system-tool", '/', "", "/usr/bi", "tarnu-system-tool", Own},
         }) {
        const auto f = ChooseProgramFolder(c.executable, c.named, installed, c.separator);
        EXPECT_EQ(f.app.Path, c.path) << c.executable << " " << c.named;
        EXPECT_EQ(f.app.EXEName, c.name) << c.executable;
        EXPECT_EQ(f.source, c.source) << c.executable << " " << c.named;
    }
    EXPECT_EQ(ChooseProgramFolder("/usr/bin/t", "", {{"/usr/bin"}, ""}, '/').source,
              FolderSource::Executable)
        << "a platform without installations";
}

// --help tells which program folder the run uses and why, the folder shown safely.
TEST(AppObject, TheUsageNamesTheProgramFolderAndWhy) {
    struct Case {
        FolderSource source;
        const char* why;
    };
    for (const Case& c :
         std::vector<Case>{{FolderSource::Named, "aus $TARNU_PROGRAM_FOLDER"},
                           {FolderSource::Installed, "installierten Programms"},
                           {FolderSource::Executable, "der Ordner des Programms"}}) {
        ProgramFolder folder{MakeAppObject("/srv/a\nb/tool", '/'), c.source};
        const std::string usage = UsageText("tool", true, ProgramFolderText(folder));
        EXPECT_NE(usage.find("\nProgrammordner: /srv/a\\x0Ab\n"), std::string::npos) << usage;
        EXPECT_NE(usage.find(c.why), std::string::npos) << usage;
        EXPECT_EQ(usage.find("sonst"), std::string::npos) << "no general rule: " << usage;
    }
    // The console twin does not promise a main window.
    EXPECT_NE(UsageText("tarnu-system-tool").find("Hauptfenster"), std::string::npos);
    EXPECT_EQ(UsageText("tarnu-system-tool-cli", false).find("Hauptfenster"), std::string::npos);
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
        EXPECT_EQ(ParseCommandLine(c.args, QtLike), c.expected) << testing::PrintToString(c.args);
    }
    EXPECT_EQ(ParseCommandLine({"-reverse"}, nullptr), Action::UsageError)
        << "a platform without options of its own takes none";
}

}  // namespace
}  // namespace tarnu::app
