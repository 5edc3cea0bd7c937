// Arbitrary bytes opened as a database, then used as the maintenance uses a database: its
// table definitions walked, links deleted, tables emptied and read, the file compacted and the
// copy opened. A file that is refused as foreign must come out unchanged.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/engine.h"
#include "engine/errors.h"
#include "ports/error.h"

namespace {

namespace jet = tarnu::engine::jet;

// A folder in memory for the file under test, removed when the fuzzer ends.
struct Scratch {
    std::string folder;
    Scratch() {
        char pattern[] = "/dev/shm/tarnu-open-fuzz-XXXXXX";
        char* dir = mkdtemp(pattern);
        if (!dir) {
            abort();
        }
        folder = dir;
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

const std::string& Folder() {
    static const Scratch scratch;
    return scratch.folder;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

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
    const std::string path = Folder() + "/f.mdb";
    const std::string copy = Folder() + "/c.mdb";
    std::remove(path.c_str());
    std::remove((path + "-journal").c_str());
    std::remove(copy.c_str());
    std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(path, std::ios::binary);
        out << bytes;
    }

    try {
        auto db = engine->OpenDatabase(path, false, false, ";pwd=brisk");
        Use(*db);
    } catch (const tarnu::Error& e) {
        if (e.number() == jet::UnrecognizedFormat && Read(path) != bytes) {
            abort();
        }
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
