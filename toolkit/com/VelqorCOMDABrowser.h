// The COM transport's address-space browsers, made by the COM DA connection's CreateBrowser.
//
// TVelqorCOMDABrowser drives IOPCBrowseServerAddressSpace (DA 1.0 and 2.0), whose server keeps the
// browse position: moves are server calls, and the browser remembers the branch names it entered
// so that it can name positions whose item ID the server does not tell. A server that refuses
// OPC_BROWSE_TO is reached by climbing to the root and walking down the ID's components.
//
// TVelqorCOMDA3Browser is the shared browser (browse/VelqorBrowseCore.h) over IOPCBrowse (DA 3.0),
// which is stateless: one level is listed with as many Browse calls as the server needs; the
// data-type and access-rights filters are applied to the properties the server sends along,
// found by their IDs.
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

#include "browse/VelqorBrowseCore.h"
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
    // Lists the position's branches and leaves (a leaf whose ID the server does not give is
    // named in Gaps); on a flat server, every item by ID. Flat on a hierarchical server: the
    // items of the server's flat list below the position, or, with only branches asked for, the
    // branches below it, whose item ID matches the filter as a mask. Either way the branches
    // are walked and the position is kept: a branch that cannot be entered or listed is named
    // in Gaps (the server's flat list does not tell that it left it out). Always true; a failed
    // listing of the position itself raises, leaving the list as it was.
    bool Browse(bool flat) override;
    void SetBrowseList(TVelqorBrowseItems* list) override { browseList_ = list; }
    std::vector<std::string> Gaps() override { return gaps_; }

    // Steps up that MoveToRoot takes on a server that refuses OPC_BROWSE_TO with "".
    static constexpr int kMaxClimb = 51;
    // Strings one Browse takes from the server before EBrowseLimit.
    static constexpr int64_t kMaxBrowseElements = TVelqorBrowserCore::kDefaultMaxBrowseElements;

  private:
    IOPCBrowseServerAddressSpace* Intf();
    HRESULT Change(OPCBROWSEDIRECTION direction, const std::string& name);
    void ListKind(OPCBROWSETYPE kind, const std::string& criteria,
                  std::vector<TVelqorBrowseItem>& into);
    std::string ItemIDOf(const std::string& name);  // empty when the server has none
    std::string JoinedPath(const std::string& name = {}) const;
    bool Walk(const TVelqorBrowseItem& item);
    // Every branch below the server's position, depth levels below where the walk started;
    // each branch (by item ID) entered once.
    void WalkBranches(std::vector<TVelqorBrowseItem>& into,
                      std::unordered_set<std::string>& visited, int depth);

    int32_t accessFilter_ = 0;
    VARTYPE datatypeFilter_ = VT_EMPTY;
    std::string filterCriteria_;
    int32_t browseType_ = 3;
    com::ComPtr<IOPCBrowseServerAddressSpace> intf_;
    int32_t organization_ = -1;  // not asked yet
    TVelqorBrowseItem current_;
    TVelqorBrowseItems* browseList_ = nullptr;
    std::vector<std::string> path_;  // branch names entered from the root
    std::vector<std::string> gaps_;  // of the last listing
    // Of the listing under way.
    std::vector<std::string> newGaps_;
    int64_t elementsSeen_ = 0;
    std::string listingAt_;  // the item ID of the level being listed, for the texts
};

class TVelqorCOMDA3Browser : public com::ComObject<TVelqorBrowserCore>,
                             public TVelqorCOMDAComponent {
  public:
    explicit TVelqorCOMDA3Browser(com::ComPtr<IVelqorDAConnection> connection);

  protected:
    TBrowsePage ListPage(const TBrowseQuery& query) override;

  private:
    com::ComPtr<IOPCBrowse> intf_;
};

}  // namespace velqor
