// BrowserCheck and the DA 2.0 browser over IOPCBrowseServerAddressSpace.
#include "com/VelqorCOMDABrowser.h"

#include "contract/VelqorError.h"
#include "contract/VelqorMask.h"
#include "contract/VelqorTexts.h"

namespace velqor {

namespace {

// A BSTR for one call, freed at the end of the scope.
struct WideText {
    BSTR text;
    explicit WideText(const std::string& utf8) : text(ToWideString(utf8)) {}
    ~WideText() { SysFreeString(text); }
    WideText(const WideText&) = delete;
    WideText& operator=(const WideText&) = delete;
};

// The components of an item ID: "." and "/" separate them; blanks and control characters before
// a component are skipped; a component starting with a double quote is the quoted text (a
// doubled quote inside stands for one), up to the next separator.
std::vector<std::string> SplitComponents(const std::string& id) {
    std::vector<std::string> parts;
    size_t i = 0;
    const size_t n = id.size();
    while (i < n) {
        while (i < n && static_cast<unsigned char>(id[i]) <= ' ') ++i;
        std::string part;
        if (i < n && id[i] == '"') {
            for (++i; i < n; ++i) {
                if (id[i] == '"') {
                    if (i + 1 < n && id[i + 1] == '"') {
                        part += '"';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                part += id[i];
            }
            while (i < n && id[i] != '.' && id[i] != '/') ++i;
        } else {
            while (i < n && id[i] != '.' && id[i] != '/') part += id[i++];
        }
        parts.push_back(std::move(part));
        if (i < n) ++i;  // the separator
    }
    return parts;
}

}  // namespace

void BrowserCheck(TVelqorCOMDAConnection& connection, HRESULT code) {
    if (SUCCEEDED(code)) return;
    std::string text;
    try {
        connection.GetServerErrorString(int32_t(code), text);
    } catch (const std::exception&) {
        text.clear();  // a server that cannot say leaves it to the toolkit's table
    }
    if (IsBlank(text)) {
        try {
            CheckOPCResult(code);
        } catch (const std::exception& e) {
            text = e.what();
        }
    }
    throw EOPCBrowserException("Browser: " + text);
}

TVelqorCOMDABrowser::TVelqorCOMDABrowser(com::ComPtr<IVelqorDAConnection> connection)
    : TVelqorCOMDAComponent(std::move(connection)), current_(RootBrowseItem()) {}

IOPCBrowseServerAddressSpace* TVelqorCOMDABrowser::Intf() {
    if (!intf_) {
        auto server = Connection().GetOPCServer();
        if (!server) throw EOPCBrowserException(MsgText(Msg::FirstDefineServer));
        intf_ = com::QueryAs<IOPCBrowseServerAddressSpace>(server);
        if (!intf_) throw EOPCBrowserException(MsgText(Msg::BrowserNotFound));
    }
    return intf_.Get();
}

int32_t TVelqorCOMDABrowser::Organization() {
    if (organization_ < 0) {
        OPCNAMESPACETYPE type = OPC_NS_HIERARCHIAL;
        BrowserCheck(Connection(), Intf()->QueryOrganization(&type));
        organization_ = int32_t(type);
    }
    return organization_;
}

HRESULT TVelqorCOMDABrowser::Change(OPCBROWSEDIRECTION direction, const std::string& name) {
    WideText wide(name);
    return Intf()->ChangeBrowsePosition(direction, wide.text);
}

std::string TVelqorCOMDABrowser::ItemIDOf(const std::string& name) {
    WideText wide(name);
    LPWSTR id = nullptr;
    const HRESULT hr = Intf()->GetItemID(wide.text, &id);
    std::string r = SUCCEEDED(hr) ? OleStrToText(id) : std::string{};
    CoTaskMemFree(id);
    return r;
}

std::string TVelqorCOMDABrowser::JoinedPath(const std::string& name) const {
    std::string r;
    for (const auto& p : path_) r += (r.empty() ? "" : ".") + p;
    if (!name.empty()) r += (r.empty() ? "" : ".") + name;
    return r;
}

void TVelqorCOMDABrowser::ListKind(OPCBROWSETYPE kind, const std::string& criteria,
                                   std::vector<TVelqorBrowseItem>& into) {
    if (browseType_ == 1 && kind == OPC_FLAT) return;
    com::ComPtr<IEnumString> strings;
    HRESULT hr;
    if (kind == OPC_BRANCH) {  // the filters are the leaves'
        WideText none("");
        hr = Intf()->BrowseOPCItemIDs(OPC_BRANCH, none.text, VT_EMPTY, 0, strings.Put());
    } else {
        WideText wide(criteria);
        hr = Intf()->BrowseOPCItemIDs(kind, wide.text, datatypeFilter_, DWORD(accessFilter_),
                                      strings.Put());
    }
    BrowserCheck(Connection(), hr);
    // S_OK promises an enumerator; without one the level is unknown, not empty.
    if (hr == S_OK && !strings)
        throw EOPCBrowserException(MsgFormat(
            Msg::WrongResult, std::string("IOPCBrowseServerAddressSpace::BrowseOPCItemIDs")));

    // Every string the enumerator hands out counts, also those of the last, short portion; an
    // enumerator failing part-way fails the listing instead of shortening it, and one that
    // never ends meets the bound.
    std::vector<std::string> names;
    while (strings) {
        LPOLESTR got[100] = {};
        ULONG fetched = 0;
        hr = strings->Next(100, got, &fetched);
        if (fetched > 100) fetched = FAILED(hr) ? 0 : 100;
        for (ULONG i = 0; i < fetched; ++i) {
            std::string s = OleStrToText(got[i]);
            CoTaskMemFree(got[i]);
            if (!s.empty()) names.push_back(std::move(s));
        }
        BrowserCheck(Connection(), hr);
        elementsSeen_ += int64_t(fetched);
        if (elementsSeen_ > kMaxBrowseElements)
            throw EBrowseLimit("Browse: the server sent more than " +
                               std::to_string(kMaxBrowseElements) + " elements (at " +
                               (listingAt_.empty() ? std::string("the root") : listingAt_) + ")");
        if (hr != S_OK || fetched == 0) break;
    }

    for (const auto& s : names) {
        TVelqorBrowseItem b;
        b.Name = s;
        b.IsItem = kind != OPC_BRANCH;
        b.IsBranch = b.HasChildren = kind == OPC_BRANCH;
        b.ItemName = kind == OPC_FLAT ? s : ItemIDOf(s);
        if (kind == OPC_BRANCH && b.ItemName.empty()) b.ItemName = JoinedPath(s);
        // Listed by name, but an item without its ID cannot be added: the listing says so.
        if (kind == OPC_LEAF && b.ItemName.empty())
            newGaps_.push_back("the server gave no item ID for " + s + " (in " +
                               (listingAt_.empty() ? std::string("the root") : listingAt_) + ")");
        into.push_back(std::move(b));
    }
}

namespace {

// The way back up failed during a walk: where the server stands is no longer known.
class ELostPosition : public EOPCBrowserException {
  public:
    using EOPCBrowserException::EOPCBrowserException;
};

}  // namespace

void TVelqorCOMDABrowser::WalkBranches(std::vector<TVelqorBrowseItem>& into,
                                       std::unordered_set<std::string>& visited, int depth) {
    std::vector<TVelqorBrowseItem> branches;
    ListKind(OPC_BRANCH, {}, branches);
    auto up = [this] {
        try {
            BrowserCheck(Connection(), Change(OPC_BROWSE_UP, ""));
        } catch (const std::exception& e) {
            throw ELostPosition(e.what());
        }
        path_.pop_back();
    };
    for (const auto& b : branches) {
        into.push_back(b);
        if (!visited.insert(b.ItemName).second) continue;  // reached again by another path
        if (depth + 1 >= TVelqorBrowserCore::kMaxWalkDepth)
            throw EBrowseLimit("Browse: the flat walk reached " +
                               std::to_string(TVelqorBrowserCore::kMaxWalkDepth) + " levels at " +
                               b.ItemName);
        try {
            BrowserCheck(Connection(), Change(OPC_BROWSE_DOWN, b.Name));
        } catch (const std::exception& e) {
            newGaps_.push_back("Browse of " + b.ItemName + " failed: " + e.what());
            continue;
        }
        path_.push_back(b.Name);
        listingAt_ = b.ItemName;
        try {
            WalkBranches(into, visited, depth + 1);
        } catch (const ELostPosition&) {
            throw;
        } catch (const EBrowseLimit&) {
            up();
            throw;
        } catch (const std::exception& e) {
            newGaps_.push_back("Browse of " + b.ItemName + " failed: " + e.what());
        }
        up();
    }
}

bool TVelqorCOMDABrowser::Browse(bool flat) {
    if (!browseList_) throw EOPCBrowserException(MsgText(Msg::FirstCallSetBrowseList));
    std::vector<TVelqorBrowseItem> found;
    newGaps_.clear();
    elementsSeen_ = 0;
    listingAt_ = current_.ItemName;
    if (Organization() == OPC_NS_FLAT) {
        ListKind(OPC_FLAT, filterCriteria_, found);
    } else if (flat) {
        // The items come from the server's own flat list, by ID in one call; the branches from
        // a walk, which also finds the branches that list leaves out.
        std::vector<TVelqorBrowseItem> items, branches;
        ListKind(OPC_FLAT, {}, items);
        const TVelqorBrowseItem start = current_;
        const std::vector<std::string> startPath = path_;
        std::unordered_set<std::string> visited{start.ItemName};
        try {
            WalkBranches(branches, visited, 0);
        } catch (const ELostPosition&) {
            if (MoveTo(start)) path_ = startPath;  // back where the walk began, if it can be
            throw;
        }
        for (auto& e : browseType_ == 1 ? branches : items)
            if (filterCriteria_.empty() || MatchesMask(e.ItemName, filterCriteria_))
                found.push_back(std::move(e));
    } else {
        if (browseType_ == 1 || browseType_ == 3) ListKind(OPC_BRANCH, {}, found);
        if (browseType_ == 2 || browseType_ == 3) ListKind(OPC_LEAF, filterCriteria_, found);
    }
    browseList_->Clear();
    for (auto& b : found) browseList_->Add(std::move(b));
    gaps_ = std::move(newGaps_);
    return true;
}

void TVelqorCOMDABrowser::SetFilter(int32_t browseType, int32_t accessRights, int32_t datatype,
                                    const std::string& filter) {
    browseType_ = browseType;
    accessFilter_ = accessRights;
    datatypeFilter_ = VARTYPE(datatype);
    filterCriteria_ = filter;
}

bool TVelqorCOMDABrowser::MoveDown(const TVelqorBrowseItem& item) {
    try {
        if (Organization() == OPC_NS_FLAT) return false;
        if (FAILED(Change(OPC_BROWSE_DOWN, item.Name))) return false;
    } catch (const std::exception&) {
        return false;
    }
    current_ = item;
    path_.push_back(item.Name);
    return true;
}

bool TVelqorCOMDABrowser::MoveTo(const TVelqorBrowseItem& item) {
    try {
        if (Organization() == OPC_NS_FLAT) return false;
        BrowserCheck(Connection(), Change(OPC_BROWSE_TO, item.ItemName));
    } catch (const std::exception&) {
        return Walk(item);
    }
    current_ = item;
    path_.clear();
    return true;
}

// From the root down the components of the item's ID, for a server that cannot jump.
bool TVelqorCOMDABrowser::Walk(const TVelqorBrowseItem& item) {
    try {
        MoveToRoot();
        for (const auto& part : SplitComponents(item.ItemName)) {
            TVelqorBrowseItem step = RootBrowseItem();
            step.Name = step.ItemName = part;
            if (!MoveDown(step)) return false;
        }
    } catch (const std::exception&) {
        return false;
    }
    current_.Name = item.Name;
    current_.ItemName = item.ItemName;
    return true;
}

bool TVelqorCOMDABrowser::MoveToRoot() {
    try {
        if (Organization() == OPC_NS_FLAT) return false;
        if (FAILED(Change(OPC_BROWSE_TO, ""))) {
            for (int i = 0; i < kMaxClimb && SUCCEEDED(Change(OPC_BROWSE_UP, "")); ++i) {
            }
        }
    } catch (const std::exception&) {
        return false;
    }
    path_.clear();
    current_.Name.clear();
    current_.ItemName.clear();
    return true;
}

bool TVelqorCOMDABrowser::MoveUp() {
    try {
        if (Organization() == OPC_NS_FLAT) return false;
        BrowserCheck(Connection(), Change(OPC_BROWSE_UP, ""));
        current_.Name = current_.ItemName = ItemIDOf("");
    } catch (const std::exception&) {
        return false;
    }
    if (!path_.empty()) path_.pop_back();
    if (current_.Name.empty() && !path_.empty()) {
        current_.Name = path_.back();
        current_.ItemName = JoinedPath();
    }
    return true;
}

}  // namespace velqor
