#include "platform/linux/engine/jet_compile.h"

#include <algorithm>

#include "platform/linux/engine/errors.h"
#include "platform/linux/engine/names.h"

namespace tarnu::engine::jetsql {

namespace {

enum class Aggregates { Forbidden, InWhere, Allowed };

class ExprCompiler {
  public:
    ExprCompiler(const TableShape* table, Compiled& out) : table_(table), out_(out) {}

    // A condition (a WHERE clause) is only tested for truth; elsewhere a condition is a value,
    // and Jet's True is -1 where SQLite's is 1.
    std::string Compile(const Expr& e, Aggregates aggregates, bool condition = false) {
        aggregates_ = aggregates;
        return condition ? Condition(e) : Emit(e);
    }

    // Names the statement uses that the table does not have: Jet takes each for a parameter
    // and complains that no value was given for it.
    void RaiseForUnknownNames() const {
        if (unknown_ > 0) {
            throw MakeError(jet::TooFewParameters, std::to_string(unknown_));
        }
    }

  private:
    static bool IsLogical(const Expr& e) {
        switch (e.kind) {
            case Expr::Kind::Like:
            case Expr::Kind::IsNull:
            case Expr::Kind::In:
            case Expr::Kind::Between:
                return true;
            case Expr::Kind::Unary:
                return e.op == "NOT";
            case Expr::Kind::Binary:
                return e.op != "+" && e.op != "-" && e.op != "*" && e.op != "/" && e.op != "&";
            default:
                return false;
        }
    }

    std::string Emit(const Expr& e) {
        std::string sql = Condition(e);
        return IsLogical(e) ? "(- " + sql + ")" : sql;
    }

    std::string Condition(const Expr& e) {
        switch (e.kind) {
            case Expr::Kind::Literal:
                out_.params.push_back(e.value);
                return "?";
            case Expr::Kind::Column:
                return Column(e);
            case Expr::Kind::Unary:
                if (e.op == "NOT") {
                    return "(NOT " + Condition(*e.args[0]) + ")";
                }
                return "(- " + Emit(*e.args[0]) + ")";
            case Expr::Kind::Binary: {
                bool logical = e.op == "AND" || e.op == "OR";
                std::string l = logical ? Condition(*e.args[0]) : Emit(*e.args[0]);
                std::string r = logical ? Condition(*e.args[1]) : Emit(*e.args[1]);
                if (e.op == "/") {
                    return "jet_div(" + l + ", " + r + ")";
                }
                if (e.op == "&") {
                    return "jet_concat(" + l + ", " + r + ")";
                }
                return "(" + l + " " + e.op + " " + r + ")";
            }
            case Expr::Kind::Like: {
                std::string call = "jet_like(" + Emit(*e.args[0]) + ", " + Emit(*e.args[1]) + ")";
                return e.negated ? "(NOT " + call + ")" : call;
            }
            case Expr::Kind::IsNull:
                return "(" + Emit(*e.args[0]) + (e.negated ? " IS NOT NULL)" : " IS NULL)");
            case Expr::Kind::In: {
                std::string sql = "(" + Emit(*e.args[0]) + (e.negated ? " NOT IN (" : " IN (");
                for (std::size_t i = 1; i < e.args.size(); ++i) {
                    sql += (i > 1 ? ", " : "") + Emit(*e.args[i]);
                }
                return sql + "))";
            }
            case Expr::Kind::Between: {
                std::string v = Emit(*e.args[0]);
                std::string lo = Emit(*e.args[1]);
                std::string hi = Emit(*e.args[2]);
                return "(" + v + (e.negated ? " NOT BETWEEN " : " BETWEEN ") + lo + " AND " + hi +
                       ")";
            }
            case Expr::Kind::Aggregate:
                return Aggregate(e);
        }
        return "NULL";
    }

    std::string Aggregate(const Expr& e) {
        if (aggregates_ == Aggregates::InWhere) {
            throw MakeError(jet::AggregateInWhere, e.text);
        }
        if (aggregates_ == Aggregates::Forbidden || insideAggregate_) {
            throw MakeError(jet::SyntaxErrorInExpression, e.text);
        }
        if (e.args.empty()) {
            return "count(*)";
        }
        insideAggregate_ = true;
        std::string inner = Emit(*e.args[0]);
        insideAggregate_ = false;
        std::string fn = e.op == "COUNT" ? "count"
                         : e.op == "SUM" ? "sum"
                         : e.op == "MIN" ? "min"
                         : e.op == "MAX" ? "max"
                                         : "avg";
        return fn + "(" + inner + ")";
    }

    std::string Column(const Expr& e) {
        if (table_ && (e.qualifier.empty() || SameName(e.qualifier, table_->name))) {
            for (const std::string& c : table_->columns) {
                if (SameName(c, e.name)) {
                    return QuoteName(c);
                }
            }
        }
        ++unknown_;
        return "NULL";
    }

    const TableShape* table_;
    Compiled& out_;
    Aggregates aggregates_ = Aggregates::Forbidden;
    bool insideAggregate_ = false;
    int unknown_ = 0;
};

bool HasAggregate(const Expr& e) {
    if (e.kind == Expr::Kind::Aggregate) {
        return true;
    }
    for (const ExprPtr& a : e.args) {
        if (HasAggregate(*a)) {
            return true;
        }
    }
    return false;
}

// A field used outside any aggregate, in a query whose other items aggregate.
bool HasBareColumn(const Expr& e) {
    if (e.kind == Expr::Kind::Aggregate) {
        return false;
    }
    if (e.kind == Expr::Kind::Column) {
        return true;
    }
    for (const ExprPtr& a : e.args) {
        if (HasBareColumn(*a)) {
            return true;
        }
    }
    return false;
}

const std::string* FindColumn(const std::vector<std::string>& columns, const std::string& name) {
    for (const std::string& c : columns) {
        if (SameName(c, name)) {
            return &c;
        }
    }
    return nullptr;
}

}  // namespace

std::string QuoteName(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

Compiled CompileDelete(const Delete& statement, const TableShape& table) {
    Compiled out;
    ExprCompiler ec(&table, out);
    out.sql = "DELETE FROM " + QuoteName(table.name);
    if (statement.where) {
        out.sql += " WHERE " + ec.Compile(*statement.where, Aggregates::InWhere, true);
    }
    ec.RaiseForUnknownNames();
    return out;
}

Compiled CompileInsert(const Insert& statement, const TableShape& table) {
    Compiled out;
    std::vector<std::string> targets;
    if (statement.columns.empty()) {
        targets = table.columns;
    } else {
        for (const std::string& name : statement.columns) {
            const std::string* column = FindColumn(table.columns, name);
            if (!column) {
                throw MakeError(jet::UnknownInsertField, name);
            }
            if (FindColumn(targets, name)) {
                throw MakeError(jet::FieldDefinedTwice, name);
            }
            targets.push_back(*column);
        }
    }
    if (targets.size() != statement.values.size()) {
        throw MakeError(jet::ValueCountMismatch);
    }
    // Values stand alone: a name among them is an unknown parameter, as in Jet.
    ExprCompiler ec(nullptr, out);
    std::string names, values;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        names += (i ? ", " : "") + QuoteName(targets[i]);
        values += (i ? ", " : "") + ec.Compile(*statement.values[i], Aggregates::Forbidden);
    }
    ec.RaiseForUnknownNames();
    out.sql = "INSERT INTO " + QuoteName(table.name) + " (" + names + ") VALUES (" + values + ")";
    return out;
}

Compiled CompileSelect(const Select& statement, const TableShape& table) {
    bool aggregated = false;
    for (const SelectItem& item : statement.items) {
        aggregated = aggregated || (item.expr && HasAggregate(*item.expr));
    }
    Compiled out;
    ExprCompiler ec(&table, out);
    std::string items;
    int unnamed = 1000;
    for (const SelectItem& item : statement.items) {
        if (!items.empty()) {
            items += ", ";
        }
        if (!item.expr) {
            if (aggregated) {
                throw MakeError(jet::AggregateMix, "*");
            }
            items += "*";
            continue;
        }
        if (aggregated && HasBareColumn(*item.expr)) {
            throw MakeError(jet::AggregateMix, item.expr->text);
        }
        items += ec.Compile(*item.expr, Aggregates::Allowed);
        // Jet names a computed field "Expr1000", "Expr1001", ... (German: "Ausdr").
        std::string name = item.alias;
        if (name.empty()) {
            name = item.expr->kind == Expr::Kind::Column ? item.expr->name
                                                         : "Ausdr" + std::to_string(unnamed++);
        }
        items += " AS " + QuoteName(name);
    }
    out.sql = std::string("SELECT ") + (statement.distinct ? "DISTINCT " : "") + items + " FROM " +
              QuoteName(table.name);
    if (statement.where) {
        out.sql += " WHERE " + ec.Compile(*statement.where, Aggregates::InWhere, true);
    }
    for (std::size_t i = 0; i < statement.orderBy.size(); ++i) {
        out.sql += i == 0 ? " ORDER BY " : ", ";
        out.sql += ec.Compile(*statement.orderBy[i].expr,
                              aggregated ? Aggregates::Allowed : Aggregates::Forbidden);
        out.sql += statement.orderBy[i].descending ? " DESC" : " ASC";
    }
    ec.RaiseForUnknownNames();
    return out;
}

std::string CompileCreate(const CreateTable& statement) {
    const auto fail = [] { return MakeError(jet::SyntaxErrorCreateTable); };
    std::vector<std::string> names;
    int primaryKeys = statement.primaryKey.empty() ? 0 : 1;
    int counters = 0;
    const ColumnDef* counter = nullptr;
    for (const ColumnDef& c : statement.columns) {
        if (FindColumn(names, c.name)) {
            throw MakeError(jet::FieldDefinedTwice, c.name);
        }
        names.push_back(c.name);
        primaryKeys += c.primaryKey ? 1 : 0;
        if (c.type == ColumnType::Counter) {
            ++counters;
            counter = &c;
        }
    }
    // A counter is SQLite's row number, which makes it the table's key: it cannot share the
    // table with another key or with a second counter.
    bool keyIsCounter = counter && statement.primaryKey.size() == 1 &&
                        SameName(statement.primaryKey[0], counter->name);
    bool otherKey = !statement.primaryKey.empty() && !keyIsCounter;
    for (const ColumnDef& c : statement.columns) {
        otherKey = otherKey || (c.primaryKey && c.type != ColumnType::Counter);
    }
    if (primaryKeys > 1 || counters > 1 || (counter && otherKey)) {
        throw fail();
    }
    auto checkList = [&](const std::vector<std::string>& list) {
        std::vector<std::string> seen;
        for (const std::string& n : list) {
            if (!FindColumn(names, n) || FindColumn(seen, n)) {
                throw fail();
            }
            seen.push_back(n);
        }
    };
    checkList(statement.primaryKey);
    for (const auto& u : statement.uniques) {
        checkList(u);
    }

    std::string sql = "CREATE TABLE " + QuoteName(statement.table) + " (";
    for (std::size_t i = 0; i < statement.columns.size(); ++i) {
        const ColumnDef& c = statement.columns[i];
        std::string q = QuoteName(c.name);
        bool inKey = c.primaryKey || FindColumn(statement.primaryKey, c.name);
        sql += (i ? ", " : "") + q + " ";
        auto range = [&](const char* lo, const char* hi) {
            return " CONSTRAINT tarnu_range CHECK (" + q + " BETWEEN " + lo + " AND " + hi + ")";
        };
        switch (c.type) {
            case ColumnType::Text:
                sql += "TEXT COLLATE NOCASE CONSTRAINT tarnu_size CHECK (length(" + q +
                       ") <= " + std::to_string(c.size) + ")";
                break;
            case ColumnType::Memo:
                sql += "TEXT COLLATE NOCASE";
                break;
            case ColumnType::Byte:
                sql += "INT" + range("0", "255");
                break;
            case ColumnType::Short:
                sql += "INT" + range("-32768", "32767");
                break;
            case ColumnType::Long:
                sql += "INT" + range("-2147483648", "2147483647");
                break;
            case ColumnType::Counter:
                sql += "INTEGER PRIMARY KEY";
                inKey = false;
                break;
            case ColumnType::Single:
            case ColumnType::Double:
            case ColumnType::Currency:
                sql += "REAL";
                break;
            case ColumnType::YesNo:
                sql += "INT";
                break;
            case ColumnType::DateTime:
                sql += "TEXT";
                break;
            case ColumnType::Binary:
                sql += "BLOB CONSTRAINT tarnu_size CHECK (length(" + q +
                       ") <= " + std::to_string(c.size) + ")";
                break;
            case ColumnType::LongBinary:
                sql += "BLOB";
                break;
        }
        // SQLite would let a key field stay empty; Jet does not.
        if ((c.notNull || inKey) && c.type != ColumnType::Counter) {
            sql += " NOT NULL";
        }
        if (c.primaryKey && c.type != ColumnType::Counter) {
            sql += " PRIMARY KEY";
        }
        if (c.unique) {
            sql += " UNIQUE";
        }
    }
    auto nameList = [&](const std::vector<std::string>& list) {
        std::string s;
        for (std::size_t i = 0; i < list.size(); ++i) {
            s += (i ? ", " : "") + QuoteName(*FindColumn(names, list[i]));
        }
        return s;
    };
    if (!statement.primaryKey.empty() && !keyIsCounter) {
        sql += ", PRIMARY KEY (" + nameList(statement.primaryKey) + ")";
    }
    for (const auto& u : statement.uniques) {
        sql += ", UNIQUE (" + nameList(u) + ")";
    }
    return sql + ") STRICT";
}

}  // namespace tarnu::engine::jetsql
