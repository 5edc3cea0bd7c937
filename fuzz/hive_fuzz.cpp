// Arbitrary bytes as a hive file, then one key and one value written into it. The registry must
// either refuse the hive as corrupt and leave the file exactly as it was, or keep everything
// the hive held and add the value; and any hive it reads must write back to the same bytes.
//
// The first input byte chooses the file: odd takes the rest as it is, even takes the rest as
// the tree and puts a matching header (length and checksum) in front, so that the fuzzer gets
// past the checksum into the tree itself.

#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/linux/posix/file_registry.h"
#include "platform/linux/posix/hive_file.h"

namespace {

using tarnu::fuzz::Check;
using tarnu::posix::HiveKey;
using tarnu::posix::ParseHive;
using tarnu::posix::SerializeHive;
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

void PutLE(std::string& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>(v >> (8 * i)));
    }
}

std::string WithHeader(const std::string& tree) {
    std::string out = "TARNUREG";
    PutLE(out, 1, 4);
    PutLE(out, Crc32(tree), 4);
    PutLE(out, tree.size(), 8);
    return out + tree;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string bytes = (data[0] & 1) ? rest : WithHeader(rest);
    HiveKey original;
    const bool valid = ParseHive(bytes, original);
    if (valid) {
        HiveKey again;
        Check(ParseHive(SerializeHive(original), again) &&
                  SerializeHive(again) == SerializeHive(original),
              "a hive does not write back to itself");
    }

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
    HiveKey after;
    Check(ParseHive(tarnu::fuzz::ReadBytes(file), after), "the written hive does not read");
    HiveKey* written = after.FindSubkey("Software");
    written = written ? written->FindSubkey("Fuzz") : nullptr;
    Check(written && written->FindValue("Wert") && written->FindValue("Wert")->type == 4,
          "the value is missing");
    // Take the write back out again: what is left must be the hive as it was.
    HiveKey* software = after.FindSubkey("Software");
    HiveKey* hadSoftware = original.FindSubkey("Software");
    HiveKey* hadFuzz = hadSoftware ? hadSoftware->FindSubkey("Fuzz") : nullptr;
    const tarnu::posix::HiveValue* hadValue = hadFuzz ? hadFuzz->FindValue("Wert") : nullptr;
    if (hadValue) {
        written->SetValue("Wert", hadValue->type, hadValue->data);
    } else {
        auto& values = written->values;
        values.erase(values.begin() + (written->FindValue("Wert") - values.data()));
    }
    if (!hadFuzz) {
        auto& subs = software->subkeys;
        subs.erase(subs.begin() + (software->FindSubkey("Fuzz") - subs.data()));
    }
    if (!hadSoftware) {
        after.subkeys.erase(after.subkeys.begin() + (software - after.subkeys.data()));
    }
    Check(SerializeHive(after) == SerializeHive(original),
          "the write changed other parts of the hive");
    return 0;
}
