#include "browse/VelqorBrowseCore.h"

#include "contract/VelqorIntf.h"
#include "contract/VelqorMask.h"

namespace velqor {

namespace {

std::string Where(const TVelqorBrowseItem& position) {
    std::string id = position.CombinedID();
    return id.empty() ? "the root" : id;
}

bool SamePosition(const TVelqorBrowseItem& a, const TVelqorBrowseItem& b) {
    return a.Name == b.Name && a.ItemName == b.ItemName && a.ItemPath == b.ItemPath;
}

}  // namespace

TVelqorBrowseItem RootBrowseItem() {
    TVelqorBrowseItem root;
    root.IsBranch = true;
    root.HasChildren = true;
    return root;
}

bool PassesBrowseFilter(const TBrowseElementFacts& facts, int32_t datatypeFilter,
                        int32_t accessFilter) {
    if (facts.PropertyCount != 2) return true;
    if (datatypeFilter != 0 && facts.DataType && *facts.DataType != datatypeFilter) return false;
    if (accessFilter != 0 && facts.AccessRights) {
        if (*facts.AccessRights == 1) return (accessFilter & 1) != 0;
        if (*facts.AccessRights == 2) return (accessFilter & 2) != 0;
    }
    return true;
}

TVelqorBrowserCore::TVelqorBrowserCore() : current_(RootBrowseItem()), target_(current_) {}

std::vector<TVelqorBrowserCore::TListed> TVelqorBrowserCore::ListLevel(
    const TVelqorBrowseItem& target, int32_t browseType, const std::string& nameFilter) {
    std::vector<TListed> level;
    std::string point;
    for (int32_t round = 1;; ++round) {
        TBrowsePage page = ListPage({target, browseType, nameFilter, point, maxElements_});
        elementsSeen_ += int64_t(page.Elements.size());
        if (elementsSeen_ > maxElementsTotal_)
            throw EBrowseLimit("Browse: the server sent more than " +
                               std::to_string(maxElementsTotal_) + " elements (at " +
                               Where(target) + ")");
        for (TBrowseElement& e : page.Elements) {
            // Items are filtered; whatever can be entered stays, so that a walk gets below it.
            const bool passed =
                !e.Entry.IsItem || PassesBrowseFilter(e.Facts, datatypeFilter_, accessFilter_);
            if (passed || e.Entry.HasChildren) level.push_back({std::move(e.Entry), passed});
        }
        if (page.Incomplete) {
            // Servers may do this; what came is shown, and the shortfall is said.
            gaps_.push_back("the server did not return all elements of " + Where(target) +
                            " (more elements, but no continuation point)");
            break;
        }
        // A server that hands back the point it was given makes no progress: the level ends.
        if (page.ContinuationPoint.empty() || page.ContinuationPoint == point) break;
        if (round >= maxRounds_)
            throw EBrowseLimit("Browse: " + Where(target) + " was not complete after " +
                               std::to_string(maxRounds_) + " continuation requests");
        point = std::move(page.ContinuationPoint);
    }
    return level;
}

void TVelqorBrowserCore::FreshGaps(const std::function<void()>& listing) {
    std::vector<std::string> kept = std::move(gaps_);
    gaps_.clear();
    try {
        listing();
    } catch (...) {
        gaps_ = std::move(kept);  // the list still shows the last listing, and so do its gaps
        throw;
    }
}

void TVelqorBrowserCore::Replace(std::vector<TVelqorBrowseItem> entries) {
    browseList_->Clear();
    for (auto& b : entries) browseList_->Add(std::move(b));
}

bool TVelqorBrowserCore::ListTarget() {
    if (!changed_) return false;
    if (!browseList_) throw EOPCBrowserException(MsgText(Msg::FirstCallSetBrowseList));
    if (browseType_ != 1 && browseType_ != 2) browseType_ = 3;
    elementsSeen_ = 0;
    std::vector<TVelqorBrowseItem> entries;
    FreshGaps([&] {
        for (TListed& e : ListLevel(target_, browseType_, nameFilter_))
            entries.push_back(std::move(e.Entry));
    });
    Replace(std::move(entries));
    current_ = target_;
    changed_ = false;
    return true;
}

bool TVelqorBrowserCore::MoveDown(const TVelqorBrowseItem& item) {
    if (item.CombinedID().empty()) return false;
    target_ = item;
    changed_ = true;
    TVelqorBrowseItem left = current_;
    try {
        if (!ListTarget()) return false;
    } catch (const std::exception&) {
        return false;  // the target stays, so the next Browse tries this position again
    }
    history_.push_back(std::move(left));
    return true;
}

bool TVelqorBrowserCore::MoveTo(const TVelqorBrowseItem& item) {
    target_ = item;
    if (SamePosition(item, current_)) return true;
    changed_ = true;
    try {
        ListTarget();
    } catch (const std::exception&) {
        return false;
    }
    history_.clear();
    return true;
}

bool TVelqorBrowserCore::MoveToRoot() {
    if (!current_.CombinedID().empty() || !current_.Name.empty()) changed_ = true;
    current_ = RootBrowseItem();
    target_ = current_;
    history_.clear();
    return true;
}

bool TVelqorBrowserCore::MoveUp() {
    if (current_.CombinedID().empty()) return false;
    // A position reached by a jump has no way back recorded; the root is always above it.
    if (history_.empty()) return MoveToRoot();
    target_ = std::move(history_.back());
    history_.pop_back();
    current_ = target_;
    if (current_.Name.empty()) history_.clear();
    changed_ = true;
    return true;
}

void TVelqorBrowserCore::SetFilter(int32_t browseType, int32_t accessRights, int32_t datatype,
                                   const std::string& filter) {
    if (browseType != browseType_ || accessRights != accessFilter_ || datatype != datatypeFilter_ ||
        filter != nameFilter_)
        changed_ = true;
    browseType_ = browseType;
    accessFilter_ = accessRights;
    datatypeFilter_ = datatype;
    nameFilter_ = filter;
}

bool TVelqorBrowserCore::Browse(bool flat) {
    if (!browseList_) throw EOPCBrowserException(MsgText(Msg::FirstCallSetBrowseList));
    if (!flat) return ListTarget();

    // The walk asks for both kinds with no name filter, so that it can descend whatever was
    // asked; the name filter becomes the mask on combined IDs. It leaves the position alone
    // and the caller's list as it was until it has succeeded.
    struct Forget {
        TVelqorBrowserCore& b;
        ~Forget() {
            b.visited_.clear();
            b.listed_.clear();
        }
    } forget{*this};
    elementsSeen_ = 0;
    visited_ = {target_.CombinedID()};
    listed_.clear();
    std::vector<TVelqorBrowseItem> collected;
    FreshGaps([&] { Collect(ListLevel(target_, 3, {}), nameFilter_, browseType_, collected, 0); });
    Replace(std::move(collected));
    changed_ = true;  // the list no longer shows the position's level
    return true;
}

void TVelqorBrowserCore::Collect(const std::vector<TListed>& level, const std::string& mask,
                                 int32_t kind, std::vector<TVelqorBrowseItem>& into, int depth) {
    for (const auto& [entry, passed] : level) {
        const std::string id = entry.CombinedID();
        // Items, or branches when only branches were asked for; an entry reached again by
        // another path (or a branch listing itself) is listed and entered once.
        const bool wanted = kind == 1 ? entry.IsBranch : entry.IsItem;
        if (wanted && passed && (mask.empty() || MatchesMask(id, mask)) &&
            listed_.insert(id).second)
            into.push_back(entry);
        if (!entry.IsBranch || id.empty() || !visited_.insert(id).second) continue;
        if (depth + 1 >= kMaxWalkDepth)
            throw EBrowseLimit("Browse: the flat walk reached " + std::to_string(kMaxWalkDepth) +
                               " levels at " + id);
        // A branch that cannot be listed is named, never silently missing; the rest is walked.
        std::vector<TListed> below;
        try {
            below = ListLevel(entry, 3, {});
        } catch (const EBrowseLimit&) {
            throw;
        } catch (const std::exception& e) {
            gaps_.push_back("Browse of " + id + " failed: " + e.what());
            continue;
        }
        Collect(below, mask, kind, into, depth + 1);
    }
}

}  // namespace velqor
