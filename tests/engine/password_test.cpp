#include <gtest/gtest.h>

#include "platform/linux/engine/connect.h"
#include "platform/linux/engine/password.h"

namespace tarnu::engine {
namespace {

// The derived keys are test vectors of RFC 7914 and of other implementations (a key longer than
// a block; a derived key that ends inside a block); 64 bytes is the longest a stored form holds.
TEST(PasswordTest, StoredFormsVerify) {
    const std::string kdf = "pbkdf2-sha256$";
    const std::string salt = "$73616c74$";  // "salt"
    const std::string rfc =
        "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
        "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783";
    const std::string nacl =
        kdf + "4096$4e61436c$" +
        "438b6f1df76520b1c9989ddf976545b40f1ab4d9da723a81aa5083108b0da61fe1a2be306bc4e962";
    const std::tuple<std::string, std::string, PasswordCheck> cases[] = {
        {"passwd", kdf + "1" + salt + rfc, PasswordCheck::Match},
        {"Password", nacl, PasswordCheck::Match},
        {"password", nacl, PasswordCheck::Mismatch},
        {std::string(100, 'k'),
         kdf + "2" + salt + "2c1357648009149f57e4d5544c3435bbca87a6b231300fa3abb2a89b50f56ec3",
         PasswordCheck::Match},
        {"passwd", kdf + "1" + salt + rfc + "00", PasswordCheck::Malformed},
        {"brisk", "", PasswordCheck::Malformed},
        {"brisk", "brisk", PasswordCheck::Malformed},
        {"brisk", kdf + "0$00$00", PasswordCheck::Malformed},
        {"brisk", kdf + "99999999$00$00", PasswordCheck::Malformed},
        {"brisk", kdf + "10$0g$00", PasswordCheck::Malformed},
        {"brisk", kdf + "10$00$", PasswordCheck::Malformed},
        {"brisk", kdf + "10$00$00$00", PasswordCheck::Malformed},
        {"brisk", "md5$10$00$00", PasswordCheck::Malformed},
    };
    for (const auto& [password, stored, check] : cases) {
        EXPECT_EQ(VerifyPassword(password, stored), check) << stored;
    }
    const std::string hashed = HashPassword("brisk");
    EXPECT_NE(hashed, HashPassword("brisk")) << "salted";
    EXPECT_EQ(hashed.find("brisk"), std::string::npos);
    EXPECT_EQ(VerifyPassword("brisk", hashed), PasswordCheck::Match);
    EXPECT_EQ(VerifyPassword("Brisk", hashed), PasswordCheck::Mismatch);
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
