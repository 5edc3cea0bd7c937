#pragma once

#include "ports/files.h"

namespace tarnu::posix {

// The path of the running executable, links resolved; "" when the system does not tell.
std::string ExecutablePath();

// Maps an errno value of a failed file operation to the platform's error of the same meaning.
int FileErrorNumber(int errnoValue);

class PosixFileServices : public FileServices {
  public:
    std::string Dir(const std::string& path) override;
    void Kill(const std::string& path) override;
    void Name(const std::string& oldPath, const std::string& newPath) override;
    LocalDateTime Now() override;
    std::string CurDir() override;
    void ChDir(const std::string& folder) override;
    std::int64_t FileLen(const std::string& path) override;
    std::unique_ptr<BackgroundWork> WriteBehind(const std::string& path) override;
    void SyncFile(const std::string& path) override;
    void ReplaceFile(const std::string& from, const std::string& to) override;
    std::string RewriteTarget(const std::string& path) override;
    std::vector<std::string> ListFiles(const std::string& folder) override;
    // A file open through the engine carries a flock(); an empty file may be a copy that a
    // compaction has just created and not locked yet, and is left as well.
    bool RemoveUnused(const std::string& path) override;
};

}  // namespace tarnu::posix
