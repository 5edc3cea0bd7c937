#include "app/form.h"

#include <utility>

namespace tarnu::app {

Form::Form(Application& app, ui::WindowDescription desc)
    : app_(app), description_(std::move(desc)) {}

// The end of the program takes the windows away without their unload steps.
Form::~Form() = default;

void Form::Load() {
    if (window_) {
        return;
    }
    window_ = app_.Ui().MakeWindow(description_, *this);
    app_.WindowLoaded();
    try {
        OnLoad();
    } catch (...) {
        // A window whose load step failed never appears.
        window_.reset();
        app_.WindowUnloaded();
        throw;
    }
}

void Form::Show() {
    Load();
    window_->Show();
}

void Form::Unload() {
    if (!window_) {
        return;
    }
    OnUnload();
    window_.reset();
    app_.WindowUnloaded();
}

ui::NativeWindow& Form::Window() {
    // Touching a control of an unloaded window loads it again, as the platform's forms do.
    Load();
    return *window_;
}

std::string Form::Text(const std::string& control) {
    return Window().Text(control);
}

void Form::SetText(const std::string& control, const std::string& text) {
    Window().SetText(control, text);
}

void Form::SetBusy(bool busy) {
    // The window may have been closed while its action ran; then there is nothing to show.
    if (window_) {
        window_->SetBusy(busy);
    }
}

std::intptr_t Form::hWnd() {
    return Window().Handle();
}

void Form::Click(const std::string& control) {
    app_.RunHandler([&] { OnClick(control); });
}

void Form::CloseRequested() {
    app_.RunHandler([&] { Unload(); });
}

}  // namespace tarnu::app
