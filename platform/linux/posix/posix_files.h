#pragma once

#include "ports/files.h"

namespace tarnu::posix {

// Maps an errno value of a failed file operation to the platform's error of the same meaning.
int FileErrorNumber(int errnoValue);

class PosixFileServices : public FileServices {
  public:
    std::string Dir(const std::string& path) override;
    void Kill(const std::string& path) override;
    void Name(const std::string& oldPath, const std::string& newPath) override;
    LocalDateTime Now() override;
    std::string CurDir() override;
    std::unique_ptr<BackgroundWork> WriteBehind(const std::string& path) override;
    void SyncFile(const std::string& path) override;
    void ReplaceFile(const std::string& from, const std::string& to) override;
};

}  // namespace tarnu::posix
