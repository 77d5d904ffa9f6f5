// On Windows the server enumerator lists the system's classes from the registry; its own
// registration is the servers' (comda-sim /RegServer, regsvr32 comda-sim-inproc.dll).
#include "com/runtime/ComText.h"
#include "comda/OpcServerList.h"

namespace velqor::sim {
namespace {

// A text value of a key below the classes root; empty when there is none.
std::string ReadText(HKEY root, const wchar_t* subKey, const wchar_t* name) {
    wchar_t buffer[512] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t), type = 0;
    HKEY h = nullptr;
    if (RegOpenKeyExW(root, subKey, 0, KEY_READ, &h) != ERROR_SUCCESS) return {};
    LONG rc = RegQueryValueExW(h, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS && type == REG_SZ ? com::Utf16ToUtf8(buffer) : std::string();
}

// The subkey names of a key.
std::vector<std::wstring> SubKeys(HKEY key) {
    std::vector<std::wstring> out;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        out.emplace_back(name, length);
    }
    return out;
}

}  // namespace

std::vector<ListedClass> ListedClasses(const std::string&) {
    std::vector<ListedClass> out;
    HKEY classes = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_READ, &classes) != ERROR_SUCCESS)
        return out;
    for (const std::wstring& name : SubKeys(classes)) {
        ListedClass c;
        if (FAILED(CLSIDFromString(name.c_str(), &c.Clsid))) continue;
        HKEY cls = nullptr;
        if (RegOpenKeyExW(classes, name.c_str(), 0, KEY_READ, &cls) != ERROR_SUCCESS) continue;
        HKEY cats = nullptr;
        if (RegOpenKeyExW(cls, L"Implemented Categories", 0, KEY_READ, &cats) == ERROR_SUCCESS) {
            for (const std::wstring& cat : SubKeys(cats)) {
                CATID id{};
                if (SUCCEEDED(CLSIDFromString(cat.c_str(), &id))) c.Categories.push_back(id);
            }
            RegCloseKey(cats);
        }
        c.Description = ReadText(cls, nullptr, nullptr);
        c.ProgId = ReadText(cls, L"ProgID", nullptr);
        c.VersionIndependentProgId = ReadText(cls, L"VersionIndependentProgID", nullptr);
        RegCloseKey(cls);
        out.push_back(std::move(c));
    }
    RegCloseKey(classes);
    return out;
}

void RegisterOpcServerList(const std::string&) {}
void UnregisterOpcServerList(const std::string&) {}

}  // namespace velqor::sim
