#include "registry/security_switch.h"

#include <gtest/gtest.h>

#include "registry/modul_reg.h"
#include "tests/registry/registry_test_util.h"

namespace tarnu::test {
namespace {

const std::string kAccess = "Software\\Microsoft\\Office\\11.0\\Access";

// Every value of a hive with the full name of its key, in a stable order.
std::vector<std::string> AllValues(const posix::HiveKey& key, const std::string& path = "") {
    std::vector<std::string> out;
    for (const posix::HiveValue& v : key.values) {
        out.push_back(path + ":" + v.name + "=" + std::to_string(v.type) + "/" + v.data);
    }
    for (const posix::HiveKey& sub : key.subkeys) {
        for (std::string& s : AllValues(sub, path + "\\" + sub.name)) {
            out.push_back(std::move(s));
        }
    }
    return out;
}

std::vector<std::string> AllValues(const TempRegistry& t, reg::HKEY hive) {
    posix::HiveKey root;
    EXPECT_EQ(t.registry.LoadHive(hive, root), reg::ErrorSuccess);
    return AllValues(root);
}

const std::string kOne = Bytes({1, 0, 0, 0});
const std::string kTwo = Bytes({2, 0, 0, 0});

TEST(SecuritySwitchTest, StoresExactlyThreeValuesAndRepeatsToTheSameState) {
    TempRegistry t;
    std::vector<std::string> written;
    for (const RegistryWrite& w : SwitchOffAccessSecurityWarning(t.registry)) {
        EXPECT_EQ(w.status, reg::ErrorSuccess) << w.value;
        written.push_back(w.value);
    }
    EXPECT_EQ(written,
              (std::vector<std::string>{
                  "HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\11.0\\Access\\Security",
                  "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Jet\\4.0\\Engines\\SandboxMode",
                  "HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\11.0\\Access\\Security\\level",
                  "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Jet\\4.0\\Engines\\SandboxMode"}));

    const std::string access = "\\" + kAccess;
    std::vector<std::string> user = {access + ":Security=4/" + kOne,
                                     access + "\\Security:level=4/" + kOne};
    EXPECT_EQ(AllValues(t, kUser), user);
    EXPECT_EQ(
        AllValues(t, kMachine),
        std::vector<std::string>{"\\Software\\Microsoft\\Jet\\4.0\\Engines:SandboxMode=4/" + kTwo});
    EXPECT_EQ(t.registry.OpenHandleCount(), 0u);

    const std::string userFile = ReadFile(t.registry.HiveFile(kUser));
    const std::string machineFile = ReadFile(t.registry.HiveFile(kMachine));
    SwitchOffAccessSecurityWarning(t.registry);
    EXPECT_EQ(ReadFile(t.registry.HiveFile(kUser)), userFile);
    EXPECT_EQ(ReadFile(t.registry.HiveFile(kMachine)), machineFile);

    // A string of the same name is replaced; other settings stay.
    Modul_reg::SetRegValue(t.registry, kUser, kAccess, "Security", Variant::Bstr("3"), VbFalse,
                           VbTrue);
    SetOne(t.registry, kUser, kAccess, "Andere");
    SwitchOffAccessSecurityWarning(t.registry);
    user.insert(user.begin() + 1, access + ":Andere=4/" + kOne);
    EXPECT_EQ(AllValues(t, kUser), user);
}

}  // namespace
}  // namespace tarnu::test
