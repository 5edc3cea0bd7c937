// The settings module and the shared profile cases on Wine's profile functions.

#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32/text.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_profile.h"
#include "ports/error.h"
#include "settings/modul_ini.h"
#include "tests/settings/profile_cases.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"

#include <windows.h>

namespace tarnu::test {
namespace {

bool HasByteOrderMark(const std::string& s) {
    return s.rfind("\xEF\xBB\xBF", 0) == 0;
}

// Windows keeps an INI file in its code page; one that starts with a UTF-8 byte order mark is
// read as UTF-8 and stays so.
const ProfileFileText kCodePageFiles{
    [](const std::string& s) { return HasByteOrderMark(s) ? s : win32::AnsiFromUtf8(s); },
    [](const std::string& s) { return HasByteOrderMark(s) ? s : win32::Utf8FromAnsi(s); }, true};

TEST(WineProfileSharedCases, AllGroups) {
    win32::Win32Profile profile;
    ExpectHandWrittenFilesRead(profile, kCodePageFiles);
    ExpectDefaultsAndBufferSizes(profile, kCodePageFiles);
    ExpectWritesChangeOnlyTheirLine(profile, kCodePageFiles);
    ExpectRefusedWritesChangeNothing(profile, kCodePageFiles);
}

// Values the classic 255 places would cut come back whole, letters of the code page as single
// bytes in the file; a letter the code page lacks is refused (error 5) before the file is made.
TEST(WineSettings, LiveBesideTheProgramAndReadBackWholeAndInTheCodePage) {
    TempDir dir;
    win32::Win32Profile profile;
    Modul_ini ini(profile, [&] { return ui::AppObject{dir.path(), "T", ""}; });
    EXPECT_EQ(ErrorOf([&] { ini.WriteIniValue("Pfade", "Quelle", "C:\\\xCE\xA9", ""); }), 5);
    EXPECT_FALSE(FileExists(dir.file("T.ini")));
    for (const char* filler : {"b", "ä"}) {
        for (std::size_t length : {255u, 256u, 2000u}) {
            std::string value = "D:\\Größe\\";
            while (value.size() < length) {
                value += filler;
            }
            ini.WriteIniValue("Pfade", "Quelle", value, "");
            EXPECT_EQ(ini.ReadIniValue("Pfade", "Quelle", "", ""), value) << length << filler;
        }
    }
    EXPECT_NE(ReadFile(dir.file("T.ini"))
                  .find("D:\\Gr\xF6\xDF"
                        "e\\"),
              std::string::npos);

    // The executable's own settings file, from the real application object.
    const ui::AppObject self = win32::AppObjectOfThisProgram();
    Modul_ini own(profile, [&] { return self; });
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, sizeof path);
    EXPECT_EQ(own.GetIniFileName(), std::string(path, std::strlen(path) - 4) + ".ini");
}

}  // namespace
}  // namespace tarnu::test
