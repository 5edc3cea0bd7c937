#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "dbmaint/engine_holder.h"
#include "ports/files.h"
#include "ports/ui.h"

namespace tarnu::dbmaint {

inline constexpr const char* CompactionSuccessText =
    "Die Programmdateien wurden erfolgreich komprimiert!";
inline constexpr const char* CompactionTitle = "Tarnu";
// Ends a run whose engine left records or objects out of a copy: Jet's number for a damaged
// database.
inline constexpr std::int32_t CompactionLeftOutError = 3049;

// "ddmmyyyyhhnnss": the time stamp that makes each temporary file's name.
std::string TimeStamp(const LocalDateTime& t);
// t that many seconds later, on across minutes, days, months and years.
LocalDateTime SecondsLater(const LocalDateTime& t, int seconds);

// How many seconds past the current one a copy's name may be stamped with, when the names of
// the seconds before are taken.
constexpr int MaxCopyNameDelay = 60;

// The run behind "Programmdateien komprimieren": clean the databases, then compact the four
// files of the program folder one after the other, each into a time-stamped copy beside it that
// then takes the file's place with the file's access rights. A file reached through a link is
// compacted where it lies, and the link stays. The run holds the program folder's lock
// throughout, and first removes the copies that killed runs left, as long as no database is
// missing. One message box reports success or the first error, which ends the run.
class CompactionRun {
  public:
    // Told of each file once its copy has taken its place: the name and the sizes in bytes.
    using Compacted =
        std::function<void(const std::string& name, std::int64_t before, std::int64_t after)>;

    CompactionRun(EngineHolder& engine, FileServices& files, ui::MessageBoxes& boxes,
                  std::function<std::string()> programFolder, Compacted compacted = {});
    void operator()();

  private:
    void CompactOne(const std::string& name, const std::string& password);
    void RemoveLeftovers(const std::string& programFolder);

    EngineHolder& engine_;
    FileServices& files_;
    ui::MessageBoxes& boxes_;
    std::function<std::string()> programFolder_;
    Compacted compacted_;
};

}  // namespace tarnu::dbmaint
