#include "platform/linux/posix/hive_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace tarnu::posix {

namespace {

constexpr char kMagic[8] = {'T', 'A', 'R', 'N', 'U', 'R', 'E', 'G'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 8 + 4 + 4 + 8;
// A key record holds at least its name length and two counts; a value its name length, type
// and data length. Counts larger than the rest of the file could hold are refused up front.
constexpr std::size_t kMinRecordSize = 12;

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[i] = c;
    }
    return table;
}
constexpr auto kCrcTable = MakeCrcTable();

std::uint32_t Crc32(std::string_view bytes) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        c = kCrcTable[(c ^ b) & 0xFF] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFu;
}

std::uint64_t GetLE(const char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    }
    return v;
}

void SetLE(char* p, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
}

// Four bytes of a number as they stand in the file.
struct Le32 {
    explicit Le32(std::size_t v) { SetLE(bytes, v, 4); }
    std::string_view view() const { return {bytes, 4}; }
    char bytes[4];
};

// Upper case of the code points below U+0800 that have a simple one; 0 when there is none.
char32_t UpperOf(char32_t c) {
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F)) {
        return c - 0x20;
    }
    if (c >= 0x450 && c <= 0x45F) {
        return c - 0x50;
    }
    if (c == 0xFF) {
        return 0x178;
    }
    if (c == 0x3C2) {
        return 0x3A3;
    }
    const bool pairEvenUpper =
        (c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    if (pairEvenUpper && (c & 1)) {
        return c - 1;
    }
    const bool pairOddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (pairOddUpper && !(c & 1)) {
        return c - 1;
    }
    return 0;
}

// A UTF-8 name folded to upper case for comparison, one byte at a time, so that names are
// compared without copying them: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters
// fold; other characters and invalid bytes stay as they are.
class Folded {
  public:
    explicit Folded(std::string_view name) : name_(name) {}
    // The next byte of the folded name; -1 at its end.
    int Next() {
        if (pending_ >= 0) {
            return std::exchange(pending_, -1);
        }
        if (at_ >= name_.size()) {
            return -1;
        }
        const auto b = static_cast<unsigned char>(name_[at_]);
        if (b >= 'a' && b <= 'z') {
            ++at_;
            return b - 0x20;
        }
        if (b >= 0xC2 && b <= 0xDF && at_ + 1 < name_.size()) {
            const auto next = static_cast<unsigned char>(name_[at_ + 1]);
            if ((next & 0xC0) == 0x80) {
                const char32_t c = (static_cast<char32_t>(b & 0x1F) << 6) | (next & 0x3F);
                const char32_t upper = UpperOf(c) ? UpperOf(c) : c;
                at_ += 2;
                pending_ = static_cast<int>(0x80 | (upper & 0x3F));
                return static_cast<int>(0xC0 | (upper >> 6));
            }
        }
        ++at_;
        return b;
    }

  private:
    std::string_view name_;
    std::size_t at_ = 0;
    int pending_ = -1;
};

// The order of two names without regard to case: <0, 0 or >0.
int CompareNames(std::string_view a, std::string_view b) {
    Folded x(a);
    Folded y(b);
    for (;;) {
        const int p = x.Next();
        const int q = y.Next();
        if (p != q) {
            return p < q ? -1 : 1;
        }
        if (p < 0) {
            return 0;
        }
    }
}

bool ValidKeyName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxKeyNameLength &&
           name.find_first_of(std::string_view("\\\0", 2)) == std::string_view::npos;
}

// Keys and values both start with their name.
std::string_view NameAt(std::string_view bytes, std::size_t record) {
    return bytes.substr(record + 4, GetLE(bytes.data() + record, 4));
}

// Whether the names of these records differ from each other without regard to case. They are
// usually in order already (subkeys always are), which is checked first in one pass.
bool Distinct(std::string_view bytes, std::vector<std::uint32_t>& records) {
    auto less = [bytes](std::uint32_t a, std::uint32_t b) {
        return CompareNames(NameAt(bytes, a), NameAt(bytes, b)) < 0;
    };
    bool ordered = true;
    for (std::size_t i = 1; i < records.size() && ordered; ++i) {
        ordered = less(records[i - 1], records[i]);
    }
    if (ordered) {
        return true;
    }
    std::sort(records.begin(), records.end(), less);
    return std::adjacent_find(records.begin(), records.end(),
                              [&](std::uint32_t a, std::uint32_t b) { return !less(a, b); }) ==
           records.end();
}

// Checks the tree of a hive file record by record, with every bound and count.
class Checker {
  public:
    explicit Checker(std::string_view bytes, std::size_t at) : bytes_(bytes), at_(at) {}

    bool Key(std::size_t depth) {
        std::uint32_t n = 0;
        if (!U32(n) || n > kMaxKeyNameLength || !Skip(n)) {
            return false;
        }
        const std::string_view name = bytes_.substr(at_ - n, n);
        if (depth == 0 ? !name.empty() : !ValidKeyName(name)) {
            return false;
        }
        std::uint32_t count = 0;
        if (!Count(count)) {
            return false;
        }
        std::vector<std::uint32_t> records;
        records.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            records.push_back(static_cast<std::uint32_t>(at_));
            std::uint32_t type = 0;
            std::uint32_t size = 0;
            if (!U32(n) || n > kMaxValueNameLength || !Skip(n) ||
                bytes_.substr(at_ - n, n).find('\0') != std::string_view::npos || !U32(type) ||
                !U32(size) || !Skip(size)) {
                return false;
            }
        }
        if (!Distinct(bytes_, records) || !Count(count) || (count > 0 && depth >= kMaxKeyDepth)) {
            return false;
        }
        records.clear();
        records.shrink_to_fit();
        records.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            records.push_back(static_cast<std::uint32_t>(at_));
            if (!Key(depth + 1)) {
                return false;
            }
        }
        return Distinct(bytes_, records);
    }
    bool AtEnd() const { return at_ == bytes_.size(); }

  private:
    bool U32(std::uint32_t& v) {
        if (bytes_.size() - at_ < 4) {
            return false;
        }
        v = static_cast<std::uint32_t>(GetLE(bytes_.data() + at_, 4));
        at_ += 4;
        return true;
    }
    bool Skip(std::size_t n) {
        if (bytes_.size() - at_ < n) {
            return false;
        }
        at_ += n;
        return true;
    }
    bool Count(std::uint32_t& n) { return U32(n) && n <= (bytes_.size() - at_) / kMinRecordSize; }

    std::string_view bytes_;
    std::size_t at_;
};

// The parts of a record in a checked hive.
std::uint32_t U32At(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(GetLE(bytes.data() + at, 4));
}

// Where the value count of the key at `key` stands.
std::size_t ValuesOf(const std::string& bytes, std::size_t key) {
    return key + 4 + U32At(bytes, key);
}

std::size_t ValueEnd(const std::string& bytes, std::size_t value) {
    const std::size_t n = U32At(bytes, value);
    return value + 12 + n + U32At(bytes, value + 8 + n);
}

// Where the subkey count of the key at `key` stands.
std::size_t SubkeysOf(const std::string& bytes, std::size_t key) {
    std::size_t at = ValuesOf(bytes, key);
    const std::uint32_t count = U32At(bytes, at);
    at += 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        at = ValueEnd(bytes, at);
    }
    return at;
}

// Calls visit (if any) for the key at `key` and all below it; returns where its record ends.
std::size_t KeyEnd(const std::string& bytes, std::size_t key, std::size_t depth,
                   const std::function<void(std::size_t, std::size_t)>* visit) {
    if (visit) {
        (*visit)(key, depth);
    }
    std::size_t at = SubkeysOf(bytes, key);
    const std::uint32_t count = U32At(bytes, at);
    at += 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        at = KeyEnd(bytes, at, depth + 1, visit);
    }
    return at;
}

std::optional<std::size_t> SubkeyOf(const std::string& bytes, std::size_t key,
                                    std::string_view name) {
    std::size_t at = SubkeysOf(bytes, key);
    const std::uint32_t count = U32At(bytes, at);
    at += 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (CompareNames(NameAt(bytes, at), name) == 0) {
            return at;
        }
        at = KeyEnd(bytes, at, 0, nullptr);
    }
    return std::nullopt;
}

std::string EmptyHive() {
    std::string out(kMagic, sizeof kMagic);
    out.append(4 + 4 + 8, '\0');
    out.append(kMinRecordSize, '\0');  // the root: no name, no values, no subkeys
    SetLE(out.data() + 8, kVersion, 4);
    SetLE(out.data() + 12, Crc32(std::string_view(out).substr(kHeaderSize)), 4);
    SetLE(out.data() + 16, kMinRecordSize, 8);
    return out;
}

}  // namespace

Hive::Hive() : bytes_(EmptyHive()) {}

bool Hive::Load(std::string bytes) {
    if (bytes.size() < kHeaderSize || bytes.size() > kMaxHiveFileSize ||
        std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 ||
        GetLE(bytes.data() + 8, 4) != kVersion) {
        return false;
    }
    const std::string_view payload = std::string_view(bytes).substr(kHeaderSize);
    if (GetLE(bytes.data() + 16, 8) != payload.size() ||
        Crc32(payload) != GetLE(bytes.data() + 12, 4)) {
        return false;
    }
    Checker checker(bytes, kHeaderSize);
    if (!checker.Key(0) || !checker.AtEnd()) {
        return false;
    }
    bytes_ = std::move(bytes);
    return true;
}

Hive::Key Hive::Root() const {
    return kHeaderSize;
}

std::string_view Hive::Name(Key key) const {
    return NameAt(bytes_, key);
}

std::optional<Hive::Key> Hive::Find(const std::vector<std::string>& names,
                                    std::vector<std::string>* stored) const {
    Key key = Root();
    if (stored) {
        stored->clear();
    }
    for (const std::string& name : names) {
        const std::optional<Key> sub = SubkeyOf(bytes_, key, name);
        if (!sub) {
            return std::nullopt;
        }
        key = *sub;
        if (stored) {
            stored->emplace_back(Name(key));
        }
    }
    return key;
}

std::optional<HiveValue> Hive::Value(Key key, std::string_view name) const {
    std::optional<HiveValue> found;
    ForEachValue(key, [&](const HiveValue& value) {
        if (!found && CompareNames(value.name, name) == 0) {
            found = value;
        }
    });
    return found;
}

void Hive::ForEachValue(Key key, const std::function<void(const HiveValue&)>& visit) const {
    std::size_t at = ValuesOf(bytes_, key);
    const std::uint32_t count = U32At(bytes_, at);
    at += 4;
    const std::string_view bytes(bytes_);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t n = U32At(bytes_, at);
        visit({bytes.substr(at + 4, n), U32At(bytes_, at + 4 + n),
               bytes.substr(at + 12 + n, U32At(bytes_, at + 8 + n))});
        at = ValueEnd(bytes_, at);
    }
}

void Hive::ForEachKey(Key key, const std::function<void(Key, std::size_t depth)>& visit) const {
    KeyEnd(bytes_, key, 0, &visit);
}

reg::LONG Hive::CreateKey(std::vector<std::string>& names, std::size_t existing, bool& created) {
    created = false;
    if (names.size() > kMaxKeyDepth || !std::all_of(names.begin(), names.end(), ValidKeyName)) {
        return reg::ErrorInvalidParameter;
    }
    Key key = Root();
    std::size_t found = 0;
    for (; found < names.size(); ++found) {
        const std::optional<Key> sub = SubkeyOf(bytes_, key, names[found]);
        if (!sub) {
            break;
        }
        key = *sub;
        names[found] = Name(key);
    }
    if (found < existing) {
        return reg::ErrorKeyDeleted;
    }
    if (found == names.size()) {
        return reg::ErrorSuccess;
    }
    // Before the first sibling whose name comes later, so that the order stays Windows' order.
    const std::size_t countAt = SubkeysOf(bytes_, key);
    std::size_t at = countAt + 4;
    for (std::uint32_t i = 0, n = U32At(bytes_, countAt); i < n; ++i) {
        if (CompareNames(NameAt(bytes_, at), names[found]) > 0) {
            break;
        }
        at = KeyEnd(bytes_, at, 0, nullptr);
    }
    // The missing keys, each holding the next as its one subkey.
    std::string chain;
    for (std::size_t i = found; i < names.size(); ++i) {
        chain.append(Le32(names[i].size()).view()).append(names[i]);
        chain.append(Le32(0).view()).append(Le32(i + 1 < names.size() ? 1 : 0).view());
    }
    const reg::LONG status = Splice(at, {chain}, at, countAt);
    created = status == reg::ErrorSuccess;
    return status;
}

reg::LONG Hive::SetValue(const std::vector<std::string>& names, std::string_view name,
                         std::uint32_t type, std::string_view data, bool& changed) {
    changed = false;
    if (name.size() > kMaxValueNameLength || name.find('\0') != std::string_view::npos) {
        return reg::ErrorInvalidParameter;
    }
    const std::optional<Key> key = Find(names);
    if (!key) {
        return reg::ErrorKeyDeleted;
    }
    const std::size_t countAt = ValuesOf(bytes_, *key);
    std::size_t at = countAt + 4;
    for (std::uint32_t i = 0, n = U32At(bytes_, countAt); i < n; ++i) {
        const std::size_t end = ValueEnd(bytes_, at);
        const std::string_view stored = NameAt(bytes_, at);
        if (CompareNames(stored, name) == 0) {
            const std::size_t nameEnd = at + 4 + stored.size();
            if (U32At(bytes_, nameEnd) == type &&
                std::string_view(bytes_).substr(nameEnd + 8, end - nameEnd - 8) == data) {
                return reg::ErrorSuccess;
            }
            // The name as stored stays in place; type and data follow anew.
            const reg::LONG status =
                data.size() > kMaxHiveFileSize
                    ? reg::ErrorNoSystemResources
                    : Splice(nameEnd, {Le32(type).view(), Le32(data.size()).view(), data}, end,
                             std::nullopt);
            changed = status == reg::ErrorSuccess;
            return status;
        }
        at = end;
    }
    const reg::LONG status = data.size() > kMaxHiveFileSize
                                 ? reg::ErrorNoSystemResources
                                 : Splice(at,
                                          {Le32(name.size()).view(), name, Le32(type).view(),
                                           Le32(data.size()).view(), data},
                                          at, countAt);
    changed = status == reg::ErrorSuccess;
    return status;
}

reg::LONG Hive::Splice(std::size_t cut, std::initializer_list<std::string_view> insert,
                       std::size_t resume, std::optional<std::size_t> countAt) {
    std::size_t size = bytes_.size() - (resume - cut);
    for (std::string_view piece : insert) {
        size += piece.size();
    }
    if (size > kMaxHiveFileSize) {
        return reg::ErrorNoSystemResources;
    }
    std::string out;
    out.reserve(size);
    out.append(bytes_, 0, cut);
    for (std::string_view piece : insert) {
        out.append(piece);
    }
    out.append(bytes_, resume);
    if (countAt) {
        SetLE(out.data() + *countAt, U32At(out, *countAt) + 1, 4);
    }
    SetLE(out.data() + 12, Crc32(std::string_view(out).substr(kHeaderSize)), 4);
    SetLE(out.data() + 16, size - kHeaderSize, 8);
    bytes_ = std::move(out);
    return reg::ErrorSuccess;
}

reg::LONG SplitKeyPath(const std::string& path, std::vector<std::string>& names) {
    const std::string_view text(path.c_str());
    names.clear();
    if (!text.empty() && text.front() == '\\') {
        return reg::ErrorBadPathname;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\\', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        if (end > start) {
            if (end - start > kMaxKeyNameLength) {
                return reg::ErrorInvalidParameter;
            }
            names.emplace_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return reg::ErrorSuccess;
}

}  // namespace tarnu::posix
