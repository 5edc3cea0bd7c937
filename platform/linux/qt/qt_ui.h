#pragma once

#include <QMessageBox>
#include <memory>
#include <string>

#include "ports/ui.h"

namespace tarnu::qt {

// The message box a style value asks for: OK only, with no icon, the critical or the
// information icon. The caller owns and runs it.
std::unique_ptr<QMessageBox> BuildMessageBox(const std::string& text, int style,
                                             const std::string& title);

// How many values follow one of Qt's own command-line options ("-platform offscreen",
// "--style=fusion"), or -1 when the argument is none of them.
int QtOptionArity(const std::string& argument);

class QtMessageBoxes : public ui::MessageBoxes {
  public:
    void Show(const std::string& text, int style, const std::string& title) override;
};

// Windows drawn with Qt Widgets. Needs a QApplication for its whole life.
class QtUiPlatform : public ui::UiPlatform {
  public:
    explicit QtUiPlatform(ui::AppObject app);
    ~QtUiPlatform() override;

    const ui::AppObject& App() override { return app_; }
    std::unique_ptr<ui::NativeWindow> MakeWindow(const ui::WindowDescription& desc,
                                                 ui::WindowEvents& events) override;
    int Run() override;
    void Quit(int exitCode) override;

  private:
    ui::AppObject app_;
    bool running_ = false;
    bool quitRequested_ = false;
    int exitCode_ = 0;
};

}  // namespace tarnu::qt
