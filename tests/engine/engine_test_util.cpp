#include "tests/engine/engine_test_util.h"

namespace tarnu::engine::test {

std::vector<std::string> Rows(Database& db, const std::string& select) {
    std::vector<std::string> rows;
    db.ForEachRow(select, [&](const std::vector<std::string>&, const std::vector<Value>& row) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += (i ? "\t" : "") + row[i].ToText();
        }
        rows.push_back(line);
    });
    return rows;
}

std::string CountOf(Database& db, const std::string& table) {
    return Rows(db, "SELECT COUNT(*) FROM " + table).at(0);
}

std::vector<std::string> TableNames(dao::Database& db) {
    std::vector<std::string> names;
    dao::TableDefs& defs = db.TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
        names.push_back(defs.Item(i).Name);
    }
    return names;
}

std::unique_ptr<Database> EngineTest::MakeTable(const std::string& file, int rows,
                                                const std::string& connect) {
    auto db = engine_->CreateDatabase(Path(file), connect);
    db->Execute("CREATE TABLE T (ID LONG PRIMARY KEY, Name TEXT(50))");
    db->BeginTrans();
    for (int i = 1; i <= rows; ++i) {
        db->Execute("INSERT INTO T VALUES (" + std::to_string(i) + ", 'Zeile " + std::to_string(i) +
                    "')");
    }
    db->CommitTrans();
    return db;
}

}  // namespace tarnu::engine::test
