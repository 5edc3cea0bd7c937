// Arbitrary bytes as a hive file, then one key and one value written into it. The registry must
// either refuse the hive as corrupt and leave the file exactly as it was, or keep everything
// the hive held and add the value; and any hive it reads must write back to the same bytes.
//
// The first input byte chooses the file: odd takes the rest as it is, even takes the rest as
// the tree and puts a matching header (length and checksum) in front, so that the fuzzer gets
// past the checksum into the tree itself.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/linux/posix/file_registry.h"
#include "platform/linux/posix/hive_file.h"

namespace {

using tarnu::posix::FileRegistry;
using tarnu::posix::HiveKey;
namespace reg = tarnu::reg;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "hive_fuzz: %s\n", what);
        std::abort();
    }
}

// Memory-backed when possible: every write syncs the file and its folder. Never destroyed, so
// that it is still there for the clean-up at exit.
const std::string& Folder() {
    static const std::string* folder = [] {
        auto* pattern = new std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm/hive-fuzz-XXXXXX"
                                                                      : "/tmp/hive-fuzz-XXXXXX");
        Check(mkdtemp(pattern->data()) != nullptr, "no temporary folder");
        std::atexit([] { std::filesystem::remove_all(Folder()); });
        return pattern;
    }();
    return *folder;
}

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

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string bytes = (data[0] & 1) ? rest : WithHeader(rest);
    HiveKey original;
    const bool valid = tarnu::posix::ParseHive(bytes, original);
    if (valid) {
        HiveKey again;
        Check(tarnu::posix::ParseHive(tarnu::posix::SerializeHive(original), again) &&
                  tarnu::posix::SerializeHive(again) == tarnu::posix::SerializeHive(original),
              "a hive does not write back to itself");
    }

    FileRegistry registry(Folder(), Folder() + "/machine");
    const std::string file = registry.HiveFile(reg::HKeyCurrentUser);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

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
        Check(Read(file) == bytes, "a corrupt hive was overwritten");
        return 0;
    }
    Check(set == reg::ErrorSuccess, "writing into a valid hive failed");
    HiveKey after;
    Check(tarnu::posix::ParseHive(Read(file), after), "the written hive does not read");
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
    Check(tarnu::posix::SerializeHive(after) == tarnu::posix::SerializeHive(original),
          "the write changed other parts of the hive");
    return 0;
}
