#include "dbmaint/cleanup.h"

#include <cstdint>
#include <memory>

namespace tarnu::dbmaint {

namespace {

constexpr const char* kLinkedDatabases[] = {"KDL.mdb", "kdlcode.mde", "Tarnu-Admin.mde"};
constexpr const char* kAdminDatabase = "Tarnu-Admin.mde";
constexpr const char* kTempPrefix = "Temp_";

bool IsLink(std::int32_t attributes) {
    // Whole values only: a link carrying a further flag (such as a saved password) stays.
    return attributes == dao::dbAttachedTable || attributes == dao::dbAttachedODBC;
}

bool IsTemporary(const dao::TableDef& def) {
    return def.Attributes == 0 && def.Name.compare(0, 5, kTempPrefix) == 0;
}

void RemoveLinks(dao::DBEngine& engine, const std::string& name) {
    std::int32_t deleted = 0;
    std::int32_t passes = 0;
    std::unique_ptr<dao::Database> db;
    do {
        // The previous pass's database goes only once the new one is assigned.
        auto next = engine.OpenDatabase(name);
        db = std::move(next);
        dao::TableDefs& defs = db->TableDefs();
        // Walked the way the engine's own enumeration walks: by position, so that a deletion
        // shifts the next entry under the cursor and it is skipped until a later pass.
        for (int i = 0; i < defs.Count(); ++i) {
            const dao::TableDef def = defs.Item(i);
            if (IsLink(def.Attributes)) {
                defs.Delete(def.Name);
                ++deleted;
            }
        }
        ++passes;
    } while (deleted > 0 && passes < MaxLinkRemovalPasses);
}

void PurgeTemporaryTables(dao::DBEngine& engine, const std::string& name) {
    auto db = engine.OpenDatabase(name);
    dao::TableDefs& defs = db->TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
        const dao::TableDef def = defs.Item(i);
        if (IsTemporary(def)) {
            db->Execute("DELETE * FROM " + QuoteName(def.Name) + ";");
        }
    }
}

}  // namespace

std::string QuoteName(const std::string& name) {
    std::string quoted = "[";
    for (char c : name) {
        quoted += c;
        if (c == ']') {
            quoted += ']';
        }
    }
    return quoted + "]";
}

void CleanupDatabases(EngineHolder& engine) {
    dao::DBEngine& dao = engine.Get();
    // A name opened eleven times must not lead to eleven files: a name turned into a link
    // between two passes would have the links of some other database deleted.
    const std::unique_ptr<dao::Pins> pins = dao.PinFiles();
    for (const char* name : kLinkedDatabases) {
        RemoveLinks(dao, name);
    }
    PurgeTemporaryTables(dao, kAdminDatabase);
}

}  // namespace tarnu::dbmaint
