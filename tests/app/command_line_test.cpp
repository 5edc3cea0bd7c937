#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnu::app {
namespace {

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
             {{"--platform", "xcb"}, Action::Windows},
             {{"--compact"}, Action::Compact},
             {{"--update"}, Action::Update},
             {{"--disable-security-warning"}, Action::DisableSecurityWarning},
             {{"--help"}, Action::Help},
             {{"--version"}, Action::Version},
             {{"--compact", "--compact"}, Action::Compact},
             // Two actions at once, an unknown option, a stray word: nothing is done.
             {{"--compact", "--update"}, Action::UsageError},
             {{"--help", "--version"}, Action::UsageError},
             {{"--kompakt"}, Action::UsageError},
             {{"-compact"}, Action::UsageError},
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

TEST(CommandLine, UsageNamesTheProgramAndEveryAction) {
    const std::string usage = UsageText("tarnu-system-tool");
    EXPECT_EQ(usage.rfind("Aufruf: tarnu-system-tool ", 0), 0u) << usage;
    for (const char* option :
         {"--compact", "--update", "--disable-security-warning", "--help", "--version"}) {
        EXPECT_NE(usage.find(std::string("  ") + option), std::string::npos) << option;
    }
}

}  // namespace
}  // namespace tarnu::app
