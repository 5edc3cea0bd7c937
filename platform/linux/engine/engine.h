#pragma once

// The embedded database engine: the DAO object model of ports/dbengine.h over SQLite files,
// plus what the administration tool, the demo and the tests need beyond the maintenance's use:
// creating databases, linking tables, reading rows and grouping statements.
//
// A database is one SQLite file under whatever name it is given. Its catalog holds the table
// definitions (name, 32-bit attributes, connect string, source table); local tables are SQLite
// tables of the same name, links are catalog entries only. Every error is raised as
// tarnu::Error with the engine's number (engine/errors.h) and German description.
//
// The engine is single-threaded: one engine object per process, used from one thread.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/engine/value.h"
#include "ports/dbengine.h"

namespace tarnu::engine {

// The rows a SELECT gave, with the field names in order.
struct Recordset {
    std::vector<std::string> Fields;
    std::vector<std::vector<Value>> Rows;
};

class Database final : public dao::Database {
  public:
    struct State;
    explicit Database(std::unique_ptr<State> state);
    ~Database() override;

    dao::TableDefs& TableDefs() override;
    // Runs CREATE TABLE, DROP TABLE, INSERT INTO or DELETE; a SELECT is refused (3065). The
    // whole statement is done or, on any error, none of it.
    void Execute(const std::string& statement) override;

    // The absolute path of the file.
    const std::string& Name() const;

    // Appends a link: Attributes carry dao::dbAttachedTable (Connect ";DATABASE=path", with
    // ";PWD=..." for a protected source; the source must hold SourceTableName) or
    // dao::dbAttachedODBC (Connect "ODBC;..."), and may carry further flags.
    void LinkTable(const dao::TableDef& link);

    // Runs a SELECT and hands every row to onRow as it is read. onRow must not use this
    // database.
    void ForEachRow(const std::string& select,
                    const std::function<void(const std::vector<std::string>& fields,
                                             const std::vector<Value>& row)>& onRow);
    Recordset OpenRecordset(const std::string& select);

    // Groups the following statements into one transaction, as DAO's workspace does; a failed
    // statement inside still undoes only itself. Releasing the database rolls back an open
    // transaction. Not nested.
    void BeginTrans();
    void CommitTrans();
    void Rollback();

  private:
    std::unique_ptr<State> state_;
};

class PinnedFiles;

class Engine final : public dao::DBEngine {
  public:
    Engine();
    ~Engine() override;

    // Shared and read-write, without a password.
    std::unique_ptr<dao::Database> OpenDatabase(const std::string& name) override;
    // DAO's full form: exclusive keeps every other open and compaction out; readOnly refuses
    // changes; connect carries the password (";pwd=...").
    std::unique_ptr<Database> OpenDatabase(const std::string& name, bool exclusive, bool readOnly,
                                           const std::string& connect);

    // Creates a new database file, with a password when connect carries one (";pwd=...", at
    // most 20 characters); raises 3204 when the file exists. The new database is open.
    std::unique_ptr<Database> CreateDatabase(const std::string& name,
                                             const std::string& connect = "");

    // locale may carry ";pwd=..." to give the copy a new password (";pwd=" for none); without
    // it the copy keeps the source's password. options accepts DAO's version flags and
    // dbDecrypt; anything else raises 3001.
    void CompactDatabase(const std::string& source, const std::string& destination,
                         const std::optional<std::string>& locale = std::nullopt,
                         const std::optional<std::int32_t>& options = std::nullopt,
                         const std::optional<std::string>& password = std::nullopt) override;

    std::unique_ptr<dao::Reservation> Reserve(const std::string& path) override;
    // A database it cannot read whole fails to compact: nothing is ever left out.
    std::optional<std::int32_t> CompactErrors(const std::string&,
                                              const std::optional<std::string>&) override {
        return std::nullopt;
    }
    std::unique_ptr<dao::Pins> PinFiles() override;

  private:
    std::shared_ptr<PinnedFiles> pins_;
};

std::unique_ptr<Engine> MakeEngine();

// Builds the demonstration program folder in dir (created if missing): "KDL.mdb",
// "kdlcode.mde", "Tarnu-Admin.mde" and "system.srv" (password "brisk"), with local tables
// holding rows, Jet and ODBC links, "Temp_" tables and deleted rows. Raises 3204 when one of
// the four files exists already.
void BuildDemoFolder(Engine& engine, const std::string& dir);

}  // namespace tarnu::engine
