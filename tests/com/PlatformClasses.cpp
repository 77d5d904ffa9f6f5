// Classes a Windows test registers for itself, over the platform's COM: a class object offered
// to this process (CoRegisterClassObject) and the registry entries a client and the server list
// read (CLSID, ProgIDs, implemented categories). Other computers cannot be simulated there.
#include <map>
#include <mutex>

#include "com/runtime/ComRuntimeControl.h"
#include "com/runtime/ComText.h"
#include "com/runtime/PlatformObject.h"

namespace velqor::com {
namespace {

class Factory : public PlatformObject<IClassFactory> {
  public:
    explicit Factory(std::function<HRESULT(const ::IID&, void**)> create)
        : create_(std::move(create)) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, const ::IID& riid,
                                             void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        return outer ? CLASS_E_NOAGGREGATION : create_(riid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  private:
    std::function<HRESULT(const ::IID&, void**)> create_;
};

struct Offered {
    ClassRegistration Reg;
    DWORD Cookie = 0;
};
std::mutex g_mu;
std::map<std::wstring, Offered> g_offered;

std::wstring Wide(const std::string& utf8) {
    std::u16string w = Utf8ToUtf16(utf8);
    return std::wstring(w.begin(), w.end());
}
std::wstring Text(const ::GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}
void SetText(const std::wstring& key, const std::wstring& value) {
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   DWORD((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
}
void DeleteTree(const std::wstring& key) {
    if (key.empty()) return;
    RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
}

}  // namespace

void RegisterComClass(const ClassRegistration& reg, const std::string& computer) {
    if (!computer.empty()) return;
    UnregisterComClass(reg.Clsid);
    // The class object stays offered after the registering test's apartment ends: the thread
    // keeps one initialisation of its single-threaded apartment of its own.
    static thread_local HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    (void)joined;
    Offered offered{reg, 0};
    auto factory = MakeObject<Factory>(reg.Create);
    if (FAILED(CoRegisterClassObject(reg.Clsid, factory.Get(),
                                     CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                     &offered.Cookie)))
        return;
    const std::wstring clsid = Text(reg.Clsid), key = L"CLSID\\" + clsid;
    SetText(key, Wide(reg.Description));
    for (const std::string& progId : {reg.ProgId, reg.VersionIndependentProgId}) {
        if (progId.empty()) continue;
        SetText(Wide(progId), Wide(reg.Description));
        SetText(Wide(progId) + L"\\CLSID", clsid);
    }
    if (!reg.ProgId.empty()) SetText(key + L"\\ProgID", Wide(reg.ProgId));
    if (!reg.VersionIndependentProgId.empty())
        SetText(key + L"\\VersionIndependentProgID", Wide(reg.VersionIndependentProgId));
    for (const ::CATID& cat : reg.Categories)
        SetText(key + L"\\Implemented Categories\\" + Text(cat), L"");
    std::lock_guard lock(g_mu);
    g_offered[clsid] = std::move(offered);
}

bool UnregisterComClass(const ::CLSID& clsid, const std::string& computer) {
    if (!computer.empty()) return false;
    Offered offered;
    {
        std::lock_guard lock(g_mu);
        auto it = g_offered.find(Text(clsid));
        if (it == g_offered.end()) return false;
        offered = std::move(it->second);
        g_offered.erase(it);
    }
    CoRevokeClassObject(offered.Cookie);
    DeleteTree(L"CLSID\\" + Text(clsid));
    DeleteTree(Wide(offered.Reg.ProgId));
    DeleteTree(Wide(offered.Reg.VersionIndependentProgId));
    return true;
}

std::vector<ClassRegistration> RegisteredClasses(const std::string& computer) {
    std::vector<ClassRegistration> out;
    std::lock_guard lock(g_mu);
    if (computer.empty())
        for (const auto& [key, offered] : g_offered) out.push_back(offered.Reg);
    return out;
}

void RegisterRemoteComputer(const std::string&) {}
void UnregisterRemoteComputer(const std::string&) {}

}  // namespace velqor::com
