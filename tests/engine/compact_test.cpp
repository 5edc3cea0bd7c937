#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <tuple>

#include "tests/engine/engine_test_util.h"

namespace tarnu::engine::test {
namespace {

// Runs `then` once, the first time SQLite works on a statement of any connection after `when`
// holds: it stands for someone who changes what a name leads to in the middle of a compaction.
struct DuringAStatement {
    std::function<bool()> when;
    std::function<void()> then;
};
DuringAStatement gDuring;

int OnProgress(void*) {
    if (gDuring.when && gDuring.when()) {
        gDuring.when = nullptr;
        gDuring.then();
    }
    return 0;
}
int WatchStatements(sqlite3* db, const char**, const sqlite3_api_routines*) {
    sqlite3_progress_handler(db, 1, OnProgress, nullptr);
    return SQLITE_OK;
}

class CompactTest : public EngineTest {
  protected:
    // A database with rows, links and many deleted rows.
    void Build(const std::string& file, const std::string& connect = "") {
        auto db = MakeTable(file, 1500, connect);
        db->Execute("CREATE TABLE Notiz (Nr COUNTER, Text MEMO)");
        db->Execute("INSERT INTO Notiz (Text) VALUES ('Größe ÄÖÜ')");
        db->LinkTable(
            {"Fibu", dao::dbAttachedODBC | dao::dbAttachSavePWD, "ODBC;DSN=Fibu;PWD=x", "Konten"});
        db->Execute("DELETE * FROM T WHERE ID > 300");
    }

    Texts Content(const std::string& file, const std::string& connect = "") {
        auto db = engine_->OpenDatabase(Path(file), false, true, connect);
        Texts content = Catalog(*db);
        for (const char* table : {"T", "Notiz"}) {
            for (const std::string& row : Rows(*db, std::string("SELECT * FROM ") + table)) {
                content.push_back(std::string(table) + ":" + row);
            }
        }
        return content;
    }

    // The error of compacting a.mdb to b.mdb while `then` runs once `when` holds.
    int CompactDuring(std::function<bool()> when, std::function<void()> then) {
        gDuring = {std::move(when), std::move(then)};
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(WatchStatements));
        const int error = ErrorOf([&] { engine_->CompactDatabase(Path("a.mdb"), Path("b.mdb")); });
        sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(WatchStatements));
        EXPECT_FALSE(gDuring.when) << "never happened";
        gDuring = {};
        return error;
    }
};

// The copy is smaller and holds what the source held, its password too unless the locale
// argument gives it another one or, empty, none; the source stays as it was.
TEST_F(CompactTest, CopyIsSmallerAndKeepsRowsCatalogAndPassword) {
    Build("a.mdb", ";pwd=brisk");
    const std::string before = ReadFile(Path("a.mdb"));
    const Texts content = Content("a.mdb", ";pwd=brisk");
    EXPECT_EQ(content.size(), 3u + 300u + 1u);
    EXPECT_EQ(ErrorOf([&] { engine_->CompactDatabase(Path("a.mdb"), Path("b.mdb")); }),
              jet::NotValidPassword);
    const std::pair<std::optional<std::string>, const char*> cases[] = {
        {";LANGID=0x0409;pwd=neu", ";pwd=neu"}, {";pwd=", ""}, {std::nullopt, ";pwd=brisk"}};
    for (const auto& [locale, connect] : cases) {
        SCOPED_TRACE(connect);
        EXPECT_EQ(FolderContents(dir_.path()), Texts{"a.mdb"});
        engine_->CompactDatabase(Path("a.mdb"), Path("b.mdb"), locale, std::nullopt, ";pwd=brisk");
        EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(Path("b.mdb"), false, true, ";pwd=x"); }),
                  *connect ? jet::NotValidPassword : 0);
        EXPECT_EQ(Content("b.mdb", connect), content);
        EXPECT_LT(std::filesystem::file_size(Path("b.mdb")), before.size() * 2 / 3);
        if (locale) {
            std::filesystem::remove(Path("b.mdb"));
        }
    }
    EXPECT_EQ(ReadFile(Path("a.mdb")), before);
    // The copy is a full database of its own: its counter goes on where the source's stood.
    auto copy = engine_->OpenDatabase(Path("b.mdb"), false, false, ";pwd=brisk");
    copy->Execute("INSERT INTO Notiz (Text) VALUES ('neu')");
    EXPECT_EQ(Rows(*copy, "SELECT Nr FROM Notiz"), (Texts{"1", "2"}));
}

// A runner who may not give the copy the source's group drops the group's rights rather than
// hand them to another group. (What a root run keeps, the compaction run's tests check.)
TEST_F(CompactTest, ARunnerWhoMayNotSetTheGroupDropsItsRights) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "files of other users need root";
    }
    Build("a.mdb");
    ASSERT_EQ(::chmod(dir_.path().c_str(), 0777), 0);
    ASSERT_EQ(::chown(Path("a.mdb").c_str(), 65534, 0), 0);
    ASSERT_EQ(::chmod(Path("a.mdb").c_str(), 0640), 0);
    const pid_t child = StartChild(
        [&] {
            return ErrorOf([&] { MakeEngine()->CompactDatabase(Path("a.mdb"), Path("b.mdb")); });
        },
        true);
    ASSERT_EQ(WaitChild(child), 0);
    const struct stat st = StatOf(Path("b.mdb"));
    EXPECT_EQ(std::make_tuple(st.st_mode & 07777, st.st_uid, st.st_gid),
              std::make_tuple(0600u, 65534u, 65534u));
}

// The copy goes into the file the compaction created, not wherever its name leads once that
// file is there: a root run must not write a database through a link swapped in meanwhile.
TEST_F(CompactTest, TheCopyIsWrittenOnlyIntoTheFileCreatedForIt) {
    Build("a.mdb");
    std::filesystem::create_directory(Path("woanders"));
    const std::string copy = Path("b.mdb");
    const int error = CompactDuring(
        [&] { return std::filesystem::is_regular_file(std::filesystem::symlink_status(copy)); },
        [&] {
            ::rename(copy.c_str(), Path("b.weg").c_str());
            ::symlink(Path("woanders/opfer").c_str(), copy.c_str());
        });
    EXPECT_FALSE(FileExists(Path("woanders/opfer"))) << "written through the link";
    EXPECT_EQ(error, 75) << "the name no longer holds the copy";
    EXPECT_TRUE(std::filesystem::is_symlink(copy)) << "what took the name stays";
}

// The copy is made of the file the compaction holds, not of whatever the name leads to once the
// hold is taken.
TEST_F(CompactTest, TheCopyIsMadeOfTheFileHeld) {
    Build("a.mdb");
    MakeTable("anders.mdb", 3).reset();
    const Texts held = Content("a.mdb");
    const int error =
        CompactDuring([] { return true; },
                      [&] {
                          ::rename(Path("a.mdb").c_str(), Path("gehalten.mdb").c_str());
                          ::rename(Path("anders.mdb").c_str(), Path("a.mdb").c_str());
                      });
    EXPECT_EQ(error, 0);
    EXPECT_EQ(Content("b.mdb"), held);
}

// Refused compactions, also one that meets damage only while copying, leave no destination and
// every file as it was.
// Refused compactions, also one that meets damage only while copying, leave no destination and
// every file as it was.
TEST_F(CompactTest, FailuresLeaveNoDestinationAndTheSourceAsItWas) {
    Build("a.mdb");
    // Ruin the pages at the end of the file, where the rows are, but not the catalog at its
    // start: the file opens, and the damage shows only when the copy reads the rows.
    std::string damaged = ReadFile(Path("a.mdb"));
    std::fill(damaged.begin() + damaged.size() / 2, damaged.end(), static_cast<char>(0xA5));
    WriteFile(Path("a.mdb"), damaged);
    ASSERT_NO_THROW(engine_->OpenDatabase(Path("a.mdb")));
    WriteFile(Path("da.mdb"), "schon da");
    const std::tuple<const char*, std::optional<std::int32_t>, std::int32_t> cases[] = {
        {"da.mdb", std::nullopt, jet::DatabaseExists},
        {"a.mdb", std::nullopt, jet::DatabaseExists},
        {"ordner/x.mdb", std::nullopt, jet::InvalidPath},
        {"x.mdb", 2, jet::InvalidArgument},  // encrypting
        {"x.mdb", 0x100, jet::InvalidArgument},
        {"x.mdb", std::nullopt, jet::CorruptDatabase},
    };
    for (const auto& [to, options, error] : cases) {
        EXPECT_EQ(ErrorOf([&] {
                      engine_->CompactDatabase(Path("a.mdb"), Path(to), std::nullopt, options);
                  }),
                  error)
            << to;
    }
    EXPECT_EQ(ReadFile(Path("a.mdb")) + ReadFile(Path("da.mdb")), damaged + "schon da");
    EXPECT_EQ(FolderContents(dir_.path()), (Texts{"a.mdb", "da.mdb"}));
}

}  // namespace
}  // namespace tarnu::engine::test
