// The simulated OPC DA server objects, put together from parts: each part implements one
// published interface over the shared plant, and a server generation is the list of parts it
// offers. A server answers QueryInterface for exactly the interfaces of its parts.
#pragma once

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "ComSimAddressSpace.h"
#include "SimFaults.h"
#include "SimGroup.h"
#include "com/ComCallbacks.h"
#include "com/OpcDaIntf.h"
#include "com/runtime/ComConnectionPoints.h"

namespace velqor::sim {

struct SimServerIdentity {
    std::string VendorInfo;
    WORD MajorVersion = 0, MinorVersion = 0, BuildNumber = 0;
    FILETIME StartTime{};
    bool FlatSpace = false;  // offers every item by full ID at one level, without branches
    SimGeneration Generation = SimGeneration::Da20;  // which interfaces its groups offer
};

// What the parts of one server object share.
struct SimServerState {
    std::shared_ptr<ComSimAddressSpace> Space;
    SimServerIdentity Identity;
    LCID Locale = 0x0409;
    std::string ClientName;
    std::shared_ptr<SimGroupList> Groups = std::make_shared<SimGroupList>();

    // Starts a call: waits out the slow-call switch and returns the switches for this call (null
    // when the client gave up waiting: VELQOR_SIM_ENTER).
    std::shared_ptr<const SimFaults> Enter() const;
    // The item node an ID names, or the error for it (invalid or unknown ID, or a branch).
    HRESULT FindItem(LPCWSTR itemId, int& node) const;
    // FindItem, then kSimItemFault for an item the switches fail: every item under sfalse, or
    // one of failing (a list of the switches).
    HRESULT FindItem(LPCWSTR itemId, const SimFaults& faults, const std::set<std::string>& failing,
                     int& node) const;
};

// Base of every part: the interface it implements and the server's shared state.
template <class I>
class SimPart : public I {
  public:
    void Attach(SimServerState& state) { state_ = &state; }

  protected:
    ~SimPart() = default;  // released, never deleted through a part
    SimServerState& State() const { return *state_; }
    ComSimAddressSpace& Space() const { return *state_->Space; }

  private:
    SimServerState* state_ = nullptr;
};

// IOPCServer: status, error texts and the server's private groups (SimGroup.h).
class OpcServerPart : public SimPart<IOPCServer> {
  public:
    HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR name, BOOL active, DWORD requestedRate,
                                       OPCHANDLE clientGroup, LONG* timeBias, FLOAT* deadband,
                                       DWORD lcid, OPCHANDLE* serverGroup, DWORD* revisedRate,
                                       REFIID riid, LPUNKNOWN* group) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT error, LCID locale, LPWSTR* text) override;
    HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR name, REFIID riid, LPUNKNOWN* group) override;
    HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** status) override;
    HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE serverGroup, BOOL force) override;
    HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE scope, REFIID riid,
                                                    LPUNKNOWN* result) override;

  protected:
    ~OpcServerPart() = default;
};

class OpcCommonPart : public SimPart<IOPCCommon> {
  public:
    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID lcid) override;
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* lcid) override;
    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* count, LCID** lcids) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT error, LPWSTR* text) override;
    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR name) override;

  protected:
    ~OpcCommonPart() = default;
};

// The IOPCShutdown connection point. Binds to the creating thread's default event loop: the
// shutdown request reaches the clients there.
class ShutdownPart : public SimPart<IConnectionPointContainer> {
  public:
    ShutdownPart();

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // Queues ShutdownRequest(reason) to every live server's advised sinks; returns how many
    // servers queued it. Thread-safe.
    static int RequestShutdownOfAll(const std::string& reason);
    // True once the shutdown-after switch has asked the clients to shut down: a server process
    // of its own then ends, as a server being restarted does.
    static bool RestartAnnounced();

  protected:
    ~ShutdownPart();

  private:
    void RequestShutdown(const std::string& reason);
    static std::atomic<bool>& RestartFlag();

    com::ConnectionPoint shutdownPoint_;
    com::ConnectionPointList points_;
    CallbackQueue callbacks_;
    int shutdownTimer_ = 0;  // the shutdown-after switch's timer (the loop's thread only)
};

// IOPCItemProperties (DA 2.0).
class ItemPropertiesPart : public SimPart<IOPCItemProperties> {
  public:
    HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR itemId, DWORD* count, DWORD** ids,
                                                       LPWSTR** descriptions,
                                                       VARTYPE** types) override;
    HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR itemId, DWORD count, DWORD* ids,
                                                VARIANT** values, HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR itemId, DWORD count, DWORD* ids,
                                            LPWSTR** newItemIds, HRESULT** errors) override;

  protected:
    ~ItemPropertiesPart() = default;
};

// IOPCBrowseServerAddressSpace (DA 1.0 and 2.0): a browse position kept on the server.
class BrowseSpacePart : public SimPart<IOPCBrowseServerAddressSpace> {
  public:
    HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* type) override;
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION direction,
                                                   LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE filterType, LPCWSTR criteria,
                                               VARTYPE dataType, DWORD accessRights,
                                               IEnumString** result) override;
    HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR itemDataId, LPWSTR* itemId) override;
    HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR itemId, IEnumString** result) override;

  protected:
    ~BrowseSpacePart() = default;

  private:
    int position_ = 0;  // a branch node; the root at first
};

// IOPCBrowse (DA 3.0): stateless browsing with continuation points, and item properties.
class Da3BrowsePart : public SimPart<IOPCBrowse> {
  public:
    HRESULT STDMETHODCALLTYPE GetProperties(DWORD itemCount, LPWSTR* itemIds, BOOL withValues,
                                            DWORD propertyCount, DWORD* propertyIds,
                                            OPCITEMPROPERTIES** results) override;
    HRESULT STDMETHODCALLTYPE Browse(LPWSTR itemId, LPWSTR* continuationPoint, DWORD maxElements,
                                     OPCBROWSEFILTER filter, LPWSTR nameFilter, LPWSTR vendorFilter,
                                     BOOL allProperties, BOOL withValues, DWORD propertyCount,
                                     DWORD* propertyIds, BOOL* moreElements, DWORD* count,
                                     OPCBROWSEELEMENT** elements) override;

  protected:
    ~Da3BrowsePart() = default;
};

// IOPCItemIO (DA 3.0): reads with a maximum age and VQT writes by item ID.
class ItemIOPart : public SimPart<IOPCItemIO> {
  public:
    HRESULT STDMETHODCALLTYPE Read(DWORD count, LPCWSTR* itemIds, DWORD* maxAge, VARIANT** values,
                                   WORD** qualities, FILETIME** timeStamps,
                                   HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD count, LPCWSTR* itemIds, OPCITEMVQT* vqts,
                                       HRESULT** errors) override;

  protected:
    ~ItemIOPart() = default;
};

// Matches a name against a filter with '*' (any run) and '?' (one character); "" matches all.
bool MatchesBrowseFilter(std::string_view name, std::string_view filter);

// A zeroed task-memory array of count elements (at least one is allocated); null when refused.
void* TaskArrayBytes(std::size_t count, std::size_t size);
template <class T>
T* TaskArray(std::size_t count) {
    return static_cast<T*>(TaskArrayBytes(count, sizeof(T)));
}

// Nulls every out-pointer a call was given; false (the call's E_INVALIDARG) when one is missing.
template <class... T>
bool ClearOutPointers(T**... outs) {
    if (!(outs && ...)) return false;
    ((*outs = nullptr), ...);
    return true;
}

template <class... T>
void FreeTaskArrays(T*... arrays) {
    (CoTaskMemFree(arrays), ...);
}

// Task-memory arrays of count elements each, all or none: when one is refused, the others are
// freed, every pointer is null and the result false.
template <class... T>
bool TaskArrays(std::size_t count, T*&... arrays) {
    ((arrays = TaskArray<T>(count)), ...);
    if ((arrays && ...)) return true;
    FreeTaskArrays(arrays...);
    ((arrays = nullptr), ...);
    return false;
}

}  // namespace velqor::sim

// The parts answer QueryInterface under their interface's identifier.
VELQOR_INTERFACE_TRAITS(velqor::sim::OpcServerPart, ::IUnknown, IID_IOPCServer);
VELQOR_INTERFACE_TRAITS(velqor::sim::OpcCommonPart, ::IUnknown, IID_IOPCCommon);
VELQOR_INTERFACE_TRAITS(velqor::sim::ShutdownPart, ::IUnknown, IID_IConnectionPointContainer);
VELQOR_INTERFACE_TRAITS(velqor::sim::ItemPropertiesPart, ::IUnknown, IID_IOPCItemProperties);
VELQOR_INTERFACE_TRAITS(velqor::sim::BrowseSpacePart, ::IUnknown, IID_IOPCBrowseServerAddressSpace);
VELQOR_INTERFACE_TRAITS(velqor::sim::Da3BrowsePart, ::IUnknown, IID_IOPCBrowse);
VELQOR_INTERFACE_TRAITS(velqor::sim::ItemIOPart, ::IUnknown, IID_IOPCItemIO);

namespace velqor::sim {

template <class... Parts>
class SimServerObject final : public com::PlatformObject<Parts...> {
  public:
    SimServerObject(std::shared_ptr<ComSimAddressSpace> space, SimServerIdentity identity) {
        state_.Space = std::move(space);
        state_.Identity = std::move(identity);
        (Parts::Attach(state_), ...);
    }

  private:
    SimServerState state_;
};

using SimDa10Server = SimServerObject<OpcServerPart, BrowseSpacePart>;
using SimDa20Server = SimServerObject<OpcServerPart, OpcCommonPart, ItemPropertiesPart,
                                      BrowseSpacePart, ShutdownPart>;
// DA 3.0 keeps the DA 2.0 item properties beside IOPCBrowse, as DA 3.0 servers do for clients
// of the earlier generation; its address space is browsed through IOPCBrowse only.
using SimDa30Server = SimServerObject<OpcServerPart, OpcCommonPart, ShutdownPart, Da3BrowsePart,
                                      ItemIOPart, ItemPropertiesPart>;

}  // namespace velqor::sim
