#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/engine/engine_test_util.h"

namespace tarnu::engine::test {
namespace {

class OpenTest : public EngineTest {};

TEST_F(OpenTest, MissingFileAndMissingFolderAreToldApart) {
    EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(Path("fehlt.mdb")); }), jet::FileNotFound);
    EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(Path("ordner/fehlt.mdb")); }), jet::InvalidPath);
    // A folder is no database file; a name with a NUL must not open the file before the NUL.
    std::filesystem::create_directory(Path("ordner.mdb"));
    EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(Path("ordner.mdb")); }), jet::FileNotFound);
    MakeTable("a.mdb", 1).reset();
    EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(Path("a.mdb") + std::string(1, '\0')); }),
              jet::InvalidPath);
    EXPECT_EQ(FolderContents(dir_.path()), (Texts{"a.mdb", "ordner.mdb"}));
}

// Builds a database of another SQLite application: a valid SQLite file that is not ours.
std::string ForeignSqliteFile(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE x (a); INSERT INTO x VALUES (1);", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return ReadFile(path);
}

TEST_F(OpenTest, ForeignFilesAreRefusedAndLeftByteForByte) {
    MakeTable("ours.mdb", 5).reset();
    const std::string ours = ReadFile(Path("ours.mdb"));
    std::string walMode = ours;
    walMode[18] = walMode[19] = 2;
    std::string otherFormat = ours;
    otherFormat[63] = 7;  // a later layout version
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"leer.mdb", ""},
        {"text.mdb", "Dies ist keine Datenbank.\n"},
        {"kurz.mdb", ours.substr(0, 50)},
        {"fremd.mdb", ForeignSqliteFile(Path("fremd.mdb"))},
        {"wal.mdb", walMode},
        {"version.mdb", otherFormat},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        WriteFile(Path(name), bytes);
        // A journal beside the file must not be rolled into it either.
        const std::string journal = Path(name) + "-journal";
        WriteFile(journal, ours.substr(0, 4096));
        EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(Path(name)); }), jet::UnrecognizedFormat);
        EXPECT_EQ(ErrorOf([&] { engine_->CompactDatabase(Path(name), Path("copy.mdb")); }),
                  jet::UnrecognizedFormat);
        EXPECT_EQ(ReadFile(Path(name)), bytes);
        EXPECT_EQ(ReadFile(journal), ours.substr(0, 4096));
        EXPECT_FALSE(FileExists(Path("copy.mdb")));
        std::filesystem::remove(journal);
    }
}

TEST_F(OpenTest, CorruptDatabaseIsRefusedAndLeftByteForByte) {
    MakeTable("kaputt.mdb", 200).reset();
    std::string bytes = ReadFile(Path("kaputt.mdb"));
    // Keep the header, ruin the schema page and everything after it.
    for (std::size_t i = 100; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 + 3);
    }
    WriteFile(Path("kaputt.mdb"), bytes);
    EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(Path("kaputt.mdb")); }), jet::CorruptDatabase);
    EXPECT_EQ(ReadFile(Path("kaputt.mdb")), bytes);
    EXPECT_EQ(FolderContents(dir_.path()), Texts{"kaputt.mdb"});
}

// A writer that dies in the middle of a transaction whose pages already reached the file leaves
// a journal that the next open rolls back.
void LeaveHotJournal(const std::string& path) {
    tarnu::test::WaitChild(tarnu::test::StartChild([&] {
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(
            db,
            "PRAGMA cache_size = 1; BEGIN;"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 4000)"
            " INSERT INTO T SELECT 1000 + i, 'neue Zeile' FROM n;",
            nullptr, nullptr, nullptr);
        return 0;  // gone without a commit or a close
    }));
}

// Only the database's own journal is rolled into it: another user's file at the journal's name,
// or a link there, would write pages of their choosing into the database.
TEST_F(OpenTest, OnlyTheDatabasesOwnJournalIsRolledBack) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a journal of another user needs root";
    }
    struct Case {
        const char* name;
        bool foreign;
        bool link;
    };
    for (const Case& c :
         {Case{"eigen", false, false}, Case{"fremd", true, false}, Case{"verweis", false, true}}) {
        SCOPED_TRACE(c.name);
        const std::string db = Path(std::string(c.name) + ".mdb");
        const std::string journal = db + "-journal";
        MakeTable(std::string(c.name) + ".mdb", 100).reset();
        LeaveHotJournal(db);
        ASSERT_GT(std::filesystem::file_size(journal), 0u);
        std::string kept = journal;
        if (c.foreign) {
            ASSERT_EQ(::chown(journal.c_str(), 65534, 65534), 0);
        }
        if (c.link) {
            kept = Path(std::string(c.name) + ".woanders");
            ASSERT_EQ(::rename(journal.c_str(), kept.c_str()), 0);
            ASSERT_EQ(::symlink(kept.c_str(), journal.c_str()), 0);
        }
        const std::string bytes = ReadFile(kept);
        std::string count;
        const std::string error = ErrorTextOf([&] {
            auto opened = engine_->OpenDatabase(db, false, false, "");
            count = CountOf(*opened, "T");
        });
        if (c.foreign || c.link) {
            // The message names the journal and its owner, who is the one to ask.
            EXPECT_EQ(error.rfind("3051: Auf die Datenbank '" + db +
                                      "' kann nicht zugegriffen "
                                      "werden: " +
                                      (c.link ? "An der Stelle ihres Journals '" + journal +
                                                    "' liegt keine gewöhnliche Datei"
                                              : "Ihr Journal '" + journal +
                                                    "' gehört dem Benutzer 'nobody' (UID "
                                                    "65534)"),
                                  0),
                      0u)
                << error;
            EXPECT_TRUE(ReadFile(kept) == bytes) << "the journal was used";
        } else {
            EXPECT_EQ(error, "");
            EXPECT_EQ(count, "100") << "the dead writer's rows are rolled back";
            EXPECT_FALSE(FileExists(journal));
        }
    }
}

TEST_F(OpenTest, ProtectedDatabaseNeedsItsPassword) {
    MakeTable("system.srv", 2, ";pwd=brisk").reset();
    for (const char* wrong : {"", ";pwd=Brisk", ";pwd="}) {
        EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(Path("system.srv"), false, false, wrong); }),
                  jet::NotValidPassword)
            << wrong;
    }
    auto db = engine_->OpenDatabase(Path("system.srv"), false, false, ";PWD=brisk");
    EXPECT_EQ(Rows(*db, "SELECT Name FROM T WHERE ID = 2"), Texts{"Zeile 2"});
    db.reset();
    EXPECT_EQ(ReadFile(Path("system.srv")).find("brisk"), std::string::npos);
    // A password given for an unprotected file is of no concern.
    MakeTable("offen.mdb", 1).reset();
    EXPECT_NO_THROW(engine_->OpenDatabase(Path("offen.mdb"), false, false, ";pwd=egal"));
    EXPECT_EQ(
        ErrorOf([&] { engine_->CreateDatabase(Path("lang.mdb"), ";pwd=" + std::string(21, 'x')); }),
        jet::InvalidArgument);
    EXPECT_FALSE(FileExists(Path("lang.mdb")));
}

TEST_F(OpenTest, ReadOnlyOpenRefusesChangesAndCreatingNeverOverwrites) {
    MakeTable("a.mdb", 3).reset();
    const std::string before = ReadFile(Path("a.mdb"));
    auto db = engine_->OpenDatabase(Path("a.mdb"), false, true, "");
    EXPECT_EQ(ErrorOf([&] { db->Execute("DELETE * FROM T"); }), jet::ReadOnly);
    EXPECT_EQ(ErrorOf([&] { db->TableDefs().Delete("T"); }), jet::ReadOnly);
    db.reset();
    EXPECT_EQ(ErrorOf([&] { engine_->CreateDatabase(Path("a.mdb")); }), jet::DatabaseExists);
    EXPECT_EQ(ReadFile(Path("a.mdb")), before);
}

}  // namespace
}  // namespace tarnu::engine::test
