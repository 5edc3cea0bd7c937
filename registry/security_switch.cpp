#include "registry/security_switch.h"

#include "registry/modul_reg.h"

namespace tarnu {

std::vector<RegistryWrite> SwitchOffAccessSecurityWarning(reg::RegistryApi& registry) {
    const std::string access = "Software\\Microsoft\\Office\\11.0\\Access";
    const std::string engines = "Software\\Microsoft\\Jet\\4.0\\Engines";
    std::vector<RegistryWrite> writes;
    const auto set = [&](reg::HKEY hive, const std::string& key, const std::string& name,
                         std::int16_t value) {
        const char* root =
            hive == reg::HKeyCurrentUser ? "HKEY_CURRENT_USER\\" : "HKEY_LOCAL_MACHINE\\";
        writes.push_back(
            {root + key + "\\" + name, Modul_reg::SetRegValue(registry, hive, key, name,
                                                              Variant::I2(value), VbTrue, VbTrue)});
    };
    set(reg::HKeyCurrentUser, access, "Security", 1);
    set(reg::HKeyLocalMachine, engines, "SandboxMode", 2);
    set(reg::HKeyCurrentUser, access + "\\Security", "level", 1);
    // The sandbox mode once more, as the switch has always written it; it changes nothing.
    set(reg::HKeyLocalMachine, engines, "SandboxMode", 2);
    return writes;
}

}  // namespace tarnu
