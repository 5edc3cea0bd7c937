#include <filesystem>

#include "tests/engine/engine_test_util.h"

namespace tarnu::engine::test {
namespace {

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class CliTest : public EngineTest {
  protected:
    ToolRun Tool(const Texts& args) {
        std::string command = tarnu::test::ShellQuote(TARNU_DB_PATH);
        for (const std::string& a : args) {
            command += " " + tarnu::test::ShellQuote(a);
        }
        const tarnu::test::CommandRun run =
            tarnu::test::RunCommand(command + " 2>" + tarnu::test::ShellQuote(Path("stderr.txt")));
        ToolRun result{run.exitCode, run.out, ReadFile(Path("stderr.txt"))};
        std::filesystem::remove(Path("stderr.txt"));
        return result;
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
                  std::filesystem::canonical(Path("quelle.mdb")).string() + "\tT\n");

    EXPECT_EQ(Protected({"compact", db, Path("y.mdb")}).exitCode, 0);
    EXPECT_EQ(Protected({"tables", Path("y.mdb")}).out, tables.out);
}

TEST_F(CliTest, FailuresGoToStandardErrorWithNonZeroExit) {
    ToolRun missing = Tool({"tables", Path("fehlt.mdb")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err,
              "tarnu-db: Fehler 3024: Datei '" + Path("fehlt.mdb") + "' nicht gefunden.\n");
    MakeTable("a.mdb", 1).reset();
    ToolRun syntax = Tool({"exec", Path("a.mdb"), "DELETE * FROM T x"});
    EXPECT_EQ(syntax.exitCode, 1);
    EXPECT_NE(syntax.err.find("3131"), std::string::npos);
    for (const Texts& usage :
         std::vector<Texts>{{},
                            {"frobnicate"},
                            {"create"},
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

TEST_F(CliTest, DemoFolderHoldsWhatTheMaintenanceWorksOn) {
    const std::string demo = Path("Tarnu");
    ASSERT_EQ(Tool({"demo", demo}).exitCode, 0);
    EXPECT_EQ(FolderContents(demo),
              (Texts{"KDL.mdb", "Tarnu-Admin.mde", "kdlcode.mde", "system.srv"}));
    auto file = [&](const char* name) { return demo + "/" + name; };
    EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(file("system.srv")); }), jet::NotValidPassword);

    auto attributesOf = [&](const char* name, const std::string& connect = "") {
        auto db = engine_->OpenDatabase(file(name), false, true, connect);
        std::vector<std::int32_t> values;
        for (int i = 0; i < db->TableDefs().Count(); ++i) {
            values.push_back(db->TableDefs().Item(i).Attributes);
        }
        return values;
    };
    auto count = [](const std::vector<std::int32_t>& v, std::int32_t a) {
        return std::count(v.begin(), v.end(), a);
    };
    for (const char* name : {"KDL.mdb", "kdlcode.mde", "Tarnu-Admin.mde"}) {
        SCOPED_TRACE(name);
        std::vector<std::int32_t> a = attributesOf(name);
        EXPECT_GE(count(a, 0), 2);
        EXPECT_GE(count(a, dao::dbAttachedODBC), 1);
    }
    EXPECT_EQ(count(attributesOf("KDL.mdb"), 0x40020000), 1);
    EXPECT_GE(count(attributesOf("kdlcode.mde"), dao::dbAttachedTable), 2);
    EXPECT_EQ(count(attributesOf("system.srv", ";pwd=brisk"), 0), 3);

    auto admin = engine_->OpenDatabase(file("Tarnu-Admin.mde"), false, true, "");
    int temporaryWithRows = 0;
    for (int i = 0; i < admin->TableDefs().Count(); ++i) {
        dao::TableDef d = admin->TableDefs().Item(i);
        if (d.Name.rfind("Temp_", 0) == 0 && d.Attributes == 0) {
            temporaryWithRows +=
                Rows(*admin, "SELECT COUNT(*) FROM [" + d.Name + "]")[0] != "0" ? 1 : 0;
        }
    }
    EXPECT_EQ(temporaryWithRows, 2);
    admin.reset();

    ToolRun again = Tool({"demo", demo});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("3204"), std::string::npos);
}

}  // namespace
}  // namespace tarnu::engine::test
