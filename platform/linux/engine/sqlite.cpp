#include "platform/linux/engine/sqlite.h"

#include <pwd.h>

#include <cstdlib>

#include "platform/linux/engine/errors.h"
#include "platform/linux/engine/vfs.h"
#include "ports/printable_name.h"

namespace tarnu::engine {

namespace {

constexpr std::string_view kFunctionErrorPrefix = "tarnu-engine-error:";

// "NOT NULL constraint failed: Kunden.Name" -> "Name"
std::string ColumnOfConstraint(const std::string& message) {
    std::size_t colon = message.rfind(": ");
    std::string qualified = colon == std::string::npos ? message : message.substr(colon + 2);
    std::size_t dot = qualified.find('.');
    return dot == std::string::npos ? qualified : qualified.substr(dot + 1);
}

// "'name' (UID n)", or the number alone for a user the system does not know.
std::string UserText(uid_t uid) {
    std::string text = "UID " + std::to_string(uid);
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        text = "'" + PrintableName(found->pw_name) + "' (" + text + ")";
    }
    return text;
}

// A file at the journal's name that the engine may not roll into the database: its message
// names that file and its owner, who is the one to ask, not the database.
tarnu::Error JournalRefused(const std::string& database, const RefusedJournal& journal) {
    const std::string start =
        "Auf die Datenbank '" + PrintableName(database) + "' kann nicht zugegriffen werden: ";
    const std::string end = " Bitte prüfen, woher sie stammt, und sie entfernen.";
    if (journal.regular) {
        return tarnu::Error(jet::NoPermission,
                            start + "Ihr Journal '" + PrintableName(journal.path) +
                                "' gehört dem Benutzer " + UserText(journal.owner) +
                                " und darf von diesem Lauf nicht verwendet werden." + end);
    }
    return tarnu::Error(
        jet::NoPermission,
        start + "An der Stelle ihres Journals '" + PrintableName(journal.path) +
            "' liegt keine gewöhnliche Datei (Eigentümer: " + UserText(journal.owner) + ")." + end);
}

}  // namespace

std::string FunctionErrorText(std::int32_t number) {
    return std::string(kFunctionErrorPrefix) + std::to_string(number);
}

Connection::Connection(const std::string& path, const PlacedFile& file, bool readOnly)
    : path_(path) {
    int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX |
                SQLITE_OPEN_EXRESCODE;
    HandOver handed(path, file.fd.get(), file.folder.get(), file.name);
    int rc = sqlite3_open_v2(path.c_str(), &db_, flags, VfsName());
    if (rc != SQLITE_OK) {
        tarnu::Error e = ErrorFor(rc);
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw e;
    }
    sqlite3_extended_result_codes(db_, 1);
    // A file may come from anywhere: nothing stored in it may run code of its own, and the
    // schema cannot be written directly.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
}

Connection::~Connection() {
    sqlite3_close_v2(db_);
}

void Connection::Exec(const char* sql) {
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        Raise(rc);
    }
}

void Connection::Begin(const char* sql) const {
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        tarnu::Error error = ErrorFor(rc);
        if (!sqlite3_get_autocommit(db_)) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        throw error;
    }
}

tarnu::Error Connection::ErrorFor(int rc) const {
    std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    if (message.rfind(kFunctionErrorPrefix, 0) == 0) {
        return MakeError(
            static_cast<std::int32_t>(std::atoi(message.c_str() + kFunctionErrorPrefix.size())));
    }
    switch (rc) {
        case SQLITE_CONSTRAINT_PRIMARYKEY:
        case SQLITE_CONSTRAINT_UNIQUE:
        case SQLITE_CONSTRAINT_ROWID:
            return MakeError(jet::DuplicateKey);
        case SQLITE_CONSTRAINT_NOTNULL:
            return MakeError(jet::FieldRequired, ColumnOfConstraint(message));
        case SQLITE_CONSTRAINT_DATATYPE:
            return MakeError(jet::ConversionError);
        case SQLITE_CONSTRAINT_CHECK:
            return MakeError(message.find("tarnu_range") != std::string::npos ? jet::NumericOverflow
                                                                              : jet::FieldTooSmall);
        case SQLITE_IOERR_NOMEM:
            return tarnu::Error(tarnu::err::OutOfMemory);
        default:
            break;
    }
    switch (rc & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return MakeError(jet::Locked);
        case SQLITE_READONLY:
            return MakeError(jet::ReadOnly);
        case SQLITE_FULL:
            return tarnu::Error(tarnu::err::DiskFull);
        case SQLITE_IOERR:
            return MakeError(jet::DiskOrNetworkError);
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_FORMAT:
        case SQLITE_SCHEMA:
            return MakeError(jet::CorruptDatabase, path_);
        case SQLITE_NOMEM:
            return tarnu::Error(tarnu::err::OutOfMemory);
        case SQLITE_CANTOPEN:
            return MakeError(jet::InvalidPath, path_);
        case SQLITE_PERM:
        case SQLITE_AUTH:
            if (std::optional<RefusedJournal> journal =
                    db_ ? RefusedJournalOf(db_) : std::nullopt) {
                return JournalRefused(path_, *journal);
            }
            return MakeError(jet::NoPermission, path_);
        case SQLITE_CONSTRAINT:
            return MakeError(jet::DuplicateKey);
        case SQLITE_MISMATCH:
            return MakeError(jet::ConversionError);
        case SQLITE_TOOBIG:
            return MakeError(jet::FieldTooSmall);
        default:
            return MakeError(jet::Reserved, message);
    }
}

void Connection::Raise(int rc) const {
    throw ErrorFor(rc);
}

Statement::Statement(const Connection& connection, std::string_view sql) : connection_(connection) {
    int rc = sqlite3_prepare_v2(connection.handle(), sql.data(), static_cast<int>(sql.size()),
                                &stmt_, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        connection.Raise(rc);
    }
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

void Statement::Bind(int index, const Value& value) {
    int rc = SQLITE_OK;
    switch (value.type) {
        case Value::Type::Null:
            rc = sqlite3_bind_null(stmt_, index);
            break;
        case Value::Type::Integer:
            rc = sqlite3_bind_int64(stmt_, index, value.integer);
            break;
        case Value::Type::Real:
            rc = sqlite3_bind_double(stmt_, index, value.real);
            break;
        case Value::Type::Text:
            rc = sqlite3_bind_text64(stmt_, index, value.bytes.data(), value.bytes.size(),
                                     SQLITE_TRANSIENT, SQLITE_UTF8);
            break;
        case Value::Type::Blob:
            rc = sqlite3_bind_blob64(stmt_, index, value.bytes.data(), value.bytes.size(),
                                     SQLITE_TRANSIENT);
            break;
    }
    if (rc != SQLITE_OK) {
        connection_.Raise(rc);
    }
}

bool Statement::Step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    // sqlite3_errmsg belongs to the failed step only until the statement is reset.
    tarnu::Error error = connection_.ErrorFor(rc);
    sqlite3_reset(stmt_);
    throw error;
}

int Statement::ColumnCount() const {
    return sqlite3_column_count(stmt_);
}

std::string Statement::ColumnName(int index) const {
    const char* name = sqlite3_column_name(stmt_, index);
    return name ? name : "";
}

Value Statement::Column(int index) const {
    switch (sqlite3_column_type(stmt_, index)) {
        case SQLITE_INTEGER:
            return Value::Integer(sqlite3_column_int64(stmt_, index));
        case SQLITE_FLOAT:
            return Value::Real(sqlite3_column_double(stmt_, index));
        case SQLITE_TEXT:
            return Value::Text(Text(index));
        case SQLITE_BLOB: {
            const void* data = sqlite3_column_blob(stmt_, index);
            int size = sqlite3_column_bytes(stmt_, index);
            return Value::Blob(data ? std::string(static_cast<const char*>(data), size) : "");
        }
        default:
            return Value::Null();
    }
}

std::string Statement::Text(int index) const {
    const unsigned char* text = sqlite3_column_text(stmt_, index);
    int size = sqlite3_column_bytes(stmt_, index);
    return text ? std::string(reinterpret_cast<const char*>(text), size) : "";
}

std::int64_t Statement::Int(int index) const {
    return sqlite3_column_int64(stmt_, index);
}

}  // namespace tarnu::engine
