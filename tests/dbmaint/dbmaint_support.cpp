#include "tests/dbmaint/dbmaint_support.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "dbmaint/cleanup.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {

DbContent ReadContent(const std::string& path, const std::string& connect) {
    auto engine = engine::MakeEngine();
    // Read-write as the tool opens it, so that a journal left by a killed writer is rolled back.
    auto db = engine->OpenDatabase(path, false, false, connect);
    DbContent content;
    dao::TableDefs& defs = db->TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
        const dao::TableDef def = defs.Item(i);
        content.defs.emplace_back(def.Name, def.Attributes);
        if (def.Attributes != 0) {
            continue;
        }
        auto& rows = content.rows[def.Name];
        const engine::Recordset rs =
            db->OpenRecordset("SELECT * FROM " + dbmaint::QuoteName(def.Name));
        for (const auto& row : rs.Rows) {
            std::string line;
            for (const auto& v : row) {
                line += v.ToText() + '\x1f';
            }
            rows.push_back(line);
        }
        std::sort(rows.begin(), rows.end());
    }
    return content;
}

std::map<std::string, DbContent> ReadProgramFolder(const std::string& dir) {
    std::map<std::string, DbContent> all;
    for (const auto& name : kProgramFiles) {
        DbContent c = ReadContent(dir + "/" + name, name == "system.srv" ? kSystemPassword : "");
        if (name == "Tarnu-Admin.mde") {
            std::erase_if(c.rows, [](const auto& t) { return t.first.rfind("Temp_", 0) == 0; });
        }
        // Links are what the clean-up removes; the rows are what must survive.
        c.defs.clear();
        all[name] = c;
    }
    return all;
}

void CopyDemoFolder(const std::string& dir) {
    static TempDir demo;
    static bool built = false;
    if (!built) {
        auto eng = engine::MakeEngine();
        engine::BuildDemoFolder(*eng, demo.path());
        built = true;
    }
    for (const auto& name : kProgramFiles) {
        std::filesystem::copy_file(demo.file(name), dir + "/" + name);
    }
}

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        throw std::runtime_error("no file " + path);
    }
    return st.st_ino;
}

std::vector<std::string> DummyFiles(const std::string& dir) {
    std::vector<std::string> found = FolderContents(dir);
    std::erase_if(found, [](const std::string& name) { return !name.ends_with("Dummy.mdb"); });
    return found;
}

RecordingEngine::RecordingEngine(std::shared_ptr<Log> log) : log_(std::move(log)) {
    ++log_->created;
}

std::unique_ptr<dao::Database> RecordingEngine::OpenDatabase(const std::string& name) {
    ++log_->opens[name];
    return real_->OpenDatabase(name);
}

void RecordingEngine::CompactDatabase(const std::string& source, const std::string& destination,
                                      const std::optional<std::string>& locale,
                                      const std::optional<std::int32_t>& options,
                                      const std::optional<std::string>& password) {
    log_->compactions.push_back({source, destination, password});
    real_->CompactDatabase(source, destination, locale, options, password);
}

std::unique_ptr<dao::Reservation> RecordingEngine::Reserve(const std::string& path) {
    return real_->Reserve(path);
}

std::unique_ptr<dao::Pins> RecordingEngine::PinFiles() {
    return real_->PinFiles();
}

void FaultyFiles::FailAt(const std::string& operation, int nth, Error fault) {
    failOp_ = operation;
    failNth_ = nth;
    fault_ = std::move(fault);
}

void FaultyFiles::Step(const std::string& operation) {
    if (++counts_[operation] == failNth_ && operation == failOp_) {
        throw *fault_;
    }
}

std::string FaultyFiles::Dir(const std::string& path) {
    Step("Dir");
    return PosixFileServices::Dir(path);
}

LocalDateTime FaultyFiles::Now() {
    Step("Now");
    if (clock.empty()) {
        return PosixFileServices::Now();
    }
    return clock[std::min(tick_++, clock.size() - 1)];
}

void FaultyFiles::SyncFile(const std::string& path) {
    Step("SyncFile");
    if (beforeSync) {
        beforeSync(counts_["SyncFile"], path);
    }
    PosixFileServices::SyncFile(path);
}

void FaultyFiles::ReplaceFile(const std::string& from, const std::string& to) {
    Step("ReplaceFile");
    PosixFileServices::ReplaceFile(from, to);
}

}  // namespace tarnu::test
