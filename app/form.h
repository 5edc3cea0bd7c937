#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/application.h"
#include "ports/ui.h"

namespace tarnu::app {

// A window of the system: described once, drawn by the platform when it is loaded, with a load
// step before it is first shown and an unload step before it goes. The object itself lives as
// long as the program, so showing it again after an unload loads a fresh window: there is only
// ever one instance of each window.
class Form : private ui::WindowEvents {
  public:
    Form(Application& app, ui::WindowDescription desc);
    ~Form() override;
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    // Loads the window if needed, then shows it modeless (or brings it to the front).
    void Show();
    void Load();
    // Runs the unload step, then takes the window off the screen. An error raised by the
    // unload step propagates and the window stays loaded.
    void Unload();
    bool IsLoaded() const { return window_ != nullptr; }

    std::string Text(const std::string& control);
    void SetText(const std::string& control, const std::string& text);
    void SetBusy(bool busy);
    std::intptr_t hWnd();
    const ui::WindowDescription& Description() const { return description_; }

  protected:
    virtual void OnLoad() {}
    virtual void OnUnload() {}
    virtual void OnClick(const std::string& /*control*/) {}

    Application& app_;

  private:
    void Click(const std::string& control) override;
    void CloseRequested() override;
    ui::NativeWindow& Window();

    ui::WindowDescription description_;
    std::unique_ptr<ui::NativeWindow> window_;
};

// Shows a wait cursor over a form for as long as the object lives.
class BusyCursor {
  public:
    explicit BusyCursor(Form& form) : form_(form) { form_.SetBusy(true); }
    ~BusyCursor() { form_.SetBusy(false); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

  private:
    Form& form_;
};

}  // namespace tarnu::app
