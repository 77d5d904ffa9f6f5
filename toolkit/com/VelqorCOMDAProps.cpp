// Item properties of a COM server: IOPCBrowse::GetProperties (DA 3.0) and IOPCItemProperties
// (DA 2.0). Per-item failures become entries of the item's list; only a malformed answer raises.
#include <algorithm>
#include <charconv>

#include "com/VelqorCOMDA.h"
#include "contract/VelqorError.h"

namespace velqor {
namespace {

constexpr HRESULT kInvalidDataType = HRESULT(0xC004100AU);

DWORD PropertyIdOf(const std::string& text) {
    uint32_t id = 0;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, id);
    if (text.empty() || ec != std::errc() || p != end)
        throw Exception("'" + text + "' is not a valid property ID");
    return DWORD(id);
}

// The value types a property value may have to be read: the toolkit's kinds, with their array
// and reference flags removed, and its own 8-bit string type.
bool HoldableType(int32_t type) {
    switch (type & 0x0FFF) {
        case VT_EMPTY:
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BSTR:
        case VT_BOOL:
        case VT_VARIANT:
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_I8:
        case 256:
            return true;
        default:
            return false;
    }
}

// Frees what IOPCBrowse::GetProperties returned: every property's strings and value, each
// item's property array and the result array.
struct BrowseResults {
    OPCITEMPROPERTIES* results = nullptr;
    DWORD count = 0;
    ~BrowseResults() {
        if (!results) return;
        for (DWORD i = 0; i < count; ++i) {
            OPCITEMPROPERTY* props = results[i].pItemProperties;
            if (!props) continue;
            for (DWORD k = 0; k < results[i].dwNumProperties; ++k) {
                CoTaskMemFree(props[k].szItemID);
                CoTaskMemFree(props[k].szDescription);
                VariantClear(&props[k].vValue);
            }
            CoTaskMemFree(props);
        }
        CoTaskMemFree(results);
    }
};

// BSTRs of item IDs, freed with the list.
struct BstrList {
    std::vector<BSTR> items;
    ~BstrList() {
        for (BSTR b : items) SysFreeString(b);
    }
};

TVelqorItemProperty PropertyFromBrowse(const OPCITEMPROPERTY& src) {
    TVelqorItemProperty p;
    p.Error = src.hrErrorID == OPC_E_BADRIGHTS ? OPC_E_WRITEONLY : src.hrErrorID;
    try {
        p.PropertyID = int32_t(src.dwPropertyID);
        p.Description = src.szDescription ? OleStrToText(src.szDescription)
                        : src.szItemID    ? OleStrToText(src.szItemID)
                                          : std::string{};
        p.DataType = src.vtDataType;
        p.Value = VariantFromOle(src.vValue);
    } catch (const std::exception&) {
        p.Error = kInvalidDataType;
    }
    return p;
}

}  // namespace

bool TVelqorCOMDAConnection::GetItemProperties(std::vector<TVelqorItemPropertyQuery>& items,
                                               const std::vector<std::string>& propertyFilter,
                                               bool withValues, bool raiseOnError) {
    if (items.empty()) return false;
    auto browse = GetBrowseIntf();
    if (!browse)
        return PropertiesFromItemProperties(items, propertyFilter, withValues, raiseOnError);
    bool ok = PropertiesFromBrowse(browse.Get(), items, propertyFilter, withValues, raiseOnError);
    // A DA 3.0 server may offer its properties only through IOPCItemProperties.
    if (propertyFilter.empty() && items.front().Properties.empty())
        return PropertiesFromItemProperties(items, propertyFilter, withValues, raiseOnError);
    return ok;
}

bool TVelqorCOMDAConnection::PropertiesFromBrowse(IOPCBrowse* browse,
                                                  std::vector<TVelqorItemPropertyQuery>& items,
                                                  const std::vector<std::string>& propertyFilter,
                                                  bool withValues, bool raiseOnError) {
    std::vector<DWORD> ids;
    for (const auto& text : propertyFilter) ids.push_back(PropertyIdOf(text));
    BstrList itemIDs;
    for (const auto& item : items) itemIDs.items.push_back(ToWideString(item.ItemID));

    // A sized [in] array is a reference pointer: never NULL, even with no elements (the
    // platform's marshalling refuses the call).
    DWORD noIds = 0;
    BrowseResults answer;
    const HRESULT hr = browse->GetProperties(DWORD(items.size()), itemIDs.items.data(),
                                             withValues ? BOOL(-1) : BOOL(0), DWORD(ids.size()),
                                             ids.empty() ? &noIds : ids.data(), &answer.results);
    if (FAILED(hr)) {
        answer.results = nullptr;  // nothing comes with a failure
        if (raiseOnError) CheckOPCResult(hr);
        for (auto& item : items) {
            item.Properties.clear();
            item.Properties.push_back(TVelqorItemProperty::Failure(hr));
        }
        return false;
    }
    if (!answer.results) RaiseWrongResult("GetProperties");
    answer.count = DWORD(items.size());
    for (DWORD i = 0; i < answer.count; ++i)
        if (answer.results[i].dwNumProperties > 0 && !answer.results[i].pItemProperties)
            RaiseWrongResult("GetProperties");

    for (size_t i = 0; i < items.size(); ++i) {
        const OPCITEMPROPERTIES& r = answer.results[i];
        auto& list = items[i].Properties;
        list.clear();
        if (r.hrErrorID != S_OK && r.hrErrorID != S_FALSE) {
            TVelqorItemProperty failed;
            failed.Description = "error";
            failed.Error = r.hrErrorID == OPC_E_INVALIDITEMID ? 1 : r.hrErrorID;
            list.push_back(std::move(failed));
            continue;
        }
        for (DWORD k = 0; k < r.dwNumProperties; ++k) {
            if (r.pItemProperties[k].hrErrorID == OPC_E_INVALIDPID) continue;
            list.push_back(PropertyFromBrowse(r.pItemProperties[k]));
        }
    }
    return true;  // every item was answered, each with its properties or its error
}

bool TVelqorCOMDAConnection::PropertiesFromItemProperties(
    std::vector<TVelqorItemPropertyQuery>& items, const std::vector<std::string>& propertyFilter,
    bool withValues, bool raiseOnError) {
    bool ok = true;
    for (auto& item : items) {
        auto& list = item.Properties;
        const HRESULT hr = QueryAvailableProperties(item.ItemID, list);
        if (hr != S_OK) {
            list.push_back(TVelqorItemProperty::Failure(hr));
            ok = false;
            if (raiseOnError) CheckOPCResult(hr);
            continue;
        }
        if (withValues && !ReadPropertyValues(item.ItemID, list)) ok = false;

        bool writeOnly = false;
        for (const auto& p : list) {
            if (withValues && p.PropertyID == int32_t(OPC_PROPERTY_ACCESS_RIGHTS)) {
                try {
                    writeOnly = !p.Value.IsEmpty() && p.Value.AsInt32() == int32_t(OPC_WRITEABLE);
                } catch (const std::exception&) {
                }
            }
        }
        if (!propertyFilter.empty()) {
            list.erase(std::remove_if(list.begin(), list.end(),
                                      [&](const TVelqorItemProperty& p) {
                                          return std::find(propertyFilter.begin(),
                                                           propertyFilter.end(),
                                                           std::to_string(p.PropertyID)) ==
                                                 propertyFilter.end();
                                      }),
                       list.end());
        }
        if (writeOnly) {
            for (auto& p : list)
                if (p.PropertyID >= int32_t(OPC_PROPERTY_VALUE) &&
                    p.PropertyID <= int32_t(OPC_PROPERTY_TIMESTAMP))
                    p.Error = OPC_E_WRITEONLY;
        }
    }
    return ok;
}

HRESULT TVelqorCOMDAConnection::QueryAvailableProperties(const std::string& itemID,
                                                         std::vector<TVelqorItemProperty>& list) {
    list.clear();
    if (itemID.empty() || !GetServer()) return 1;
    auto props = GetItemPropertiesIntf();
    if (!props) return 1;

    BstrList id;
    id.items.push_back(ToWideString(itemID));
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    const HRESULT hr =
        props->QueryAvailableProperties(id.items[0], &count, &ids, &descriptions, &types);
    const bool complete = count == 0 || (ids && descriptions && types);
    if (hr == S_OK && complete) {
        for (DWORD i = 0; i < count; ++i) {
            TVelqorItemProperty p;
            p.PropertyID = int32_t(ids[i]);
            p.Description = OleStrToText(descriptions[i]);
            p.DataType = types[i];
            list.push_back(std::move(p));
        }
    }
    if (SUCCEEDED(hr) && descriptions)
        for (DWORD i = 0; i < count; ++i) CoTaskMemFree(descriptions[i]);
    CoTaskMemFree(ids);
    CoTaskMemFree(descriptions);
    CoTaskMemFree(types);
    if (hr == S_OK && !complete) RaiseWrongResult("QueryAvailableProperties");
    return hr;
}

bool TVelqorCOMDAConnection::ReadPropertyValues(const std::string& itemID,
                                                std::vector<TVelqorItemProperty>& list) {
    if (list.empty()) return true;
    auto props = GetItemPropertiesIntf();
    if (!props) return false;
    std::vector<DWORD> ids;
    for (const auto& p : list) ids.push_back(HoldableType(p.DataType) ? DWORD(p.PropertyID) : 0);

    BstrList id;
    id.items.push_back(ToWideString(itemID));
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr =
        props->GetItemProperties(id.items[0], DWORD(ids.size()), ids.data(), &values, &errors);
    if (FAILED(hr)) {
        // Nothing was read: every value stays empty and carries the call's error.
        for (auto& p : list) p.Error = hr;
        return false;
    }
    const bool complete = values && errors;
    bool ok = complete;
    for (size_t i = 0; complete && i < list.size(); ++i) {
        if (ids[i] == 0) continue;
        if (errors[i] != S_OK) {
            list[i].Error = errors[i];
            ok = false;
            continue;
        }
        try {
            list[i].Value = VariantFromOle(values[i]);
        } catch (const std::exception&) {
            list[i].Value = Variant();
        }
    }
    if (values)
        for (size_t i = 0; i < list.size(); ++i) VariantClear(&values[i]);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    if (!complete) RaiseWrongResult("GetItemProperties");
    return ok;
}

}  // namespace velqor
