// The COM group's item management: add or validate, remove, activate, data types, and the
// engineering units from the server's item attributes.
#include <algorithm>

#include "com/VelqorCOMDAGroup.h"
#include "com/VelqorCOMDAGroupCalls.h"

namespace velqor {

namespace comgroup {

std::vector<OPCHANDLE> ServerHandles(const TVelqorItemList& items) {
    std::vector<OPCHANDLE> handles;
    handles.reserve(size_t(items.Count()));
    for (TVelqorItemData* item : items) handles.push_back(OPCHANDLE(item->FServerHandle));
    return handles;
}

void RequireAdded(const TVelqorItemList& items) {
    for (TVelqorItemData* item : items)
        if (item->FServerHandle == -1)
            throw EOPCGroupException(MsgFormat(Msg::ItemNotExists, item->FItemID));
}

int ApplyItemErrors(const TVelqorItemList& items, const HRESULT* errors, bool badQualityOnFailure) {
    TItemResults results;
    for (int i = 0; i < items.Count(); ++i)
        results.Result(*items[i], errors[i], badQualityOnFailure);
    return results.Failures();
}

}  // namespace comgroup

using namespace comgroup;

bool TVelqorCOMGroup::AddItems(TVelqorItemList& items, bool add) {
    for (TVelqorItemData* item : items)
        if (item->FServerHandle != -1)
            throw EOPCGroupException(MsgFormat(Msg::ItemExists, item->FItemID));
    if (!groupObject_ || items.Empty()) return false;
    const size_t n = size_t(items.Count());
    std::vector<OPCITEMDEF> defs(n);
    for (size_t i = 0; i < n; ++i) {
        TVelqorItemData* item = items[int(i)];
        defs[i].szAccessPath = ToWideString(item->FAccessPath);
        defs[i].szItemID = ToWideString(item->FItemID);
        defs[i].bActive = item->FIsActive ? TRUE : FALSE;
        defs[i].hClient = item->ClientHandle();
        defs[i].vtRequestedDataType = VARTYPE(item->FRequestDatatype);
    }
    TaskArray<OPCITEMRESULT> results;
    TaskArray<HRESULT> errors;
    const HRESULT hr =
        add ? groupObject_->AddItems(DWORD(n), defs.data(), results.Put(), errors.Put())
            : groupObject_->ValidateItems(DWORD(n), defs.data(), FALSE, results.Put(),
                                          errors.Put());
    for (OPCITEMDEF& d : defs) {
        SysFreeString(d.szAccessPath);
        SysFreeString(d.szItemID);
    }
    if (results)
        for (size_t i = 0; i < n; ++i) CoTaskMemFree(results[i].pBlob);
    CheckOPCResult(hr);
    if (!results || !errors) RaiseWrongResult(add ? "AddItems" : "ValidateItems");
    TItemResults outcome;
    for (size_t i = 0; i < n; ++i) {
        TVelqorItemData* item = items[int(i)];
        if (FAILED(errors[i])) {
            outcome.Failed(*item, errors[i], {}, false);
            continue;
        }
        if (add) {
            item->FServerHandle = int32_t(results[i].hServer);
            itemHandles_.insert(item->ClientHandle());
        }
        item->FCanonicalDatatype = results[i].vtCanonicalDataType;
        item->FAccessRights = int32_t(results[i].dwAccessRights);
        outcome.Succeeded(*item);
    }
    return outcome.AllSucceeded();
}

bool TVelqorCOMGroup::RemoveItems(bool serverShutDown, TVelqorItemList& items) {
    if (serverShutDown) {
        for (TVelqorItemData* item : items) {
            item->FServerHandle = -1;
            itemHandles_.erase(item->ClientHandle());
        }
        return false;
    }
    RequireAdded(items);
    if (!groupObject_ || items.Empty()) return false;
    std::vector<OPCHANDLE> handles = ServerHandles(items);
    TaskArray<HRESULT> errors;
    const HRESULT hr =
        groupObject_->RemoveItems(DWORD(handles.size()), handles.data(), errors.Put());
    TItemResults outcome;
    for (int i = 0; i < items.Count(); ++i) {
        items[i]->FServerHandle = -1;
        itemHandles_.erase(items[i]->ClientHandle());
        outcome.Result(*items[i], errors ? errors[size_t(i)] : hr, false);
    }
    return outcome.AllSucceeded();
}

bool TVelqorCOMGroup::SetActiveState(TVelqorItemList& items, bool active) {
    RequireAdded(items);
    if (!groupObject_ || items.Empty()) return false;
    std::vector<OPCHANDLE> handles = ServerHandles(items);
    TaskArray<HRESULT> errors;
    const HRESULT hr = groupObject_->SetActiveState(DWORD(handles.size()), handles.data(),
                                                    active ? TRUE : FALSE, errors.Put());
    CheckOPCResult(hr);
    if (!errors) RaiseWrongResult("SetActiveState");
    for (int i = 0; i < items.Count(); ++i)
        if (SUCCEEDED(errors[size_t(i)])) items[i]->FIsActive = active;
    return ApplyItemErrors(items, errors.Get(), false) == 0;
}

bool TVelqorCOMGroup::SetDatatypes(TVelqorItemList& items) {
    if (!groupObject_ || items.Empty()) return false;
    std::vector<OPCHANDLE> handles = ServerHandles(items);
    std::vector<VARTYPE> types;
    for (TVelqorItemData* item : items) types.push_back(VARTYPE(item->FRequestDatatype));
    TaskArray<HRESULT> errors;
    const HRESULT hr = groupObject_->SetDatatypes(DWORD(handles.size()), handles.data(),
                                                  types.data(), errors.Put());
    CheckOPCResult(hr);
    if (!errors) RaiseWrongResult("SetDatatypes");
    return ApplyItemErrors(items, errors.Get(), false) == 0;
}

bool TVelqorCOMGroup::GetItemAttributes(TVelqorItemList& items) {
    if (items.Empty() || !groupObject_) return false;
    com::ComPtr<::IUnknown> unknown;
    if (groupObject_->CreateEnumerator(IID_IEnumOPCItemAttributes, unknown.Put()) != S_OK)
        return false;
    auto enumerator = com::QueryAs<IEnumOPCItemAttributes>(unknown);
    if (!enumerator) return false;
    const ULONG wanted = ULONG(items.Count());
    TaskArray<OPCITEMATTRIBUTES> attributes;
    ULONG fetched = 0;
    const HRESULT hr = enumerator->Next(wanted, attributes.Put(), &fetched);
    // Never more than asked for is read, whatever the server claims.
    const ULONG count = attributes ? std::min(fetched, wanted) : 0;
    for (ULONG i = 0; i < count; ++i) {
        OPCITEMATTRIBUTES& a = attributes[i];
        // Matched by client handle: the enumerator lists the group's items in its own order.
        if (hr == S_OK) {
            if (TVelqorItemData* item = FindItemByClientHandle(a.hClient)) {
                item->FEUType = int32_t(a.dwEUType);
                try {
                    item->SetEUInfo(VariantFromOle(a.vEUInfo));
                } catch (const EOleSysError&) {
                    item->SetEUInfo(Variant::Null());
                }
            }
        }
        CoTaskMemFree(a.szAccessPath);
        CoTaskMemFree(a.szItemID);
        CoTaskMemFree(a.pBlob);
        VariantClear(&a.vEUInfo);
    }
    return hr == S_OK && count == wanted;
}

}  // namespace velqor
