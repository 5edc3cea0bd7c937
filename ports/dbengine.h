#pragma once

// The database engine as the maintenance uses it: the small part of the DAO object model that
// opens a database, walks and deletes its table definitions, runs an action statement and
// compacts a file. Every failure is raised as tarnu::Error with the engine's number and German
// description.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tarnu::dao {

// Whole attribute values of a table definition that the maintenance compares against.
constexpr std::int32_t dbAttachedTable = 0x40000000;  // link to a table of another engine file
constexpr std::int32_t dbAttachedODBC = 0x20000000;   // link to an ODBC source
constexpr std::int32_t dbAttachSavePWD = 0x00020000;  // a link that keeps its password

// The engine's error for a compaction whose destination exists already.
constexpr std::int32_t DatabaseExistsError = 3204;

// A snapshot of one table definition as the collection handed it out.
struct TableDef {
    std::string Name;
    std::int32_t Attributes = 0;
    std::string Connect;          // a link's connection: ";DATABASE=path" or "ODBC;..."
    std::string SourceTableName;  // the linked table's name in its source; "" for local tables
};

// The live collection of a database's table definitions, in the engine's order. Walking it by
// index while deleting shifts later entries down, so a single walk can skip entries.
class TableDefs {
  public:
    virtual ~TableDefs() = default;
    virtual int Count() = 0;
    // Raises when the index is outside 0 .. Count()-1.
    virtual TableDef Item(int index) = 0;
    // Removes the definition of that name; for a link only the link goes, never its source.
    virtual void Delete(const std::string& name) = 0;
};

// An open database. Releasing the object closes it and drops its hold on the file.
class Database {
  public:
    virtual ~Database() = default;
    // The collection is owned by the database and lives as long as it.
    virtual dao::TableDefs& TableDefs() = 0;
    // Runs one action statement (no fail-on-error option). Raises the engine's error when the
    // statement cannot be run; nothing of a failed statement stays done.
    virtual void Execute(const std::string& statement) = 0;
};

// A database file kept for one compaction; see DBEngine::Reserve. Not part of DAO.
class Reservation {
  public:
    virtual ~Reservation() = default;
    // Whether the reserved name still names the reserved file and the name of the copy that a
    // compaction of it wrote while reserved still names that copy: only then may the copy take
    // the file's place. False when no such copy was written.
    virtual bool StillInPlace() = 0;
};

// Files a run keeps to itself while it holds the object; see DBEngine::PinFiles. Not part of DAO.
class Pins {
  public:
    virtual ~Pins() = default;
};

class DBEngine {
  public:
    virtual ~DBEngine() = default;
    // Opens shared and read-write; a bare name resolves against the current directory.
    virtual std::unique_ptr<Database> OpenDatabase(const std::string& name) = 0;
    // Writes a compacted copy of source at destination and leaves source as it was. Omitted
    // arguments take the engine's defaults. password is a connect-style string (";pwd=...").
    // The copy gets the source's permission bits and, as far as the process may set them, its
    // owner and group; on Windows it gets the rights its folder hands down, as Jet's copy does.
    virtual void CompactDatabase(const std::string& source, const std::string& destination,
                                 const std::optional<std::string>& locale = std::nullopt,
                                 const std::optional<std::int32_t>& options = std::nullopt,
                                 const std::optional<std::string>& password = std::nullopt) = 0;

    // Not part of DAO. Until the returned object is released, no other process can open or
    // compact the database at path through the engine (it gets "in use", 3045), nor can this
    // one, except for one CompactDatabase of it, whose copy is then kept out of reach the same
    // way. Raises the engine's error when the file is in use or cannot be opened. On Windows it
    // does nothing and StillInPlace always answers true: there Jet's own sharing rules keep
    // others out of a file being compacted, and the replace refuses a file that is open.
    virtual std::unique_ptr<Reservation> Reserve(const std::string& path) = 0;

    // Not part of DAO. Jet repairs as it compacts: records and objects it cannot carry over are
    // left out of the copy and listed in a table MSysCompactError that it creates there. The
    // number of entries of that table in the copy at path (opened read-only, with password as
    // for CompactDatabase), or nullopt when the copy has none. An engine that never leaves
    // anything out answers nullopt.
    virtual std::optional<std::int32_t> CompactErrors(
        const std::string& path, const std::optional<std::string>& password) = 0;
    // Not part of DAO. Until the returned object is released, every OpenDatabase, Reserve and
    // CompactDatabase of a name reaches the file that name reached the first time in that span:
    // the engine keeps that file instead of looking the name up again, and raises error 75 when
    // the file no longer stands under its name. A run that opens a name many times so works on
    // one file, whatever the name is turned into meanwhile. On Windows it does nothing: Jet
    // opens by name.
    virtual std::unique_ptr<Pins> PinFiles() = 0;
};

}  // namespace tarnu::dao
