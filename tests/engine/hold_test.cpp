#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/engine/engine_test_util.h"

namespace tarnu::engine::test {
namespace {

class HoldTest : public EngineTest {
  protected:
    void SetUp() override { MakeTable("a.mdb", 50).reset(); }

    // What another process meets that writes a.mdb past the engine, with SQLite alone.
    std::vector<std::int32_t> WriteOfAnotherProcess() {
        return *RunInChild([&] {
            sqlite3* db = nullptr;
            sqlite3_open_v2(Path("a.mdb").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
            const int result = sqlite3_exec(db, "BEGIN IMMEDIATE; UPDATE T SET Name = Name; COMMIT",
                                            nullptr, nullptr, nullptr);
            sqlite3_close(db);
            return std::vector<std::int32_t>{result};
        });
    }
    int CompactAToB() {
        return ErrorOf([&] { engine_->CompactDatabase(Path("a.mdb"), Path("b.mdb")); });
    }
};

TEST_F(HoldTest, AnOpenDatabaseHoldsItsFileUntilReleasedOrItsProcessDies) {
    // The process that holds it cannot compact it either: it is not closed.
    auto db = engine_->OpenDatabase(Path("a.mdb"));
    EXPECT_EQ(CompactAToB(), jet::FileInUse);
    db.reset();
    for (const bool exclusive : {false, true}) {
        HoldingChild holder(Path("a.mdb"), exclusive);
        ASSERT_EQ(holder.openResult(), 0);
        EXPECT_EQ(ErrorTextOf([&] { engine_->CompactDatabase(Path("a.mdb"), Path("b.mdb")); }),
                  "3045: '" + Path("a.mdb") +
                      "' konnte nicht verwendet werden; Datei wird bereits verwendet.");
        EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(Path("a.mdb")); }),
                  exclusive ? jet::FileInUse : 0);
        EXPECT_EQ(HoldingChild(Path("a.mdb")).openResult(), exclusive ? jet::FileInUse : 0);
    }
    EXPECT_FALSE(FileExists(Path("b.mdb")));
    EXPECT_EQ(CompactAToB(), 0) << "the holders died";
}

// A compaction's reservation keeps the file from every other open, in this process too, lends
// its lock to one compaction of the file and keeps that compaction's copy the same way.
TEST_F(HoldTest, AReservationLendsItsLockToOneCompactionAndKeepsItsCopy) {
    auto reservation = engine_->Reserve(Path("a.mdb"));
    EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(Path("a.mdb")); }), jet::FileInUse);
    EXPECT_EQ(ErrorOf([&] { engine_->Reserve(Path("a.mdb")); }), jet::FileInUse);
    EXPECT_FALSE(reservation->StillInPlace()) << "no copy was written yet";

    EXPECT_EQ(CompactAToB(), 0);
    EXPECT_TRUE(reservation->StillInPlace());
    EXPECT_EQ(HoldingChild(Path("b.mdb")).openResult(), jet::FileInUse) << "the copy is kept";
    ASSERT_EQ(::rename(Path("b.mdb").c_str(), Path("c.mdb").c_str()), 0);
    EXPECT_FALSE(reservation->StillInPlace()) << "the copy's name lost it";
    ASSERT_EQ(::rename(Path("c.mdb").c_str(), Path("b.mdb").c_str()), 0);
    EXPECT_TRUE(reservation->StillInPlace());

    reservation.reset();
    EXPECT_NO_THROW(engine_->OpenDatabase(Path("a.mdb"), true, false, ""));
    EXPECT_NO_THROW(engine_->OpenDatabase(Path("b.mdb"), true, false, ""));
}

// SQLite's own locks are POSIX locks, which the process loses when any descriptor of the file
// is closed. Releasing one database must not strip them from another one that is in the middle
// of a transaction on the same file, nor may released databases keep descriptors.
TEST_F(HoldTest, ReleasedDatabasesKeepNoDescriptorAndStripNoOtherOnesLocks) {
    const auto descriptors = [] {
        const std::filesystem::directory_iterator fds("/proc/self/fd");
        return std::distance(begin(fds), end(fds));
    };
    auto writer = engine_->OpenDatabase(Path("a.mdb"), false, false, "");
    writer->BeginTrans();
    writer->Execute("DELETE * FROM T WHERE ID > 10");
    const auto before = descriptors();
    for (int i = 0; i < 20; ++i) {
        engine_->OpenDatabase(Path("a.mdb")).reset();
    }
    EXPECT_EQ(descriptors(), before);
    EXPECT_EQ(WriteOfAnotherProcess(), std::vector<std::int32_t>{SQLITE_BUSY});
    writer->CommitTrans();
    EXPECT_EQ(CountOf(*writer, "T"), "10");
}

// A journal that a killed writer left empty, met at an open while another process reads: the
// sweep that removes it must leave the database outside any transaction, free for this handle's
// next statement and for other processes.
TEST_F(HoldTest, AStaleJournalSweptWhileAnotherProcessReadsLeavesNoLockBehind) {
    const std::string path = Path("a.mdb");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t reader = StartChild([&] {
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_exec(db, "BEGIN; SELECT count(*) FROM T", nullptr, nullptr, nullptr);
        (void)!::write(ready[1], "x", 1);
        ::usleep(300000);
        return sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    });
    char byte;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    WriteFile(path + "-journal", "");
    auto db = engine_->OpenDatabase(path, false, false, "");
    EXPECT_EQ(ErrorOf([&] { db->Execute("INSERT INTO T VALUES (1000, 'neu')"); }), 0);
    EXPECT_EQ(WaitChild(reader), 0);
    // Reading leaves no lock behind either.
    EXPECT_EQ(CountOf(*db, "T"), "51");
    EXPECT_EQ(WriteOfAnotherProcess(), std::vector<std::int32_t>{SQLITE_OK});
    EXPECT_EQ(FolderContents(dir_.path()), Texts{"a.mdb"});
}

// The journal goes beside the file held, through its folder's descriptor: a link put in the
// place of the folder's name after the open does not lead it elsewhere.
TEST_F(HoldTest, TheJournalStaysBesideTheFileHeld) {
    std::filesystem::create_directory(Path("alt"));
    std::filesystem::create_directory(Path("woanders"));
    std::filesystem::rename(Path("a.mdb"), Path("alt/a.mdb"));
    auto db = engine_->OpenDatabase(Path("alt/a.mdb"), false, false, "");
    std::filesystem::rename(Path("alt"), Path("neu"));
    std::filesystem::create_directory_symlink(Path("woanders"), Path("alt"));
    db->BeginTrans();
    db->Execute("DELETE * FROM T WHERE ID > 10");
    EXPECT_EQ(FolderContents(Path("neu")), (Texts{"a.mdb", "a.mdb-journal"}));
    db->CommitTrans();
    EXPECT_EQ(FolderContents(Path("neu")), Texts{"a.mdb"});
    EXPECT_TRUE(FolderContents(Path("woanders")).empty());
}

// A writer killed at any moment leaves a journal that the next open rolls back: the file keeps
// either all of a transaction or none of it, and no journal stays behind.
TEST_F(HoldTest, WriterKilledAtAnyMomentLeavesAWholeDatabase) {
    const std::string path = Path("a.mdb");
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        const int base = 1000000 * (round + 1);
        const pid_t pid = StartChild([&] {
            auto db = MakeEngine()->OpenDatabase(path, false, false, "");
            for (int batch = 0;; ++batch) {
                db->BeginTrans();
                for (int id = base + batch * 100; id < base + batch * 100 + 100; ++id) {
                    db->Execute("INSERT INTO T VALUES (" + std::to_string(id) + ", '" +
                                std::string(40, 'x') + "')");
                }
                db->Execute("DELETE * FROM T WHERE ID < " + std::to_string(base + batch * 50));
                db->CommitTrans();
            }
            return 1;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + round * 37));
        ::kill(pid, SIGKILL);
        ASSERT_EQ(WaitChild(pid), -1) << "the writer gave up before it was killed";

        auto db = engine_->OpenDatabase(path, false, false, "");
        // Whole batches only: every committed transaction adds 100 rows and removes 50.
        EXPECT_EQ(std::stoi(CountOf(*db, "T WHERE ID >= 1000000")) % 50, 0);
        db.reset();
        EXPECT_EQ(FolderContents(dir_.path()), Texts{"a.mdb"});
    }
}

}  // namespace
}  // namespace tarnu::engine::test
