#include "tests/engine/engine_test_util.h"

namespace tarnu::engine::test {
namespace {

class CliTest : public EngineTest {
  protected:
    CommandRun Tool(const Texts& args) {
        std::string command = ShellQuote(TARNU_DB_PATH);
        for (const std::string& a : args) {
            command += " " + ShellQuote(a);
        }
        return RunCommand(command);
    }
};

TEST_F(CliTest, CommandsWorkTogether) {
    const std::string db = Path("x.mdb");
    const std::string source = Path("quelle.mdb");
    MakeTable("quelle.mdb", 1).reset();
    const std::pair<Texts, std::string> steps[] = {
        {{"create", db}, ""},
        {{"exec", db, "CREATE TABLE [Meine Tabelle] (Nr LONG, Text TEXT(20))"}, ""},
        {{"exec", db, "INSERT INTO [Meine Tabelle] VALUES (2, NULL)"}, ""},
        {{"exec", db, "  select * FROM [Meine Tabelle]"}, "2\t\n"},
        {{"link", db, "Q", "--source", source, "--table", "T", "--attributes", "0x40020000"}, ""},
        {{"link", db, "O", "--odbc", "DSN=Lager;"}, ""},
        {{"tables", db},
         "Meine Tabelle\t0x00000000\tlokal\t\t\nO\t0x20000000\todbc\tODBC;DSN=Lager;\tO\n"
         "Q\t0x40020000\tjet\t;DATABASE=" +
             source + "\tT\n"},
        {{"compact", db, Path("y.mdb")}, ""},
    };
    for (auto [args, out] : steps) {
        args.insert(args.end(), {"--password", "geheim"});
        const CommandRun run = Tool(args);
        EXPECT_EQ(run.exitCode, 0) << args[0] << ": " << run.err;
        EXPECT_EQ(run.out, out) << args[0];
    }
    EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(Path("y.mdb")); }), jet::NotValidPassword);
}

TEST_F(CliTest, FailuresExitNonZeroAndTheDemoIsMadeOnlyOnce) {
    // A line break in a name cannot add a line of its own to the output; letters of any script
    // stay as they are.
    const CommandRun missing = Tool({"tables", Path("fehlt Дࠀ\nDie Datei wurde komprimiert!")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out + missing.err,
              "tarnu-db: Fehler 3024: Datei '" + Path("fehlt Дࠀ") +
                  "\\x0ADie Datei wurde komprimiert!' nicht gefunden.\n");
    MakeTable("a.mdb", 1).reset();
    const std::string a = Path("a.mdb");
    for (const Texts& usage :
         std::vector<Texts>{{},
                            {"frobnicate"},
                            {"exec", a},
                            {"tables", a, "--bogus", "1"},
                            {"link", a, "L", "--source", "x"},
                            {"link", a, "L", "--odbc", "x", "--attributes", "x"},
                            {"link", a, "L", "--odbc", "x", "--attributes", "100000000"}}) {
        const CommandRun r = Tool(usage);
        EXPECT_EQ(r.exitCode, 2) << (usage.empty() ? "" : usage.back());
        EXPECT_NE(r.err.find("Aufruf:"), std::string::npos);
    }
    // What the demo holds is what the compaction run's tests work on; here only that it is made
    // once, with its protected file, and never over an existing one.
    const std::string demo = Path("Tarnu");
    ASSERT_EQ(Tool({"demo", demo}).exitCode, 0);
    EXPECT_EQ(FolderContents(demo),
              (Texts{"KDL.mdb", "Tarnu-Admin.mde", "kdlcode.mde", "system.srv"}));
    EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(demo + "/system.srv"); }), jet::NotValidPassword);
    EXPECT_EQ(CountOf(*engine_->OpenDatabase(demo + "/KDL.mdb", false, true, ""), "Kunden"), "120");
    const std::string kdl = ReadFile(demo + "/KDL.mdb");
    const CommandRun again = Tool({"demo", demo});
    EXPECT_EQ(std::make_pair(again.exitCode, again.err.find("3204") != std::string::npos),
              std::make_pair(1, true));
    EXPECT_EQ(ReadFile(demo + "/KDL.mdb"), kdl);
}

}  // namespace
}  // namespace tarnu::engine::test
