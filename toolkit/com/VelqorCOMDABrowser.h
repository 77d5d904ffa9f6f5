// The COM transport's address-space browsers, made by the COM DA connection's CreateBrowser.
//
// TVelqorCOMDABrowser drives IOPCBrowseServerAddressSpace (DA 1.0 and 2.0), whose server keeps the
// browse position: moves are server calls, and the browser remembers the branch names it entered
// so that it can name positions whose item ID the server does not tell. A server that refuses
// OPC_BROWSE_TO is reached by climbing to the root and walking down the ID's components.
//
// TVelqorCOMDA3Browser drives IOPCBrowse (DA 3.0), which is stateless: the position, the position
// to list next, the positions to go back to and the filters live here. One level is listed with
// as many Browse calls as the server needs (its continuation points are followed until the level
// is complete); the data-type and access-rights filters are applied here to the properties the
// server sends along, found by their IDs. A flat listing walks the tree depth first from the
// current position and keeps the items whose ID matches the name filter, used as a mask.
//
// Both gather a whole listing before the browse list changes: a call failing part-way raises
// EOPCBrowserException and leaves the list as it was, never a shortened list. Every string and
// array a server returns is freed here.
//
// Threads: owning thread only, like the connection they were made for.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "com/VelqorCOMDA.h"
#include "contract/VelqorItemData.h"

namespace velqor {

// Passes a success code; for a failure raises EOPCBrowserException "Browser: " followed by the
// server's text for the code, or, when the server has none, the toolkit's.
void BrowserCheck(TVelqorCOMDAConnection& connection, HRESULT code);

class TVelqorCOMDABrowser : public com::ComObject<IVelqorBrowser>, public TVelqorCOMDAComponent {
  public:
    explicit TVelqorCOMDABrowser(com::ComPtr<IVelqorDAConnection> connection);

    // IVelqorBrowser. Moves return false (never raise) when the server refuses them, and at once
    // on a flat address space.
    int32_t Organization() override;  // asked once, then kept
    bool MoveDown(const TVelqorBrowseItem& item) override;
    bool MoveTo(const TVelqorBrowseItem& item) override;
    bool MoveToRoot() override;
    bool MoveUp() override;
    TVelqorBrowseItem* Position() override { return &current_; }
    void SetFilter(int32_t browseType, int32_t accessRights, int32_t datatype,
                   const std::string& filter) override;
    // Lists the position's branches and leaves, or, flat (or on a flat server), every item below
    // it by ID. Always true; a failed server call raises.
    bool Browse(bool flat) override;
    void SetBrowseList(TVelqorBrowseItems* list) override { browseList_ = list; }

    // Steps up that MoveToRoot takes on a server that refuses OPC_BROWSE_TO with "".
    static constexpr int kMaxClimb = 51;

  private:
    IOPCBrowseServerAddressSpace* Intf();
    HRESULT Change(OPCBROWSEDIRECTION direction, const std::string& name);
    void ListKind(OPCBROWSETYPE kind, std::vector<TVelqorBrowseItem>& into);
    std::string ItemIDOf(const std::string& name);  // empty when the server has none
    std::string JoinedPath(const std::string& name = {}) const;
    bool Walk(const TVelqorBrowseItem& item);

    int32_t accessFilter_ = 0;
    VARTYPE datatypeFilter_ = VT_EMPTY;
    std::string filterCriteria_;
    int32_t browseType_ = 3;
    com::ComPtr<IOPCBrowseServerAddressSpace> intf_;
    int32_t organization_ = -1;  // not asked yet
    TVelqorBrowseItem current_;
    TVelqorBrowseItems* browseList_ = nullptr;
    std::vector<std::string> path_;  // branch names entered from the root
};

class TVelqorCOMDA3Browser : public com::ComObject<IVelqorBrowser>, public TVelqorCOMDAComponent {
  public:
    explicit TVelqorCOMDA3Browser(com::ComPtr<IVelqorDAConnection> connection);

    // IVelqorBrowser. Moves into a position list it at once (false when that fails); MoveUp and
    // MoveToRoot call nothing.
    int32_t Organization() override { return 1; }
    bool MoveDown(const TVelqorBrowseItem& item) override;
    bool MoveTo(const TVelqorBrowseItem& item) override;
    bool MoveToRoot() override;
    bool MoveUp() override;  // false at the root or with nothing to go back to
    TVelqorBrowseItem* Position() override { return &current_; }
    void SetFilter(int32_t browseType, int32_t accessRights, int32_t datatype,
                   const std::string& filter) override;
    // Not flat: the level, only when a position or filter changed (true), else false with the
    // list untouched. Flat: the walk, always true. Failures raise with the list unchanged.
    bool Browse(bool flat) override;
    void SetBrowseList(TVelqorBrowseItems* list) override { browseList_ = list; }

    // Elements asked for per Browse call; 0 leaves it to the server. The rest of a level comes
    // through the continuation point.
    void SetMaxElementsReturned(DWORD n) { maxElements_ = n; }
    // Browse calls for one level before the listing fails (a server that never completes one).
    static constexpr int kMaxContinuations = 1000;
    // Deepest level a flat walk enters.
    static constexpr int kMaxWalkDepth = 64;

  private:
    bool ListTarget();
    bool Descend(const TVelqorBrowseItem& item, bool passErrors);
    void Collect(const std::string& mask, std::vector<TVelqorBrowseItem>& into, int depth);
    bool PassesFilter(const OPCITEMPROPERTIES& properties) const;

    int32_t accessFilter_ = 0;
    int32_t datatypeFilter_ = 0;
    std::string nameFilter_;
    int32_t browseType_ = 3;
    DWORD maxElements_ = 0;
    TVelqorBrowseItem current_;
    TVelqorBrowseItem target_;
    std::vector<TVelqorBrowseItem> history_;  // most recent last
    TVelqorBrowseItems* browseList_ = nullptr;
    bool dirty_ = true;
    com::ComPtr<IOPCBrowse> intf_;
    // State of one flat walk: what it lists, the branches entered, the IDs listed.
    int32_t walkType_ = 3;
    std::unordered_set<std::string> visited_, listed_;
};

}  // namespace velqor
