#pragma once

// Connect strings in DAO's form: ";key=value;key=value", keys without regard to case
// (";pwd=brisk", ";DATABASE=/srv/KDL.mdb;PWD=x", "ODBC;DSN=Lager;").

#include <optional>
#include <string>
#include <string_view>

namespace tarnu::engine {

// The value of key in connect; nullopt when the key does not occur. The last occurrence wins.
std::optional<std::string> ConnectValue(std::string_view connect, std::string_view key);

// The password a connect-style argument carries: its "pwd" value, "" when there is none.
std::string PasswordOf(const std::optional<std::string>& connect);

}  // namespace tarnu::engine
