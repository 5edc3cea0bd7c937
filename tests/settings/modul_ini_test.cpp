#include "settings/modul_ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>

#include "platform/linux/posix/ini_profile.h"
#include "tests/support/child_process.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"

namespace tarnu {
namespace {

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

// The file beside the executable is worked out once; files named by the caller leave it alone.
TEST_F(ModulIniTest, TheFileLiesBesideTheExecutableAndLongValuesReadBackWhole) {
    const std::string other = dir.file("other.ini");
    ini.WriteIniValue("Pfade", "Quelle", "explicit", other);
    EXPECT_EQ(appAsked, 0);
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "default", ""), "default");
    app.Path = dir.file("elsewhere");  // later answers of the application do not count
    ini.WriteIniValue("Pfade", "Quelle", "held", "");
    EXPECT_EQ(test::ReadFile(iniPath), "[Pfade]\r\nQuelle=held\r\n");
    EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "", other), "explicit");
    EXPECT_EQ(appAsked, 1);
    Modul_ini atRoot(profile, [] { return ui::AppObject{"/", "T", ""}; });
    EXPECT_EQ(atRoot.GetIniFileName(), "/T.ini");

    // Values used to come back cut to 254 characters; the lengths lie around the buffer's sizes.
    for (std::size_t length : {254u, 255u, 511u, 5000u}) {
        std::string value;
        for (std::size_t i = 0; i < length; ++i) {
            value += static_cast<char>('a' + i % 26);
        }
        ini.WriteIniValue("Pfade", "Quelle", value, "");
        EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "", ""), value) << length;
        EXPECT_EQ(ini.ReadIniValue("Pfade", "Fehlt", value, ""), value) << length;
    }
}

TEST_F(ModulIniTest, RefusedWriteRaisesError5AndChangesNothing) {
    auto error5 = [this](const std::string& file) {
        return test::ErrorTextOf([&] { ini.WriteIniValue("Pfade", "Quelle", "neu", file); }) ==
               "5: Ungültiger Prozeduraufruf oder ungültiges Argument";
    };
    EXPECT_TRUE(error5(dir.path()));  // a folder where the file should be
    // A folder and a file that the (unprivileged) user may not write.
    const std::string readOnly = dir.file("ro.ini");
    test::WriteFile(readOnly, "[Pfade]\r\nQuelle=alt\r\n");
    app.Path = dir.file("programm");
    ASSERT_EQ(::mkdir(app.Path.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);  // the file could be replaced, not written
    const pid_t child =
        test::StartChild([&] { return (error5("") ? 0 : 1) | (error5(readOnly) ? 0 : 2); }, true);
    EXPECT_EQ(test::WaitChild(child), 0);
    EXPECT_FALSE(test::FileExists(app.Path + "/T.ini"));
    EXPECT_EQ(test::ReadFile(readOnly), "[Pfade]\r\nQuelle=alt\r\n");
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
