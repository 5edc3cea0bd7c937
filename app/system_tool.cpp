#include "app/system_tool.h"

namespace tarnu::app {

SystemTool::SystemTool(Ports ports)
    : ports_(ports), app_(ports.ui, ports.boxes), form1_(app_, Actions()) {}

MainFormActions SystemTool::Actions() { return MainFormActions{}; }

int SystemTool::Run() {
    app_.RunHandler([this] { form1_.Show(); });
    return app_.Run();
}

}  // namespace tarnu::app
