#include "platform/win32/dao_engine.h"

#include <utility>

#include "platform/win32/text.h"
#include "ports/error.h"

#include <windows.h>

#include <oaidl.h>
#include <objbase.h>
#include <oleauto.h>

namespace tarnu::win32 {

namespace {

constexpr std::int32_t kMemberNotFound = 438;
// The table in which Jet lists what a compaction left out.
constexpr const char* kCompactErrorTable = "MSysCompactError";

// One argument as it is passed to IDispatch::Invoke.
class Arg {
  public:
    static Arg Text(const std::string& utf8) {
        Arg a;
        a.v_.vt = VT_BSTR;
        const std::wstring wide = WideFromUtf8(utf8);
        a.v_.bstrVal = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        if (!a.v_.bstrVal) {
            throw Error(err::OutOfMemory);
        }
        return a;
    }
    static Arg Bool(bool value) {
        Arg a;
        a.v_.vt = VT_BOOL;
        a.v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        return a;
    }
    static Arg Long(std::int32_t value) {
        Arg a;
        a.v_.vt = VT_I4;
        a.v_.lVal = value;
        return a;
    }
    // An argument left out: the engine takes its default.
    static Arg Omitted() {
        Arg a;
        a.v_.vt = VT_ERROR;
        a.v_.scode = DISP_E_PARAMNOTFOUND;
        return a;
    }
    Arg() { ::VariantInit(&v_); }
    Arg(Arg&& other) noexcept : v_(other.v_) { ::VariantInit(&other.v_); }
    Arg(const Arg&) = delete;
    Arg& operator=(const Arg&) = delete;
    ~Arg() { ::VariantClear(&v_); }
    const VARIANT& get() const { return v_; }

  private:
    VARIANT v_;
};

// A VARIANT result that clears itself.
struct Result {
    Result() { ::VariantInit(&v); }
    ~Result() { ::VariantClear(&v); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    VARIANT v;
};

std::string FromBstr(BSTR text) {
    return text ? Utf8FromWide(std::wstring_view(text, ::SysStringLen(text))) : std::string();
}

// The error the engine reported in an exception record, numbered as DAO numbers its errors.
Error FromException(EXCEPINFO& info) {
    if (info.pfnDeferredFillIn) {
        info.pfnDeferredFillIn(&info);
    }
    std::int32_t number = info.wCode;
    if (number == 0) {
        const HRESULT code = info.scode;
        // DAO raises its own numbers as HRESULTs of the facility of controls: 3024 is
        // 0x800A0BD0.
        number = HRESULT_FACILITY(code) == FACILITY_CONTROL ? HRESULT_CODE(code)
                                                            : static_cast<std::int32_t>(code);
    }
    std::string description = FromBstr(info.bstrDescription);
    ::SysFreeString(info.bstrDescription);
    ::SysFreeString(info.bstrSource);
    ::SysFreeString(info.bstrHelpFile);
    if (description.empty()) {
        description = standardErrorDescription(number);
    }
    return Error(number, description);
}

Error FromHresult(HRESULT code) {
    char text[64];
    wsprintfA(text, "Automatisierungsfehler (0x%08lX)", static_cast<unsigned long>(code));
    return Error(static_cast<std::int32_t>(code), text);
}

// One reference to an automation object, and calls of its members by name.
class Dispatch {
  public:
    explicit Dispatch(IDispatch* p) : p_(p) {}
    Dispatch(Dispatch&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Dispatch(const Dispatch&) = delete;
    Dispatch& operator=(const Dispatch&) = delete;
    ~Dispatch() {
        if (p_) {
            p_->Release();
        }
    }

    void Call(const wchar_t* name, WORD kind, const std::vector<Arg>& args, Result& result) {
        DISPID id = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        if (FAILED(p_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
            throw Error(
                kMemberNotFound,
                "Objekt unterstützt diese Eigenschaft oder Methode nicht: " + Utf8FromWide(name));
        }
        // Invoke takes the arguments from the last to the first.
        std::vector<VARIANT> reversed;
        for (auto it = args.rbegin(); it != args.rend(); ++it) {
            reversed.push_back(it->get());
        }
        DISPPARAMS params{};
        params.rgvarg = reversed.empty() ? nullptr : reversed.data();
        params.cArgs = static_cast<UINT>(reversed.size());
        EXCEPINFO exception{};
        UINT badArg = 0;
        const HRESULT hr = p_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, &result.v,
                                      &exception, &badArg);
        if (hr == DISP_E_EXCEPTION) {
            throw FromException(exception);
        }
        if (FAILED(hr)) {
            throw FromHresult(hr);
        }
    }

    Dispatch Object(const wchar_t* name, WORD kind, const std::vector<Arg>& args = {}) {
        Result r;
        Call(name, kind, args, r);
        if (r.v.vt != VT_DISPATCH || !r.v.pdispVal) {
            throw FromHresult(DISP_E_TYPEMISMATCH);
        }
        IDispatch* p = r.v.pdispVal;
        p->AddRef();
        return Dispatch(p);
    }

    std::int32_t Long(const wchar_t* name) {
        Result r;
        Call(name, DISPATCH_PROPERTYGET, {}, r);
        const HRESULT hr = ::VariantChangeType(&r.v, &r.v, 0, VT_I4);
        if (FAILED(hr)) {
            throw FromHresult(hr);
        }
        return r.v.lVal;
    }

    std::string Text(const wchar_t* name) {
        Result r;
        Call(name, DISPATCH_PROPERTYGET, {}, r);
        const HRESULT hr = ::VariantChangeType(&r.v, &r.v, 0, VT_BSTR);
        if (FAILED(hr)) {
            throw FromHresult(hr);
        }
        return FromBstr(r.v.bstrVal);
    }

    void Method(const wchar_t* name, const std::vector<Arg>& args) {
        Result r;
        Call(name, DISPATCH_METHOD, args, r);
    }

  private:
    IDispatch* p_;
};

std::vector<Arg> Args(std::initializer_list<Arg*> list) {
    std::vector<Arg> out;
    for (Arg* a : list) {
        out.push_back(std::move(*a));
    }
    return out;
}

class DaoTableDefs : public dao::TableDefs {
  public:
    explicit DaoTableDefs(Dispatch defs) : defs_(std::move(defs)) {}
    int Count() override { return defs_.Long(L"Count"); }
    // Name and attributes only: the maintenance reads nothing else of a definition.
    dao::TableDef Item(int index) override {
        Arg i = Arg::Long(index);
        Dispatch def = defs_.Object(L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET, Args({&i}));
        dao::TableDef out;
        out.Name = def.Text(L"Name");
        out.Attributes = def.Long(L"Attributes");
        return out;
    }
    void Delete(const std::string& name) override {
        Arg n = Arg::Text(name);
        defs_.Method(L"Delete", Args({&n}));
    }

  private:
    Dispatch defs_;
};

class DaoDatabase : public dao::Database {
  public:
    explicit DaoDatabase(Dispatch db) : db_(std::move(db)) {}
    dao::TableDefs& TableDefs() override {
        if (!defs_) {
            defs_ = std::make_unique<DaoTableDefs>(db_.Object(L"TableDefs", DISPATCH_PROPERTYGET));
        }
        return *defs_;
    }
    void Execute(const std::string& statement) override {
        Arg query = Arg::Text(statement);
        Arg options = Arg::Omitted();
        db_.Method(L"Execute", Args({&query, &options}));
    }

  private:
    // The engine closes the database when its last reference goes; the collection, declared
    // last, is released first.
    Dispatch db_;
    std::unique_ptr<DaoTableDefs> defs_;
};

// Jet keeps a file that is being compacted to itself, and the replace that follows refuses a
// file that anyone has open: there is nothing left for a reservation to do on Windows.
class NoReservation : public dao::Reservation {
  public:
    bool StillInPlace() override { return true; }
};

class DaoEngine : public dao::DBEngine {
  public:
    explicit DaoEngine(Dispatch engine) : engine_(std::move(engine)) {}
    std::unique_ptr<dao::Database> OpenDatabase(const std::string& name) override {
        Arg n = Arg::Text(name);
        Arg options = Arg::Omitted();
        Arg readOnly = Arg::Omitted();
        Arg connect = Arg::Omitted();
        return std::make_unique<DaoDatabase>(engine_.Object(
            L"OpenDatabase", DISPATCH_METHOD, Args({&n, &options, &readOnly, &connect})));
    }
    void CompactDatabase(const std::string& source, const std::string& destination,
                         const std::optional<std::string>& locale,
                         const std::optional<std::int32_t>& options,
                         const std::optional<std::string>& password) override {
        Arg src = Arg::Text(source);
        Arg dst = Arg::Text(destination);
        Arg loc = locale ? Arg::Text(*locale) : Arg::Omitted();
        Arg opt = options ? Arg::Long(*options) : Arg::Omitted();
        Arg pwd = password ? Arg::Text(*password) : Arg::Omitted();
        engine_.Method(L"CompactDatabase", Args({&src, &dst, &loc, &opt, &pwd}));
    }
    std::unique_ptr<dao::Reservation> Reserve(const std::string&) override {
        return std::make_unique<NoReservation>();
    }
    // Jet does not list its system tables apart: the walk reads every definition's name. The
    // database is released before this returns, or the replace that follows would fail.
    std::optional<std::int32_t> CompactErrors(const std::string& path,
                                              const std::optional<std::string>& password) override {
        Arg n = Arg::Text(path);
        Arg exclusive = Arg::Omitted();
        Arg readOnly = Arg::Bool(true);
        Arg connect = password ? Arg::Text(*password) : Arg::Omitted();
        Dispatch db = engine_.Object(L"OpenDatabase", DISPATCH_METHOD,
                                     Args({&n, &exclusive, &readOnly, &connect}));
        Dispatch defs = db.Object(L"TableDefs", DISPATCH_PROPERTYGET);
        const std::int32_t count = defs.Long(L"Count");
        for (std::int32_t i = 0; i < count; ++i) {
            Arg index = Arg::Long(i);
            Dispatch def =
                defs.Object(L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET, Args({&index}));
            if (::lstrcmpiA(def.Text(L"Name").c_str(), kCompactErrorTable) == 0) {
                return def.Long(L"RecordCount");
            }
        }
        return std::nullopt;
    }
    std::unique_ptr<dao::Pins> PinFiles() override { return std::make_unique<dao::Pins>(); }

  private:
    Dispatch engine_;
};

}  // namespace

void* CreateDaoDispatch(const std::vector<std::wstring>& progIds) {
    std::string tried;
    std::string damaged;
    for (const std::wstring& progId : progIds) {
        const std::string name = Utf8FromWide(progId);
        tried += (tried.empty() ? "" : ", ") + name;
        CLSID clsid{};
        IDispatch* engine = nullptr;
        HRESULT hr = ::CLSIDFromProgID(progId.c_str(), &clsid);
        if (SUCCEEDED(hr)) {
            hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                    IID_IDispatch, reinterpret_cast<void**>(&engine));
        }
        if (SUCCEEDED(hr) && engine) {
            return engine;
        }
        // An engine that is simply not there lets the next one be tried. Any other failure means
        // one is there and broken: the next may still work, but if none does, installing
        // Access is not the cure, and what Windows said is the one clue to what is.
        if (hr != REGDB_E_CLASSNOTREG && hr != CO_E_CLASSSTRING) {
            char code[16];
            wsprintfA(code, "0x%08lX", static_cast<unsigned long>(SUCCEEDED(hr) ? E_POINTER : hr));
            damaged += (damaged.empty() ? "" : "; ") + name + ": Fehler " + code;
        }
    }
    if (!damaged.empty()) {
        throw Error(NoDaoError,
                    "Die Datenbankschnittstelle DAO ist auf diesem Rechner eingetragen, lässt "
                    "sich aber nicht starten (" +
                        damaged +
                        "). Bitte reparieren Sie die Installation von Microsoft Access 2003 oder "
                        "der Access-Runtime. Es wurde keine Datei verändert.");
    }
    throw Error(NoDaoError,
                "Die Datenbankschnittstelle DAO ist auf diesem Rechner nicht "
                "installiert (gesucht: " +
                    tried +
                    "). Bitte installieren Sie Microsoft Access 2003 oder die "
                    "Access-Runtime. Es wurde keine Datei verändert.");
}

std::unique_ptr<dao::DBEngine> DaoEngineOver(void* dispatch) {
    return std::make_unique<DaoEngine>(Dispatch(static_cast<IDispatch*>(dispatch)));
}

std::unique_ptr<dao::DBEngine> MakeDaoEngine() {
    return DaoEngineOver(CreateDaoDispatch());
}

}  // namespace tarnu::win32
