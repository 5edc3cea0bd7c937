// The DAO adapter against an engine of the test's own, and the engine's creation by class name.

#include <gtest/gtest.h>

#include "platform/win32/dao_engine.h"
#include "ports/error.h"
#include "tests/support/error_of.h"
#include "tests/win32/fake_dao.h"
#include "tests/win32/wine_test_support.h"

#include <windows.h>

#include <objbase.h>

namespace tarnu::test {
namespace {

class DaoAdapter : public ::testing::Test {
  protected:
    ComScope com;
    FakeDao fake;
    std::unique_ptr<dao::DBEngine> engine = win32::DaoEngineOver(fake.Engine());
};

// Every member is reached by name with its arguments as DAO takes them: a left-out one as
// missing, an index as a number, the password as the connect string. A copy is opened read-only
// for Jet's list of what its compaction left out, whatever the case of the list's name.
TEST_F(DaoAdapter, PassesEachCallsArgumentsAsDaoTakesThem) {
    fake.databases["KDL.mdb"] = {{"Kunden", 0}, {"Link1", dao::dbAttachedTable}};
    fake.databases["alt.mdb"] = {{"Kunden", 0}, {"msyscompacterror", 2, 3}};
    {
        const auto db = engine->OpenDatabase("KDL.mdb");
        ASSERT_EQ(db->TableDefs().Count(), 2);
        const dao::TableDef link = db->TableDefs().Item(1);
        EXPECT_EQ(link.Name, "Link1");
        EXPECT_EQ(link.Attributes, dao::dbAttachedTable);
        db->TableDefs().Delete("Link1");
        db->Execute("DELETE * FROM [Temp_Liste];");
    }
    engine->CompactDatabase("alt.mdb", "neu.mdb", std::nullopt, std::nullopt, ";pwd=brisk");
    EXPECT_EQ(engine->CompactErrors("neu.mdb", ";pwd=brisk"), 3);
    EXPECT_EQ(engine->CompactErrors("KDL.mdb", std::nullopt), std::nullopt);
    engine->CompactDatabase("a.mdb", "b.mdb", "x", 1, std::nullopt);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{
                              "engine.OpenDatabase('KDL.mdb', -, -, -)",
                              "db:KDL.mdb.TableDefs()",
                              "defs:KDL.mdb.Count()",
                              "defs:KDL.mdb.Item(1)",
                              "def:KDL.mdb.Name()",
                              "def:KDL.mdb.Attributes()",
                              "defs:KDL.mdb.Delete('Link1')",
                              "db:KDL.mdb.Execute('DELETE * FROM [Temp_Liste];', -)",
                              "engine.CompactDatabase('alt.mdb', 'neu.mdb', -, -, ';pwd=brisk')",
                              "engine.OpenDatabase('neu.mdb', -, true, ';pwd=brisk')",
                              "db:neu.mdb.TableDefs()",
                              "defs:neu.mdb.Count()",
                              "defs:neu.mdb.Item(0)",
                              "def:neu.mdb.Name()",
                              "defs:neu.mdb.Item(1)",
                              "def:neu.mdb.Name()",
                              "def:neu.mdb.RecordCount()",
                              "engine.OpenDatabase('KDL.mdb', -, true, -)",
                              "db:KDL.mdb.TableDefs()",
                              "defs:KDL.mdb.Count()",
                              "defs:KDL.mdb.Item(0)",
                              "def:KDL.mdb.Name()",
                              "engine.CompactDatabase('a.mdb', 'b.mdb', 'x', 1, -)",
                          }));
}

TEST_F(DaoAdapter, EngineErrorsKeepDaosNumberAndText) {
    struct Case {
        FakeError raised;
        std::string error;
    };
    for (const Case& c : std::vector<Case>{
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
         }) {
        fake.fail = c.raised;
        EXPECT_EQ(ErrorTextOf([&] { engine->CompactDatabase("a.mdb", "b.mdb"); }), c.error);
    }
}

// The engine's class is looked up by name, DAO 3.6 first, then the newer engine: here a class
// object of the test's own stands in, registered under a name of the test's own.
class Factory : public IClassFactory {
  public:
    explicit Factory(FakeDao& dao) : dao_(dao) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        *out = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** out) override {
        *out = nullptr;
        if (FAILED(failWith)) {
            return failWith;
        }
        auto* engine = static_cast<IDispatch*>(dao_.Engine());
        const HRESULT hr = engine->QueryInterface(riid, out);
        engine->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    HRESULT failWith = S_OK;  // what a damaged engine answers

  private:
    FakeDao& dao_;
};

TEST(DaoCreation, TakesTheFirstEngineThatCanBeCreatedOrSaysWhatIsMissingOrBroken) {
    ComScope com;
    const CLSID clsid = {
        0x5e6b2d1c, 0x8f7a, 0x4c1b, {0x9a, 0x3e, 0x7d, 0x2f, 0x4b, 0x6c, 0x8a, 0x10}};
    const std::string progId = "Tarnu.TestEngine.120";
    const char clsidText[] = "{5E6B2D1C-8F7A-4C1B-9A3E-7D2F4B6C8A10}";
    ASSERT_EQ(::RegSetValueA(HKEY_CLASSES_ROOT, (progId + "\\CLSID").c_str(), REG_SZ, clsidText,
                             sizeof clsidText),
              ERROR_SUCCESS);
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
    win32::DaoEngineOver(engine)->CompactDatabase("x.mdb", "y.mdb");
    EXPECT_EQ(fake.calls,
              std::vector<std::string>{"engine.CompactDatabase('x.mdb', 'y.mdb', -, -, -)"});
    // Registered but failing, as a damaged DAO whose DLL is gone: not reported as missing.
    factory.failWith = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    const std::string broken = ErrorTextOf([&] { win32::CreateDaoDispatch(names); });
    ::CoRevokeClassObject(cookie);
    DeleteKeyTree(0x80000000u, progId);

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
