// The class registry per computer, object creation on this or a simulated remote computer,
// ProgIDs and identifier texts.
#include <unistd.h>

#include <map>
#include <mutex>

#include "ComClassTable.h"
#include "ComText.h"
#include "PlatformObject.h"

namespace velqor::com {

namespace {

struct Computers {
    std::mutex mu;
    // "" is this computer; the others are simulated remote computers, by lower-case name.
    std::map<std::string, std::vector<ClassRegistration>> classes{{"", {}}};
};

Computers& Table() {
    static Computers* table = new Computers;
    return *table;
}

class ClassFactory : public PlatformObject<IClassFactory> {
  public:
    explicit ClassFactory(std::function<HRESULT(REFIID, void**)> create)
        : create_(std::move(create)) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(::IUnknown* outer, REFIID riid,
                                             void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(riid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  private:
    std::function<HRESULT(REFIID, void**)> create_;
};

std::string Trim(std::string_view t) {
    size_t b = t.find_first_not_of(" \t"), e = t.find_last_not_of(" \t");
    return b == std::string_view::npos ? std::string() : std::string(t.substr(b, e - b + 1));
}

// The creator of a class reachable with the given context, or an error.
bool TrimmedBlank(const std::string& name) {
    return name.find_first_not_of(" \t") == std::string::npos;
}

HRESULT FindCreator(REFCLSID clsid, DWORD ctx, const COSERVERINFO* server,
                    std::function<HRESULT(REFIID, void**)>& create) {
    std::string name = server && server->pwszName ? Utf16ToUtf8(server->pwszName) : "";
    std::string key = detail::ComputerKey(name);
    if (key.empty()) {
        if (clsid == CLSID_StdGlobalInterfaceTable && (ctx & CLSCTX_INPROC_SERVER)) {
            create = detail::CreateGlobalInterfaceTable;
            return S_OK;
        }
        if (clsid == CLSID_StdComponentCategoriesMgr && (ctx & CLSCTX_INPROC_SERVER)) {
            create = detail::CreateCategoriesManager;
            return S_OK;
        }
    } else {
        std::lock_guard lock(Table().mu);
        if (!Table().classes.count(key)) return RPC_S_SERVER_UNAVAILABLE_HR;
    }
    auto reg = detail::FindClass(clsid, key);
    if (!reg || !reg->Create) return REGDB_E_CLASSNOTREG;
    DWORD needed = !key.empty()       ? DWORD(CLSCTX_REMOTE_SERVER)
                   : reg->LocalServer ? DWORD(CLSCTX_LOCAL_SERVER)
                                      : DWORD(CLSCTX_INPROC_SERVER);
    // A remote activation that names this computer reaches its local servers, as DCOM does.
    if (key.empty() && !TrimmedBlank(name) && reg->LocalServer) needed |= CLSCTX_REMOTE_SERVER;
    if (!(ctx & needed)) return REGDB_E_CLASSNOTREG;
    create = reg->Create;
    return S_OK;
}

LPOLESTR TaskString(std::string_view utf8) {
    std::u16string w = Utf8ToUtf16(utf8);
    auto* p = static_cast<LPOLESTR>(CoTaskMemAlloc((w.size() + 1) * sizeof(OLECHAR)));
    if (!p) return nullptr;
    std::char_traits<char16_t>::copy(p, w.c_str(), w.size() + 1);
    return p;
}

}  // namespace

namespace detail {

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

std::string ComputerName() {
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return "LOCALHOST";
    std::string name(buf);
    name = name.substr(0, name.find('.'));
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return name;
}

std::string ComputerKey(std::string_view name) {
    std::string key = LowerAscii(Trim(name));
    while (key.size() > 2 && key[0] == '\\' && key[1] == '\\') key.erase(0, 2);
    if (key.empty() || key == "localhost" || key == LowerAscii(ComputerName())) return "";
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) == 0 && key == LowerAscii(buf)) return "";
    return key;
}

std::optional<ClassRegistration> FindClass(REFCLSID clsid, const std::string& computerKey) {
    std::lock_guard lock(Table().mu);
    auto it = Table().classes.find(computerKey);
    if (it == Table().classes.end()) return std::nullopt;
    for (const auto& reg : it->second)
        if (reg.Clsid == clsid) return reg;
    return std::nullopt;
}

std::optional<ClassRegistration> FindProgId(std::string_view progId) {
    std::string wanted = LowerAscii(progId);
    if (wanted.empty()) return std::nullopt;
    std::lock_guard lock(Table().mu);
    for (const auto& reg : Table().classes[""])
        if (LowerAscii(reg.ProgId) == wanted || LowerAscii(reg.VersionIndependentProgId) == wanted)
            return reg;
    return std::nullopt;
}

}  // namespace detail

void RegisterComClass(const ClassRegistration& reg, const std::string& computer) {
    std::lock_guard lock(Table().mu);
    auto& list = Table().classes[detail::ComputerKey(computer)];
    for (auto& existing : list) {
        if (existing.Clsid == reg.Clsid) {
            existing = reg;
            return;
        }
    }
    list.push_back(reg);
}

bool UnregisterComClass(REFCLSID clsid, const std::string& computer) {
    std::lock_guard lock(Table().mu);
    auto it = Table().classes.find(detail::ComputerKey(computer));
    if (it == Table().classes.end()) return false;
    auto& list = it->second;
    for (auto r = list.begin(); r != list.end(); ++r) {
        if (r->Clsid == clsid) {
            list.erase(r);
            return true;
        }
    }
    return false;
}

std::vector<ClassRegistration> RegisteredClasses(const std::string& computer) {
    std::lock_guard lock(Table().mu);
    auto it = Table().classes.find(detail::ComputerKey(computer));
    return it == Table().classes.end() ? std::vector<ClassRegistration>{} : it->second;
}

void RegisterRemoteComputer(const std::string& name) {
    std::string key = detail::ComputerKey(name);
    if (key.empty()) return;
    std::lock_guard lock(Table().mu);
    Table().classes[key];
}

void UnregisterRemoteComputer(const std::string& name) {
    std::string key = detail::ComputerKey(name);
    if (key.empty()) return;
    std::lock_guard lock(Table().mu);
    Table().classes.erase(key);
}

}  // namespace velqor::com

using namespace velqor::com;

HRESULT CoCreateInstanceEx(REFCLSID rclsid, ::IUnknown* pUnkOuter, DWORD dwClsCtx,
                           COSERVERINFO* pServerInfo, DWORD dwCount, MULTI_QI* pResults) {
    if (dwCount == 0 || !pResults) return E_INVALIDARG;
    for (DWORD i = 0; i < dwCount; ++i) {
        if (!pResults[i].pIID) return E_INVALIDARG;
        pResults[i].pItf = nullptr;
        pResults[i].hr = E_NOINTERFACE;
    }
    auto failAll = [&](HRESULT hr) {
        for (DWORD i = 0; i < dwCount; ++i) pResults[i].hr = hr;
        return hr;
    };
    if (ApartmentInitCount() == 0) return failAll(CO_E_NOTINITIALIZED);
    if (pUnkOuter) return failAll(CLASS_E_NOAGGREGATION);
    std::function<HRESULT(REFIID, void**)> create;
    HRESULT hr = FindCreator(rclsid, dwClsCtx, pServerInfo, create);
    if (FAILED(hr)) return failAll(hr);
    ::IUnknown* object = nullptr;
    hr = create(IID_IUnknown, reinterpret_cast<void**>(&object));
    if (FAILED(hr) || !object) return failAll(FAILED(hr) ? hr : E_NOINTERFACE);
    DWORD found = 0;
    for (DWORD i = 0; i < dwCount; ++i) {
        pResults[i].hr =
            object->QueryInterface(*pResults[i].pIID, reinterpret_cast<void**>(&pResults[i].pItf));
        if (SUCCEEDED(pResults[i].hr)) ++found;
    }
    object->Release();
    return found == dwCount ? S_OK : found > 0 ? CO_S_NOTALLINTERFACES : E_NOINTERFACE;
}

HRESULT CoCreateInstance(REFCLSID rclsid, ::IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    MULTI_QI qi{&riid, nullptr, S_OK};
    HRESULT hr = CoCreateInstanceEx(rclsid, pUnkOuter, dwClsContext & ~DWORD(CLSCTX_REMOTE_SERVER),
                                    nullptr, 1, &qi);
    if (FAILED(hr)) return hr;
    *ppv = qi.pItf;
    return qi.hr;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo,
                         REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (ApartmentInitCount() == 0) return CO_E_NOTINITIALIZED;
    std::function<HRESULT(REFIID, void**)> create;
    HRESULT hr = FindCreator(rclsid, dwClsContext, pServerInfo, create);
    if (FAILED(hr)) return hr;
    auto factory = MakeObject<ClassFactory>(std::move(create));
    return factory->QueryInterface(riid, ppv);
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    if (!lpszProgID || !lpclsid) return E_INVALIDARG;
    auto reg = detail::FindProgId(Utf16ToUtf8(lpszProgID));
    if (!reg) {
        *lpclsid = CLSID_NULL;
        return CO_E_CLASSSTRING;
    }
    *lpclsid = reg->Clsid;
    return S_OK;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
    if (!lplpszProgID) return E_INVALIDARG;
    *lplpszProgID = nullptr;
    auto reg = detail::FindClass(clsid);
    if (!reg || reg->ProgId.empty()) return REGDB_E_CLASSNOTREG;
    *lplpszProgID = TaskString(reg->ProgId);
    return *lplpszProgID ? S_OK : E_OUTOFMEMORY;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (!pclsid) return E_INVALIDARG;
    *pclsid = CLSID_NULL;
    if (!lpsz) return S_OK;
    std::string text = Utf16ToUtf8(lpsz);
    if (text.size() != 38 || text.front() != '{') return CO_E_CLASSSTRING;
    auto guid = GUID::Parse(text);
    if (!guid) return CO_E_CLASSSTRING;
    *pclsid = *guid;
    return S_OK;
}

HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
    if (!lplpsz) return E_INVALIDARG;
    *lplpsz = TaskString(rclsid.ToString());
    return *lplpsz ? S_OK : E_OUTOFMEMORY;
}

HRESULT StringFromIID(REFIID rclsid, LPOLESTR* lplpsz) { return StringFromCLSID(rclsid, lplpsz); }

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    std::u16string w = Utf8ToUtf16(rguid.ToString());
    if (!lpsz || cchMax < int(w.size() + 1)) return 0;
    std::char_traits<char16_t>::copy(lpsz, w.c_str(), w.size() + 1);
    return int(w.size() + 1);
}
