// Arbitrary bytes opened as a database, then used as the maintenance uses a database: its
// table definitions walked, links deleted, tables emptied and read, the file compacted and the
// copy opened. A file that is refused as foreign must come out unchanged.

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/linux/engine/engine.h"
#include "platform/linux/engine/errors.h"
#include "fuzz/fuzz_support.h"
#include "ports/error.h"

namespace {

void Use(tarnu::engine::Database& db) {
    tarnu::dao::TableDefs& defs = db.TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
        tarnu::dao::TableDef def;
        try {
            def = defs.Item(i);
        } catch (const tarnu::Error&) {
            continue;
        }
        std::string bracketed = "[";
        for (char c : def.Name) {
            bracketed += c;
            if (c == ']') {
                bracketed += ']';
            }
        }
        bracketed += "]";
        try {
            if (def.Attributes == tarnu::dao::dbAttachedTable ||
                def.Attributes == tarnu::dao::dbAttachedODBC) {
                defs.Delete(def.Name);
            } else {
                db.ForEachRow("SELECT COUNT(*) FROM " + bracketed, [](const auto&, const auto&) {});
                db.ForEachRow("SELECT * FROM " + bracketed, [](const auto&, const auto&) {});
                db.Execute("DELETE * FROM " + bracketed + ";");
            }
        } catch (const tarnu::Error&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static auto engine = tarnu::engine::MakeEngine();
    const std::string path = tarnu::fuzz::ScratchFolder() + "/f.mdb";
    const std::string copy = tarnu::fuzz::ScratchFolder() + "/c.mdb";
    std::remove((path + "-journal").c_str());
    std::remove(copy.c_str());
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    tarnu::fuzz::WriteBytes(path, bytes);

    try {
        auto db = engine->OpenDatabase(path, false, false, ";pwd=brisk");
        Use(*db);
    } catch (const tarnu::Error& e) {
        tarnu::fuzz::Check(e.number() != tarnu::engine::jet::UnrecognizedFormat ||
                               tarnu::fuzz::ReadBytes(path) == bytes,
                           "a foreign file was changed");
    }
    try {
        engine->CompactDatabase(path, copy, std::nullopt, std::nullopt, ";pwd=brisk");
        auto db = engine->OpenDatabase(copy, false, true, ";pwd=brisk");
        tarnu::dao::TableDefs& defs = db->TableDefs();
        for (int i = 0; i < defs.Count(); ++i) {
            defs.Item(i);
        }
    } catch (const tarnu::Error&) {
    }
    return 0;
}
