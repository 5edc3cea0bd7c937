#include "platform/linux/engine/jet_functions.h"
#include "tests/engine/engine_test_util.h"

namespace tarnu::engine::test {
namespace {

class StatementTest : public EngineTest {
  protected:
    void SetUp() override {
        db_ = MakeTable("a.mdb", 5);
        db_->Execute(
            "CREATE TABLE U (Nr COUNTER, Kurz TEXT(3) NOT NULL, Ein TEXT(1), Zahl SHORT, Klein "
            "BYTE, "
            "Wert DOUBLE, Ja YESNO, Tag DATETIME, Daten LONGBINARY, CONSTRAINT pk PRIMARY KEY "
            "(Nr), CONSTRAINT u UNIQUE (Kurz, Zahl))");
        db_->Execute(
            "INSERT INTO U (Kurz, Zahl, Wert, Ja, Tag) VALUES ('abc', 1, 1.5, True, #2024-01-31#)");
    }

    std::int32_t ErrorOfStatement(const std::string& statement) {
        return ErrorOf([&] { db_->Execute(statement); });
    }

    std::unique_ptr<Database> db_;
};

// Refused statements, also those that fail only while running, leave the file as it was.
TEST_F(StatementTest, RefusedStatementsRaiseTheirErrorAndChangeNothing) {
    db_->LinkTable({"L", dao::dbAttachedTable, ";DATABASE=" + Path("a.mdb"), "T"});
    std::string longChain = "DELETE * FROM T WHERE ID = 0";
    for (int i = 0; i < 5000; ++i) {
        longChain += " + 0";
    }
    const std::string before = ReadFile(Path("a.mdb"));
    const std::pair<std::string, std::int32_t> cases[] = {
        {"", jet::InvalidSqlStatement},
        {"DELETE * FROM [T", jet::SyntaxErrorFrom},
        // The clean-up names its tables unquoted: "b" must not be read as an alias.
        {"DELETE * FROM T b;", jet::SyntaxErrorFrom},
        {std::string("DELETE * FROM T\0", 16), jet::SyntaxErrorFrom},  // NUL outside a text
        {"DELETE * FROM T; DROP TABLE T", jet::CharactersAfterEnd},
        {"DELETE * FROM T WHERE Name = 'offen", jet::SyntaxErrorInExpression},
        {"DELETE * FROM T WHERE ID = 12abc", jet::SyntaxErrorInExpression},
        // Too deep to recurse into.
        {"DELETE * FROM T WHERE " + std::string(5000, '(') + "1" + std::string(5000, ')') + " = 1",
         jet::SyntaxErrorInExpression},
        {longChain, jet::SyntaxErrorInExpression},
        {"INSERT INTO T (ID, Name VALUES (6, 'x')", jet::SyntaxErrorInsert},
        {"CREATE TABLE V (a TEXT(0))", jet::SyntaxErrorCreateTable},
        {"CREATE TABLE V (a LONG(5))", jet::SyntaxErrorCreateTable},
        {"CREATE TABLE V (a LONG PRIMARY KEY, b LONG PRIMARY KEY)", jet::SyntaxErrorCreateTable},
        {"CREATE TABLE V (a COUNTER, b LONG PRIMARY KEY)", jet::SyntaxErrorCreateTable},
        {"DROP TABLE", jet::SyntaxErrorDrop},
        {"SELECT * FROM T", jet::CannotExecuteSelect},
        {"DELETE * FROM L", jet::LinkedTableStatement},
        // Rows 1 and 2 match before row 3 divides by zero; none of them may stay deleted.
        {"DELETE * FROM T WHERE 10 / (ID - 3) < 0", jet::DivisionByZero},
        {"INSERT INTO U (Kurz) VALUES ('abcd')", jet::FieldTooSmall},
        {"INSERT INTO U (Kurz, Zahl) VALUES ('ABC', 1)", jet::DuplicateKey},
        {"INSERT INTO U (Zahl) VALUES (3)", jet::FieldRequired},
        {"INSERT INTO U (Kurz, Klein) VALUES ('x', -1)", jet::NumericOverflow},
        {"INSERT INTO U (Kurz, Zahl) VALUES ('x', 'viele')", jet::ConversionError},
        {"INSERT INTO U (Kurz, Fehlt) VALUES ('x', 1)", jet::UnknownInsertField},
        {"INSERT INTO U (Kurz) VALUES ('x', 1)", jet::ValueCountMismatch},
        {"INSERT INTO Fehlt VALUES (1)", jet::TableNotFound},
        {"CREATE TABLE u (a LONG)", jet::TableExists},
        {"CREATE TABLE [sqlite_x] (a LONG)", jet::InvalidName},
        {"CREATE TABLE [ vorne] (a LONG)", jet::InvalidName},
        {"DROP TABLE Fehlt", jet::TableDoesNotExist},
    };
    for (const auto& [statement, error] : cases) {
        EXPECT_EQ(ErrorOfStatement(statement), error) << statement.substr(0, 60);
    }
    EXPECT_EQ(ReadFile(Path("a.mdb")), before);
    // Names the table does not have are parameters no one gave a value for.
    EXPECT_EQ(
        ErrorTextOf([&] { db_->Execute("DELETE * FROM T WHERE Nummer = 1 OR Andere.ID = 2"); }),
        "3061: Zu wenige Parameter. Erwartet 2.");
}

TEST_F(StatementTest, WhereClauseFollowsJetSemantics) {
    db_->Execute("INSERT INTO T VALUES (6, NULL)");
    db_->Execute("INSERT INTO T VALUES (7, 'Zeile 7 [A]')");
    db_->Execute("INSERT INTO T VALUES (8, 'zEILE 8')");
    const std::pair<const char*, Texts> cases[] = {
        {"WHERE Name = 'ZEILE 1'", {"1"}},  // text compares without case
        {"WHERE Name LIKE 'Zeile #*' AND NOT Name LIKE '*]'", {"1", "2", "3", "4", "5", "8"}},
        {"WHERE Name IS NULL OR ID IN (1, 7)", {"1", "6", "7"}},
        {"WHERE ID NOT BETWEEN 2 AND 7", {"1", "8"}},
        {"WHERE T.ID * 2 - 1 = 5 OR [ID] / 4 = 2", {"3", "8"}},
        {"WHERE 'Nr ' & ID & Name = 'Nr 6'", {"6"}},  // & takes Null as ""
        {"WHERE (ID > .5 * 4) = True AND ID < 4", {"3"}},
        {"WHERE Name = \"Zeile \"\"\" OR ID = -(-4)", {"4"}},
    };
    for (const auto& [where, ids] : cases) {
        EXPECT_EQ(Rows(*db_, "SELECT ID FROM T " + std::string(where) + " ORDER BY ID"), ids)
            << where;
    }
    db_->Execute("DELETE FROM T WHERE ID >= 6;");
    db_->Execute("DELETE T.* FROM T WHERE ID <> 1");
    EXPECT_EQ(CountOf(*db_, "T"), "1");
}

TEST_F(StatementTest, JetLikePatterns) {
    // "value|pattern"
    for (const std::string c :
         {"|", "|*", "Temp_x|temp_*", "abc|a*c", "abcbc|a*bc", "aXb|a?b", "äb|?b", "Ä|ä", "a9|a#",
          "b|[a-c]", "d|[!a-c]", "-|[a-]", "*|[*]", "a[|a[", "aaaaaaaaab|*a*a*a*b"}) {
        EXPECT_TRUE(JetLike(c.substr(0, c.find('|')), c.substr(c.find('|') + 1))) << c;
    }
    for (const std::string c :
         {"a|", "Tem|Temp*", "abcbd|a*bc", "ab|a?b", "ax|a#", "d|[a-c]", "x|[*]"}) {
        EXPECT_FALSE(JetLike(c.substr(0, c.find('|')), c.substr(c.find('|') + 1))) << c;
    }
}

// What a table holds reads back as it was stored: types, Null, a NUL and umlauts in a text;
// fields get their names, Jet's own for an expression.
TEST_F(StatementTest, SelectsReadBackWhatWasStored) {
    const std::string text = std::string("a\0b", 3) + " Größe ÄÖÜß";
    db_->Execute("INSERT INTO U (Kurz, Zahl) VALUES ('abc', 2)");
    db_->Execute("INSERT INTO T VALUES (6, '" + text + "')");
    EXPECT_EQ(Rows(*db_, "SELECT * FROM U ORDER BY Nr"),
              (Texts{"1\tabc\t\t1\t\t1.5\t-1\t2024-01-31\t", "2\tabc\t\t2\t\t\t\t\t"}));
    const Recordset rs =
        db_->OpenRecordset("SELECT Name, ID * 2 AS Doppelt, ID + 1 FROM T WHERE ID = 6");
    EXPECT_EQ(rs.Fields, (Texts{"Name", "Doppelt", "Ausdr1000"}));
    ASSERT_EQ(rs.Rows.size(), 1u);
    EXPECT_EQ(rs.Rows[0][0].type, Value::Type::Text);
    EXPECT_EQ(rs.Rows[0][0].bytes, text);
    EXPECT_EQ(
        Rows(*db_, "SELECT COUNT(*), SUM(ID), MIN(Name), MAX(ID), AVG(ID) FROM T WHERE ID < 6"),
        Texts{"5\t15\tZeile 1\t5\t3"});
    const std::pair<const char*, std::int32_t> cases[] = {
        {"SELECT ID, COUNT(*) FROM T", jet::AggregateMix},
        {"SELECT * FROM T WHERE COUNT(*) > 1", jet::AggregateInWhere},
        {"DELETE * FROM T", jet::InvalidOperation},
    };
    for (const auto& [select, error] : cases) {
        EXPECT_EQ(ErrorOf([&] { db_->OpenRecordset(select); }), error) << select;
    }
}

TEST_F(StatementTest, TransactionsGroupStatements) {
    for (bool commit : {false, true}) {
        db_->BeginTrans();
        EXPECT_EQ(ErrorOf([&] { db_->BeginTrans(); }), jet::InvalidOperation);
        db_->Execute("DELETE * FROM T WHERE ID > 3");
        EXPECT_EQ(ErrorOfStatement("INSERT INTO T VALUES (1, 'doppelt')"), jet::DuplicateKey);
        commit ? db_->CommitTrans() : db_->Rollback();
        EXPECT_EQ(CountOf(*db_, "T"), commit ? "3" : "5");
    }
    EXPECT_EQ(ErrorOf([&] { db_->CommitTrans(); }), jet::NoTransaction);
    // Released with a transaction open: what it held is undone.
    db_->BeginTrans();
    db_->Execute("DELETE * FROM T");
    db_.reset();
    db_ = engine_->OpenDatabase(Path("a.mdb"), false, false, "");
    EXPECT_EQ(CountOf(*db_, "T"), "3");
}

}  // namespace
}  // namespace tarnu::engine::test
