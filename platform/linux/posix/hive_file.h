#pragma once

// One registry hive and the file it is kept in.
//
// The file is a fixed header followed by the tree: "TARNUREG", a format version, a CRC-32 of
// the tree and the tree's length. Anything else - another magic, a version we do not know, a
// torn or garbled file - is refused as a whole, so a hive is never half read and then written
// back with the rest missing.
//
// A hive at the size limit may hold millions of keys and values. It is therefore kept as the
// bytes of its file: loading checks them once, a lookup walks them, and a change writes the new
// file in one pass from the old one. Reading a hive costs about its size in memory and changing
// it about twice that, whatever its shape; a tree of objects would cost many times the file.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
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

// A value as the hive holds it; the views are into the hive and valid until it changes.
struct HiveValue {
    std::string_view name;
    std::uint32_t type = 0;
    std::string_view data;
};

class Hive {
  public:
    // A key: where its record starts in the file. Valid until the hive changes.
    using Key = std::size_t;

    // An empty hive, as a missing file is.
    Hive();
    // Takes bytes as the hive when they are a complete, intact hive; otherwise false, and the
    // hive stays as it was.
    bool Load(std::string bytes);
    // The file of the hive as it stands.
    const std::string& Bytes() const { return bytes_; }

    Key Root() const;
    // The name as first created; empty for the root.
    std::string_view Name(Key key) const;
    // The key at the end of names below the root, each name compared without regard to case;
    // nullopt when one is missing. stored, if given, gets the names as the hive spells them.
    std::optional<Key> Find(const std::vector<std::string>& names,
                            std::vector<std::string>* stored = nullptr) const;
    std::optional<HiveValue> Value(Key key, std::string_view name) const;
    // The values of key in the order they were first set.
    void ForEachValue(Key key, const std::function<void(const HiveValue&)>& visit) const;
    // key and every key below it, depth first, each before its subkeys and the subkeys of one
    // key in the order Windows lists them; depth 0 is key itself.
    void ForEachKey(Key key, const std::function<void(Key, std::size_t depth)>& visit) const;

    // Creates those keys along names that are missing, each in its place among its siblings.
    // The first `existing` names must be there already (else ErrorKeyDeleted: the key of a
    // handle was removed meanwhile). names take the spelling of the keys that were there;
    // created tells whether a key was made.
    reg::LONG CreateKey(std::vector<std::string>& names, std::size_t existing, bool& created);
    // Stores a value in the key at names (ErrorKeyDeleted when it is missing). A value of the
    // same name, whatever its type, is replaced in its place and keeps its name's spelling;
    // changed is false when type and data were exactly these already.
    reg::LONG SetValue(const std::vector<std::string>& names, std::string_view name,
                       std::uint32_t type, std::string_view data, bool& changed);
    // Both refuse a change that would take the file over kMaxHiveFileSize with
    // ErrorNoSystemResources, changing nothing.

  private:
    // Puts the file together from the old one: bytes_[0, cut) + insert + bytes_[resume, end),
    // with the count at countAt (if any) raised by one, and a fresh header.
    reg::LONG Splice(std::size_t cut, std::initializer_list<std::string_view> insert,
                     std::size_t resume, std::optional<std::size_t> countAt);

    std::string bytes_;
};

// Splits a key path into its names: repeated and trailing "\\" are ignored, the path ends at its
// first NUL. ErrorBadPathname for a leading "\\", ErrorInvalidParameter for a name too long.
reg::LONG SplitKeyPath(const std::string& path, std::vector<std::string>& names);

}  // namespace tarnu::posix
