// Arbitrary text as a Jet statement: parsed, compiled and run against a real database inside a
// transaction that is rolled back, so every input meets the same tables.

#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/linux/engine/engine.h"
#include "platform/linux/engine/errors.h"
#include "ports/error.h"

namespace {

std::unique_ptr<tarnu::engine::Database> MakeDatabase() {
    static auto engine = tarnu::engine::MakeEngine();
    auto db = engine->CreateDatabase(tarnu::fuzz::ScratchFolder() + "/f.mdb");
    db->Execute("CREATE TABLE T (ID LONG PRIMARY KEY, Name TEXT(20), Wert DOUBLE, Ja YESNO)");
    db->Execute("CREATE TABLE [Temp_a]]b] (Nr COUNTER, Notiz MEMO, Daten LONGBINARY)");
    for (const char* row : {"1, 'Zeile 1', 1.5, True", "2, NULL, -2, False", "3, 'x', 0, NULL"}) {
        db->Execute(std::string("INSERT INTO T VALUES (") + row + ")");
        db->Execute("INSERT INTO [Temp_a]]b] (Notiz) VALUES ('Notiz')");
    }
    db->LinkTable({"L", tarnu::dao::dbAttachedODBC, "ODBC;DSN=x;", "Quelle"});
    return db;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto db = MakeDatabase();
    static const int tables = db->TableDefs().Count();
    const std::string statement(reinterpret_cast<const char*>(data), size);
    db->BeginTrans();
    try {
        db->Execute(statement);
    } catch (const tarnu::Error& e) {
        if (e.number() == tarnu::engine::jet::CannotExecuteSelect) {
            try {
                db->ForEachRow(statement, [](const auto&, const auto&) {});
            } catch (const tarnu::Error&) {
            }
        }
    }
    db->Rollback();
    // Whatever the statement did is undone: the catalog must be as it was.
    tarnu::fuzz::Check(db->TableDefs().Count() == tables, "a statement stayed done");
    return 0;
}
