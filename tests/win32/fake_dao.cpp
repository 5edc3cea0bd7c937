#include "tests/win32/fake_dao.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/win32/text.h"

#include <windows.h>

#include <oaidl.h>
#include <oleauto.h>

namespace tarnu::test {

namespace {

using win32::Utf8FromWide;
using win32::WideFromUtf8;

constexpr long kDaoFileNotFound = 3024;
constexpr long kDaoItemNotFound = 3265;

HRESULT STDMETHODCALLTYPE FillDescription(EXCEPINFO* info) {
    info->bstrDescription = ::SysAllocString(L"Nachgereichte Beschreibung");
    return S_OK;
}

// One object of the fake model; kind says which.
class Object : public IDispatch {
  public:
    Object(FakeDao& dao, std::string kind, std::string db = "", std::size_t table = 0)
        : dao_(dao), kind_(std::move(kind)), db_(std::move(db)), table_(table) {
        ++dao_.live;
    }
    virtual ~Object() { --dao_.live; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        for (UINT i = 0; i < count; ++i) {
            const std::string name = Utf8FromWide(names[i]);
            const auto& members = Members();
            ids[i] = DISPID_UNKNOWN;
            for (std::size_t m = 0; m < members.size(); ++m) {
                if (lstrcmpiA(members[m], name.c_str()) == 0) {
                    ids[i] = static_cast<DISPID>(m + 1);
                }
            }
            if (ids[i] == DISPID_UNKNOWN) {
                return DISP_E_UNKNOWNNAME;
            }
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT*) override {
        FakeCall call{Name(), Members()[static_cast<std::size_t>(id - 1)], {}};
        for (UINT i = params->cArgs; i-- > 0;) {
            const VARIANT& v = params->rgvarg[i];
            FakeArg a;
            a.vt = v.vt;
            if (v.vt == VT_BSTR) {
                a.text = Utf8FromWide(std::wstring(v.bstrVal, ::SysStringLen(v.bstrVal)));
            } else if (v.vt == VT_I4) {
                a.number = v.lVal;
            } else if (v.vt == VT_BOOL) {
                a.number = v.boolVal;
            } else if (v.vt == VT_ERROR) {
                a.number = v.scode;
            }
            call.args.push_back(a);
        }
        dao_.calls.push_back(call);
        if (dao_.fail) {
            if (auto error = dao_.fail(call)) {
                return Raise(*error, exception);
            }
        }
        return Answer(call, result, exception);
    }

  protected:
    HRESULT Raise(const FakeError& error, EXCEPINFO* exception) {
        if (!exception) {
            return DISP_E_EXCEPTION;
        }
        *exception = EXCEPINFO{};
        exception->wCode = error.wCode;
        exception->scode = error.scode;
        exception->bstrSource = ::SysAllocString(L"DAO.DBEngine");
        if (error.deferred) {
            exception->pfnDeferredFillIn = FillDescription;
        } else {
            exception->bstrDescription = ::SysAllocString(WideFromUtf8(error.description).c_str());
        }
        return DISP_E_EXCEPTION;
    }

    // Hands a new object's one reference to the caller.
    HRESULT ReturnObject(Object* object, VARIANT* result) {
        result->vt = VT_DISPATCH;
        result->pdispVal = object;
        return S_OK;
    }

    std::vector<const char*> Members() const {
        if (kind_ == "engine") {
            return {"OpenDatabase", "CompactDatabase"};
        }
        if (kind_ == "db") {
            return {"TableDefs", "Execute"};
        }
        if (kind_ == "defs") {
            return {"Count", "Item", "Delete"};
        }
        return {"Name", "Attributes", "RecordCount"};
    }

    std::string Name() const { return kind_ == "engine" ? kind_ : kind_ + ":" + db_; }

    HRESULT Answer(const FakeCall& call, VARIANT* result, EXCEPINFO* exception) {
        auto& tables = dao_.databases[db_];
        if (call.member == "OpenDatabase") {
            const std::string name = call.args.at(0).text;
            if (!dao_.databases.count(name)) {
                return Raise({0, MAKE_HRESULT(1, FACILITY_CONTROL, kDaoFileNotFound),
                              "Datei '" + name + "' nicht gefunden."},
                             exception);
            }
            return ReturnObject(new Object(dao_, "db", name), result);
        }
        if (call.member == "CompactDatabase") {
            // The destination gets the source's bytes.
            std::ifstream in(call.args.at(0).text, std::ios::binary);
            if (!in) {
                return Raise({0, MAKE_HRESULT(1, FACILITY_CONTROL, kDaoFileNotFound),
                              "Datei nicht gefunden."},
                             exception);
            }
            std::ofstream out(call.args.at(1).text, std::ios::binary);
            out << in.rdbuf() << "compacted";
            auto& copy = dao_.databases[call.args.at(1).text];
            if (auto it = dao_.leftOut.find(call.args.at(0).text); it != dao_.leftOut.end()) {
                copy.push_back({"MSysCompactError", static_cast<long>(0x80000002), it->second});
            }
            return S_OK;
        }
        if (call.member == "TableDefs") {
            return ReturnObject(new Object(dao_, "defs", db_), result);
        }
        if (call.member == "Execute") {
            return S_OK;
        }
        if (call.member == "Count") {
            result->vt = VT_I2;
            result->iVal = static_cast<SHORT>(tables.size());
            return S_OK;
        }
        if (call.member == "Item") {
            const long index = call.args.at(0).number;
            if (index < 0 || static_cast<std::size_t>(index) >= tables.size()) {
                return Raise({0, MAKE_HRESULT(1, FACILITY_CONTROL, kDaoItemNotFound),
                              "Element in dieser Auflistung nicht gefunden."},
                             exception);
            }
            return ReturnObject(new Object(dao_, "def", db_, static_cast<std::size_t>(index)),
                                result);
        }
        if (call.member == "Delete") {
            for (auto it = tables.begin(); it != tables.end(); ++it) {
                if (it->name == call.args.at(0).text) {
                    tables.erase(it);
                    return S_OK;
                }
            }
            return Raise({0, MAKE_HRESULT(1, FACILITY_CONTROL, kDaoItemNotFound),
                          "Element in dieser Auflistung nicht gefunden."},
                         exception);
        }
        const FakeTable& table = tables.at(table_);
        if (call.member == "Name") {
            result->vt = VT_BSTR;
            result->bstrVal = ::SysAllocString(WideFromUtf8(table.name).c_str());
        } else {
            result->vt = VT_I4;
            result->lVal = call.member == "Attributes" ? table.attributes : table.records;
        }
        return S_OK;
    }

    FakeDao& dao_;
    std::string kind_;
    std::string db_;
    std::size_t table_;
    ULONG refs_ = 1;
};

}  // namespace

FakeArg Str(const std::string& text) {
    return {VT_BSTR, text, 0};
}

FakeArg Missing() {
    return {VT_ERROR, "", static_cast<long>(DISP_E_PARAMNOTFOUND)};
}

FakeDao::~FakeDao() {
    EXPECT_EQ(live, 0) << "objects of the fake DAO handed out and never released";
}

void* FakeDao::Engine() {
    return static_cast<IDispatch*>(new Object(*this, "engine"));
}

std::vector<FakeCall> FakeDao::CallsOf(const std::string& member) const {
    std::vector<FakeCall> out;
    for (const FakeCall& c : calls) {
        if (c.member == member) {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace tarnu::test
