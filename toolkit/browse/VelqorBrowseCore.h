// What every stateless address-space browser does alike, whatever carries its requests: the
// position, the position to list next and the positions to go back to, the filters, the loop
// that asks for the rest of a level until it is complete, the data-type and access-rights filter,
// the flat walk and the bounds that keep a faulty server from keeping a Browse going.
//
// A transport's browser derives from TVelqorBrowserCore and supplies one primitive, ListPage:
// one request for one level, starting at a continuation point. Everything the caller sees
// through IVelqorBrowser follows from here:
// - A whole level is gathered before the list changes, so a request failing part-way leaves
//   the list and the position as they were; never a shortened list.
// - MoveDown and MoveTo list the new position at once (false when that fails, with the target
//   kept so that the next Browse tries it again); MoveUp and MoveToRoot send nothing.
// - A flat Browse walks the tree depth first from the current position, with no element-name
//   filter on its requests, and keeps the entries (items, or branches when only branches were
//   asked for) whose combined ID matches the name filter used as a wildcard mask. A branch below
//   the position that cannot be listed is left out and named in Gaps, and the walk goes on; each
//   branch is entered and each entry listed once.
// - A level the server says holds more than it sent, without a way to ask for the rest, is
//   listed as far as it came and named in Gaps.
// - Requests per level, elements per Browse and the walk's depth are bounded; reaching a bound
//   raises EBrowseLimit.
//
// Threads: owning thread only, like the connection the browser was made for.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "contract/VelqorError.h"
#include "contract/VelqorItemData.h"
#include "contract/VelqorTransport.h"

namespace velqor {

// A Browse hit one of the browser's bounds; the message names the bound and the position.
class EBrowseLimit : public EOPCBrowserException {
  public:
    using EOPCBrowserException::EOPCBrowserException;
};

// The root of an address space: no names, a branch with children.
TVelqorBrowseItem RootBrowseItem();

// What an element's properties say for the filters, as the transport read them.
struct TBrowseElementFacts {
    size_t PropertyCount = 0;             // entries the server sent with the element
    std::optional<int32_t> DataType;      // variant type number, when given and readable
    std::optional<int32_t> AccessRights;  // 1 readable, 2 writable, 3 both; when given
};

// Whether an item passes the data-type and access-rights filters (0 = any). An element that did
// not come with exactly the two properties asked for passes; so does a criterion whose property
// is missing or unreadable. Access rights 1 pass only a filter with bit 1, 2 only one with bit 2;
// anything else passes.
bool PassesBrowseFilter(const TBrowseElementFacts& facts, int32_t datatypeFilter,
                        int32_t accessFilter);

// One element of a level as the transport received it.
struct TBrowseElement {
    TVelqorBrowseItem Entry;
    TBrowseElementFacts Facts;
};

// One request's worth of a level.
struct TBrowsePage {
    std::vector<TBrowseElement> Elements;
    // Where the next request of the same level starts; empty when the level is complete.
    std::string ContinuationPoint;
    // The server says more elements exist but gives no way to ask for them.
    bool Incomplete = false;
};

// What one request of a level asks for.
struct TBrowseQuery {
    const TVelqorBrowseItem& Target;
    int32_t BrowseType;  // 1 branches, 2 items, 3 both
    const std::string& NameFilter;
    const std::string& ContinuationPoint;  // empty for the first request of the level
    int32_t MaxElements;                   // per reply; 0 leaves it to the server
};

// The browser interface of a stateless browser; a transport's browser is a reference-counted
// object of it (com::ComObject<TVelqorBrowserCore, ...>), answering for IVelqorBrowser.
class TVelqorBrowserCore : public IVelqorBrowser {
  public:
    virtual ~TVelqorBrowserCore() = default;

    // IVelqorBrowser
    int32_t Organization() override { return 1; }  // hierarchical
    bool MoveDown(const TVelqorBrowseItem& item) override;
    bool MoveTo(const TVelqorBrowseItem& item) override;
    bool MoveToRoot() override;
    // Back to where the last move came from; to the root from a position reached by a jump.
    // False at the root.
    bool MoveUp() override;
    TVelqorBrowseItem* Position() override { return &current_; }
    void SetFilter(int32_t browseType, int32_t accessRights, int32_t datatype,
                   const std::string& filter) override;
    // Not flat: the level, only when a position or filter changed (true), else false with the
    // list untouched. Flat: the walk, always true. Failures raise with the list unchanged.
    bool Browse(bool flat) override;
    void SetBrowseList(TVelqorBrowseItems* list) override { browseList_ = list; }
    std::vector<std::string> Gaps() override { return gaps_; }

    // Elements asked for per request; 0 leaves it to the server. The rest of a level comes
    // through the continuation point.
    void SetMaxElementsReturned(int32_t n) { maxElements_ = n < 0 ? 0 : n; }
    int32_t MaxElementsReturned() const { return maxElements_; }
    // Requests for one level (the first and its continuations) before EBrowseLimit.
    static constexpr int32_t kDefaultMaxContinuationRounds = 1000;
    void SetMaxContinuationRounds(int32_t n) {
        maxRounds_ = n > 0 ? n : kDefaultMaxContinuationRounds;
    }
    int32_t MaxContinuationRounds() const { return maxRounds_; }
    // Elements received by one Browse (all levels of a flat walk) before EBrowseLimit.
    static constexpr int64_t kDefaultMaxBrowseElements = 1000000;
    void SetMaxBrowseElements(int64_t n) {
        maxElementsTotal_ = n > 0 ? n : kDefaultMaxBrowseElements;
    }
    int64_t MaxBrowseElements() const { return maxElementsTotal_; }
    // Deepest level the flat walk enters; a deeper branch raises EBrowseLimit.
    static constexpr int kMaxWalkDepth = 64;

  protected:
    TVelqorBrowserCore();
    // One request for one level of query.Target. Raises on a failed exchange.
    virtual TBrowsePage ListPage(const TBrowseQuery& query) = 0;
    // A setting the transport keeps (a vendor filter) changed: the next Browse lists again.
    void MarkChanged() { changed_ = true; }

  private:
    // An entry of a level, and whether it passed the filters (an item with children that did
    // not is kept so that it can be entered, but a walk does not list it).
    struct TListed {
        TVelqorBrowseItem Entry;
        bool Passed = true;
    };
    // The whole level below target, filtered; counts the elements against the bound.
    std::vector<TListed> ListLevel(const TVelqorBrowseItem& target, int32_t browseType,
                                   const std::string& nameFilter);
    bool ListTarget();
    void Collect(const std::vector<TListed>& level, const std::string& mask, int32_t kind,
                 std::vector<TVelqorBrowseItem>& into, int depth);
    void Replace(std::vector<TVelqorBrowseItem> entries);
    // Runs a listing with its own gaps; when it raises, the gaps of the last listing stay.
    void FreshGaps(const std::function<void()>& listing);

    int32_t accessFilter_ = 0;
    int32_t datatypeFilter_ = 0;
    std::string nameFilter_;
    int32_t browseType_ = 3;
    TVelqorBrowseItem current_;
    TVelqorBrowseItem target_;
    std::vector<TVelqorBrowseItem> history_;  // most recent last
    TVelqorBrowseItems* browseList_ = nullptr;
    bool changed_ = true;
    int32_t maxElements_ = 0;
    int32_t maxRounds_ = kDefaultMaxContinuationRounds;
    int64_t maxElementsTotal_ = kDefaultMaxBrowseElements;
    int64_t elementsSeen_ = 0;                          // by the Browse under way
    std::vector<std::string> gaps_;                     // of the last listing
    std::unordered_set<std::string> visited_, listed_;  // by the flat walk under way
};

}  // namespace velqor
