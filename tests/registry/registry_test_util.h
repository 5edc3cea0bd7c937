#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/posix/file_registry.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {

constexpr reg::HKEY kUser = reg::HKeyCurrentUser;
constexpr reg::HKEY kMachine = reg::HKeyLocalMachine;

// A registry whose two hives live in a fresh temporary folder.
struct TempRegistry {
    TempDir dir;
    std::string userFolder = dir.file("user/tarnu/registry");
    std::string machineFolder = dir.file("machine/tarnu/registry");
    posix::FileRegistry registry{userFolder, machineFolder};
};

struct Stored {
    std::uint32_t type = 0;
    std::string data;
};
// The value as it is stored on disk now, read through a fresh instance; nullopt when the key or
// the value is missing or the hive does not load.
std::optional<Stored> StoredValue(const TempRegistry& r, reg::HKEY hive, const std::string& keyPath,
                                  const std::string& valueName);
// Every key of a hive on disk as "\Full\Name" and each value after its key as
// "\Full\Name:value=type/data", in the order stored; empty when the hive does not load.
std::vector<std::string> Listing(const TempRegistry& r, reg::HKEY hive);
std::string Bytes(std::initializer_list<int> bytes);

// RegSetValueExA with the data as a string, RegCreateKeyExA with all rights by default.
reg::LONG Set(reg::RegistryApi& api, reg::HKEY key, const std::string& name, reg::DWORD type,
              const std::string& data);
reg::LONG Create(reg::RegistryApi& api, reg::HKEY parent, const std::string& path, reg::HKEY* key,
                 reg::DWORD* disposition = nullptr, reg::DWORD access = 0x3F);
// Modul_reg::SetRegValue of the number 1 under the key, which it creates when missing.
reg::LONG SetOne(reg::RegistryApi& api, reg::HKEY hive, const std::string& path,
                 const std::string& name);

}  // namespace tarnu::test
