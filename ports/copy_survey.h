#pragma once

// What the workstation update learns about a copy before it starts it, so that the usual causes
// of a failed update (a share that is not mounted, a Tarnu still running on this workstation, a
// full disk, another run of the tool in the same folder) are found while nothing is written yet.
// Each platform looks at its files its own way; what to make of it is the update's own logic.

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace tarnu {

enum class FileUse {
    Free,
    InUse,           // a running program holds it open, so it cannot be replaced now
    RunningProgram,  // it is the executable of this very program, which cannot replace itself
};

// One file (or link) the copy would write.
struct SurveyedFile {
    std::string path;        // where the copy would put it
    std::uint64_t size = 0;  // of the new file
    bool replaces = false;   // a file of that name is there and would be replaced
    std::uint64_t replacedSize = 0;
    FileUse use = FileUse::Free;  // of the file that would be replaced
};

enum class SurveyOutcome {
    Surveyed,    // files lists everything the copy would write (possibly nothing)
    NoSource,    // the source names nothing that is there
    FolderBusy,  // another run of the tool kept working in the target folder for the whole wait
    Unknown,     // the copy would fail for a reason of its own, which it reports itself
};

struct CopySurvey {
    SurveyOutcome outcome = SurveyOutcome::Unknown;
    // The folder that receives the files, as the copy names it in its messages.
    std::string folder;
    std::vector<SurveyedFile> files;
    // Room for the runner on the file system of the target folder (or of the nearest folder of
    // its path that is there already).
    std::uint64_t freeBytes = std::numeric_limits<std::uint64_t>::max();
    // The new files are written beside the old ones until every one of them is there, so the
    // old files give no room back during the copy.
    bool keepsOldUntilDone = false;
};

class CopySurveyApi {
  public:
    virtual ~CopySurveyApi() = default;
    // Looks at what copying source to target (as the shell-copy port would copy them) would
    // write, without writing anything. Never raises.
    virtual CopySurvey SurveyCopy(const std::string& source, const std::string& target) = 0;
};

}  // namespace tarnu
