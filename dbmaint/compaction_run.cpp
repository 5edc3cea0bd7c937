#include "dbmaint/compaction_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <set>

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

// The folder part of a path, with its separator; "" for a bare name.
std::string FolderPart(const std::string& path) {
    const std::size_t cut = path.find_last_of(PathSeparator());
    return cut == std::string::npos ? "" : path.substr(0, cut + 1);
}

// „a“, „b“
std::string Listed(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "„" : ", „") + PrintableName(name) + "“";
    }
    return text;
}

}  // namespace

LocalDateTime SecondsLater(const LocalDateTime& t, int seconds) {
    using namespace std::chrono;
    const sys_days day = year_month_day{year{t.year}, month{static_cast<unsigned>(t.month)},
                                        std::chrono::day{static_cast<unsigned>(t.day)}};
    const sys_seconds at =
        day + hours{t.hour} + minutes{t.minute} + std::chrono::seconds{t.second + seconds};
    const sys_days later = floor<days>(at);
    const year_month_day date{later};
    const hh_mm_ss<std::chrono::seconds> time{at - later};
    return {static_cast<int>(date.year()),
            static_cast<int>(static_cast<unsigned>(date.month())),
            static_cast<int>(static_cast<unsigned>(date.day())),
            static_cast<int>(time.hours().count()),
            static_cast<int>(time.minutes().count()),
            static_cast<int>(time.seconds().count())};
}

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
        {
            // No second run (another window, the nightly timer, an update of this folder) may
            // work on the same files meanwhile; the box at the end keeps nobody waiting.
            const std::string programFolder = programFolder_();
            const std::unique_ptr<FolderLock> lock = files_.LockFolder(programFolder);
            // Each database is opened and compacted by name several times: all of them must
            // reach the file the first one reached. Without an engine nothing is touched.
            const std::unique_ptr<dao::Pins> pins = engine_.Get().PinFiles();
            RemoveLeftovers(programFolder);
            CleanupDatabases(engine_);
            for (const FileRow& row : kFiles) {
                CompactOne(row.name, row.password ? row.password : "");
            }
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
    // Where somebody has put files at the copy names of the coming seconds, the next free
    // second names the copy; nothing that stands at a taken name is opened.
    const LocalDateTime now = files_.Now();
    std::string temporary;
    for (int delay = 0;; ++delay) {
        temporary = folder + TimeStamp(SecondsLater(now, delay)) + "Dummy.mdb";
        try {
            // Writing the copy to disk takes about as long as making it; doing both at once
            // keeps the safe replace below from doubling the run.
            auto writing = files_.WriteBehind(temporary);
            engine_.Get().CompactDatabase(target, temporary, std::nullopt, std::nullopt, pwd);
            break;
        } catch (const Error& e) {
            if (e.number() != dao::DatabaseExistsError || delay == MaxCopyNameDelay) {
                throw;
            }
        }
    }
    // A copy the engine had to leave records or objects out of must not replace the original,
    // which still holds them: both stay for whoever repairs the database.
    if (const auto leftOut = engine_.Get().CompactErrors(temporary, pwd)) {
        throw Error(CompactionLeftOutError, LeftOutText(target, temporary, *leftOut));
    }

    // The copy takes the old file's place in one step once it is safely on disk, so that the
    // name always holds a whole database: the old one or the compacted one. Names that now lead
    // to other files would have the replace throw one of those away: both stay instead, and
    // what took the copy's name is not even opened to be flushed.
    const auto inPlace = [&] {
        if (!reservation || !reservation->StillInPlace()) {
            throw Error(err::PathFileAccessError);
        }
    };
    inPlace();
    files_.SyncFile(temporary);
    inPlace();
    files_.ReplaceFile(temporary, target);
    if (compacted_) {
        compacted_(name, before, files_.FileLen(target));
    }
}

// Copies that killed runs left (a copy whose replace never came) and old files that a replace
// kept aside would pile up at full size. But while a database is missing, one of them may be
// all that is left of it: then nothing is removed, and the run stops and names them. Only the
// runner's own files of exactly those names go, and only those nobody has open.
void CompactionRun::RemoveLeftovers(const std::string& programFolder) {
    std::vector<std::string> missing;
    std::set<std::string> folders;
    std::set<std::string> backups;
    for (const FileRow& row : kFiles) {
        const std::string target = files_.RewriteTarget(programFolder + PathSeparator() + row.name);
        if (files_.Dir(target).empty()) {
            missing.push_back(row.name);
        }
        folders.insert(FolderPart(target));
        backups.insert(ReplaceBackupName(target));
    }
    std::vector<std::string> leftovers;
    for (const std::string& folder : folders) {
        for (const std::string& file : files_.ListFiles(folder)) {
            if (IsCopyName(file) || backups.count(folder + file) != 0) {
                leftovers.push_back(folder + file);
            }
        }
    }
    std::sort(leftovers.begin(), leftovers.end());
    if (!missing.empty() && !leftovers.empty()) {
        throw Error(err::FileNotFound,
                    std::string(missing.size() == 1 ? "Im Programmordner fehlt die Datenbank "
                                                    : "Im Programmordner fehlen die Datenbanken ") +
                        Listed(missing) +
                        ". Daneben liegen Dateien früherer Komprimierungen, die die einzige Kopie "
                        "davon sein können: " +
                        Listed(leftovers) +
                        ". Es wurde nichts verändert. Bitte die fehlende Datenbank aus einer "
                        "dieser Dateien wiederherstellen oder die Dateien entfernen und dann "
                        "erneut komprimieren.");
    }
    for (const std::string& leftover : leftovers) {
        files_.RemoveUnused(leftover);
    }
}

}  // namespace tarnu::dbmaint
