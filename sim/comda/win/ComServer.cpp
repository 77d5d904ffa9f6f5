#include "ComServer.h"

#include "com/OpcDaIntf.h"
#include "com/runtime/ComText.h"
#include "comda/OpcServerList.h"
#include "comda/SimServers.h"

namespace velqor::sim {
namespace {

HRESULT CreateServerList(REFCLSID, REFIID riid, void** object) {
    return CreateOpcServerList("", riid, object);
}

std::wstring Wide(const std::string& utf8) {
    std::u16string w = com::Utf8ToUtf16(utf8);
    return std::wstring(w.begin(), w.end());
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// Sets the default value (empty name) or a named text value of a key below the classes root,
// creating the key.
LONG SetText(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY h = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h,
                              nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        DWORD((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
    return rc;
}

LONG DeleteTree(const std::wstring& key) {
    LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (rc == ERROR_SUCCESS) rc = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

// The published names of the categories the simulated servers implement.
const wchar_t* CategoryName(REFCATID catid) {
    if (IsEqualGUID(catid, CATID_OPCDAServer10)) return L"OPC Data Access Servers Version 1.0";
    if (IsEqualGUID(catid, CATID_OPCDAServer20)) return L"OPC Data Access Servers Version 2.0";
    if (IsEqualGUID(catid, CATID_OPCDAServer30)) return L"OPC Data Access Servers Version 3.0";
    return nullptr;
}

}  // namespace

const std::vector<ServedClass>& ServedClasses() {
    static const std::vector<ServedClass> classes = [] {
        std::vector<ServedClass> out;
        for (const SimServerClass& s : SimulatedServerClasses())
            out.push_back({s.Clsid, s.ProgId, s.Description, {s.Category}, &CreateSimulatedServer});
        out.push_back(
            {CLSID_OpcServerList, "OPC.ServerList", "OpcServerList Class", {}, &CreateServerList});
        return out;
    }();
    return classes;
}

HRESULT RegisterServedClasses(const std::wstring& modulePath, ServerForm form) {
    LONG rc = ERROR_SUCCESS;
    auto set = [&rc](const std::wstring& key, const wchar_t* name, const std::wstring& value) {
        if (rc == ERROR_SUCCESS) rc = SetText(key, name, value);
    };
    for (const ServedClass& c : ServedClasses()) {
        const std::wstring clsid = GuidText(c.Clsid), key = L"CLSID\\" + clsid;
        const std::wstring progId = Wide(c.ProgId), versioned = progId + L".1";
        const std::wstring description = Wide(c.Description);
        // A class is served by one form at a time: the other one's entry goes.
        DeleteTree(key + (form == ServerForm::Local ? L"\\InprocServer32" : L"\\LocalServer32"));
        set(key, nullptr, description);
        if (form == ServerForm::Local) {
            set(key + L"\\LocalServer32", nullptr, L"\"" + modulePath + L"\"");
        } else {
            set(key + L"\\InprocServer32", nullptr, modulePath);
            set(key + L"\\InprocServer32", L"ThreadingModel", L"Free");
        }
        set(key + L"\\ProgID", nullptr, versioned);
        set(key + L"\\VersionIndependentProgID", nullptr, progId);
        set(versioned, nullptr, description);
        set(versioned + L"\\CLSID", nullptr, clsid);
        set(progId, nullptr, description);
        set(progId + L"\\CLSID", nullptr, clsid);
        set(progId + L"\\CurVer", nullptr, versioned);
        for (const CATID& cat : c.Categories) {
            set(key + L"\\Implemented Categories\\" + GuidText(cat), nullptr, L"");
            if (const wchar_t* name = CategoryName(cat))
                set(L"Component Categories\\" + GuidText(cat), L"409", name);
        }
    }
    return HRESULT_FROM_WIN32(rc);
}

HRESULT UnregisterServedClasses() {
    LONG rc = ERROR_SUCCESS;
    for (const ServedClass& c : ServedClasses()) {
        const std::wstring progId = Wide(c.ProgId);
        for (const std::wstring& key : {L"CLSID\\" + GuidText(c.Clsid), progId + L".1", progId})
            if (LONG r = DeleteTree(key); r != ERROR_SUCCESS) rc = r;
    }
    return HRESULT_FROM_WIN32(rc);
}

std::atomic<long>& ServerLocks() {
    static std::atomic<long> locks{0};
    return locks;
}

bool ServerIdle(long factories) {
    return ServerLocks().load() == 0 && com::LiveObjectCount() <= factories;
}

HRESULT SimClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return served_.Create(served_.Clsid, riid, object);
}

HRESULT SimClassFactory::LockServer(BOOL lock) {
    if (lock)
        ServerLocks().fetch_add(1);
    else
        ServerLocks().fetch_sub(1);
    return S_OK;
}

}  // namespace velqor::sim
