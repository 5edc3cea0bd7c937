#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "tests/dbmaint/dbmaint_support.h"
#include "tests/support/child_process.h"
#include "tests/support/error_of.h"

namespace tarnu::test {
namespace {

using dao::dbAttachedODBC;
using dao::dbAttachedTable;
using dao::dbAttachSavePWD;
// Each table of a database: its attributes and how many rows it holds.
using Tables = std::map<std::string, std::pair<std::int32_t, size_t>>;

class Cleanup : public ::testing::Test {
  protected:
    Cleanup() { Local(*Create("Quelle.mdb"), "T", 2); }

    std::unique_ptr<engine::Database> Create(const std::string& name) {
        return eng->CreateDatabase(dir.file(name));
    }
    void Local(engine::Database& db, const std::string& table, int rows) {
        const std::string q = dbmaint::QuoteName(table);
        db.Execute("CREATE TABLE " + q + " (N LONG)");
        for (int i = 0; i < rows; ++i) {
            db.Execute("INSERT INTO " + q + " (N) VALUES (" + std::to_string(i) + ")");
        }
    }
    void Link(engine::Database& db, const std::string& name, std::int32_t attributes) {
        const bool odbc = attributes & dbAttachedODBC;
        db.LinkTable({name, attributes,
                      odbc ? "ODBC;DSN=Lager;" : ";DATABASE=" + dir.file("Quelle.mdb"),
                      odbc ? "dbo.Lager" : "T"});
    }
    Tables TablesOf(const std::string& file) {
        const DbContent c = ReadContent(dir.file(file));
        Tables tables;
        for (const auto& [name, attributes] : c.defs) {
            tables[name] = {attributes, c.rows.count(name) ? c.rows.at(name).size() : 0};
        }
        return tables;
    }

    TempDir dir;
    ScopedCurrentDir cd{dir.path()};
    std::unique_ptr<engine::Engine> eng = engine::MakeEngine();
    std::shared_ptr<RecordingEngine::Log> log = std::make_shared<RecordingEngine::Log>();
    dbmaint::EngineHolder holder{[this] { return std::make_unique<RecordingEngine>(log); }};
};

// Links go, in eleven passes once one went, and only whole link values count; of the
// administration database the local "Temp_" tables are emptied, whatever their names hold.
TEST_F(Cleanup, RemovesWholeLinksInElevenPassesAndEmptiesTheAdminTempTables) {
    constexpr std::int32_t saved = dbAttachedTable | dbAttachSavePWD;
    {
        auto kdl = Create("KDL.mdb");
        Local(*kdl, "Kunden", 3);
        // Adjacent links: each deletion makes the walk skip the next one.
        for (int i = 0; i < 6; ++i) {
            Link(*kdl, "Link" + std::to_string(i), i % 2 ? dbAttachedODBC : dbAttachedTable);
        }
        Link(*kdl, "MitKennwort", saved);
        Link(*kdl, "OdbcMitKennwort", dbAttachedODBC | dbAttachSavePWD);
        Local(*kdl, "Temp_Lokal", 2);
        Local(*Create("kdlcode.mde"), "Daten", 2);
        auto admin = Create("Tarnu-Admin.mde");
        // A blank or a bracket in a name used to break the whole run.
        for (const char* name : {"Temp_Import", "Temp_", "Temp_a b", "Temp_x]y", "temp_klein",
                                 "TEMP_GROSS", "Temp", "Protokoll"}) {
            Local(*admin, name, 2);
        }
        Link(*admin, "Temp_Verknuepft", saved);
    }
    const DbContent source = ReadContent(dir.file("Quelle.mdb"));
    const DbContent code = ReadContent(dir.file("kdlcode.mde"));
    dbmaint::CleanupDatabases(holder);

    EXPECT_EQ(log->opens, (std::map<std::string, int>{
                              {"KDL.mdb", 11}, {"kdlcode.mde", 1}, {"Tarnu-Admin.mde", 2}}))
        << "a database without links once; the admin database again for the purge";
    EXPECT_EQ(TablesOf("KDL.mdb"),
              (Tables{{"Kunden", {0, 3}},
                      {"MitKennwort", {saved, 0}},
                      {"OdbcMitKennwort", {dbAttachedODBC | dbAttachSavePWD, 0}},
                      {"Temp_Lokal", {0, 2}}}));
    EXPECT_EQ(TablesOf("Tarnu-Admin.mde"), (Tables{{"Protokoll", {0, 2}},
                                                   {"TEMP_GROSS", {0, 2}},
                                                   {"Temp", {0, 2}},
                                                   {"Temp_", {0, 0}},
                                                   {"Temp_Import", {0, 0}},
                                                   {"Temp_Verknuepft", {saved, 0}},
                                                   {"Temp_a b", {0, 0}},
                                                   {"Temp_x]y", {0, 0}},
                                                   {"temp_klein", {0, 2}}}));
    EXPECT_EQ(ReadContent(dir.file("kdlcode.mde")), code);
    EXPECT_EQ(ReadContent(dir.file("Quelle.mdb")), source) << "a link's source is never touched";
    // An exclusive open succeeds only when nothing else holds the file.
    for (const char* name : {"KDL.mdb", "kdlcode.mde", "Tarnu-Admin.mde"}) {
        EXPECT_NO_THROW(eng->OpenDatabase(dir.file(name), true, false, "")) << name;
    }
}

TEST_F(Cleanup, FirstErrorPassesOnUnchangedAndEarlierWorkStays) {
    Link(*Create("KDL.mdb"), "L", dbAttachedTable);
    Create("Tarnu-Admin.mde");
    // kdlcode.mde is missing: the clean-up stops there, after KDL.mdb has lost its link.
    EXPECT_EQ(ErrorTextOf([&] { dbmaint::CleanupDatabases(holder); }),
              "3024: Datei '" + dir.file("kdlcode.mde") + "' nicht gefunden.");
    EXPECT_TRUE(TablesOf("KDL.mdb").empty());
    EXPECT_EQ(log->opens.count("Tarnu-Admin.mde"), 0u);
}

// A user who may rename in the program folder swaps KDL.mdb for a link to a root-only database,
// over and over, while a root clean-up opens the name eleven times: no pass may reach that
// database, whether the run ends in an error or not.
TEST_F(Cleanup, ANameSwappedForALinkBetweenPassesNeverLeadsElsewhere) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a second user needs root";
    }
    const std::string secret = dir.file("geheim/Geheim.mdb");
    ASSERT_EQ(::mkdir(dir.file("geheim").c_str(), 0700), 0);
    Link(*eng->CreateDatabase(secret), "Bleibt", dbAttachedTable);
    const DbContent kept = ReadContent(secret);
    const std::string program = dir.file("programm");
    GiveToUnprivilegedUser(program);
    OpenForUnprivilegedUser(dir.path());
    ScopedCurrentDir in(program);
    const std::string kdl = program + "/KDL.mdb";
    const std::string aside = program + "/KDL.echt";
    for (int round = 0; round < 10; ++round) {
        {
            auto db = eng->CreateDatabase(kdl);
            for (int i = 0; i < 4; ++i) {
                Link(*db, "L" + std::to_string(i), dbAttachedTable);
            }
        }
        const pid_t swapper = StartChild(
            [&] {
                for (int swap = 0; swap < 300; ++swap) {
                    ::rename(kdl.c_str(), aside.c_str());
                    ::symlink(secret.c_str(), kdl.c_str());
                    ::usleep(50);
                    ::unlink(kdl.c_str());
                    ::rename(aside.c_str(), kdl.c_str());
                }
                return 0;
            },
            true);
        ErrorOf([&] { dbmaint::CleanupDatabases(holder); });
        ::kill(swapper, SIGKILL);
        WaitChild(swapper);
        ASSERT_EQ(ReadContent(secret), kept) << "round " << round;
        std::remove(kdl.c_str());
        std::remove(aside.c_str());
    }
}

// The work SQLite does for every connection the process opens: virtual machine steps, which
// grow with the rows a statement visits, and commits.
struct SqliteWork {
    std::uint64_t steps = 0;
    std::uint64_t commits = 0;
} gWork;

int Instrument(sqlite3* db, const char**, const sqlite3_api_routines*) {
    sqlite3_trace_v2(
        db, SQLITE_TRACE_PROFILE,
        [](unsigned, void*, void* statement, void*) {
            gWork.steps += static_cast<std::uint64_t>(sqlite3_stmt_status(
                static_cast<sqlite3_stmt*>(statement), SQLITE_STMTSTATUS_VM_STEP, 1));
            return 0;
        },
        nullptr);
    sqlite3_commit_hook(
        db, [](void*) { return ++gWork.commits, 0; }, nullptr);
    return SQLITE_OK;
}

// A catalog of many links: each pass walks it once, and the deletes of a pass reach the file
// together, not one commit each.
TEST_F(Cleanup, APassIsLinearInTheCatalogAndCommitsItsDeletesTogether) {
    const auto work = [&](int links) {
        TempDir d;
        ScopedCurrentDir in(d.path());
        {
            auto kdl = eng->CreateDatabase(d.file("KDL.mdb"));
            kdl->BeginTrans();
            for (int i = 0; i < links; ++i) {
                // Adjacent links, the walk's worst case: every deletion skips the next one.
                kdl->LinkTable(
                    {"L" + std::to_string(100000 + i), dbAttachedODBC, "ODBC;DSN=x;", "dbo.T"});
            }
            kdl->CommitTrans();
            eng->CreateDatabase(d.file("kdlcode.mde"));
            eng->CreateDatabase(d.file("Tarnu-Admin.mde"));
        }
        gWork = {};
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(Instrument));
        dbmaint::CleanupDatabases(holder);
        sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(Instrument));
        EXPECT_TRUE(ReadContent(d.file("KDL.mdb")).defs.empty()) << "every link is gone";
        return gWork;
    };
    const SqliteWork small = work(250);
    const SqliteWork large = work(2000);
    // Eight times the links: about eight times the work for linear passes, 64 for quadratic.
    EXPECT_LT(large.steps, small.steps * 12) << small.steps << " -> " << large.steps;
    EXPECT_LT(large.commits, 40u) << "a commit per delete";
}

}  // namespace
}  // namespace tarnu::test
