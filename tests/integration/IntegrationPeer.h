// What the transport-neutral integration suite needs to know about a server it runs against: how
// to start and kill it, its names, and the items and branches of its address space that the cases
// use. One class per kind of peer; the list of peers instantiates the suite once for each.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "contract/Variant.h"

namespace velqor::integration {

// A readable analog item with an engineering-unit range.
struct AnalogItem {
    std::string ItemID;
    double LowEU = 0, HighEU = 0;
    std::string Units;
};

// A writable item and a value of its canonical type that reads back unchanged once written.
struct WritableItem {
    std::string ItemID;
    Variant Value;
};

// A branch reached from the root through Path, with what browsing it lists.
struct BrowseBranch {
    std::vector<std::string> Path;      // branch names from the root down
    std::vector<std::string> Branches;  // names of its child branches
    std::vector<std::string> Items;     // names of its child items
    std::string Mask;                   // a name filter ...
    std::vector<std::string> Masked;    // ... and the child items it lets through
};

class IntegrationPeer {
  public:
    virtual ~IntegrationPeer() = default;

    // Starts serving; called once before each case.
    virtual void Start() = 0;
    // Makes the server dead: connects fail and a connected client loses it.
    virtual void Kill() = 0;

    // What the server component is given.
    virtual std::string ServerName() const = 0;
    virtual std::string ComputerName() const { return {}; }

    virtual AnalogItem Analog() const = 0;  // also read-only
    virtual std::vector<WritableItem> Writables() const = 0;
    virtual WritableItem WriteOnly() const = 0;    // a write succeeds, a read fails
    virtual std::string ChangingItem() const = 0;  // changes well within a second
    virtual std::string UnknownItem() const = 0;
    virtual BrowseBranch Branch() const = 0;
    // Whether the address space is flat: every item at one level by its ID, no branches.
    virtual bool FlatSpace() const { return false; }

    // The result code of a write to a read-only item.
    virtual int32_t ReadOnlyWriteError() const = 0;
    // Whether adding an item validates it at once, so that an unknown item is refused a server
    // handle; otherwise the error arrives with the item's first value.
    virtual bool AddValidatesItems() const = 0;

    // The start of the error text of an activation while the server is dead.
    virtual std::string DeadServerError() const {
        return "Unable to connect to OPC server " + ServerName();
    }
    // Why the transport cannot serve groups or browse this peer yet; empty when it can. Cases
    // that need them skip with this text.
    virtual std::string NoGroupsReason() const { return {}; }
    // Why the server has no item properties, or a client cannot notice its death; empty when
    // it has them and a client can.
    virtual std::string NoPropertiesReason() const { return {}; }
    virtual std::string UnnoticedDeathReason() const { return {}; }
    virtual std::string NoBrowserReason() const { return {}; }
};

struct PeerKind {
    std::string Name;  // part of each case's name
    std::function<std::unique_ptr<IntegrationPeer>()> Make;
};

// Every peer the suite runs against.
std::vector<PeerKind> AllPeers();

std::unique_ptr<IntegrationPeer> MakeXmlDaSimPeer();
// A simulated COM server of this process, by ProgID, reached on a simulated remote computer;
// flat for the server with a flat address space.
std::unique_ptr<IntegrationPeer> MakeComSimPeer(const std::string& progId, bool flat = false);

}  // namespace velqor::integration
