#include "tests/win32/wine_test_support.h"

#include <random>

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
    bool hasText = false;
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
            parts->hasText = true;
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

bool KeyExists(std::uint32_t hive, const std::string& key) {
    HKEY h = nullptr;
    if (::RegOpenKeyExA(Root(hive), key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) {
        return false;
    }
    ::RegCloseKey(h);
    return true;
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

std::string ThisProgram() {
    char path[MAX_PATH * 2] = {};
    ::GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

}  // namespace tarnu::test
