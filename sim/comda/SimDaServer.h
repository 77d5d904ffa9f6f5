// The server object of the simulated OPC DA 2.0 servers: status, error texts, locale, item
// properties, browsing (hierarchical, or flat) and the shutdown connection point. Groups are not
// offered yet (AddGroup answers E_NOTIMPL).
#pragma once

#include <memory>
#include <string>

#include "ComSimAddressSpace.h"
#include "com/ComCallbacks.h"
#include "com/OpcDaIntf.h"
#include "com/runtime/ComConnectionPoints.h"

namespace velqor::sim {

struct SimServerIdentity {
    std::string VendorInfo;
    WORD MajorVersion = 0, MinorVersion = 0, BuildNumber = 0;
    FILETIME StartTime{};
    bool FlatSpace = false;  // offers every item by full ID at one level, without branches
};

class SimDaServer
    : public com::PlatformObject<IOPCServer, IOPCCommon, IOPCItemProperties,
                                 IOPCBrowseServerAddressSpace, IConnectionPointContainer> {
  public:
    // Binds to the calling thread's default event loop: callbacks to the client run there.
    SimDaServer(std::shared_ptr<ComSimAddressSpace> space, SimServerIdentity identity);
    ~SimDaServer() override;

    // Queues ShutdownRequest(reason) to every sink advised now.
    void RequestShutdown(const std::string& reason);

    // IOPCServer
    HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD,
                                       OPCHANDLE*, DWORD*, REFIID, LPUNKNOWN*) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT error, LCID locale, LPWSTR* text) override;
    HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR, REFIID, LPUNKNOWN*) override;
    HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** status) override;
    HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE, BOOL) override;
    HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE, REFIID, LPUNKNOWN*) override;

    // IOPCCommon
    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID lcid) override;
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* lcid) override;
    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* count, LCID** lcids) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT error, LPWSTR* text) override;
    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR name) override;

    // IOPCItemProperties
    HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR itemId, DWORD* count, DWORD** ids,
                                                       LPWSTR** descriptions,
                                                       VARTYPE** types) override;
    HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR itemId, DWORD count, DWORD* ids,
                                                VARIANT** values, HRESULT** errors) override;
    HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR itemId, DWORD count, DWORD* ids,
                                            LPWSTR** newItemIds, HRESULT** errors) override;

    // IOPCBrowseServerAddressSpace
    HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* type) override;
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION direction,
                                                   LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE filterType, LPCWSTR criteria,
                                               VARTYPE dataType, DWORD accessRights,
                                               IEnumString** result) override;
    HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR itemDataId, LPWSTR* itemId) override;
    HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR itemId, IEnumString** result) override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

  private:
    // The item node an ID names, or the error for it (invalid or unknown ID).
    HRESULT FindItem(LPCWSTR itemId, int& node) const;

    std::shared_ptr<ComSimAddressSpace> space_;
    SimServerIdentity identity_;
    LCID locale_ = 0x0409;
    std::string clientName_;
    int position_ = 0;  // browse position: a branch node
    com::ConnectionPoint shutdownPoint_;
    com::ConnectionPointList points_;
    CallbackQueue callbacks_;
};

// Matches a name against a filter with '*' (any run) and '?' (one character); "" matches all.
bool MatchesBrowseFilter(std::string_view name, std::string_view filter);

}  // namespace velqor::sim
