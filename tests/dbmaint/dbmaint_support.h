#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbmaint/engine_holder.h"
#include "platform/linux/engine/engine.h"
#include "platform/linux/posix/posix_files.h"
#include "ports/error.h"
#include "tests/support/holding_child.h"

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
DbContent ReadContent(const std::string& path, const std::string& connect = "");
// The rows of the program folder's four databases; the "Temp_" tables of the administration
// database are left out, as the clean-up empties them.
std::map<std::string, DbContent> ReadProgramFolder(const std::string& dir);

// Puts a fresh copy of the demo program folder's four databases into dir. The demo is built
// once per test process and copied, which is much faster than building it for every test.
void CopyDemoFolder(const std::string& dir);

ino_t InodeOf(const std::string& path);
// Files in dir whose names end in "Dummy.mdb".
std::vector<std::string> DummyFiles(const std::string& dir);

// The real engine, counting and recording what the maintenance asks of it.
class RecordingEngine : public dao::DBEngine {
  public:
    struct Compaction {
        std::string source, destination;
        std::optional<std::string> password;
    };
    struct Log {
        std::map<std::string, int> opens;
        std::vector<Compaction> compactions;
        int created = 0;
    };
    explicit RecordingEngine(std::shared_ptr<Log> log);
    std::unique_ptr<dao::Database> OpenDatabase(const std::string& name) override;
    void CompactDatabase(const std::string& source, const std::string& destination,
                         const std::optional<std::string>& locale,
                         const std::optional<std::int32_t>& options,
                         const std::optional<std::string>& password) override;
    std::unique_ptr<dao::Reservation> Reserve(const std::string& path) override;
    std::optional<std::int32_t> CompactErrors(const std::string& path,
                                              const std::optional<std::string>& password) override {
        return real_->CompactErrors(path, password);
    }
    std::unique_ptr<dao::Pins> PinFiles() override;

  private:
    std::unique_ptr<engine::Engine> real_ = engine::MakeEngine();
    std::shared_ptr<Log> log_;
};

// The real file services with a clock of the test's choosing and a fault at one chosen call.
class FaultyFiles : public posix::PosixFileServices {
  public:
    std::string Dir(const std::string& path) override;
    LocalDateTime Now() override;
    void SyncFile(const std::string& path) override;
    void ReplaceFile(const std::string& from, const std::string& to) override;

    // Raise `fault` on the nth call (from 1) of the named operation.
    void FailAt(const std::string& operation, int nth, Error fault);
    // Successive calls of Now() hand out these times, the last one again when they run out.
    std::vector<LocalDateTime> clock;
    // Called with the call's number (from 1) and the copy's path before each SyncFile: the
    // moment between a file's compaction and its replace.
    std::function<void(int call, const std::string& copy)> beforeSync;

  private:
    void Step(const std::string& operation);
    std::map<std::string, int> counts_;
    std::string failOp_;
    int failNth_ = 0;
    std::optional<Error> fault_;
    size_t tick_ = 0;
};

}  // namespace tarnu::test
