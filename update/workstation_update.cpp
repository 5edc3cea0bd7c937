#include "update/workstation_update.h"

#include <utility>

#include "ports/error.h"
#include "ports/files.h"
#include "update/copy_check.h"
#include "update/shell_copy.h"

namespace tarnu::update {

ui::WindowDescription Workstationupdate::Describe() {
    ui::WindowDescription w;
    w.name = "Workstationupdate";
    w.caption = "Workstationupdate";
    w.clientWidth = 6255;
    w.clientHeight = 1455;
    w.frame = ui::FrameStyle::FixedToolWindow;
    w.showInTaskbar = false;
    w.centred = true;
    using K = ui::ControlKind;
    w.controls = {
        {"Label1", K::Label, "Quellverzeichnis", 120, 120, 1215, 255, 1, ""},
        {"Quelle", K::TextBox, "", 1440, 120, 4335, 255, 0, ""},
        {"pb_quelle", K::Button, "...", 5880, 120, 255, 255, 4, ""},
        {"Label2", K::Label, "Zielverzeichnis", 120, 480, 1455, 255, 2, ""},
        {"Ziel", K::TextBox, "", 1440, 480, 4335, 255, 3, ""},
        {"pb_Ziel", K::Button, "...", 5880, 480, 255, 255, 5, ""},
        {"status", K::Label, "", 120, 960, 3255, 255, 8, ""},
        {"kopieren", K::Button, "Dateien kopieren", 3480, 960, 1575, 375, 6, ""},
        {"ende", K::Button, "ende", 5160, 960, 975, 375, 7, ""},
    };
    return w;
}

Workstationupdate::Workstationupdate(app::Application& app, WorkstationupdateServices services)
    : Form(app, Describe()), services_(std::move(services)) {}

void Workstationupdate::OnLoad() {
    settingsBelieved_ = true;
    try {
        SetText(TargetKey, services_.settings.ReadIniValue(SettingsSection, TargetKey,
                                                           services_.defaultTarget, ""));
        SetText(SourceKey, services_.settings.ReadIniValue(SettingsSection, SourceKey, "", ""));
    } catch (const Error& error) {
        if (error.number() != err::PermissionDenied) {
            throw;
        }
        // A settings file that another user could have written must not choose what an
        // administrator copies: the window says so once and starts from the defaults, and
        // leaves the file as it is, for the administrator to look at.
        settingsBelieved_ = false;
        app_.MsgBox(error.description(), ui::vbCritical);
        SetText(TargetKey, services_.defaultTarget);
        SetText(SourceKey, "");
    }
}

void Workstationupdate::OnUnload() {
    if (!settingsBelieved_) {
        return;
    }
    // Exactly as the boxes hold them; a failed write ends the steps, so the target is not
    // written after a source that could not be.
    services_.settings.WriteIniValue(SettingsSection, SourceKey, Text(SourceKey), "");
    services_.settings.WriteIniValue(SettingsSection, TargetKey, Text(TargetKey), "");
}

void Workstationupdate::OnClick(const std::string& control) {
    if (control == "pb_quelle") {
        const std::string folder = PickFolder();
        // A cancelled dialog leaves the remembered folder as it was.
        if (!folder.empty()) {
            SetText(SourceKey, folder);
        }
    } else if (control == "pb_Ziel") {
        std::string folder = PickFolder();
        if (!folder.empty()) {
            // The target is a folder that receives the files; a root already ends with the
            // separator and must not get a second one.
            if (folder.back() != PathSeparator()) {
                folder += PathSeparator();
            }
            SetText(TargetKey, folder);
        }
    } else if (control == "kopieren") {
        Kopieren();
    } else if (control == "ende") {
        Unload();
    }
}

std::string Workstationupdate::PickFolder() {
    dialogs::C_Dateidialog dialog(app_.Boxes(), services_.dialogs, services_.currentDirectory);
    dialog.ShowFolder();
    return dialog.FileName();
}

void Workstationupdate::Kopieren() {
    const std::string source = TrimSpaces(Text(SourceKey));
    const std::string target = TrimSpaces(Text(TargetKey));
    // A copy that would fail half-way is not started: the message says what to do first.
    if (const auto problem = CheckBeforeCopy(services_.survey, source, target)) {
        app_.MsgBox(*problem, ui::vbCritical);
        return;
    }
    if (ShellCopy(services_.shell, source, target)) {
        app_.MsgBox(CopySuccessText, ui::vbInformation);
    }
}

}  // namespace tarnu::update
