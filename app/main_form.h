#pragma once

#include <functional>

#include "app/form.h"

namespace tarnu::app {

// What the three buttons of the main window start. An action that is not there yet does nothing.
struct MainFormActions {
    std::function<void()> compact;            // Command1
    std::function<void()> workstationUpdate;  // pb_Workstationupdate
    std::function<void()> securitySwitch;     // Sich_aus
};

// Form1: the banner and the three stacked action buttons.
class MainForm : public Form {
  public:
    MainForm(Application& app, MainFormActions actions);
    static ui::WindowDescription Describe();

  protected:
    void OnClick(const std::string& control) override;

  private:
    MainFormActions actions_;
};

}  // namespace tarnu::app
