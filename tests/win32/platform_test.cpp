// The registry module, the shell copy, the file services and the text conversion on Wine.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "platform/win32/text.h"
#include "platform/win32/win32_copy_survey.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_shell.h"
#include "ports/error.h"
#include "registry/modul_reg.h"
#include "tests/support/error_of.h"
#include "tests/support/recording_message_boxes.h"
#include "tests/support/temp_dir.h"
#include "tests/win32/wine_test_support.h"
#include "update/shell_copy.h"

#include <windows.h>
#undef ReplaceFile  // the file services member, not the macro

namespace tarnu::test {
namespace {

using namespace std::string_literals;
constexpr reg::HKEY kUser = reg::HKeyCurrentUser;

// Strings reach the registry in the code page, NULs and all; a name or text the code page
// cannot carry is refused, not written as its look-alike or as "?".
TEST(WineRegistry, ValuesReachWinesRegistryInTheCodePage) {
    const std::string key = "Software\\TarnuTest\\" + std::to_string(::GetCurrentProcessId());
    DeleteKeyTree(kUser, key);
    win32::Win32Registry registry;
    const std::uint32_t number = 0x12345678;
    const std::string dword(reinterpret_cast<const char*>(&number), 4);
    struct Case {
        Variant value;
        VbBoolean lineBreaks;
        StoredValue stored;
    };
    for (const Case& c : std::vector<Case>{
             {Variant::I4(0x12345678), VbTrue, {REG_DWORD, dword}},
             {Variant::Bstr("x\r\ny"), VbTrue, {REG_MULTI_SZ, "x\0y\0\0"s}},
             {Variant::Bstr("Größe"), VbFalse, {REG_SZ, "Gr\xF6\xDF"s + "e\0"s}},
         }) {
        EXPECT_EQ(Modul_reg::SetRegValue(registry, kUser, key + "\\tief", "v", c.value,
                                         c.lineBreaks, VbTrue),
                  0);
        EXPECT_EQ(ReadValue(kUser, key + "\\tief", "v"), c.stored);
    }
    EXPECT_EQ(Modul_reg::CreateRegKey(registry, kUser, key + "\\TIEF"), 2);
    reg::HKEY handle = 0;
    ASSERT_EQ(registry.RegOpenKeyExA(kUser, key, 0, KEY_ALL_ACCESS, &handle), 0);
    const std::uint8_t omega[] = "\xCE\xA9";
    for (const reg::DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ}) {
        EXPECT_EQ(registry.RegSetValueExA(handle, "v", 0, type, omega, 3),
                  ERROR_NO_UNICODE_TRANSLATION);
    }
    EXPECT_EQ(registry.RegSetValueExA(handle, "\xCE\xA9", 0, REG_DWORD, omega, 3),
              ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(registry.RegSetValueExA(handle, "leer", 0, REG_SZ, nullptr, 0), 0);
    EXPECT_EQ(registry.RegSetValueExA(handle, "leer", 0, REG_SZ, nullptr, 1), ERROR_NOACCESS);
    registry.RegCloseKey(handle);
    EXPECT_EQ(ReadValue(kUser, key, "leer"), (StoredValue{REG_SZ, ""}));
    for (const char* lookAlike : {"v", "O", "?"}) {
        EXPECT_FALSE(ReadValue(kUser, key, lookAlike)) << lookAlike;
    }
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
    DeleteKeyTree(kUser, key);
}

// Windows refuses WC_NO_BEST_FIT_CHARS and a default-character report for UTF-8, as documented
// and as Wine's conformance tests record; Wine 8 accepts both. While this object lives, every
// conversion of the test program goes through a stand-in that refuses them as Windows does.
using WideToMulti = int(WINAPI*)(UINT, DWORD, LPCWSTR, int, LPSTR, int, LPCSTR, LPBOOL);
#ifdef _WIN64
extern "C" WideToMulti importedWideToMulti __asm__("__imp_WideCharToMultiByte");
#else
extern "C" WideToMulti importedWideToMulti __asm__("__imp__WideCharToMultiByte@32");
#endif
WideToMulti g_wineWideToMulti = nullptr;

int WINAPI WideToMultiAsWindows(UINT cp, DWORD flags, LPCWSTR wide, int n, LPSTR bytes, int size,
                                LPCSTR defaultChar, LPBOOL used) {
    if (cp == CP_UTF8 && (defaultChar || used || (flags & ~DWORD{0x80}))) {
        ::SetLastError(defaultChar || used ? ERROR_INVALID_PARAMETER : ERROR_INVALID_FLAGS);
        return 0;
    }
    return g_wineWideToMulti(cp, flags, wide, n, bytes, size, defaultChar, used);
}

class Utf8RulesOfWindows {
  public:
    Utf8RulesOfWindows() {
        g_wineWideToMulti = importedWideToMulti;
        Set(WideToMultiAsWindows);
    }
    ~Utf8RulesOfWindows() { Set(g_wineWideToMulti); }

  private:
    static void Set(WideToMulti f) {
        DWORD old = 0;
        ::VirtualProtect(&importedWideToMulti, sizeof f, PAGE_READWRITE, &old);
        importedWideToMulti = f;
        ::VirtualProtect(&importedWideToMulti, sizeof f, old, &old);
    }
};

TEST(WineText, ConversionInEachCodePageKeepsNulsAndRefusesWhatItCannotCarry) {
    Utf8RulesOfWindows windows;
    const std::string omega = "C:\\\xCE\xA9", lodz = "\xC5\x81\xC3\xB3\x64\xC5\xBA";
    struct Case {
        std::string utf8;
        std::optional<std::string> in1252, in65001;  // nullopt: refused
    };
    for (const Case& c : std::vector<Case>{
             {"a\0\xC3\xA4\0\0"s, "a\0\xE4\0\0"s, "a\0\xC3\xA4\0\0"s},
             {omega, std::nullopt, omega},
             {lodz, std::nullopt, lodz},
             {"\xC3"s, std::nullopt, std::nullopt},
         }) {
        for (const auto& [codePage, expected] :
             {std::pair{1252u, c.in1252}, std::pair{65001u, c.in65001}}) {
            std::string ansi;
            const bool carried = win32::TryAnsiFromUtf8(c.utf8, ansi, codePage);
            EXPECT_EQ(carried ? std::optional(ansi) : std::nullopt, expected) << codePage;
            if (expected) {
                EXPECT_EQ(win32::Utf8FromAnsi(*expected, codePage), c.utf8) << codePage;
            }
        }
    }
    const std::string error = ErrorTextOf([&] { win32::AnsiFromUtf8(omega, 1252); });
    EXPECT_EQ(error.rfind(std::to_string(win32::BadNameError) + ": \"" + omega + "\"", 0), 0u)
        << error;
    EXPECT_TRUE(win32::LostCharacters("C:\\a?b"));
    EXPECT_FALSE(win32::LostCharacters("\\\\?\\C:\\ab"));
}

// The old file stays under its backup name until the new one has its name. Refused, with both
// files as they were: a read-only database, one held open without delete sharing as Jet holds
// it, and a backup an earlier replace left, maybe all of a database.
TEST(WineFiles, ReplaceKeepsBothFilesWhenRefused) {
    TempDir dir;
    win32::Win32FileServices files;
    const std::string db = dir.file("KDL.mdb"), copy = dir.file("copy.mdb");
    const std::string backup = ReplaceBackupName(db);
    EXPECT_EQ(backup, db + ".Sicherung");
    WriteFile(db, "alt");
    WriteFile(dir.file("neu.mdb"), "neu");
    files.ReplaceFile(dir.file("neu.mdb"), db);
    EXPECT_EQ(FolderContents(dir.path()), std::vector<std::string>{"KDL.mdb"});
    EXPECT_EQ(ReadFile(db), "neu");

    WriteFile(copy, "copy");
    const auto readOnly = [&](DWORD attributes) { ::SetFileAttributesA(db.c_str(), attributes); };
    struct Case {
        std::function<HANDLE()> before;
        std::int32_t error;
        std::string backupAfter;  // "" for none
    };
    for (const Case& c : std::vector<Case>{
             {[&] { return readOnly(FILE_ATTRIBUTE_READONLY), INVALID_HANDLE_VALUE; },
              err::PathFileAccessError, ""},
             {[&] {
                  return ::CreateFileA(db.c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       0, nullptr);
              },
              err::PermissionDenied, ""},
             {[&] { return WriteFile(backup, "alt"), INVALID_HANDLE_VALUE; },
              err::FileAlreadyExists, "alt"},
         }) {
        HANDLE held = c.before();
        EXPECT_EQ(ErrorOf([&] { files.ReplaceFile(copy, db); }), c.error);
        ::CloseHandle(held);
        readOnly(FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(ReadFile(db), "neu");
        EXPECT_EQ(ReadFile(copy), "copy");
        EXPECT_EQ(FileExists(backup) ? ReadFile(backup) : "", c.backupAfter);
    }
    // The fallback for file systems that cannot replace.
    ::DeleteFileA(backup.c_str());
    win32::MoveIntoPlace(copy, db);
    EXPECT_EQ(FolderContents(dir.path()), std::vector<std::string>{"KDL.mdb"});
    EXPECT_EQ(ReadFile(db), "copy");
}

TEST(WineFiles, QueriesListingsAndRemovalOfUnusedFiles) {
    TempDir dir;
    win32::Win32FileServices files;
    WriteFile(dir.file("01012024120000Dummy.mdb"), "alt");
    WriteFile(dir.file("offen.mdb"), "offen");
    ASSERT_TRUE(::CreateDirectoryA(dir.file("ordner.mdb").c_str(), nullptr));
    EXPECT_EQ(files.Dir(dir.file("offen.mdb")), "offen.mdb");
    for (const std::string& none : {dir.file("fehlt.mdb"), dir.path(), dir.file("ordner.mdb")}) {
        EXPECT_EQ(files.Dir(none), "") << none;
    }
    // A wildcard would let the query find another file than the one named.
    EXPECT_THROW(files.Dir(dir.file("o?fen.mdb")), Error);
    for (const std::string& folder : {dir.path(), dir.path() + "\\"}) {
        auto names = files.ListFiles(folder);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"01012024120000Dummy.mdb", "offen.mdb"}));
    }
    EXPECT_TRUE(files.ListFiles(dir.file("*")).empty());
    EXPECT_EQ(files.FileLen(dir.file("offen.mdb")), 5);
    for (const char* none : {"fehlt.mdb", "ordner.mdb"}) {
        EXPECT_EQ(ErrorOf([&] { files.FileLen(dir.file(none)); }), err::FileNotFound) << none;
    }

    // A file someone holds open, as Jet holds a database, stays; so does a folder.
    HANDLE held =
        ::CreateFileA(dir.file("offen.mdb").c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    for (const char* kept : {"offen.mdb", "ordner.mdb", "fehlt.mdb", "*.mdb"}) {
        EXPECT_FALSE(files.RemoveUnused(dir.file(kept))) << kept;
    }
    EXPECT_TRUE(files.RemoveUnused(dir.file("01012024120000Dummy.mdb")));
    ::CloseHandle(held);
    EXPECT_TRUE(files.RemoveUnused(dir.file("offen.mdb")));
    EXPECT_EQ(FolderContents(dir.path()), std::vector<std::string>{"ordner.mdb"});

    // Renaming never replaces.
    WriteFile(dir.file("a"), "a");
    EXPECT_EQ(ErrorOf([&] { files.Name(dir.file("a"), dir.file("ordner.mdb")); }),
              err::FileAlreadyExists);
}

// What the update looks at before it copies: where each file would land, the file it would
// replace and whether that is in use or is this very program, and the room on the target's
// drive, of its nearest folder that is there.
TEST(WineCopySurvey, FilesWhatTheyReplaceAndTheRoomOfTheTarget) {
    TempDir dir;
    for (const char* folder : {"quelle", "quelle\\sub", "ziel", "prog"}) {
        ASSERT_TRUE(::CreateDirectoryA(dir.file(folder).c_str(), nullptr));
    }
    WriteFile(dir.file("quelle\\a.mde"), "neu");
    WriteFile(dir.file("quelle\\sub\\b.txt"), "b");
    WriteFile(dir.file("ziel\\a.mde"), "alt!!");
    WriteFile(dir.file("prog\\win32_platform_test.exe"), "neu");
    const std::string bin = BuiltProgram(""), self = bin + "win32_platform_test.exe";
    const std::string selfSize = std::to_string(std::filesystem::file_size(self));
    const std::string z = dir.file("ziel\\");
    const HANDLE held =
        ::CreateFileA((z + "a.mde").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    struct Case {
        std::string source, target, folder;
        std::vector<std::string> files;  // sorted; empty for no source
    };
    for (const Case& c : std::vector<Case>{
             {"quelle\\*",
              dir.file("ziel"),
              dir.file("ziel"),
              {z + "a.mde 3 replaces 5 in use", z + "sub\\b.txt 1"}},
             {"quelle\\a.mde", z, z, {z + "a.mde 3 replaces 5 in use"}},
             {"quelle\\a.mde", z + "neu\\x.mde", z + "neu\\", {z + "neu\\x.mde 3"}},
             {"prog\\win32_platform_test.exe",
              bin.substr(0, bin.size() - 1),
              bin.substr(0, bin.size() - 1),
              {self + " 3 replaces " + selfSize + " this program"}},
             {"fehlt\\*", z, z, {}},
         }) {
        const CopySurvey survey = win32::Win32CopySurvey().SurveyCopy(dir.file(c.source), c.target);
        std::vector<std::string> files;
        for (const SurveyedFile& f : survey.files) {
            files.push_back(f.path + " " + std::to_string(f.size) +
                            (f.replaces ? " replaces " + std::to_string(f.replacedSize) : "") +
                            (f.use == FileUse::InUse            ? " in use"
                             : f.use == FileUse::RunningProgram ? " this program"
                                                                : ""));
        }
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, c.files) << c.source;
        EXPECT_EQ(survey.outcome,
                  c.files.empty() ? SurveyOutcome::NoSource : SurveyOutcome::Surveyed);
        EXPECT_EQ(survey.folder, c.folder) << c.source;
        EXPECT_TRUE(c.files.empty() || (survey.freeBytes > 0 && survey.freeBytes < UINT64_MAX))
            << c.source;
    }
    ::CloseHandle(held);
}

// The shared copy cases cover what the shell does; a name the code page lacks must never reach
// it as "?", which could name other files.
TEST(WineShellCopy, RefusesNamesTheCodePageLacks) {
    TempDir dir;
    RecordingMessageBoxes boxes;
    win32::Win32Shell shell(boxes);
    WriteFile(dir.file("a"), "a");
    EXPECT_FALSE(update::ShellCopy(shell, dir.file("\xCE\xA9"), dir.file("ziel")));
    EXPECT_FALSE(update::ShellCopy(shell, dir.file("?"), dir.file("\xCE\xA9")));
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].style, ui::vbCritical);
    EXPECT_NE(boxes.boxes[0].text.find("Codepage"), std::string::npos);
    EXPECT_FALSE(FileExists(dir.file("ziel")));
}

}  // namespace
}  // namespace tarnu::test
