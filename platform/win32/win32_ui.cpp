#include "platform/win32/win32_ui.h"

#include <algorithm>
#include <cctype>

#include "app/application.h"
#include "platform/win32/text.h"
#include "ports/error.h"

#include <windows.h>

namespace tarnu::win32 {

namespace {

constexpr const char* kFormClass = "TarnuForm";
constexpr const char* kPictureClass = "TarnuPicture";
constexpr const char* kOwnerClass = "TarnuOwner";
// The property of a picture box that holds its bitmap.
constexpr const char* kPictureProperty = "TarnuPicture";
constexpr int kFirstControlId = 100;

HINSTANCE Instance() {
    return ::GetModuleHandleA(nullptr);
}

HWND H(void* p) {
    return static_cast<HWND>(p);
}

// A resource name from an artwork file name: "banner.gif" is the resource TARNU_BANNER.
std::string ResourceName(const std::string& file) {
    std::string name = "TARNU_" + file.substr(0, file.find('.'));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return name;
}

// The last resort for an error that escaped every handler of the program: the standard message,
// then the end of the program.
void ReportUncaught() {
    const Error error = CurrentError();
    ::MessageBoxA(nullptr, AnsiForDisplay(app::UncaughtErrorText(error)).c_str(),
                  app::ApplicationTitle, MB_OK | MB_ICONHAND | MB_TASKMODAL);
    ::PostQuitMessage(1);
}

LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(hwnd, &ps);
        RECT client;
        ::GetClientRect(hwnd, &client);
        ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        if (auto bitmap = static_cast<HBITMAP>(::GetPropA(hwnd, kPictureProperty))) {
            BITMAP info{};
            ::GetObjectA(bitmap, sizeof info, &info);
            HDC memory = ::CreateCompatibleDC(dc);
            HGDIOBJ old = ::SelectObject(memory, bitmap);
            ::BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
            ::SelectObject(memory, old);
            ::DeleteDC(memory);
        }
        ::EndPaint(hwnd, &ps);
        return 0;
    }
    if (msg == WM_LBUTTONDOWN) {
        ::SetFocus(hwnd);
        return 0;
    }
    if (msg == WM_NCDESTROY) {
        if (auto bitmap = static_cast<HBITMAP>(::RemovePropA(hwnd, kPictureProperty))) {
            ::DeleteObject(bitmap);
        }
    }
    return ::DefWindowProcA(hwnd, msg, wp, lp);
}

}  // namespace

// The window procedures, which reach the private parts of the window and the platform.
struct WindowProcs {
    static LRESULT CALLBACK Form(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTA*>(lp);
            ::SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* window = reinterpret_cast<Win32Window*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (window) {
            try {
                bool handled = false;
                const LRESULT result = window->OnMessage(msg, wp, lp, handled);
                if (handled) {
                    return result;
                }
            } catch (...) {
                ReportUncaught();
                return 0;
            }
        }
        return ::DefWindowProcA(hwnd, msg, wp, lp);
    }

    static void Register() {
        static bool done = false;
        if (done) {
            return;
        }
        done = true;
        WNDCLASSEXA c{};
        c.cbSize = sizeof c;
        c.hInstance = Instance();
        c.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);

        c.lpfnWndProc = ::DefWindowProcA;
        c.lpszClassName = kOwnerClass;
        c.hIcon = ::LoadIconA(Instance(), "TARNU_ICON");
        ::RegisterClassExA(&c);

        c.lpfnWndProc = Form;
        c.lpszClassName = kFormClass;
        ::RegisterClassExA(&c);

        c.lpfnWndProc = PictureProc;
        c.lpszClassName = kPictureClass;
        c.hIcon = nullptr;
        ::RegisterClassExA(&c);
    }
};

int PixelsFromTwips(int twips, int dpi) {
    return ::MulDiv(twips, dpi, 1440);
}

void Win32MessageBoxes::Show(const std::string& text, int style, const std::string& title) {
    ::MessageBoxA(nullptr, AnsiForDisplay(text).c_str(), AnsiForDisplay(title).c_str(),
                  static_cast<UINT>(style) | MB_TASKMODAL | MB_SETFOREGROUND);
}

Win32UiPlatform::Win32UiPlatform(ui::AppObject app) : app_(std::move(app)) {
    WindowProcs::Register();
    HDC screen = ::GetDC(nullptr);
    dpi_ = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    if (dpi_ <= 0) {
        dpi_ = 96;
    }
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        font_ = ::CreateFontIndirectA(&metrics.lfMessageFont);
    }
    if (!font_) {
        font_ = ::GetStockObject(DEFAULT_GUI_FONT);
    }
    // Never shown; owning the windows keeps them out of the taskbar without changing their frame.
    owner_ = ::CreateWindowExA(0, kOwnerClass, AnsiForDisplay(app_.Title).c_str(), WS_POPUP, 0, 0,
                               0, 0, nullptr, nullptr, Instance(), nullptr);
}

Win32UiPlatform::~Win32UiPlatform() {
    if (owner_) {
        ::DestroyWindow(H(owner_));
    }
    if (font_ && font_ != ::GetStockObject(DEFAULT_GUI_FONT)) {
        ::DeleteObject(static_cast<HFONT>(font_));
    }
}

std::unique_ptr<ui::NativeWindow> Win32UiPlatform::MakeWindow(const ui::WindowDescription& desc,
                                                              ui::WindowEvents& events) {
    return std::make_unique<Win32Window>(*this, desc, events);
}

bool Win32UiPlatform::DialogMessage(void* raw) {
    MSG* msg = static_cast<MSG*>(raw);
    if (!msg->hwnd) {
        return false;
    }
    HWND top = ::GetAncestor(msg->hwnd, GA_ROOT);
    if (std::find(windows_.begin(), windows_.end(), top) == windows_.end()) {
        return false;
    }
    return ::IsDialogMessageA(top, msg) != FALSE;
}

int Win32UiPlatform::Run() {
    if (quitRequested_) {
        return exitCode_;
    }
    running_ = true;
    MSG msg;
    int code = 0;
    for (;;) {
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            code = static_cast<int>(msg.wParam);
            break;
        }
        if (got == -1) {
            code = 1;
            break;
        }
        if (!DialogMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
    running_ = false;
    quitRequested_ = true;
    exitCode_ = code;
    return code;
}

bool Win32UiPlatform::DispatchPending() {
    MSG msg;
    while (!quitRequested_ && ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quitRequested_ = true;
            exitCode_ = static_cast<int>(msg.wParam);
            break;
        }
        if (!DialogMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
    return !quitRequested_;
}

void Win32UiPlatform::Quit(int exitCode) {
    if (quitRequested_) {
        return;
    }
    exitCode_ = exitCode;
    if (running_) {
        ::PostQuitMessage(exitCode);
    } else {
        quitRequested_ = true;
    }
}

Win32Window::Win32Window(Win32UiPlatform& platform, const ui::WindowDescription& desc,
                         ui::WindowEvents& events)
    : platform_(platform), events_(events) {
    const int dpi = platform_.Dpi();
    const bool tool = desc.frame == ui::FrameStyle::FixedToolWindow;
    // A caption with the close box only: no minimise or maximise box, no sizing border.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_CONTROLPARENT | (tool ? WS_EX_TOOLWINDOW : WS_EX_DLGMODALFRAME);
    RECT frame{0, 0, PixelsFromTwips(desc.clientWidth, dpi),
               PixelsFromTwips(desc.clientHeight, dpi)};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    int x = CW_USEDEFAULT;
    int y = CW_USEDEFAULT;
    if (desc.centred) {
        RECT area{};
        ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        x = area.left + (area.right - area.left - width) / 2;
        y = area.top + (area.bottom - area.top - height) / 2;
    }
    if (desc.backColor) {
        const std::uint32_t rgb = *desc.backColor;
        brush_ = ::CreateSolidBrush(RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
    }
    HWND owner = desc.showInTaskbar ? nullptr : H(platform_.owner_);
    hwnd_ = ::CreateWindowExA(exStyle, kFormClass, AnsiForDisplay(desc.caption).c_str(), style, x,
                              y, width, height, owner, nullptr, Instance(), this);
    if (!hwnd_) {
        throw Error(err::OutOfMemory);
    }
    platform_.windows_.push_back(hwnd_);
    if (!desc.icon.empty()) {
        HICON icon = ::LoadIconA(Instance(), ResourceName(desc.icon).c_str());
        ::SendMessageA(H(hwnd_), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        ::SendMessageA(H(hwnd_), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }

    // Created in tab order, which is the order IsDialogMessage walks with the Tab key.
    std::vector<const ui::ControlDescription*> byTab;
    for (const auto& c : desc.controls) {
        byTab.push_back(&c);
    }
    std::stable_sort(byTab.begin(), byTab.end(),
                     [](auto* a, auto* b) { return a->tabIndex < b->tabIndex; });
    for (const ui::ControlDescription* c : byTab) {
        const int id = kFirstControlId + static_cast<int>(names_.size());
        const int left = PixelsFromTwips(c->left, dpi);
        const int top = PixelsFromTwips(c->top, dpi);
        const int w = PixelsFromTwips(c->width, dpi);
        const int h = PixelsFromTwips(c->height, dpi);
        const auto menu = reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
        const std::string caption = AnsiForDisplay(c->caption);
        HWND control = nullptr;
        switch (c->kind) {
            case ui::ControlKind::Button:
                control = ::CreateWindowExA(
                    0, "BUTTON", caption.c_str(),
                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_MULTILINE, left, top, w,
                    h, H(hwnd_), menu, Instance(), nullptr);
                break;
            case ui::ControlKind::TextBox:
                // A Unicode edit control: an ANSI one would turn a typed or pasted character
                // the code page lacks into "?" before the program could see it, and a "?" in
                // a path is a wildcard. The text reaches Windows only through the checked
                // conversion of the call that uses it.
                control =
                    ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", WideFromUtf8(c->caption).c_str(),
                                      WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL,
                                      left, top, w, h, H(hwnd_), menu, Instance(), nullptr);
                break;
            case ui::ControlKind::Label:
                control = ::CreateWindowExA(0, "STATIC", caption.c_str(),
                                            WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, left,
                                            top, w, h, H(hwnd_), menu, Instance(), nullptr);
                break;
            case ui::ControlKind::PictureBox:
                control = ::CreateWindowExA(WS_EX_CLIENTEDGE, kPictureClass, "",
                                            WS_CHILD | WS_VISIBLE | WS_TABSTOP, left, top, w, h,
                                            H(hwnd_), menu, Instance(), nullptr);
                if (control && !c->picture.empty()) {
                    HANDLE bitmap = ::LoadImageA(Instance(), ResourceName(c->picture).c_str(),
                                                 IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
                    ::SetPropA(control, kPictureProperty, bitmap);
                }
                break;
        }
        if (!control) {
            throw Error(err::OutOfMemory);
        }
        ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(platform_.font_), FALSE);
        names_.push_back(c->name);
        controls_[c->name] = control;
        if (firstFocus_.empty() && c->kind != ui::ControlKind::Label) {
            firstFocus_ = c->name;
        }
    }
}

Win32Window::~Win32Window() {
    auto& list = platform_.windows_;
    list.erase(std::remove(list.begin(), list.end(), hwnd_), list.end());
    // The window may be going away from inside one of its own messages (a click that unloads
    // it); with the link to this object cut first, no later message reaches it.
    ::SetWindowLongPtrA(H(hwnd_), GWLP_USERDATA, 0);
    ::DestroyWindow(H(hwnd_));
    if (brush_) {
        ::DeleteObject(static_cast<HBRUSH>(brush_));
    }
}

void Win32Window::Show() {
    HWND hwnd = H(hwnd_);
    if (::IsWindowVisible(hwnd)) {
        ::SetForegroundWindow(hwnd);
        ::BringWindowToTop(hwnd);
        return;
    }
    ::ShowWindow(hwnd, SW_SHOWNORMAL);
    ::SetForegroundWindow(hwnd);
    if (!shownOnce_) {
        shownOnce_ = true;
        auto it = controls_.find(firstFocus_);
        if (it != controls_.end()) {
            ::SetFocus(H(it->second));
            lastFocus_ = it->second;
        }
    }
    ::UpdateWindow(hwnd);
}

std::intptr_t Win32Window::ControlHandle(const std::string& control) const {
    auto it = controls_.find(control);
    return it == controls_.end() ? 0 : reinterpret_cast<std::intptr_t>(it->second);
}

std::string Win32Window::Text(const std::string& control) {
    auto it = controls_.find(control);
    if (it == controls_.end()) {
        return "";
    }
    HWND hwnd = H(it->second);
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
    const int n = ::GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(std::max(n, 0)));
    return Utf8FromWide(text);
}

void Win32Window::SetText(const std::string& control, const std::string& text) {
    auto it = controls_.find(control);
    if (it != controls_.end()) {
        ::SetWindowTextW(H(it->second), WideFromUtf8(BeforeNul(text)).c_str());
    }
}

void Win32Window::SetBusy(bool busy) {
    busy_ = busy;
    ::SetCursor(::LoadCursorA(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

std::intptr_t Win32Window::Handle() {
    return reinterpret_cast<std::intptr_t>(hwnd_);
}

std::intptr_t Win32Window::OnMessage(unsigned msg, std::uintptr_t wp, std::intptr_t lp,
                                     bool& handled) {
    handled = true;
    switch (msg) {
        case WM_COMMAND: {
            const int id = LOWORD(wp);
            if (HIWORD(wp) == BN_CLICKED && lp != 0 && id >= kFirstControlId &&
                id - kFirstControlId < static_cast<int>(names_.size())) {
                // The handler may unload the window and so destroy this object.
                const std::string name = names_[static_cast<std::size_t>(id - kFirstControlId)];
                ui::WindowEvents& events = events_;
                events.Click(name);
            }
            // IDOK and IDCANCEL from the dialog manager (Enter, Escape) mean nothing here.
            return 0;
        }
        case WM_CLOSE: {
            ui::WindowEvents& events = events_;
            events.CloseRequested();
            return 0;
        }
        case WM_ACTIVATE:
            // Keyboard focus goes back to where it was when the window is activated again.
            if (LOWORD(wp) == WA_INACTIVE) {
                HWND focus = ::GetFocus();
                if (focus && ::IsChild(H(hwnd_), focus)) {
                    lastFocus_ = focus;
                }
            } else if (lastFocus_ && ::IsWindow(H(lastFocus_))) {
                ::SetFocus(H(lastFocus_));
            }
            return 0;
        case WM_SETCURSOR:
            if (busy_) {
                ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
                return TRUE;
            }
            break;
        case WM_ERASEBKGND: {
            RECT client;
            ::GetClientRect(H(hwnd_), &client);
            HBRUSH brush = brush_ ? static_cast<HBRUSH>(brush_) : ::GetSysColorBrush(COLOR_BTNFACE);
            ::FillRect(reinterpret_cast<HDC>(wp), &client, brush);
            return 1;
        }
        case WM_CTLCOLORSTATIC:
            // Labels stand on the window's own background.
            if (brush_) {
                LOGBRUSH info{};
                ::GetObjectA(static_cast<HBRUSH>(brush_), sizeof info, &info);
                ::SetBkColor(reinterpret_cast<HDC>(wp), info.lbColor);
                return reinterpret_cast<std::intptr_t>(brush_);
            }
            break;
        default:
            break;
    }
    handled = false;
    return 0;
}

}  // namespace tarnu::win32
