#include "tests/registry/registry_test_util.h"

#include "registry/modul_reg.h"

namespace tarnu::test {

std::optional<posix::HiveKey> StoredKey(const TempRegistry& r, reg::HKEY hive,
                                        const std::string& keyPath) {
    posix::FileRegistry fresh(r.userFolder, r.machineFolder);
    posix::HiveKey root;
    std::vector<std::string> names;
    if (fresh.LoadHive(hive, root) != reg::ErrorSuccess ||
        posix::SplitKeyPath(keyPath, names) != reg::ErrorSuccess) {
        return std::nullopt;
    }
    const posix::HiveKey* key = posix::FindKey(root, names);
    return key ? std::optional<posix::HiveKey>(*key) : std::nullopt;
}

std::optional<posix::HiveValue> StoredValue(const TempRegistry& r, reg::HKEY hive,
                                            const std::string& keyPath,
                                            const std::string& valueName) {
    const auto key = StoredKey(r, hive, keyPath);
    const posix::HiveValue* value = key ? key->FindValue(valueName) : nullptr;
    return value ? std::optional<posix::HiveValue>(*value) : std::nullopt;
}

bool StoredKeyExists(const TempRegistry& r, reg::HKEY hive, const std::string& keyPath) {
    return StoredKey(r, hive, keyPath).has_value();
}

std::string Bytes(std::initializer_list<int> bytes) {
    std::string out;
    for (int b : bytes) {
        out.push_back(static_cast<char>(b));
    }
    return out;
}

reg::LONG Set(reg::RegistryApi& api, reg::HKEY key, const std::string& name, reg::DWORD type,
              const std::string& data) {
    return api.RegSetValueExA(key, name, 0, type,
                              reinterpret_cast<const std::uint8_t*>(data.data()),
                              static_cast<reg::DWORD>(data.size()));
}

reg::LONG Create(reg::RegistryApi& api, reg::HKEY parent, const std::string& path, reg::HKEY* key,
                 reg::DWORD* disposition, reg::DWORD access) {
    return api.RegCreateKeyExA(parent, path, 0, nullptr, 0, access, nullptr, key, disposition);
}

reg::LONG SetOne(reg::RegistryApi& api, reg::HKEY hive, const std::string& path,
                 const std::string& name) {
    return Modul_reg::SetRegValue(api, hive, path, name, Variant::I2(1), VbTrue, VbTrue);
}

}  // namespace tarnu::test
