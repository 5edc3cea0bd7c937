#pragma once

// The user-interface platform: message boxes, the application object and windows drawn from a
// description. Window lifetime (load and unload steps), the program's end and the error model
// are the system's own logic on top of this (app/).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnu::ui {

// Message box styles the system uses: OK only, with no icon, the critical or the information icon.
constexpr int vbOKOnly = 0;
constexpr int vbCritical = 16;
constexpr int vbInformation = 64;

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    // Modal; returns when the user confirms. title is never empty here: the caller has already
    // put the application title in place of a missing one.
    virtual void Show(const std::string& text, int style, const std::string& title) = 0;
};

// What the platform knows of the running program.
struct AppObject {
    std::string Path;     // folder of the executable, no trailing separator except at a root
    std::string EXEName;  // file name of the executable without extension
    std::string Title;    // the application title
};

enum class ControlKind { Button, TextBox, Label, PictureBox };

// Positions and sizes are in twips relative to the client area (15 twips per pixel).
struct ControlDescription {
    std::string name;
    ControlKind kind = ControlKind::Button;
    std::string caption;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int tabIndex = 0;
    std::string picture;  // resource name of the picture a picture box shows
};

enum class FrameStyle {
    FixedDialog,      // normal title bar, close box only, not resizable
    FixedToolWindow,  // narrow title bar, close box only, not resizable
};

struct WindowDescription {
    std::string name;
    std::string caption;
    int clientWidth = 0;  // twips
    int clientHeight = 0;
    FrameStyle frame = FrameStyle::FixedDialog;
    bool showInTaskbar = true;
    bool centred = true;
    std::optional<std::uint32_t> backColor;  // 0xRRGGBB; none: the system's colour for dialogs
    std::string icon;                        // resource name of the window icon
    std::vector<ControlDescription> controls;
};

constexpr int TwipsPerPixel = 15;

// What a drawn window reports back to the form that owns it.
class WindowEvents {
  public:
    virtual ~WindowEvents() = default;
    virtual void Click(const std::string& control) = 0;
    // The user pressed the close box. The window stays until the owner destroys it.
    virtual void CloseRequested() = 0;
};

class NativeWindow {
  public:
    virtual ~NativeWindow() = default;
    // Shows modeless and gives the keyboard focus to the control with the lowest tab index on
    // the first showing; an already visible window is brought to the front.
    virtual void Show() = 0;
    virtual std::string Text(const std::string& control) = 0;
    virtual void SetText(const std::string& control, const std::string& text) = 0;
    // A wait cursor over the window while the owner works synchronously.
    virtual void SetBusy(bool busy) = 0;
    // The native handle, for owner windows of dialogs.
    virtual std::intptr_t Handle() = 0;
};

class UiPlatform {
  public:
    virtual ~UiPlatform() = default;
    virtual const AppObject& App() = 0;
    // The window is created hidden; destroying the object takes it off the screen.
    virtual std::unique_ptr<NativeWindow> MakeWindow(const WindowDescription& desc,
                                                     WindowEvents& events) = 0;
    // Runs the event loop until Quit; returns the exit code given to Quit.
    virtual int Run() = 0;
    virtual void Quit(int exitCode) = 0;
};

}  // namespace tarnu::ui
