// The DA 3.0 browser over IOPCBrowse: position, history and filters kept on the client.
#include "com/VelqorCOMDABrowser.h"
#include "contract/VelqorError.h"
#include "contract/VelqorMask.h"

namespace velqor {

namespace {

constexpr DWORD kDataTypeID = 1;
constexpr DWORD kAccessRightsID = 5;

TVelqorBrowseItem RootItem() {
    TVelqorBrowseItem root;
    root.IsBranch = true;
    root.HasChildren = true;
    return root;
}

void FreeElement(OPCBROWSEELEMENT& e) {
    CoTaskMemFree(e.szName);
    CoTaskMemFree(e.szItemID);
    OPCITEMPROPERTIES& list = e.ItemProperties;
    for (DWORD i = 0; list.pItemProperties && i < list.dwNumProperties; ++i) {
        OPCITEMPROPERTY& p = list.pItemProperties[i];
        CoTaskMemFree(p.szItemID);
        CoTaskMemFree(p.szDescription);
        VariantClear(&p.vValue);
    }
    CoTaskMemFree(list.pItemProperties);
    e = {};
}

// The integer a property carries; false for a failed property or a value that is no number.
bool PropertyNumber(const OPCITEMPROPERTY* p, int32_t& n) {
    if (!p || FAILED(p->hrErrorID)) return false;
    try {
        Variant v = VariantFromOle(p->vValue);
        if (v.IsEmpty() || v.IsNull()) return false;
        n = v.AsInt32();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

TVelqorCOMDA3Browser::TVelqorCOMDA3Browser(com::ComPtr<IVelqorDAConnection> connection)
    : TVelqorCOMDAComponent(std::move(connection)), current_(RootItem()), target_(current_) {}

bool TVelqorCOMDA3Browser::PassesFilter(const OPCITEMPROPERTIES& properties) const {
    if (datatypeFilter_ == 0 && accessFilter_ == 0) return true;
    // Found by ID, whatever order the server lists them in; a missing or failed property passes.
    const OPCITEMPROPERTY *type = nullptr, *access = nullptr;
    for (DWORD i = 0; properties.pItemProperties && i < properties.dwNumProperties; ++i) {
        const OPCITEMPROPERTY& p = properties.pItemProperties[i];
        if (p.dwPropertyID == kDataTypeID && !type) type = &p;
        if (p.dwPropertyID == kAccessRightsID && !access) access = &p;
    }
    int32_t n = 0;
    if (datatypeFilter_ != 0 && PropertyNumber(type, n) && n != datatypeFilter_) return false;
    if (accessFilter_ != 0 && PropertyNumber(access, n)) {
        if (n == int32_t(OPC_READABLE)) return (accessFilter_ & 1) != 0;
        if (n == int32_t(OPC_WRITEABLE)) return (accessFilter_ & 2) != 0;
    }
    return true;
}

bool TVelqorCOMDA3Browser::ListTarget() {
    if (!dirty_) return false;
    if (!browseList_) throw EOPCBrowserException(MsgText(Msg::FirstCallSetBrowseList));
    OPCBROWSEFILTER filter = OPC_BROWSE_FILTER_ALL;
    if (browseType_ == 1) {
        filter = OPC_BROWSE_FILTER_BRANCHES;
    } else if (browseType_ == 2) {
        filter = OPC_BROWSE_FILTER_ITEMS;
    } else {
        browseType_ = 3;
    }
    if (!intf_) {
        if (!Connection().GetServer()) throw EOPCBrowserException(MsgText(Msg::FirstDefineServer));
        intf_ = Connection().GetBrowseIntf();
        if (!intf_) throw EOPCBrowserException(MsgText(Msg::BrowserNotFound));
    }

    BSTR id = ToWideString(target_.ItemName), names = ToWideString(nameFilter_),
         vendor = ToWideString("");
    DWORD propertyIDs[2] = {kDataTypeID, kAccessRightsID};
    LPWSTR continuation = nullptr;  // handed over to the server with each call
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

    // The whole level is gathered before the list changes, so a call failing part-way leaves the
    // list and the position as they were.
    std::vector<TVelqorBrowseItem> level;
    const std::string where = target_.ItemName.empty() ? "the root" : target_.ItemName;
    for (int round = 1;; ++round) {
        BOOL more = FALSE;
        DWORD count = 0;
        OPCBROWSEELEMENT* elements = nullptr;
        const std::string sent = OleStrToText(continuation);
        const HRESULT hr = intf_->Browse(id, &continuation, maxElements_, filter, names, vendor,
                                         FALSE, TRUE, 2, propertyIDs, &more, &count, &elements);
        for (DWORD i = 0; elements && i < count; ++i) {
            OPCBROWSEELEMENT& e = elements[i];
            const bool isItem = (e.dwFlagValue & OPC_BROWSE_ISITEM) != 0;
            const bool children = (e.dwFlagValue & OPC_BROWSE_HASCHILDREN) != 0;
            if (SUCCEEDED(hr) && (!isItem || children || PassesFilter(e.ItemProperties))) {
                TVelqorBrowseItem b;
                b.Name = OleStrToText(e.szName);
                b.ItemName = OleStrToText(e.szItemID);
                b.IsItem = isItem;
                b.HasChildren = children;
                b.IsBranch = children || !isItem;
                level.push_back(std::move(b));
            }
            FreeElement(e);
        }
        CoTaskMemFree(elements);
        BrowserCheck(Connection(), hr);
        if (count > 0 && !elements)
            throw EOPCBrowserException(
                MsgFormat(Msg::WrongResult, std::string("IOPCBrowse::Browse")));
        // Asked again with the continuation point until the level is complete; a server that
        // hands back the point it was given makes no progress and ends the level.
        const std::string next = OleStrToText(continuation);
        if (next.empty() || next == sent) {
            // More elements without a way to ask for them: the level would be incomplete.
            if (more && next.empty())
                throw EOPCBrowserException("Browser: the server did not return all elements of " +
                                           where);
            break;
        }
        if (round >= kMaxContinuations)
            throw EOPCBrowserException("Browser: " + where + " was not complete after " +
                                       std::to_string(kMaxContinuations) + " Browse calls");
    }

    browseList_->Clear();
    for (auto& b : level) browseList_->Add(std::move(b));
    current_ = target_;
    dirty_ = false;
    return true;
}

void TVelqorCOMDA3Browser::SetFilter(int32_t browseType, int32_t accessRights, int32_t datatype,
                                     const std::string& filter) {
    if (browseType != browseType_ || accessRights != accessFilter_ || datatype != datatypeFilter_ ||
        filter != nameFilter_)
        dirty_ = true;
    browseType_ = browseType;
    accessFilter_ = accessRights;
    datatypeFilter_ = datatype;
    nameFilter_ = filter;
}

bool TVelqorCOMDA3Browser::MoveDown(const TVelqorBrowseItem& item) { return Descend(item, false); }

bool TVelqorCOMDA3Browser::Descend(const TVelqorBrowseItem& item, bool passErrors) {
    if (item.ItemName.empty()) return false;
    target_ = item;
    dirty_ = true;
    TVelqorBrowseItem left = current_;
    bool ok = false;
    try {
        ok = ListTarget();
    } catch (const std::exception&) {
        if (passErrors) throw;
        return false;  // Target stays, so the next Browse tries this position again
    }
    if (ok) history_.push_back(std::move(left));
    return ok;
}

bool TVelqorCOMDA3Browser::MoveTo(const TVelqorBrowseItem& item) {
    target_ = item;
    if (item.Name == current_.Name && item.ItemName == current_.ItemName) return true;
    dirty_ = true;
    bool ok = false;
    try {
        ok = ListTarget();
    } catch (const std::exception&) {
        return false;
    }
    history_.clear();
    return ok;
}

bool TVelqorCOMDA3Browser::MoveToRoot() {
    if (!current_.Name.empty() || !current_.ItemName.empty()) dirty_ = true;
    current_.Name.clear();
    current_.ItemName.clear();
    current_.ItemPath.clear();
    target_ = current_;
    history_.clear();
    return true;
}

bool TVelqorCOMDA3Browser::MoveUp() {
    if (current_.ItemName.empty() || history_.empty()) return false;
    target_ = std::move(history_.back());
    history_.pop_back();
    current_ = target_;
    if (current_.Name.empty()) history_.clear();
    dirty_ = true;
    return true;
}

bool TVelqorCOMDA3Browser::Browse(bool flat) {
    if (!browseList_) throw EOPCBrowserException(MsgText(Msg::FirstCallSetBrowseList));
    if (!flat) return ListTarget();

    // The name filter becomes the mask on item IDs; the walk itself lists both kinds so that it
    // can descend whatever browse type was set. Whatever happens, the walk ends where it began.
    // It lists into a list of its own, so that the caller's list changes only when it succeeds.
    TVelqorBrowseItems scratch;
    struct Restore {
        TVelqorCOMDA3Browser& b;
        TVelqorBrowseItems* list;
        std::string name;
        int32_t type;
        TVelqorBrowseItem current, target;
        std::vector<TVelqorBrowseItem> history;
        ~Restore() {
            b.browseList_ = list;
            b.nameFilter_ = std::move(name);
            b.browseType_ = type;
            b.current_ = std::move(current);
            b.target_ = std::move(target);
            b.history_ = std::move(history);
            b.dirty_ = true;
            b.visited_.clear();
            b.listed_.clear();
        }
    } restore{*this, browseList_, nameFilter_, browseType_, current_, target_, history_};
    browseList_ = &scratch;
    dirty_ = true;
    walkType_ = browseType_;
    nameFilter_.clear();
    browseType_ = 3;
    visited_ = {target_.ItemName};
    listed_.clear();
    std::vector<TVelqorBrowseItem> collected;
    Collect(restore.name, collected, 0);
    restore.list->Clear();
    for (auto& b : collected) restore.list->Add(std::move(b));
    return true;
}

void TVelqorCOMDA3Browser::Collect(const std::string& mask, std::vector<TVelqorBrowseItem>& into,
                                   int depth) {
    ListTarget();
    std::vector<TVelqorBrowseItem> work;
    for (const auto& b : *browseList_) work.push_back(*b);
    for (const auto& entry : work) {
        const std::string& id = entry.ItemName;
        // Items, or branches when only branches were asked for; an element reached again by
        // another path (or a branch listing itself) is listed and entered once.
        const bool wanted = walkType_ == 1 ? entry.IsBranch : entry.IsItem;
        if (wanted && (mask.empty() || MatchesMask(entry.CombinedID(), mask)) &&
            listed_.insert(id).second)
            into.push_back(entry);
        if (!entry.IsBranch || !visited_.insert(id).second) continue;
        if (depth + 1 >= kMaxWalkDepth)
            throw EOPCBrowserException("Browser: the flat listing reached " +
                                       std::to_string(kMaxWalkDepth) + " levels at " + id);
        // A branch that cannot be listed fails the walk: a listing with levels silently missing
        // would pass for the whole address space.
        try {
            if (!Descend(entry, true)) {
                target_ = current_;
                continue;
            }
        } catch (const std::exception& e) {
            throw EOPCBrowserException("Browser: listing " + id + " failed: " + e.what());
        }
        Collect(mask, into, depth + 1);
        MoveUp();
    }
}

}  // namespace velqor
