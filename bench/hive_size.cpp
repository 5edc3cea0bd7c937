// Reads and writes a hive at the size limit through the registry, as the security switch does,
// for the benchmark that measures its time and memory against cp of the same file.
//   tarnu-hive-size make value|values|keys FOLDER   writes FOLDER/HKEY_CURRENT_USER.hive
//   tarnu-hive-size read FOLDER                     opens the key "Software" for reading
//   tarnu-hive-size write FOLDER                    stores one more value under "Software"
//
// The hive is written here byte by byte, not through the registry, so that making it costs
// nothing that the measurement could be confused with. Its shapes: one value that fills it;
// millions of small values in one key; millions of empty subkeys of one key.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/linux/posix/file_registry.h"
#include "platform/linux/posix/hive_file.h"

namespace {

namespace reg = tarnu::reg;

void Put(std::string& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>(v >> (8 * i)));
    }
}

void PutName(std::string& out, const std::string& name) {
    Put(out, name.size(), 4);
    out += name;
}

std::uint32_t Crc32(const std::string& bytes) {
    std::uint32_t table[256];
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[i] = c;
    }
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFu;
}

// The tree of a hive of the given shape that, with its header, stays just below the limit so
// that one more small value still fits.
std::string Tree(const std::string& shape) {
    constexpr std::size_t kRoom = 4096;
    const std::size_t budget = tarnu::posix::kMaxHiveFileSize - 24 - kRoom;
    std::string tree;
    tree.reserve(budget);
    Put(tree, 0, 4);  // the root: no name, no values, one subkey
    Put(tree, 0, 4);
    Put(tree, 1, 4);
    PutName(tree, "Software");
    char name[32];
    if (shape == "value") {
        Put(tree, 1, 4);
        PutName(tree, "Gross");
        Put(tree, reg::RegBinary, 4);
        const std::size_t size = budget - tree.size() - 8;
        Put(tree, size, 4);
        tree.append(size, '\xA5');
        Put(tree, 0, 4);
    } else if (shape == "values") {
        const std::size_t count = (budget - tree.size() - 8) / 24;
        Put(tree, count, 4);
        for (std::size_t i = 0; i < count; ++i) {
            std::snprintf(name, sizeof name, "v%07zu", i);
            PutName(tree, name);
            Put(tree, reg::RegDword, 4);
            Put(tree, 4, 4);
            Put(tree, i, 4);
        }
        Put(tree, 0, 4);
    } else if (shape == "keys") {
        const std::size_t count = (budget - tree.size() - 8) / 20;
        Put(tree, 0, 4);
        Put(tree, count, 4);
        for (std::size_t i = 0; i < count; ++i) {
            std::snprintf(name, sizeof name, "k%07zu", i);
            PutName(tree, name);
            Put(tree, 0, 4);
            Put(tree, 0, 4);
        }
    } else {
        return "";
    }
    return tree;
}

int Make(const std::string& shape, const std::string& folder) {
    const std::string tree = Tree(shape);
    if (tree.empty()) {
        return 2;
    }
    std::string file = "TARNUREG";
    Put(file, 1, 4);
    Put(file, Crc32(tree), 4);
    Put(file, tree.size(), 8);
    file += tree;
    std::FILE* out = std::fopen((folder + "/HKEY_CURRENT_USER.hive").c_str(), "wb");
    const bool written = out && std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return out && std::fclose(out) == 0 && written ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "make" && argc == 4) {
        return Make(argv[2], argv[3]);
    }
    if ((command != "read" && command != "write") || argc != 3) {
        std::fprintf(stderr,
                     "usage: tarnu-hive-size make value|values|keys FOLDER\n"
                     "       tarnu-hive-size read|write FOLDER\n");
        return 2;
    }
    tarnu::posix::FileRegistry registry(argv[2], std::string(argv[2]) + "/machine");
    reg::HKEY key = 0;
    reg::LONG status = registry.RegOpenKeyExA(reg::HKeyCurrentUser, "Software", 0,
                                              command == "read" ? 0x19 : 0x3F, &key);
    if (status == reg::ErrorSuccess && command == "write") {
        const std::uint8_t one[] = {1, 0, 0, 0};
        status = registry.RegSetValueExA(key, "Bench", 0, reg::RegDword, one, sizeof one);
    }
    if (status == reg::ErrorSuccess) {
        status = registry.RegCloseKey(key);
    }
    if (status != reg::ErrorSuccess) {
        std::fprintf(stderr, "tarnu-hive-size: status %d\n", static_cast<int>(status));
        return 1;
    }
    return 0;
}
