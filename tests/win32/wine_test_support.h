#pragma once

// What the tests of the Windows build share: COM on the test's thread, message boxes caught as
// they open, registry values and keys, and the programs of this build started as a user would.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

#include <objbase.h>

namespace tarnu::test {

// COM for the thread of the test (the folder browser and DAO need it), for the object's life.
struct ComScope {
    ComScope() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComScope() { ::CoUninitialize(); }
};

// Real message boxes, and every other window of class "#32770" of the test's thread, caught
// through a CBT hook the moment they open: "caption: text" is kept, then they are answered with
// OK.
class MessageBoxCatcher {
  public:
    MessageBoxCatcher();
    ~MessageBoxCatcher();
    MessageBoxCatcher(const MessageBoxCatcher&) = delete;
    MessageBoxCatcher& operator=(const MessageBoxCatcher&) = delete;

    std::vector<std::string> boxes;
};

// A value as the registry holds it now; nullopt when the key or the value is missing. hive is a
// root key's number, as the registry module has it.
struct StoredValue {
    std::uint32_t type = 0;
    std::string bytes;
    bool operator==(const StoredValue&) const = default;
};
std::optional<StoredValue> ReadValue(std::uint32_t hive, const std::string& key,
                                     const std::string& name);
void DeleteKeyTree(std::uint32_t hive, const std::string& key);

// The three values that switch off the macro warning of Access 2003: removed with their keys,
// and checked as written.
void RemoveSecurityValues();
void ExpectSecurityValuesWritten();

// Every file below dir with its bytes and time of last change, to show that nothing changed.
std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> Snapshot(
    const std::string& dir);

// The full path of another program of this build, which lies beside the tests.
std::string BuiltProgram(const std::string& fileName);

// What a program started by RunProgram did: its exit status and the bytes it wrote.
struct ProgramRun {
    unsigned long exitCode = 0;
    std::string out;
    std::string err;
};
// Starts program with args (each put in quotes as it is: none may hold a quote or end in a
// backslash), its standard output and error going to files, with the variables of env set for
// it alone, and waits at most timeoutMs for its end.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::pair<std::string, std::string>>& env = {},
                      unsigned long timeoutMs = 60000);
// Starts program as RunProgram does, but returns at once: its process handle, for a test that
// drives its windows. Ended and closed with EndProgram.
void* StartProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::pair<std::string, std::string>>& env = {});
// As StartProgram, with out and err as the program's standard output and error.
void* StartProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::pair<std::string, std::string>>& env, void* out,
                   void* err);
// Waits at most timeoutMs for the program's end and gives its exit status; a program still
// running then is ended with status 999.
unsigned long EndProgram(void* process, unsigned long timeoutMs);

}  // namespace tarnu::test
