#include "registry/modul_reg.h"
#include "registry/security_switch.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/registry/registry_test_util.h"

namespace tarnu::test {
namespace {

using Modul_reg::CreateRegKey;
using Modul_reg::RegKeyExists;
using Modul_reg::SetRegValue;

// Only a create flag of exactly True creates a missing key; creating tells new from existing.
TEST(ModulRegTest, KeysAreCreatedOnlyWhenAskedAndReportTheirDisposition) {
    TempRegistry t;
    auto set = [&](VbBoolean create) {
        return SetRegValue(t.registry, kUser, "A\\B", "v", Variant::I2(1), VbTrue, create);
    };
    EXPECT_EQ((std::vector<reg::LONG>{
                  set(VbFalse), set(VbBoolean{1}), RegKeyExists(t.registry, kUser, "A\\B"),
                  CreateRegKey(t.registry, kUser, "A\\B"), CreateRegKey(t.registry, kUser, "a\\b"),
                  RegKeyExists(t.registry, kUser, "A\\B"), CreateRegKey(t.registry, kUser, "\\A")}),
              (std::vector<reg::LONG>{2, 2, 2, 1, 2, 0, 0}));
    EXPECT_EQ(t.registry.OpenHandleCount(), 0u);
}

TEST(ModulRegTest, EachTypeIsStoredWithItsTerminatorsOrNotAtAll) {
    using namespace std::string_literals;
    struct Case {
        Variant value;
        VbBoolean lineBreaks;
        reg::DWORD type;  // 0: no value at all
        std::string bytes;
    };
    std::vector<Case> cases = {
        {Variant::I2(-32768), VbTrue, reg::RegDword, Bytes({0x00, 0x80, 0xFF, 0xFF})},
        {Variant::I4(0x12345678), VbTrue, reg::RegDword, Bytes({0x78, 0x56, 0x34, 0x12})},
        {Variant::Bstr("abc"), VbTrue, reg::RegSz, "abc\0"s},
        {Variant::Bstr(""), VbTrue, reg::RegSz, "\0"s},
        {Variant::Bstr("x\r\ny"), VbTrue, reg::RegMultiSz, "x\0y\0\0"s},
        {Variant::Bstr("x\r\ny"), VbFalse, reg::RegSz, "x\r\ny\0"s},
        {Variant::Bstr("x\r\ny"), VbBoolean{1}, reg::RegMultiSz, "x\0y\0\0"s},
        {Variant::Bstr("a\r\n\r\nb"), VbTrue, reg::RegMultiSz, "a\0\0b\0\0"s},
        {Variant::Bstr("x\ry\nz\n\r"), VbTrue, reg::RegSz, "x\ry\nz\n\r\0"s},
        {Variant::Bstr("mit\0NUL"s), VbTrue, reg::RegSz, "mit\0NUL\0"s},
    };
    // Arrays of the written types must not pass for them.
    for (const Variant& unsupported :
         {Variant(), Variant::R8(1.5), Variant::Bool(true), Variant::UI1(1),
          Variant::OfType(VT_ARRAY | VT_I2), Variant::OfType(VT_ARRAY | VT_BSTR)}) {
        cases.push_back({unsupported, VbTrue, 0, ""});
    }
    TempRegistry t;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string key = "Werte\\k" + std::to_string(i);
        ASSERT_EQ(
            SetRegValue(t.registry, kUser, key, "v", cases[i].value, cases[i].lineBreaks, VbTrue),
            reg::ErrorSuccess);
        const auto keys = Listing(t, kUser);  // the key is made also where no value is written
        EXPECT_NE(std::find(keys.begin(), keys.end(), "\\" + key), keys.end()) << i;
        const auto stored = StoredValue(t, kUser, key, "v");
        EXPECT_EQ(stored ? std::pair(stored->type, stored->data) : std::pair(0u, ""s),
                  std::pair(cases[i].type, cases[i].bytes))
            << i;
    }
    EXPECT_EQ(t.registry.OpenHandleCount(), 0u);
}

const std::string kAccess = "Software\\Microsoft\\Office\\11.0\\Access";

// Every value of a hive with the full name of its key, in the order stored.
std::vector<std::string> AllValues(const TempRegistry& t, reg::HKEY hive) {
    std::vector<std::string> values;
    for (std::string& line : Listing(t, hive)) {
        if (line.find(':') != std::string::npos) {
            values.push_back(std::move(line));
        }
    }
    return values;
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

    // A string of the same name in any case is replaced; other settings stay.
    SetRegValue(t.registry, kUser, kAccess, "SECURITY", Variant::Bstr("3"), VbFalse, VbTrue);
    SetOne(t.registry, kUser, kAccess, "Andere");
    SwitchOffAccessSecurityWarning(t.registry);
    user.insert(user.begin() + 1, access + ":Andere=4/" + kOne);
    EXPECT_EQ(AllValues(t, kUser), user);
}

}  // namespace
}  // namespace tarnu::test
