#pragma once

#include "app/application.h"
#include "app/main_form.h"
#include "dbmaint/compaction_run.h"
#include "dbmaint/engine_holder.h"
#include "ports/commdlg.h"
#include "ports/copy_survey.h"
#include "ports/files.h"
#include "ports/profile.h"
#include "ports/registry.h"
#include "ports/shellcopy.h"
#include "ports/ui.h"
#include "settings/modul_ini.h"
#include "update/workstation_update.h"

namespace tarnu::app {

// What the program needs of the platform, handed in once at start.
struct Ports {
    ui::UiPlatform& ui;
    ui::MessageBoxes& boxes;
    FileServices& files;
    dbmaint::EngineHolder::Factory makeEngine;
    reg::RegistryApi& registry;
    ProfileApi& profile;
    commdlg::CommonDialogs& dialogs;
    ShellApi& shell;
    CopySurveyApi& survey;
};

// The whole program: the application runtime, its windows and the actions behind the buttons.
class SystemTool {
  public:
    explicit SystemTool(Ports ports);
    // Shows the main window and runs until the last window is closed; returns the exit code.
    int Run();

    Application& App() { return app_; }
    MainForm& Form1() { return form1_; }
    update::Workstationupdate& UpdateWindow() { return update_; }

  private:
    MainFormActions Actions();

    Ports ports_;
    Application app_;
    dbmaint::EngineHolder engine_;
    dbmaint::CompactionRun compaction_;
    Modul_ini settings_;
    update::Workstationupdate update_;
    MainForm form1_;
};

}  // namespace tarnu::app
