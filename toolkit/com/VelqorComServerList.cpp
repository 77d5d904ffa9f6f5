#include "com/VelqorComServerList.h"

#include <algorithm>

#include "contract/VelqorError.h"
#include "contract/VelqorTexts.h"

namespace velqor {

namespace {

// The two enumerator interfaces differ in their enumerator type and in GetClassDetails.
template <class List>
struct ListTraits;
template <>
struct ListTraits<IOPCServerList> {
    using Enum = IEnumGUID;
    static HRESULT Details(IOPCServerList* list, REFCLSID clsid, LPOLESTR* progID,
                           LPOLESTR* userType) {
        return list->GetClassDetails(clsid, progID, userType);
    }
};
template <>
struct ListTraits<IOPCServerList2> {
    using Enum = IOPCEnumGUID;
    static HRESULT Details(IOPCServerList2* list, REFCLSID clsid, LPOLESTR* progID,
                           LPOLESTR* userType) {
        LPOLESTR independent = nullptr;
        HRESULT hr = list->GetClassDetails(clsid, progID, userType, &independent);
        CoTaskMemFree(independent);
        return hr;
    }
};

// The default value of HKEY_CLASSES_ROOT\CLSID\{clsid}; empty when it cannot be read.
std::string RegistryDescription(const CLSID& clsid) {
    const std::string key = "CLSID\\" + CLSIDToText(clsid);
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return {};
    std::string value(256, '\0');
    DWORD size = DWORD(value.size());
    LONG rc = RegQueryValueExA(handle, nullptr, nullptr, nullptr,
                               reinterpret_cast<LPBYTE>(value.data()), &size);
    if (rc == ERROR_MORE_DATA) {  // a longer description is read whole, not cut
        value.assign(size, '\0');
        rc = RegQueryValueExA(handle, nullptr, nullptr, nullptr,
                              reinterpret_cast<LPBYTE>(value.data()), &size);
    }
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS) return {};
    value.resize(std::min<size_t>(size, value.size()));
    while (!value.empty() && value.back() == '\0') value.pop_back();
    return value;
}

// "the server list" with the category it was asked for, for the texts.
std::string ListName(uint32_t serverType) {
    static const std::pair<uint32_t, const char*> names[] = {
        {0x01, "DA 1.0"},    {0x02, "DA 2.0"},    {0x04, "DA 3.0"}, {0x08, "AE"},
        {0x10, "Batch 1.0"}, {0x20, "Batch 2.0"}, {0x40, "DX"},     {0x80, "HDA"}};
    for (const auto& [bit, name] : names)
        if (bit == serverType) return std::string("the server list (") + name + ")";
    return "the server list";
}

}  // namespace

CATID ServerTypeCategory(uint32_t bit) {
    switch (bit) {
        case 0x01:
            return CATID_OPCDAServer10;
        case 0x02:
            return CATID_OPCDAServer20;
        case 0x04:
            return CATID_OPCDAServer30;
        case 0x08:
            return CATID_OPCEventServer10;
        case 0x10:
            return CATID_OPCBatchServer10;
        case 0x20:
            return CATID_OPCBatchServer20;
        case 0x40:
            return CATID_OPCDXServer10;
        default:
            return CATID_OPCHDAServer10;
    }
}

std::vector<uint32_t> ServerTypeBits(tVelqorServerSet types) {
    std::vector<uint32_t> bits;
    for (uint32_t bit : {0x01u, 0x02u, 0x04u, 0x10u, 0x20u, 0x40u, 0x80u, 0x08u})
        if (types & bit) bits.push_back(bit);
    return bits;
}

void TVelqorCOMServerBrowser::GetServerList(tVelqorServerSet serverTypes,
                                            const std::string& computerName, int32_t flags,
                                            const TServerReport& onServer) {
    gaps_.clear();
    if (serverTypes == 0) return;
    onServer_ = onServer;
    struct Forget {
        TServerReport& report;
        ~Forget() { report = nullptr; }
    } forget{onServer_};

    const bool remote = !IsBlank(computerName);
    com::ComPtr<::IUnknown> enumerator;
    if (remote) {
        enumerator = CreateServerObject(CLSID_OpcServerList, computerName);
    } else {
        try {
            enumerator = CreateServerObject(CLSID_OpcServerList, "");
        } catch (const std::exception&) {
            // no enumerator on this computer: the categories manager answers
        }
    }
    com::ComPtr<IOPCServerList2> list2;
    com::ComPtr<IOPCServerList> list1;
    if (enumerator) {
        list2 = com::QueryAs<IOPCServerList2>(enumerator);
        if (!list2) list1 = com::QueryAs<IOPCServerList>(enumerator);
        if (!list2 && !list1) {
            enumerator.Reset();
            if (remote) throw EOPCServerListException(MsgText(Msg::ServerListNotFound));
        }
    }

    const std::vector<uint32_t> bits = ServerTypeBits(serverTypes);
    if ((flags & 2) || !enumerator) {
        for (uint32_t bit : bits) {
            const CATID category = ServerTypeCategory(bit);
            if (list2)
                EnumerateList(list2.Get(), {category}, bit);
            else if (list1)
                EnumerateList(list1.Get(), {category}, bit);
            else
                EnumerateCategoriesManager(category, bit);
        }
        return;
    }
    std::vector<CATID> categories;
    for (uint32_t bit : bits) categories.push_back(ServerTypeCategory(bit));
    if (list2)
        EnumerateList(list2.Get(), categories, 0);
    else
        EnumerateList(list1.Get(), categories, 0);
}

template <class List>
void TVelqorCOMServerBrowser::EnumerateList(List* list, std::vector<CATID> categories,
                                            uint32_t serverType) {
    auto* array = static_cast<CATID*>(CoTaskMemAlloc(sizeof(CATID) * categories.size()));
    if (!array) throw EOleSysError(E_OUTOFMEMORY);
    struct Free {
        CATID* array;
        ~Free() { CoTaskMemFree(array); }
    } free{array};
    std::copy(categories.begin(), categories.end(), array);

    // No required categories, given as an empty array: a sized [in] array is a reference
    // pointer and may not be NULL when the call is marshalled.
    CATID noneRequired{};
    com::ComPtr<typename ListTraits<List>::Enum> classes;
    ComCheck(list->EnumClassesOfCategories(ULONG(categories.size()), array, 0, &noneRequired,
                                           classes.Put()));
    ULONG listed = 0;
    while (classes) {
        CLSID found[10];
        ULONG fetched = 0;
        const HRESULT hr = classes->Next(10, found, &fetched);
        if (FAILED(hr)) {  // what was listed stands; the rest is missing, and said to be
            try {
                ComCheck(hr);
            } catch (const std::exception& e) {
                gaps_.push_back(ListName(serverType) + " broke off: " + e.what());
            }
            break;
        }
        if (fetched == 0) break;
        fetched = std::min<ULONG>(fetched, 10);
        if ((listed += fetched) > kMaxServers) {
            gaps_.push_back(ListName(serverType) + " went past " + std::to_string(kMaxServers) +
                            " servers and was cut short");
            break;
        }
        for (ULONG i = 0; i < fetched; ++i) {
            LPOLESTR progID = nullptr, userType = nullptr;
            ListTraits<List>::Details(list, found[i], &progID, &userType);
            const std::string description = OleStrToText(userType), prog = OleStrToText(progID);
            CoTaskMemFree(progID);
            CoTaskMemFree(userType);
            try {
                Report(description, prog, found[i], serverType);
            } catch (const std::exception&) {
                // a fault with one server does not end the listing of the others
            }
        }
        if (hr != S_OK) break;
    }
}

void TVelqorCOMServerBrowser::EnumerateCategoriesManager(const CATID& category,
                                                         uint32_t serverType) {
    com::ComPtr<ICatInformation> manager;
    if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICatInformation, reinterpret_cast<void**>(manager.Put()))) ||
        !manager)
        return;
    com::ComPtr<IEnumGUID> classes;
    CATID noneRequired{};
    ComCheck(manager->EnumClassesOfCategories(1, &category, 0, &noneRequired, classes.Put()));
    HRESULT hr = S_OK;
    CLSID clsid{};
    ULONG fetched = 0;
    while (classes && (hr = classes->Next(1, &clsid, &fetched)) == S_OK && fetched == 1) {
        const std::string description = RegistryDescription(clsid);
        if (!onServer_) continue;
        // A class without a ProgID is still a server: it is listed by its class identifier.
        LPOLESTR progID = nullptr;
        const std::string prog =
            SUCCEEDED(ProgIDFromCLSID(clsid, &progID)) ? OleStrToText(progID) : std::string{};
        CoTaskMemFree(progID);
        Report(description, prog, clsid, serverType);
    }
    ComCheck(hr);
}

void TVelqorCOMServerBrowser::Report(const std::string& description, const std::string& progID,
                                     const CLSID& clsid, uint32_t serverType) {
    if (onServer_) onServer_(description, progID, CLSIDToText(clsid), serverType);
}

}  // namespace velqor
