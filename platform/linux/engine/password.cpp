#include "platform/linux/engine/password.h"

#include <charconv>
#include <cstring>
#include <random>
#include <vector>

namespace tarnu::engine {

namespace {

// Stretching makes guessing the password from a copied file costly; the cost is paid once per
// open of a protected database.
constexpr std::uint32_t kIterations = 20000;
constexpr std::uint32_t kMaxIterations = 200000;
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;

constexpr std::uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

std::uint32_t Rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

class Sha256State {
  public:
    Sha256State() { std::memcpy(h_, kInitialState, sizeof h_); }

    void Update(std::string_view data) {
        for (char c : data) {
            block_[used_++] = static_cast<std::uint8_t>(c);
            if (used_ == 64) {
                Compress();
                used_ = 0;
            }
        }
        length_ += data.size();
    }

    Sha256Digest Finish() {
        std::uint64_t bits = length_ * 8;
        block_[used_++] = 0x80;
        if (used_ > 56) {
            while (used_ < 64) {
                block_[used_++] = 0;
            }
            Compress();
            used_ = 0;
        }
        while (used_ < 56) {
            block_[used_++] = 0;
        }
        for (int i = 7; i >= 0; --i) {
            block_[used_++] = static_cast<std::uint8_t>(bits >> (i * 8));
        }
        Compress();
        Sha256Digest out{};
        for (int i = 0; i < 8; ++i) {
            for (int j = 0; j < 4; ++j) {
                out[i * 4 + j] = static_cast<std::uint8_t>(h_[i] >> (24 - j * 8));
            }
        }
        return out;
    }

  private:
    void Compress() {
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i) {
            w[i] = (std::uint32_t{block_[i * 4]} << 24) | (std::uint32_t{block_[i * 4 + 1]} << 16) |
                   (std::uint32_t{block_[i * 4 + 2]} << 8) | std::uint32_t{block_[i * 4 + 3]};
        }
        for (int i = 16; i < 64; ++i) {
            std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3];
        std::uint32_t e = h_[4], f = h_[5], g = h_[6], h = h_[7];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t s1 = Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25);
            std::uint32_t ch = (e & f) ^ (~e & g);
            std::uint32_t t1 = h + s1 + ch + kRoundConstants[i] + w[i];
            std::uint32_t s0 = Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22);
            std::uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
            std::uint32_t t2 = s0 + maj;
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        h_[0] += a;
        h_[1] += b;
        h_[2] += c;
        h_[3] += d;
        h_[4] += e;
        h_[5] += f;
        h_[6] += g;
        h_[7] += h;
    }

    std::uint32_t h_[8];
    std::uint8_t block_[64] = {};
    std::size_t used_ = 0;
    std::uint64_t length_ = 0;
};

std::string_view AsText(const Sha256Digest& d) {
    return {reinterpret_cast<const char*>(d.data()), d.size()};
}

// HMAC-SHA-256 with the key's inner and outer states prepared once, since PBKDF2 reuses them.
class Hmac {
  public:
    explicit Hmac(std::string_view key) {
        std::string k(key);
        if (k.size() > 64) {
            k = std::string(AsText(Sha256(k)));
        }
        k.resize(64, '\0');
        std::string ipad(64, '\0'), opad(64, '\0');
        for (std::size_t i = 0; i < 64; ++i) {
            ipad[i] = static_cast<char>(k[i] ^ 0x36);
            opad[i] = static_cast<char>(k[i] ^ 0x5c);
        }
        inner_.Update(ipad);
        outer_.Update(opad);
    }

    Sha256Digest Mac(std::string_view message) const {
        Sha256State in = inner_;
        in.Update(message);
        Sha256Digest innerDigest = in.Finish();
        Sha256State out = outer_;
        out.Update(AsText(innerDigest));
        return out.Finish();
    }

  private:
    Sha256State inner_;
    Sha256State outer_;
};

std::string ToHex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

bool FromHex(std::string_view hex, std::string& out) {
    if (hex.size() % 2 != 0) {
        return false;
    }
    out.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        auto [p, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
        if (ec != std::errc() || p != hex.data() + i + 2) {
            return false;
        }
        out += static_cast<char>(value);
    }
    return true;
}

}  // namespace

Sha256Digest Sha256(std::string_view data) {
    Sha256State s;
    s.Update(data);
    return s.Finish();
}

std::string Pbkdf2Sha256(std::string_view password, std::string_view salt, std::uint32_t iterations,
                         std::size_t length) {
    Hmac hmac(password);
    std::string out;
    for (std::uint32_t block = 1; out.size() < length; ++block) {
        std::string first(salt);
        for (int i = 3; i >= 0; --i) {
            first += static_cast<char>((block >> (i * 8)) & 0xff);
        }
        Sha256Digest u = hmac.Mac(first);
        Sha256Digest t = u;
        for (std::uint32_t i = 1; i < iterations; ++i) {
            u = hmac.Mac(AsText(u));
            for (std::size_t j = 0; j < t.size(); ++j) {
                t[j] ^= u[j];
            }
        }
        out.append(AsText(t).substr(0, std::min(t.size(), length - out.size())));
    }
    return out;
}

std::string HashPassword(std::string_view password) {
    std::random_device device;
    std::string salt;
    while (salt.size() < kSaltBytes) {
        std::uint32_t r = device();
        for (int i = 0; i < 4 && salt.size() < kSaltBytes; ++i) {
            salt += static_cast<char>((r >> (i * 8)) & 0xff);
        }
    }
    return "pbkdf2-sha256$" + std::to_string(kIterations) + "$" + ToHex(salt) + "$" +
           ToHex(Pbkdf2Sha256(password, salt, kIterations, kHashBytes));
}

PasswordCheck VerifyPassword(std::string_view password, std::string_view stored) {
    std::vector<std::string_view> parts;
    while (true) {
        std::size_t end = stored.find('$');
        parts.push_back(stored.substr(0, end));
        if (end == std::string_view::npos) {
            break;
        }
        stored.remove_prefix(end + 1);
    }
    if (parts.size() != 4 || parts[0] != "pbkdf2-sha256") {
        return PasswordCheck::Malformed;
    }
    std::uint32_t iterations = 0;
    auto [p, ec] = std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), iterations);
    std::string salt, hash;
    if (ec != std::errc() || p != parts[1].data() + parts[1].size() || iterations == 0 ||
        iterations > kMaxIterations || !FromHex(parts[2], salt) || !FromHex(parts[3], hash) ||
        hash.empty() || hash.size() > 64) {
        return PasswordCheck::Malformed;
    }
    std::string derived = Pbkdf2Sha256(password, salt, iterations, hash.size());
    // Compare every byte so the time taken does not tell how much of a guess was right.
    unsigned char diff = 0;
    for (std::size_t i = 0; i < hash.size(); ++i) {
        diff |= static_cast<unsigned char>(derived[i] ^ hash[i]);
    }
    return diff == 0 ? PasswordCheck::Match : PasswordCheck::Mismatch;
}

}  // namespace tarnu::engine
