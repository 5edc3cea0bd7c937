#include "settings/modul_ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "platform/linux/posix/ini_profile.h"
#include "ports/error.h"
#include "tests/support/child_process.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"

namespace tarnu {
namespace {

using test::FileExists;
using test::ReadFile;
using test::WriteFile;

const std::string kZiel = "C:\\Programme\\Tarnu";

class ModulIniTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    const std::string iniPath = dir.file("T.ini");
    posix::IniProfile profile;
    ui::AppObject app{dir.path(), "T", "TARNU-System-Tool"};
    int appAsked = 0;
    Modul_ini ini{profile, [this] {
                      ++appAsked;
                      return app;
                  }};
};

TEST(ModulIniFileName, LiesBesideTheExecutableWithoutADoubledSeparator) {
    posix::IniProfile profile;
    for (const auto& [folder, expected] :
         {std::pair<std::string, std::string>{"/opt/x", "/opt/x/T.ini"}, {"/", "/T.ini"}}) {
        Modul_ini ini(profile, [folder = folder] { return ui::AppObject{folder, "T", ""}; });
        EXPECT_EQ(ini.GetIniFileName(), expected);
    }
}

TEST_F(ModulIniTest, PathIsWorkedOutOnceAndExplicitFilesLeaveItAlone) {
    const std::string other = dir.file("other.ini");
    ini.WriteIniValue("Pfade", "Quelle", "explicit", other);
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "", other), "explicit");
    EXPECT_EQ(appAsked, 0);
    EXPECT_FALSE(FileExists(iniPath));

    EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "", ""), "");
    app.Path = dir.file("elsewhere");  // later answers of the application do not count
    ini.WriteIniValue("Pfade", "Quelle", "held", "");
    EXPECT_EQ(ini.GetIniFileName(), iniPath);
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "", ""), "held");
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "", other), "explicit");
    EXPECT_EQ(appAsked, 1);
}

TEST_F(ModulIniTest, MissingFileSectionOrKeyReadsAsTheDefault) {
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Ziel", kZiel, ""), kZiel);
    WriteFile(iniPath, "[Pfade]\r\nQuelle=\r\n");
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Ziel", kZiel, ""), kZiel);
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "x", ""), "");  // present, though empty
}

// Values used to come back cut to 254 characters; the lengths lie around the buffer's sizes.
TEST_F(ModulIniTest, WriteCreatesTheFileAndLongValuesReadBackWhole) {
    ini.WriteIniValue("Pfade", "Quelle", "\\\\server\\tarnu", "");
    ini.WriteIniValue("Pfade", "Ziel", kZiel + "\\", "");
    EXPECT_EQ(ReadFile(iniPath), "[Pfade]\r\nQuelle=\\\\server\\tarnu\r\nZiel=" + kZiel + "\\\r\n");
    for (std::size_t length : {254u, 255u, 256u, 300u, 510u, 511u, 5000u}) {
        std::string value;
        for (std::size_t i = 0; i < length; ++i) {
            value += static_cast<char>('a' + i % 26);
        }
        ini.WriteIniValue("Pfade", "Quelle", value, "");
        EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "", ""), value) << length;
        EXPECT_EQ(ini.ReadIniValue("Pfade", "Fehlt", value, ""), value) << length;
    }
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Ziel", "", ""), kZiel + "\\");
}

TEST_F(ModulIniTest, RefusedWriteRaisesError5) {
    auto error5 = [this](const std::string& file) {
        return test::ErrorTextOf([&] { ini.WriteIniValue("Pfade", "Quelle", "neu", file); }) ==
               "5: Ungültiger Prozeduraufruf oder ungültiges Argument";
    };
    EXPECT_TRUE(error5(dir.path()));  // a folder where the file should be
    // A folder and a file that the (unprivileged) user may not write.
    const std::string folder = dir.file("programm");
    const std::string readOnly = dir.file("ro.ini");
    WriteFile(readOnly, "[Pfade]\r\nQuelle=alt\r\n");
    ASSERT_EQ(::mkdir(folder.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    app.Path = folder;
    const pid_t child =
        test::StartChild([&] { return (error5("") ? 0 : 1) | (error5(readOnly) ? 0 : 2); }, true);
    EXPECT_EQ(test::WaitChild(child), 0);
    EXPECT_FALSE(FileExists(folder + "/T.ini"));
    EXPECT_EQ(ReadFile(readOnly), "[Pfade]\r\nQuelle=alt\r\n");
}

// A profile function that always fills the buffer to the brim, as one would for a value without
// end: the module must stop asking for more room somewhere.
class EndlessValue final : public ProfileApi {
  public:
    std::uint32_t GetPrivateProfileStringA(const std::string&, const std::string&,
                                           const std::string&, char* buffer, std::uint32_t size,
                                           const std::string&) override {
        largest = std::max(largest, size);
        if (size > (8u << 20)) {
            return 0;  // far beyond any sensible bound; stop the module before it eats memory
        }
        std::fill(buffer, buffer + size - 1, 'x');
        buffer[size - 1] = '\0';
        return size - 1;
    }
    int WritePrivateProfileStringA(const std::string&, const std::string&, const std::string&,
                                   const std::string&) override {
        return 0;
    }
    std::uint32_t largest = 0;
};

TEST(ModulIniRead, GrowsItsBufferToOneMebibyteAtMost) {
    EndlessValue profile;
    Modul_ini ini(profile, [] { return ui::AppObject{"/opt/x", "T", ""}; });
    const std::string value = ini.ReadIniValue("Pfade", "Quelle", "", "");
    EXPECT_LE(profile.largest, 1u << 20);
    EXPECT_EQ(value.size(), profile.largest - 1);
    EXPECT_EQ(value.find_first_not_of('x'), std::string::npos);
}

}  // namespace
}  // namespace tarnu
