#include <gtest/gtest.h>

#include <cstdio>

#include "platform/linux/engine/connect.h"
#include "platform/linux/engine/password.h"

namespace tarnu::engine {
namespace {

std::string Hex(std::string_view bytes) {
    std::string out;
    char buf[3];
    for (char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(c));
        out += buf;
    }
    return out;
}

std::string Hex(const Sha256Digest& d) {
    return Hex(std::string_view(reinterpret_cast<const char*>(d.data()), d.size()));
}

// Test vectors of FIPS 180-2 and RFC 7914, and of other implementations for a key longer than a
// block and a derived key that ends inside a block.
TEST(PasswordTest, HashFunctionsMatchPublishedVectors) {
    EXPECT_EQ(Hex(Sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Hex(Sha256("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Hex(Sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Hex(Pbkdf2Sha256("passwd", "salt", 1, 64)),
              "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
              "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783");
    // 40 bytes: a second block, cut short.
    EXPECT_EQ(Hex(Pbkdf2Sha256("Password", "NaCl", 4096, 40)),
              "438b6f1df76520b1c9989ddf976545b40f1ab4d9da723a81aa5083108b0da61fe1a2be306bc4e962");
    EXPECT_EQ(Hex(Pbkdf2Sha256(std::string(100, 'k'), "salt", 2, 32)),
              "2c1357648009149f57e4d5544c3435bbca87a6b231300fa3abb2a89b50f56ec3");
}

TEST(PasswordTest, StoredFormIsSaltedAndVerifies) {
    std::string first = HashPassword("brisk");
    std::string second = HashPassword("brisk");
    EXPECT_NE(first, second);
    EXPECT_EQ(first.find("brisk"), std::string::npos);
    EXPECT_EQ(VerifyPassword("brisk", first), PasswordCheck::Match);
    EXPECT_EQ(VerifyPassword("brisk", second), PasswordCheck::Match);
    EXPECT_EQ(VerifyPassword("Brisk", first), PasswordCheck::Mismatch);
    EXPECT_EQ(VerifyPassword("", first), PasswordCheck::Mismatch);

    std::string tampered = first;
    tampered.back() = tampered.back() == '0' ? '1' : '0';
    EXPECT_EQ(VerifyPassword("brisk", tampered), PasswordCheck::Mismatch);
    for (const char* bad : {"", "brisk", "pbkdf2-sha256$0$00$00", "pbkdf2-sha256$99999999$00$00",
                            "pbkdf2-sha256$10$0g$00", "pbkdf2-sha256$10$00$", "md5$10$00$00",
                            "pbkdf2-sha256$10$00$00$00"}) {
        EXPECT_EQ(VerifyPassword("brisk", bad), PasswordCheck::Malformed) << bad;
    }
}

TEST(PasswordTest, ConnectStringsYieldTheirValues) {
    EXPECT_EQ(ConnectValue(";pwd=brisk", "pwd"), "brisk");
    EXPECT_EQ(ConnectValue(";PWD=a=b;DATABASE=/x/KDL.mdb", "pwd"), "a=b");
    EXPECT_EQ(ConnectValue(";PWD=a=b;DATABASE=/x/KDL.mdb", "Database"), "/x/KDL.mdb");
    EXPECT_EQ(ConnectValue("ODBC;DSN=Lager; pwd =geheim ", "pwd"), "geheim ");
    EXPECT_EQ(ConnectValue(";pwd=", "pwd"), "");
    EXPECT_EQ(ConnectValue(";pwdx=1;xpwd=2", "pwd"), std::nullopt);
}

}  // namespace
}  // namespace tarnu::engine
