// Arbitrary text as a Jet statement: parsed, compiled and run against a real database inside a
// transaction that is rolled back, so every input meets the same tables.

#include <cstdint>
#include <string>

#include "platform/linux/engine/engine.h"
#include "fuzz/fuzz_support.h"
#include "ports/error.h"

namespace {

using tarnu::engine::Database;

struct Fixture {
    std::unique_ptr<tarnu::engine::Engine> engine = tarnu::engine::MakeEngine();
    std::unique_ptr<Database> db;
    int tableCount = 0;

    Fixture() {
        db = engine->CreateDatabase(tarnu::fuzz::ScratchFolder() + "/f.mdb");
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
    tarnu::fuzz::Check(db.TableDefs().Count() == fixture.tableCount, "a statement stayed done");
    return 0;
}
