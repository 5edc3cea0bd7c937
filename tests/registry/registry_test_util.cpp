#include "tests/registry/registry_test_util.h"

#include "registry/modul_reg.h"

namespace tarnu::test {

namespace {

std::optional<posix::Hive> StoredHive(const TempRegistry& r, reg::HKEY hive) {
    posix::FileRegistry fresh(r.userFolder, r.machineFolder);
    posix::Hive loaded;
    return fresh.LoadHive(hive, loaded) == reg::ErrorSuccess ? std::optional(std::move(loaded))
                                                             : std::nullopt;
}

}  // namespace

std::optional<Stored> StoredValue(const TempRegistry& r, reg::HKEY hive, const std::string& keyPath,
                                  const std::string& valueName) {
    const auto loaded = StoredHive(r, hive);
    std::vector<std::string> names;
    const auto key = loaded && posix::SplitKeyPath(keyPath, names) == reg::ErrorSuccess
                         ? loaded->Find(names)
                         : std::nullopt;
    const auto value = key ? loaded->Value(*key, valueName) : std::nullopt;
    return value ? std::optional(Stored{value->type, std::string(value->data)}) : std::nullopt;
}

std::vector<std::string> Listing(const TempRegistry& r, reg::HKEY hive) {
    std::vector<std::string> out;
    const auto loaded = StoredHive(r, hive);
    if (!loaded) {
        return out;
    }
    std::vector<std::string> path{""};
    loaded->ForEachKey(loaded->Root(), [&](posix::Hive::Key key, std::size_t depth) {
        path.resize(depth + 1);
        if (depth > 0) {
            path[depth] = path[depth - 1] + "\\" + std::string(loaded->Name(key));
            out.push_back(path[depth]);
        }
        loaded->ForEachValue(key, [&](const posix::HiveValue& v) {
            out.push_back(path[depth] + ":" + std::string(v.name) + "=" + std::to_string(v.type) +
                          "/" + std::string(v.data));
        });
    });
    return out;
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
