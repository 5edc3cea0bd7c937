#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <tuple>

#include "dbmaint/cleanup.h"
#include "dbmaint/compaction_run.h"
#include "platform/linux/files/file_io.h"
#include "tests/dbmaint/dbmaint_support.h"
#include "tests/support/child_process.h"
#include "tests/support/recording_message_boxes.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {
namespace {

class CompactionRun : public ::testing::Test {
  protected:
    CompactionRun() {
        CopyDemoFolder(dir.path());
        for (const auto& name : kProgramFiles) {
            inodes[name] = InodeOf(dir.file(name));
            sizes[name] = StatOf(dir.file(name)).st_size;
        }
        rows = ReadProgramFolder(dir.path());
    }

    bool Replaced(const std::string& name) { return InodeOf(dir.file(name)) != inodes[name]; }
    std::vector<bool> ReplacedFiles() {
        std::vector<bool> r;
        for (const auto& name : kProgramFiles) {
            r.push_back(Replaced(name));
        }
        return r;
    }
    // The one box the run showed: its text, after checking that it is the critical one.
    std::string FailureText() {
        EXPECT_EQ(boxes.boxes.size(), 1u);
        if (boxes.boxes.empty()) {
            return "";
        }
        EXPECT_EQ(boxes.boxes[0].style, ui::vbCritical);
        EXPECT_EQ(boxes.boxes[0].title, "Tarnu");
        return boxes.boxes[0].text;
    }
    bool KdlHasLinks() {
        for (const auto& [name, attributes] : ReadContent(dir.file("KDL.mdb")).defs) {
            if (attributes == dao::dbAttachedTable || attributes == dao::dbAttachedODBC) {
                return true;
            }
        }
        return false;
    }

    TempDir dir;
    ScopedCurrentDir cd{dir.path()};
    std::map<std::string, ino_t> inodes;
    std::map<std::string, off_t> sizes;
    std::map<std::string, DbContent> rows;
    FaultyFiles files;
    RecordingMessageBoxes boxes;
    const Shown success{
        {"Die Programmdateien wurden erfolgreich komprimiert!", ui::vbInformation, "Tarnu"}};
    std::shared_ptr<RecordingEngine::Log> log = std::make_shared<RecordingEngine::Log>();
    dbmaint::EngineHolder holder{[this] { return std::make_unique<RecordingEngine>(log); }};
    dbmaint::CompactionRun run{holder, files, boxes, [this] { return dir.path(); }};
};

TEST_F(CompactionRun, CompactsAllFourInPlaceEachUnderTheTimeOfItsStepAndSaysSoOnce) {
    files.clock = {{2026, 12, 6, 4, 51, 1},
                   {2026, 12, 6, 4, 51, 2},
                   {2027, 1, 31, 23, 59, 59},
                   {2027, 2, 1, 0, 0, 0}};
    ASSERT_TRUE(KdlHasLinks());
    run();
    EXPECT_FALSE(KdlHasLinks());
    EXPECT_EQ(boxes.boxes, success);
    EXPECT_EQ(ReplacedFiles(), std::vector<bool>(4, true));
    for (const auto& name : kProgramFiles) {
        EXPECT_LT(StatOf(dir.file(name)).st_size, sizes[name]) << name << " did not shrink";
    }
    EXPECT_TRUE(DummyFiles(dir.path()).empty());
    EXPECT_EQ(ReadProgramFolder(dir.path()), rows) << "every row must be kept";

    ASSERT_EQ(log->compactions.size(), 4u);
    const std::vector<std::string> stamps = {"06122026045101", "06122026045102", "31012027235959",
                                             "01022027000000"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(log->compactions[i].source, dir.file(kProgramFiles[i]));
        EXPECT_EQ(log->compactions[i].destination, dir.file(stamps[i] + "Dummy.mdb"));
        // Only the protected file gets its password.
        EXPECT_EQ(log->compactions[i].password,
                  i == 0 ? std::optional<std::string>(";pwd=brisk") : std::nullopt);
    }
    // One engine serves every run.
    run();
    EXPECT_EQ(boxes.boxes, Shown(2, success[0]));
    EXPECT_EQ(log->created, 1);
}

TEST_F(CompactionRun, MissingSystemSrvStopsAtTheFirstFileAfterAWholeCleanup) {
    std::remove(dir.file("system.srv").c_str());
    files.clock = {{2026, 12, 6, 4, 51, 1}};
    run();
    const std::string text = FailureText();
    EXPECT_NE(text.find("system.srv"), std::string::npos) << text;
    EXPECT_FALSE(KdlHasLinks()) << "the clean-up ran before";
    ASSERT_EQ(log->compactions.size(), 1u);
    // No name was found, so the whole path is the folder part of the temporary name.
    EXPECT_EQ(log->compactions[0].destination, dir.file("system.srv") + "06122026045101Dummy.mdb");
    for (const char* name : {"KDL.mdb", "kdlcode.mde", "Tarnu-Admin.mde"}) {
        EXPECT_FALSE(Replaced(name)) << name;
    }
    EXPECT_TRUE(DummyFiles(dir.path()).empty());
}

TEST_F(CompactionRun, ACleanupErrorEndsTheRunBeforeAnyCompaction) {
    // kdlcode.mde is missing from the program folder, which is also the current directory.
    std::remove(dir.file("kdlcode.mde").c_str());
    run();
    EXPECT_NE(FailureText().find("kdlcode.mde"), std::string::npos);
    EXPECT_TRUE(log->compactions.empty());

    // The databases are looked for in the current directory, not in the program folder.
    TempDir elsewhere;
    ScopedCurrentDir away(elsewhere.path());
    boxes.boxes.clear();
    run();
    EXPECT_NE(FailureText().find("KDL.mdb"), std::string::npos);
    EXPECT_TRUE(log->compactions.empty());
}

TEST_F(CompactionRun, AFileHeldByAnotherProcessStopsTheRunThere) {
    HoldingChild holder(dir.file("KDL.mdb"));
    ASSERT_EQ(holder.openResult(), 0);
    run();
    EXPECT_NE(FailureText().find("bereits verwendet"), std::string::npos);
    EXPECT_EQ(ReplacedFiles(), (std::vector<bool>{true, false, false, false}));
    EXPECT_TRUE(DummyFiles(dir.path()).empty()) << "a failed compaction leaves no copy";
    EXPECT_EQ(ReadProgramFolder(dir.path()), rows);
}

// Another user's database, a group's database and the password file keep who may read them, and
// a database reached through a link stays a link to its compacted file.
TEST_F(CompactionRun, EachFileKeepsItsModeOwnerGroupAndLink) {
    const bool root = ::geteuid() == 0;
    const uid_t me = ::geteuid();
    const gid_t mine = ::getegid();
    ASSERT_EQ(::mkdir(dir.file("gemeinsam").c_str(), 0755), 0);
    ASSERT_EQ(::rename(dir.file("Tarnu-Admin.mde").c_str(),
                       dir.file("gemeinsam/Tarnu-Admin.mde").c_str()),
              0);
    ASSERT_EQ(::symlink("gemeinsam/Tarnu-Admin.mde", dir.file("Tarnu-Admin.mde").c_str()), 0);
    struct Access {
        std::string file;
        mode_t mode;
        uid_t uid;
        gid_t gid;
    };
    const std::vector<Access> wanted = {
        {"system.srv", 0600, me, mine},
        {"KDL.mdb", 0664, me, root ? 65534 : mine},
        {"kdlcode.mde", 0640, root ? 65534 : me, root ? 65534 : mine},
        {"gemeinsam/Tarnu-Admin.mde", 0660, me, mine},
    };
    for (const Access& a : wanted) {
        ASSERT_EQ(::chown(dir.file(a.file).c_str(), a.uid, a.gid), 0) << a.file;
        ASSERT_EQ(::chmod(dir.file(a.file).c_str(), a.mode), 0) << a.file;
    }
    const ino_t shared = InodeOf(dir.file("gemeinsam/Tarnu-Admin.mde"));

    run();
    EXPECT_EQ(boxes.boxes, success);
    for (const Access& a : wanted) {
        const struct stat st = StatOf(dir.file(a.file));
        EXPECT_EQ(std::make_tuple(st.st_mode & 07777, st.st_uid, st.st_gid),
                  std::make_tuple(a.mode, a.uid, a.gid))
            << a.file;
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("Tarnu-Admin.mde")));
    EXPECT_EQ(std::filesystem::read_symlink(dir.file("Tarnu-Admin.mde")),
              "gemeinsam/Tarnu-Admin.mde");
    EXPECT_NE(InodeOf(dir.file("gemeinsam/Tarnu-Admin.mde")), shared)
        << "the linked file is compacted";
    EXPECT_EQ(ReplacedFiles(), std::vector<bool>(4, true));
    EXPECT_TRUE(DummyFiles(dir.path()).empty());
    EXPECT_TRUE(DummyFiles(dir.file("gemeinsam")).empty());
    EXPECT_EQ(ReadProgramFolder(dir.path()), rows);
}

// A link that another user put into root's program folder leads nowhere: neither the clean-up
// nor the compaction touches the file it points to.
class ForeignLink : public CompactionRun, public ::testing::WithParamInterface<const char*> {};

TEST_P(ForeignLink, EndsTheRunWithError75) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a link of another user needs root";
    }
    const std::string name = GetParam();
    ASSERT_EQ(::mkdir(dir.file("fremd").c_str(), 0755), 0);
    const std::string target = dir.file("fremd/" + name);
    ASSERT_EQ(::rename(dir.file(name).c_str(), target.c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), dir.file(name).c_str()), 0);
    ASSERT_EQ(::lchown(dir.file(name).c_str(), 65534, 65534), 0);
    const std::string bytes = ReadFile(target);

    run();
    EXPECT_EQ(FailureText(), "Fehler beim Zugriff auf Pfad/Datei");
    EXPECT_TRUE(ReadFile(target) == bytes) << "the linked file was changed";
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file(name)));
    EXPECT_EQ(ReplacedFiles(), std::vector<bool>(4, false));
    EXPECT_TRUE(DummyFiles(dir.path()).empty());
    EXPECT_TRUE(DummyFiles(dir.file("fremd")).empty());
}

INSTANTIATE_TEST_SUITE_P(CleanedOrOnlyCompacted, ForeignLink,
                         ::testing::Values("KDL.mdb", "system.srv"));

// A FIFO where the run opens a file: the run must end with its message, not wait for a writer.
class FifoInTheWay : public CompactionRun,
                     public ::testing::WithParamInterface<std::tuple<const char*, const char*>> {};

TEST_P(FifoInTheWay, EndsTheRunWithItsMessage) {
    const auto [name, message] = GetParam();
    std::remove(dir.file(name).c_str());
    ASSERT_EQ(::mkfifo(dir.file(name).c_str(), 0600), 0);
    std::string expected = message;
    for (auto at = expected.find('%'); at != std::string::npos; at = expected.find('%')) {
        expected.replace(at, 1, dir.file("KDL.mdb"));
    }
    const pid_t child = StartChild([&] {
        ::alarm(20);  // a run that waits fails the test instead of hanging it
        run();
        return boxes.boxes.size() == 1 && boxes.boxes[0].style == ui::vbCritical &&
                       boxes.boxes[0].text.find(expected) != std::string::npos
                   ? 0
                   : 1;
    });
    EXPECT_EQ(WaitChild(child), 0) << "-1: the run hung";
    EXPECT_EQ(ReplacedFiles()[0], false);
}

INSTANTIATE_TEST_SUITE_P(
    Database, FifoInTheWay,
    ::testing::Values(std::make_tuple("KDL.mdb", "Datei '%' nicht gefunden."),
                      // The message names the journal, not only the database.
                      std::make_tuple("KDL.mdb-journal",
                                      "Auf die Datenbank '%' kann nicht zugegriffen werden: An der "
                                      "Stelle ihres Journals '%-journal' liegt keine gewöhnliche "
                                      "Datei")));

// Another user's files at the copy names of the coming seconds, a FIFO among them, are passed
// over without being opened: the next free second names the copy, up to a minute on.
TEST_F(CompactionRun, CopyNamesTakenByAnotherUserArePassedOverForAMinute) {
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
    ::alarm(60);  // an open of the FIFO would wait for ever
    run();
    EXPECT_EQ(FailureText(), "Datenbank existiert bereits.") << "a minute on, the name stays taken";
    EXPECT_EQ(ReplacedFiles(), std::vector<bool>(4, false));

    for (std::size_t i = 2; i < taken.size(); ++i) {
        std::remove(taken[i].c_str());
    }
    boxes.boxes.clear();
    run();
    ::alarm(0);
    EXPECT_EQ(boxes.boxes, success);
    EXPECT_EQ(log->compactions.back().destination, dir.file("01012027000001Dummy.mdb"));
    EXPECT_TRUE(S_ISFIFO(StatOf(taken[0]).st_mode));
    EXPECT_EQ(ReadFile(taken[1]), "fremd");
}

// Between a file's compaction and its replace no other process may open the file or its copy:
// what it wrote there would be lost to the replace.
TEST_F(CompactionRun, NoOtherProcessOpensTheFileOrItsCopyBeforeTheReplace) {
    std::optional<std::vector<std::int32_t>> opened;
    files.beforeSync = [&](int call, const std::string& copy) {
        if (call == 2) {  // KDL.mdb
            opened = RunInChild([&] {
                auto eng = engine::MakeEngine();
                return std::vector<std::int32_t>{
                    ErrorOf([&] { eng->OpenDatabase(dir.file("KDL.mdb")); }),
                    ErrorOf([&] { eng->OpenDatabase(copy); })};
            });
        }
    };
    run();
    EXPECT_EQ(boxes.boxes, success);
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(*opened, (std::vector<std::int32_t>{3045, 3045}));
    EXPECT_NO_THROW(engine::MakeEngine()->OpenDatabase(dir.file("KDL.mdb"), true, false, ""))
        << "the file is free again after the run";
}

// When something else took the file's or the copy's name meanwhile, the replace would throw it
// away: the run stops with error 75 and keeps both.
class NameTakenBeforeTheReplace : public CompactionRun,
                                  public ::testing::WithParamInterface<bool> {};

TEST_P(NameTakenBeforeTheReplace, StopsTheRunAndKeepsBoth) {
    const bool copyName = GetParam();
    std::string taken;
    std::string moved;
    files.beforeSync = [&](int call, const std::string& copy) {
        if (call == 2) {  // KDL.mdb
            taken = copyName ? copy : dir.file("KDL.mdb");
            moved = dir.file("beiseite");
            ASSERT_EQ(::rename(taken.c_str(), moved.c_str()), 0);
            WriteFile(taken, "fremd");
        }
    };
    run();
    EXPECT_EQ(FailureText(), "Fehler beim Zugriff auf Pfad/Datei");
    EXPECT_EQ(ReadFile(taken), "fremd") << "what took the name stays";
    EXPECT_TRUE(FileExists(moved));
    EXPECT_TRUE(Replaced("system.srv"));
    EXPECT_FALSE(Replaced("kdlcode.mde"));
    EXPECT_FALSE(Replaced("Tarnu-Admin.mde"));
    if (copyName) {
        EXPECT_FALSE(Replaced("KDL.mdb"));
        EXPECT_EQ(ReadContent(moved).rows, rows["KDL.mdb"].rows) << "the copy is kept whole";
    } else {
        EXPECT_EQ(DummyFiles(dir.path()).size(), 1u) << "the copy is kept";
        EXPECT_EQ(ReadContent(moved).rows, rows["KDL.mdb"].rows) << "the file is kept whole";
    }
}

INSTANTIATE_TEST_SUITE_P(FileOrCopy, NameTakenBeforeTheReplace, ::testing::Bool());

// Copies left by killed runs, empty ones and their journals too, and backups of a replace would
// pile up: a run removes them, but only files of exactly those names that the runner owns and
// nobody uses.
TEST_F(CompactionRun, LeftoversOfEarlierRunsAreRemovedAndNothingElse) {
    const std::vector<std::string> leftovers = {
        "01012024120000Dummy.mdb", "31122023235959Dummy.mdb", "31122023235959Dummy.mdb-journal",
        "KDL.mdb.Sicherung", "05012024120000Dummy.mdb"};
    std::filesystem::copy_file(dir.file("KDL.mdb"), dir.file(leftovers[0]));
    WriteFile(dir.file(leftovers[1]), "");
    WriteFile(dir.file(leftovers[2]), "");
    WriteFile(dir.file(leftovers[3]), "alt");
    std::vector<std::string> others = {
        "0101202412000Dummy.mdb",  "010120241200000Dummy.mdb",    "0101202412000xDummy.mdb",
        "01012024120000dummy.mdb", "01012024120000Dummy.mdb.alt", "KDLDummy.mdb",
        "kdl.mdb.Sicherung",
    };
    if (::geteuid() == 0) {
        others.push_back(leftovers.back());  // another user's
    }
    for (const auto& name : others) {
        WriteFile(dir.file(name), name);
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(dir.file(name).c_str(), 65534, 65534), 0);
        }
    }
    WriteFile(dir.file("ziel"), "ziel");
    ASSERT_EQ(::symlink("ziel", dir.file("02012024120000Dummy.mdb").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.file("03012024120000Dummy.mdb").c_str(), 0755), 0);
    const std::string held = dir.file("04012024120000Dummy.mdb");
    std::filesystem::copy_file(dir.file("kdlcode.mde"), held);
    HoldingChild user(held);
    ASSERT_EQ(user.openResult(), 0);

    run();
    EXPECT_EQ(boxes.boxes, success);
    for (const auto& name : leftovers) {
        EXPECT_EQ(FileExists(dir.file(name)), name == leftovers.back() && ::geteuid() == 0) << name;
    }
    for (const auto& name : others) {
        EXPECT_EQ(ReadFile(dir.file(name)), name);
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("02012024120000Dummy.mdb")));
    EXPECT_EQ(ReadFile(dir.file("ziel")), "ziel");
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("03012024120000Dummy.mdb")));
    EXPECT_TRUE(FileExists(held)) << "a copy in use stays";
}

// With a database missing, a leftover may be all that is left of it: the run touches nothing and
// names both.
TEST_F(CompactionRun, ADatabaseMissingBesideLeftoversStopsTheRunBeforeAnything) {
    ASSERT_EQ(::rename(dir.file("KDL.mdb").c_str(), dir.file("01012024120000Dummy.mdb").c_str()),
              0);
    WriteFile(dir.file("system.srv.Sicherung"), "alt");
    ::unlink(dir.file("system.srv").c_str());
    run();
    EXPECT_EQ(FailureText(),
              "Im Programmordner fehlen die Datenbanken „system.srv“, „KDL.mdb“. Daneben liegen "
              "Dateien früherer Komprimierungen, die die einzige Kopie davon sein können: „" +
                  dir.file("01012024120000Dummy.mdb") + "“, „" + dir.file("system.srv.Sicherung") +
                  "“. Es wurde nichts verändert. Bitte die fehlende Datenbank aus einer dieser "
                  "Dateien wiederherstellen oder die Dateien entfernen und dann erneut "
                  "komprimieren.");
    EXPECT_TRUE(log->opens.empty()) << "the clean-up ran";
    EXPECT_EQ(ReadFile(dir.file("system.srv.Sicherung")), "alt");
    EXPECT_EQ(ReadContent(dir.file("01012024120000Dummy.mdb")).rows, rows["KDL.mdb"].rows);
}

// A file error at any step of any file: the earlier files stay compacted, the failing one and
// the later ones stay as they were, and only a copy that was already complete is left over.
class FileFault : public CompactionRun,
                  public ::testing::WithParamInterface<std::tuple<const char*, int, int>> {};

TEST_P(FileFault, LeavesEveryNameWholeAndStopsAtTheFailingFile) {
    const auto [operation, nth, failing] = GetParam();
    files.FailAt(operation, nth, Error(err::DeviceIoError));
    run();
    EXPECT_EQ(FailureText(), "Fehler beim Geräte-E/A");
    std::vector<bool> expected(4, false);
    for (int i = 0; i < failing; ++i) {
        expected[i] = true;
    }
    EXPECT_EQ(ReplacedFiles(), expected);
    const bool copyWritten =
        std::string(operation) == "SyncFile" || std::string(operation) == "ReplaceFile";
    const auto copies = DummyFiles(dir.path());
    ASSERT_EQ(copies.size(), copyWritten ? 1u : 0u);
    if (copyWritten && failing == 0) {  // a whole database, with the file's password
        EXPECT_EQ(ReadContent(dir.file(copies[0]), kSystemPassword).rows, rows["system.srv"].rows);
    }
    EXPECT_EQ(ReadProgramFolder(dir.path()), rows);
}

// The operation, its failing call, and the file that call is for: the first four queries of
// the folder are those of the leftover sweep, before any file.
INSTANTIATE_TEST_SUITE_P(
    EveryStep, FileFault,
    ::testing::Values(std::make_tuple("Dir", 2, 0), std::make_tuple("Dir", 6, 1),
                      std::make_tuple("Now", 1, 0), std::make_tuple("Now", 4, 3),
                      std::make_tuple("SyncFile", 1, 0), std::make_tuple("SyncFile", 3, 2),
                      std::make_tuple("ReplaceFile", 1, 0), std::make_tuple("ReplaceFile", 4, 3)));

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
    EXPECT_EQ(FailureText(), FolderBusyText(dir.path()));
    EXPECT_TRUE(log->opens.empty());
    EXPECT_EQ(ReplacedFiles(), std::vector<bool>(4, false));
}

}  // namespace
}  // namespace tarnu::test
