#include "app/main_form.h"

#include <utility>

namespace tarnu::app {

ui::WindowDescription MainForm::Describe() {
    ui::WindowDescription w;
    w.name = "Form1";
    w.caption = "Tarnu-System-Tool";
    w.clientWidth = 3030;
    w.clientHeight = 3195;
    w.frame = ui::FrameStyle::FixedDialog;
    w.showInTaskbar = false;
    w.centred = true;
    w.backColor = 0xFFFFFFu;
    w.icon = "icon.png";
    using K = ui::ControlKind;
    w.controls = {
        {"Command1", K::Button, "Programmdateien komprimieren", 120, 1320, 2775, 495, 0, ""},
        {"pb_Workstationupdate", K::Button, "Workstationupdate", 120, 1920, 2775, 495, 1, ""},
        {"Picture1", K::PictureBox, "", 240, 120, 2685, 1095, 2, "banner.gif"},
        {"Sich_aus", K::Button, "Sicherheitswarung bei Access 2003 ausschalten", 120, 2520, 2775,
         495, 3, ""},
    };
    return w;
}

MainForm::MainForm(Application& app, MainFormActions actions)
    : Form(app, Describe()), actions_(std::move(actions)) {}

void MainForm::OnClick(const std::string& control) {
    if (control == "Command1") {
        if (actions_.compact) {
            BusyCursor busy(*this);
            actions_.compact();
        }
    } else if (control == "pb_Workstationupdate") {
        if (actions_.workstationUpdate) {
            actions_.workstationUpdate();
        }
    } else if (control == "Sich_aus") {
        if (actions_.securitySwitch) {
            actions_.securitySwitch();
        }
    }
}

}  // namespace tarnu::app
