#include <gtest/gtest.h>

#include "app/application.h"

namespace tarnu::app {
namespace {

TEST(AppObject, FolderAndNameOfTheExecutable) {
    auto a = MakeAppObject("/opt/tarnu/tarnu-system-tool", '/');
    EXPECT_EQ(a.Path, "/opt/tarnu");
    EXPECT_EQ(a.EXEName, "tarnu-system-tool");
    EXPECT_EQ(a.Title, "TARNU-System-Tool");

    // Only the last extension goes, and dots in folder names are not extensions.
    a = MakeAppObject("/srv/v1.2/Tarnu.System.exe", '/');
    EXPECT_EQ(a.Path, "/srv/v1.2");
    EXPECT_EQ(a.EXEName, "Tarnu.System");
    EXPECT_EQ(MakeAppObject("/srv/v1.2/tool", '/').EXEName, "tool");
}

TEST(AppObject, RootFolderKeepsItsSeparator) {
    EXPECT_EQ(MakeAppObject("/T.exe", '/').Path, "/");
    EXPECT_EQ(MakeAppObject("D:\\T.exe", '\\').Path, "D:\\");
    EXPECT_EQ(MakeAppObject("D:\\X\\T.exe", '\\').Path, "D:\\X");
    EXPECT_EQ(MakeAppObject("D:\\X\\T.exe", '\\').EXEName, "T");
}

TEST(AppObject, AnAdministratorNamesTheProgramFolder) {
    const auto installed = MakeAppObject("/usr/bin/tarnu-system-tool", '/');
    EXPECT_EQ(WithProgramFolder(installed, "", '/').Path, "/usr/bin");
    const auto moved = WithProgramFolder(installed, "/opt/tarnu//", '/');
    EXPECT_EQ(moved.Path, "/opt/tarnu");
    EXPECT_EQ(moved.EXEName, "tarnu-system-tool") << "the settings file keeps the program's name";
    EXPECT_EQ(WithProgramFolder(installed, "/", '/').Path, "/");
    EXPECT_EQ(WithProgramFolder(installed, "D:\\", '\\').Path, "D:\\");
    EXPECT_EQ(WithProgramFolder(installed, "D:\\Tarnu\\", '\\').Path, "D:\\Tarnu");
}

TEST(UncaughtError, ShowsNumberAndDescription) {
    EXPECT_EQ(UncaughtErrorText(Error(5)),
              "Laufzeitfehler '5':\n\nUngültiger Prozeduraufruf oder ungültiges Argument");
    EXPECT_EQ(UncaughtErrorText(Error(3024, "Datei nicht gefunden.")),
              "Laufzeitfehler '3024':\n\nDatei nicht gefunden.");
}

}  // namespace
}  // namespace tarnu::app
