// Shared by the simulated-server tests: a fixture with the servers registered, no fault switches
// set and the allocation accounting checked, and copies of what the DA 3.0 interfaces return
// that free the server's memory as they go.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "com/ComTestSupport.h"
#include "com/ComValues.h"
#include "com/OpcDaIntf.h"
#include "com/runtime/ComText.h"
#include "comda/SimFaults.h"
#include "comda/SimServers.h"
#include "contract/EventLoop.h"

namespace velqor::test {

inline std::string TakeTaskText(LPWSTR text) {
    std::string s = OleStrToText(text);
    CoTaskMemFree(text);
    return s;
}

// What obj answers when asked for an interface, and whether it hands one out.
struct QueryAnswer {
    HRESULT Result;
    bool Given;
};
inline QueryAnswer AskFor(::IUnknown* obj, const IID& iid) {
    com::ComPtr<::IUnknown> p;
    const HRESULT hr = obj->QueryInterface(iid, reinterpret_cast<void**>(p.Put()));
    return {hr, p.Get() != nullptr};
}
inline bool Lists(const std::vector<const IID*>& iids, const IID* iid) {
    return std::find(iids.begin(), iids.end(), iid) != iids.end();
}

class SimServerTest : public ComAccountedTest {
  protected:
    void SetUp() override {
        EventLoop::SetDefault(&loop_);
        sim::ClearSimFaults();
        sim::RegisterSimulatedServers();
        ComAccountedTest::SetUp();
    }
    void TearDown() override {
        sim::ClearSimFaults();
        ComAccountedTest::TearDown();
        sim::UnregisterSimulatedServers();
        EventLoop::SetDefault(nullptr);
    }
    // A new server object of that ProgID, asked for I.
    template <class I>
    com::ComPtr<I> Create(const char16_t* progId) {
        CLSID clsid{};
        com::ComPtr<I> p;
        EXPECT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, com::InterfaceTraits<I>::Id(),
                                   reinterpret_cast<void**>(p.Put())),
                  S_OK);
        return p;
    }

    PlainEventLoop loop_;
};

struct PropertyCopy {
    DWORD Id = 0;
    VARTYPE Type = VT_EMPTY;
    std::string Description;
    HRESULT Error = S_OK;
    Variant Value;
};
struct ItemPropertiesCopy {
    HRESULT Error = S_OK;
    std::vector<PropertyCopy> Properties;
};
struct ElementCopy {
    std::string Name, ItemId;
    DWORD Flags = 0;
    ItemPropertiesCopy Properties;
};

// Copies one item's property list and frees what the server allocated in it.
inline ItemPropertiesCopy TakeProperties(OPCITEMPROPERTIES& list) {
    ItemPropertiesCopy out;
    out.Error = list.hrErrorID;
    for (DWORD i = 0; i < list.dwNumProperties; ++i) {
        OPCITEMPROPERTY& p = list.pItemProperties[i];
        EXPECT_EQ(p.szItemID, nullptr) << "no property is an item of its own";
        out.Properties.push_back({p.dwPropertyID, p.vtDataType, TakeTaskText(p.szDescription),
                                  p.hrErrorID, VariantFromOle(p.vValue)});
        VariantClear(&p.vValue);
    }
    CoTaskMemFree(list.pItemProperties);
    return out;
}

struct BrowseCopy {
    HRESULT Result = E_FAIL;
    std::vector<ElementCopy> Elements;
    std::string Continuation;
    bool More = false;
    DWORD Count = 0;
    bool NullElements = false;
};

struct BrowseRequest {
    std::u16string ItemId;
    std::u16string Continuation;
    DWORD Max = 0;
    OPCBROWSEFILTER Filter = OPC_BROWSE_FILTER_ALL;
    std::u16string NameFilter;
    std::u16string VendorFilter;
    bool AllProperties = false;
    bool Values = false;
    std::vector<DWORD> PropertyIds;
};

inline BrowseCopy Browse(IOPCBrowse* b, const BrowseRequest& r) {
    BrowseCopy out;
    LPWSTR cp =
        r.Continuation.empty() ? nullptr : AllocTaskString(com::Utf16ToUtf8(r.Continuation));
    BOOL more = TRUE;
    DWORD count = 0;
    OPCBROWSEELEMENT* elements = nullptr;
    std::vector<DWORD> ids = r.PropertyIds;
    out.Result = b->Browse(const_cast<LPWSTR>(r.ItemId.c_str()), &cp, r.Max, r.Filter,
                           const_cast<LPWSTR>(r.NameFilter.c_str()),
                           const_cast<LPWSTR>(r.VendorFilter.c_str()), r.AllProperties, r.Values,
                           static_cast<DWORD>(ids.size()), ids.data(), &more, &count, &elements);
    out.Continuation = TakeTaskText(cp);
    out.More = more != FALSE;
    out.Count = count;
    out.NullElements = elements == nullptr;
    for (DWORD i = 0; elements && i < count; ++i) {
        ElementCopy e{TakeTaskText(elements[i].szName), TakeTaskText(elements[i].szItemID),
                      elements[i].dwFlagValue, TakeProperties(elements[i].ItemProperties)};
        out.Elements.push_back(std::move(e));
    }
    CoTaskMemFree(elements);
    return out;
}

}  // namespace velqor::test
