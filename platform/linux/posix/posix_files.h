#pragma once

#include "ports/files.h"

namespace tarnu::posix {

// The path of the running executable, links resolved; "" when the system does not tell.
std::string ExecutablePath();

// Maps an errno value of a failed file operation to the platform's error of the same meaning.
// A link the link rule refuses and a FIFO or device in a file's place are access errors (75).
int FileErrorNumber(int errnoValue);

// The file services over the safe path walk: every path is walked part by part under the link
// rule, and a rename or removal goes through the descriptor of the folder the walk reached.
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
    // A file open through the engine carries a flock(); the file's journal goes with it.
    bool RemoveUnused(const std::string& path) override;
    // flock() on the folder's own descriptor (files::LockFolder).
    std::unique_ptr<FolderLock> LockFolder(const std::string& folder) override;
};

}  // namespace tarnu::posix
