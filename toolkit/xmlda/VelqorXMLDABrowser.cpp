#include "xmlda/VelqorXMLDABrowser.h"

#include <optional>

#include "contract/VelqorIntf.h"
#include "contract/VelqorMask.h"
#include "soap/VelqorSOAPEncoding.h"
#include "xmlda/VelqorXMLDAConvert.h"

namespace velqor {

namespace {

constexpr int32_t kDataTypeID = 1;
constexpr int32_t kAccessRightsID = 5;

// The text of a property value; nullopt for a failed or empty property.
std::optional<std::string> ValueText(const xmlda::ItemProperty* p) {
    if (!p || !p->ResultID.empty() || p->Value.IsEmpty() || p->Value.IsNull() || p->Value.IsArray())
        return std::nullopt;
    return p->Value.ToText();
}

}  // namespace

TBrowseElementFacts BrowseFactsOf(const xmlda::Properties& properties) {
    TBrowseElementFacts facts;
    facts.PropertyCount = properties.size();
    const xmlda::ItemProperty* dataType = nullptr;
    const xmlda::ItemProperty* access = nullptr;
    bool anyNamed = false;
    for (const auto& p : properties) {
        if (!p || p->Name.empty()) continue;
        anyNamed = true;
        const int32_t id = PropertyIdFromName(p->Name);
        if (id == kDataTypeID && !dataType) dataType = p.get();
        if (id == kAccessRightsID && !access) access = p.get();
    }
    if (!anyNamed && properties.size() == 2) {  // nameless: the order they were asked in
        dataType = properties[0].get();
        access = properties[1].get();
    }
    if (auto text = ValueText(dataType)) facts.DataType = int32_t(XSDTypeToVarType(*text, true));
    if (auto text = ValueText(access)) facts.AccessRights = AccessRightsFromName(*text);
    return facts;
}

TVelqorXMLDABrowser::TVelqorXMLDABrowser(com::ComPtr<IVelqorDAConnection> connection)
    : TVelqorXMLDAComponent(std::move(connection)) {}

void TVelqorXMLDABrowser::SetVendorFilter(const std::string& filter) {
    if (filter != vendorFilter_) MarkChanged();
    vendorFilter_ = filter;
}

TBrowsePage TVelqorXMLDABrowser::ListPage(const TBrowseQuery& query) {
    xmlda::Browse request;
    request.ItemPath = query.Target.ItemPath;
    request.ItemName = query.Target.ItemName;
    request.ContinuationPoint = query.ContinuationPoint;
    request.MaxElementsReturned = query.MaxElements;
    request.BrowseFilter = query.BrowseType == 1   ? xmlda::browseFilter::branch
                           : query.BrowseType == 2 ? xmlda::browseFilter::item
                                                   : xmlda::browseFilter::all;
    // The name mask is matched here, case ignored, as a flat walk matches it: servers match
    // their filter by rules of their own (some with case), so it is not sent.
    request.ElementNameFilter.clear();
    request.VendorFilter = vendorFilter_;
    request.ReturnAllProperties = false;
    request.ReturnPropertyValues = true;
    request.ReturnErrorText = false;
    request.PropertyNames = {"dataType", "accessRights"};

    auto reply = Connection().Call(request);
    TBrowsePage page;
    if (!reply->Elements.empty()) Connection().UpdateClock(reply->BrowseResult.get());
    for (const auto& e : reply->Elements) {
        if (!e || (!query.NameFilter.empty() && !MatchesMask(e->Name, query.NameFilter))) continue;
        TBrowseElement& out = page.Elements.emplace_back();
        out.Entry.Name = e->Name;
        out.Entry.ItemName = e->ItemName;
        out.Entry.ItemPath = e->ItemPath;
        out.Entry.IsItem = e->IsItem;
        out.Entry.IsBranch = e->HasChildren || !e->IsItem;
        out.Entry.HasChildren = e->HasChildren;
        if (e->IsItem) out.Facts = BrowseFactsOf(e->Properties);
    }
    // The service says when the level goes on; its point then says where, and without one the
    // rest cannot be asked for.
    if (reply->MoreElements) page.ContinuationPoint = reply->ContinuationPoint;
    page.Incomplete = reply->MoreElements && page.ContinuationPoint.empty();
    return page;
}

}  // namespace velqor
