#pragma once

// An automation object of the test's own that plays the DAO engine: the engine, its databases,
// their table definition collections and definitions answer by name through IDispatch, and
// every call is written down with its arguments as they arrived.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnu::test {

struct FakeArg {
    unsigned short vt = 0;  // VT_BSTR, VT_I4, VT_ERROR, ...
    std::string text;       // a string, as UTF-8
    long number = 0;        // a VT_I4, or the SCODE of a VT_ERROR
    bool operator==(const FakeArg&) const = default;
};
FakeArg Str(const std::string& text);
FakeArg Missing();  // VT_ERROR with DISP_E_PARAMNOTFOUND: an omitted argument

struct FakeCall {
    std::string object;  // "engine", "db:KDL.mdb", "defs:KDL.mdb"
    std::string member;
    std::vector<FakeArg> args;  // in the order of the call, first argument first
};

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
    // Sources whose compaction leaves this many entries out, listed in the copy as Jet does.
    std::map<std::string, long> leftOut;
    std::vector<FakeCall> calls;
    // When set, consulted before every call: a non-empty error makes the call fail with it.
    std::function<std::optional<FakeError>(const FakeCall&)> fail;

    // The engine's IDispatch, with one reference for the caller.
    void* Engine();
    std::vector<FakeCall> CallsOf(const std::string& member) const;
};

}  // namespace tarnu::test
