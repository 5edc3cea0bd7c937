#include "platform/linux/posix/regedit_export.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "registry/security_switch.h"
#include "tests/registry/registry_test_util.h"

namespace tarnu::test {
namespace {

using namespace std::string_literals;

// The lines of a text ending in CR LF, without their line ends; empty when one lacks its CR.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos ||
            text.substr(start, end - start).find('\n') != std::string::npos) {
            return {};
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

TEST(RegeditExportTest, WritesSectionsAndValuesAsRegeditReadsThem) {
    posix::HiveKey root;
    posix::HiveKey& office = root.AddSubkey("Office");
    office.SetValue("", reg::RegSz, "Standard\0"s);
    office.SetValue("Pfad", reg::RegSz, "C:\\Pro \"gramm\"\0"s);
    office.SetValue("Security", reg::RegDword, Bytes({1, 0, 0, 0}));
    office.SetValue("Minus", reg::RegDword, Bytes({0xFE, 0xFF, 0xFF, 0xFF}));
    office.SetValue("Liste", reg::RegMultiSz, "x\0y\0\0"s);
    office.SetValue("Roh", reg::RegBinary, Bytes({0, 0xAB}));
    office.SetValue("Ohne", reg::RegSz, "abc");
    office.SetValue("Kurz", reg::RegDword, Bytes({1}));
    office.AddSubkey("zweiter");
    office.AddSubkey("Erster").SetValue("level", reg::RegDword, Bytes({1, 0, 0, 0}));

    const std::vector<std::string> expected = {
        "REGEDIT4",
        "",
        "[HKEY_CURRENT_USER\\Office]",
        "@=\"Standard\"",
        "\"Pfad\"=\"C:\\\\Pro \\\"gramm\\\"\"",
        "\"Security\"=dword:00000001",
        "\"Minus\"=dword:fffffffe",
        "\"Liste\"=hex(7):78,00,79,00,00",
        "\"Roh\"=hex:00,ab",
        "\"Ohne\"=hex(1):61,62,63",
        "\"Kurz\"=hex(4):01",
        "",
        "[HKEY_CURRENT_USER\\Office\\Erster]",
        "\"level\"=dword:00000001",
        "",
        "[HKEY_CURRENT_USER\\Office\\zweiter]",
        "",
    };
    EXPECT_EQ(Lines(posix::ExportRegedit4(office, "HKEY_CURRENT_USER\\Office")), expected);
}

TEST(RegeditExportTest, WrapsLongHexLinesAsRegeditDoes) {
    posix::HiveKey key;
    std::string data;
    for (int i = 0; i < 48; ++i) {
        data.push_back(static_cast<char>(i));
    }
    key.SetValue("Bin", reg::RegBinary, data);
    const std::vector<std::string> lines = Lines(posix::ExportRegedit4(key, "HKEY_LOCAL_MACHINE"));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[3],
              "\"Bin\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,"
              "\\");
    EXPECT_EQ(lines[4],
              "  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f");
}

// Runs the export tool over the registry of `t`; its output and exit status.
std::pair<std::string, int> RunTool(const TempRegistry& t, const std::string& arguments) {
    // The tool finds its folders the way the program does: through the XDG variables.
    const std::string command = "XDG_CONFIG_HOME='" + t.dir.file("user") + "' XDG_CONFIG_DIRS='" +
                                t.dir.file("machine") + ":/etc/xdg' '" + TARNU_REG_TOOL + "' " +
                                arguments + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    std::size_t n = 0;
    while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    const int status = pipe ? pclose(pipe) : -1;
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(RegeditExportTest, ToolShowsWhatTheSwitchWrote) {
    TempRegistry t;
    SwitchOffAccessSecurityWarning(t.registry);

    const auto [user, userStatus] = RunTool(t, "export HKCU");
    EXPECT_EQ(userStatus, 0);
    const std::vector<std::string> lines = Lines(user);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "REGEDIT4");
    const auto at = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) - lines.begin();
    };
    const auto access = at("[HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\11.0\\Access]");
    const auto security =
        at("[HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\11.0\\Access\\Security]");
    EXPECT_EQ(at("\"Security\"=dword:00000001"), access + 1);
    EXPECT_EQ(at("\"level\"=dword:00000001"), security + 1);

    const auto [machine, machineStatus] = RunTool(t, "export HKLM 'software\\microsoft\\JET'");
    EXPECT_EQ(machineStatus, 0);
    const std::vector<std::string> expected = {
        "REGEDIT4",
        "",
        "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Jet]",
        "",
        "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Jet\\4.0]",
        "",
        "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Jet\\4.0\\Engines]",
        "\"SandboxMode\"=dword:00000002",
        "",
    };
    EXPECT_EQ(Lines(machine), expected);

    EXPECT_EQ(RunTool(t, "export HKLM Software\\\\Fehlt").second, 2);
    EXPECT_EQ(RunTool(t, "export HKCR").second, 1);
    WriteFile(t.registry.HiveFile(reg::HKeyCurrentUser), "beschädigt");
    const auto [corrupt, corruptStatus] = RunTool(t, "export HKCU");
    EXPECT_EQ(corruptStatus, 3);
    EXPECT_EQ(corrupt, "");
}

}  // namespace
}  // namespace tarnu::test
