#include "dbmaint/compaction_run.h"

#include <cstdio>
#include <optional>

#include "dbmaint/cleanup.h"
#include "ports/error.h"

namespace tarnu::dbmaint {

namespace {

struct FileRow {
    const char* name;
    const char* password;  // connect-style password string, or nullptr
};

// The order matters to what survives an error: earlier files stay compacted.
constexpr FileRow kFiles[] = {
    {"system.srv", ";pwd=brisk"},
    {"KDL.mdb", nullptr},
    {"kdlcode.mde", nullptr},
    {"Tarnu-Admin.mde", nullptr},
};

}  // namespace

std::string TimeStamp(const LocalDateTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%02d%04d%02d%02d%02d", t.day, t.month, t.year, t.hour,
                  t.minute, t.second);
    return buf;
}

CompactionRun::CompactionRun(EngineHolder& engine, FileServices& files, ui::MessageBoxes& boxes,
                             std::function<std::string()> programFolder)
    : engine_(engine), files_(files), boxes_(boxes), programFolder_(std::move(programFolder)) {}

void CompactionRun::operator()() {
    try {
        CleanupDatabases(engine_);
        for (const FileRow& row : kFiles) {
            CompactOne(row.name, row.password ? row.password : "");
        }
        boxes_.Show(CompactionSuccessText, ui::vbInformation, CompactionTitle);
    } catch (...) {
        boxes_.Show(CurrentError().description(), ui::vbCritical, CompactionTitle);
    }
}

void CompactionRun::CompactOne(const std::string& name, const std::string& password) {
    const std::string path = programFolder_() + PathSeparator() + name;
    // The folder part is what is left when the found name is taken off; for a missing file the
    // whole path stays and the engine then reports the missing source.
    const std::string found = files_.Dir(path);
    const std::string folder = path.substr(0, path.size() - found.size());
    const std::string temporary = folder + TimeStamp(files_.Now()) + "Dummy.mdb";

    std::optional<std::string> pwd;
    if (!password.empty()) {
        pwd = password;
    }
    {
        // Writing the copy to disk takes about as long as making it; doing both at once keeps
        // the safe replace below from doubling the run.
        auto writing = files_.WriteBehind(temporary);
        engine_.Get().CompactDatabase(path, temporary, std::nullopt, std::nullopt, pwd);
    }

    // The copy takes the old file's place in one step once it is safely on disk, so that the
    // name always holds a whole database: the old one or the compacted one.
    files_.SyncFile(temporary);
    files_.ReplaceFile(temporary, path);
}

}  // namespace tarnu::dbmaint
