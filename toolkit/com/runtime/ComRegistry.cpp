// The classes-root registry as read access over the class registry (CLSID keys with their
// description, ProgID, version-independent ProgID and implemented categories; ProgID keys with
// their CLSID), and the component categories manager over the same classes.
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "ComClassTable.h"
#include "ComEnumerators.h"
#include "ComText.h"

namespace velqor::com {

namespace {

struct Node {
    std::optional<std::string> value;  // the default value
    std::vector<std::string> subkeys;  // names as registered
};
using Tree = std::map<std::string, Node>;  // by lower-case path

void AddKey(Tree& tree, const std::string& parent, const std::string& name,
            std::optional<std::string> value = std::nullopt) {
    std::string path = parent.empty() ? name : parent + "\\" + name;
    Node& p = tree[detail::LowerAscii(parent)];
    std::string lower = detail::LowerAscii(name);
    bool known = false;
    for (const auto& s : p.subkeys) known = known || detail::LowerAscii(s) == lower;
    if (!known) p.subkeys.push_back(name);
    Node& n = tree[detail::LowerAscii(path)];
    if (value) n.value = std::move(value);
}

Tree BuildTree() {
    Tree tree;
    tree[""];
    AddKey(tree, "", "CLSID");
    for (const auto& reg : RegisteredClasses()) {
        std::string id = reg.Clsid.ToString();
        std::string key = "CLSID\\" + id;
        AddKey(tree, "CLSID", id, reg.Description);
        AddKey(tree, key, reg.LocalServer ? "LocalServer32" : "InprocServer32");
        if (!reg.ProgId.empty()) {
            AddKey(tree, key, "ProgID", reg.ProgId);
            AddKey(tree, "", reg.ProgId, reg.Description);
            AddKey(tree, reg.ProgId, "CLSID", id);
        }
        if (!reg.VersionIndependentProgId.empty()) {
            AddKey(tree, key, "VersionIndependentProgID", reg.VersionIndependentProgId);
            AddKey(tree, "", reg.VersionIndependentProgId, reg.Description);
            AddKey(tree, reg.VersionIndependentProgId, "CLSID", id);
            if (!reg.ProgId.empty())
                AddKey(tree, reg.VersionIndependentProgId, "CurVer", reg.ProgId);
        }
        if (!reg.Categories.empty()) {
            AddKey(tree, key, "Implemented Categories");
            for (const auto& cat : reg.Categories)
                AddKey(tree, key + "\\Implemented Categories", cat.ToString());
        }
    }
    return tree;
}

struct OpenKeys {
    std::mutex mu;
    std::map<HKEY, std::string> paths;  // open handle -> lower-case path
    uintptr_t next = 0x1000;
};
OpenKeys& Keys() {
    static OpenKeys* keys = new OpenKeys;
    return *keys;
}

std::optional<std::string> PathOf(HKEY key) {
    if (key == HKEY_CLASSES_ROOT) return std::string();
    std::lock_guard lock(Keys().mu);
    auto it = Keys().paths.find(key);
    if (it == Keys().paths.end()) return std::nullopt;
    return it->second;
}

LONG Open(HKEY base, std::string sub, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    auto path = PathOf(base);
    if (!path) return ERROR_INVALID_HANDLE;
    while (!sub.empty() && sub.front() == '\\') sub.erase(0, 1);
    while (!sub.empty() && sub.back() == '\\') sub.pop_back();
    std::string full =
        detail::LowerAscii(path->empty() || sub.empty() ? *path + sub : *path + "\\" + sub);
    Tree tree = BuildTree();
    if (!tree.count(full)) return ERROR_FILE_NOT_FOUND;
    std::lock_guard lock(Keys().mu);
    HKEY key = reinterpret_cast<HKEY>(Keys().next++);
    Keys().paths.emplace(key, full);
    *result = key;
    return ERROR_SUCCESS;
}

// Default value (or subkey name) as bytes; isName selects the subkey at index.
LONG Fetch(HKEY key, std::optional<DWORD> subkeyIndex, std::string& utf8) {
    auto path = PathOf(key);
    if (!path) return ERROR_INVALID_HANDLE;
    Tree tree = BuildTree();
    auto it = tree.find(*path);
    if (it == tree.end()) return ERROR_FILE_NOT_FOUND;
    if (subkeyIndex) {
        if (*subkeyIndex >= it->second.subkeys.size()) return ERROR_NO_MORE_ITEMS;
        utf8 = it->second.subkeys[*subkeyIndex];
        return ERROR_SUCCESS;
    }
    if (!it->second.value) return ERROR_FILE_NOT_FOUND;
    utf8 = *it->second.value;
    return ERROR_SUCCESS;
}

LONG CopyValue(const void* bytes, DWORD size, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpType) *lpType = REG_SZ;
    if (!lpcbData) return lpData ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (!lpData) {
        *lpcbData = size;
        return ERROR_SUCCESS;
    }
    if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpData, bytes, size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

template <class Char>
LONG CopyName(const std::basic_string<Char>& name, Char* out, LPDWORD cch) {
    if (!out || !cch) return ERROR_INVALID_PARAMETER;
    if (*cch < name.size() + 1) return ERROR_MORE_DATA;
    std::char_traits<Char>::copy(out, name.c_str(), name.size() + 1);
    *cch = DWORD(name.size());
    return ERROR_SUCCESS;
}

bool ImplementsAny(const ClassRegistration& reg, ULONG count, const CATID* cats) {
    if (count == ULONG(-1)) return true;
    for (ULONG i = 0; i < count; ++i)
        for (const auto& c : reg.Categories)
            if (c == cats[i]) return true;
    return false;
}

class CategoriesManager : public PlatformObject<ICatInformation> {
  public:
    HRESULT STDMETHODCALLTYPE EnumCategories(LCID lcid, IEnumCATEGORYINFO** out) override {
        if (!out) return E_POINTER;
        std::set<CATID> seen;
        std::vector<CATEGORYINFO> infos;
        for (const auto& reg : RegisteredClasses())
            for (const auto& c : reg.Categories)
                if (seen.insert(c).second) infos.push_back(CATEGORYINFO{c, lcid, {}});
        *out = MakeObject<CategoryInfoEnumerator>(std::move(infos)).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCategoryDesc(REFCATID, LCID, LPWSTR* desc) override {
        if (desc) *desc = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented, const CATID rgcatidImpl[],
                                                      ULONG, const CATID[],
                                                      IEnumGUID** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (cImplemented != ULONG(-1) && cImplemented > 0 && !rgcatidImpl) return E_INVALIDARG;
        std::vector<GUID> classes;
        for (const auto& reg : RegisteredClasses())
            if (ImplementsAny(reg, cImplemented, rgcatidImpl)) classes.push_back(reg.Clsid);
        *out = MakeObject<GuidEnumerator>(std::move(classes)).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsClassOfCategories(REFCLSID rclsid, ULONG cImplemented,
                                                  const CATID rgcatidImpl[], ULONG,
                                                  const CATID[]) override {
        auto reg = detail::FindClass(rclsid);
        if (!reg) return REGDB_E_CLASSNOTREG;
        return ImplementsAny(*reg, cImplemented, rgcatidImpl) ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE EnumImplCategoriesOfClass(REFCLSID rclsid, IEnumGUID** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        auto reg = detail::FindClass(rclsid);
        if (!reg) return REGDB_E_CLASSNOTREG;
        *out = MakeObject<GuidEnumerator>(reg->Categories).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumReqCategoriesOfClass(REFCLSID rclsid, IEnumGUID** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!detail::FindClass(rclsid)) return REGDB_E_CLASSNOTREG;
        *out = MakeObject<GuidEnumerator>(std::vector<GUID>{}).Detach();
        return S_OK;
    }
};

}  // namespace

HRESULT detail::CreateCategoriesManager(REFIID riid, void** object) {
    auto manager = MakeObject<CategoriesManager>();
    return manager->QueryInterface(riid, object);
}

}  // namespace velqor::com

using namespace velqor::com;

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    return Open(hKey, lpSubKey ? lpSubKey : "", phkResult);
}

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    return Open(hKey, Utf16ToUtf8(lpSubKey), phkResult);
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
    if (lpValueName && *lpValueName) return ERROR_FILE_NOT_FOUND;
    std::string value;
    LONG rc = Fetch(hKey, std::nullopt, value);
    if (rc != ERROR_SUCCESS) return rc;
    return CopyValue(value.c_str(), DWORD(value.size() + 1), lpType, lpData, lpcbData);
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
    if (lpValueName && *lpValueName) return ERROR_FILE_NOT_FOUND;
    std::string value;
    LONG rc = Fetch(hKey, std::nullopt, value);
    if (rc != ERROR_SUCCESS) return rc;
    std::u16string w = Utf8ToUtf16(value);
    return CopyValue(w.c_str(), DWORD((w.size() + 1) * sizeof(WCHAR)), lpType, lpData, lpcbData);
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD, LPSTR,
                   LPDWORD, FILETIME*) {
    std::string name;
    LONG rc = Fetch(hKey, dwIndex, name);
    return rc != ERROR_SUCCESS ? rc : CopyName(name, lpName, lpcchName);
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR,
                   LPDWORD, FILETIME*) {
    std::string name;
    LONG rc = Fetch(hKey, dwIndex, name);
    return rc != ERROR_SUCCESS ? rc : CopyName(Utf8ToUtf16(name), lpName, lpcchName);
}

LONG RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
    std::lock_guard lock(Keys().mu);
    return Keys().paths.erase(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
