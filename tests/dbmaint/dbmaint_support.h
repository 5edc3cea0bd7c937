#pragma once

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbmaint/cleanup.h"
#include "dbmaint/engine_holder.h"
#include "platform/linux/engine/engine.h"
#include "platform/linux/posix/posix_files.h"
#include "ports/error.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {

inline constexpr const char* kSystemPassword = ";pwd=brisk";
inline const std::vector<std::string> kProgramFiles = {"system.srv", "KDL.mdb", "kdlcode.mde",
                                                       "Tarnu-Admin.mde"};

// What a database holds: its table definitions and, for each local table, its rows (sorted,
// each row's fields joined).
struct DbContent {
    std::vector<std::pair<std::string, std::int32_t>> defs;
    std::map<std::string, std::vector<std::string>> rows;
    bool operator==(const DbContent&) const = default;
};

inline DbContent ReadContent(const std::string& path, const std::string& connect = "") {
    auto eng = engine::MakeEngine();
    // Read-write as the tool opens it, so that a journal left by a killed writer is rolled back.
    auto db = eng->OpenDatabase(path, false, false, connect);
    DbContent content;
    dao::TableDefs& defs = db->TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
        const dao::TableDef def = defs.Item(i);
        content.defs.emplace_back(def.Name, def.Attributes);
        if (def.Attributes != 0) {
            continue;
        }
        auto& rows = content.rows[def.Name];
        for (const auto& row :
             db->OpenRecordset("SELECT * FROM " + dbmaint::QuoteName(def.Name)).Rows) {
            rows.emplace_back();
            for (const auto& v : row) {
                rows.back() += v.ToText() + '\x1f';
            }
        }
        std::sort(rows.begin(), rows.end());
    }
    return content;
}

// The rows that must survive in the program file `name` at path: links are what the clean-up
// removes, and it empties the "Temp_" tables of the administration database.
inline DbContent ReadProgramFile(const std::string& path, const std::string& name) {
    DbContent c = ReadContent(path, name == "system.srv" ? kSystemPassword : "");
    if (name == "Tarnu-Admin.mde") {
        std::erase_if(c.rows, [](const auto& t) { return t.first.starts_with("Temp_"); });
    }
    c.defs.clear();
    return c;
}

// The program files of dir that the engine can open, by name.
inline std::map<std::string, DbContent> ReadProgramFolder(const std::string& dir) {
    std::map<std::string, DbContent> all;
    for (const auto& name : kProgramFiles) {
        try {
            all[name] = ReadProgramFile(dir + "/" + name, name);
        } catch (const Error&) {
        }
    }
    return all;
}

// Puts a fresh copy of the demo program folder's four databases into dir. The demo is built
// once per test process and copied, which is much faster than building it for every test.
inline void CopyDemoFolder(const std::string& dir) {
    static TempDir demo;
    [[maybe_unused]] static const bool built = [] {
        engine::BuildDemoFolder(*engine::MakeEngine(), demo.path());
        return true;
    }();
    for (const auto& name : kProgramFiles) {
        std::filesystem::copy_file(demo.file(name), dir + "/" + name);
    }
}

// The real engine, counting and recording what the maintenance asks of it.
class RecordingEngine : public dao::DBEngine {
  public:
    struct Log {
        std::map<std::string, int> opens;
        std::vector<std::string> copies;  // each compaction's destination
        std::vector<std::optional<std::string>> passwords;
        int created = 0;
    };
    explicit RecordingEngine(std::shared_ptr<Log> log) : log_(std::move(log)) { ++log_->created; }
    std::unique_ptr<dao::Database> OpenDatabase(const std::string& name) override {
        ++log_->opens[name];
        return real_->OpenDatabase(name);
    }
    void CompactDatabase(const std::string& source, const std::string& destination,
                         const std::optional<std::string>& locale,
                         const std::optional<std::int32_t>& options,
                         const std::optional<std::string>& password) override {
        log_->copies.push_back(destination);
        log_->passwords.push_back(password);
        real_->CompactDatabase(source, destination, locale, options, password);
    }
    std::unique_ptr<dao::Reservation> Reserve(const std::string& path) override {
        return real_->Reserve(path);
    }
    std::optional<std::int32_t> CompactErrors(const std::string& path,
                                              const std::optional<std::string>& password) override {
        return real_->CompactErrors(path, password);
    }
    std::unique_ptr<dao::Pins> PinFiles() override { return real_->PinFiles(); }

  private:
    std::unique_ptr<engine::Engine> real_ = engine::MakeEngine();
    std::shared_ptr<Log> log_;
};

// The real file services with a clock of the test's choosing and a fault at one chosen call.
class FaultyFiles : public posix::PosixFileServices {
  public:
    std::string Dir(const std::string& path) override {
        Step("Dir");
        return PosixFileServices::Dir(path);
    }
    LocalDateTime Now() override {
        Step("Now");
        return clock.empty() ? PosixFileServices::Now()
                             : clock[std::min(tick_++, clock.size() - 1)];
    }
    void SyncFile(const std::string& path) override {
        Step("SyncFile");
        if (beforeSync) {
            beforeSync(counts_["SyncFile"], path);
        }
        PosixFileServices::SyncFile(path);
    }

    // Raise `fault` on the nth call (from 1) of the named operation.
    void FailAt(const std::string& operation, int nth, Error fault) {
        failOp_ = operation;
        failNth_ = nth;
        fault_ = std::move(fault);
    }
    // Successive calls of Now() hand out these times, the last one again when they run out.
    std::vector<LocalDateTime> clock;
    // Called with the call's number (from 1) and the copy's path before each SyncFile: the
    // moment between a file's compaction and its replace.
    std::function<void(int call, const std::string& copy)> beforeSync;

  private:
    void Step(const std::string& operation) {
        if (++counts_[operation] == failNth_ && operation == failOp_) {
            throw *fault_;
        }
    }
    std::map<std::string, int> counts_;
    std::string failOp_;
    int failNth_ = 0;
    std::optional<Error> fault_;
    size_t tick_ = 0;
};

}  // namespace tarnu::test
