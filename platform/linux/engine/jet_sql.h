#pragma once

// The Jet SQL the engine understands, parsed into a tree. Parsing needs no database: it finds
// every syntax error before anything runs, and raises it as the engine's error.
//
//   CREATE TABLE name (column type[(size)] [NOT NULL] [PRIMARY KEY] [UNIQUE], ...
//                      [, CONSTRAINT c PRIMARY KEY (column, ...)] [, CONSTRAINT c UNIQUE (...)])
//   DROP TABLE name
//   INSERT INTO name [(column, ...)] VALUES (expression, ...)
//   DELETE [*] FROM name [WHERE condition]
//   SELECT [DISTINCT] * | expression [AS alias], ... FROM name [WHERE condition]
//          [ORDER BY expression [ASC|DESC], ...]
//
// Names are bare (letters, digits, _) or in brackets, where "]]" stands for "]". Text is in
// '...' or "..." with the quote doubled inside; dates are #...#. A trailing ";" is allowed.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/linux/engine/value.h"

namespace tarnu::engine::jetsql {

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Expr {
    enum class Kind {
        Literal,    // value
        Column,     // qualifier (may be empty), name
        Unary,      // op: "-" or "NOT"; args[0]
        Binary,     // op: + - * / & = <> < > <= >= AND OR; args[0], args[1]
        Like,       // args[0] LIKE args[1], negated for NOT LIKE
        IsNull,     // args[0] IS NULL, negated for IS NOT NULL
        In,         // args[0] IN (args[1..]), negated for NOT IN
        Between,    // args[0] BETWEEN args[1] AND args[2], negated for NOT BETWEEN
        Aggregate,  // op: COUNT SUM MIN MAX AVG; args empty for COUNT(*)
    };

    Kind kind = Kind::Literal;
    Value value;
    std::string qualifier;
    std::string name;
    std::string op;
    bool negated = false;
    std::vector<ExprPtr> args;
    std::string text;  // the expression as written, for messages
};

enum class ColumnType {
    Text,
    Memo,
    Byte,
    Short,
    Long,
    Counter,
    Single,
    Double,
    Currency,
    YesNo,
    DateTime,
    Binary,
    LongBinary
};

struct ColumnDef {
    std::string name;
    ColumnType type = ColumnType::Text;
    int size = 0;  // Text and Binary: the most characters or bytes
    bool notNull = false;
    bool primaryKey = false;
    bool unique = false;
};

struct CreateTable {
    std::string table;
    std::vector<ColumnDef> columns;
    std::vector<std::string> primaryKey;            // from a table constraint
    std::vector<std::vector<std::string>> uniques;  // from table constraints
};

struct DropTable {
    std::string table;
};

struct Insert {
    std::string table;
    std::vector<std::string> columns;  // empty: every column in order
    std::vector<ExprPtr> values;
};

struct Delete {
    std::string table;
    ExprPtr where;
};

struct SelectItem {
    ExprPtr expr;  // null for *
    std::string alias;
};

struct OrderItem {
    ExprPtr expr;
    bool descending = false;
};

struct Select {
    bool distinct = false;
    std::vector<SelectItem> items;
    std::string table;
    ExprPtr where;
    std::vector<OrderItem> orderBy;
};

using Statement = std::variant<CreateTable, DropTable, Insert, Delete, Select>;

// Parses one statement; raises the engine's syntax error of the statement's kind.
Statement Parse(std::string_view text);

}  // namespace tarnu::engine::jetsql
