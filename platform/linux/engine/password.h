#pragma once

// Database passwords are kept only as a salted, stretched hash (PBKDF2 with HMAC-SHA-256), so
// the file never shows the password itself. The hash guards the engine's interface; the rows
// themselves are stored unencrypted.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnu::engine {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest Sha256(std::string_view data);

// PBKDF2-HMAC-SHA-256 with a derived key of `length` bytes.
std::string Pbkdf2Sha256(std::string_view password, std::string_view salt, std::uint32_t iterations,
                         std::size_t length);

// The stored form of a password: "pbkdf2-sha256$ITERATIONS$SALT$HASH" (hex), with a fresh salt.
std::string HashPassword(std::string_view password);

enum class PasswordCheck { Match, Mismatch, Malformed };

// Compares a password against its stored form; Malformed when the stored form cannot be read.
PasswordCheck VerifyPassword(std::string_view password, std::string_view stored);

}  // namespace tarnu::engine
