#include "platform/linux/engine/jet_sql.h"

#include <charconv>
#include <cstring>

#include "platform/linux/engine/errors.h"
#include "platform/linux/engine/names.h"

namespace tarnu::engine::jetsql {

namespace {

// Deeper nesting and longer expressions than any statement a person writes. They bound the
// recursion of everything that walks the tree later, and keep within SQLite's own limits.
constexpr int kMaxDepth = 64;
constexpr int kMaxNodes = 1000;

enum class Tok { End, Ident, Bracket, String, Number, Date, Symbol, Invalid };

struct Token {
    Tok kind = Tok::End;
    std::string text;  // identifier, name, string content, date content or symbol
    Value number;
    std::size_t begin = 0;
    std::size_t end = 0;
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsIdentStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}
bool IsIdentPart(char c) {
    return IsIdentStart(c) || IsDigit(c);
}

bool SameWord(std::string_view a, const char* b) {
    std::size_t n = std::strlen(b);
    if (a.size() != n) {
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        char x = a[i];
        if (x >= 'a' && x <= 'z') {
            x = static_cast<char>(x - 32);
        }
        if (x != b[i]) {
            return false;
        }
    }
    return true;
}

const char* const kReserved[] = {"SELECT",     "FROM",    "WHERE", "INSERT", "INTO",     "VALUES",
                                 "DELETE",     "CREATE",  "TABLE", "DROP",   "AND",      "OR",
                                 "NOT",        "NULL",    "IS",    "LIKE",   "IN",       "BETWEEN",
                                 "ORDER",      "BY",      "ASC",   "DESC",   "DISTINCT", "AS",
                                 "CONSTRAINT", "PRIMARY", "KEY",   "UNIQUE", "TRUE",     "FALSE"};

bool IsReservedWord(std::string_view word) {
    for (const char* r : kReserved) {
        if (SameWord(word, r)) {
            return true;
        }
    }
    return false;
}

// Reads a delimited text from the opening character at open up to its closing character, a
// doubled closing character standing for itself. Returns the position after the closing
// character, or npos when the text is never closed.
std::size_t ReadDelimited(std::string_view s, std::size_t open, char close, std::string& text) {
    std::size_t j = open + 1;
    while (j < s.size()) {
        if (s[j] == close) {
            if (j + 1 < s.size() && s[j + 1] == close) {
                text += close;
                j += 2;
                continue;
            }
            return j + 1;
        }
        text += s[j++];
    }
    return std::string_view::npos;
}

std::vector<Token> Lex(std::string_view s) {
    std::vector<Token> out;
    std::size_t i = 0;
    auto invalid = [&](std::size_t at) {
        Token t;
        t.kind = Tok::Invalid;
        t.begin = at;
        t.end = s.size();
        out.push_back(std::move(t));
    };
    while (true) {
        while (i < s.size() && IsSpace(s[i])) {
            ++i;
        }
        Token t;
        t.begin = i;
        if (i >= s.size()) {
            t.kind = Tok::End;
            t.end = i;
            out.push_back(std::move(t));
            return out;
        }
        char c = s[i];
        if (IsIdentStart(c)) {
            std::size_t j = i;
            while (j < s.size() && IsIdentPart(s[j])) {
                ++j;
            }
            t.kind = Tok::Ident;
            t.text = std::string(s.substr(i, j - i));
            i = j;
        } else if (c == '[') {
            const std::size_t j = ReadDelimited(s, i, ']', t.text);
            if (j == std::string::npos) {
                invalid(i);
                return out;
            }
            t.kind = Tok::Bracket;
            i = j;
        } else if (c == '\'' || c == '"') {
            const std::size_t j = ReadDelimited(s, i, c, t.text);
            if (j == std::string::npos) {
                invalid(i);
                return out;
            }
            t.kind = Tok::String;
            i = j;
        } else if (c == '#') {
            std::size_t j = i + 1;
            while (j < s.size() && s[j] != '#') {
                char d = s[j];
                if (!(IsDigit(d) || d == '-' || d == '/' || d == ':' || d == ' ' || d == '.')) {
                    break;
                }
                ++j;
            }
            if (j >= s.size() || s[j] != '#' || j == i + 1) {
                invalid(i);
                return out;
            }
            t.kind = Tok::Date;
            t.text = std::string(s.substr(i + 1, j - i - 1));
            i = j + 1;
        } else if (IsDigit(c) || (c == '.' && i + 1 < s.size() && IsDigit(s[i + 1]))) {
            std::size_t j = i;
            bool real = false;
            while (j < s.size() && IsDigit(s[j])) {
                ++j;
            }
            if (j < s.size() && s[j] == '.') {
                real = true;
                ++j;
                while (j < s.size() && IsDigit(s[j])) {
                    ++j;
                }
            }
            if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
                std::size_t k = j + 1;
                if (k < s.size() && (s[k] == '+' || s[k] == '-')) {
                    ++k;
                }
                if (k < s.size() && IsDigit(s[k])) {
                    real = true;
                    j = k;
                    while (j < s.size() && IsDigit(s[j])) {
                        ++j;
                    }
                }
            }
            // A number running straight into a name ("12abc") is no number.
            if (j < s.size() && IsIdentStart(s[j])) {
                invalid(i);
                return out;
            }
            std::string_view digits = s.substr(i, j - i);
            std::int64_t integer = 0;
            auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), integer);
            if (!real && ec == std::errc() && p == digits.data() + digits.size()) {
                t.number = Value::Integer(integer);
            } else {
                double d = 0;
                auto [q, ec2] = std::from_chars(digits.data(), digits.data() + digits.size(), d);
                if (ec2 != std::errc() || q != digits.data() + digits.size()) {
                    invalid(i);
                    return out;
                }
                t.number = Value::Real(d);
            }
            t.kind = Tok::Number;
            t.text = std::string(digits);
            i = j;
        } else {
            static const char* const twoChar[] = {"<=", ">=", "<>"};
            bool matched = false;
            for (const char* sym : twoChar) {
                if (s.substr(i, 2) == sym) {
                    t.text = sym;
                    i += 2;
                    matched = true;
                    break;
                }
            }
            if (!matched) {
                if (std::strchr("(),;*=+-/&.<>", c) == nullptr || c == '\0') {
                    invalid(i);
                    return out;
                }
                t.text = std::string(1, c);
                ++i;
            }
            t.kind = Tok::Symbol;
        }
        t.end = i;
        out.push_back(std::move(t));
    }
}

class Parser {
  public:
    explicit Parser(std::string_view text) : src_(text), toks_(Lex(text)) {}

    Statement ParseStatement() {
        const Token& first = Peek();
        if (IsWord(first, "SELECT")) {
            return ParseSelect();
        }
        if (IsWord(first, "INSERT")) {
            return ParseInsert();
        }
        if (IsWord(first, "DELETE")) {
            return ParseDelete();
        }
        if (IsWord(first, "CREATE")) {
            return ParseCreate();
        }
        if (IsWord(first, "DROP")) {
            return ParseDrop();
        }
        throw MakeError(jet::InvalidSqlStatement);
    }

  private:
    // --- tokens

    const Token& Peek(std::size_t ahead = 0) const {
        std::size_t at = pos_ + ahead;
        return at < toks_.size() ? toks_[at] : toks_.back();
    }
    const Token& Next() {
        const Token& t = Peek();
        if (pos_ < toks_.size() - 1) {
            ++pos_;
        }
        return t;
    }
    static bool IsWord(const Token& t, const char* word) {
        return t.kind == Tok::Ident && SameWord(t.text, word);
    }
    static bool IsSymbol(const Token& t, const char* sym) {
        return t.kind == Tok::Symbol && t.text == sym;
    }
    bool AcceptWord(const char* word) {
        if (IsWord(Peek(), word)) {
            Next();
            return true;
        }
        return false;
    }
    bool AcceptSymbol(const char* sym) {
        if (IsSymbol(Peek(), sym)) {
            Next();
            return true;
        }
        return false;
    }
    void ExpectWord(const char* word) {
        if (!AcceptWord(word)) {
            Fail();
        }
    }
    void ExpectSymbol(const char* sym) {
        if (!AcceptSymbol(sym)) {
            Fail();
        }
    }

    [[noreturn]] void Fail() const {
        if (syntax_ == jet::SyntaxErrorInExpression) {
            throw MakeError(syntax_, ExpressionText());
        }
        throw MakeError(syntax_);
    }

    // The clause being parsed, as Jet quotes it: from its start up to the end of the statement.
    std::string ExpressionText() const {
        std::string_view rest = src_.substr(std::min(clauseStart_, src_.size()));
        while (!rest.empty() && (IsSpace(rest.back()) || rest.back() == ';')) {
            rest.remove_suffix(1);
        }
        return std::string(rest);
    }

    // A table or column name: bare (not a reserved word) or in brackets.
    std::string Name() {
        const Token& t = Peek();
        if (t.kind == Tok::Bracket || (t.kind == Tok::Ident && !IsReservedWord(t.text))) {
            return Next().text;
        }
        Fail();
    }

    // A name a statement defines: it must be a name Jet accepts.
    std::string NewName() {
        std::string name = Name();
        if (!IsValidName(name)) {
            throw MakeError(jet::InvalidName, name);
        }
        return name;
    }

    // The end of a statement: an optional ";" and nothing after it.
    void ExpectEnd() {
        if (AcceptSymbol(";")) {
            if (Peek().kind != Tok::End) {
                throw MakeError(jet::CharactersAfterEnd);
            }
            return;
        }
        if (Peek().kind != Tok::End) {
            Fail();
        }
    }

    // --- statements

    Statement ParseDrop() {
        syntax_ = jet::SyntaxErrorDrop;
        Next();
        ExpectWord("TABLE");
        DropTable drop;
        drop.table = Name();
        ExpectEnd();
        return drop;
    }

    Statement ParseDelete() {
        syntax_ = jet::SyntaxErrorFrom;
        Next();
        Delete del;
        if (!AcceptSymbol("*")) {
            // "DELETE Kunden.* FROM Kunden" names the table twice.
            if (!IsWord(Peek(), "FROM")) {
                Name();
                ExpectSymbol(".");
                ExpectSymbol("*");
            }
        }
        ExpectWord("FROM");
        del.table = Name();
        if (IsWord(Peek(), "WHERE")) {
            del.where = ParseWhere(false);
        }
        ExpectEnd();
        return del;
    }

    Statement ParseInsert() {
        syntax_ = jet::SyntaxErrorInsert;
        Next();
        ExpectWord("INTO");
        Insert ins;
        ins.table = Name();
        if (AcceptSymbol("(")) {
            do {
                ins.columns.push_back(Name());
            } while (AcceptSymbol(","));
            ExpectSymbol(")");
        }
        ExpectWord("VALUES");
        ExpectSymbol("(");
        do {
            ins.values.push_back(ParseExpressionIn(jet::SyntaxErrorInsert));
        } while (AcceptSymbol(","));
        ExpectSymbol(")");
        ExpectEnd();
        return ins;
    }

    Statement ParseSelect() {
        syntax_ = jet::SyntaxErrorSelect;
        Next();
        Select sel;
        sel.distinct = AcceptWord("DISTINCT");
        do {
            SelectItem item;
            if (!AcceptSymbol("*")) {
                item.expr = ParseExpressionIn(jet::SyntaxErrorSelect);
                if (AcceptWord("AS")) {
                    item.alias = Name();
                }
            }
            sel.items.push_back(std::move(item));
        } while (AcceptSymbol(","));
        ExpectWord("FROM");
        syntax_ = jet::SyntaxErrorFrom;
        sel.table = Name();
        if (IsWord(Peek(), "WHERE")) {
            sel.where = ParseWhere(true);
        }
        if (AcceptWord("ORDER")) {
            syntax_ = jet::SyntaxErrorSelect;
            ExpectWord("BY");
            do {
                OrderItem item;
                item.expr = ParseExpressionIn(jet::SyntaxErrorSelect);
                if (AcceptWord("DESC")) {
                    item.descending = true;
                } else {
                    AcceptWord("ASC");
                }
                sel.orderBy.push_back(std::move(item));
            } while (AcceptSymbol(","));
        }
        ExpectEnd();
        return sel;
    }

    Statement ParseCreate() {
        syntax_ = jet::SyntaxErrorCreateTable;
        Next();
        ExpectWord("TABLE");
        CreateTable create;
        create.table = NewName();
        ExpectSymbol("(");
        do {
            if (IsWord(Peek(), "CONSTRAINT") || IsWord(Peek(), "PRIMARY") ||
                IsWord(Peek(), "UNIQUE")) {
                ParseTableConstraint(create);
            } else {
                create.columns.push_back(ParseColumn());
            }
        } while (AcceptSymbol(","));
        ExpectSymbol(")");
        ExpectEnd();
        if (create.columns.empty()) {
            Fail();
        }
        return create;
    }

    std::vector<std::string> NameList() {
        std::vector<std::string> names;
        ExpectSymbol("(");
        do {
            names.push_back(Name());
        } while (AcceptSymbol(","));
        ExpectSymbol(")");
        return names;
    }

    void ParseTableConstraint(CreateTable& create) {
        if (AcceptWord("CONSTRAINT")) {
            Name();
        }
        if (AcceptWord("PRIMARY")) {
            ExpectWord("KEY");
            if (!create.primaryKey.empty()) {
                Fail();
            }
            create.primaryKey = NameList();
        } else if (AcceptWord("UNIQUE")) {
            create.uniques.push_back(NameList());
        } else {
            Fail();
        }
    }

    ColumnDef ParseColumn() {
        ColumnDef col;
        col.name = NewName();
        const Token& typeTok = Next();
        if (typeTok.kind != Tok::Ident || !TypeOf(typeTok.text, col.type)) {
            Fail();
        }
        bool sized = col.type == ColumnType::Text || col.type == ColumnType::Binary;
        col.size = sized ? 255 : 0;
        if (AcceptSymbol("(")) {
            const Token& size = Next();
            if (!sized || size.kind != Tok::Number || size.number.type != Value::Type::Integer ||
                size.number.integer < 1 || size.number.integer > 255) {
                Fail();
            }
            col.size = static_cast<int>(size.number.integer);
            ExpectSymbol(")");
        }
        while (true) {
            if (AcceptWord("CONSTRAINT")) {
                Name();
                if (!(IsWord(Peek(), "PRIMARY") || IsWord(Peek(), "UNIQUE") ||
                      IsWord(Peek(), "NOT"))) {
                    Fail();
                }
            }
            if (AcceptWord("NOT")) {
                ExpectWord("NULL");
                col.notNull = true;
            } else if (AcceptWord("NULL")) {
                // Jet's default; said out loud only.
            } else if (AcceptWord("PRIMARY")) {
                ExpectWord("KEY");
                col.primaryKey = true;
            } else if (AcceptWord("UNIQUE")) {
                col.unique = true;
            } else {
                break;
            }
        }
        return col;
    }

    static bool TypeOf(std::string_view word, ColumnType& type) {
        struct Entry {
            const char* word;
            ColumnType type;
        };
        static const Entry entries[] = {
            {"TEXT", ColumnType::Text},
            {"VARCHAR", ColumnType::Text},
            {"CHAR", ColumnType::Text},
            {"CHARACTER", ColumnType::Text},
            {"STRING", ColumnType::Text},
            {"ALPHANUMERIC", ColumnType::Text},
            {"NVARCHAR", ColumnType::Text},
            {"NCHAR", ColumnType::Text},
            {"MEMO", ColumnType::Memo},
            {"LONGTEXT", ColumnType::Memo},
            {"LONGCHAR", ColumnType::Memo},
            {"NOTE", ColumnType::Memo},
            {"NTEXT", ColumnType::Memo},
            {"BYTE", ColumnType::Byte},
            {"TINYINT", ColumnType::Byte},
            {"INTEGER1", ColumnType::Byte},
            {"SHORT", ColumnType::Short},
            {"SMALLINT", ColumnType::Short},
            {"INTEGER2", ColumnType::Short},
            {"LONG", ColumnType::Long},
            {"INT", ColumnType::Long},
            {"INTEGER", ColumnType::Long},
            {"INTEGER4", ColumnType::Long},
            {"COUNTER", ColumnType::Counter},
            {"AUTOINCREMENT", ColumnType::Counter},
            {"SINGLE", ColumnType::Single},
            {"REAL", ColumnType::Single},
            {"FLOAT4", ColumnType::Single},
            {"IEEESINGLE", ColumnType::Single},
            {"DOUBLE", ColumnType::Double},
            {"FLOAT", ColumnType::Double},
            {"FLOAT8", ColumnType::Double},
            {"IEEEDOUBLE", ColumnType::Double},
            {"NUMBER", ColumnType::Double},
            {"NUMERIC", ColumnType::Double},
            {"CURRENCY", ColumnType::Currency},
            {"MONEY", ColumnType::Currency},
            {"YESNO", ColumnType::YesNo},
            {"BIT", ColumnType::YesNo},
            {"LOGICAL", ColumnType::YesNo},
            {"BOOLEAN", ColumnType::YesNo},
            {"DATETIME", ColumnType::DateTime},
            {"DATE", ColumnType::DateTime},
            {"TIME", ColumnType::DateTime},
            {"TIMESTAMP", ColumnType::DateTime},
            {"BINARY", ColumnType::Binary},
            {"VARBINARY", ColumnType::Binary},
            {"LONGBINARY", ColumnType::LongBinary},
            {"OLEOBJECT", ColumnType::LongBinary},
            {"GENERAL", ColumnType::LongBinary},
            {"IMAGE", ColumnType::LongBinary},
        };
        for (const Entry& e : entries) {
            if (SameWord(word, e.word)) {
                type = e.type;
                return true;
            }
        }
        return false;
    }

    // --- expressions

    // A WHERE clause runs to the end of the statement or to ORDER BY; anything else after the
    // condition is an operator missing in it.
    ExprPtr ParseWhere(bool orderByMayFollow) {
        Next();  // WHERE
        std::int32_t outer = syntax_;
        std::size_t outerStart = clauseStart_;
        syntax_ = jet::SyntaxErrorInExpression;
        clauseStart_ = Peek().begin;
        ExprPtr e = ParseOr();
        const Token& next = Peek();
        if (!(next.kind == Tok::End || IsSymbol(next, ";") ||
              (orderByMayFollow && IsWord(next, "ORDER")))) {
            Fail();
        }
        syntax_ = outer;
        clauseStart_ = outerStart;
        return e;
    }

    ExprPtr ParseExpressionIn(std::int32_t syntax) {
        std::int32_t outer = syntax_;
        std::size_t outerStart = clauseStart_;
        syntax_ = syntax;
        clauseStart_ = Peek().begin;
        ExprPtr e = ParseOr();
        syntax_ = outer;
        clauseStart_ = outerStart;
        return e;
    }

    ExprPtr Make(Expr::Kind kind, std::size_t begin) {
        if (++nodes_ > kMaxNodes) {
            Fail();
        }
        auto e = std::make_unique<Expr>();
        e->kind = kind;
        e->text = std::string(src_.substr(begin, LastEnd() - begin));
        return e;
    }
    std::size_t LastEnd() const { return pos_ == 0 ? 0 : toks_[pos_ - 1].end; }

    ExprPtr Binary(const std::string& op, ExprPtr l, ExprPtr r, std::size_t begin) {
        ExprPtr e = Make(Expr::Kind::Binary, begin);
        e->op = op;
        e->args.push_back(std::move(l));
        e->args.push_back(std::move(r));
        return e;
    }

    struct DepthGuard {
        explicit DepthGuard(Parser& p) : parser(p) {
            if (++parser.depth_ > kMaxDepth) {
                parser.Fail();
            }
        }
        ~DepthGuard() { --parser.depth_; }
        Parser& parser;
    };

    ExprPtr ParseOr() {
        DepthGuard guard(*this);
        std::size_t begin = Peek().begin;
        ExprPtr l = ParseAnd();
        while (AcceptWord("OR")) {
            ExprPtr r = ParseAnd();
            l = Binary("OR", std::move(l), std::move(r), begin);
        }
        return l;
    }

    ExprPtr ParseAnd() {
        std::size_t begin = Peek().begin;
        ExprPtr l = ParseNot();
        while (AcceptWord("AND")) {
            ExprPtr r = ParseNot();
            l = Binary("AND", std::move(l), std::move(r), begin);
        }
        return l;
    }

    ExprPtr ParseNot() {
        std::size_t begin = Peek().begin;
        if (AcceptWord("NOT")) {
            DepthGuard guard(*this);
            ExprPtr operand = ParseNot();
            ExprPtr e = Make(Expr::Kind::Unary, begin);
            e->op = "NOT";
            e->args.push_back(std::move(operand));
            return e;
        }
        return ParseComparison();
    }

    ExprPtr ParseComparison() {
        std::size_t begin = Peek().begin;
        ExprPtr l = ParseConcat();
        static const char* const ops[] = {"=", "<>", "<", ">", "<=", ">="};
        for (const char* op : ops) {
            if (AcceptSymbol(op)) {
                ExprPtr r = ParseConcat();
                return Binary(op, std::move(l), std::move(r), begin);
            }
        }
        if (AcceptWord("IS")) {
            bool negated = AcceptWord("NOT");
            ExpectWord("NULL");
            ExprPtr e = Make(Expr::Kind::IsNull, begin);
            e->negated = negated;
            e->args.push_back(std::move(l));
            return e;
        }
        bool negated = false;
        if (IsWord(Peek(), "NOT") &&
            (IsWord(Peek(1), "LIKE") || IsWord(Peek(1), "IN") || IsWord(Peek(1), "BETWEEN"))) {
            Next();
            negated = true;
        }
        if (AcceptWord("LIKE")) {
            ExprPtr pattern = ParseConcat();
            ExprPtr e = Make(Expr::Kind::Like, begin);
            e->negated = negated;
            e->args.push_back(std::move(l));
            e->args.push_back(std::move(pattern));
            return e;
        }
        if (AcceptWord("IN")) {
            ExpectSymbol("(");
            std::vector<ExprPtr> list;
            do {
                list.push_back(ParseConcat());
            } while (AcceptSymbol(","));
            ExpectSymbol(")");
            ExprPtr e = Make(Expr::Kind::In, begin);
            e->negated = negated;
            e->args.push_back(std::move(l));
            for (ExprPtr& item : list) {
                e->args.push_back(std::move(item));
            }
            return e;
        }
        if (AcceptWord("BETWEEN")) {
            ExprPtr low = ParseConcat();
            ExpectWord("AND");
            ExprPtr high = ParseConcat();
            ExprPtr e = Make(Expr::Kind::Between, begin);
            e->negated = negated;
            e->args.push_back(std::move(l));
            e->args.push_back(std::move(low));
            e->args.push_back(std::move(high));
            return e;
        }
        return l;
    }

    ExprPtr ParseConcat() {
        std::size_t begin = Peek().begin;
        ExprPtr l = ParseAdditive();
        while (AcceptSymbol("&")) {
            ExprPtr r = ParseAdditive();
            l = Binary("&", std::move(l), std::move(r), begin);
        }
        return l;
    }

    ExprPtr ParseAdditive() {
        std::size_t begin = Peek().begin;
        ExprPtr l = ParseMultiplicative();
        while (IsSymbol(Peek(), "+") || IsSymbol(Peek(), "-")) {
            std::string op = Next().text;
            ExprPtr r = ParseMultiplicative();
            l = Binary(op, std::move(l), std::move(r), begin);
        }
        return l;
    }

    ExprPtr ParseMultiplicative() {
        std::size_t begin = Peek().begin;
        ExprPtr l = ParseUnary();
        while (IsSymbol(Peek(), "*") || IsSymbol(Peek(), "/")) {
            std::string op = Next().text;
            ExprPtr r = ParseUnary();
            l = Binary(op, std::move(l), std::move(r), begin);
        }
        return l;
    }

    ExprPtr ParseUnary() {
        DepthGuard guard(*this);
        std::size_t begin = Peek().begin;
        if (AcceptSymbol("-")) {
            ExprPtr operand = ParseUnary();
            ExprPtr e = Make(Expr::Kind::Unary, begin);
            e->op = "-";
            e->args.push_back(std::move(operand));
            return e;
        }
        if (AcceptSymbol("+")) {
            return ParseUnary();
        }
        return ParsePrimary();
    }

    ExprPtr ParsePrimary() {
        std::size_t begin = Peek().begin;
        const Token& t = Peek();
        if (t.kind == Tok::Number || t.kind == Tok::String || t.kind == Tok::Date) {
            Next();
            ExprPtr e = Make(Expr::Kind::Literal, begin);
            e->value = t.kind == Tok::Number ? t.number : Value::Text(t.text);
            return e;
        }
        if (IsWord(t, "NULL") || IsWord(t, "TRUE") || IsWord(t, "FALSE")) {
            bool isNull = IsWord(t, "NULL");
            bool isTrue = IsWord(t, "TRUE");
            Next();
            ExprPtr e = Make(Expr::Kind::Literal, begin);
            // Jet's True is -1.
            e->value = isNull ? Value::Null() : Value::Integer(isTrue ? -1 : 0);
            return e;
        }
        if (AcceptSymbol("(")) {
            ExprPtr inner = ParseOr();
            ExpectSymbol(")");
            return inner;
        }
        if (t.kind == Tok::Ident && IsSymbol(Peek(1), "(")) {
            static const char* const aggregates[] = {"COUNT", "SUM", "MIN", "MAX", "AVG"};
            for (const char* name : aggregates) {
                if (SameWord(t.text, name)) {
                    Next();
                    Next();
                    ExprPtr e = Make(Expr::Kind::Aggregate, begin);
                    e->op = name;
                    if (!(e->op == "COUNT" && AcceptSymbol("*"))) {
                        e->args.push_back(ParseOr());
                    }
                    ExpectSymbol(")");
                    e->text = std::string(src_.substr(begin, LastEnd() - begin));
                    return e;
                }
            }
            Fail();
        }
        std::string first = Name();
        ExprPtr e = Make(Expr::Kind::Column, begin);
        if (AcceptSymbol(".")) {
            e->qualifier = first;
            e->name = Name();
        } else {
            e->name = first;
        }
        e->text = std::string(src_.substr(begin, LastEnd() - begin));
        return e;
    }

    std::string_view src_;
    std::vector<Token> toks_;
    std::size_t pos_ = 0;
    std::int32_t syntax_ = jet::InvalidSqlStatement;
    std::size_t clauseStart_ = 0;
    int depth_ = 0;
    int nodes_ = 0;
};

}  // namespace

Statement Parse(std::string_view text) {
    return Parser(text).ParseStatement();
}

}  // namespace tarnu::engine::jetsql
