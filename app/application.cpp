#include "app/application.h"

#include "ports/printable_name.h"

namespace tarnu::app {

namespace {

// folder without trailing separators, except the one of a root.
std::string WithoutTrailingSeparators(std::string folder, char separator) {
    while (folder.size() > 1 && folder.back() == separator &&
           !(folder.size() == 3 && folder[1] == ':')) {
        folder.pop_back();
    }
    return folder;
}

}  // namespace

ui::AppObject MakeAppObject(const std::string& executablePath, char separator) {
    ui::AppObject app;
    app.Title = ApplicationTitle;
    const auto cut = executablePath.find_last_of(separator);
    std::string file = executablePath;
    if (cut != std::string::npos) {
        file = executablePath.substr(cut + 1);
        // A folder carries no trailing separator, except a root, which is nothing without it.
        app.Path = executablePath.substr(0, cut);
        if (app.Path.empty() || (app.Path.size() == 2 && app.Path[1] == ':')) {
            app.Path += separator;
        }
    }
    const auto dot = file.find_last_of('.');
    app.EXEName = (dot == std::string::npos || dot == 0) ? file : file.substr(0, dot);
    return app;
}

ui::AppObject WithProgramFolder(ui::AppObject app, const std::string& folder, char separator) {
    if (folder.empty()) {
        return app;
    }
    app.Path = WithoutTrailingSeparators(folder, separator);
    return app;
}

ProgramFolder ChooseProgramFolder(const std::string& executablePath, const std::string& named,
                                  const Installation& installation, char separator) {
    const ui::AppObject app = MakeAppObject(executablePath, separator);
    if (!named.empty()) {
        return {WithProgramFolder(app, named, separator), FolderSource::Named};
    }
    if (!installation.programFolder.empty() && !app.Path.empty()) {
        for (const std::string& bin : installation.binFolders) {
            if (WithoutTrailingSeparators(bin, separator) == app.Path) {
                return {WithProgramFolder(app, installation.programFolder, separator),
                        FolderSource::Installed};
            }
        }
    }
    return {app, FolderSource::Executable};
}

std::string ProgramFolderText(const ProgramFolder& folder) {
    std::string text = "Programmordner: " + PrintableName(folder.app.Path) + "\n";
    const std::string variable = std::string("$") + ProgramFolderVariable;
    switch (folder.source) {
        case FolderSource::Named:
            return text + "  aus " + variable + ".\n";
        case FolderSource::Installed:
            text += "  der Programmordner des installierten Programms;\n";
            break;
        case FolderSource::Executable:
            text += "  der Ordner des Programms;\n";
            break;
    }
    return text + "  " + variable + " nennt einen anderen.\n";
}

std::string UncaughtErrorText(const Error& error) {
    return "Laufzeitfehler '" + std::to_string(error.number()) + "':\n\n" + error.description();
}

Application::Application(ui::UiPlatform& ui, ui::MessageBoxes& boxes) : ui_(ui), boxes_(boxes) {}

void Application::MsgBox(const std::string& text, int style, const std::string& title) {
    boxes_.Show(text, style, title.empty() ? std::string(ApplicationTitle) : title);
}

void Application::RunHandler(const std::function<void()>& handler) {
    if (ended_) {
        return;
    }
    Error uncaught(err::InternalError);
    try {
        handler();
        return;
    } catch (...) {
        uncaught = CurrentError();
    }
    if (ended_) {
        return;
    }
    MsgBox(UncaughtErrorText(uncaught), ui::vbCritical);
    End(1);
}

void Application::WindowLoaded() {
    ++loaded_;
}

void Application::WindowUnloaded() {
    if (loaded_ > 0 && --loaded_ == 0) {
        End(0);
    }
}

void Application::End(int exitCode) {
    if (ended_) {
        return;
    }
    ended_ = true;
    ui_.Quit(exitCode);
}

}  // namespace tarnu::app
