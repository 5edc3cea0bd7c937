#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/engine/engine_test_util.h"

namespace tarnu::engine::test {
namespace {

class OpenTest : public EngineTest {};

// The file after SQLite alone, past the engine, ran the statements on it.
std::string RunSqlite(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return ReadFile(path);
}

// Neither an open nor a compaction changes a file it refuses, nor rolls a journal beside it into
// it, nor leaves a copy behind.
TEST_F(OpenTest, RefusedFilesAreLeftByteForByte) {
    MakeTable("ours.mdb", 200).reset();
    const std::string ours = ReadFile(Path("ours.mdb"));
    const auto changed = [&](std::size_t from, std::size_t to, char byte) {
        std::string bytes = ours;
        std::fill(bytes.begin() + from, bytes.begin() + to, byte);
        return bytes;
    };
    std::filesystem::create_directory(Path("ordner.mdb"));
    const std::tuple<std::string, std::optional<std::string>, std::int32_t> cases[] = {
        {"fehlt.mdb", std::nullopt, jet::FileNotFound},
        {"fehlt/a.mdb", std::nullopt, jet::InvalidPath},
        {"ordner.mdb", std::nullopt, jet::FileNotFound},
        {"ordner.mdb/", std::nullopt, jet::InvalidPath},
        {std::string("ours.mdb\0", 9), std::nullopt, jet::InvalidPath},
        {"leer.mdb", "", jet::UnrecognizedFormat},
        {"kurz.mdb", ours.substr(0, 50), jet::UnrecognizedFormat},
        {"fremd.mdb", RunSqlite(Path("fremd.mdb"), "CREATE TABLE x (a)"), jet::UnrecognizedFormat},
        {"wal.mdb", changed(18, 19, 2), jet::UnrecognizedFormat},
        {"version.mdb", changed(63, 64, 7), jet::UnrecognizedFormat},  // a later layout
        // The header kept, the schema page and everything after it ruined.
        {"kaputt.mdb", changed(100, ours.size(), '\xA5'), jet::CorruptDatabase},
    };
    for (const auto& [name, bytes, error] : cases) {
        SCOPED_TRACE(name);
        const std::string journal = Path(name) + "-journal";
        if (bytes) {
            WriteFile(Path(name), *bytes);
            WriteFile(journal, ours.substr(0, 4096));
        }
        EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(Path(name)); }), error);
        EXPECT_EQ(ErrorOf([&] { engine_->CompactDatabase(Path(name), Path("copy.mdb")); }), error);
        if (bytes) {
            EXPECT_EQ(ReadFile(Path(name)), *bytes);
            EXPECT_EQ(FileExists(journal), error != jet::CorruptDatabase);
            std::filesystem::remove(journal);
        }
    }
    EXPECT_FALSE(FileExists(Path("copy.mdb")) || FileExists(Path("fehlt.mdb")));
    // The smallest page size SQLite knows is no reason to refuse a file.
    RunSqlite(Path("ours.mdb"), "PRAGMA page_size = 512; VACUUM");
    EXPECT_EQ(CountOf(*engine_->OpenDatabase(Path("ours.mdb"), false, false, ""), "T"), "200");
}

// Only the database's own journal is rolled into it: another user's file at the journal's name,
// or a link there, would write pages of their choosing into the database. The message names the
// journal and its owner, who is the one to ask.
TEST_F(OpenTest, OnlyTheDatabasesOwnJournalIsRolledBack) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a journal of another user needs root";
    }
    for (const std::string name : {"eigen", "fremd", "verweis"}) {
        SCOPED_TRACE(name);
        const std::string db = Path(name + ".mdb");
        const std::string journal = db + "-journal";
        std::string kept = journal;
        MakeTable(name + ".mdb", 100).reset();
        // A writer that dies in the middle of a transaction whose pages already reached the file.
        WaitChild(StartChild([&] {
            sqlite3* raw = nullptr;
            sqlite3_open_v2(db.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
            sqlite3_exec(
                raw,
                "PRAGMA cache_size = 1; BEGIN;"
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 4000)"
                " INSERT INTO T SELECT 1000 + i, 'neue Zeile' FROM n;",
                nullptr, nullptr, nullptr);
            return 0;  // gone without a commit or a close
        }));
        ASSERT_GT(std::filesystem::file_size(journal), 0u);
        std::string reason =
            "Ihr Journal '" + journal + "' gehört dem Benutzer 'nobody' (UID 65534)";
        if (name == "fremd") {
            ASSERT_EQ(::chown(journal.c_str(), 65534, 65534), 0);
        } else if (name == "verweis") {
            kept = Path("woanders");
            ASSERT_EQ(::rename(journal.c_str(), kept.c_str()), 0);
            ASSERT_EQ(::symlink(kept.c_str(), journal.c_str()), 0);
            // The link belongs to a user the system does not know.
            ASSERT_EQ(::lchown(journal.c_str(), 54321, 54321), 0);
            reason = "An der Stelle ihres Journals '" + journal +
                     "' liegt keine gewöhnliche Datei (Eigentümer: UID 54321).";
        }
        const std::string bytes = ReadFile(kept);
        std::string count;
        const std::string error = ErrorTextOf(
            [&] { count = CountOf(*engine_->OpenDatabase(db, false, false, ""), "T"); });
        const bool own = name == "eigen";
        const std::string expected =
            own ? ""
                : "3051: Auf die Datenbank '" + db + "' kann nicht zugegriffen werden: " + reason;
        EXPECT_EQ(error.substr(0, expected.size()), expected);
        EXPECT_EQ(count, own ? "100" : "") << "the dead writer's rows are rolled back";
        EXPECT_EQ(FileExists(kept) ? ReadFile(kept) : "", own ? "" : bytes) << "journal misused";
    }
}

// A protected file opens only with its password, which it does not hold as it is; a password
// given for an unprotected file is of no concern, one too long is refused.
TEST_F(OpenTest, ProtectedDatabaseNeedsItsPassword) {
    MakeTable("system.srv", 2, ";pwd=brisk").reset();
    for (const char* wrong : {"", ";pwd=Brisk", ";pwd="}) {
        EXPECT_EQ(ErrorOf([&] { engine_->OpenDatabase(Path("system.srv"), false, false, wrong); }),
                  jet::NotValidPassword)
            << wrong;
    }
    EXPECT_EQ(CountOf(*engine_->OpenDatabase(Path("system.srv"), false, false, ";PWD=brisk"), "T"),
              "2");
    EXPECT_EQ(ReadFile(Path("system.srv")).find("brisk"), std::string::npos);
    for (const int length : {20, 21}) {
        const std::string name = Path(std::to_string(length));
        EXPECT_EQ(
            ErrorOf([&] { engine_->CreateDatabase(name, ";pwd=" + std::string(length, 'x')); }),
            length > 20 ? jet::InvalidArgument : 0);
        EXPECT_EQ(FileExists(name), length == 20);
    }
    MakeTable("offen.mdb", 1).reset();
    EXPECT_NO_THROW(engine_->OpenDatabase(Path("offen.mdb"), false, false, ";pwd=egal"));
}

TEST_F(OpenTest, ReadOnlyOpenRefusesChangesAndCreatingNeverOverwrites) {
    MakeTable("a.mdb", 3).reset();
    const std::string before = ReadFile(Path("a.mdb"));
    auto db = engine_->OpenDatabase(Path("a.mdb"), false, true, "");
    EXPECT_EQ(ErrorOf([&] { db->Execute("DELETE * FROM T"); }), jet::ReadOnly);
    EXPECT_EQ(ErrorOf([&] { db->TableDefs().Delete("T"); }), jet::ReadOnly);
    EXPECT_EQ(ErrorOf([&] { engine_->CreateDatabase(Path("a.mdb")); }), jet::DatabaseExists);
    EXPECT_EQ(ReadFile(Path("a.mdb")), before);
}

}  // namespace
}  // namespace tarnu::engine::test
