#pragma once

// Windows, message boxes and the message loop on user32. A window is drawn from its
// description as a Unicode window: twips become pixels at the screen's real dots per inch, in
// the 8-point dialog font the layout was made for; controls are created in tab order (which is
// the order the keyboard walks), and the loop hands every message for one of them to
// IsDialogMessageW first, so that Tab, Shift+Tab and the space bar behave as in a dialog.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ports/ui.h"

namespace tarnu::win32 {

// twips at dpi dots per inch, rounded to the nearest pixel.
int PixelsFromTwips(int twips, int dpi);

// MessageBoxW with the style asked for, task-modal: while it is open no window of the program
// takes input, so no second action can start under it.
class Win32MessageBoxes : public ui::MessageBoxes {
  public:
    void Show(const std::string& text, int style, const std::string& title) override;
};

class Win32Window;

class Win32UiPlatform : public ui::UiPlatform {
  public:
    explicit Win32UiPlatform(ui::AppObject app);
    ~Win32UiPlatform() override;
    Win32UiPlatform(const Win32UiPlatform&) = delete;
    Win32UiPlatform& operator=(const Win32UiPlatform&) = delete;

    const ui::AppObject& App() override { return app_; }
    std::unique_ptr<ui::NativeWindow> MakeWindow(const ui::WindowDescription& desc,
                                                 ui::WindowEvents& events) override;
    int Run() override;
    void Quit(int exitCode) override;

    // Handles the messages already waiting, as Run does, and returns; false once Quit was
    // called. For driving the windows step by step.
    bool DispatchPending();
    bool QuitRequested() const { return quitRequested_; }

    // The screen's dots per inch, which the layout is drawn at.
    int Dpi() const { return dpi_; }
    // The HFONT of the controls.
    void* Font() const { return font_; }

  private:
    friend class Win32Window;
    friend struct WindowProcs;
    // Hands a message for one of our windows to the dialog manager; true when it took it.
    bool DialogMessage(void* msg);

    ui::AppObject app_;
    int dpi_ = 96;
    void* font_ = nullptr;   // HFONT of the controls
    void* owner_ = nullptr;  // HWND of the hidden owner that keeps windows out of the taskbar
    std::vector<void*> windows_;
    bool running_ = false;
    bool quitRequested_ = false;
    int exitCode_ = 0;
};

class Win32Window : public ui::NativeWindow {
  public:
    Win32Window(Win32UiPlatform& platform, const ui::WindowDescription& desc,
                ui::WindowEvents& events);
    ~Win32Window() override;

    void Show() override;
    std::string Text(const std::string& control) override;
    void SetText(const std::string& control, const std::string& text) override;
    void SetBusy(bool busy) override;
    std::intptr_t Handle() override;

    // The native handle of a control, 0 when there is none of that name.
    std::intptr_t ControlHandle(const std::string& control) const;
    bool Busy() const { return busy_; }

  private:
    friend struct WindowProcs;
    // Handles a message of the window; handled false leaves it to the default procedure. May
    // destroy the object (a click that unloads the window), so nothing touches it afterwards.
    std::intptr_t OnMessage(unsigned msg, std::uintptr_t wp, std::intptr_t lp, bool& handled);

    Win32UiPlatform& platform_;
    ui::WindowEvents& events_;
    void* hwnd_ = nullptr;
    void* brush_ = nullptr;  // HBRUSH of the background, or null for the system's dialog colour
    std::vector<std::string> names_;  // control names by their id - FirstControlId
    std::map<std::string, void*> controls_;
    std::string firstFocus_;
    void* lastFocus_ = nullptr;
    bool shownOnce_ = false;
    bool busy_ = false;
};

}  // namespace tarnu::win32
