#include "platform/linux/posix/hive_file.h"

#include <algorithm>
#include <array>
#include <cstring>
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

void AppendUtf8Pair(std::string& out, char32_t c) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
}

void PutU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

void PutU64(std::string& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

std::uint64_t GetLE(const char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    }
    return v;
}

void PutName(std::string& out, std::string_view name) {
    PutU32(out, static_cast<std::uint32_t>(name.size()));
    out.append(name);
}

void SerializeKey(std::string& out, const HiveKey& key) {
    PutName(out, key.name);
    PutU32(out, static_cast<std::uint32_t>(key.values.size()));
    for (const HiveValue& v : key.values) {
        PutName(out, v.name);
        PutU32(out, v.type);
        PutU32(out, static_cast<std::uint32_t>(v.data.size()));
        out.append(v.data);
    }
    PutU32(out, static_cast<std::uint32_t>(key.subkeys.size()));
    for (const HiveKey& sub : key.subkeys) {
        SerializeKey(out, sub);
    }
}

class Reader {
  public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}

    bool U32(std::uint32_t& v) {
        if (rest_.size() < 4) {
            return false;
        }
        v = static_cast<std::uint32_t>(GetLE(rest_.data(), 4));
        rest_.remove_prefix(4);
        return true;
    }
    bool Bytes(std::size_t n, std::string& out) {
        if (rest_.size() < n) {
            return false;
        }
        out.assign(rest_.data(), n);
        rest_.remove_prefix(n);
        return true;
    }
    bool Count(std::uint32_t& n) { return U32(n) && n <= rest_.size() / kMinRecordSize; }
    bool AtEnd() const { return rest_.empty(); }

  private:
    std::string_view rest_;
};

bool ValidKeyName(const std::string& name) {
    return !name.empty() && name.size() <= kMaxKeyNameLength &&
           name.find_first_of(std::string_view("\\\0", 2)) == std::string::npos;
}

bool ParseKey(Reader& in, HiveKey& key, std::size_t depth) {
    std::uint32_t n = 0;
    if (!in.U32(n) || n > kMaxKeyNameLength || !in.Bytes(n, key.name)) {
        return false;
    }
    if (depth == 0 ? !key.name.empty() : !ValidKeyName(key.name)) {
        return false;
    }
    std::uint32_t valueCount = 0;
    if (!in.Count(valueCount)) {
        return false;
    }
    std::vector<std::string> folded;
    for (std::uint32_t i = 0; i < valueCount; ++i) {
        HiveValue v;
        std::uint32_t size = 0;
        if (!in.U32(n) || n > kMaxValueNameLength || !in.Bytes(n, v.name) ||
            v.name.find('\0') != std::string::npos || !in.U32(v.type) || !in.U32(size) ||
            !in.Bytes(size, v.data)) {
            return false;
        }
        folded.push_back(FoldName(v.name));
        key.values.push_back(std::move(v));
    }
    std::sort(folded.begin(), folded.end());
    if (std::adjacent_find(folded.begin(), folded.end()) != folded.end()) {
        return false;
    }

    std::uint32_t subkeyCount = 0;
    if (!in.Count(subkeyCount) || (subkeyCount > 0 && depth >= kMaxKeyDepth)) {
        return false;
    }
    for (std::uint32_t i = 0; i < subkeyCount; ++i) {
        key.subkeys.emplace_back();
        if (!ParseKey(in, key.subkeys.back(), depth + 1)) {
            return false;
        }
    }
    // Kept in order on load as well, so that a file written under other folding rules still
    // reads; two names that fold alike cannot both be meant.
    std::vector<std::pair<std::string, std::size_t>> order;
    for (std::size_t i = 0; i < key.subkeys.size(); ++i) {
        order.emplace_back(FoldName(key.subkeys[i].name), i);
    }
    std::sort(order.begin(), order.end());
    for (std::size_t i = 1; i < order.size(); ++i) {
        if (order[i].first == order[i - 1].first) {
            return false;
        }
    }
    std::vector<HiveKey> sorted;
    sorted.reserve(order.size());
    for (auto& [name, index] : order) {
        sorted.push_back(std::move(key.subkeys[index]));
    }
    key.subkeys = std::move(sorted);
    return true;
}

}  // namespace

std::string FoldName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto b = static_cast<unsigned char>(name[i]);
        if (b >= 'a' && b <= 'z') {
            out.push_back(static_cast<char>(b - 0x20));
            continue;
        }
        if (b >= 0xC2 && b <= 0xDF && i + 1 < name.size()) {
            const auto next = static_cast<unsigned char>(name[i + 1]);
            if ((next & 0xC0) == 0x80) {
                const char32_t c = (static_cast<char32_t>(b & 0x1F) << 6) | (next & 0x3F);
                const char32_t upper = UpperOf(c);
                AppendUtf8Pair(out, upper ? upper : c);
                ++i;
                continue;
            }
        }
        out.push_back(static_cast<char>(b));
    }
    return out;
}

HiveKey* HiveKey::FindSubkey(std::string_view subkeyName) {
    return const_cast<HiveKey*>(std::as_const(*this).FindSubkey(subkeyName));
}

const HiveKey* HiveKey::FindSubkey(std::string_view subkeyName) const {
    const std::string folded = FoldName(subkeyName);
    auto it = std::lower_bound(
        subkeys.begin(), subkeys.end(), folded,
        [](const HiveKey& k, const std::string& f) { return FoldName(k.name) < f; });
    if (it != subkeys.end() && FoldName(it->name) == folded) {
        return &*it;
    }
    return nullptr;
}

HiveKey& HiveKey::AddSubkey(std::string subkeyName) {
    const std::string folded = FoldName(subkeyName);
    auto it = std::lower_bound(
        subkeys.begin(), subkeys.end(), folded,
        [](const HiveKey& k, const std::string& f) { return FoldName(k.name) < f; });
    HiveKey key;
    key.name = std::move(subkeyName);
    return *subkeys.insert(it, std::move(key));
}

const HiveValue* HiveKey::FindValue(std::string_view valueName) const {
    const std::string folded = FoldName(valueName);
    for (const HiveValue& v : values) {
        if (FoldName(v.name) == folded) {
            return &v;
        }
    }
    return nullptr;
}

bool HiveKey::SetValue(std::string_view valueName, std::uint32_t type, std::string_view data) {
    if (auto* found = const_cast<HiveValue*>(FindValue(valueName))) {
        if (found->type == type && found->data == data) {
            return false;
        }
        found->type = type;
        found->data.assign(data);
        return true;
    }
    values.push_back(HiveValue{std::string(valueName), type, std::string(data)});
    return true;
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

const HiveKey* FindKey(const HiveKey& root, const std::vector<std::string>& names) {
    const HiveKey* key = &root;
    for (const std::string& name : names) {
        key = key->FindSubkey(name);
        if (!key) {
            return nullptr;
        }
    }
    return key;
}

HiveKey* FindKey(HiveKey& root, const std::vector<std::string>& names) {
    return const_cast<HiveKey*>(FindKey(std::as_const(root), names));
}

bool ParseHive(std::string_view bytes, HiveKey& root) {
    if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 ||
        GetLE(bytes.data() + 8, 4) != kVersion) {
        return false;
    }
    const std::uint32_t crc = static_cast<std::uint32_t>(GetLE(bytes.data() + 12, 4));
    const std::uint64_t length = GetLE(bytes.data() + 16, 8);
    const std::string_view payload = bytes.substr(kHeaderSize);
    if (length != payload.size() || Crc32(payload) != crc) {
        return false;
    }
    HiveKey parsed;
    Reader in(payload);
    if (!ParseKey(in, parsed, 0) || !in.AtEnd()) {
        return false;
    }
    root = std::move(parsed);
    return true;
}

std::string SerializeHive(const HiveKey& root) {
    std::string payload;
    SerializeKey(payload, root);
    std::string out(kMagic, sizeof kMagic);
    PutU32(out, kVersion);
    PutU32(out, Crc32(payload));
    PutU64(out, payload.size());
    out += payload;
    return out;
}

}  // namespace tarnu::posix
