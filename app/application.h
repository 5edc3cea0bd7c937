#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ports/error.h"
#include "ports/ui.h"

namespace tarnu::app {

inline constexpr const char* ApplicationTitle = "TARNU-System-Tool";

// Splits the path of the running executable into the application object's folder and name.
ui::AppObject MakeAppObject(const std::string& executablePath, char separator);

// The environment variable that names the program folder of an installed program, whose
// executable lies in a system folder without the databases and the settings file.
inline constexpr const char* ProgramFolderVariable = "TARNU_PROGRAM_FOLDER";

// app with folder as its program folder (App.Path) in place of the executable's; an empty
// folder changes nothing. Trailing separators go, except the one of a root.
ui::AppObject WithProgramFolder(ui::AppObject app, const std::string& folder, char separator);

// An installation puts the executable into a system folder that holds neither the databases nor
// the settings file, so the build that made it names the program folder of an installed
// program. Empty where programs run from their program folder.
struct Installation {
    std::vector<std::string> binFolders;  // where an installation puts the executable
    std::string programFolder;
};

// Why a run works on the program folder it does.
enum class FolderSource { Named, Installed, Executable };

struct ProgramFolder {
    ui::AppObject app;
    FolderSource source = FolderSource::Executable;
};

// The application object of the executable at executablePath with its program folder: named
// (the value of ProgramFolderVariable) when it is not empty; else the installation's program
// folder when the executable lies in one of its bin folders; else the executable's own folder.
ProgramFolder ChooseProgramFolder(const std::string& executablePath, const std::string& named,
                                  const Installation& installation, char separator);

// The lines of the usage that tell which program folder a run uses and why.
std::string ProgramFolderText(const ProgramFolder& folder);

// The text of the platform's standard message for an error that no handler caught.
std::string UncaughtErrorText(const Error& error);

// The runtime every window relies on: message boxes with the application title as default,
// the program's lifetime (it ends when its last window closes) and the error model (an error
// escaping an event handler is shown and ends the program).
class Application {
  public:
    Application(ui::UiPlatform& ui, ui::MessageBoxes& boxes);
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    ui::UiPlatform& Ui() { return ui_; }
    ui::MessageBoxes& Boxes() { return boxes_; }
    const ui::AppObject& App() { return ui_.App(); }

    // An empty title gives the application title.
    void MsgBox(const std::string& text, int style, const std::string& title = "");

    // Runs one event handler. An error that leaves it shows the standard message and ends the
    // program; once the program has ended, further events are dropped.
    void RunHandler(const std::function<void()>& handler);
    bool Ended() const { return ended_; }
    int Run() { return ui_.Run(); }

    // Kept by the windows: the program ends when the last loaded one unloads.
    void WindowLoaded();
    void WindowUnloaded();
    int LoadedWindows() const { return loaded_; }

  private:
    void End(int exitCode);

    ui::UiPlatform& ui_;
    ui::MessageBoxes& boxes_;
    int loaded_ = 0;
    bool ended_ = false;
};

}  // namespace tarnu::app
