#include "platform/linux/engine/format.h"

#include <cstring>
#include <string>

#include "platform/linux/engine/names.h"
#include "platform/linux/engine/sqlite.h"

namespace tarnu::engine {

namespace {

std::uint32_t BigEndian32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

}  // namespace

bool IsEngineHeader(const unsigned char* header, std::size_t size) {
    static const char magic[] = "SQLite format 3";  // with its NUL: 16 bytes
    if (size < kHeaderSize || std::memcmp(header, magic, sizeof magic) != 0) {
        return false;
    }
    unsigned pageSize = (unsigned{header[16]} << 8) | header[17];
    if (pageSize == 1) {
        pageSize = 65536;
    }
    bool powerOfTwo = pageSize >= 512 && pageSize <= 65536 && (pageSize & (pageSize - 1)) == 0;
    // Write and read version 1: rollback journal. Version 2 (WAL) would leave -wal and -shm
    // files beside the database.
    return powerOfTwo && header[18] == 1 && header[19] == 1 &&
           BigEndian32(header + 60) == kFormatVersion && BigEndian32(header + 68) == kApplicationId;
}

void InitializeFile(Connection& connection, std::string_view passwordHash) {
    connection.Exec("BEGIN IMMEDIATE");
    try {
        connection.Exec(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
        connection.Exec(("PRAGMA user_version = " + std::to_string(kFormatVersion)).c_str());
        // The catalog keeps the order of the collection: by name, without regard to case.
        connection.Exec(
            "CREATE TABLE tarnu_catalog ("
            " name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE,"
            " attributes INTEGER NOT NULL,"
            " connect TEXT NOT NULL DEFAULT '',"
            " source_table TEXT NOT NULL DEFAULT '') STRICT");
        connection.Exec(
            "CREATE TABLE tarnu_meta (key TEXT NOT NULL PRIMARY KEY, value TEXT NOT NULL) "
            "STRICT");
        if (!passwordHash.empty()) {
            Statement insert(connection, "INSERT INTO tarnu_meta (key, value) VALUES ('pwd', ?)");
            insert.Bind(1, Value::Text(std::string(passwordHash)));
            insert.Step();
        }
        connection.Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(connection.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

bool IsReservedTableName(std::string_view name) {
    return SameName(name, kCatalogTable) || SameName(name, kMetaTable) ||
           (name.size() >= 7 && SameName(name.substr(0, 7), "sqlite_"));
}

}  // namespace tarnu::engine
