#pragma once

// Jet's own semantics for the operators SQLite does differently, as SQL functions that compiled
// statements call: LIKE with Jet's wildcards, "/" that refuses a zero divisor, and "&".

#include <sqlite3.h>

#include <string_view>

namespace tarnu::engine {

// Jet's LIKE: * any run of characters, ? one character, # one digit, [abc], [a-z] and [!abc]
// one character of (or not of) a set; letters match without regard to case.
bool JetLike(std::string_view value, std::string_view pattern);

// Registers jet_like(value, pattern), jet_div(a, b) and jet_concat(a, b) on a connection.
void RegisterJetFunctions(sqlite3* db);

}  // namespace tarnu::engine
