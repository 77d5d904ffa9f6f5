#include "xmlda/VelqorXMLDABrowser.h"

#include <optional>

#include "contract/VelqorError.h"
#include "contract/VelqorIntf.h"
#include "soap/VelqorSOAPEncoding.h"
#include "xmlda/VelqorXMLDAConvert.h"

namespace velqor {

namespace {

TVelqorBrowseItem RootItem() {
    TVelqorBrowseItem root;
    root.IsBranch = true;
    root.HasChildren = true;
    return root;
}

constexpr int32_t kDataTypeID = 1;
constexpr int32_t kAccessRightsID = 5;

// The text of a property value; nullopt for a failed or empty property.
std::optional<std::string> ValueText(const xmlda::ItemProperty* p) {
    if (!p || !p->ResultID.empty() || p->Value.IsEmpty() || p->Value.IsNull() || p->Value.IsArray())
        return std::nullopt;
    return p->Value.ToText();
}

}  // namespace

bool CheckElementFilter(const xmlda::Properties& properties, int32_t accessFilter,
                        int32_t datatypeFilter) {
    if (accessFilter == 0 && datatypeFilter == 0) return true;
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

    if (datatypeFilter != 0) {
        if (auto text = ValueText(dataType))
            if (int32_t(XSDTypeToVarType(*text, true)) != datatypeFilter) return false;
    }
    if (accessFilter != 0) {
        if (auto text = ValueText(access)) {
            const int32_t rights = AccessRightsFromName(*text);
            if (rights == 1) return (accessFilter & 1) != 0;
            if (rights == 2) return (accessFilter & 2) != 0;
        }
    }
    return true;
}

TVelqorXMLDABrowser::TVelqorXMLDABrowser(com::ComPtr<IVelqorDAConnection> connection)
    : TVelqorXMLDAComponent(std::move(connection)), current_(RootItem()), target_(current_) {}

bool TVelqorXMLDABrowser::MoveDown(const TVelqorBrowseItem& item) { return Descend(item, false); }

bool TVelqorXMLDABrowser::Descend(const TVelqorBrowseItem& item, bool passErrors) {
    if (item.ItemName.empty() && item.ItemPath.empty()) return false;
    target_ = item;
    changed_ = true;
    TVelqorBrowseItem left = current_;
    bool ok = false;
    try {
        ok = BrowseRequest();
    } catch (const std::exception&) {
        if (passErrors) throw;
        return false;  // Target stays, so the next Browse retries this position
    }
    if (ok) stack_.push_back(std::move(left));
    return ok;
}

bool TVelqorXMLDABrowser::MoveTo(const TVelqorBrowseItem& item) {
    target_ = item;
    if (target_.Name == current_.Name && target_.ItemName == current_.ItemName &&
        target_.ItemPath == current_.ItemPath)
        return true;
    changed_ = true;
    try {
        BrowseRequest();
    } catch (const std::exception&) {
        return false;
    }
    EmptyStack();
    return true;
}

bool TVelqorXMLDABrowser::MoveToRoot() {
    if (!current_.Name.empty() || !current_.ItemName.empty() || !current_.ItemPath.empty())
        changed_ = true;
    current_ = RootItem();
    target_ = current_;
    EmptyStack();
    return true;
}

bool TVelqorXMLDABrowser::MoveUp() {
    if ((current_.ItemName.empty() && current_.ItemPath.empty()) || stack_.empty()) return false;
    target_ = std::move(stack_.back());
    stack_.pop_back();
    current_ = target_;
    if (current_.Name.empty()) EmptyStack();
    changed_ = true;
    return true;
}

void TVelqorXMLDABrowser::SetFilter(int32_t browseType, int32_t accessRights, int32_t datatype,
                                    const std::string& filter) {
    if (browseType != browseType_ || accessRights != accessFilter_ || datatype != datatypeFilter_ ||
        filter != nameFilter_)
        changed_ = true;
    browseType_ = browseType;
    accessFilter_ = accessRights;
    datatypeFilter_ = datatype;
    nameFilter_ = filter;
}

void TVelqorXMLDABrowser::SetVendorFilter(const std::string& filter) {
    if (filter != vendorFilter_) changed_ = true;
    vendorFilter_ = filter;
}

bool TVelqorXMLDABrowser::Browse(bool flat) {
    if (!browseList_) throw EOPCBrowserException(MsgText(Msg::FirstCallSetBrowseList));
    if (flat) {
        FlatWalk();
        return true;
    }
    if (!changed_) return false;
    BrowseRequest();
    return true;
}

bool TVelqorXMLDABrowser::BrowseRequest() {
    if (!browseList_) throw EOPCBrowserException(MsgText(Msg::FirstCallSetBrowseList));
    xmlda::Browse request;
    request.ItemPath = target_.ItemPath;
    request.ItemName = target_.ItemName;
    request.MaxElementsReturned = maxElements_;
    if (browseType_ == 1) {
        request.BrowseFilter = xmlda::browseFilter::branch;
    } else if (browseType_ == 2) {
        request.BrowseFilter = xmlda::browseFilter::item;
    } else {
        request.BrowseFilter = xmlda::browseFilter::all;
        browseType_ = 3;
    }
    request.ElementNameFilter = nameFilter_;
    request.VendorFilter = vendorFilter_;
    request.ReturnAllProperties = false;
    request.ReturnPropertyValues = true;
    request.ReturnErrorText = false;
    request.PropertyNames = {"dataType", "accessRights"};

    // The whole level is gathered before the list changes, so a failing exchange part-way
    // leaves the list and the position as they were.
    std::vector<TVelqorBrowseItem> level;
    if (!walking_) elementsSeen_ = 0;
    const std::string where = target_.CombinedID().empty() ? "the root" : target_.CombinedID();
    for (int32_t round = 1;; ++round) {
        auto reply = Connection().Call(request);
        elementsSeen_ += int64_t(reply->Elements.size());
        if (elementsSeen_ > maxElementsTotal_)
            throw EBrowseLimit("Browse: the server sent more than " +
                               std::to_string(maxElementsTotal_) + " elements (at " + where + ")");
        if (!reply->Elements.empty()) {
            Connection().UpdateClock(reply->BrowseResult.get());
            for (const auto& e : reply->Elements) {
                if (!e) continue;
                if (e->IsItem && !CheckElementFilter(e->Properties, accessFilter_, datatypeFilter_))
                    continue;
                TVelqorBrowseItem b;
                b.Name = e->Name;
                b.ItemName = e->ItemName;
                b.ItemPath = e->ItemPath;
                b.IsItem = e->IsItem;
                b.IsBranch = e->HasChildren || !e->IsItem;
                b.HasChildren = e->HasChildren;
                level.push_back(std::move(b));
            }
        }
        // Continue the same browse until the service says the level is complete; a service that
        // hands back the point it was given makes no progress and ends the level.
        if (!reply->MoreElements || reply->ContinuationPoint.empty() ||
            reply->ContinuationPoint == request.ContinuationPoint)
            break;
        if (round >= maxRounds_)
            throw EBrowseLimit("Browse: " + where + " was not complete after " +
                               std::to_string(maxRounds_) + " continuation requests");
        request.ContinuationPoint = reply->ContinuationPoint;
    }

    browseList_->Clear();
    for (auto& b : level) browseList_->Add(std::move(b));
    current_ = target_;
    changed_ = false;
    return true;
}

void TVelqorXMLDABrowser::FlatWalk() {
    // The name filter becomes the mask on combined IDs; the walk itself asks for every element
    // of both kinds so that it can descend whatever browse type was set.
    // Whatever happens, the walk ends where it began (a limit error may strike deep inside).
    struct Restore {
        TVelqorXMLDABrowser& b;
        std::string name;
        int32_t type;
        TVelqorBrowseItem current, target;
        std::vector<TVelqorBrowseItem> stack;
        ~Restore() {
            b.nameFilter_ = std::move(name);
            b.browseType_ = type;
            b.current_ = std::move(current);
            b.target_ = std::move(target);
            b.stack_ = std::move(stack);
            b.changed_ = true;
            b.walking_ = false;
            b.visited_.clear();
            b.listed_.clear();
        }
    } restore{*this, nameFilter_, browseType_, current_, target_, stack_};
    if (!nameFilter_.empty() || browseType_ != 3) changed_ = true;
    walkType_ = browseType_;
    nameFilter_.clear();
    browseType_ = 3;

    walking_ = true;
    elementsSeen_ = 0;
    visited_ = {target_.CombinedID()};
    listed_.clear();
    std::vector<TVelqorBrowseItem> collected;
    Collect(restore.name, collected, 0);

    browseList_->Clear();
    for (auto& b : collected) browseList_->Add(std::move(b));
}

void TVelqorXMLDABrowser::Collect(const std::string& mask, std::vector<TVelqorBrowseItem>& into,
                                  int depth) {
    if (changed_) BrowseRequest();
    std::vector<TVelqorBrowseItem> work;
    for (const auto& b : *browseList_) work.push_back(*b);
    for (const auto& entry : work) {
        const std::string id = entry.CombinedID();
        // Items, or branches when only branches were asked for; an element reached again by
        // another path (or a branch listing itself) is listed once.
        const bool wanted = walkType_ == 1 ? entry.IsBranch : entry.IsItem;
        if (wanted && (mask.empty() || MatchesMask(id, mask)) && listed_.insert(id).second)
            into.push_back(entry);
        if (!entry.IsBranch || !visited_.insert(id).second) continue;
        if (depth + 1 >= kMaxWalkDepth)
            throw EBrowseLimit("Browse: the flat walk reached " + std::to_string(kMaxWalkDepth) +
                               " levels at " + id);
        // A branch that cannot be listed fails the walk: a listing with levels silently missing
        // would pass for the whole address space.
        try {
            if (!Descend(entry, true)) {
                target_ = current_;
                continue;
            }
        } catch (const EBrowseLimit&) {
            throw;
        } catch (const std::exception& e) {
            throw EOPCBrowserException("Browse of " + id + " failed: " + e.what());
        }
        Collect(mask, into, depth + 1);
        MoveUp();
    }
}

}  // namespace velqor
