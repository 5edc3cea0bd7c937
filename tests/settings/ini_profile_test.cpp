// How the Linux profile functions read and rewrite hand-written files: the cases both platforms
// share (profile_cases.cpp), and those of the Linux layer alone.

#include "platform/linux/posix/ini_profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/settings/profile_cases.h"
#include "tests/support/temp_dir.h"

namespace tarnu::posix {
namespace {

using namespace std::string_literals;
using test::ReadFile;
using test::WriteFile;

class IniProfileTest : public ::testing::Test {
  protected:
    std::string Get(const std::string& section, const std::string& key,
                    const std::string& def = "DEF", std::uint32_t size = 1024) {
        std::vector<char> buffer(size + 1, 'Z');
        const std::uint32_t n =
            profile.GetPrivateProfileStringA(section, key, def, buffer.data(), size, path);
        EXPECT_TRUE(size == 0 ? buffer[0] == 'Z' : n < size && buffer[n] == '\0');
        EXPECT_EQ(buffer[size], 'Z');  // nothing beyond the buffer's size
        return std::string(buffer.data(), n);
    }
    int Put(const std::string& section, const std::string& key, const std::string& value,
            const std::string& file) {
        return profile.WritePrivateProfileStringA(section, key, value, file);
    }

    test::TempDir dir;
    IniProfile profile;
    const std::string path = dir.file("t.ini");
};

// The files of Linux hold the table's UTF-8 as it is.
const test::ProfileFileText kUtf8Files{[](const std::string& s) { return s; },
                                       [](const std::string& s) { return s; }};

TEST(IniProfileSharedCases, ReadsHandWrittenFilesByTheWindowsRules) {
    IniProfile profile;
    test::ExpectHandWrittenFilesRead(profile, kUtf8Files);
}

TEST(IniProfileSharedCases, DefaultsAndBufferSizes) {
    IniProfile profile;
    test::ExpectDefaultsAndBufferSizes(profile, kUtf8Files);
}

TEST(IniProfileSharedCases, WritesChangeOnlyTheirLine) {
    IniProfile profile;
    test::ExpectWritesChangeOnlyTheirLine(profile, kUtf8Files);
}

TEST(IniProfileSharedCases, RefusedWritesChangeNothing) {
    IniProfile profile;
    test::ExpectRefusedWritesChangeNothing(profile, kUtf8Files);
}

}  // namespace
}  // namespace tarnu::posix
