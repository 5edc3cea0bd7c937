#pragma once

// Turns a parsed Jet statement into the SQLite statement that does the same, with every value
// as a bound parameter and every name quoted, so no text of the statement reaches SQLite as SQL.

#include <string>
#include <vector>

#include "platform/linux/engine/jet_sql.h"
#include "platform/linux/engine/value.h"

namespace tarnu::engine::jetsql {

// A local table as the statement sees it: its stored name and its fields in order.
struct TableShape {
    std::string name;
    std::vector<std::string> columns;
};

struct Compiled {
    std::string sql;
    std::vector<Value> params;
};

std::string QuoteName(const std::string& name);

// Each raises the engine's error for a field the table does not have, a value count that does
// not fit, or an aggregate where none may stand.
Compiled CompileDelete(const Delete& statement, const TableShape& table);
Compiled CompileInsert(const Insert& statement, const TableShape& table);
Compiled CompileSelect(const Select& statement, const TableShape& table);
std::string CompileCreate(const CreateTable& statement);

}  // namespace tarnu::engine::jetsql
