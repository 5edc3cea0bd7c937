#pragma once

// One registry hive as a tree of keys and values, and the file it is kept in.
//
// The file is a fixed header followed by the tree: "TARNUREG", a format version, a CRC-32 of
// the tree and the tree's length. Anything else - another magic, a version we do not know, a
// torn or garbled file - is refused as a whole, so a hive is never half read and then written
// back with the rest missing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ports/registry.h"

namespace tarnu::posix {

constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;
// Keys below the root of a hive, at most, as in Windows.
constexpr std::size_t kMaxKeyDepth = 512;
// The largest hive file, header included. A larger file is not read (it is not one the tool
// wrote), and a change that would make a hive larger is refused.
constexpr std::size_t kMaxHiveFileSize = std::size_t{64} << 20;

// Registry names compare without regard to case: this folds a UTF-8 name to upper case for
// comparison (ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters; other characters
// and invalid bytes stay as they are).
std::string FoldName(std::string_view name);

struct HiveValue {
    std::string name;
    std::uint32_t type = 0;
    std::string data;
};

struct HiveKey {
    std::string name;               // as first created; empty for the root of the hive
    std::vector<HiveValue> values;  // in the order they were first set
    std::vector<HiveKey> subkeys;   // ordered by folded name, as Windows lists them

    HiveKey* FindSubkey(std::string_view subkeyName);
    const HiveKey* FindSubkey(std::string_view subkeyName) const;
    // The new, empty subkey; the name must not be taken yet.
    HiveKey& AddSubkey(std::string subkeyName);
    const HiveValue* FindValue(std::string_view valueName) const;
    // Replaces a value of the same name, whatever its type, keeping its place and the case of
    // its name; false when type and data were already exactly these.
    bool SetValue(std::string_view valueName, std::uint32_t type, std::string_view data);
};

// Splits a key path into its names: repeated and trailing "\\" are ignored, the path ends at its
// first NUL. ErrorBadPathname for a leading "\\", ErrorInvalidParameter for a name too long.
reg::LONG SplitKeyPath(const std::string& path, std::vector<std::string>& names);

// The key at the end of these names below `root`, or null when one of them is missing.
const HiveKey* FindKey(const HiveKey& root, const std::vector<std::string>& names);
HiveKey* FindKey(HiveKey& root, const std::vector<std::string>& names);

// The tree of a hive file; false when the bytes are not a complete, intact hive.
bool ParseHive(std::string_view bytes, HiveKey& root);
std::string SerializeHive(const HiveKey& root);

}  // namespace tarnu::posix
