#include "dbmaint/compaction_run.h"

#include <cstdio>
#include <memory>
#include <optional>

#include "dbmaint/cleanup.h"
#include "ports/error.h"
#include "ports/printable_name.h"

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

// The name form of the run's copies: 14 digits, then "Dummy.mdb".
bool IsCopyName(const std::string& name) {
    constexpr std::size_t kDigits = 14;
    const std::string suffix = "Dummy.mdb";
    if (name.size() != kDigits + suffix.size() ||
        name.compare(kDigits, suffix.size(), suffix) != 0) {
        return false;
    }
    for (std::size_t i = 0; i < kDigits; ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return false;
        }
    }
    return true;
}

std::string LeftOutText(const std::string& file, const std::string& copy, std::int32_t entries) {
    return "Die Datenbank-Engine hat beim Komprimieren von „" + PrintableName(file) +
           "“ Datensätze oder Objekte nicht in die Kopie übernehmen können; die Datenbank ist "
           "beschädigt. Die Tabelle MSysCompactError der Kopie „" +
           PrintableName(copy) + "“ führt " + std::to_string(entries) +
           " Einträge auf. Die Datenbank wird nicht durch die Kopie ersetzt, die Kopie bleibt zur "
           "Prüfung daneben liegen. Bitte die Datenbank in Access reparieren, bevor sie wieder "
           "komprimiert wird.";
}

}  // namespace

std::string TimeStamp(const LocalDateTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%02d%04d%02d%02d%02d", t.day, t.month, t.year, t.hour,
                  t.minute, t.second);
    return buf;
}

CompactionRun::CompactionRun(EngineHolder& engine, FileServices& files, ui::MessageBoxes& boxes,
                             std::function<std::string()> programFolder, Compacted compacted)
    : engine_(engine),
      files_(files),
      boxes_(boxes),
      programFolder_(std::move(programFolder)),
      compacted_(std::move(compacted)) {}

void CompactionRun::operator()() {
    try {
        CleanupDatabases(engine_, files_);
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
    // A link stands for the file it leads to: that file is compacted and replaced, with its copy
    // beside it so that the replace stays on one file system, and the link stays as it is.
    const std::string target = files_.RewriteTarget(path);
    // The folder part is what is left when the found name is taken off; for a missing file the
    // whole path stays and the engine then reports the missing source.
    const std::string found = files_.Dir(target);
    const std::string folder = target.substr(0, target.size() - found.size());
    if (!found.empty()) {
        RemoveLeftoverCopies(folder);
    }
    const std::string temporary = folder + TimeStamp(files_.Now()) + "Dummy.mdb";

    std::optional<std::string> pwd;
    if (!password.empty()) {
        pwd = password;
    }
    // From here until the copy has taken the file's name, no other process may open the file or
    // the copy: what it wrote there would be lost to the replace.
    std::unique_ptr<dao::Reservation> reservation;
    std::int64_t before = 0;
    if (!found.empty()) {
        reservation = engine_.Get().Reserve(target);
        if (compacted_) {
            before = files_.FileLen(target);
        }
    }
    {
        // Writing the copy to disk takes about as long as making it; doing both at once keeps
        // the safe replace below from doubling the run.
        auto writing = files_.WriteBehind(temporary);
        engine_.Get().CompactDatabase(target, temporary, std::nullopt, std::nullopt, pwd);
    }
    // A copy the engine had to leave records or objects out of must not replace the original,
    // which still holds them: both stay for whoever repairs the database.
    if (const auto leftOut = engine_.Get().CompactErrors(temporary, pwd)) {
        throw Error(CompactionLeftOutError, LeftOutText(target, temporary, *leftOut));
    }

    // The copy takes the old file's place in one step once it is safely on disk, so that the
    // name always holds a whole database: the old one or the compacted one. Names that now lead
    // to other files would have the replace throw one of those away: both stay instead.
    files_.SyncFile(temporary);
    if (!reservation || !reservation->StillInPlace()) {
        throw Error(err::PathFileAccessError);
    }
    files_.ReplaceFile(temporary, target);
    if (compacted_) {
        compacted_(name, before, files_.FileLen(target));
    }
}

// Copies that killed runs left behind would pile up at full size. Only the run's own name form
// goes, and only files that nobody has open: a run in progress holds its copy.
void CompactionRun::RemoveLeftoverCopies(const std::string& folder) {
    for (const std::string& file : files_.ListFiles(folder)) {
        if (IsCopyName(file)) {
            files_.RemoveUnused(folder + file);
        }
    }
}

}  // namespace tarnu::dbmaint
