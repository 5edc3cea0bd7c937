#include "engine/jet_functions.h"
#include "tests/engine/engine_test_util.h"

namespace tarnu::engine::test {
namespace {

class StatementTest : public EngineTest {
  protected:
    void SetUp() override { db_ = MakeTable("a.mdb", 5); }

    std::vector<std::string> Ids(const std::string& where) {
        return Rows(*db_, "SELECT ID FROM T " + where + " ORDER BY ID");
    }

    std::unique_ptr<Database> db_;
};

TEST_F(StatementTest, PurgeStatementTakesBracketedAndBareNamesButNoAlias) {
    for (const char* table : {"Temp_a", "[Temp_a b]", "[Temp_a]]b c]"}) {
        db_->Execute(std::string("CREATE TABLE ") + table + " (x LONG)");
        db_->Execute(std::string("INSERT INTO ") + table + " VALUES (1)");
        db_->Execute(std::string("INSERT INTO ") + table + " VALUES (2)");
    }
    EXPECT_EQ(TableNames(*db_),
              (std::vector<std::string>{"T", "Temp_a", "Temp_a b", "Temp_a]b c"}));
    // The name unquoted: "b" must not be read as an alias of the table Temp_a.
    EXPECT_EQ(ErrorOf([&] { db_->Execute("DELETE * FROM Temp_a b;"); }), jet::SyntaxErrorFrom);
    EXPECT_EQ(Rows(*db_, "SELECT COUNT(*) FROM Temp_a"), std::vector<std::string>{"2"});
    db_->Execute("DELETE * FROM [Temp_a]]b c];");
    db_->Execute("DELETE * FROM Temp_a;");
    EXPECT_TRUE(Rows(*db_, "SELECT * FROM [Temp_a]]b c]").empty());
    EXPECT_TRUE(Rows(*db_, "SELECT * FROM Temp_a").empty());
    EXPECT_EQ(Rows(*db_, "SELECT COUNT(*) FROM [Temp_a b]"), std::vector<std::string>{"2"});
    EXPECT_EQ(Rows(*db_, "SELECT COUNT(*) FROM T"), std::vector<std::string>{"5"});
}

TEST_F(StatementTest, InvalidStatementsRaiseTheirSyntaxErrorAndChangeNothing) {
    std::string before = ReadFile(Path("a.mdb"));
    const std::pair<const char*, std::int32_t> cases[] = {
        {"", jet::InvalidSqlStatement},
        {"DELET * FROM T", jet::InvalidSqlStatement},
        {"UPDATE T SET Name = 'x'", jet::InvalidSqlStatement},
        {"DELETE * FROM", jet::SyntaxErrorFrom},
        {"DELETE * FROM WHERE", jet::SyntaxErrorFrom},
        {"DELETE * T", jet::SyntaxErrorFrom},
        {"DELETE * FROM [T", jet::SyntaxErrorFrom},
        {"DELETE * FROM T; DROP TABLE T", jet::CharactersAfterEnd},
        {"DELETE * FROM T WHERE", jet::SyntaxErrorInExpression},
        {"DELETE * FROM T WHERE ID = ", jet::SyntaxErrorInExpression},
        {"DELETE * FROM T WHERE (ID = 1", jet::SyntaxErrorInExpression},
        {"DELETE * FROM T WHERE Name = 'offen", jet::SyntaxErrorInExpression},
        {"DELETE * FROM T WHERE ID = 1 2", jet::SyntaxErrorInExpression},
        {"DELETE * FROM T WHERE ID = 12abc", jet::SyntaxErrorInExpression},
        {"DELETE * FROM T WHERE ID = 1 \x01", jet::SyntaxErrorInExpression},
        {"INSERT INTO T VALUES (6, 'x'", jet::SyntaxErrorInsert},
        {"INSERT INTO T (ID, Name VALUES (6, 'x')", jet::SyntaxErrorInsert},
        {"INSERT T VALUES (6, 'x')", jet::SyntaxErrorInsert},
        {"CREATE TABLE U (a)", jet::SyntaxErrorCreateTable},
        {"CREATE TABLE U (a TEXT(0))", jet::SyntaxErrorCreateTable},
        {"CREATE TABLE U (a LONG(5))", jet::SyntaxErrorCreateTable},
        {"CREATE TABLE U ()", jet::SyntaxErrorCreateTable},
        {"CREATE TABLE U (a LONG PRIMARY KEY, b LONG PRIMARY KEY)", jet::SyntaxErrorCreateTable},
        {"CREATE TABLE U (a COUNTER, b LONG PRIMARY KEY)", jet::SyntaxErrorCreateTable},
        {"CREATE TABLE U (a LONG, CONSTRAINT pk PRIMARY KEY (b))", jet::SyntaxErrorCreateTable},
        {"DROP T", jet::SyntaxErrorDrop},
        {"DROP TABLE", jet::SyntaxErrorDrop},
        {"SELECT * FROM T", jet::CannotExecuteSelect},
    };
    for (const auto& [statement, error] : cases) {
        SCOPED_TRACE(statement);
        EXPECT_EQ(ErrorOf([&] { db_->Execute(statement); }), error);
    }
    EXPECT_EQ(ReadFile(Path("a.mdb")), before);
}

TEST_F(StatementTest, ExpressionsNestedTooDeeplyAreRefusedNotRecursedInto) {
    std::string deep =
        "DELETE * FROM T WHERE " + std::string(5000, '(') + "1" + std::string(5000, ')') + " = 1";
    EXPECT_EQ(ErrorOf([&] { db_->Execute(deep); }), jet::SyntaxErrorInExpression);
    std::string longChain = "DELETE * FROM T WHERE ID = 0";
    for (int i = 0; i < 5000; ++i) {
        longChain += " + 0";
    }
    EXPECT_EQ(ErrorOf([&] { db_->Execute(longChain); }), jet::SyntaxErrorInExpression);
    EXPECT_EQ(Rows(*db_, "SELECT COUNT(*) FROM T"), std::vector<std::string>{"5"});
}

TEST_F(StatementTest, StatementFailingHalfwayLeavesEveryRow) {
    // Rows 1 and 2 match before row 3 divides by zero; none of them may stay deleted.
    EXPECT_EQ(ErrorOf([&] { db_->Execute("DELETE * FROM T WHERE 10 / (ID - 3) < 0"); }),
              jet::DivisionByZero);
    EXPECT_EQ(Ids(""), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
}

TEST_F(StatementTest, WhereClauseFollowsJetSemantics) {
    db_->Execute("INSERT INTO T VALUES (6, NULL)");
    db_->Execute("INSERT INTO T VALUES (7, 'Zeile 7 [A]')");
    db_->Execute("INSERT INTO T VALUES (8, 'zEILE 8')");
    using V = std::vector<std::string>;
    EXPECT_EQ(Ids("WHERE Name = 'ZEILE 1'"), V{"1"});  // text compares without case
    EXPECT_EQ(Ids("WHERE Name LIKE 'zeile ?'"), (V{"1", "2", "3", "4", "5", "8"}));
    EXPECT_EQ(Ids("WHERE Name LIKE '*[[]A]'"), V{"7"});
    EXPECT_EQ(Ids("WHERE Name LIKE 'Zeile [!1-3]'"), (V{"4", "5", "8"}));
    EXPECT_EQ(Ids("WHERE Name LIKE 'Zeile #*' AND NOT Name LIKE '*]'"),
              (V{"1", "2", "3", "4", "5", "8"}));
    EXPECT_EQ(Ids("WHERE Name IS NULL"), V{"6"});
    EXPECT_EQ(Ids("WHERE Name IS NOT NULL AND ID IN (1, 6, 7)"), (V{"1", "7"}));
    EXPECT_EQ(Ids("WHERE ID NOT BETWEEN 2 AND 7"), (V{"1", "8"}));
    EXPECT_EQ(Ids("WHERE T.ID * 2 - 1 = 5 OR [ID] / 4 = 2"), (V{"3", "8"}));
    EXPECT_EQ(Ids("WHERE 'Nr ' & ID & Name = 'Nr 6'"), V{"6"});  // & takes Null as ""
    EXPECT_EQ(Ids("WHERE (ID > 2) = True AND ID < 4"), V{"3"});
    EXPECT_EQ(Rows(*db_, "SELECT ID FROM T WHERE Name = \"Zeile \"\"\" OR ID = -(-4)"), V{"4"});
    // Names the table does not have are parameters no one gave a value for.
    try {
        db_->Execute("DELETE * FROM T WHERE Nummer = 1 OR Andere.ID = 2");
        FAIL() << "unknown fields accepted";
    } catch (const tarnu::Error& e) {
        EXPECT_EQ(e.number(), jet::TooFewParameters);
        EXPECT_EQ(e.description(), "Zu wenige Parameter. Erwartet 2.");
    }
    db_->Execute("DELETE FROM T WHERE ID >= 6;");
    db_->Execute("DELETE T.* FROM T WHERE ID <> 1");
    EXPECT_EQ(Ids(""), V{"1"});
}

TEST_F(StatementTest, JetLikePatterns) {
    struct Case {
        const char* value;
        const char* pattern;
        bool match;
    };
    const Case cases[] = {
        {"", "", true},
        {"", "*", true},
        {"a", "", false},
        {"Temp_x", "temp_*", true},
        {"Tem", "Temp*", false},
        {"abc", "a*c", true},
        {"abcbc", "a*bc", true},
        {"abcbd", "a*bc", false},
        {"aXb", "a?b", true},
        {"ab", "a?b", false},
        {"äb", "?b", true},
        {"Ä", "ä", true},
        {"a7", "a#", true},
        {"ax", "a#", false},
        {"b", "[a-c]", true},
        {"d", "[a-c]", false},
        {"d", "[!a-c]", true},
        {"*", "[*]", true},
        {"x", "[*]", false},
        {"a[", "a[", true},
        {"aaaaaaaaab", "*a*a*a*b", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JetLike(c.value, c.pattern), c.match) << c.value << " LIKE " << c.pattern;
    }
}

TEST_F(StatementTest, DefinitionsAndRowsAreChecked) {
    db_->Execute(
        "CREATE TABLE U (Nr COUNTER, Kurz TEXT(3) NOT NULL, Zahl SHORT, Klein BYTE, Wert DOUBLE, "
        "Ja YESNO, Tag DATETIME, Daten LONGBINARY, CONSTRAINT pk PRIMARY KEY (Nr), "
        "CONSTRAINT u UNIQUE (Kurz, Zahl))");
    db_->Execute(
        "INSERT INTO U (Kurz, Zahl, Wert, Ja, Tag) VALUES ('abc', 1, 1.5, True, #2024-01-31#)");
    db_->Execute("INSERT INTO U (Kurz, Zahl) VALUES ('abc', 2)");
    EXPECT_EQ(
        Rows(*db_, "SELECT * FROM U ORDER BY Nr"),
        (std::vector<std::string>{"1\tabc\t1\t\t1.5\t-1\t2024-01-31\t", "2\tabc\t2\t\t\t\t\t"}));
    const std::pair<const char*, std::int32_t> cases[] = {
        {"INSERT INTO U (Kurz) VALUES ('abcd')", jet::FieldTooSmall},
        {"INSERT INTO U (Kurz, Zahl) VALUES ('ABC', 1)", jet::DuplicateKey},
        {"INSERT INTO U (Nr, Kurz) VALUES (1, 'x')", jet::DuplicateKey},
        {"INSERT INTO U (Zahl) VALUES (3)", jet::FieldRequired},
        {"INSERT INTO U (Kurz, Zahl) VALUES ('x', 40000)", jet::NumericOverflow},
        {"INSERT INTO U (Kurz, Klein) VALUES ('x', -1)", jet::NumericOverflow},
        {"INSERT INTO U (Kurz, Zahl) VALUES ('x', 'viele')", jet::ConversionError},
        {"INSERT INTO U (Kurz, Fehlt) VALUES ('x', 1)", jet::UnknownInsertField},
        {"INSERT INTO U (Kurz, Kurz) VALUES ('x', 'y')", jet::FieldDefinedTwice},
        {"INSERT INTO U (Kurz) VALUES ('x', 1)", jet::ValueCountMismatch},
        {"INSERT INTO U VALUES ('x')", jet::ValueCountMismatch},
        {"INSERT INTO U (Kurz) VALUES (Wert)", jet::TooFewParameters},
        {"INSERT INTO Fehlt VALUES (1)", jet::TableNotFound},
        {"CREATE TABLE u (a LONG)", jet::TableExists},
        {"CREATE TABLE V (a LONG, A TEXT)", jet::FieldDefinedTwice},
        {"CREATE TABLE [sqlite_x] (a LONG)", jet::InvalidName},
        {"CREATE TABLE [Tarnu_Catalog] (a LONG)", jet::InvalidName},
        {"CREATE TABLE [ vorne] (a LONG)", jet::InvalidName},
        {"DROP TABLE Fehlt", jet::TableDoesNotExist},
    };
    for (const auto& [statement, error] : cases) {
        SCOPED_TRACE(statement);
        EXPECT_EQ(ErrorOf([&] { db_->Execute(statement); }), error);
    }
    EXPECT_EQ(Rows(*db_, "SELECT COUNT(*) FROM U"), std::vector<std::string>{"2"});
    EXPECT_EQ(TableNames(*db_), (std::vector<std::string>{"T", "U"}));
    db_->Execute("DROP TABLE u;");
    EXPECT_EQ(TableNames(*db_), std::vector<std::string>{"T"});
}

TEST_F(StatementTest, StatementsOnLinksAreRefused) {
    db_->LinkTable({"L", dao::dbAttachedTable, ";DATABASE=" + Path("a.mdb"), "T"});
    EXPECT_EQ(ErrorOf([&] { db_->Execute("DELETE * FROM L"); }), jet::LinkedTableStatement);
    EXPECT_EQ(ErrorOf([&] { db_->Execute("INSERT INTO L VALUES (9, 'x')"); }),
              jet::LinkedTableStatement);
    EXPECT_EQ(Rows(*db_, "SELECT COUNT(*) FROM T"), std::vector<std::string>{"5"});
}

TEST_F(StatementTest, TextWithNulAndUmlautsRoundTrips) {
    std::string text = std::string("a\0b", 3) + " Größe ÄÖÜß";
    db_->Execute("INSERT INTO T VALUES (6, '" + text + "')");
    auto rs = db_->OpenRecordset("SELECT Name FROM T WHERE ID = 6");
    ASSERT_EQ(rs.Rows.size(), 1u);
    EXPECT_EQ(rs.Rows[0][0].type, Value::Type::Text);
    EXPECT_EQ(rs.Rows[0][0].bytes, text);
    // A NUL outside a text is no part of any statement.
    EXPECT_EQ(ErrorOf([&] { db_->Execute(std::string("DELETE * FROM T\0", 16)); }),
              jet::SyntaxErrorFrom);
}

TEST_F(StatementTest, SelectNamesFieldsAndAggregates) {
    auto rs = db_->OpenRecordset(
        "SELECT Name, ID * 2 AS Doppelt, ID + 1 FROM T WHERE ID <= 2 "
        "ORDER BY ID DESC");
    EXPECT_EQ(rs.Fields, (std::vector<std::string>{"Name", "Doppelt", "Ausdr1000"}));
    EXPECT_EQ(rs.Rows.size(), 2u);
    EXPECT_EQ(Rows(*db_, "SELECT DISTINCT ID - ID FROM T"), std::vector<std::string>{"0"});
    EXPECT_EQ(Rows(*db_, "SELECT COUNT(*), SUM(ID), MIN(Name), MAX(ID), AVG(ID) FROM T"),
              std::vector<std::string>{"5\t15\tZeile 1\t5\t3"});
    EXPECT_EQ(ErrorOf([&] { db_->OpenRecordset("SELECT ID, COUNT(*) FROM T"); }),
              jet::AggregateMix);
    EXPECT_EQ(ErrorOf([&] { db_->OpenRecordset("SELECT * FROM T WHERE COUNT(*) > 1"); }),
              jet::AggregateInWhere);
    EXPECT_EQ(ErrorOf([&] { db_->OpenRecordset("DELETE * FROM T"); }), jet::InvalidOperation);
    EXPECT_EQ(Rows(*db_, "SELECT COUNT(*) FROM T"), std::vector<std::string>{"5"});
}

TEST_F(StatementTest, TransactionsGroupStatements) {
    db_->BeginTrans();
    db_->Execute("DELETE * FROM T WHERE ID > 3");
    EXPECT_EQ(ErrorOf([&] { db_->Execute("INSERT INTO T VALUES (1, 'doppelt')"); }),
              jet::DuplicateKey);
    db_->Execute("INSERT INTO T VALUES (9, 'neu')");
    db_->Rollback();
    EXPECT_EQ(Ids(""), (std::vector<std::string>{"1", "2", "3", "4", "5"}));

    db_->BeginTrans();
    EXPECT_EQ(ErrorOf([&] { db_->BeginTrans(); }), jet::InvalidOperation);
    db_->Execute("DELETE * FROM T WHERE ID > 3");
    EXPECT_EQ(ErrorOf([&] { db_->Execute("INSERT INTO T VALUES (1, 'doppelt')"); }),
              jet::DuplicateKey);
    db_->CommitTrans();
    EXPECT_EQ(Ids(""), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(ErrorOf([&] { db_->CommitTrans(); }), jet::NoTransaction);

    // Released with a transaction open: what it held is undone.
    db_->BeginTrans();
    db_->Execute("DELETE * FROM T");
    db_.reset();
    db_ = engine_->OpenDatabase(Path("a.mdb"), false, false, "");
    EXPECT_EQ(Ids(""), (std::vector<std::string>{"1", "2", "3"}));
}

}  // namespace
}  // namespace tarnu::engine::test
