#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>

#include "dbmaint/cleanup.h"
#include "tests/dbmaint/dbmaint_support.h"
#include "tests/support/child_process.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {
namespace {

using dao::dbAttachedODBC;
using dao::dbAttachedTable;
using dao::dbAttachSavePWD;

class Cleanup : public ::testing::Test {
  protected:
    Cleanup() {
        auto src = eng->CreateDatabase(dir.file("Quelle.mdb"));
        src->Execute("CREATE TABLE T (ID LONG, Name TEXT(20))");
        src->Execute("INSERT INTO T (ID, Name) VALUES (1, 'eins')");
        src->Execute("INSERT INTO T (ID, Name) VALUES (2, 'zwei')");
    }

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
        dao::TableDef def;
        def.Name = name;
        def.Attributes = attributes;
        if (attributes & dbAttachedODBC) {
            def.Connect = "ODBC;DSN=Lager;";
            def.SourceTableName = "dbo.Lager";
        } else {
            def.Connect = ";DATABASE=" + dir.file("Quelle.mdb");
            def.SourceTableName = "T";
        }
        db.LinkTable(def);
    }
    // Three databases with nothing to do.
    void CreatePlain() {
        for (const char* name : {"KDL.mdb", "kdlcode.mde", "Tarnu-Admin.mde"}) {
            auto db = Create(name);
            Local(*db, "Daten", 2);
        }
    }
    size_t Rows(const std::string& file, const std::string& table) {
        return ReadContent(dir.file(file)).rows.at(table).size();
    }
    std::int32_t AttributesOf(const std::string& file, const std::string& table) {
        for (const auto& [name, attributes] : ReadContent(dir.file(file)).defs) {
            if (name == table) {
                return attributes;
            }
        }
        return -1;
    }

    TempDir dir;
    ScopedCurrentDir cd{dir.path()};
    std::unique_ptr<engine::Engine> eng = engine::MakeEngine();
    std::shared_ptr<RecordingEngine::Log> log = std::make_shared<RecordingEngine::Log>();
    dbmaint::EngineHolder holder{[this] { return std::make_unique<RecordingEngine>(log); }};
};

TEST_F(Cleanup, DatabasesAreFoundInTheCurrentDirectoryAndWithoutLinksOpenedOnceAndReleased) {
    CreatePlain();
    const auto before = ReadContent(dir.file("KDL.mdb"));
    {
        TempDir elsewhere;
        ScopedCurrentDir away(elsewhere.path());
        EXPECT_EQ(ErrorOf([&] { dbmaint::CleanupDatabases(holder); }), 3024);
    }
    log->opens.clear();
    dbmaint::CleanupDatabases(holder);
    EXPECT_EQ(log->opens, (std::map<std::string, int>{
                              {"KDL.mdb", 1}, {"kdlcode.mde", 1}, {"Tarnu-Admin.mde", 2}}))
        << "one pass each, then the purge";
    EXPECT_EQ(ReadContent(dir.file("KDL.mdb")), before);
    // An exclusive open succeeds only when nothing else holds the file.
    for (const char* name : {"KDL.mdb", "kdlcode.mde", "Tarnu-Admin.mde"}) {
        EXPECT_NO_THROW(eng->OpenDatabase(dir.file(name), true, false, "")) << name;
    }
}

TEST_F(Cleanup, LinksGoInElevenPassesAndOnlyWholeLinkValuesCount) {
    {
        auto kdl = Create("KDL.mdb");
        Local(*kdl, "Kunden", 3);
        // Adjacent links: each deletion makes the walk skip the next one.
        for (int i = 0; i < 6; ++i) {
            Link(*kdl, "Link" + std::to_string(i), i % 2 ? dbAttachedODBC : dbAttachedTable);
        }
        Link(*kdl, "MitKennwort", dbAttachedTable | dbAttachSavePWD);
        Link(*kdl, "OdbcMitKennwort", dbAttachedODBC | dbAttachSavePWD);
        Local(*kdl, "Temp_Lokal", 2);
        auto code = Create("kdlcode.mde");
        Link(*code, "Einzig", dbAttachedTable);
        auto admin = Create("Tarnu-Admin.mde");
        Local(*admin, "Protokoll", 1);
    }
    const auto sourceBefore = ReadContent(dir.file("Quelle.mdb"));
    dbmaint::CleanupDatabases(holder);

    EXPECT_EQ(log->opens["KDL.mdb"], 11);
    EXPECT_EQ(log->opens["kdlcode.mde"], 11) << "also when the first pass removed every link";
    EXPECT_EQ(log->opens["Tarnu-Admin.mde"], 2);

    const auto kdl = ReadContent(dir.file("KDL.mdb"));
    std::vector<std::string> left;
    for (const auto& [name, attributes] : kdl.defs) {
        left.push_back(name);
    }
    EXPECT_EQ(left,
              (std::vector<std::string>{"Kunden", "MitKennwort", "OdbcMitKennwort", "Temp_Lokal"}));
    EXPECT_EQ(kdl.rows.at("Kunden").size(), 3u);
    EXPECT_EQ(kdl.rows.at("Temp_Lokal").size(), 2u) << "only the admin database is purged";
    EXPECT_TRUE(ReadContent(dir.file("kdlcode.mde")).defs.empty());
    EXPECT_EQ(ReadContent(dir.file("Quelle.mdb")), sourceBefore) << "a link's source stays";
}

TEST_F(Cleanup, TemporaryTablesAreEmptiedByExactPrefixAndLocalOnly) {
    {
        Create("KDL.mdb");
        Create("kdlcode.mde");
        auto admin = Create("Tarnu-Admin.mde");
        Local(*admin, "Temp_Import", 3);
        Local(*admin, "Temp_", 2);
        Local(*admin, "Temp_a b", 2);    // a blank used to break the whole run
        Local(*admin, "Temp_x]y", 2);    // and so did a bracket
        Local(*admin, "temp_klein", 2);  // other case
        Local(*admin, "TEMP_GROSS", 2);
        Local(*admin, "Temp", 2);  // shorter than the prefix
        Local(*admin, "Protokoll", 2);
        Link(*admin, "Temp_Verknuepft", dbAttachedTable | dbAttachSavePWD);
    }
    dbmaint::CleanupDatabases(holder);

    for (const char* emptied : {"Temp_Import", "Temp_", "Temp_a b", "Temp_x]y"}) {
        EXPECT_EQ(Rows("Tarnu-Admin.mde", emptied), 0u) << emptied;
        EXPECT_EQ(AttributesOf("Tarnu-Admin.mde", emptied), 0) << emptied << " stays defined";
    }
    for (const char* kept : {"temp_klein", "TEMP_GROSS", "Temp", "Protokoll"}) {
        EXPECT_EQ(Rows("Tarnu-Admin.mde", kept), 2u) << kept;
    }
    EXPECT_EQ(AttributesOf("Tarnu-Admin.mde", "Temp_Verknuepft"),
              dbAttachedTable | dbAttachSavePWD);
    EXPECT_EQ(ReadContent(dir.file("Quelle.mdb")).rows.at("T").size(), 2u)
        << "a linked Temp_ table's source is never emptied";
}

TEST_F(Cleanup, FirstErrorPassesOnUnchangedAndEarlierWorkStays) {
    {
        auto kdl = Create("KDL.mdb");
        Link(*kdl, "L", dbAttachedTable);
        Create("Tarnu-Admin.mde");
    }
    // kdlcode.mde is missing: the clean-up stops there, after KDL.mdb has lost its link.
    EXPECT_EQ(ErrorTextOf([&] { dbmaint::CleanupDatabases(holder); }),
              "3024: Datei '" + dir.file("kdlcode.mde") + "' nicht gefunden.");
    EXPECT_TRUE(ReadContent(dir.file("KDL.mdb")).defs.empty());
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
};
SqliteWork gWork;

int CountSteps(unsigned, void*, void* statement, void*) {
    gWork.steps += static_cast<std::uint64_t>(
        sqlite3_stmt_status(static_cast<sqlite3_stmt*>(statement), SQLITE_STMTSTATUS_VM_STEP, 1));
    return 0;
}
int CountCommit(void*) {
    ++gWork.commits;
    return 0;
}
int Instrument(sqlite3* db, const char**, const sqlite3_api_routines*) {
    sqlite3_trace_v2(db, SQLITE_TRACE_PROFILE, CountSteps, nullptr);
    sqlite3_commit_hook(db, CountCommit, nullptr);
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
            kdl->Execute("CREATE TABLE Kunden (N LONG)");
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
        EXPECT_EQ(ReadContent(d.file("KDL.mdb")).defs.size(), 1u) << "every link is gone";
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
