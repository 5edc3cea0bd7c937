#pragma once

// How a database of this engine is laid out in its SQLite file.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarnu::engine {

class Connection;

// Marks a file as ours in the SQLite header (application id "TARN") and its layout version.
constexpr std::uint32_t kApplicationId = 0x5441524E;
constexpr std::uint32_t kFormatVersion = 1;
constexpr std::size_t kHeaderSize = 100;

// The catalog of table definitions and the engine's own settings of a file.
constexpr const char* kCatalogTable = "tarnu_catalog";
constexpr const char* kMetaTable = "tarnu_meta";

// True when the first bytes of a file are the header of a database of this engine in
// rollback-journal mode (a file that would make SQLite write side files is not ours).
bool IsEngineHeader(const unsigned char* header, std::size_t size);

// Creates the catalog and settings tables in a new, empty file; passwordHash may be empty.
void InitializeFile(Connection& connection, std::string_view passwordHash);

// Names that the engine keeps for itself or that SQLite refuses for tables.
bool IsReservedTableName(std::string_view name);

}  // namespace tarnu::engine
