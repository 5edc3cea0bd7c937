#include "platform/win32/win32_ui.h"

#include <algorithm>
#include <cctype>

#include "app/application.h"
#include "platform/win32/text.h"
#include "ports/error.h"

#include <windows.h>

namespace tarnu::win32 {

namespace {

constexpr const wchar_t* kFormClass = L"TarnuForm";
constexpr const wchar_t* kPictureClass = L"TarnuPicture";
constexpr const wchar_t* kOwnerClass = L"TarnuOwner";
// The property of a picture box that holds its bitmap.
constexpr const wchar_t* kPictureProperty = L"TarnuPicture";
// The font the twip layout was made for: 8 points of the dialog font, which Windows since 2000
// maps to Tahoma. The message font of Vista and later (Segoe UI 9 pt) cuts the
// descenders in the 17-pixel text boxes and needs more than the 33-pixel buttons for two lines.
constexpr const wchar_t* kDialogFont = L"MS Shell Dlg 2";
constexpr int kDialogFontPoints = 8;
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
    ::MessageBoxW(nullptr, WideFromUtf8(app::UncaughtErrorText(error)).c_str(),
                  WideFromUtf8(app::ApplicationTitle).c_str(), MB_OK | MB_ICONHAND | MB_TASKMODAL);
    ::PostQuitMessage(1);
}

LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(hwnd, &ps);
        RECT client;
        ::GetClientRect(hwnd, &client);
        ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        if (auto bitmap = static_cast<HBITMAP>(::GetPropW(hwnd, kPictureProperty))) {
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
        if (auto bitmap = static_cast<HBITMAP>(::RemovePropW(hwnd, kPictureProperty))) {
            ::DeleteObject(bitmap);
        }
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

// A label's width in pixels. Its caption may need more than the twips give it in the dialog font
// ("Quellverzeichnis" takes 88 pixels of Tahoma 8 pt where it has 81 at 96 dpi): then it takes
// the room up to the next control on its row, or the window's edge, rather than lose letters.
int LabelWidth(const ui::WindowDescription& desc, const ui::ControlDescription& label,
               const Win32UiPlatform& platform) {
    const int dpi = platform.Dpi();
    const int left = PixelsFromTwips(label.left, dpi);
    const int width = PixelsFromTwips(label.width, dpi);
    const std::wstring caption = WideFromUtf8(label.caption);
    HDC dc = ::GetDC(nullptr);
    const HGDIOBJ old = ::SelectObject(dc, static_cast<HFONT>(platform.Font()));
    SIZE text{};
    ::GetTextExtentPoint32W(dc, caption.data(), static_cast<int>(caption.size()), &text);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    if (text.cx <= width) {
        return width;
    }
    int room = PixelsFromTwips(desc.clientWidth, dpi) - left;
    for (const ui::ControlDescription& other : desc.controls) {
        const bool sameRow =
            other.top < label.top + label.height && label.top < other.top + other.height;
        if (sameRow && other.left >= label.left + label.width) {
            room = std::min(room, PixelsFromTwips(other.left, dpi) - left);
        }
    }
    return std::max(width, std::min(static_cast<int>(text.cx), room));
}

}  // namespace

// The window procedures, which reach the private parts of the window and the platform. Every
// window of the program is a Unicode one, and the loop gets and hands on its messages with the W
// functions: an ANSI window or loop would turn a typed character the code page lacks into a
// look-alike ("Ω" into "O") before the program could refuse it, and the copy would run on
// another folder.
struct WindowProcs {
    static LRESULT CALLBACK Form(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lp);
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* window = reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
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
        return ::DefWindowProcW(hwnd, msg, wp, lp);
    }

    static void Register() {
        static bool done = false;
        if (done) {
            return;
        }
        done = true;
        WNDCLASSEXW c{};
        c.cbSize = sizeof c;
        c.hInstance = Instance();
        c.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);

        c.lpfnWndProc = ::DefWindowProcW;
        c.lpszClassName = kOwnerClass;
        c.hIcon = ::LoadIconA(Instance(), "TARNU_ICON");
        ::RegisterClassExW(&c);

        c.lpfnWndProc = Form;
        c.lpszClassName = kFormClass;
        ::RegisterClassExW(&c);

        c.lpfnWndProc = PictureProc;
        c.lpszClassName = kPictureClass;
        c.hIcon = nullptr;
        ::RegisterClassExW(&c);
    }
};

int PixelsFromTwips(int twips, int dpi) {
    return ::MulDiv(twips, dpi, 1440);
}

void Win32MessageBoxes::Show(const std::string& text, int style, const std::string& title) {
    ::MessageBoxW(nullptr, WideFromUtf8(text).c_str(), WideFromUtf8(title).c_str(),
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
    LOGFONTW font{};
    font.lfHeight = -::MulDiv(kDialogFontPoints, dpi_, 72);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    ::lstrcpynW(font.lfFaceName, kDialogFont, LF_FACESIZE);
    font_ = ::CreateFontIndirectW(&font);
    if (!font_) {
        font_ = ::GetStockObject(DEFAULT_GUI_FONT);
    }
    // Never shown; owning the windows keeps them out of the taskbar without changing their frame.
    owner_ = ::CreateWindowExW(0, kOwnerClass, WideFromUtf8(app_.Title).c_str(), WS_POPUP, 0, 0, 0,
                               0, nullptr, nullptr, Instance(), nullptr);
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
    return ::IsDialogMessageW(top, msg) != FALSE;
}

int Win32UiPlatform::Run() {
    if (quitRequested_) {
        return exitCode_;
    }
    running_ = true;
    MSG msg;
    int code = 0;
    for (;;) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
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
            ::DispatchMessageW(&msg);
        }
    }
    running_ = false;
    quitRequested_ = true;
    exitCode_ = code;
    return code;
}

bool Win32UiPlatform::DispatchPending() {
    MSG msg;
    while (!quitRequested_ && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quitRequested_ = true;
            exitCode_ = static_cast<int>(msg.wParam);
            break;
        }
        if (!DialogMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
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
    hwnd_ = ::CreateWindowExW(exStyle, kFormClass, WideFromUtf8(desc.caption).c_str(), style, x, y,
                              width, height, owner, nullptr, Instance(), this);
    if (!hwnd_) {
        throw Error(err::OutOfMemory);
    }
    platform_.windows_.push_back(hwnd_);
    if (!desc.icon.empty()) {
        HICON icon = ::LoadIconA(Instance(), ResourceName(desc.icon).c_str());
        ::SendMessageW(H(hwnd_), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        ::SendMessageW(H(hwnd_), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
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
        const int w = c->kind == ui::ControlKind::Label ? LabelWidth(desc, *c, platform_)
                                                        : PixelsFromTwips(c->width, dpi);
        const int h = PixelsFromTwips(c->height, dpi);
        const auto menu = reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
        const std::wstring caption = WideFromUtf8(c->caption);
        HWND control = nullptr;
        switch (c->kind) {
            case ui::ControlKind::Button:
                control = ::CreateWindowExW(
                    0, L"BUTTON", caption.c_str(),
                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_MULTILINE, left, top, w,
                    h, H(hwnd_), menu, Instance(), nullptr);
                break;
            case ui::ControlKind::TextBox:
                // The text reaches an A function only through the checked conversion of the
                // call that uses it.
                control =
                    ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", caption.c_str(),
                                      WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL,
                                      left, top, w, h, H(hwnd_), menu, Instance(), nullptr);
                break;
            case ui::ControlKind::Label:
                control = ::CreateWindowExW(0, L"STATIC", caption.c_str(),
                                            WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, left,
                                            top, w, h, H(hwnd_), menu, Instance(), nullptr);
                break;
            case ui::ControlKind::PictureBox:
                control = ::CreateWindowExW(WS_EX_CLIENTEDGE, kPictureClass, L"",
                                            WS_CHILD | WS_VISIBLE | WS_TABSTOP, left, top, w, h,
                                            H(hwnd_), menu, Instance(), nullptr);
                if (control && !c->picture.empty()) {
                    HANDLE bitmap = ::LoadImageA(Instance(), ResourceName(c->picture).c_str(),
                                                 IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
                    ::SetPropW(control, kPictureProperty, bitmap);
                }
                break;
        }
        if (!control) {
            throw Error(err::OutOfMemory);
        }
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(platform_.font_), FALSE);
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
    ::SetWindowLongPtrW(H(hwnd_), GWLP_USERDATA, 0);
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
