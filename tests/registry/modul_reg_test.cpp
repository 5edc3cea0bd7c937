#include "registry/modul_reg.h"

#include <gtest/gtest.h>

#include "tests/registry/registry_test_util.h"

namespace tarnu::test {
namespace {

using Modul_reg::CreateRegKey;
using Modul_reg::RegKeyExists;
using Modul_reg::SetRegValue;

class ModulRegTest : public ::testing::Test {
  protected:
    // Everything below a key as loaded from disk, for comparing whole subtrees.
    posix::HiveKey Subtree(reg::HKEY hive, const std::string& path) {
        posix::HiveKey root;
        std::vector<std::string> names;
        EXPECT_EQ(t.registry.LoadHive(hive, root), reg::ErrorSuccess);
        posix::SplitKeyPath(path, names);
        const posix::HiveKey* key = posix::FindKey(root, names);
        return key ? *key : posix::HiveKey();
    }

    void ExpectStored(const std::string& key, const std::string& name, reg::DWORD type,
                      const std::string& data) {
        const auto value = StoredValue(t, reg::HKeyCurrentUser, key, name);
        ASSERT_TRUE(value) << name;
        EXPECT_EQ(value->type, type) << name;
        EXPECT_EQ(value->data, data) << name;
    }

    TempRegistry t;
    reg::RegistryApi& api = t.registry;
};

TEST_F(ModulRegTest, CreateFlagBuildsTheWholePathAndARepeatStoresTheSame) {
    const std::string path = "Software\\Tarnu\\Neu\\Tief";
    ASSERT_EQ(SetRegValue(api, reg::HKeyCurrentUser, path, "Wert", Variant::I2(7), VbTrue, VbTrue),
              reg::ErrorSuccess);
    EXPECT_TRUE(StoredKeyExists(t, reg::HKeyCurrentUser, "Software\\Tarnu\\Neu"));
    ExpectStored(path, "Wert", reg::RegDword, Bytes({7, 0, 0, 0}));
    const std::string first = ReadFile(t.registry.HiveFile(reg::HKeyCurrentUser));

    ASSERT_EQ(SetRegValue(api, reg::HKeyCurrentUser, path, "Wert", Variant::I2(7), VbTrue, VbTrue),
              reg::ErrorSuccess);
    EXPECT_EQ(ReadFile(t.registry.HiveFile(reg::HKeyCurrentUser)), first);
    EXPECT_EQ(t.registry.OpenHandleCount(), 0u);
}

TEST_F(ModulRegTest, WritingIntoAnExistingKeyLeavesItsOtherContentAlone) {
    const std::string path = "Software\\Tarnu";
    SetRegValue(api, reg::HKeyCurrentUser, path, "Alt", Variant::Bstr("bleibt"), VbFalse, VbTrue);
    SetRegValue(api, reg::HKeyCurrentUser, path + "\\Unter", "Tief", Variant::I4(5), VbFalse,
                VbTrue);
    posix::HiveKey before = Subtree(reg::HKeyCurrentUser, path);

    ASSERT_EQ(SetRegValue(api, reg::HKeyCurrentUser, path, "Neu", Variant::I2(1), VbTrue, VbTrue),
              reg::ErrorSuccess);
    posix::HiveKey after = Subtree(reg::HKeyCurrentUser, path);
    ASSERT_EQ(after.values.size(), 2u);
    EXPECT_EQ(after.values[1].name, "Neu");
    after.values.pop_back();
    EXPECT_EQ(posix::SerializeHive(after), posix::SerializeHive(before));
}

TEST_F(ModulRegTest, MissingKeyIsOnlyCreatedForACreateFlagOfExactlyTrue) {
    for (VbBoolean notTrue : {VbFalse, VbBoolean{1}}) {
        EXPECT_EQ(SetRegValue(api, reg::HKeyCurrentUser, "Software\\Fehlt", "v", Variant::I2(1),
                              VbTrue, notTrue),
                  reg::ErrorFileNotFound);
        EXPECT_FALSE(StoredKeyExists(t, reg::HKeyCurrentUser, "Software"));
    }
    EXPECT_EQ(t.registry.OpenHandleCount(), 0u);
}

TEST_F(ModulRegTest, IntegersAreStoredAsDwordsWidenedWithTheirSign) {
    struct Case {
        Variant value;
        std::string bytes;
    };
    const Case cases[] = {
        {Variant::I2(1), Bytes({1, 0, 0, 0})},
        {Variant::I2(-1), Bytes({0xFF, 0xFF, 0xFF, 0xFF})},
        {Variant::I2(-32768), Bytes({0x00, 0x80, 0xFF, 0xFF})},
        {Variant::I4(0x12345678), Bytes({0x78, 0x56, 0x34, 0x12})},
        {Variant::I4(-2), Bytes({0xFE, 0xFF, 0xFF, 0xFF})},
    };
    int i = 0;
    for (const Case& c : cases) {
        const std::string name = "v" + std::to_string(i++);
        ASSERT_EQ(SetRegValue(api, reg::HKeyCurrentUser, "Zahlen", name, c.value, VbTrue, VbTrue),
                  reg::ErrorSuccess);
        ExpectStored("Zahlen", name, reg::RegDword, c.bytes);
    }
}

TEST_F(ModulRegTest, StringsAndConvertedListsCarryTheirTerminators) {
    using namespace std::string_literals;
    struct Case {
        std::string text;
        VbBoolean lineBreaks;
        reg::DWORD type;
        std::string bytes;
    };
    const Case cases[] = {
        {"abc", VbTrue, reg::RegSz, "abc\0"s},
        {"", VbTrue, reg::RegSz, "\0"s},
        {"x\r\ny", VbTrue, reg::RegMultiSz, "x\0y\0\0"s},
        {"x\r\ny", VbFalse, reg::RegSz, "x\r\ny\0"s},
        {"x\r\ny", VbBoolean{1}, reg::RegMultiSz, "x\0y\0\0"s},
        {"x\r\n", VbTrue, reg::RegMultiSz, "x\0\0"s},
        {"a\r\n\r\nb", VbTrue, reg::RegMultiSz, "a\0\0b\0\0"s},
        {"x\ry\nz\n\r", VbTrue, reg::RegSz, "x\ry\nz\n\r\0"s},
        {"mit\0NUL"s, VbTrue, reg::RegSz, "mit\0NUL\0"s},
        {"Größe", VbTrue, reg::RegSz, "Größe\0"s},
    };
    int i = 0;
    for (const Case& c : cases) {
        const std::string name = "s" + std::to_string(i++);
        ASSERT_EQ(SetRegValue(api, reg::HKeyCurrentUser, "Texte", name, Variant::Bstr(c.text),
                              c.lineBreaks, VbTrue),
                  reg::ErrorSuccess);
        ExpectStored("Texte", name, c.type, c.bytes);
    }
}

TEST_F(ModulRegTest, UnsupportedTypesStoreNothingButTheKeyIsStillCreated) {
    const Variant values[] = {Variant(),
                              Variant::Null(),
                              Variant::R8(1.5),
                              Variant::Date(45000.25),
                              Variant::Bool(true),
                              Variant::UI1(1),
                              Variant::OfType(VT_CY),
                              Variant::OfType(VT_DISPATCH),
                              Variant::OfType(VT_ERROR),
                              Variant::OfType(VT_DECIMAL),
                              Variant::OfType(VT_ARRAY | VT_I2),
                              Variant::OfType(VT_ARRAY | VT_BSTR)};
    int i = 0;
    for (const Variant& value : values) {
        const std::string key = "Leer\\k" + std::to_string(i++);
        EXPECT_EQ(SetRegValue(api, reg::HKeyCurrentUser, key, "v", value, VbTrue, VbTrue),
                  reg::ErrorSuccess);
        EXPECT_TRUE(StoredKeyExists(t, reg::HKeyCurrentUser, key));
        EXPECT_FALSE(StoredValue(t, reg::HKeyCurrentUser, key, "v")) << value.vt();
    }
    EXPECT_EQ(t.registry.OpenHandleCount(), 0u);
}

TEST_F(ModulRegTest, AValueOfAnotherTypeIsReplaced) {
    SetRegValue(api, reg::HKeyCurrentUser, "K", "Security", Variant::Bstr("hoch"), VbTrue, VbTrue);
    ExpectStored("K", "Security", reg::RegSz, std::string("hoch\0", 5));
    ASSERT_EQ(
        SetRegValue(api, reg::HKeyCurrentUser, "K", "SECURITY", Variant::I2(1), VbTrue, VbTrue),
        reg::ErrorSuccess);
    ExpectStored("K", "Security", reg::RegDword, Bytes({1, 0, 0, 0}));
    EXPECT_EQ(Subtree(reg::HKeyCurrentUser, "K").values.size(), 1u);
}

TEST_F(ModulRegTest, KeyExistsAndCreateReportStatusAndDisposition) {
    EXPECT_EQ(RegKeyExists(api, reg::HKeyCurrentUser, "A\\B"), reg::ErrorFileNotFound);
    EXPECT_EQ(CreateRegKey(api, reg::HKeyCurrentUser, "A\\B"), 1);
    EXPECT_EQ(CreateRegKey(api, reg::HKeyCurrentUser, "a\\b"), 2);
    EXPECT_EQ(CreateRegKey(api, reg::HKeyCurrentUser, "A"), 2);
    EXPECT_EQ(RegKeyExists(api, reg::HKeyCurrentUser, "A\\B"), reg::ErrorSuccess);
    EXPECT_EQ(CreateRegKey(api, reg::HKeyCurrentUser, "\\A"), 0);
    EXPECT_EQ(t.registry.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace tarnu::test
