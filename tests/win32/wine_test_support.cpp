#include "tests/win32/wine_test_support.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "tests/support/temp_dir.h"

#include <windows.h>

#include <objbase.h>

namespace tarnu::test {

namespace {

HKEY Root(std::uint32_t hive) {
    return hive == 0x80000002u ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

MessageBoxCatcher* g_catcher = nullptr;
HHOOK g_hook = nullptr;

std::string WindowText(HWND hwnd) {
    char text[2048] = {};
    ::GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

struct BoxParts {
    std::string text;
    MessageBoxCatcher::Icon icon = MessageBoxCatcher::Icon::None;
    int buttons = 0;
};

BOOL CALLBACK CollectPart(HWND child, LPARAM lp) {
    auto* parts = reinterpret_cast<BoxParts*>(lp);
    char cls[64] = {};
    ::GetClassNameA(child, cls, sizeof cls);
    const LONG style = ::GetWindowLongA(child, GWL_STYLE);
    if (!(style & WS_VISIBLE)) {
        return TRUE;  // parts a box keeps hidden, such as buttons it does not use
    }
    if (lstrcmpiA(cls, "Button") == 0) {
        ++parts->buttons;
    } else if (lstrcmpiA(cls, "Static") == 0) {
        HICON icon = reinterpret_cast<HICON>(::SendMessageA(child, STM_GETICON, 0, 0));
        if ((style & SS_TYPEMASK) == SS_ICON || icon) {
            if (icon == ::LoadIconA(nullptr, IDI_HAND)) {
                parts->icon = MessageBoxCatcher::Icon::Critical;
            } else if (icon == ::LoadIconA(nullptr, IDI_ASTERISK)) {
                parts->icon = MessageBoxCatcher::Icon::Information;
            } else if (icon) {
                parts->icon = MessageBoxCatcher::Icon::Other;
            }
        } else {
            parts->text = WindowText(child);
        }
    }
    return TRUE;
}

HWND g_box = nullptr;

// Runs in the box's own message loop, once the box is fully built: reads it, then answers OK.
void CALLBACK ReadBox(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    HWND hwnd = g_box;
    g_box = nullptr;
    if (!hwnd || !::IsWindow(hwnd) || !g_catcher) {
        return;
    }
    BoxParts parts;
    ::EnumChildWindows(hwnd, CollectPart, reinterpret_cast<LPARAM>(&parts));
    g_catcher->boxes.push_back({WindowText(hwnd), parts.text, parts.icon, parts.buttons});
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

}  // namespace

ComScope::ComScope() {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

ComScope::~ComScope() {
    ::CoUninitialize();
}

MessageBoxCatcher::MessageBoxCatcher() {
    g_catcher = this;
    g_hook = ::SetWindowsHookExA(WH_CBT, CbtHook, nullptr, ::GetCurrentThreadId());
}

MessageBoxCatcher::~MessageBoxCatcher() {
    ::UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
    g_catcher = nullptr;
}

ScratchKey::ScratchKey(const std::string& name) {
    std::random_device seed;
    path_ = "Software\\TarnuTest\\" + name + "-" + std::to_string(seed() % 1000000);
    DeleteKeyTree(0x80000001u, path_);
}

ScratchKey::~ScratchKey() {
    DeleteKeyTree(0x80000001u, path_);
}

std::optional<StoredValue> ReadValue(std::uint32_t hive, const std::string& key,
                                     const std::string& name) {
    HKEY h = nullptr;
    if (::RegOpenKeyExA(Root(hive), key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD type = 0;
    DWORD size = 0;
    std::optional<StoredValue> out;
    if (::RegQueryValueExA(h, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::string bytes(size, '\0');
        if (::RegQueryValueExA(h, name.c_str(), nullptr, &type,
                               reinterpret_cast<BYTE*>(bytes.data()), &size) == ERROR_SUCCESS) {
            bytes.resize(size);
            out = StoredValue{type, bytes};
        }
    }
    ::RegCloseKey(h);
    return out;
}

void DeleteKeyTree(std::uint32_t hive, const std::string& key) {
    HKEY h = nullptr;
    if (::RegOpenKeyExA(Root(hive), key.c_str(), 0, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS) {
        return;
    }
    char sub[256];
    while (::RegEnumKeyA(h, 0, sub, sizeof sub) == ERROR_SUCCESS) {
        DeleteKeyTree(hive, key + "\\" + sub);
    }
    ::RegCloseKey(h);
    ::RegDeleteKeyA(Root(hive), key.c_str());
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

std::string ThisProgram() {
    char path[MAX_PATH * 2] = {};
    ::GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

std::string BuiltProgram(const std::string& fileName) {
    const std::string self = ThisProgram();
    return self.substr(0, self.find_last_of('\\') + 1) + fileName;
}

namespace {

// The command line that hands exactly these arguments to the program's argument parser.
std::string CommandLine(const std::string& program, const std::vector<std::string>& args) {
    std::string line = "\"" + program + "\"";
    for (const std::string& arg : args) {
        line += " \"";
        std::size_t backslashes = 0;
        for (const char c : arg) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            // Backslashes count only before a quote, where each must be doubled.
            line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        line.append(2 * backslashes, '\\');
        line += '"';
    }
    return line;
}

// Sets variables for the lifetime of the object, and then puts back what was there.
class ScopedEnvironment {
  public:
    explicit ScopedEnvironment(const std::vector<std::pair<std::string, std::string>>& env) {
        for (const auto& [name, value] : env) {
            char old[32768];
            const DWORD n = ::GetEnvironmentVariableA(name.c_str(), old, sizeof old);
            saved_.push_back(
                {name, n > 0 && n < sizeof old ? std::optional<std::string>(old) : std::nullopt});
            ::SetEnvironmentVariableA(name.c_str(), value.c_str());
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            ::SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
        }
    }

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

HANDLE InheritableFile(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
}

std::string ReadAll(HANDLE file) {
    std::string bytes;
    ::SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD n = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        bytes.append(buffer, n);
    }
    return bytes;
}

HANDLE Start(const std::string& program, const std::vector<std::string>& args,
             const std::vector<std::pair<std::string, std::string>>& env, HANDLE out, HANDLE err) {
    ScopedEnvironment scoped(env);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    std::string line = CommandLine(program, args);
    if (!::CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return nullptr;
    }
    ::CloseHandle(process.hThread);
    return process.hProcess;
}

}  // namespace

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
    ProgramRun run;
    HANDLE process = Start(program, args, env, out, err);
    run.timedOut = process && ::WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0;
    run.exitCode = EndProgram(process, 0);
    run.out = ReadAll(out);
    run.err = ReadAll(err);
    ::CloseHandle(out);
    ::CloseHandle(err);
    ::DeleteFileA((base + ".out").c_str());
    ::DeleteFileA((base + ".err").c_str());
    return run;
}

void* StartProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::pair<std::string, std::string>>& env) {
    return Start(program, args, env, nullptr, nullptr);
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
