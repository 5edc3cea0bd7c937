#include "platform/linux/engine/engine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <type_traits>
#include <unordered_map>
#include <variant>

#include "platform/linux/engine/connect.h"
#include "platform/linux/engine/errors.h"
#include "platform/linux/engine/file_hold.h"
#include "platform/linux/engine/format.h"
#include "platform/linux/engine/jet_compile.h"
#include "platform/linux/engine/jet_functions.h"
#include "platform/linux/engine/jet_sql.h"
#include "platform/linux/engine/names.h"
#include "platform/linux/engine/password.h"
#include "platform/linux/engine/sqlite.h"
#include "platform/linux/engine/vfs.h"
#include "platform/linux/files/file_io.h"

namespace tarnu::engine {

namespace {

constexpr std::int32_t kLinkFlags = dao::dbAttachedTable | dao::dbAttachedODBC;
constexpr std::size_t kMaxPasswordLength = 20;

// DAO's CompactDatabase options: dbEncrypt 2, dbDecrypt 4 and the dbVersion flags.
constexpr std::int32_t kDbEncrypt = 2;
constexpr std::int32_t kKnownCompactOptions = 1 | 2 | 4 | 8 | 16 | 32 | 64;

// The table definitions as DAO's collection hands them out. The catalog is read once and kept in
// step with the collection's own deletes, so that a walk over it by index reads the catalog once
// instead of once per entry; a commit of another connection (SQLite's data version tells) or a
// change made another way through this database has it read again.
//
// The deletes of such a walk, each entry deleted just after it was handed out, are committed
// together: when the walk reaches its end, before any other use of the database, before an
// error is raised, and at the latest when the database is released. A delete outside a walk is
// committed at once.
class CatalogTableDefs final : public dao::TableDefs {
  public:
    explicit CatalogTableDefs(Database::State& db) : db_(db) {}
    int Count() override;
    dao::TableDef Item(int index) override;
    void Delete(const std::string& name) override;
    // Drops what was read: the catalog changed through this database.
    void Forget() {
        loaded_ = false;
        lastIndex_ = -1;
    }

  private:
    void Refresh();
    // The position in entries_ of the entry at that index of the collection.
    std::size_t PositionOf(int index) const;
    void Dropped(const std::string& name);

    Database::State& db_;
    bool loaded_ = false;
    std::int64_t version_ = 0;
    std::vector<dao::TableDef> entries_;
    // The entries still there, counted in a Fenwick tree over positions.
    std::vector<int> present_;
    std::unordered_map<std::string, std::size_t> positions_;
    int count_ = 0;
    // The index and name of the entry handed out last.
    int lastIndex_ = -1;
    std::string lastName_;
};

}  // namespace

struct Database::State {
    std::string path;
    // Declared before the connection so that it is released after it: the hold must outlive
    // every SQLite handle of the file.
    std::unique_ptr<FileHold> hold;
    std::unique_ptr<Connection> connection;
    CatalogTableDefs tableDefs{*this};
    bool inTransaction = false;
    // The deletes of a walk over the table definitions wait in this transaction.
    bool deletesPending = false;
};

namespace {

using State = Database::State;

struct CatalogEntry {
    dao::TableDef def;
    bool IsLink() const { return (def.Attributes & kLinkFlags) != 0; }
};

std::int32_t ToAttributes(std::int64_t stored) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(stored));
}

std::optional<CatalogEntry> FindEntry(const Connection& c, const std::string& name) {
    Statement q(c,
                "SELECT name, attributes, connect, source_table FROM tarnu_catalog "
                "WHERE name = ?1 COLLATE NOCASE");
    q.Bind(1, Value::Text(name));
    if (!q.Step()) {
        return std::nullopt;
    }
    CatalogEntry e;
    e.def.Name = q.Text(0);
    e.def.Attributes = ToAttributes(q.Int(1));
    e.def.Connect = q.Text(2);
    e.def.SourceTableName = q.Text(3);
    return e;
}

bool SqliteTableExists(const Connection& c, const std::string& name) {
    Statement q(c, "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
    q.Bind(1, Value::Text(name));
    return q.Step();
}

std::string Folded(std::string_view name) {
    std::string folded(name);
    for (char& ch : folded) {
        if (ch >= 'A' && ch <= 'Z') {
            ch = static_cast<char>(ch + 32);
        }
    }
    return folded;
}

// Commits the deletes a walk left waiting.
void Settle(State& db) {
    if (!db.deletesPending) {
        return;
    }
    db.deletesPending = false;
    try {
        db.connection->Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db.connection->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        db.tableDefs.Forget();
        throw;
    }
}

// Runs body as one unit: a transaction of its own, or a savepoint inside the caller's
// transaction. On any error nothing of body stays done.
template <class Body>
void Atomically(State& db, Body&& body) {
    Settle(db);
    Connection& c = *db.connection;
    if (db.inTransaction) {
        c.Exec("SAVEPOINT tarnu_statement");
    } else {
        c.Begin("BEGIN IMMEDIATE");
    }
    try {
        body();
        c.Exec(db.inTransaction ? "RELEASE tarnu_statement" : "COMMIT");
    } catch (...) {
        if (db.inTransaction) {
            sqlite3_exec(c.handle(), "ROLLBACK TO tarnu_statement; RELEASE tarnu_statement",
                         nullptr, nullptr, nullptr);
        } else {
            sqlite3_exec(c.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
        throw;
    }
}

// Reads happen in a transaction too, so the catalog and the rows agree with each other.
template <class Body>
void Reading(State& db, Body&& body) {
    Settle(db);
    if (db.inTransaction) {
        body();
        return;
    }
    Connection& c = *db.connection;
    c.Begin("BEGIN");
    try {
        body();
        c.Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(c.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

// The local table a statement works on, with its fields.
jetsql::TableShape LocalTable(const Connection& c, const std::string& name) {
    std::optional<CatalogEntry> entry = FindEntry(c, name);
    if (!entry) {
        throw MakeError(jet::TableNotFound, name);
    }
    if (entry->IsLink()) {
        throw MakeError(jet::LinkedTableStatement, entry->def.Name);
    }
    jetsql::TableShape shape;
    shape.name = entry->def.Name;
    Statement q(c, "SELECT name FROM pragma_table_info(?1) ORDER BY cid");
    q.Bind(1, Value::Text(shape.name));
    while (q.Step()) {
        shape.columns.push_back(q.Text(0));
    }
    if (shape.columns.empty()) {
        // The catalog names a table that the file does not hold.
        throw MakeError(jet::CorruptDatabase, c.path());
    }
    return shape;
}

void RunCompiled(const Connection& c, const jetsql::Compiled& compiled) {
    Statement s(c, compiled.sql);
    for (std::size_t i = 0; i < compiled.params.size(); ++i) {
        s.Bind(static_cast<int>(i + 1), compiled.params[i]);
    }
    while (s.Step()) {
    }
}

void CheckNewTableName(const Connection& c, const std::string& name) {
    if (!IsValidName(name) || IsReservedTableName(name)) {
        throw MakeError(jet::InvalidName, name);
    }
    if (FindEntry(c, name) || SqliteTableExists(c, name)) {
        throw MakeError(jet::TableExists, name);
    }
}

// Removes a table definition inside the caller's transaction.
void RemoveDefinition(const Connection& c, const std::string& name, std::int32_t notFound) {
    std::optional<CatalogEntry> entry = FindEntry(c, name);
    if (!entry) {
        throw notFound == jet::ItemNotFound ? MakeError(notFound) : MakeError(notFound, name);
    }
    Statement del(c, "DELETE FROM tarnu_catalog WHERE name = ?1");
    del.Bind(1, Value::Text(entry->def.Name));
    del.Step();
    // A link is a catalog entry only: its source is never touched.
    if (!entry->IsLink() && SqliteTableExists(c, entry->def.Name)) {
        RunCompiled(c, {"DROP TABLE " + jetsql::QuoteName(entry->def.Name), {}});
    }
}

void CatalogTableDefs::Refresh() {
    State& db = db_;
    const Connection& c = *db.connection;
    // While this database writes, no other connection can commit.
    const bool writing = db.deletesPending || db.inTransaction;
    if (loaded_) {
        if (writing) {
            return;
        }
        Statement version(c, "PRAGMA data_version");
        version.Step();
        if (version.Int(0) == version_) {
            return;
        }
    }
    const auto load = [&] {
        Statement version(c, "PRAGMA data_version");
        version.Step();
        version_ = version.Int(0);
        Statement q(c,
                    "SELECT name, attributes, connect, source_table FROM tarnu_catalog "
                    "ORDER BY name COLLATE NOCASE");
        entries_.clear();
        positions_.clear();
        while (q.Step()) {
            dao::TableDef def;
            def.Name = q.Text(0);
            def.Attributes = ToAttributes(q.Int(1));
            def.Connect = q.Text(2);
            def.SourceTableName = q.Text(3);
            positions_[Folded(def.Name)] = entries_.size();
            entries_.push_back(std::move(def));
        }
    };
    if (writing) {
        load();
    } else {
        Reading(db, load);
    }
    const std::size_t n = entries_.size();
    present_.assign(n + 1, 0);
    for (std::size_t i = 1; i <= n; ++i) {
        present_[i] += 1;
        const std::size_t up = i + (i & (~i + 1));
        if (up <= n) {
            present_[up] += present_[i];
        }
    }
    count_ = static_cast<int>(n);
    loaded_ = true;
    lastIndex_ = -1;
}

std::size_t CatalogTableDefs::PositionOf(int index) const {
    const std::size_t n = entries_.size();
    std::size_t position = 0;
    int rest = index + 1;
    for (std::size_t step = std::bit_floor(n); step > 0; step >>= 1) {
        if (position + step <= n && present_[position + step] < rest) {
            position += step;
            rest -= present_[position];
        }
    }
    return position;
}

void CatalogTableDefs::Dropped(const std::string& name) {
    if (!loaded_) {
        return;
    }
    auto it = positions_.find(Folded(name));
    if (it == positions_.end()) {
        Forget();
        return;
    }
    for (std::size_t i = it->second + 1; i < present_.size(); i += i & (~i + 1)) {
        --present_[i];
    }
    positions_.erase(it);
    --count_;
}

int CatalogTableDefs::Count() {
    Refresh();
    if (db_.deletesPending && count_ <= lastIndex_ + 1) {
        // The walk has passed its last entry.
        Settle(db_);
    }
    return count_;
}

dao::TableDef CatalogTableDefs::Item(int index) {
    if (index < 0) {
        throw MakeError(jet::ItemNotFound);
    }
    Refresh();
    if (db_.deletesPending && index != lastIndex_ + 1 && index != lastIndex_) {
        // Not the walk that deleted: what it deleted goes to the file first.
        Settle(db_);
    }
    if (index >= count_) {
        Settle(db_);
        throw MakeError(jet::ItemNotFound);
    }
    const dao::TableDef& def = entries_[PositionOf(index)];
    lastIndex_ = index;
    lastName_ = def.Name;
    return def;
}

void CatalogTableDefs::Delete(const std::string& name) {
    State& db = db_;
    Connection& c = *db.connection;
    if (db.inTransaction) {
        Atomically(db, [&] { RemoveDefinition(c, name, jet::ItemNotFound); });
        Dropped(name);
        return;
    }
    // A walk that deletes the entry it was just handed goes on with the next one, if any.
    const bool walking =
        loaded_ && lastIndex_ >= 0 && lastIndex_ + 1 < count_ && SameName(name, lastName_);
    if (!db.deletesPending) {
        c.Begin("BEGIN IMMEDIATE");
        db.deletesPending = true;
        // What was read before may have changed until the write lock was taken.
        Statement version(c, "PRAGMA data_version");
        version.Step();
        if (version.Int(0) != version_) {
            Forget();
        }
    }
    try {
        c.Exec("SAVEPOINT tarnu_delete");
        RemoveDefinition(c, name, jet::ItemNotFound);
        c.Exec("RELEASE tarnu_delete");
    } catch (...) {
        sqlite3_exec(c.handle(), "ROLLBACK TO tarnu_delete; RELEASE tarnu_delete", nullptr, nullptr,
                     nullptr);
        // The deletes that succeeded stay done.
        try {
            Settle(db);
        } catch (...) {
        }
        throw;
    }
    Dropped(name);
    if (!walking) {
        Settle(db);
    }
}

// Checks that an opened file has the engine's tables and, when it is protected, that the
// password fits. Errors of SQLite here mean the file is damaged.
void Admit(const Connection& c, const std::string& password) {
    std::optional<std::string> stored;
    try {
        Statement catalog(c,
                          "SELECT name, attributes, connect, source_table FROM tarnu_catalog "
                          "LIMIT 0");
        catalog.Step();
        Statement meta(c, "SELECT value FROM tarnu_meta WHERE key = 'pwd'");
        if (meta.Step()) {
            stored = meta.Text(0);
        }
    } catch (const tarnu::Error& e) {
        if (e.number() == jet::Reserved) {
            throw MakeError(jet::CorruptDatabase, c.path());
        }
        throw;
    }
    if (!stored) {
        return;
    }
    if (password.empty()) {
        throw MakeError(jet::NotValidPassword);
    }
    switch (VerifyPassword(password, *stored)) {
        case PasswordCheck::Match:
            return;
        case PasswordCheck::Mismatch:
            throw MakeError(jet::NotValidPassword);
        case PasswordCheck::Malformed:
            throw MakeError(jet::CorruptDatabase, c.path());
    }
}

void CheckPasswordText(const std::string& password) {
    if (password.size() > kMaxPasswordLength || password.find('\0') != std::string::npos) {
        throw MakeError(jet::InvalidArgument);
    }
}

// A writer that dies before its journal has a header leaves an empty journal that SQLite
// neither rolls back nor removes. Once this connection holds the write lock (having rolled back
// any journal that needed it), a journal still there belongs to no one and can go. Nothing is
// written, so a rollback ends the transaction: a commit would want the exclusive lock, which a
// reader in another process keeps it from getting.
void SweepStaleJournal(const Connection& c) {
    if (!JournalBeside(c.handle())) {
        return;
    }
    sqlite3_busy_timeout(c.handle(), 0);
    if (sqlite3_exec(c.handle(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
        RemoveStaleJournal(c.handle());
    }
    if (!sqlite3_get_autocommit(c.handle())) {
        sqlite3_exec(c.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    sqlite3_busy_timeout(c.handle(), kBusyTimeoutMs);
}

std::unique_ptr<Database> Open(const std::string& name, bool exclusive, bool readOnly,
                               const std::string& connect, PinnedFiles* pins = nullptr) {
    auto state = std::make_unique<State>();
    state->path = AbsolutePath(name);
    state->hold = std::make_unique<FileHold>(
        state->path, exclusive ? FileHold::Mode::Exclusive : FileHold::Mode::Shared,
        readOnly ? FileHold::Access::ReadOnly : FileHold::Access::ReadWrite, pins);
    // Only a file that shows our header is handed to SQLite, so a foreign file is never
    // written to, not even by a journal rollback. SQLite works on the very file checked.
    state->hold->CheckFormat();
    state->connection = std::make_unique<Connection>(state->path, state->hold->file(), readOnly);
    RegisterJetFunctions(state->connection->handle());
    Admit(*state->connection, PasswordOf(connect));
    if (!readOnly) {
        SweepStaleJournal(*state->connection);
    }
    return std::make_unique<Database>(std::move(state));
}

// Where a file the engine created lies, to take it away again if making it fails: unless its
// name has meanwhile been given to another file.
struct Created {
    explicit Created(const PlacedFile& file)
        : folder(::fcntl(file.folder.get(), F_DUPFD_CLOEXEC, 0)), name(file.name), st(file.st) {}
    void Remove() const { files::RemoveIfSame(folder.get(), name, st.st_dev, st.st_ino); }
    bool InPlace() const { return EntryHolds(folder.get(), name, st); }

    files::UniqueFd folder;
    std::string name;
    struct stat st;
};

// The copy of a file may be read by whoever may read the file, and by nobody else: it gets the
// file's permission bits and its group where the process may set it. Where it may not, the
// group's rights go rather than pass to another group. The owner stays the runner's until the
// copy replaces the file (the replace hands it on), so that a copy left by a run that was killed
// is the runner's to sweep away, not a file of the database's owner that nobody may remove.
void GiveAccessOf(int fd, const struct stat& file) {
    mode_t mode = file.st_mode & 0777;
    if (::geteuid() == 0) {
        if (::fchown(fd, static_cast<uid_t>(-1), file.st_gid) != 0) {
            throw MakeError(jet::DiskOrNetworkError);
        }
    } else {
        struct stat copy {};
        if (::fstat(fd, &copy) != 0) {
            throw MakeError(jet::DiskOrNetworkError);
        }
        if (copy.st_gid != file.st_gid && ::fchown(fd, static_cast<uid_t>(-1), file.st_gid) != 0) {
            mode &= ~static_cast<mode_t>(070);
        }
    }
    if (::fchmod(fd, mode) != 0) {
        throw MakeError(jet::DiskOrNetworkError);
    }
}

}  // namespace

// --- Database

Database::Database(std::unique_ptr<State> state) : state_(std::move(state)) {}

Database::~Database() {
    try {
        Settle(*state_);
    } catch (...) {
        // Nobody is left to tell; the deletes are undone as a whole.
    }
}

dao::TableDefs& Database::TableDefs() {
    return state_->tableDefs;
}

const std::string& Database::Name() const {
    return state_->path;
}

void Database::Execute(const std::string& statement) {
    jetsql::Statement parsed = jetsql::Parse(statement);
    if (std::holds_alternative<jetsql::Select>(parsed)) {
        throw MakeError(jet::CannotExecuteSelect);
    }
    State& db = *state_;
    const Connection& c = *db.connection;
    Atomically(db, [&] {
        std::visit(
            [&](const auto& s) {
                using T = std::decay_t<decltype(s)>;
                if constexpr (std::is_same_v<T, jetsql::CreateTable>) {
                    CheckNewTableName(c, s.table);
                    RunCompiled(c, {jetsql::CompileCreate(s), {}});
                    Statement add(c, "INSERT INTO tarnu_catalog (name, attributes) VALUES (?1, 0)");
                    add.Bind(1, Value::Text(s.table));
                    add.Step();
                    db.tableDefs.Forget();
                } else if constexpr (std::is_same_v<T, jetsql::DropTable>) {
                    RemoveDefinition(c, s.table, jet::TableDoesNotExist);
                    db.tableDefs.Forget();
                } else if constexpr (std::is_same_v<T, jetsql::Insert>) {
                    RunCompiled(c, jetsql::CompileInsert(s, LocalTable(c, s.table)));
                } else if constexpr (std::is_same_v<T, jetsql::Delete>) {
                    RunCompiled(c, jetsql::CompileDelete(s, LocalTable(c, s.table)));
                }
            },
            parsed);
    });
}

void Database::LinkTable(const dao::TableDef& link) {
    std::int32_t kind = link.Attributes & kLinkFlags;
    if ((kind != dao::dbAttachedTable && kind != dao::dbAttachedODBC) || link.Connect.empty() ||
        link.SourceTableName.empty()) {
        throw MakeError(jet::InvalidArgument);
    }
    if (kind == dao::dbAttachedODBC) {
        if (link.Connect.size() < 5 || !SameName(link.Connect.substr(0, 5), "ODBC;")) {
            throw MakeError(jet::InvalidArgument);
        }
    } else {
        // Jet looks at the source when a link is made, not when it is removed.
        std::optional<std::string> file = ConnectValue(link.Connect, "database");
        if (!file || file->empty()) {
            throw MakeError(jet::InvalidArgument);
        }
        std::unique_ptr<Database> source = Open(*file, false, true, link.Connect);
        if (!FindEntry(*source->state_->connection, link.SourceTableName)) {
            throw MakeError(jet::ObjectNotFound, link.SourceTableName);
        }
    }
    State& db = *state_;
    Atomically(db, [&] {
        const Connection& c = *db.connection;
        CheckNewTableName(c, link.Name);
        Statement add(c,
                      "INSERT INTO tarnu_catalog (name, attributes, connect, source_table) "
                      "VALUES (?1, ?2, ?3, ?4)");
        add.Bind(1, Value::Text(link.Name));
        add.Bind(2, Value::Integer(link.Attributes));
        add.Bind(3, Value::Text(link.Connect));
        add.Bind(4, Value::Text(link.SourceTableName));
        add.Step();
    });
    db.tableDefs.Forget();
}

void Database::ForEachRow(
    const std::string& select,
    const std::function<void(const std::vector<std::string>&, const std::vector<Value>&)>& onRow) {
    jetsql::Statement parsed = jetsql::Parse(select);
    const auto* query = std::get_if<jetsql::Select>(&parsed);
    if (!query) {
        throw MakeError(jet::InvalidOperation);
    }
    State& db = *state_;
    const Connection& c = *db.connection;
    Reading(db, [&] {
        jetsql::Compiled compiled = jetsql::CompileSelect(*query, LocalTable(c, query->table));
        Statement s(c, compiled.sql);
        for (std::size_t i = 0; i < compiled.params.size(); ++i) {
            s.Bind(static_cast<int>(i + 1), compiled.params[i]);
        }
        std::vector<std::string> fields;
        for (int i = 0; i < s.ColumnCount(); ++i) {
            fields.push_back(s.ColumnName(i));
        }
        std::vector<Value> row(fields.size());
        while (s.Step()) {
            for (std::size_t i = 0; i < row.size(); ++i) {
                row[i] = s.Column(static_cast<int>(i));
            }
            onRow(fields, row);
        }
    });
}

Recordset Database::OpenRecordset(const std::string& select) {
    Recordset rs;
    ForEachRow(select, [&](const std::vector<std::string>& fields, const std::vector<Value>& row) {
        if (rs.Fields.empty()) {
            rs.Fields = fields;
        }
        rs.Rows.push_back(row);
    });
    return rs;
}

void Database::BeginTrans() {
    Settle(*state_);
    if (state_->inTransaction) {
        throw MakeError(jet::InvalidOperation);
    }
    state_->connection->Begin("BEGIN IMMEDIATE");
    state_->inTransaction = true;
}

void Database::CommitTrans() {
    if (!state_->inTransaction) {
        throw MakeError(jet::NoTransaction);
    }
    // A commit that fails leaves the transaction open, to be committed again or rolled back.
    state_->connection->Exec("COMMIT");
    state_->inTransaction = false;
}

void Database::Rollback() {
    if (!state_->inTransaction) {
        throw MakeError(jet::NoTransaction);
    }
    state_->inTransaction = false;
    state_->tableDefs.Forget();
    state_->connection->Exec("ROLLBACK");
}

// --- Engine

Engine::Engine() : pins_(std::make_shared<PinnedFiles>()) {}

Engine::~Engine() = default;

std::unique_ptr<dao::Database> Engine::OpenDatabase(const std::string& name) {
    return Open(name, false, false, "", pins_.get());
}

std::unique_ptr<Database> Engine::OpenDatabase(const std::string& name, bool exclusive,
                                               bool readOnly, const std::string& connect) {
    return Open(name, exclusive, readOnly, connect, pins_.get());
}

std::unique_ptr<Database> Engine::CreateDatabase(const std::string& name,
                                                 const std::string& connect) {
    std::string password = PasswordOf(connect);
    CheckPasswordText(password);
    std::string path = AbsolutePath(name);
    PlacedFile file = CreateExclusively(path, 0666);
    const Created created(file);
    try {
        auto state = std::make_unique<State>();
        state->path = path;
        state->hold = std::make_unique<FileHold>(path, std::move(file), FileHold::Mode::Shared);
        state->connection = std::make_unique<Connection>(path, state->hold->file(), false);
        RegisterJetFunctions(state->connection->handle());
        InitializeFile(*state->connection, password.empty() ? "" : HashPassword(password));
        return std::make_unique<Database>(std::move(state));
    } catch (...) {
        created.Remove();
        throw;
    }
}

void Engine::CompactDatabase(const std::string& source, const std::string& destination,
                             const std::optional<std::string>& locale,
                             const std::optional<std::int32_t>& options,
                             const std::optional<std::string>& password) {
    if (options && ((*options & ~kKnownCompactOptions) != 0 || (*options & kDbEncrypt) != 0)) {
        throw MakeError(jet::InvalidArgument);
    }
    std::optional<std::string> newPassword;
    if (locale) {
        newPassword = ConnectValue(*locale, "pwd");
        if (newPassword) {
            CheckPasswordText(*newPassword);
        }
    }
    std::string from = AbsolutePath(source);
    std::string to = AbsolutePath(destination);

    // The only hold on the source: no one opens it while it is copied, and nothing copies it
    // while someone has it open. A reservation of the file lends its own.
    FileHold hold(from, FileHold::Mode::Exclusive, FileHold::Access::ReadWrite, pins_.get());
    hold.CheckFormat();

    // Made before the source's password is checked, so that a name already taken costs little.
    // Nobody else may read the copy before it carries the source's access rights.
    PlacedFile copy = CreateExclusively(to, 0600);
    const Created created(copy);
    try {
        // Held like an open database from the start, and within a reservation until the copy
        // has taken the source's place: whatever another process wrote to it meanwhile would be
        // lost.
        if (::flock(copy.fd.get(), LOCK_EX | LOCK_NB) != 0) {
            throw MakeError(jet::FileInUse, to);
        }
        // Opened read-write so that SQLite can roll back what a crashed writer left half done;
        // the compaction itself only reads.
        Connection sourceDb(from, hold.file(), false);
        Admit(sourceDb, PasswordOf(password));
        if (ReservedFile* reserved = hold.reservation()) {
            KeepCopy(*reserved, copy);
        }
        {
            HandOver file(to, copy.fd.get(), copy.folder.get(), copy.name);
            Statement vacuum(sourceDb, "VACUUM INTO ?1");
            vacuum.Bind(1, Value::Text(to));
            vacuum.Step();
        }
        if (newPassword) {
            Connection copyDb(to, copy, false);
            copyDb.Exec("DELETE FROM tarnu_meta WHERE key = 'pwd'");
            if (!newPassword->empty()) {
                Statement add(copyDb, "INSERT INTO tarnu_meta (key, value) VALUES ('pwd', ?1)");
                add.Bind(1, Value::Text(HashPassword(*newPassword)));
                add.Step();
            }
        }
        GiveAccessOf(copy.fd.get(), hold.status());
        // A name that leads elsewhere now does not hold the copy, whatever it holds instead.
        if (!created.InPlace()) {
            throw tarnu::Error(tarnu::err::PathFileAccessError);
        }
    } catch (...) {
        created.Remove();
        throw;
    }
}

std::unique_ptr<dao::Reservation> Engine::Reserve(const std::string& path) {
    return std::make_unique<FileReservation>(AbsolutePath(path), pins_.get());
}

namespace {

class EnginePins final : public dao::Pins {
  public:
    explicit EnginePins(std::shared_ptr<PinnedFiles> pins) : pins_(std::move(pins)) {
        pins_->Pin();
    }
    ~EnginePins() override { pins_->Unpin(); }

  private:
    std::shared_ptr<PinnedFiles> pins_;
};

}  // namespace

std::unique_ptr<dao::Pins> Engine::PinFiles() {
    return std::make_unique<EnginePins>(pins_);
}

std::unique_ptr<Engine> MakeEngine() {
    return std::make_unique<Engine>();
}

}  // namespace tarnu::engine
