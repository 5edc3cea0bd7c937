// The shared shell-copy cases against Wine's SHFileOperationA, through the Windows shell port.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "platform/win32/win32_shell.h"
#include "tests/copy_cases/shell_copy_cases.h"
#include "tests/copy_cases/tree_files.h"
#include "tests/support/recording_message_boxes.h"
#include "tests/support/temp_dir.h"
#include "tests/win32/wine_test_support.h"
#include "update/shell_copy.h"

#include <windows.h>

namespace tarnu::test {
namespace {

using copycases::Kind;

std::string Native(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Symbolic links are made and read on the Unix side: Wine's CreateSymbolicLink does nothing,
// but Wine starts Unix programs, and the scratch folder has a Unix path.
std::string UnixPath(const std::string& windowsPath) {
    using Convert = char*(CDECL*)(const wchar_t*);
    static const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    const std::wstring wide(windowsPath.begin(), windowsPath.end());
    char* unix = convert(wide.c_str());
    const std::string path = unix ? unix : "";
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return path;
}

std::string ShellQuoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// Runs a shell command line (without double quotes) on the Unix side and waits for it. Wine
// hands a Unix program no process to wait for, so the command leaves a mark when it is done.
void RunUnix(const std::string& command) {
    char folder[MAX_PATH] = {};
    ::GetTempPathA(sizeof folder, folder);
    const std::string mark = std::string(folder) + "tarnu-unix-done";
    ::DeleteFileA(mark.c_str());
    std::string line =
        "Z:\\bin\\sh -c \"" + command + "; : > " + ShellQuoted(UnixPath(mark)) + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process));
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    for (int waited = 0; !FileExists(mark) && waited < 30000; waited += 10) {
        ::Sleep(10);
    }
    ASSERT_TRUE(::DeleteFileA(mark.c_str())) << command;
}

// Where links are involved, the Unix side tells which names are links and where they lead.
copycases::Tree ReadTree(const std::string& dir, bool links) {
    if (!links) {
        return copycases::ReadTree(dir);
    }
    const std::string listing = dir + "\\..\\listing.txt";
    RunUnix("cd " + ShellQuoted(UnixPath(dir)) + " && find . -mindepth 1 -printf '%y %P %l\\n' > " +
            ShellQuoted(UnixPath(listing)));
    std::istringstream lines(ReadFile(listing));
    ::DeleteFileA(listing.c_str());
    copycases::Tree tree;
    std::string type, path, target;
    while (lines >> type >> path) {
        if (type == "l" && lines >> target) {
            tree.push_back(copycases::Link(path, target));
        } else if (type == "d") {
            tree.push_back(copycases::Folder(path));
        } else {
            tree.push_back(copycases::File(path, ReadFile(dir + "\\" + Native(path))));
        }
    }
    std::sort(tree.begin(), tree.end());
    return tree;
}

// Hands the request on to the shell and keeps what it answered.
class RecordingShell : public ShellApi {
  public:
    explicit RecordingShell(ShellApi& shell) : shell_(shell) {}
    int SHFileOperationA(SHFILEOPSTRUCTA& request) override {
        status = static_cast<std::uint32_t>(shell_.SHFileOperationA(request));
        aborted = request.fAnyOperationsAborted;
        return static_cast<int>(status);
    }
    std::uint32_t status = ~0u;
    bool aborted = false;

  private:
    ShellApi& shell_;
};

// Each case as the update's copy command runs it, on Wine: its rule where Wine agrees, else
// Wine's outcome as the table records it.
TEST(WineShellCopyRules, EveryCaseGivesItsStatusAndTree) {
    MessageBoxCatcher catcher;
    for (const copycases::Case& c : copycases::ShellCopyCases()) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ScopedCurrentDir inScratch(dir.path());
        copycases::MakeTree(dir.path(), c.setup, [](const std::string& to, const std::string& at) {
            RunUnix("ln -s " + ShellQuoted(to) + " " + ShellQuoted(UnixPath(at)));
        });
        RecordingMessageBoxes boxes;
        win32::Win32Shell windowsShell(boxes);
        RecordingShell shell(windowsShell);
        const auto scratch = [&](const std::string& path) {
            return path.empty() ? path : dir.path() + "\\" + Native(path);
        };
        const bool ok = update::ShellCopy(shell, scratch(c.source), scratch(c.target));
        const bool links =
            std::any_of(c.setup.begin(), c.setup.end(),
                        [](const copycases::Entry& e) { return e.kind == Kind::Link; });

        const std::uint32_t status = c.wine ? c.wine->status : c.status;
        const bool aborted = c.wine && c.wine->aborted;
        copycases::Tree expected = c.wine ? c.wine->result.value_or(c.setup) : c.result;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(shell.status, status);
        EXPECT_EQ(shell.aborted, aborted);
        EXPECT_EQ(ok, status == copycases::kOk && !aborted);
        EXPECT_EQ(ReadTree(dir.path(), links), expected);
        EXPECT_TRUE(boxes.boxes.empty());
        EXPECT_TRUE(catcher.boxes.empty()) << catcher.boxes.front();
        catcher.boxes.clear();
        if (links) {
            // Wine shows links as what they lead to, which a removal from this side would
            // follow.
            RunUnix("rm -rf " + ShellQuoted(UnixPath(dir.path())) + "/*");
        }
    }
}

}  // namespace
}  // namespace tarnu::test
