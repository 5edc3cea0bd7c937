#include "platform/linux/posix/regedit_export.h"

#include <gtest/gtest.h>

#include "tests/registry/registry_test_util.h"

namespace tarnu::test {
namespace {

using namespace std::string_literals;

// Runs the export tool over the registry of `t`, which it finds through the XDG variables. A tool
// that hangs is stopped after ten seconds (exit code 124).
CommandRun RunTool(const TempRegistry& t, const std::string& arguments) {
    return RunCommand("XDG_CONFIG_HOME=" + ShellQuote(t.dir.file("user")) +
                      " XDG_CONFIG_DIRS=" + ShellQuote(t.dir.file("machine") + ":/etc/xdg") +
                      " timeout 10 " + ShellQuote(TARNU_REG_TOOL) + " " + arguments);
}

TEST(RegeditExportTest, ToolWritesSectionsAndValuesAsRegeditReadsAndWrapsThem) {
    TempRegistry t;
    auto put = [&](const std::string& path, const std::string& name, reg::DWORD type,
                   const std::string& data) {
        reg::HKEY key = 0;
        ASSERT_EQ(Create(t.registry, kUser, path, &key), 0);
        ASSERT_EQ(Set(t.registry, key, name, type, data), 0);
        t.registry.RegCloseKey(key);
    };
    put("Office", "", reg::RegSz, "Standard\0"s);
    put("Office", "Pfad", reg::RegSz, "C:\\Pro \"gramm\"\0"s);
    put("Office", "Security", reg::RegDword, Bytes({1, 0, 0, 0}));
    put("Office", "Liste", reg::RegMultiSz, "x\0y\0\0"s);
    put("Office", "Roh", reg::RegBinary, Bytes({0, 0xAB}));
    put("Office", "Ohne", reg::RegSz, "abc");
    put("Office", "Kurz", reg::RegDword, Bytes({1}));
    // A string that would steer the terminal.
    put("Office", "Esc", reg::RegSz, "\x1b[2J\0"s);
    std::string bin;
    for (int i = 0; i < 48; ++i) {
        bin.push_back(static_cast<char>(i));
    }
    put("Office", "Bin", reg::RegBinary, bin);  // too long for one line
    // Sections in Windows' order; a section name runs to the last "]".
    for (const char* path : {"Office\\zweiter", "Office\\Klammer]"}) {
        reg::HKEY key = 0;
        ASSERT_EQ(Create(t.registry, kUser, path, &key), 0);
        t.registry.RegCloseKey(key);
    }
    put("Office\\Erster", "level", reg::RegDword, Bytes({1, 0, 0, 0}));

    // The key named in any case.
    const CommandRun run = RunTool(t, "export HKCU oFFICE");
    EXPECT_EQ(run.exitCode, 0);
    // Every line ends in CR LF, as regedit writes it.
    EXPECT_EQ(
        run.out,
        "REGEDIT4\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Office]\r\n"
        "@=\"Standard\"\r\n"
        "\"Pfad\"=\"C:\\\\Pro \\\"gramm\\\"\"\r\n"
        "\"Security\"=dword:00000001\r\n"
        "\"Liste\"=hex(7):78,00,79,00,00\r\n"
        "\"Roh\"=hex:00,ab\r\n"
        "\"Ohne\"=hex(1):61,62,63\r\n"
        "\"Kurz\"=hex(4):01\r\n"
        "\"Esc\"=hex(1):1b,5b,32,4a,00\r\n"
        "\"Bin\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
        "  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Office\\Erster]\r\n"
        "\"level\"=dword:00000001\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Office\\Klammer]]\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Office\\zweiter]\r\n"
        "\r\n");
    EXPECT_EQ(RunTool(t, "export HKCU Office\\\\Fehlt").exitCode, 2);
    EXPECT_EQ(RunTool(t, "export HKCR").exitCode, 1);
    WriteFile(t.registry.HiveFile(kUser), "beschädigt");
    const CommandRun corrupt = RunTool(t, "export HKCU");
    EXPECT_EQ(corrupt.exitCode, 3);
    EXPECT_EQ(corrupt.out, "");
}

// A line break in a name would end its line in the file, and the rest of the name would become
// lines of their own: values or whole sections that a later import on Windows would write. ESC
// and other controls would steer the terminal the export is read on.
TEST(RegeditExportTest, ToolRefusesNamesWithControlsAndPrintsNothing) {
    struct Case {
        std::string key, value, message;
    };
    const std::vector<Case> cases = {
        {"Software\\a\r\n[HKEY_LOCAL_MACHINE]", "",
         "Der Schlüssel HKEY_CURRENT_USER\\Software\\a\\x0D\\x0A[HKEY_LOCAL_MACHINE] lässt"},
        {"Software\\Gut\\\x1b]2;Titel\a", "",
         "Der Schlüssel HKEY_CURRENT_USER\\Software\\Gut\\\\x1B]2;Titel\\x07 lässt"},
        {"Software\\Gut", "x\"=\"\"\n[HKEY_LOCAL_MACHINE\\Software\\Evil]\n\"y",
         "Der Schlüssel HKEY_CURRENT_USER\\Software\\Gut lässt sich nicht im REGEDIT4-Format "
         "ausgeben: Der Name seines Werts "
         "x\"=\"\"\\x0A[HKEY_LOCAL_MACHINE\\Software\\Evil]\\x0A\"y "
         "enthält einen Zeilenumbruch oder ein anderes Steuerzeichen."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        TempRegistry t;
        reg::HKEY key = 0;
        ASSERT_EQ(Create(t.registry, kUser, "Software\\Anders", &key), 0);
        t.registry.RegCloseKey(key);
        ASSERT_EQ(Create(t.registry, kUser, c.key, &key), 0);
        ASSERT_EQ(Set(t.registry, key, c.value, reg::RegSz, "w"s + '\0'), 0);
        t.registry.RegCloseKey(key);

        const CommandRun run = RunTool(t, "export HKCU");
        EXPECT_EQ(run.exitCode, 4);
        EXPECT_EQ(run.out, "") << "no part of the file may be printed";
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find_first_of("\r\x1b\a"), std::string::npos);
        // What holds no such name still exports.
        EXPECT_EQ(RunTool(t, "export HKCU 'Software\\Anders'").exitCode, 0);
    }
}

}  // namespace
}  // namespace tarnu::test
