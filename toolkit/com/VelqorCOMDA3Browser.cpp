// The DA 3.0 browser: one IOPCBrowse::Browse call per page of a level.
#include "com/OpcDaFree.h"
#include "com/VelqorCOMDABrowser.h"
#include "contract/VelqorError.h"

namespace velqor {

namespace {

constexpr DWORD kDataTypeID = 1;
constexpr DWORD kAccessRightsID = 5;

// The integer a property carries; nothing for a failed property or a value that is no number.
std::optional<int32_t> PropertyNumber(const OPCITEMPROPERTY* p) {
    if (!p || FAILED(p->hrErrorID)) return std::nullopt;
    try {
        Variant v = VariantFromOle(p->vValue);
        if (v.IsEmpty() || v.IsNull()) return std::nullopt;
        return v.AsInt32();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// What the properties say for the filters, found by ID whatever order the server lists them in.
TBrowseElementFacts FactsOf(const OPCITEMPROPERTIES& properties) {
    TBrowseElementFacts facts;
    if (!properties.pItemProperties) return facts;
    facts.PropertyCount = properties.dwNumProperties;
    const OPCITEMPROPERTY *type = nullptr, *access = nullptr;
    for (DWORD i = 0; i < properties.dwNumProperties; ++i) {
        const OPCITEMPROPERTY& p = properties.pItemProperties[i];
        if (p.dwPropertyID == kDataTypeID && !type) type = &p;
        if (p.dwPropertyID == kAccessRightsID && !access) access = &p;
    }
    facts.DataType = PropertyNumber(type);
    facts.AccessRights = PropertyNumber(access);
    return facts;
}

}  // namespace

TVelqorCOMDA3Browser::TVelqorCOMDA3Browser(com::ComPtr<IVelqorDAConnection> connection)
    : TVelqorCOMDAComponent(std::move(connection)) {}

TBrowsePage TVelqorCOMDA3Browser::ListPage(const TBrowseQuery& query) {
    const OPCBROWSEFILTER filter = query.BrowseType == 1   ? OPC_BROWSE_FILTER_BRANCHES
                                   : query.BrowseType == 2 ? OPC_BROWSE_FILTER_ITEMS
                                                           : OPC_BROWSE_FILTER_ALL;
    if (!intf_) {
        if (!Connection().GetServer()) throw EOPCBrowserException(MsgText(Msg::FirstDefineServer));
        intf_ = Connection().GetBrowseIntf();
        if (!intf_) throw EOPCBrowserException(MsgText(Msg::BrowserNotFound));
    }

    BSTR id = ToWideString(query.Target.ItemName), names = ToWideString(query.NameFilter),
         vendor = ToWideString("");
    // Handed over to the server, which may replace it; what comes back is ours to free.
    LPWSTR continuation =
        query.ContinuationPoint.empty() ? nullptr : AllocTaskString(query.ContinuationPoint);
    struct Release {
        BSTR &a, &b, &c;
        LPWSTR& point;
        ~Release() {
            SysFreeString(a);
            SysFreeString(b);
            SysFreeString(c);
            CoTaskMemFree(point);
        }
    } release{id, names, vendor, continuation};

    DWORD propertyIDs[2] = {kDataTypeID, kAccessRightsID};
    BOOL more = FALSE;
    DWORD count = 0;
    OPCBROWSEELEMENT* elements = nullptr;
    const HRESULT hr = intf_->Browse(id, &continuation, DWORD(query.MaxElements), filter, names,
                                     vendor, FALSE, TRUE, 2, propertyIDs, &more, &count, &elements);
    TBrowsePage page;
    for (DWORD i = 0; elements && i < count; ++i) {
        OPCBROWSEELEMENT& e = elements[i];
        if (SUCCEEDED(hr)) {
            TBrowseElement& out = page.Elements.emplace_back();
            out.Entry.Name = OleStrToText(e.szName);
            out.Entry.ItemName = OleStrToText(e.szItemID);
            out.Entry.IsItem = (e.dwFlagValue & OPC_BROWSE_ISITEM) != 0;
            out.Entry.HasChildren = (e.dwFlagValue & OPC_BROWSE_HASCHILDREN) != 0;
            out.Entry.IsBranch = out.Entry.HasChildren || !out.Entry.IsItem;
            out.Facts = FactsOf(e.ItemProperties);
        }
        FreeBrowseElement(e);
    }
    CoTaskMemFree(elements);
    BrowserCheck(Connection(), hr);
    if (count > 0 && !elements)
        throw EOPCBrowserException(MsgFormat(Msg::WrongResult, std::string("IOPCBrowse::Browse")));
    page.ContinuationPoint = OleStrToText(continuation);
    // More elements without a way to ask for them: the level would be incomplete.
    page.Incomplete = more && page.ContinuationPoint.empty();
    return page;
}

}  // namespace velqor
