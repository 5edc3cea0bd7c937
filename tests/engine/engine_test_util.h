#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/linux/engine/engine.h"
#include "platform/linux/engine/errors.h"
#include "ports/error.h"
#include "tests/support/child_process.h"
#include "tests/support/error_of.h"
#include "tests/support/holding_child.h"
#include "tests/support/temp_dir.h"

namespace tarnu::engine::test {

using namespace tarnu::test;

using Texts = std::vector<std::string>;

// Every row of a SELECT, its fields joined by tabs.
Texts Rows(Database& db, const std::string& select);
inline std::string CountOf(Database& db, const std::string& table) {
    return Rows(db, "SELECT COUNT(*) FROM " + table).at(0);
}
// Every table definition in the collection's order as "name|attributes in hex|connect|source
// table".
Texts Catalog(dao::Database& db);

class EngineTest : public ::testing::Test {
  protected:
    std::string Path(const std::string& name) const { return dir_.file(name); }
    // A new database holding table T (ID LONG PRIMARY KEY, Name TEXT(50)) with rows 1..rows.
    std::unique_ptr<Database> MakeTable(const std::string& file, int rows,
                                        const std::string& connect = "");

    tarnu::test::TempDir dir_;
    std::unique_ptr<Engine> engine_ = MakeEngine();
};

}  // namespace tarnu::engine::test
