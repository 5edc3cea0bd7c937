#include "tests/win32/wine_test_support.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

#include <windows.h>

#include <objbase.h>
#include <shlwapi.h>

namespace tarnu::test {

namespace {

HKEY Root(std::uint32_t hive) {
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(hive)));
}

MessageBoxCatcher* g_catcher = nullptr;
HHOOK g_hook = nullptr;
HWND g_box = nullptr;

// Runs in the box's own message loop, once the box is fully built: reads it, then answers OK.
void CALLBACK ReadBox(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    HWND hwnd = std::exchange(g_box, nullptr);
    if (!hwnd || !::IsWindow(hwnd) || !g_catcher) {
        return;
    }
    char title[256] = {}, text[2048] = {};
    ::GetWindowTextA(hwnd, title, sizeof title);
    ::GetDlgItemTextA(hwnd, 0xFFFF, text, sizeof text);
    g_catcher->boxes.push_back(std::string(title) + ": " + text);
    ::PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
}

LRESULT CALLBACK CbtHook(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_ACTIVATE && g_catcher) {
        HWND hwnd = reinterpret_cast<HWND>(wp);
        char cls[64] = {};
        ::GetClassNameA(hwnd, cls, sizeof cls);
        if (lstrcmpA(cls, "#32770") == 0 && g_box != hwnd) {
            g_box = hwnd;
            ::SetTimer(nullptr, 0, 20, ReadBox);
        }
    }
    return ::CallNextHookEx(g_hook, code, wp, lp);
}

HANDLE InheritableFile(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                         nullptr);
}

std::string ReadAll(HANDLE file) {
    std::string bytes;
    ::SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD n = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        bytes.append(buffer, n);
    }
    ::CloseHandle(file);
    return bytes;
}

}  // namespace

// The variables are the tests' own, which nobody else sets: they go again once it started.
void* StartProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::pair<std::string, std::string>>& env, void* out,
                   void* err) {
    std::string line = "\"" + program + "\"";
    for (const std::string& arg : args) {
        line += " \"" + arg + "\"";
    }
    for (const auto& [name, value] : env) {
        ::SetEnvironmentVariableA(name.c_str(), value.c_str());
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const BOOL started = ::CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                          nullptr, nullptr, &startup, &process);
    for (const auto& [name, value] : env) {
        ::SetEnvironmentVariableA(name.c_str(), nullptr);
    }
    if (!started) {
        return nullptr;
    }
    ::CloseHandle(process.hThread);
    return process.hProcess;
}

MessageBoxCatcher::MessageBoxCatcher() {
    g_catcher = this;
    g_hook = ::SetWindowsHookExA(WH_CBT, CbtHook, nullptr, ::GetCurrentThreadId());
}

MessageBoxCatcher::~MessageBoxCatcher() {
    ::UnhookWindowsHookEx(g_hook);
    g_catcher = nullptr;
}

std::optional<StoredValue> ReadValue(std::uint32_t hive, const std::string& key,
                                     const std::string& name) {
    DWORD type = 0;
    std::string bytes(4096, '\0');
    DWORD size = static_cast<DWORD>(bytes.size());
    if (::SHGetValueA(Root(hive), key.c_str(), name.c_str(), &type, bytes.data(), &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    bytes.resize(size);
    return StoredValue{type, bytes};
}

void DeleteKeyTree(std::uint32_t hive, const std::string& key) {
    ::SHDeleteKeyA(Root(hive), key.c_str());
}

void RemoveSecurityValues() {
    DeleteKeyTree(0x80000001u, "Software\\Microsoft\\Office\\11.0");
    DeleteKeyTree(0x80000002u, "Software\\Microsoft\\Jet");
}

void ExpectSecurityValuesWritten() {
    const std::string access = "Software\\Microsoft\\Office\\11.0\\Access";
    const auto dword = [](std::uint32_t v) {
        return StoredValue{REG_DWORD, std::string(reinterpret_cast<const char*>(&v), 4)};
    };
    EXPECT_EQ(ReadValue(0x80000001u, access, "Security"), dword(1));
    EXPECT_EQ(ReadValue(0x80000001u, access + "\\Security", "level"), dword(1));
    EXPECT_EQ(ReadValue(0x80000002u, "Software\\Microsoft\\Jet\\4.0\\Engines", "SandboxMode"),
              dword(2));
}

std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> Snapshot(
    const std::string& dir) {
    std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            files[entry.path().string()] = {ReadFile(entry.path().string()),
                                            entry.last_write_time()};
        }
    }
    return files;
}

std::string BuiltProgram(const std::string& fileName) {
    char self[MAX_PATH * 2] = {};
    ::GetModuleFileNameA(nullptr, self, sizeof self);
    const std::string path = self;
    return path.substr(0, path.find_last_of('\\') + 1) + fileName;
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::pair<std::string, std::string>>& env,
                      unsigned long timeoutMs) {
    char folder[MAX_PATH] = {};
    ::GetTempPathA(sizeof folder, folder);
    static int counter = 0;
    const std::string base = std::string(folder) + "tarnu-run-" +
                             std::to_string(::GetCurrentProcessId()) + "-" +
                             std::to_string(++counter);
    HANDLE out = InheritableFile(base + ".out");
    HANDLE err = InheritableFile(base + ".err");
    const unsigned long code = EndProgram(StartProgram(program, args, env, out, err), timeoutMs);
    return {code, ReadAll(out), ReadAll(err)};
}

void* StartProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::pair<std::string, std::string>>& env) {
    return StartProgram(program, args, env, nullptr, nullptr);
}

unsigned long EndProgram(void* process, unsigned long timeoutMs) {
    if (!process) {
        return ~0ul;
    }
    if (::WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process, 999);
        ::WaitForSingleObject(process, 5000);
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process, &code);
    ::CloseHandle(process);
    return code;
}

}  // namespace tarnu::test
