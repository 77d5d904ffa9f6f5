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

// ---- wildcard mask over UTF-8 code points ----

std::u32string CodePoints(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        int len = b < 0x80           ? 1
                  : (b >> 5) == 0x6  ? 2
                  : (b >> 4) == 0xE  ? 3
                  : (b >> 3) == 0x1E ? 4
                                     : 0;
        char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = len > 0 && i + size_t(len) <= s.size();
        for (int k = 1; ok && k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + size_t(k)]);
            if ((c & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!ok) {  // a stray byte stands for itself
            out.push_back(b);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += size_t(len);
    }
    return out;
}

char32_t Fold(char32_t c) { return c >= U'A' && c <= U'Z' ? c + (U'a' - U'A') : c; }

// Whether the token at mask[p] (not '*') matches c; len receives the token's length.
bool TokenMatches(const std::u32string& mask, size_t p, char32_t c, size_t& len) {
    if (mask[p] == U'?') {
        len = 1;
        return true;
    }
    if (mask[p] == U'[') {
        size_t close = mask.find(U']', p + 2);  // "[]...]" keeps a leading ']' in the set
        if (close != std::u32string::npos) {
            size_t i = p + 1;
            const bool negate = mask[i] == U'!';
            if (negate) ++i;
            if (i == close) close = mask.find(U']', close + 1);  // "[!]...]"
            if (close != std::u32string::npos) {
                len = close - p + 1;
                const char32_t f = Fold(c);
                bool in = false;
                for (; i < close; ++i) {
                    if (i + 2 < close && mask[i + 1] == U'-') {
                        char32_t lo = Fold(mask[i]), hi = Fold(mask[i + 2]);
                        if ((f >= lo && f <= hi) || (c >= mask[i] && c <= mask[i + 2])) in = true;
                        i += 2;
                    } else if (f == Fold(mask[i])) {
                        in = true;
                    }
                }
                return in != negate;
            }
        }
    }
    len = 1;
    return Fold(mask[p]) == Fold(c);
}

}  // namespace

bool MatchesMask(std::string_view textUtf8, std::string_view maskUtf8) {
    const std::u32string text = CodePoints(textUtf8), mask = CodePoints(maskUtf8);
    // Greedy matching that backs up to the last star: linear in practice, never exponential.
    size_t t = 0, p = 0, starP = std::u32string::npos, starT = 0;
    while (t < text.size()) {
        if (p < mask.size() && mask[p] == U'*') {
            starP = p++;
            starT = t;
            continue;
        }
        size_t len = 0;
        if (p < mask.size() && TokenMatches(mask, p, text[t], len)) {
            p += len;
            ++t;
        } else if (starP != std::u32string::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < mask.size() && mask[p] == U'*') ++p;
    return p == mask.size();
}

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
