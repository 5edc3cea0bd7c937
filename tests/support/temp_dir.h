#pragma once

#include <string>
#include <vector>

namespace tarnu::test {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path(), the platform's separator, name
    std::string file(const std::string& name) const;

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Names of the entries in a folder, sorted.
std::vector<std::string> FolderContents(const std::string& dir);

// Changes the process's current directory for the lifetime of the object.
class ScopedCurrentDir {
  public:
    explicit ScopedCurrentDir(const std::string& dir);
    ~ScopedCurrentDir();
    ScopedCurrentDir(const ScopedCurrentDir&) = delete;
    ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

  private:
    std::string old_;
};

}  // namespace tarnu::test
