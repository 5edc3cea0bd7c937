#pragma once

// What the tests of the Windows build share: COM on the test's thread, message boxes caught as
// they open, a registry key of the test's own, and Windows paths of temporary files.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnu::test {

// COM for the thread of the test (the folder browser and DAO need it), for the object's life.
class ComScope {
  public:
    ComScope();
    ~ComScope();
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
};

// Real message boxes, caught through a CBT hook the moment they open: their caption, text,
// icon and buttons are kept, then they are answered with OK. Also catches the standard message
// boxes of the dialogs' own windows of class "#32770" that carry a static text.
class MessageBoxCatcher {
  public:
    enum class Icon { None, Critical, Information, Other };
    struct Box {
        std::string title;
        std::string text;
        Icon icon = Icon::None;
        int buttons = 0;  // push buttons in the box
    };
    MessageBoxCatcher();
    ~MessageBoxCatcher();
    MessageBoxCatcher(const MessageBoxCatcher&) = delete;
    MessageBoxCatcher& operator=(const MessageBoxCatcher&) = delete;

    std::vector<Box> boxes;
};

// A key under HKEY_CURRENT_USER\Software\TarnuTest that only this object uses; removed at the end.
class ScratchKey {
  public:
    explicit ScratchKey(const std::string& name);
    ~ScratchKey();
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// A value as the registry holds it now; nullopt when the key or the value is missing.
struct StoredValue {
    std::uint32_t type = 0;
    std::string bytes;
    bool operator==(const StoredValue&) const = default;
};
std::optional<StoredValue> ReadValue(std::uint32_t hive, const std::string& key,
                                     const std::string& name);
bool KeyExists(std::uint32_t hive, const std::string& key);
void DeleteKeyTree(std::uint32_t hive, const std::string& key);

// The full path of the running test program.
std::string ThisProgram();

}  // namespace tarnu::test
