#include "app/system_tool.h"

#include "registry/security_switch.h"

namespace tarnu::app {

SystemTool::SystemTool(Ports ports)
    : ports_(std::move(ports)),
      app_(ports_.ui, ports_.boxes),
      engine_(ports_.makeEngine),
      compaction_(engine_, ports_.files, ports_.boxes, [this] { return app_.App().Path; }),
      settings_(ports_.profile, [this] { return app_.App(); }),
      update_(app_, {settings_, ports_.dialogs, [this] { return ports_.files.CurDir(); },
                     ports_.shell, ports_.survey, DefaultTargetFolder()}),
      form1_(app_, Actions()) {}

MainFormActions SystemTool::Actions() {
    MainFormActions actions;
    actions.compact = [this] { compaction_(); };
    // The window comes up modeless; showing it while it is open only brings it to the front.
    actions.workstationUpdate = [this] { update_.Show(); };
    actions.securitySwitch = [this] { SwitchOffAccessSecurityWarning(ports_.registry); };
    return actions;
}

int SystemTool::Run() {
    app_.RunHandler([this] { form1_.Show(); });
    return app_.Run();
}

}  // namespace tarnu::app
