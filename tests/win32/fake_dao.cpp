#include "tests/win32/fake_dao.h"

#include <gtest/gtest.h>

#include "platform/win32/text.h"

#include <windows.h>

#include <oaidl.h>
#include <oleauto.h>

namespace tarnu::test {

namespace {

using win32::Utf8FromWide;
using win32::WideFromUtf8;

HRESULT STDMETHODCALLTYPE FillDescription(EXCEPINFO* info) {
    info->bstrDescription = ::SysAllocString(L"Nachgereichte Beschreibung");
    return S_OK;
}

std::string Shown(const VARIANT& v) {
    switch (v.vt) {
        case VT_BSTR:
            return "'" + Utf8FromWide(std::wstring(v.bstrVal, ::SysStringLen(v.bstrVal))) + "'";
        case VT_I4:
            return std::to_string(v.lVal);
        case VT_BOOL:
            return v.boolVal == VARIANT_TRUE ? "true" : "false";
        case VT_ERROR:
            return v.scode == DISP_E_PARAMNOTFOUND ? "-" : "error";
        default:
            return "vt" + std::to_string(v.vt);
    }
}

// One object of the fake model; kind says which: engine, db, defs or def.
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
    // The adapter asks for one name at a time.
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID,
                                            DISPID* ids) override {
        const auto members = Members();
        for (std::size_t m = 0; m < members.size(); ++m) {
            if (lstrcmpiA(members[m], Utf8FromWide(names[0]).c_str()) == 0) {
                *ids = static_cast<DISPID>(m + 1);
                return S_OK;
            }
        }
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT*) override {
        const std::string member = Members()[static_cast<std::size_t>(id - 1)];
        std::string call = (kind_ == "engine" ? kind_ : kind_ + ":" + db_) + "." + member + "(";
        // The arguments arrive from the last to the first.
        for (UINT i = params->cArgs; i-- > 0;) {
            call += Shown(params->rgvarg[i]) + (i ? ", " : "");
        }
        dao_.calls.push_back(call + ")");
        if (dao_.fail) {
            return Raise(*dao_.fail, exception);
        }
        return Answer(member, *params, result);
    }

  private:
    static HRESULT Raise(const FakeError& error, EXCEPINFO* exception) {
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

    // A new object's one reference goes to the caller.
    HRESULT Answer(const std::string& member, const DISPPARAMS& params, VARIANT* result) {
        const auto text = [&](UINT fromLast) {
            return Utf8FromWide(params.rgvarg[params.cArgs - 1 - fromLast].bstrVal);
        };
        auto& tables = dao_.databases[db_];
        Object* object = nullptr;
        if (member == "OpenDatabase") {
            object = new Object(dao_, "db", text(0));
        } else if (member == "CompactDatabase") {
            dao_.databases[text(1)] = dao_.databases[text(0)];
        } else if (member == "TableDefs") {
            object = new Object(dao_, "defs", db_);
        } else if (member == "Count") {
            result->vt = VT_I2;
            result->iVal = static_cast<SHORT>(tables.size());
        } else if (member == "Item") {
            object = new Object(dao_, "def", db_, static_cast<std::size_t>(params.rgvarg[0].lVal));
        } else if (member == "Delete") {
            std::erase_if(tables, [&](const FakeTable& t) { return t.name == text(0); });
        } else if (member == "Name") {
            result->vt = VT_BSTR;
            result->bstrVal = ::SysAllocString(WideFromUtf8(tables.at(table_).name).c_str());
        } else if (member != "Execute") {
            result->vt = VT_I4;
            result->lVal =
                member == "Attributes" ? tables.at(table_).attributes : tables.at(table_).records;
        }
        if (object) {
            result->vt = VT_DISPATCH;
            result->pdispVal = object;
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

FakeDao::~FakeDao() {
    EXPECT_EQ(live, 0) << "objects of the fake DAO handed out and never released";
}

void* FakeDao::Engine() {
    return static_cast<IDispatch*>(new Object(*this, "engine"));
}

}  // namespace tarnu::test
