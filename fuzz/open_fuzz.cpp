// Arbitrary bytes opened as a database, then used as the maintenance uses a database: its
// table definitions walked, links deleted, tables emptied and read, the file compacted and the
// copy opened. A file that is refused as foreign must come out unchanged.

#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/linux/engine/engine.h"
#include "platform/linux/engine/errors.h"
#include "ports/error.h"

namespace {

namespace dao = tarnu::dao;

void Use(tarnu::engine::Database& db) {
    dao::TableDefs& defs = db.TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
        try {
            const dao::TableDef def = defs.Item(i);
            if (def.Attributes == dao::dbAttachedTable || def.Attributes == dao::dbAttachedODBC) {
                defs.Delete(def.Name);
                continue;
            }
            std::string table = "[";
            for (const char c : def.Name) {
                table += c == ']' ? "]]" : std::string(1, c);
            }
            table += "]";
            db.ForEachRow("SELECT * FROM " + table, [](const auto&, const auto&) {});
            db.Execute("DELETE * FROM " + table + ";");
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
        Use(*engine->OpenDatabase(path, false, false, ";pwd=brisk"));
    } catch (const tarnu::Error& e) {
        tarnu::fuzz::Check(e.number() != tarnu::engine::jet::UnrecognizedFormat ||
                               tarnu::fuzz::ReadBytes(path) == bytes,
                           "a foreign file was changed");
    }
    try {
        engine->CompactDatabase(path, copy, std::nullopt, std::nullopt, ";pwd=brisk");
        Use(*engine->OpenDatabase(copy, false, true, ";pwd=brisk"));
    } catch (const tarnu::Error&) {
    }
    return 0;
}
