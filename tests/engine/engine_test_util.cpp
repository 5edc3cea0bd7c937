#include "tests/engine/engine_test_util.h"

#include <cstdio>

namespace tarnu::engine::test {

Texts Rows(Database& db, const std::string& select) {
    Texts rows;
    db.ForEachRow(select, [&](const Texts&, const std::vector<Value>& row) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += (i ? "\t" : "") + row[i].ToText();
        }
        rows.push_back(line);
    });
    return rows;
}

Texts Catalog(dao::Database& db) {
    Texts catalog;
    dao::TableDefs& defs = db.TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
        const dao::TableDef d = defs.Item(i);
        char attributes[16];
        std::snprintf(attributes, sizeof attributes, "%X", static_cast<unsigned>(d.Attributes));
        catalog.push_back(d.Name + "|" + attributes + "|" + d.Connect + "|" + d.SourceTableName);
    }
    return catalog;
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
