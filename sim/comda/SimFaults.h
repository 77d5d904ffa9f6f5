// Fault switches of the simulated OPC DA servers: one settings record for every simulated server
// of the process, read at the start of each server call, so a client's handling of a misbehaving
// server can be explored and tested. Settable from any thread, by tests through SetSimFaults and
// by a person through the VELQOR_COMSIM_FAULTS environment variable (read at registration).
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "com/runtime/ComPlatform.h"

namespace velqor::sim {

// How the servers hand out the arrays of a call that answers per item.
// How the OPC server enumerator's class lists misbehave.
enum class ServerListFault {
    None,
    BreakOff,  // one class, then E_FAIL
    Endless,   // the same classes again and again, always S_OK
};

enum class OutArrayFault {
    None,
    Null,   // success code, out-arrays left null
    Short,  // lists that state their own length hold one entry fewer than asked for
};

struct SimFaults {
    // Items whose property queries, reads or writes fail with kSimItemFault.
    std::set<std::string> PropertyErrorItems, ReadErrorItems, WriteErrorItems;
    // Items that groups refuse to add or validate (kSimItemFault).
    std::set<std::string> AddErrorItems;
    // Branches the servers refuse to browse into or list (E_ACCESSDENIED).
    std::set<std::string> RefusedBrowsePositions;
    // Positions whose ID GetItemID (DA 2.0) does not tell (E_FAIL).
    std::set<std::string> ItemIDErrorPositions;
    // ChangeBrowsePosition refuses OPC_BROWSE_TO (E_NOTIMPL), as some DA 2.0 servers do.
    bool RefuseBrowseTo = false;
    int SlowCallMs = 0;  // every server call waits this long first
    // Calls that answer per item return S_FALSE with every item failed (kSimItemFault).
    bool SFalseWithErrors = false;
    OutArrayFault OutArrays = OutArrayFault::None;
    ServerListFault ServerList = ServerListFault::None;
    // The string enumerators of BrowseOPCItemIDs never end: they hand out the level's names
    // again and again.
    bool EndlessBrowse = false;
    // IOPCBrowse::Browse hands out a level's first portion only (the client's maximum, else
    // three elements) and says that more exist, without a continuation point.
    bool NoContinuation = false;
    // IOPCBrowse::GetProperties answers a request for all properties with empty lists.
    bool EmptyProperties = false;
    // Data callbacks and DA 1.0 streams keep reaching a sink after it was unadvised.
    bool CallbacksAfterUnadvise = false;
    // A removed group goes on delivering data changes to the sinks it had.
    bool CallbacksAfterRemove = false;
    // Data callbacks and DA 1.0 streams carry one more item, with a client handle no item has.
    bool UnknownClientHandle = false;
    // DA 1.0 data streams state more items in their header than the block holds.
    bool BadStreamHeader = false;
    // Asynchronous requests complete inside the call that made them, before it returns (as a
    // client in a single-threaded apartment sees it while its outgoing call pumps messages).
    bool CompleteInCall = false;
    // The first server object of the process asks its clients to shut down this long after it
    // was made (0: never), as a server being restarted does; the server itself goes on.
    int ShutdownAfterMs = 0;
    // The load-test branch "Load": how many items it has and how often their values change.
    // Read when the plant is made (with the first server object of the process, or the first
    // after every one was released).
    int LoadItems = 10000;
    int LoadPeriodMs = 1000;

    bool operator==(const SimFaults&) const = default;
};

// The client handle of the extra item the unknown-handle switch adds to callbacks.
inline constexpr std::uint32_t kSimUnknownClientHandle = 0x5EEDBAD1u;

// The error an item gets from an item fault switch.
inline constexpr HRESULT kSimItemFault = E_FAIL;

inline constexpr const char* kSimFaultsVariable = "VELQOR_COMSIM_FAULTS";

// The switches in force; never null. Thread-safe.
std::shared_ptr<const SimFaults> CurrentSimFaults();
void SetSimFaults(SimFaults faults);
void ClearSimFaults();

// Starts a server call: waits out the slow-call switch and returns the switches for this call;
// null when the client gave up waiting (the call then answers RPC_E_CALL_CANCELED, as the
// platform's COM answers a client whose message filter cancelled the call: VELQOR_SIM_ENTER).
std::shared_ptr<const SimFaults> EnterSimCall();
#define VELQOR_SIM_ENTER(faults, enter) \
    auto faults = (enter);              \
    if (!faults) return RPC_E_CALL_CANCELED
// How many server calls have waited out the slow-call switch so far.
std::uint64_t SimDelayedCalls();

// Parses comma-separated switches: "slow=MS", "property-error=ID", "read-error=ID",
// "write-error=ID", "add-error=ID", "refuse-browse=ID", "item-id-error=ID"
// (the ID switches may repeat), "refuse-browse-to", "sfalse", "arrays=null", "arrays=short",
// "empty-properties", "callbacks-after-unadvise", "callbacks-after-remove", "unknown-handle",
// "bad-stream", "complete-in-call", "shutdown-after=MS", "load-items=N", "load-period=MS".
// Blanks around words are ignored. Throws
// std::invalid_argument naming the word it cannot take.
SimFaults ParseSimFaults(std::string_view text);

// Applies VELQOR_COMSIM_FAULTS when it is set and not blank. Returns "" on success (or when the
// variable is absent), else the message of the refusal; the switches then stay as they were.
std::string ApplySimFaultsFromEnvironment();

// Where a group's count of values sent as data changes goes when the group ends: a line
// "group NAME sent N" appended to the file named by this variable, when it is set. Lets a test
// compare what a client received with what the server sent.
inline constexpr const char* kSimReportVariable = "VELQOR_COMSIM_REPORT";
void ReportSentValues(const std::string& group, std::uint64_t values);

}  // namespace velqor::sim
