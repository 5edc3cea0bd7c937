#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <regex>
#include <set>
#include <thread>
#include <tuple>

#include "dbmaint/compaction_run.h"
#include "platform/linux/files/file_io.h"
#include "tests/dbmaint/dbmaint_support.h"
#include "tests/support/child_process.h"
#include "tests/support/error_of.h"
#include "tests/support/holding_child.h"
#include "tests/support/recording_message_boxes.h"

namespace tarnu::test {
namespace {

using dao::dbAttachedODBC;
using dao::dbAttachedTable;
using dao::dbAttachSavePWD;

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
    // The tables of a database in its order: "name=rows " for a local one, "name=link ".
    std::string TablesOf(const std::string& file) {
        const DbContent c = ReadContent(dir.file(file));
        std::string tables;
        for (const auto& [name, attributes] : c.defs) {
            tables +=
                name + "=" + (attributes ? "link" : std::to_string(c.rows.at(name).size())) + " ";
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
        Local(*Create("kdlcode.mde"), "Daten", 2);
        auto admin = Create("Tarnu-Admin.mde");
        // A blank or a bracket in a name used to break the whole run.
        for (const char* name : {"Temp_Import", "Temp_", "Temp_a b", "Temp_x]y", "temp_klein",
                                 "TEMP_GROSS", "Temp", "Protokoll"}) {
            Local(*admin, name, 2);
        }
        Link(*admin, "Temp_Verknuepft", dbAttachedTable | dbAttachSavePWD);
    }
    const DbContent source = ReadContent(dir.file("Quelle.mdb"));
    const DbContent code = ReadContent(dir.file("kdlcode.mde"));
    dbmaint::CleanupDatabases(holder);

    EXPECT_EQ(log->opens, (std::map<std::string, int>{
                              {"KDL.mdb", 11}, {"kdlcode.mde", 1}, {"Tarnu-Admin.mde", 2}}))
        << "a database without links once; the admin database again for the purge";
    EXPECT_EQ(TablesOf("KDL.mdb"), "Kunden=3 MitKennwort=link OdbcMitKennwort=link Temp_Lokal=2 ");
    EXPECT_EQ(TablesOf("Tarnu-Admin.mde"),
              "Protokoll=2 Temp=2 Temp_=0 Temp_a b=0 TEMP_GROSS=2 Temp_Import=0 temp_klein=2 "
              "Temp_Verknuepft=link Temp_x]y=0 ");
    EXPECT_EQ(ReadContent(dir.file("kdlcode.mde")), code);
    EXPECT_EQ(ReadContent(dir.file("Quelle.mdb")), source) << "a link's source is never touched";
    // An exclusive open succeeds only when nothing else holds the file.
    for (const char* name : {"KDL.mdb", "kdlcode.mde", "Tarnu-Admin.mde"}) {
        EXPECT_NO_THROW(eng->OpenDatabase(dir.file(name), true, false, "")) << name;
    }
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
        db,
        [](void*) {
            ++gWork.commits;
            return 0;
        },
        nullptr);
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
                Link(*kdl, "L" + std::to_string(100000 + i), dbAttachedODBC);
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

namespace fs = std::filesystem;

// The run's one box, telling of a failure.
Shown Failure(const std::string& text) {
    return {{text, ui::vbCritical, "Tarnu"}};
}

// The demo program folder, which is also the current directory, and a run on it.
class CompactionRun : public ::testing::Test {
  public:
    CompactionRun() {
        CopyDemoFolder(dir.path());
        inodes = Inodes();
    }

    std::vector<ino_t> Inodes() {
        std::vector<ino_t> inodes;
        for (const auto& name : kProgramFiles) {
            inodes.push_back(StatOf(dir.file(name)).st_ino);
        }
        return inodes;
    }
    // Which program files have been replaced since the inodes were taken.
    std::vector<bool> Replaced() {
        std::vector<bool> replaced;
        for (std::size_t i = 0; i < inodes.size(); ++i) {
            replaced.push_back(Inodes()[i] != inodes[i]);
        }
        return replaced;
    }
    // The run's copies that are still there; files of one second share a name.
    std::set<std::string> Copies() {
        std::set<std::string> left(log->copies.begin(), log->copies.end());
        std::erase_if(left, [](const std::string& copy) { return !FileExists(copy); });
        return left;
    }

    TempDir dir;
    ScopedCurrentDir cd{dir.path()};
    FaultyFiles files;
    RecordingMessageBoxes boxes;
    const Shown success{
        {"Die Programmdateien wurden erfolgreich komprimiert!", ui::vbInformation, "Tarnu"}};
    std::shared_ptr<RecordingEngine::Log> log = std::make_shared<RecordingEngine::Log>();
    dbmaint::EngineHolder holder{[this] { return std::make_unique<RecordingEngine>(log); }};
    dbmaint::CompactionRun run{holder, files, boxes, [this] { return dir.path(); }};
    std::optional<HoldingChild> user;  // another process that has a database open
    std::vector<ino_t> inodes;
};

TEST_F(CompactionRun, CompactsAllFourInPlaceEachUnderTheTimeOfItsStepAndSaysSoOnce) {
    files.clock = {{2026, 12, 6, 4, 51, 1},
                   {2026, 12, 6, 4, 51, 2},
                   {2027, 1, 31, 23, 59, 59},
                   {2027, 2, 1, 0, 0, 0}};
    const auto rows = ReadProgramFolder(dir.path());
    const std::size_t tables = ReadContent(dir.file("KDL.mdb")).defs.size();
    run();
    EXPECT_EQ(boxes.boxes, success);
    EXPECT_LT(ReadContent(dir.file("KDL.mdb")).defs.size(), tables) << "the clean-up ran";
    EXPECT_EQ(Replaced(), std::vector<bool>(4, true));
    EXPECT_TRUE(Copies().empty());
    EXPECT_EQ(ReadProgramFolder(dir.path()), rows) << "every row must be kept";
    EXPECT_EQ(log->copies,
              (std::vector<std::string>{
                  dir.file("06122026045101Dummy.mdb"), dir.file("06122026045102Dummy.mdb"),
                  dir.file("31012027235959Dummy.mdb"), dir.file("01022027000000Dummy.mdb")}));
    EXPECT_EQ(log->passwords,
              (std::vector<std::optional<std::string>>{kSystemPassword, {}, {}, {}}))
        << "only the protected file gets its password";
    // One engine serves every run.
    run();
    EXPECT_EQ(boxes.boxes, Shown(2, success[0]));
    EXPECT_EQ(log->created, 1);
}

// A run that cannot go on stops at the failing file with its message: the earlier files stay
// compacted, the failing one and the later ones stay as they were, and only a copy that was
// already whole is left over.
struct Stop {
    std::function<void(CompactionRun&)> arrange;
    std::string says;  // how the box's text begins, % standing for the program folder
    int compacted;     // how many files, in their order, were replaced; -1: no file was touched
    std::size_t copies;
    bool root = false;  // arranging it needs root
};

class RunStops : public CompactionRun, public ::testing::WithParamInterface<Stop> {};

TEST_P(RunStops, AtTheFailingFileWithEveryNameWhole) {
    const Stop& stop = GetParam();
    if (stop.root && ::geteuid() != 0) {
        GTEST_SKIP() << "another user's link needs root";
    }
    ::alarm(20);  // a run that waits for a FIFO's writer ends the test instead of hanging it
    stop.arrange(*this);
    const auto rows = ReadProgramFolder(dir.path());
    inodes = Inodes();
    run();
    ::alarm(0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    const std::string text = std::regex_replace(boxes.boxes[0].text, std::regex(dir.path()), "%");
    EXPECT_EQ(text.rfind(stop.says, 0), 0u) << text;
    std::vector<bool> replaced(4, false);
    std::fill_n(replaced.begin(), std::max(stop.compacted, 0), true);
    EXPECT_EQ(Replaced(), replaced);
    EXPECT_EQ(ReadProgramFolder(dir.path()), rows);
    if (stop.compacted < 0) {  // the engine never reached a file
        EXPECT_TRUE(log->opens.empty() && log->copies.empty());
    }
    const auto copies = Copies();
    ASSERT_EQ(copies.size(), stop.copies);
    if (!copies.empty()) {  // a whole database, with the file's password
        const std::string& name = kProgramFiles[stop.compacted];
        EXPECT_EQ(ReadProgramFile(*copies.begin(), name), rows.at(name));
    }
}

std::function<void(CompactionRun&)> Missing(const std::string& name) {
    return [name](CompactionRun& t) { ::unlink(t.dir.file(name).c_str()); };
}
std::function<void(CompactionRun&)> Fifo(const std::string& name) {
    return [name](CompactionRun& t) {
        ::unlink(t.dir.file(name).c_str());
        ASSERT_EQ(::mkfifo(t.dir.file(name).c_str(), 0600), 0);
    };
}
std::function<void(CompactionRun&)> Fault(const std::string& operation, int nth) {
    return [=](CompactionRun& t) { t.files.FailAt(operation, nth, Error(err::DeviceIoError)); };
}
// A link that another user put into root's program folder leads nowhere: neither the clean-up
// nor the compaction touches the file it points to.
std::function<void(CompactionRun&)> ForeignLink(const std::string& name) {
    return [name](CompactionRun& t) {
        ASSERT_EQ(::mkdir(t.dir.file("fremd").c_str(), 0755), 0);
        const std::string target = t.dir.file("fremd/" + name);
        ASSERT_EQ(::rename(t.dir.file(name).c_str(), target.c_str()), 0);
        ASSERT_EQ(::symlink(target.c_str(), t.dir.file(name).c_str()), 0);
        ASSERT_EQ(::lchown(t.dir.file(name).c_str(), 65534, 65534), 0);
    };
}

const char* const kIoError = "Fehler beim Geräte-E/A";
INSTANTIATE_TEST_SUITE_P(
    Cases, RunStops,
    ::testing::Values(
        Stop{Missing("system.srv"), "Datei '%/system.srv' nicht gefunden.", 0, 0},
        // The clean-up fails, before any compaction.
        Stop{Missing("kdlcode.mde"), "Datei '%/kdlcode.mde' nicht gefunden.", 0, 0},
        // It looks for the databases in the current directory, not in the program folder.
        Stop{[](CompactionRun&) { ASSERT_EQ(::chdir("/"), 0); }, "Datei '/KDL.mdb' nicht gefunden.",
             0, 0},
        Stop{[](CompactionRun& t) { t.user.emplace(t.dir.file("KDL.mdb")); },
             "'%/KDL.mdb' konnte nicht verwendet werden; Datei wird bereits verwendet.", 1, 0},
        // The first four queries of the folder are those of the leftover sweep, before any
        // file.
        Stop{Fault("Dir", 2), kIoError, -1, 0}, Stop{Fault("Dir", 6), kIoError, 1, 0},
        Stop{Fault("Now", 1), kIoError, 0, 0}, Stop{Fault("Now", 4), kIoError, 3, 0},
        Stop{Fault("SyncFile", 1), kIoError, 0, 1}, Stop{Fault("SyncFile", 4), kIoError, 3, 1},
        Stop{ForeignLink("KDL.mdb"), "Fehler beim Zugriff auf Pfad/Datei", -1, 0, true},
        Stop{ForeignLink("system.srv"), "Fehler beim Zugriff auf Pfad/Datei", -1, 0, true},
        // A FIFO where the run opens a file: the run must end, not wait for a writer.
        Stop{Fifo("KDL.mdb"), "Datei '%/KDL.mdb' nicht gefunden.", 0, 0},
        // The message names the journal, not only the database.
        Stop{Fifo("KDL.mdb-journal"),
             "Auf die Datenbank '%/KDL.mdb' kann nicht zugegriffen werden: An der Stelle ihres "
             "Journals '%/KDL.mdb-journal' liegt keine gewöhnliche Datei",
             0, 0}));

// Another user's files at the copy names of the coming seconds, a FIFO among them, are passed
// over without being opened: the next free second names the copy, up to a minute on. Copies
// left by killed runs, empty ones and their journals too, and backups of a replace would pile
// up: a run removes them, but only files of exactly those names that the runner owns and nobody
// uses.
TEST_F(CompactionRun, CopyNamesTakenByAnotherUserArePassedOverForAMinuteAndOnlyOwnLeftoversGo) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "files of another user need root";
    }
    files.clock = {{2026, 12, 31, 23, 59, 59}};
    std::vector<std::string> taken;
    for (int i = 0; i <= dbmaint::MaxCopyNameDelay; ++i) {
        taken.push_back(
            dir.file(dbmaint::TimeStamp(dbmaint::SecondsLater(files.clock[0], i)) + "Dummy.mdb"));
        if (i == 0) {
            ASSERT_EQ(::mkfifo(taken[i].c_str(), 0666), 0);
        } else {
            WriteFile(taken[i], "fremd");
        }
        ASSERT_EQ(::lchown(taken[i].c_str(), 65534, 65534), 0);
    }
    const std::vector<std::string> leftovers = {
        "01012024120000Dummy.mdb", "31122023235959Dummy.mdb", "31122023235959Dummy.mdb-journal",
        "KDL.mdb.Sicherung", "05012024120000Dummy.mdb"};
    fs::copy_file(dir.file("KDL.mdb"), dir.file(leftovers[0]));
    for (std::size_t i = 1; i < 4; ++i) {
        WriteFile(dir.file(leftovers[i]), "");
    }
    const std::vector<std::string> others = {
        "0101202412000Dummy.mdb",      "010120241200000Dummy.mdb",
        "0101202412000xDummy.mdb",     "01012024120000dummy.mdb",
        "01012024120000Dummy.mdb.alt", "KDLDummy.mdb",
        "kdl.mdb.Sicherung",           leftovers.back()};  // another user's
    for (const auto& name : others) {
        WriteFile(dir.file(name), name);
        ASSERT_EQ(::chown(dir.file(name).c_str(), 65534, 65534), 0);
    }
    WriteFile(dir.file("ziel"), "ziel");
    ASSERT_EQ(::symlink("ziel", dir.file("02012024120000Dummy.mdb").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.file("03012024120000Dummy.mdb").c_str(), 0755), 0);
    const std::string held = dir.file("04012024120000Dummy.mdb");
    fs::copy_file(dir.file("kdlcode.mde"), held);
    user.emplace(held);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, taken[1].c_str(), IN_OPEN), 0);
    ::alarm(60);  // an open of the FIFO would wait for ever
    run();
    EXPECT_EQ(boxes.boxes, Failure("Datenbank existiert bereits."))
        << "a minute on, the name stays taken";
    char event[4096];
    EXPECT_EQ(::read(watch, event, sizeof event), -1) << "another user's file was opened";
    ::close(watch);
    EXPECT_EQ(Replaced(), std::vector<bool>(4, false));

    for (std::size_t i = 2; i < taken.size(); ++i) {
        std::remove(taken[i].c_str());
    }
    boxes.boxes.clear();
    run();
    ::alarm(0);
    EXPECT_EQ(boxes.boxes, success);
    EXPECT_EQ(log->copies.back(), dir.file("01012027000001Dummy.mdb"));
    EXPECT_TRUE(S_ISFIFO(StatOf(taken[0]).st_mode));
    EXPECT_EQ(ReadFile(taken[1]), "fremd");
    for (const auto& name : leftovers) {
        EXPECT_EQ(FileExists(dir.file(name)), name == leftovers.back()) << name;
    }
    for (const auto& name : others) {
        EXPECT_EQ(ReadFile(dir.file(name)), name);
    }
    EXPECT_TRUE(fs::is_symlink(dir.file("02012024120000Dummy.mdb")));
    EXPECT_EQ(ReadFile(dir.file("ziel")), "ziel");
    EXPECT_TRUE(fs::is_directory(dir.file("03012024120000Dummy.mdb")));
    EXPECT_TRUE(FileExists(held)) << "a copy in use stays";
}

// Between a file's compaction and its replace no other process may open the file or its copy:
// what it wrote there would be lost to the replace. When something else took the file's or the
// copy's name meanwhile, the replace would throw it away: the run stops with error 75 and keeps
// both.
class NameTakenBeforeTheReplace : public CompactionRun,
                                  public ::testing::WithParamInterface<bool> {};

TEST_P(NameTakenBeforeTheReplace, StopsTheRunAndKeepsBoth) {
    const auto rows = ReadProgramFolder(dir.path());
    std::string taken;
    std::optional<std::vector<std::int32_t>> opened;
    files.beforeSync = [&](int call, const std::string& copy) {
        if (call == 2) {  // KDL.mdb
            opened = RunInChild([&] {
                auto eng = engine::MakeEngine();
                return std::vector<std::int32_t>{
                    ErrorOf([&] { eng->OpenDatabase(dir.file("KDL.mdb")); }),
                    ErrorOf([&] { eng->OpenDatabase(copy); })};
            });
            taken = GetParam() ? copy : dir.file("KDL.mdb");
            ASSERT_EQ(::rename(taken.c_str(), dir.file("beiseite").c_str()), 0);
            WriteFile(taken, "fremd");
        }
    };
    run();
    EXPECT_EQ(opened, (std::vector<std::int32_t>{3045, 3045}));
    EXPECT_EQ(boxes.boxes, Failure("Fehler beim Zugriff auf Pfad/Datei"));
    EXPECT_EQ(ReadFile(taken), "fremd") << "what took the name stays";
    EXPECT_EQ(ReadProgramFile(dir.file("beiseite"), "KDL.mdb"), rows.at("KDL.mdb"))
        << "the file or its copy is kept whole";
    EXPECT_EQ(Replaced(), (std::vector<bool>{true, !GetParam(), false, false}));
    EXPECT_EQ(Copies().size(), 1u);
    if (GetParam()) {
        EXPECT_NO_THROW(engine::MakeEngine()->OpenDatabase(dir.file("KDL.mdb"), true, false, ""))
            << "the file is free again after the run";
    }
}

INSTANTIATE_TEST_SUITE_P(FileOrCopy, NameTakenBeforeTheReplace, ::testing::Bool());

// With a database missing, a leftover may be all that is left of it: the run touches nothing and
// names both.
TEST_F(CompactionRun, ADatabaseMissingBesideLeftoversStopsTheRunBeforeAnything) {
    const auto rows = ReadProgramFolder(dir.path());
    ASSERT_EQ(::rename(dir.file("KDL.mdb").c_str(), dir.file("01012024120000Dummy.mdb").c_str()),
              0);
    WriteFile(dir.file("system.srv.Sicherung"), "alt");
    ::unlink(dir.file("system.srv").c_str());
    run();
    EXPECT_EQ(
        boxes.boxes,
        Failure("Im Programmordner fehlen die Datenbanken „system.srv“, „KDL.mdb“. Daneben liegen "
                "Dateien früherer Komprimierungen, die die einzige Kopie davon sein können: „" +
                dir.file("01012024120000Dummy.mdb") + "“, „" + dir.file("system.srv.Sicherung") +
                "“. Es wurde nichts verändert. Bitte die fehlende Datenbank aus einer dieser "
                "Dateien wiederherstellen oder die Dateien entfernen und dann erneut "
                "komprimieren."));
    EXPECT_TRUE(log->opens.empty()) << "the clean-up ran";
    EXPECT_EQ(ReadFile(dir.file("system.srv.Sicherung")), "alt");
    EXPECT_EQ(ReadProgramFile(dir.file("01012024120000Dummy.mdb"), "KDL.mdb"), rows.at("KDL.mdb"));
}

// A run that finds the folder locked by another (a window's run, the nightly timer, an update)
// waits for it a while, then gives up with its message and changes nothing.
TEST_F(CompactionRun, AFolderLockedByAnotherRunEndsThisOneUntouched) {
    files::UniqueFd folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    files::UniqueFd lock;
    ASSERT_EQ(files::LockFolder(folder.get(), 0, lock), 0);
    const auto start = std::chrono::steady_clock::now();
    run();
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(kFolderLockWaitMs));
    EXPECT_EQ(boxes.boxes, Failure(FolderBusyText(dir.path())));
    EXPECT_TRUE(log->opens.empty());
    EXPECT_EQ(Replaced(), std::vector<bool>(4, false));
}

// Runs of the whole compaction, each in a child process, killed at random moments.
using CompactionKill = CompactionRun;

// Mode, owner and group of each program file, also of one reached through a link.
std::map<std::string, std::tuple<mode_t, uid_t, gid_t>> AccessOf(const std::string& dir) {
    std::map<std::string, std::tuple<mode_t, uid_t, gid_t>> access;
    for (const auto& name : kProgramFiles) {
        struct stat st {};
        ::stat((dir + "/" + name).c_str(), &st);
        access[name] = {st.st_mode, st.st_uid, st.st_gid};
    }
    return access;
}

// Another user's database, a group's database and the password file keep who may read them, a
// database reached through a link stays a link to its compacted file, and every name holds a
// whole database however a run is killed.
TEST_F(CompactionKill, EveryNameHoldsAWholeDatabaseWithItsAccessAfterAKillAtAnyMoment) {
    ASSERT_EQ(::mkdir(dir.file("gemeinsam").c_str(), 0755), 0);
    ASSERT_EQ(::rename(dir.file("Tarnu-Admin.mde").c_str(),
                       dir.file("gemeinsam/Tarnu-Admin.mde").c_str()),
              0);
    ASSERT_EQ(::symlink("gemeinsam/Tarnu-Admin.mde", dir.file("Tarnu-Admin.mde").c_str()), 0);
    const std::vector<std::tuple<std::string, mode_t, uid_t, gid_t>> wanted = {
        {"system.srv", 0600, 0, 0},
        {"KDL.mdb", 0664, 0, 65534},
        {"kdlcode.mde", 0640, 65534, 65534},
        {"Tarnu-Admin.mde", 0660, ::geteuid(), ::getegid()}};
    const bool root = ::geteuid() == 0;
    for (const auto& [name, mode, uid, gid] : wanted) {
        ASSERT_EQ(::chmod(dir.file(name).c_str(), mode), 0) << name;
        if (root) {
            ASSERT_EQ(::chown(dir.file(name).c_str(), uid, gid), 0) << name;
        }
    }
    const auto access = AccessOf(dir.path());
    const auto before = ReadProgramFolder(dir.path());
    const ino_t shared = StatOf(dir.file("gemeinsam/Tarnu-Admin.mde")).st_ino;
    // Exits 0 after the success box.
    const auto start = [&] {
        return StartChild([&] {
            posix::PosixFileServices real;
            RecordingMessageBoxes shown;
            dbmaint::EngineHolder engine([] { return engine::MakeEngine(); });
            dbmaint::CompactionRun(engine, real, shown, [&] { return dir.path(); })();
            return shown.boxes.size() == 1 && shown.boxes[0].style == ui::vbInformation ? 0 : 3;
        });
    };

    // A whole undisturbed run tells how long there is to hit.
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(WaitChild(start()), 0);
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - t0);
    EXPECT_EQ(AccessOf(dir.path()), access) << "after a whole run";
    EXPECT_EQ(fs::read_symlink(dir.file("Tarnu-Admin.mde")), "gemeinsam/Tarnu-Admin.mde");
    EXPECT_NE(StatOf(dir.file("gemeinsam/Tarnu-Admin.mde")).st_ino, shared)
        << "the linked file is compacted";

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<long> moment(0, whole.count());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int kills = 0;
    int midRun = 0;
    for (; std::chrono::steady_clock::now() < deadline && kills < 40; ++kills) {
        const pid_t pid = start();
        std::this_thread::sleep_for(std::chrono::microseconds(moment(rng)));
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            WaitChild(pid);
            ++midRun;
        }
        ASSERT_EQ(ReadProgramFolder(dir.path()), before) << "after kill " << kills;
        ASSERT_EQ(AccessOf(dir.path()), access) << "after kill " << kills;
    }
    EXPECT_GE(kills, 5);
    EXPECT_GT(midRun, 0) << "no kill landed inside a run";
    // What the killed runs left, copies and their journals, is the runner's and goes with the
    // next whole run: nothing may pile up.
    EXPECT_EQ(WaitChild(start()), 0);
    EXPECT_EQ(FolderContents(dir.path()),
              (std::vector<std::string>{"KDL.mdb", "Tarnu-Admin.mde", "gemeinsam", "kdlcode.mde",
                                        "system.srv"}));
    EXPECT_EQ(FolderContents(dir.file("gemeinsam")), std::vector<std::string>{"Tarnu-Admin.mde"});
}

}  // namespace
}  // namespace tarnu::test
