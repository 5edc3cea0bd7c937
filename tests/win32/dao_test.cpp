// The DAO adapter against an engine of the test's own, and the program without any DAO.

#include <gtest/gtest.h>

#include <filesystem>

#include "dbmaint/cleanup.h"
#include "dbmaint/compaction_run.h"
#include "platform/win32/dao_engine.h"
#include "platform/win32/win32_files.h"
#include "ports/error.h"
#include "tests/support/error_of.h"
#include "tests/support/recording_message_boxes.h"
#include "tests/support/temp_dir.h"
#include "tests/win32/fake_dao.h"
#include "tests/win32/wine_test_support.h"

#include <windows.h>

#include <objbase.h>

namespace tarnu::test {
namespace {

constexpr long kLink = 0x40000000;

class DaoAdapter : public ::testing::Test {
  protected:
    ComScope com;
    FakeDao fake;
    std::unique_ptr<dao::DBEngine> engine = win32::DaoEngineOver(fake.Engine());
};

TEST_F(DaoAdapter, CleanupPassesNamesAndLeavesOutWhatItOmits) {
    fake.databases["KDL.mdb"] = {{"Kunden", 0}, {"Link1", kLink}, {"Link2", kLink}};
    fake.databases["kdlcode.mde"] = {{"Code", 0}};
    fake.databases["Tarnu-Admin.mde"] = {{"Temp_Liste", 0}, {"Temp_X", kLink}, {"Rest", 0}};
    dbmaint::EngineHolder holder([&] { return std::move(engine); });
    dbmaint::CleanupDatabases(holder);

    const auto opens = fake.CallsOf("OpenDatabase");
    ASSERT_EQ(opens.size(), 11u + 1 + 11 + 1);
    for (const FakeCall& open : opens) {
        ASSERT_EQ(open.args.size(), 4u);
        EXPECT_EQ(open.args[0].vt, VT_BSTR);
        // Options, read-only and connect string are left to the engine.
        for (int i = 1; i < 4; ++i) {
            EXPECT_EQ(open.args[i], Missing());
        }
    }
    EXPECT_EQ(opens[0].args[0], Str("KDL.mdb"));
    EXPECT_EQ(opens[11].args[0], Str("kdlcode.mde"));
    EXPECT_EQ(opens.back().args[0], Str("Tarnu-Admin.mde"));

    const auto deletes = fake.CallsOf("Delete");
    std::vector<std::string> deleted;
    for (const FakeCall& d : deletes) {
        ASSERT_EQ(d.args.size(), 1u);
        deleted.push_back(d.object + "/" + d.args[0].text);
    }
    EXPECT_EQ(deleted, (std::vector<std::string>{"defs:KDL.mdb/Link1", "defs:KDL.mdb/Link2",
                                                 "defs:Tarnu-Admin.mde/Temp_X"}));

    const auto executes = fake.CallsOf("Execute");
    ASSERT_EQ(executes.size(), 1u);
    EXPECT_EQ(executes[0].object, "db:Tarnu-Admin.mde");
    EXPECT_EQ(executes[0].args,
              (std::vector<FakeArg>{Str("DELETE * FROM [Temp_Liste];"), Missing()}));
    // Item is asked by number; the walk reads both properties of each definition.
    for (const FakeCall& item : fake.CallsOf("Item")) {
        ASSERT_EQ(item.args.size(), 1u);
        EXPECT_EQ(item.args[0].vt, VT_I4);
    }
}

// Each copy is opened read-only with its file's password and looked at for Jet's list of what
// it left out; a copy with one does not replace its file, and the run ends there.
TEST_F(DaoAdapter, CompactionPassesThePasswordAndKeepsAFileWhoseCopyLeftDataOut) {
    for (const bool leftOut : {false, true}) {
        FakeDao fake;
        TempDir dir;
        for (const char* name : {"system.srv", "KDL.mdb", "kdlcode.mde", "Tarnu-Admin.mde"}) {
            WriteFile(dir.file(name), name);
            fake.databases[name] = {};
        }
        if (leftOut) {
            fake.leftOut[dir.file("KDL.mdb")] = 3;
        }
        ScopedCurrentDir cd(dir.path());
        RecordingMessageBoxes boxes;
        win32::Win32FileServices files;
        dbmaint::EngineHolder holder([&] { return win32::DaoEngineOver(fake.Engine()); });
        dbmaint::CompactionRun(holder, files, boxes, [&] { return dir.path(); })();

        const auto compactions = fake.CallsOf("CompactDatabase");
        ASSERT_EQ(compactions.size(), leftOut ? 2u : 4u);
        std::vector<std::string> copies;
        for (std::size_t i = 0; i < compactions.size(); ++i) {
            const auto& args = compactions[i].args;
            ASSERT_EQ(args.size(), 5u);
            EXPECT_EQ(args[0].text.rfind(dir.path() + "\\", 0), 0u);
            EXPECT_TRUE(args[1].text.ends_with("Dummy.mdb")) << args[1].text;
            EXPECT_EQ(args[2], Missing());
            EXPECT_EQ(args[3], Missing());
            const FakeArg password = i == 0 ? Str(";pwd=brisk") : Missing();
            EXPECT_EQ(args[4], password);
            const auto opens = fake.CallsOf("OpenDatabase");
            EXPECT_EQ(opens.at(opens.size() - compactions.size() + i).args,
                      (std::vector<FakeArg>{args[1], Missing(), {VT_BOOL, "", -1}, password}));
            copies.push_back(args[1].text);
        }
        EXPECT_EQ(ReadFile(dir.file("system.srv")), "system.srvcompacted");
        ASSERT_EQ(boxes.boxes.size(), 1u);
        if (!leftOut) {
            EXPECT_EQ(boxes.boxes[0].text, "Die Programmdateien wurden erfolgreich komprimiert!");
            EXPECT_EQ(ReadFile(dir.file("KDL.mdb")), "KDL.mdbcompacted");
            EXPECT_FALSE(FileExists(copies.back()));
            continue;
        }
        // The damaged file stays, its copy beside it; the box names both and the entries.
        EXPECT_EQ(ReadFile(dir.file("KDL.mdb")), "KDL.mdb");
        EXPECT_EQ(ReadFile(copies.back()), "KDL.mdbcompacted");
        EXPECT_EQ(boxes.boxes[0].style, ui::vbCritical);
        for (const std::string& part : std::vector<std::string>{
                 "„" + dir.file("KDL.mdb") + "“", "„" + copies.back() + "“", " führt 3 Einträge"}) {
            EXPECT_NE(boxes.boxes[0].text.find(part), std::string::npos) << boxes.boxes[0].text;
        }
    }
}

TEST_F(DaoAdapter, EngineErrorsKeepDaosNumberAndText) {
    struct Case {
        FakeError raised;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{0, MAKE_HRESULT(1, FACILITY_CONTROL, 3044), "'C:\\x' ist kein zulässiger Pfad."},
         "3044: 'C:\\x' ist kein zulässiger Pfad."},
        {{3131, static_cast<long>(E_FAIL), "Syntaxfehler in FROM-Klausel."},
         "3131: Syntaxfehler in FROM-Klausel."},
        {{0, static_cast<long>(E_ACCESSDENIED), "Zugriff verweigert."},
         std::to_string(static_cast<std::int32_t>(E_ACCESSDENIED)) + ": Zugriff verweigert."},
        {{0, MAKE_HRESULT(1, FACILITY_CONTROL, 3356), "", true},
         "3356: Nachgereichte Beschreibung"},
        // Without a text of its own an error carries the platform's standard text.
        {{0, MAKE_HRESULT(1, FACILITY_CONTROL, 53), ""}, "53: Datei nicht gefunden"},
    };
    for (const Case& c : cases) {
        fake.fail = [&](const FakeCall&) { return std::optional<FakeError>(c.raised); };
        EXPECT_EQ(ErrorTextOf([&] { engine->CompactDatabase("a.mdb", "b.mdb"); }), c.error);
    }
}

// The engine's class is looked up by name, DAO 3.6 first, then the newer engine: here a class
// object of the test's own stands in, registered under a name of the test's own.
class Factory : public IClassFactory {
  public:
    explicit Factory(FakeDao& dao) : dao_(dao) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** out) override {
        if (FAILED(failWith)) {
            *out = nullptr;
            return failWith;
        }
        ++created;
        auto* engine = static_cast<IDispatch*>(dao_.Engine());
        const HRESULT hr = engine->QueryInterface(riid, out);
        engine->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    int created = 0;
    HRESULT failWith = S_OK;  // what a damaged engine answers

  private:
    FakeDao& dao_;
};

TEST(DaoCreation, TakesTheFirstEngineThatCanBeCreatedOrSaysWhatIsMissingOrBroken) {
    ComScope com;
    // {5E6B2D1C-8F7A-4C1B-9A3E-7D2F4B6C8A10}
    const CLSID clsid = {
        0x5e6b2d1c, 0x8f7a, 0x4c1b, {0x9a, 0x3e, 0x7d, 0x2f, 0x4b, 0x6c, 0x8a, 0x10}};
    const std::string progId = "Tarnu.TestEngine.120";
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CLASSES_ROOT, (progId + "\\CLSID").c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char* clsidText = "{5E6B2D1C-8F7A-4C1B-9A3E-7D2F4B6C8A10}";
    ::RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsidText),
                     static_cast<DWORD>(strlen(clsidText) + 1));
    ::RegCloseKey(key);

    FakeDao fake;
    Factory factory(fake);
    DWORD cookie = 0;
    // In-process, as DAO's own DLL is: a local server would also involve Wine's RPC service,
    // which this test does not need.
    ASSERT_EQ(
        ::CoRegisterClassObject(clsid, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
        S_OK);

    // The first name is not registered: the second is taken.
    const std::vector<std::wstring> names = {L"Tarnu.TestEngine.36", L"Tarnu.TestEngine.120"};
    void* engine = win32::CreateDaoDispatch(names);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(factory.created, 1);
    fake.databases["x.mdb"] = {};
    win32::DaoEngineOver(engine)->OpenDatabase("x.mdb");
    EXPECT_EQ(fake.CallsOf("OpenDatabase").size(), 1u);
    // Registered but failing, as a damaged DAO whose DLL is gone: not reported as missing.
    factory.failWith = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    const std::string broken = ErrorTextOf([&] { win32::CreateDaoDispatch(names); });

    ::CoRevokeClassObject(cookie);
    ::RegDeleteKeyA(HKEY_CLASSES_ROOT, (progId + "\\CLSID").c_str());
    ::RegDeleteKeyA(HKEY_CLASSES_ROOT, progId.c_str());

    const std::string none = ErrorTextOf([] { win32::CreateDaoDispatch(); });
    for (const std::string& text : {broken, none}) {
        EXPECT_EQ(text.rfind(std::to_string(win32::NoDaoError) + ": ", 0), 0u) << text;
    }
    EXPECT_NE(broken.find("(Tarnu.TestEngine.120: Fehler 0x8007007E)"), std::string::npos)
        << broken;
    EXPECT_NE(none.find("nicht installiert (gesucht: DAO.DBEngine.36, DAO.DBEngine.120)"),
              std::string::npos)
        << none;
}

}  // namespace
}  // namespace tarnu::test
