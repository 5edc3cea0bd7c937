#include "tests/engine/engine_test_util.h"

namespace tarnu::engine::test {
namespace {

using ToolRun = tarnu::test::CommandRun;

class CliTest : public EngineTest {
  protected:
    ToolRun Tool(const Texts& args) {
        std::string command = tarnu::test::ShellQuote(TARNU_DB_PATH);
        for (const std::string& a : args) {
            command += " " + tarnu::test::ShellQuote(a);
        }
        return tarnu::test::RunCommand(command);
    }
    // The tool run with the password of the databases this test makes.
    ToolRun Protected(Texts args) {
        args.insert(args.end(), {"--password", "geheim"});
        return Tool(args);
    }
};

TEST_F(CliTest, CommandsWorkTogether) {
    const std::string db = Path("x.mdb");
    EXPECT_EQ(Protected({"create", db}).exitCode, 0);
    for (const char* statement : {"CREATE TABLE [Meine Tabelle] (Nr LONG, Text TEXT(20))",
                                  "INSERT INTO [Meine Tabelle] VALUES (1, 'eins')",
                                  "INSERT INTO [Meine Tabelle] VALUES (2, NULL)"}) {
        EXPECT_EQ(Protected({"exec", db, statement}).exitCode, 0) << statement;
    }
    ToolRun select = Protected({"exec", db, "  select * FROM [Meine Tabelle] ORDER BY Nr DESC"});
    EXPECT_EQ(select.exitCode, 0);
    EXPECT_EQ(select.out, "2\t\n1\teins\n");

    MakeTable("quelle.mdb", 1).reset();
    EXPECT_EQ(Protected({"link", db, "Q", "--source", Path("quelle.mdb"), "--table", "T",
                         "--attributes", "0x40020000"})
                  .exitCode,
              0);
    EXPECT_EQ(Protected({"link", db, "O", "--odbc", "DSN=Lager;"}).exitCode, 0);
    ToolRun tables = Protected({"tables", db});
    EXPECT_EQ(tables.exitCode, 0);
    EXPECT_EQ(tables.out,
              "Meine Tabelle\t0x00000000\tlokal\t\t\n"
              "O\t0x20000000\todbc\tODBC;DSN=Lager;\tO\n"
              "Q\t0x40020000\tjet\t;DATABASE=" +
                  Path("quelle.mdb") + "\tT\n");
    EXPECT_EQ(Protected({"compact", db, Path("y.mdb")}).exitCode, 0);
}

TEST_F(CliTest, FailuresGoToStandardErrorWithNonZeroExit) {
    // A line break in a name cannot add a line of its own to the output.
    ToolRun missing = Tool({"tables", Path("fehlt\nDie Programmdateien wurden komprimiert!")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "tarnu-db: Fehler 3024: Datei '" + Path("fehlt") +
                               "\\x0ADie Programmdateien wurden komprimiert!' nicht gefunden.\n");
    MakeTable("a.mdb", 1).reset();
    ToolRun syntax = Tool({"exec", Path("a.mdb"), "DELETE * FROM T x"});
    EXPECT_EQ(syntax.exitCode, 1);
    EXPECT_NE(syntax.err.find("3131"), std::string::npos);
    for (const Texts& usage :
         std::vector<Texts>{{},
                            {"frobnicate"},
                            {"exec", Path("a.mdb")},
                            {"tables", Path("a.mdb"), "--bogus", "1"},
                            {"link", Path("a.mdb"), "L", "--source", "x"},
                            {"link", Path("a.mdb"), "L", "--odbc", "x", "--attributes", "xyz"}}) {
        ToolRun r = Tool(usage);
        EXPECT_EQ(r.exitCode, 2) << (usage.empty() ? "" : usage[0]);
        EXPECT_NE(r.err.find("Aufruf:"), std::string::npos);
    }
    EXPECT_EQ(FolderContents(dir_.path()), Texts{"a.mdb"});
}

// What the demo holds is what the compaction run's tests work on; here only that it is made, with
// its protected file, and never over an existing one.
TEST_F(CliTest, DemoMakesTheProgramFolderOnce) {
    const std::string demo = Path("Tarnu");
    ASSERT_EQ(Tool({"demo", demo}).exitCode, 0);
    EXPECT_EQ(FolderContents(demo),
              (Texts{"KDL.mdb", "Tarnu-Admin.mde", "kdlcode.mde", "system.srv"}));
    EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(demo + "/system.srv"); }), jet::NotValidPassword);
    const std::string kdl = ReadFile(demo + "/KDL.mdb");
    const ToolRun again = Tool({"demo", demo});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("3204"), std::string::npos) << again.err;
    EXPECT_EQ(ReadFile(demo + "/KDL.mdb"), kdl);
}

}  // namespace
}  // namespace tarnu::engine::test
