// How the Linux profile functions read and rewrite hand-written files. Where the Windows rules
// are not obvious, the expected results are what Wine 8's kernel32 gave for the same file.

#include "platform/linux/posix/ini_profile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tarnu::posix {
namespace {

using test::FileExists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using namespace std::string_literals;

class IniProfileTest : public ::testing::Test {
  protected:
    std::string Get(const std::string& section, const std::string& key,
                    const std::string& def = "DEF") {
        std::vector<char> buffer(1024, 'Z');
        const std::uint32_t n = profile.GetPrivateProfileStringA(
            section, key, def, buffer.data(), static_cast<std::uint32_t>(buffer.size()), path);
        EXPECT_LT(n, buffer.size());
        EXPECT_EQ(buffer[n], '\0');
        return std::string(buffer.data(), n);
    }
    int Put(const std::string& section, const std::string& key, const std::string& value) {
        return profile.WritePrivateProfileStringA(section, key, value, path);
    }

    TempDir dir;
    IniProfile profile;
    const std::string path = dir.file("t.ini");
};

// ---- reading -------------------------------------------------------------------------------

TEST_F(IniProfileTest, NamesMatchWholeWithoutRegardToCaseOrBlanks) {
    WriteFile(path,
              "  [ Pfade ]  \r\n  quelle  =  Q  \r\nZiel=Z\r\n"
              "[\xC3\x84rger]\r\n\xC3\xB6l=1\r\n");
    EXPECT_EQ(Get("PFADE", "Quelle"), "Q");
    EXPECT_EQ(Get(" pfade ", "\tQUELLE "), "Q");
    EXPECT_EQ(Get("\xC3\xA4RGER", "\xC3\x96L"), "1");  // ärger / Öl
    // Names are not prefixes of each other.
    EXPECT_EQ(Get("Pfad", "Quelle"), "DEF");
    EXPECT_EQ(Get("Pfade", "Quell"), "DEF");
    EXPECT_EQ(Get("Pfade", "Quellen"), "DEF");
    EXPECT_EQ(Get("Pfade", "Ziel"), "Z");
}

TEST_F(IniProfileTest, OnePairOfMatchingQuotesIsRemoved) {
    WriteFile(path,
              "[S]\n"
              "double = \"  a b  \"  \n"
              "single='x'\n"
              "nested=\"\"x\"\"\n"
              "inner = \" a \" b \" \n"
              "open=\"x\n"
              "lone=\"\n"
              "mixed=\"x'\n"
              "empty=\"\"\n");
    EXPECT_EQ(Get("S", "double"), "  a b  ");
    EXPECT_EQ(Get("S", "single"), "x");
    EXPECT_EQ(Get("S", "nested"), "\"x\"");
    EXPECT_EQ(Get("S", "inner"), " a \" b ");
    EXPECT_EQ(Get("S", "open"), "\"x");
    EXPECT_EQ(Get("S", "lone"), "\"");
    EXPECT_EQ(Get("S", "mixed"), "\"x'");
    EXPECT_EQ(Get("S", "empty"), "");
}

TEST_F(IniProfileTest, FirstOfTwoEqualKeysOrSectionsWins) {
    WriteFile(path, "[S]\nk=1\nK=2\n[other]\nk=o\n[s]\nk=3\nlater=4\n");
    EXPECT_EQ(Get("S", "k"), "1");
    EXPECT_EQ(Get("other", "k"), "o");
    // Keys of a second section of the same name are not seen.
    EXPECT_EQ(Get("S", "later"), "DEF");
}

TEST_F(IniProfileTest, LinesBeforeTheFirstHeaderFormTheNamelessSection) {
    WriteFile(path, "top=1\n[S]\nk=2\n[]\nk=3\n");
    EXPECT_EQ(Get("", "top"), "1");
    EXPECT_EQ(Get("S", "top"), "DEF");
    EXPECT_EQ(Get("", "k"), "DEF");
}

TEST_F(IniProfileTest, CrLfLfAndLoneCrAllEndALine) {
    WriteFile(path, "[S]\r\na=1\nb=2\rc=3\r\n\r\n\n[T]\r\nd=4");
    EXPECT_EQ(Get("S", "a"), "1");
    EXPECT_EQ(Get("S", "b"), "2");
    EXPECT_EQ(Get("S", "c"), "3");
    EXPECT_EQ(Get("T", "d"), "4");
}

TEST_F(IniProfileTest, HeaderAndEntryForms) {
    WriteFile(path,
              "\xEF\xBB\xBF[S] comment after the bracket\n"
              "noequals\n"
              ";c=3\n"
              "a = 1 = 2\n"
              "\t b \t=\v\t2\f\x1a\n"
              "[x]y]\n"
              "k=v\n"
              "[unclosed\n"
              "k2=v2\n");
    EXPECT_EQ(Get("S", "a"), "1 = 2");
    EXPECT_EQ(Get("S", "b"), "2");
    // A line without "=" is no key; a comment line with one is an ordinary key.
    EXPECT_EQ(Get("S", "noequals"), "DEF");
    EXPECT_EQ(Get("S", ";c"), "3");
    // The name runs to the last bracket; a line without one is no header.
    EXPECT_EQ(Get("x]y", "k"), "v");
    EXPECT_EQ(Get("x]y", "k2"), "v2");
    EXPECT_EQ(Get("unclosed", "k2"), "DEF");
}

TEST_F(IniProfileTest, TextEndsAtANul) {
    WriteFile(path, "[S]\na=x\0y\nb=2\n"s);
    EXPECT_EQ(Get("S", "a"), "x");
    EXPECT_EQ(Get("S", "b"), "2");
    EXPECT_EQ(Get("S\0T"s, "b\0c"s), "2");
}

TEST_F(IniProfileTest, DefaultLosesTrailingBlanksAndOnePairOfQuotes) {
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(Get("S", "k", "  lead  \t"), "  lead");
    EXPECT_EQ(Get("S", "k", "\"q\" "), "q");
    EXPECT_EQ(Get("S", "k", ""), "");
    // A folder in the place of the file is a missing file.
    EXPECT_EQ(profile.GetPrivateProfileStringA("S", "k", "d", nullptr, 0, dir.path()), 0u);
    char buffer[8];
    EXPECT_EQ(profile.GetPrivateProfileStringA("S", "k", "d", buffer, 8, dir.path()), 1u);
    EXPECT_EQ(std::string(buffer), "d");
}

TEST_F(IniProfileTest, BufferTakesSizeMinusOneCharactersAndANul) {
    WriteFile(path, "[S]\nk=abcdef\n");
    struct Case {
        std::uint32_t size;
        std::string value, def;
    };
    for (const Case& c :
         {Case{4, "abc", ""}, Case{7, "abcdef", ""}, Case{1, "", ""}, Case{3, "DE", "DEFAULT"}}) {
        std::vector<char> buffer(16, 'Z');
        const std::string key = c.def.empty() ? "k" : "missing";
        const std::uint32_t n =
            profile.GetPrivateProfileStringA("S", key, c.def, buffer.data(), c.size, path);
        EXPECT_EQ(std::string(buffer.data(), n), c.value) << c.size;
        EXPECT_EQ(buffer[n], '\0') << c.size;
        EXPECT_EQ(buffer[c.size], 'Z') << c.size;
    }
    char untouched = 'Z';
    EXPECT_EQ(profile.GetPrivateProfileStringA("S", "k", "", &untouched, 0, path), 0u);
    EXPECT_EQ(untouched, 'Z');
}

// ---- rewriting -----------------------------------------------------------------------------

TEST_F(IniProfileTest, ExistingValueIsReplacedInPlaceAndEverythingElseKept) {
    const std::string head = "; Einstellungen\n\n[A]\n";
    const std::string tail = "\n; about A\n\n[B]\nKey1=b\n";
    WriteFile(path, head + "  Key1 = old ; x\nkey1=second" + tail);
    ASSERT_EQ(Put("a", "KEY1", "NEW"), 1);
    EXPECT_EQ(ReadFile(path), head + "  Key1=NEW\nkey1=second" + tail);
    EXPECT_EQ(Get("A", "key1"), "NEW");
    EXPECT_EQ(Get("B", "key1"), "b");
}

TEST_F(IniProfileTest, NewKeyFollowsTheLastNonBlankLineOfItsSection) {
    WriteFile(path, "[A]\na=1\n; note\n\n\n[B]\nb=1\n");
    ASSERT_EQ(Put("A", "new", "v"), 1);
    EXPECT_EQ(ReadFile(path), "[A]\na=1\n; note\nnew=v\n\n\n[B]\nb=1\n");

    WriteFile(path, "[A]\n\n[B]\n");
    ASSERT_EQ(Put("A", "k", "v"), 1);
    EXPECT_EQ(ReadFile(path), "[A]\nk=v\n\n[B]\n");
}

TEST_F(IniProfileTest, NewSectionIsAppendedAtTheEnd) {
    WriteFile(path, "[A]\r\na=1\r\n\r\n");
    ASSERT_EQ(Put(" Neu ", " k ", " v "), 1);
    EXPECT_EQ(ReadFile(path), "[A]\r\na=1\r\n\r\n[Neu]\r\nk= v \r\n");
    EXPECT_EQ(Get("neu", "K"), "v");
}

TEST_F(IniProfileTest, LastLineWithoutALineEndGetsOneWhenSomethingFollows) {
    WriteFile(path, "[A]\r\na=1");
    ASSERT_EQ(Put("A", "b", "2"), 1);
    EXPECT_EQ(ReadFile(path), "[A]\r\na=1\r\nb=2\r\n");

    WriteFile(path, "[A]\na=1");
    ASSERT_EQ(Put("B", "b", "2"), 1);
    EXPECT_EQ(ReadFile(path), "[A]\na=1\n[B]\nb=2\n");

    WriteFile(path, "[A]\na=1");
    ASSERT_EQ(Put("A", "a", "2"), 1);
    EXPECT_EQ(ReadFile(path), "[A]\na=2");
}

TEST_F(IniProfileTest, NewLinesEndAsTheLinesAroundThem) {
    ASSERT_EQ(Put("Pfade", "Quelle", "q"), 1);
    EXPECT_EQ(ReadFile(path), "[Pfade]\r\nQuelle=q\r\n");

    WriteFile(path, "[A]\na=1\r\n");
    ASSERT_EQ(Put("A", "b", "2"), 1);
    EXPECT_EQ(ReadFile(path), "[A]\na=1\r\nb=2\r\n");

    // A lone CR in front of the empty LF line would swallow that line.
    WriteFile(path, "[A]\ra=1\r\n\n[B]\r");
    ASSERT_EQ(Put("A", "b", "2"), 1);
    EXPECT_EQ(ReadFile(path), "[A]\ra=1\r\nb=2\r\n\n[B]\r");

    WriteFile(path, "[A]\ra=1\r");
    ASSERT_EQ(Put("B", "b", "2"), 1);
    EXPECT_EQ(ReadFile(path), "[A]\ra=1\r[B]\rb=2\r");
}

TEST_F(IniProfileTest, ByteOrderMarkStaysInFront) {
    WriteFile(path, "\xEF\xBB\xBF[S]\r\nk=1\r\n");
    ASSERT_EQ(Put("", "top", "t"), 1);
    EXPECT_EQ(ReadFile(path), "\xEF\xBB\xBFtop=t\r\n[S]\r\nk=1\r\n");
    EXPECT_EQ(Get("S", "k"), "1");
    EXPECT_EQ(Get("", "top"), "t");
}

TEST_F(IniProfileTest, WriteChangesTheValueThatReadingFinds) {
    WriteFile(path, "[S]\nk=1\nk=2\n[s]\nk=3\nj=4\n");
    ASSERT_EQ(Put("S", "K", "x"), 1);
    ASSERT_EQ(Put("S", "j", "y"), 1);
    EXPECT_EQ(ReadFile(path), "[S]\nk=x\nk=2\nj=y\n[s]\nk=3\nj=4\n");
    EXPECT_EQ(Get("s", "k"), "x");
    EXPECT_EQ(Get("s", "j"), "y");
}

TEST_F(IniProfileTest, RefusedWritesChangeNothing) {
    const std::string before = "[S]\r\nk=1\r\n";
    WriteFile(path, before);
    EXPECT_EQ(Put("S", "k", "a\nb"), 0);
    EXPECT_EQ(Put("S", "k", "a\rb"), 0);
    EXPECT_EQ(Put("S\n[T]", "k", "v"), 0);
    EXPECT_EQ(Put("S", "k\r\nx", "v"), 0);
    EXPECT_EQ(ReadFile(path), before);

    EXPECT_EQ(profile.WritePrivateProfileStringA("S", "k", "v", dir.path()), 0);
    EXPECT_EQ(profile.WritePrivateProfileStringA("S", "k", "v", dir.file("no/t.ini")), 0);
    EXPECT_EQ(profile.WritePrivateProfileStringA("S", "k", "v", ""), 0);
    EXPECT_FALSE(FileExists(dir.file("no")));
}

}  // namespace
}  // namespace tarnu::posix
