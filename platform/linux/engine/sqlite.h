#pragma once

// Thin owners of SQLite handles that raise the engine's errors instead of returning codes.

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "platform/linux/engine/file_hold.h"
#include "platform/linux/engine/value.h"
#include "ports/error.h"

namespace tarnu::engine {

// How long a statement waits for a lock another connection holds, as Jet waits for a locked
// page before it gives up.
constexpr int kBusyTimeoutMs = 5000;

class Connection {
  public:
    // Has SQLite work on the open file (a database file or an existing empty one), which the
    // engine knows as `path` (absolute, so that it is never read as a URI) and whose journal
    // lies beside it in its folder. Neither reads nor writes the file yet.
    Connection(const std::string& path, const PlacedFile& file, bool readOnly);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* handle() const { return db_; }
    const std::string& path() const { return path_; }

    // Runs SQL without results; raises on failure.
    void Exec(const char* sql);
    // Begins a transaction. One that fails leaves the connection outside any transaction, so
    // that none of its locks stays behind to stop every later statement and other processes.
    void Begin(const char* sql) const;
    // The engine's error for a SQLite result code met on this connection.
    tarnu::Error ErrorFor(int rc) const;
    [[noreturn]] void Raise(int rc) const;

  private:
    sqlite3* db_ = nullptr;
    std::string path_;
};

class Statement {
  public:
    Statement(const Connection& connection, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void Bind(int index, const Value& value);
    // Advances; true while a row is there. Raises on failure.
    bool Step();
    int ColumnCount() const;
    std::string ColumnName(int index) const;
    Value Column(int index) const;
    std::string Text(int index) const;
    std::int64_t Int(int index) const;

  private:
    const Connection& connection_;
    sqlite3_stmt* stmt_ = nullptr;
};

// Error text the engine's own SQL functions report, carrying an engine error number.
std::string FunctionErrorText(std::int32_t number);

}  // namespace tarnu::engine
