#include "StringServer.h"

#include <cstring>
#include <cwchar>

namespace velqor::test {

namespace {

std::wstring Text(const wchar_t* p) { return p ? std::wstring(p) : std::wstring(L"(null)"); }

template <class T>
T* TaskArray(DWORD count) {
    auto* p = static_cast<T*>(CoTaskMemAlloc(sizeof(T) * (count ? count : 1)));
    if (p) std::memset(p, 0, sizeof(T) * (count ? count : 1));
    return p;
}

}  // namespace

LPWSTR TaskString(const wchar_t* text) {
    const size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (p) std::memcpy(p, text, bytes);
    return p;
}

std::vector<std::wstring> StringServer::Seen() {
    std::lock_guard lock(mu_);
    return seen_;
}

void StringServer::Record(std::vector<std::wstring> strings) {
    std::lock_guard lock(mu_);
    seen_ = std::move(strings);
}

HRESULT StringServer::GetErrorString(HRESULT error, LPWSTR* text) {
    Record({});
    *text = TaskString(error == E_FAIL ? L"common: unspecified" : L"common: other");
    return S_OK;
}

HRESULT StringServer::SetClientName(LPCWSTR name) {
    Record({Text(name)});
    return S_OK;
}

HRESULT StringServer::GetErrorString(HRESULT error, LCID, LPWSTR* text) {
    Record({});
    *text = TaskString(error == E_FAIL ? L"server: unspecified" : L"server: other");
    return S_OK;
}

HRESULT StringServer::GetItemID(LPWSTR dataID, LPWSTR* itemID) {
    Record({Text(dataID)});
    *itemID = TaskString((L"Plant.Area/" + Text(dataID)).c_str());
    return S_OK;
}

HRESULT StringServer::GetState(DWORD* rate, BOOL* active, LPWSTR* name, LONG* bias, FLOAT* deadband,
                               DWORD* lcid, OPCHANDLE* client, OPCHANDLE* server) {
    Record({});
    *rate = 500;
    *active = TRUE;
    *name = TaskString(L"Gruppe \u00e4\u00f6\u00fc");
    *bias = 0;
    *deadband = 0;
    *lcid = 0;
    *client = 7;
    *server = 8;
    return S_OK;
}

HRESULT StringServer::SetName(LPCWSTR name) {
    Record({Text(name)});
    return S_OK;
}

HRESULT StringServer::QueryAvailableProperties(LPWSTR itemID, DWORD* count, DWORD** ids,
                                               LPWSTR** descriptions, VARTYPE** types) {
    Record({Text(itemID)});
    *count = 2;
    *ids = TaskArray<DWORD>(2);
    *descriptions = TaskArray<LPWSTR>(2);
    *types = TaskArray<VARTYPE>(2);
    (*descriptions)[0] = TaskString(L"Item Canonical DataType");
    (*descriptions)[1] = TaskString(L"EU Units");
    return S_OK;
}

HRESULT StringServer::LookupItemIDs(LPWSTR itemID, DWORD count, DWORD*, LPWSTR** newItemIDs,
                                    HRESULT** errors) {
    Record({Text(itemID)});
    *newItemIDs = TaskArray<LPWSTR>(count);
    *errors = TaskArray<HRESULT>(count);
    for (DWORD i = 0; i < count; ++i)
        (*newItemIDs)[i] = TaskString((Text(itemID) + L"#" + std::to_wstring(i)).c_str());
    return S_OK;
}

HRESULT StringServer::GetProperties(DWORD count, LPWSTR* itemIDs, BOOL, DWORD, DWORD*,
                                    OPCITEMPROPERTIES** properties) {
    std::vector<std::wstring> seen;
    for (DWORD i = 0; i < count; ++i) seen.push_back(Text(itemIDs[i]));
    Record(std::move(seen));
    *properties = TaskArray<OPCITEMPROPERTIES>(count);
    return S_OK;
}

HRESULT StringServer::Browse(LPWSTR itemID, LPWSTR* continuation, DWORD, OPCBROWSEFILTER,
                             LPWSTR nameFilter, LPWSTR vendorFilter, BOOL, BOOL, DWORD, DWORD*,
                             BOOL* more, DWORD* count, OPCBROWSEELEMENT** elements) {
    Record({Text(itemID), Text(continuation ? *continuation : nullptr), Text(nameFilter),
            Text(vendorFilter)});
    if (continuation) {
        CoTaskMemFree(*continuation);
        *continuation = TaskString(L"next page");
    }
    *more = TRUE;
    *count = 0;
    *elements = nullptr;
    return S_OK;
}

HRESULT StringServer::Read(DWORD count, LPCWSTR* itemIDs, DWORD*, VARIANT** values,
                           WORD** qualities, FILETIME** times, HRESULT** errors) {
    std::vector<std::wstring> seen;
    for (DWORD i = 0; i < count; ++i) seen.push_back(Text(itemIDs[i]));
    Record(std::move(seen));
    *values = TaskArray<VARIANT>(count);
    *qualities = TaskArray<WORD>(count);
    *times = TaskArray<FILETIME>(count);
    *errors = TaskArray<HRESULT>(count);
    return S_OK;
}

HRESULT StringServer::WriteVQT(DWORD count, LPCWSTR* itemIDs, OPCITEMVQT*, HRESULT** errors) {
    std::vector<std::wstring> seen;
    for (DWORD i = 0; i < count; ++i) seen.push_back(Text(itemIDs[i]));
    Record(std::move(seen));
    *errors = TaskArray<HRESULT>(count);
    return S_OK;
}

HRESULT StringServer::GetClassDetails(REFCLSID, LPOLESTR* progID, LPOLESTR* userType,
                                      LPOLESTR* verIndProgID) {
    Record({});
    *progID = TaskString(L"Velqor.Strings.1");
    *userType = TaskString(L"Strings server");
    *verIndProgID = TaskString(L"Velqor.Strings");
    return S_OK;
}

HRESULT StringServer::CLSIDFromProgID(LPCOLESTR progID, LPCLSID clsid) {
    Record({Text(progID)});
    *clsid = GUID{};
    return S_OK;
}

}  // namespace velqor::test
