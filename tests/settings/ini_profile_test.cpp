// How the Linux profile functions read and rewrite hand-written files. Where the Windows rules
// are not obvious (quotes, duplicates, odd headers, lone CR, defaults), the expected results
// are what Wine 8's kernel32 gave for the same file.

#include "platform/linux/posix/ini_profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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

TEST_F(IniProfileTest, ReadsAHandWrittenFileByTheWindowsRules) {
    WriteFile(path,
              "\xEF\xBB\xBFtop=1\r\n"
              "  [ Pfade ]  comment after the bracket\r\n"
              "  quelle  =  \"  a b  \"  \r\n"
              "QUELLE=second\n"
              "noequals\r"
              ";c=3\n"
              "single='x'\n"
              "nested=\"\"x\"\"\n"
              "open=\"x\n"
              "mixed=\"x'\n"
              "a = 1 = 2\n"
              "\t b \t=\v\t2\f\x1a\n"
              "nul=x\0y\n"
              "[\xC3\x84rger]\r\n\xC3\xB6l=1\r\n"
              "[x]y]\nk=v\n[unclosed\nk2=v2\n"
              "[pfade]\nlater=4\n"
              "[]\nnameless=5"s);
    struct Case {
        std::string section, key, expected;
    };
    const std::vector<Case> cases = {
        {"PFADE", "Quelle", "  a b  "},  // case, blanks and one pair of quotes
        {" pfade ", "\tQUELLE ", "  a b  "},
        {"Pfad", "Quelle", "DEF"},  // names are whole, not prefixes
        {"Pfade", "Quell", "DEF"},
        {"Pfade", "Quellen", "DEF"},
        {"Pfade", "noequals", "DEF"},  // a line without "=" is no key ...
        {"Pfade", ";c", "3"},          // ... a comment line with one is
        {"Pfade", "single", "x"},
        {"Pfade", "nested", "\"x\""},
        {"Pfade", "open", "\"x"},
        {"Pfade", "mixed", "\"x'"},
        {"Pfade", "a", "1 = 2"},
        {"Pfade", "b", "2"},
        {"Pfade", "nul", "x"},
        {"\xC3\xA4RGER", "\xC3\x96L", "1"},  // ärger, Öl
        {"x]y", "k", "v"},                   // the name runs to the last bracket
        {"x]y", "k2", "v2"},                 // "[unclosed" is no header
        {"unclosed", "k2", "DEF"},
        {"Pfade", "later", "DEF"},  // a second section of the same name is not seen
        {"", "top", "1"},           // lines before the first header
        {"Pfade", "top", "DEF"},
        {"", "nameless", "DEF"},
        {"Pfade\0junk"s, "nul\0junk"s, "x"},  // arguments end at a NUL
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Get(c.section, c.key), c.expected) << c.section << "/" << c.key;
    }
}

TEST_F(IniProfileTest, DefaultAndBufferSize) {
    EXPECT_EQ(Get("S", "k", "  lead  \t"), "  lead");  // only trailing blanks go
    EXPECT_EQ(Get("S", "k", "\"q\" "), "q");
    EXPECT_EQ(Get("S", "k", "DEFAULT", 3), "DE");
    WriteFile(path, "[S]\nk=abcdef\n");
    EXPECT_EQ(Get("S", "k", "", 4), "abc");
    EXPECT_EQ(Get("S", "k", "", 7), "abcdef");
    EXPECT_EQ(Get("S", "k", "", 1), "");
    EXPECT_EQ(Get("S", "k", "", 0), "");
    // A folder in the place of the file reads as a missing file.
    char buffer[4];
    EXPECT_EQ(profile.GetPrivateProfileStringA("S", "k", "d", buffer, 4, dir.path()), 1u);
    EXPECT_EQ(std::string(buffer), "d");
}

TEST_F(IniProfileTest, RewritesOnlyWhatTheWriteChanges) {
    struct Case {
        std::string before, section, key, value, after;
    };
    const std::vector<Case> cases = {
        {"; E\n\n[A]\n  Key1 = old ; x\nkey1=2\n\n[B]\nKey1=b\n", "a", "KEY1", "NEW",
         "; E\n\n[A]\n  Key1=NEW\nkey1=2\n\n[B]\nKey1=b\n"},
        {"[A]\na=1\n; note\n\n[B]\n", "A", "new", "v", "[A]\na=1\n; note\nnew=v\n\n[B]\n"},
        {"[A]\n\n[B]\n", "A", "k", "v", "[A]\nk=v\n\n[B]\n"},
        {"[A]\r\na=1\r\n\r\n", " Neu ", " k ", " v ", "[A]\r\na=1\r\n\r\n[Neu]\r\nk= v \r\n"},
        {"[A]\r\na=1", "A", "b", "2", "[A]\r\na=1\r\nb=2\r\n"},
        {"[A]\na=1", "B", "b", "2", "[A]\na=1\n[B]\nb=2\n"},
        {"[A]\na=1", "A", "a", "2", "[A]\na=2"},
        {"", "Pfade", "Quelle", "q", "[Pfade]\r\nQuelle=q\r\n"},
        {"[A]\na=1\r\n", "A", "b", "2", "[A]\na=1\r\nb=2\r\n"},
        // A lone CR in front of the empty LF line would swallow that line.
        {"[A]\ra=1\r\n\n[B]\r", "A", "b", "2", "[A]\ra=1\r\nb=2\r\n\n[B]\r"},
        {"[A]\ra=1\r", "B", "b", "2", "[A]\ra=1\r[B]\rb=2\r"},
        {"\xEF\xBB\xBF[S]\r\nk=1\r\n", "", "top", "t", "\xEF\xBB\xBFtop=t\r\n[S]\r\nk=1\r\n"},
        {"[S]\nk=1\nk=2\n[s]\nk=3\n", "S", "K", "x", "[S]\nk=x\nk=2\n[s]\nk=3\n"},
        {"[S]\nk=1\n[s]\nj=4\n", "s", "j", "y", "[S]\nk=1\nj=y\n[s]\nj=4\n"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(path);
        if (!c.before.empty()) {
            WriteFile(path, c.before);
        }
        ASSERT_EQ(Put(c.section, c.key, c.value, path), 1) << c.before;
        EXPECT_EQ(ReadFile(path), c.after) << c.before;
        EXPECT_EQ(Get(c.section, c.key), c.value == " v " ? "v" : c.value) << c.before;
    }
}

TEST_F(IniProfileTest, RefusedWritesChangeNothing) {
    const std::string before = "[S]\r\nk=1\r\n";
    WriteFile(path, before);
    EXPECT_EQ(Put("S", "k", "a\nb", path), 0);
    EXPECT_EQ(Put("S", "k", "x\r[T]\rk=2", path), 0);
    EXPECT_EQ(Put("S\n[T]", "k", "v", path), 0);
    EXPECT_EQ(Put("S", "k\r\nx", "v", path), 0);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(Put("S", "k", "v", dir.path()), 0);
    EXPECT_EQ(Put("S", "k", "v", dir.file("no/t.ini")), 0);
    EXPECT_EQ(Put("S", "k", "v", ""), 0);
    EXPECT_FALSE(test::FileExists(dir.file("no")));
}

}  // namespace
}  // namespace tarnu::posix
