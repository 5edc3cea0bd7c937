// Arbitrary bytes as a hive file, then one key and one value written into it. The registry must
// either refuse the hive as corrupt and leave the file exactly as it was, or keep everything
// the hive held, in its order, and add the value.
//
// The first input byte chooses the file: odd takes the rest as it is, even takes the rest as
// the tree and puts a matching header (length and checksum) in front, so that the fuzzer gets
// past the checksum into the tree itself.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/linux/posix/file_registry.h"
#include "platform/linux/posix/hive_file.h"

namespace {

using tarnu::fuzz::Check;
using tarnu::posix::Hive;
namespace reg = tarnu::reg;

std::uint32_t Crc32(const std::string& bytes) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
    }
    return c ^ 0xFFFFFFFFu;
}

std::string WithHeader(const std::string& tree) {
    std::string out = "TARNUREG";
    for (const auto& [value, bytes] :
         {std::pair<std::uint64_t, int>{1, 4}, {Crc32(tree), 4}, {tree.size(), 8}}) {
        for (int i = 0; i < bytes; ++i) {
            out.push_back(static_cast<char>(value >> (8 * i)));
        }
    }
    return out + tree;
}

// Every key and value of a hive in the order stored, one entry each; names hold no NUL, so
// the entries cannot be mistaken for each other.
std::vector<std::string> Listing(const Hive& hive) {
    std::vector<std::string> out;
    std::vector<std::string> path{""};
    hive.ForEachKey(hive.Root(), [&](Hive::Key key, std::size_t depth) {
        path.resize(depth + 1);
        if (depth > 0) {
            path[depth] = path[depth - 1] + "\\" + std::string(hive.Name(key));
        }
        out.push_back("K" + path[depth]);
        hive.ForEachValue(key, [&](const tarnu::posix::HiveValue& v) {
            out.push_back("V" + path[depth] + '\0' + std::string(v.name) + '\0' +
                          std::to_string(v.type) + '\0' + std::string(v.data));
        });
    });
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string bytes = (data[0] & 1) ? rest : WithHeader(rest);
    Hive original;
    const bool valid = original.Load(bytes);

    const std::string& folder = tarnu::fuzz::ScratchFolder();
    tarnu::posix::FileRegistry registry(folder, folder + "/machine");
    const std::string file = registry.HiveFile(reg::HKeyCurrentUser);
    tarnu::fuzz::WriteBytes(file, bytes);

    reg::HKEY key = 0;
    const reg::LONG created = registry.RegCreateKeyExA(reg::HKeyCurrentUser, "Software\\Fuzz", 0,
                                                       nullptr, 0, 0x3F, nullptr, &key, nullptr);
    reg::LONG set = created;
    if (created == reg::ErrorSuccess) {
        const std::uint8_t value[] = {1, 0, 0, 0};
        set = registry.RegSetValueExA(key, "Wert", 0, reg::RegDword, value, sizeof value);
        Check(registry.RegCloseKey(key) == reg::ErrorSuccess, "close failed");
    }
    Check(registry.OpenHandleCount() == 0, "a handle was left open");

    if (!valid) {
        Check(created == reg::ErrorRegistryCorrupt, "a corrupt hive was not reported");
        Check(tarnu::fuzz::ReadBytes(file) == bytes, "a corrupt hive was overwritten");
        return 0;
    }
    Check(set == reg::ErrorSuccess, "writing into a valid hive failed");
    Hive after;
    Check(after.Load(tarnu::fuzz::ReadBytes(file)), "the written hive does not read");
    std::vector<std::string> names;
    const auto fuzzKey = after.Find({"Software", "Fuzz"}, &names);
    const auto value = fuzzKey ? after.Value(*fuzzKey, "Wert") : std::nullopt;
    Check(value && value->type == 4 && value->data == std::string("\1\0\0\0", 4),
          "the value is missing");

    // Without the value written and the keys the write made, and without the value it replaced,
    // the hive is what it was, in its order.
    const std::string software = "K\\" + names[0];
    const std::string fuzz = software + "\\" + names[1];
    const std::string head = "V" + fuzz.substr(1) + '\0' + std::string(value->name) + '\0';
    const auto written = [&](const std::string& e) { return e.starts_with(head); };
    std::vector<std::string> before = Listing(original);
    std::vector<std::string> left = Listing(after);
    std::erase_if(before, written);
    std::erase_if(left, [&](const std::string& e) {
        return written(e) || (e == fuzz && !original.Find({"Software", "Fuzz"})) ||
               (e == software && !original.Find({"Software"}));
    });
    Check(left == before, "the write changed other parts of the hive");
    return 0;
}
