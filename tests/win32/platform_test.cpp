// The registry module, the shell copy, the file services and the text conversion on Wine.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "platform/win32/text.h"
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

std::string Dword(std::uint32_t v) {
    return std::string(reinterpret_cast<const char*>(&v), 4);
}

TEST(WineRegistry, ModuleStoresEachTypeInWinesRegistry) {
    ScratchKey scratch("modul");
    win32::Win32Registry registry;
    struct Case {
        Variant value;
        VbBoolean lineBreaks;
        std::optional<StoredValue> stored;
    };
    const std::vector<Case> cases = {
        {Variant::I4(0x12345678), VbTrue, StoredValue{REG_DWORD, Dword(0x12345678)}},
        {Variant::Bstr("x\r\ny"), VbTrue, StoredValue{REG_MULTI_SZ, "x\0y\0\0"s}},
        {Variant::Bstr("x\r\ny"), VbFalse, StoredValue{REG_SZ, "x\r\ny\0"s}},
        // In the code page: one byte per letter.
        {Variant::Bstr("Größe"), VbTrue,
         StoredValue{REG_SZ,
                     "Gr\xF6\xDF"
                     "e\0"s}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string key = scratch.path() + "\\k" + std::to_string(i) + "\\tief";
        EXPECT_EQ(Modul_reg::SetRegValue(registry, kUser, key, "v", cases[i].value,
                                         cases[i].lineBreaks, VbTrue),
                  0);
        EXPECT_EQ(ReadValue(kUser, key, "v"), cases[i].stored) << i;
    }
    EXPECT_EQ(Modul_reg::RegKeyExists(registry, kUser, scratch.path() + "\\fehlt"),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Modul_reg::CreateRegKey(registry, kUser, scratch.path() + "\\neu"), 1);
    EXPECT_EQ(Modul_reg::CreateRegKey(registry, kUser, scratch.path() + "\\NEU"), 2);
    // A name the code page cannot carry is refused, not written as its look-alike or as "?".
    reg::HKEY key = 0;
    ASSERT_EQ(registry.RegOpenKeyExA(kUser, scratch.path(), 0, KEY_ALL_ACCESS, &key), 0);
    const std::uint8_t one[4] = {1};
    EXPECT_EQ(registry.RegSetValueExA(key, "\xCE\xA9", 0, REG_DWORD, one, 4),
              ERROR_NO_UNICODE_TRANSLATION);
    registry.RegCloseKey(key);
    for (const char* lookAlike : {"O", "?"}) {
        EXPECT_FALSE(ReadValue(kUser, scratch.path(), lookAlike)) << lookAlike;
    }
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
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

TEST(WineFiles, QueryDeleteRenameAndReplaceOnRealFiles) {
    TempDir dir;
    win32::Win32FileServices files;
    WriteFile(dir.file("KDL.mdb"), "alt");
    WriteFile(dir.file("neu.mdb"), "neu");
    EXPECT_EQ(files.Dir(dir.file("KDL.mdb")), "KDL.mdb");
    EXPECT_EQ(files.Dir(dir.file("fehlt.mdb")), "");
    EXPECT_EQ(files.Dir(dir.path()), "");
    // A wildcard would let the query find another file than the one named.
    EXPECT_THROW(files.Dir(dir.file("K?L.mdb")), Error);

    const std::string db = dir.file("KDL.mdb"), backup = ReplaceBackupName(db);
    files.SyncFile(dir.file("neu.mdb"));
    files.ReplaceFile(dir.file("neu.mdb"), db);
    EXPECT_EQ(ReadFile(db), "neu");
    EXPECT_FALSE(FileExists(dir.file("neu.mdb")));
    EXPECT_FALSE(FileExists(backup)) << "the old file's backup goes once the new one is in place";

    // Refused, with both files as they were: a read-only database, one held open without delete
    // sharing as Jet holds it, and a backup an earlier replace left, maybe all of a database.
    WriteFile(dir.file("copy.mdb"), "copy");
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
        EXPECT_EQ(ErrorOf([&] { files.ReplaceFile(dir.file("copy.mdb"), db); }), c.error);
        ::CloseHandle(held);
        readOnly(FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(ReadFile(db), "neu");
        EXPECT_EQ(ReadFile(dir.file("copy.mdb")), "copy");
        EXPECT_EQ(FileExists(backup) ? ReadFile(backup) : "", c.backupAfter);
    }
    ::DeleteFileA(backup.c_str());

    // The fallback for file systems that cannot replace.
    win32::MoveIntoPlace(dir.file("copy.mdb"), db);
    EXPECT_EQ(ReadFile(dir.file("KDL.mdb")), "copy");

    // Renaming never replaces; deleting a missing file is an error.
    WriteFile(dir.file("b.mdb"), "b");
    EXPECT_EQ(ErrorOf([&] { files.Name(dir.file("b.mdb"), dir.file("KDL.mdb")); }),
              err::FileAlreadyExists);
    files.Kill(dir.file("b.mdb"));
    EXPECT_EQ(ErrorOf([&] { files.Kill(dir.file("b.mdb")); }), err::FileNotFound);

    ScopedCurrentDir cd(dir.path());
    EXPECT_EQ(files.CurDir(), dir.path());
    const LocalDateTime now = files.Now();
    EXPECT_GE(now.year, 2020);
    const ui::AppObject app = win32::AppObjectOfThisProgram();
    EXPECT_EQ(app.Path + "\\" + app.EXEName + ".exe", ThisProgram());
}

TEST(WineFiles, ListingSizesFolderChangesAndRemovalOfUnusedFiles) {
    TempDir dir;
    win32::Win32FileServices files;
    WriteFile(dir.file("01012024120000Dummy.mdb"), "alt");
    WriteFile(dir.file("offen.mdb"), "offen");
    WriteFile(dir.file("leer"), "");
    ASSERT_TRUE(::CreateDirectoryA(dir.file("ordner.mdb").c_str(), nullptr));

    for (const std::string& folder : {dir.path(), dir.path() + "\\"}) {
        auto names = files.ListFiles(folder);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names,
                  (std::vector<std::string>{"01012024120000Dummy.mdb", "leer", "offen.mdb"}));
    }
    EXPECT_TRUE(files.ListFiles(dir.file("fehlt")).empty());
    EXPECT_TRUE(files.ListFiles(dir.file("*")).empty());

    EXPECT_EQ(files.FileLen(dir.file("offen.mdb")), 5);
    EXPECT_EQ(files.FileLen(dir.file("leer")), 0);
    EXPECT_EQ(ErrorOf([&] { files.FileLen(dir.file("fehlt.mdb")); }), err::FileNotFound);
    EXPECT_EQ(ErrorOf([&] { files.FileLen(dir.file("ordner.mdb")); }), err::FileNotFound);

    // A file someone holds open, as Jet holds a database, stays; so does a folder.
    HANDLE held =
        ::CreateFileA(dir.file("offen.mdb").c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(files.RemoveUnused(dir.file("offen.mdb")));
    EXPECT_FALSE(files.RemoveUnused(dir.file("ordner.mdb")));
    EXPECT_FALSE(files.RemoveUnused(dir.file("fehlt.mdb")));
    EXPECT_FALSE(files.RemoveUnused(dir.file("*.mdb")));
    EXPECT_TRUE(files.RemoveUnused(dir.file("01012024120000Dummy.mdb")));
    EXPECT_TRUE(FileExists(dir.file("offen.mdb")));
    ::CloseHandle(held);
    EXPECT_TRUE(files.RemoveUnused(dir.file("offen.mdb")));
    EXPECT_FALSE(FileExists(dir.file("offen.mdb")));
    EXPECT_FALSE(FileExists(dir.file("01012024120000Dummy.mdb")));

    ScopedCurrentDir back(files.CurDir());
    files.ChDir(dir.file("ordner.mdb"));
    EXPECT_EQ(files.CurDir(), dir.file("ordner.mdb"));
    EXPECT_EQ(ErrorOf([&] { files.ChDir(dir.file("fehlt")); }), err::PathNotFound);
    EXPECT_EQ(ErrorOf([&] { files.ChDir(dir.file("leer")); }), err::PathNotFound);
    EXPECT_EQ(files.CurDir(), dir.file("ordner.mdb")) << "a failed change stays where it was";
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
