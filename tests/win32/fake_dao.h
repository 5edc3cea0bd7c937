#pragma once

// An automation object of the test's own that plays the DAO engine: the engine, its databases,
// their table definition collections and definitions answer by name through IDispatch, and
// every call is written down with its arguments as they arrived.

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnu::test {

// How the engine raises an error: as DAO does (its number in the low word of an HRESULT of the
// facility of controls) or with the number in wCode, or as a bare HRESULT.
struct FakeError {
    unsigned short wCode = 0;
    long scode = 0;
    std::string description;
    bool deferred = false;  // filled in only by pfnDeferredFillIn
};

struct FakeTable {
    std::string name;
    long attributes = 0;
    long records = 0;
};

struct FakeDao {
    // Every object handed out must have been released by then: a database DAO keeps open holds
    // its file, and the replace after a compaction fails on Windows.
    ~FakeDao();
    int live = 0;  // objects not yet released
    std::map<std::string, std::vector<FakeTable>> databases;
    // Each call as "object.Member(arguments)": a string in quotes, a left-out argument as "-".
    std::vector<std::string> calls;
    std::optional<FakeError> fail;  // while set, every call raises it

    // The engine's IDispatch, with one reference for the caller.
    void* Engine();
};

}  // namespace tarnu::test
