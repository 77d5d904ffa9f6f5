// The XML-DA transport's address-space browser: IVelqorBrowser over the OPC XML-DA Browse
// operation.
//
// It keeps a current position in the service's tree, a stack of the positions left by MoveDown,
// and the filter. One Browse request lists one level (following continuation points until the
// level is complete); every request asks for the dataType and accessRights properties so the
// data-type and access-rights filters can be applied here, on the client. A flat listing walks
// the tree depth first from the current position and keeps the items whose combined ID matches
// the name filter, used as a wildcard mask.
//
// Bounds: a service that never completes a level (a new continuation point every time), sends
// endless elements or lists a branch inside itself cannot keep a Browse going. Requests per level
// and elements per Browse are limited, and the flat walk enters each branch once; hitting a limit
// raises EBrowseLimit, never a shortened list.
//
// Threads: owning thread only, like the connection it was made for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "contract/VelqorItemData.h"
#include "contract/VelqorMask.h"  // MatchesMask, used on flat walks
#include "xmlda/OpcXmlDa.h"
#include "xmlda/VelqorXMLDA.h"

namespace velqor {

// A Browse hit one of the browser's bounds; the message names the bound and the position.
class EBrowseLimit : public EOPCBrowserException {
  public:
    using EOPCBrowserException::EOPCBrowserException;
};

class TVelqorXMLDABrowser : public com::ComObject<IVelqorBrowser, IVelqorBrowserVendorFilter>,
                            public TVelqorXMLDAComponent {
  public:
    // Starts at the root with nothing listed yet; the list comes with SetBrowseList.
    explicit TVelqorXMLDABrowser(com::ComPtr<IVelqorDAConnection> connection);

    // IVelqorBrowser
    int32_t Organization() override { return 1; }  // hierarchical
    // Lists the children of item; false (and the position kept) when that request fails or the
    // item names no position.
    bool MoveDown(const TVelqorBrowseItem& item) override;
    bool MoveTo(const TVelqorBrowseItem& item) override;
    bool MoveToRoot() override;  // sends nothing
    bool MoveUp() override;      // sends nothing; false at the root or with nothing to go back to
    TVelqorBrowseItem* Position() override { return &current_; }
    void SetFilter(int32_t browseType, int32_t accessRights, int32_t datatype,
                   const std::string& filter) override;
    // Not flat: one level, only when a position or filter changed (true), else false with the
    // list untouched. Flat: the walk, always true. Errors of the exchange pass to the caller with
    // the list and the position unchanged.
    bool Browse(bool flat) override;
    void SetBrowseList(TVelqorBrowseItems* list) override { browseList_ = list; }

    // IVelqorBrowserVendorFilter
    void SetVendorFilter(const std::string& filter) override;

    // Elements per reply asked of the service (MaxElementsReturned); 0 leaves it to the service.
    // The browser asks again with the continuation point until the level is complete.
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

  private:
    bool BrowseRequest();
    // MoveDown; errors pass through when passErrors, else they give false.
    bool Descend(const TVelqorBrowseItem& item, bool passErrors);
    void FlatWalk();
    void Collect(const std::string& mask, std::vector<TVelqorBrowseItem>& into, int depth);
    void EmptyStack() { stack_.clear(); }

    int32_t accessFilter_ = 0;
    int32_t datatypeFilter_ = 0;
    std::string nameFilter_;
    std::string vendorFilter_;
    int32_t browseType_ = 3;
    int32_t maxElements_ = 0;
    TVelqorBrowseItem current_;
    TVelqorBrowseItem target_;
    std::vector<TVelqorBrowseItem> stack_;  // last entry on top
    TVelqorBrowseItems* browseList_ = nullptr;
    bool changed_ = true;
    int32_t maxRounds_ = kDefaultMaxContinuationRounds;
    int64_t maxElementsTotal_ = kDefaultMaxBrowseElements;
    // State of one flat walk: elements received, branches entered, item IDs listed.
    bool walking_ = false;
    int32_t walkType_ = 3;  // the browse type a flat walk applies to what it lists
    int64_t elementsSeen_ = 0;
    std::unordered_set<std::string> visited_, listed_;
};

// Whether an item element of a Browse reply passes the data-type and access-rights filters
// (0 = any). The dataType and accessRights properties are found by name; when no property carries
// a name the service is taken to have answered in request order (dataType, accessRights). A
// criterion whose property is missing, failed or empty passes.
bool CheckElementFilter(const xmlda::Properties& properties, int32_t accessFilter,
                        int32_t datatypeFilter);

}  // namespace velqor
