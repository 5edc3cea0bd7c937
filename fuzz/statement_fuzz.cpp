// Arbitrary text as a Jet statement: parsed, compiled and run against a real database inside a
// transaction that is rolled back, so every input meets the same tables.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "engine/engine.h"
#include "ports/error.h"

namespace {

using tarnu::engine::Database;

struct Fixture {
    std::unique_ptr<tarnu::engine::Engine> engine = tarnu::engine::MakeEngine();
    std::unique_ptr<Database> db;
    std::string folder;
    int tableCount = 0;

    Fixture() {
        char pattern[] = "/dev/shm/tarnu-statement-fuzz-XXXXXX";
        char* dir = mkdtemp(pattern);
        if (!dir) {
            abort();
        }
        folder = dir;
        db = engine->CreateDatabase(folder + "/f.mdb");
        db->Execute("CREATE TABLE T (ID LONG PRIMARY KEY, Name TEXT(20), Wert DOUBLE, Ja YESNO)");
        db->Execute("CREATE TABLE [Temp_a]]b] (Nr COUNTER, Notiz MEMO, Daten LONGBINARY)");
        for (int i = 1; i <= 20; ++i) {
            db->Execute("INSERT INTO T VALUES (" + std::to_string(i) + ", 'Zeile " +
                        std::to_string(i) + "', " + std::to_string(i) + ".5, " +
                        (i % 2 ? "True" : "False") + ")");
            db->Execute("INSERT INTO [Temp_a]]b] (Notiz) VALUES ('Notiz " + std::to_string(i) +
                        "')");
        }
        db->LinkTable({"L", tarnu::dao::dbAttachedODBC, "ODBC;DSN=x;", "Quelle"});
        tableCount = db->TableDefs().Count();
    }

    ~Fixture() {
        db.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

bool StartsWithSelect(const std::string& s) {
    std::size_t i = s.find_first_not_of(" \t\r\n");
    return i != std::string::npos && s.size() - i >= 6 &&
           (s.compare(i, 6, "SELECT") == 0 || s.compare(i, 6, "select") == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixture;
    std::string statement(reinterpret_cast<const char*>(data), size);
    Database& db = *fixture.db;
    db.BeginTrans();
    try {
        if (StartsWithSelect(statement)) {
            db.ForEachRow(statement, [](const auto&, const auto&) {});
        } else {
            db.Execute(statement);
        }
    } catch (const tarnu::Error&) {
    }
    db.Rollback();
    // Whatever the statement did is undone: the catalog must be as it was.
    if (db.TableDefs().Count() != fixture.tableCount) {
        abort();
    }
    return 0;
}
