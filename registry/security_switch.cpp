#include "registry/security_switch.h"

#include "registry/modul_reg.h"

namespace tarnu {

void SwitchOffAccessSecurityWarning(reg::RegistryApi& registry) {
    using Modul_reg::SetRegValue;
    const std::string access = "Software\\Microsoft\\Office\\11.0\\Access";
    const std::string engines = "Software\\Microsoft\\Jet\\4.0\\Engines";

    // Results are deliberately ignored: a machine-wide write refused to a normal user must not
    // keep the per-user ones from happening.
    SetRegValue(registry, reg::HKeyCurrentUser, access, "Security", Variant::I2(1), VbTrue, VbTrue);
    SetRegValue(registry, reg::HKeyLocalMachine, engines, "SandboxMode", Variant::I2(2), VbTrue,
                VbTrue);
    SetRegValue(registry, reg::HKeyCurrentUser, access + "\\Security", "level", Variant::I2(1),
                VbTrue, VbTrue);
    // The sandbox mode once more, as the switch has always written it; it changes nothing.
    SetRegValue(registry, reg::HKeyLocalMachine, engines, "SandboxMode", Variant::I2(2), VbTrue,
                VbTrue);
}

}  // namespace tarnu
