#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <tuple>

#include "tests/engine/engine_test_util.h"

namespace tarnu::engine::test {
namespace {

// Runs once, the first time SQLite works on a statement of any connection after `when` holds.
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

// SQLite's own file layer, except that looking up the full name of `armed` first runs `then`:
// it stands for someone who changes what a name leads to just before SQLite opens it.
struct BeforeOpen {
    std::string armed;
    std::function<void()> then;
};
BeforeOpen gBeforeOpen;
sqlite3_vfs gTracingVfs;

int FullPathnameAfterSwap(sqlite3_vfs*, const char* name, int size, char* out) {
    if (!gBeforeOpen.armed.empty() && gBeforeOpen.armed == name) {
        gBeforeOpen.armed.clear();
        gBeforeOpen.then();
    }
    sqlite3_vfs* unix = sqlite3_vfs_find("unix");
    return unix->xFullPathname(unix, name, size, out);
}

class CompactTest : public EngineTest {
  protected:
    // A database with rows, links and many deleted rows.
    void Build(const std::string& file, const std::string& connect = "") {
        auto db = MakeTable(file, 1500, connect);
        db->Execute("CREATE TABLE Leer (a TEXT(10))");
        db->Execute("CREATE TABLE Notiz (Nr COUNTER, Text MEMO)");
        db->Execute("INSERT INTO Notiz (Text) VALUES ('Größe ÄÖÜ')");
        db->LinkTable(
            {"Fibu", dao::dbAttachedODBC | dao::dbAttachSavePWD, "ODBC;DSN=Fibu;PWD=x", "Konten"});
        db->Execute("DELETE * FROM T WHERE ID > 300");
    }

    Texts Content(const std::string& file, const std::string& connect = "") {
        auto db = engine_->OpenDatabase(Path(file), false, true, connect);
        Texts content;
        dao::TableDefs& defs = db->TableDefs();
        for (int i = 0; i < defs.Count(); ++i) {
            dao::TableDef d = defs.Item(i);
            content.push_back(d.Name + "|" + std::to_string(d.Attributes) + "|" + d.Connect + "|" +
                              d.SourceTableName);
        }
        for (const char* table : {"T", "Leer", "Notiz"}) {
            for (const std::string& row : Rows(*db, std::string("SELECT * FROM ") + table)) {
                content.push_back(std::string(table) + ":" + row);
            }
        }
        return content;
    }

    static std::uintmax_t Size(const std::string& path) { return std::filesystem::file_size(path); }
};

TEST_F(CompactTest, CopyIsSmallerAndKeepsRowsCatalogAndSource) {
    Build("a.mdb");
    std::string before = ReadFile(Path("a.mdb"));
    engine_->CompactDatabase(Path("a.mdb"), Path("b.mdb"));
    EXPECT_EQ(ReadFile(Path("a.mdb")), before);
    EXPECT_LT(Size(Path("b.mdb")), Size(Path("a.mdb")) * 2 / 3);
    Texts content = Content("b.mdb");
    EXPECT_EQ(content, Content("a.mdb"));
    EXPECT_EQ(content.size(), 4u + 300u + 1u);
    EXPECT_EQ(FolderContents(dir_.path()), (Texts{"a.mdb", "b.mdb"}));
    // The copy is a full database of its own: its counter goes on where the source's stood.
    auto copy = engine_->OpenDatabase(Path("b.mdb"), false, false, "");
    copy->Execute("INSERT INTO Notiz (Text) VALUES ('neu')");
    EXPECT_EQ(Rows(*copy, "SELECT Nr FROM Notiz ORDER BY Nr"), (Texts{"1", "2"}));
}

TEST_F(CompactTest, PasswordTravelsWithTheCopy) {
    Build("system.srv", ";pwd=brisk");
    EXPECT_EQ(ErrorOf([&] { engine_->CompactDatabase(Path("system.srv"), Path("x.mdb")); }),
              jet::NotValidPassword);
    EXPECT_FALSE(FileExists(Path("x.mdb")));

    engine_->CompactDatabase(Path("system.srv"), Path("x.mdb"), std::nullopt, std::nullopt,
                             ";pwd=brisk");
    EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(Path("x.mdb")); }), jet::NotValidPassword);
    EXPECT_EQ(Content("x.mdb", ";pwd=brisk"), Content("system.srv", ";pwd=brisk"));

    // A password in the locale argument replaces the source's for the copy; an empty one
    // removes it.
    engine_->CompactDatabase(Path("system.srv"), Path("neu.mdb"), ";LANGID=0x0409;pwd=neu", 64,
                             ";pwd=brisk");
    EXPECT_EQ(ErrorOf([&] { Content("neu.mdb", ";pwd=brisk"); }), jet::NotValidPassword);
    EXPECT_EQ(Content("neu.mdb", ";pwd=neu"), Content("system.srv", ";pwd=brisk"));
    engine_->CompactDatabase(Path("system.srv"), Path("offen.mdb"), ";pwd=", std::nullopt,
                             ";pwd=brisk");
    EXPECT_NO_THROW(engine_->OpenDatabase(Path("offen.mdb")));
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
    const pid_t child = tarnu::test::StartChild(
        [&] {
            return ErrorOf([&] { MakeEngine()->CompactDatabase(Path("a.mdb"), Path("b.mdb")); });
        },
        true);
    ASSERT_EQ(tarnu::test::WaitChild(child), 0);
    const struct stat st = tarnu::test::StatOf(Path("b.mdb"));
    EXPECT_EQ(std::make_tuple(st.st_mode & 07777, st.st_uid, st.st_gid),
              std::make_tuple(0600u, 65534u, 65534u));
}

// The copy goes into the file the compaction created, not wherever its name leads once that
// file is there: a root run must not write a database through a link swapped in meanwhile.
TEST_F(CompactTest, TheCopyIsWrittenOnlyIntoTheFileCreatedForIt) {
    Build("a.mdb");
    std::filesystem::create_directory(Path("woanders"));
    const std::string victim = Path("woanders/opfer");
    const std::string copy = Path("b.mdb");
    gDuring.when = [&] {
        struct stat st {};
        return ::lstat(copy.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    };
    gDuring.then = [&] {
        ::rename(copy.c_str(), Path("b.weg").c_str());
        ::symlink(victim.c_str(), copy.c_str());
    };
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(WatchStatements));
    const int error = ErrorOf([&] { engine_->CompactDatabase(Path("a.mdb"), copy); });
    sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(WatchStatements));
    gDuring = {};

    EXPECT_FALSE(FileExists(victim)) << "written through the link";
    EXPECT_EQ(error, 75) << "the name no longer holds the copy";
    EXPECT_TRUE(std::filesystem::is_symlink(copy)) << "what took the name stays";
}

// The copy is made of the file the compaction holds, not of whatever the name leads to once the
// hold is taken.
TEST_F(CompactTest, TheCopyIsMadeOfTheFileHeld) {
    Build("a.mdb");
    MakeTable("anders.mdb", 3).reset();
    const Texts held = Content("a.mdb");
    gTracingVfs = *sqlite3_vfs_find("unix");
    gTracingVfs.zName = "tausch";
    gTracingVfs.xFullPathname = FullPathnameAfterSwap;
    ASSERT_EQ(sqlite3_vfs_register(&gTracingVfs, 1), SQLITE_OK);
    gBeforeOpen.armed = Path("a.mdb");
    gBeforeOpen.then = [&] {
        ::rename(Path("a.mdb").c_str(), Path("gehalten.mdb").c_str());
        ::rename(Path("anders.mdb").c_str(), Path("a.mdb").c_str());
    };
    const int error = ErrorOf([&] { engine_->CompactDatabase(Path("a.mdb"), Path("b.mdb")); });
    sqlite3_vfs_unregister(&gTracingVfs);
    gBeforeOpen = {};

    EXPECT_EQ(error, 0);
    EXPECT_EQ(Content("b.mdb"), held);
}

TEST_F(CompactTest, FailuresLeaveNoDestinationAndTheSourceAsItWas) {
    Build("a.mdb");
    std::string source = ReadFile(Path("a.mdb"));
    WriteFile(Path("da.mdb"), "schon da");
    struct Case {
        const char* name;
        std::string from;
        std::string to;
        std::optional<std::int32_t> options;
        std::int32_t error;
    };
    const Case cases[] = {
        {"source missing", Path("fehlt.mdb"), Path("x.mdb"), std::nullopt, jet::FileNotFound},
        {"destination exists", Path("a.mdb"), Path("da.mdb"), std::nullopt, jet::DatabaseExists},
        {"onto itself", Path("a.mdb"), Path("a.mdb"), std::nullopt, jet::DatabaseExists},
        {"folder missing", Path("a.mdb"), Path("ordner/x.mdb"), std::nullopt, jet::InvalidPath},
        {"encrypt", Path("a.mdb"), Path("x.mdb"), 2, jet::InvalidArgument},
        {"unknown option", Path("a.mdb"), Path("x.mdb"), 0x100, jet::InvalidArgument},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ErrorOf([&] { engine_->CompactDatabase(c.from, c.to, std::nullopt, c.options); }),
                  c.error);
    }
    EXPECT_EQ(ReadFile(Path("a.mdb")), source);
    EXPECT_EQ(ReadFile(Path("da.mdb")), "schon da");
    EXPECT_EQ(FolderContents(dir_.path()), (Texts{"a.mdb", "da.mdb"}));
}

TEST_F(CompactTest, DamageFoundWhileCopyingLeavesNoDestination) {
    Build("a.mdb");
    // Ruin the pages at the end of the file, where the rows are, but not the catalog at its
    // start: the file opens, and the damage shows only when the copy reads the rows.
    std::string bytes = ReadFile(Path("a.mdb"));
    for (std::size_t i = bytes.size() / 2; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(0xA5);
    }
    WriteFile(Path("a.mdb"), bytes);
    ASSERT_NO_THROW(engine_->OpenDatabase(Path("a.mdb")));
    EXPECT_EQ(ErrorOf([&] { engine_->CompactDatabase(Path("a.mdb"), Path("b.mdb")); }),
              jet::CorruptDatabase);
    EXPECT_EQ(ReadFile(Path("a.mdb")), bytes);
    EXPECT_EQ(FolderContents(dir_.path()), Texts{"a.mdb"});
}

}  // namespace
}  // namespace tarnu::engine::test
