#include "settings/modul_ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/linux/posix/ini_profile.h"
#include "ports/error.h"
#include "tests/settings/child_process.h"
#include "tests/support/temp_dir.h"

namespace tarnu {
namespace {

using test::FileExists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kZielDefault = "C:\\Programme\\Tarnu";
const std::string kError5Text = "Ungültiger Prozeduraufruf oder ungültiges Argument";

class ModulIniTest : public ::testing::Test {
  protected:
    std::string IniPath() const { return dir.file("T.ini"); }

    TempDir dir;
    posix::IniProfile profile;
    ui::AppObject app{dir.path(), "T", "TARNU-System-Tool"};
    int appAsked = 0;
    Modul_ini ini{profile, [this] {
                      ++appAsked;
                      return app;
                  }};
};

TEST(ModulIniFileName, LiesBesideTheExecutableWithoutADoubledSeparator) {
    struct Case {
        std::string folder, exe, expected;
    };
    const std::vector<Case> cases = {
        {"/opt/tarnu", "T", "/opt/tarnu/T.ini"},
        {"/", "T", "/T.ini"},
        {"/opt/tarnu", "TARNU-System-Tool", "/opt/tarnu/TARNU-System-Tool.ini"},
    };
    posix::IniProfile profile;
    for (const Case& c : cases) {
        Modul_ini ini(profile, [&c] { return ui::AppObject{c.folder, c.exe, "Titel"}; });
        EXPECT_EQ(ini.GetIniFileName(), c.expected) << c.folder;
    }
}

TEST_F(ModulIniTest, WorksThePathOutOnceForTheWholeRun) {
    const std::string first = ini.GetIniFileName();
    EXPECT_EQ(first, IniPath());
    // Whatever the application reports later, the held path stays.
    app.Path = dir.file("elsewhere");
    EXPECT_EQ(ini.GetIniFileName(), first);
    ini.WriteIniValue("Pfade", "Quelle", "q", "");
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "", ""), "q");
    EXPECT_EQ(appAsked, 1);
    EXPECT_TRUE(FileExists(first));
}

TEST_F(ModulIniTest, FirstReadWithoutAFileNameWorksThePathOut) {
    WriteFile(IniPath(), "[Pfade]\r\nZiel=D:\\Ziel\r\n");
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Ziel", kZielDefault, ""), "D:\\Ziel");
    EXPECT_EQ(ini.GetIniFileName(), IniPath());
    EXPECT_EQ(appAsked, 1);
}

TEST_F(ModulIniTest, ExplicitFileIsUsedAndLeavesTheHeldPathAlone) {
    const std::string other = dir.file("other.ini");
    ini.WriteIniValue("Pfade", "Quelle", "explicit", other);
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "", other), "explicit");
    EXPECT_EQ(appAsked, 0);
    EXPECT_FALSE(FileExists(IniPath()));

    EXPECT_EQ(ini.GetIniFileName(), IniPath());
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "", ""), "");
    ini.WriteIniValue("Pfade", "Quelle", "held", "");
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "", other), "explicit");
    EXPECT_EQ(ini.GetIniFileName(), IniPath());
    EXPECT_EQ(appAsked, 1);
}

TEST_F(ModulIniTest, MissingFileSectionOrKeyReadsAsTheDefault) {
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Ziel", kZielDefault, ""), kZielDefault);
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "", ""), "");
    EXPECT_FALSE(FileExists(IniPath()));

    WriteFile(IniPath(), "[Andere]\r\nZiel=falsch\r\n");
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Ziel", kZielDefault, ""), kZielDefault);

    WriteFile(IniPath(), "[Pfade]\r\nQuelle=\\\\server\\tarnu\r\n");
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Ziel", kZielDefault, ""), kZielDefault);
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "", ""), "\\\\server\\tarnu");
}

TEST_F(ModulIniTest, KeyWithAnEmptyValueIsNotMissing) {
    WriteFile(IniPath(), "[Pfade]\r\nZiel=\r\nQuelle=\r\n");
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Ziel", kZielDefault, ""), "");
    ini.WriteIniValue("Pfade", "Ziel", "", "");
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Ziel", kZielDefault, ""), "");
}

TEST_F(ModulIniTest, WriteCreatesTheFileAndReplacesValues) {
    ini.WriteIniValue("Pfade", "Quelle", "\\\\server\\tarnu", "");
    ini.WriteIniValue("Pfade", "Ziel", "C:\\Programme\\Tarnu\\", "");
    EXPECT_EQ(ReadFile(IniPath()),
              "[Pfade]\r\nQuelle=\\\\server\\tarnu\r\nZiel=C:\\Programme\\Tarnu\\\r\n");

    ini.WriteIniValue("Pfade", "Quelle", "", "");
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "x", ""), "");
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Ziel", kZielDefault, ""), "C:\\Programme\\Tarnu\\");
}

// A value that used to come back cut to 254 characters, around the sizes where the buffer grows.
TEST_F(ModulIniTest, LongValuesReadBackWhole) {
    for (std::size_t length : {253u, 254u, 255u, 256u, 300u, 509u, 510u, 511u, 1021u, 5000u}) {
        std::string value;
        for (std::size_t i = 0; i < length; ++i) {
            value += static_cast<char>('a' + i % 26);
        }
        ini.WriteIniValue("Pfade", "Quelle", value, "");
        EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "", ""), value) << length;
        EXPECT_EQ(ini.ReadIniValue("Pfade", "Fehlt", value, ""), value) << length;
    }
}

TEST_F(ModulIniTest, WriteIntoAFolderThatMayNotBeWrittenRaisesError5) {
    test::MakeWritableForAll(dir.path());
    const std::string folder = dir.file("programm");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    test::MakeReadOnlyForAll(folder);
    app.Path = folder;

    const int status = test::RunInChild(
        [this] {
            try {
                ini.WriteIniValue("Pfade", "Quelle", "q", "");
            } catch (const Error& e) {
                return e.number() == 5 && e.description() == kError5Text ? 0 : 1;
            }
            return 2;
        },
        true);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(FileExists(folder + "/T.ini"));
}

TEST_F(ModulIniTest, WriteToAReadOnlyFileRaisesError5AndKeepsIt) {
    test::MakeWritableForAll(dir.path());
    const std::string before = "[Pfade]\r\nQuelle=alt\r\n";
    WriteFile(IniPath(), before);
    test::MakeReadOnlyForAll(IniPath());

    const int status = test::RunInChild(
        [this] {
            try {
                ini.WriteIniValue("Pfade", "Quelle", "neu", "");
            } catch (const Error& e) {
                return e.number() == 5 ? 0 : 1;
            }
            return 2;
        },
        true);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFile(IniPath()), before);
}

TEST_F(ModulIniTest, WriteToAFolderPathRaisesError5) {
    try {
        ini.WriteIniValue("Pfade", "Quelle", "q", dir.path());
        FAIL() << "no error raised";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 5);
        EXPECT_EQ(e.description(), kError5Text);
    }
}

// A line break would make the rest of the value a line of its own, possibly a section header
// that rewires other settings; such a value is refused rather than stored.
TEST_F(ModulIniTest, ValueWithALineBreakIsRefusedAndTheFileKept) {
    const std::string before = "[Pfade]\r\nQuelle=alt\r\nZiel=D:\\\r\n";
    WriteFile(IniPath(), before);
    for (const std::string value : {"a\nb", "a\r\n[Pfade]\r\nZiel=x", "a\rb"}) {
        EXPECT_THROW(ini.WriteIniValue("Pfade", "Quelle", value, ""), Error);
    }
    EXPECT_EQ(ReadFile(IniPath()), before);
}

}  // namespace
}  // namespace tarnu
