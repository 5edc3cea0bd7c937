#include "tests/settings/profile_cases.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tarnu::test {

namespace {

using namespace std::string_literals;

// One profile and one file; each group of cases gets a folder of its own.
class Profile {
  public:
    Profile(ProfileApi& profile, const ProfileFileText& text) : profile_(profile), text_(text) {}

    std::string Get(const std::string& section, const std::string& key,
                    const std::string& def = "DEF", std::uint32_t size = 1024) {
        std::vector<char> buffer(size + 1, 'Z');
        const std::uint32_t n =
            profile_.GetPrivateProfileStringA(section, key, def, buffer.data(), size, path);
        EXPECT_TRUE(size == 0 ? buffer[0] == 'Z' : n < size && buffer[n] == '\0');
        EXPECT_EQ(buffer[size], 'Z');  // nothing beyond the buffer's size
        return std::string(buffer.data(), std::min<std::uint32_t>(n, size));
    }
    int Put(const std::string& section, const std::string& key, const std::string& value,
            const std::string& file) {
        return profile_.WritePrivateProfileStringA(section, key, value, file);
    }
    void Write(const std::string& content) { WriteFile(path, text_.toFile(content)); }
    std::string Read() { return text_.fromFile(ReadFile(path)); }
    // A file of a new name, so that no platform can answer from what it read before.
    void NextFile() { path = dir.file("t" + std::to_string(++files_) + ".ini"); }

    TempDir dir;
    std::string path = dir.file("t.ini");

  private:
    ProfileApi& profile_;
    const ProfileFileText& text_;
    int files_ = 0;
};

}  // namespace

void ExpectHandWrittenFilesRead(ProfileApi& profile, const ProfileFileText& text) {
    Profile p(profile, text);
    p.Write(
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
        "empty=\n"
        "\t b \t=\v\t2\f\x1a\n"
        "nul=x\0y\n"
        "[\xC3\x84rger]\r\n\xC3\xB6l=1\r\n"
        "[x]y]\nk=v\n[unclosed\nk2=v2\n"
        "[pfade]\nlater=4\n"
        "[]\nnameless=5"s);
    struct Case {
        std::string section, key, expected;
        // Wine folds only ASCII letters when it compares names; Windows, and Linux with it,
        // fold every letter.
        bool wineFoldsOnlyAscii = false;
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
        {"Pfade", "empty", ""},  // present, though empty
        {"Pfade", "b", "2"},
        {"Pfade", "nul", "x"},
        {"\xC3\xA4RGER", "\xC3\x96L", "1", true},  // ärger, Öl
        {"x]y", "k", "v"},                         // the name runs to the last bracket
        {"x]y", "k2", "v2"},                       // "[unclosed" is no header
        {"Pfade", "later", "DEF"},                 // a second section of the same name is not seen
        {"", "top", "1"},                          // lines before the first header
        {"Pfade", "top", "DEF"},
        {"", "nameless", "DEF"},
        {"Pfade\0junk"s, "nul\0junk"s, "x"},  // arguments end at a NUL
    };
    for (const Case& c : cases) {
        if (text.wine && c.wineFoldsOnlyAscii) {
            continue;
        }
        EXPECT_EQ(p.Get(c.section, c.key), c.expected) << c.section << "/" << c.key;
    }
}

void ExpectDefaultsAndBufferSizes(ProfileApi& profile, const ProfileFileText& text) {
    Profile p(profile, text);
    EXPECT_EQ(p.Get("S", "k", "  lead  "), "  lead");        // only trailing spaces go ...
    EXPECT_EQ(p.Get("S", "k", "  lead  \t"), "  lead  \t");  // ... not tabs
    EXPECT_EQ(p.Get("S", "k", "\"q\" "), "q");
    EXPECT_EQ(p.Get("S", "k", "DEFAULT", 3), "DE");
    p.Write("[S]\nk=abcdef\n");
    EXPECT_EQ(p.Get("S", "k", "", 4), "abc");
    EXPECT_EQ(p.Get("S", "k", "", 7), "abcdef");
    EXPECT_EQ(p.Get("S", "k", "", 1), "");
    EXPECT_EQ(p.Get("S", "k", "", 0), "");
    // A folder in the place of the file reads as a missing file.
    char buffer[4];
    EXPECT_EQ(profile.GetPrivateProfileStringA("S", "k", "d", buffer, 4, p.dir.path()), 1u);
    EXPECT_EQ(std::string(buffer), "d");
}

void ExpectWritesChangeOnlyTheirLine(ProfileApi& profile, const ProfileFileText& text) {
    Profile p(profile, text);
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
        p.NextFile();
        if (!c.before.empty()) {
            p.Write(c.before);
        }
        ASSERT_EQ(p.Put(c.section, c.key, c.value, p.path), 1) << c.before;
        if (text.wine) {
            // Blanks around a new section's or key's name are Wine's to keep or drop.
            if (c.section == " Neu ") {
                continue;
            }
        } else {
            EXPECT_EQ(p.Read(), c.after) << c.before;
        }
        EXPECT_EQ(p.Get(c.section, c.key), c.value == " v " ? "v" : c.value) << c.before;
    }
}

void ExpectRefusedWritesChangeNothing(ProfileApi& profile, const ProfileFileText& text) {
    Profile p(profile, text);
    const std::string before = "[S]\r\nk=1\r\n";
    p.Write(before);
    EXPECT_EQ(p.Put("S", "k", "a\nb", p.path), 0);
    EXPECT_EQ(p.Put("S", "k", "x\r[T]\rk=2", p.path), 0);
    EXPECT_EQ(p.Put("S\n[T]", "k", "v", p.path), 0);
    EXPECT_EQ(p.Put("S", "k\r\nx", "v", p.path), 0);
    EXPECT_EQ(p.Read(), before);
    EXPECT_EQ(p.Put("S", "k", "v", p.dir.path()), 0);
    EXPECT_EQ(p.Put("S", "k", "v", p.dir.file("no/t.ini")), 0);
    EXPECT_EQ(p.Put("S", "k", "v", ""), 0);
    EXPECT_FALSE(FileExists(p.dir.file("no")));
}

}  // namespace tarnu::test
