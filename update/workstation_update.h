#pragma once

#include <string>

#include "app/form.h"
#include "dialogs/c_dateidialog.h"
#include "ports/commdlg.h"
#include "ports/copy_survey.h"
#include "ports/shellcopy.h"
#include "settings/modul_ini.h"

namespace tarnu::update {

// Where the settings file keeps the two folders.
inline constexpr const char* SettingsSection = "Pfade";
inline constexpr const char* SourceKey = "Quelle";
inline constexpr const char* TargetKey = "Ziel";

// What the update window needs besides the application runtime.
struct WorkstationupdateServices {
    Modul_ini& settings;
    commdlg::CommonDialogs& dialogs;
    dialogs::C_Dateidialog::CurrentDirectory currentDirectory;
    ShellApi& shell;
    // What the copy is checked with before it starts.
    CopySurveyApi& survey;
    // The target folder while the settings file names none, without a trailing separator.
    std::string defaultTarget;
};

// The second window: the source folder of the program files and the target folder on this
// workstation, both kept in the settings file while the window is closed, and the button that
// copies the one into the other.
class Workstationupdate : public app::Form {
  public:
    Workstationupdate(app::Application& app, WorkstationupdateServices services);
    static ui::WindowDescription Describe();

  protected:
    void OnLoad() override;
    void OnUnload() override;
    void OnClick(const std::string& control) override;

  private:
    // The folder the user picked in a fresh folder dialog, "" when the dialog was cancelled.
    std::string PickFolder();
    void Kopieren();

    WorkstationupdateServices services_;
    // Whether the settings file was believed when the window loaded; only then is it saved.
    bool settingsBelieved_ = true;
};

}  // namespace tarnu::update
