// A simulated DA 2.0 server with switches for what well-behaved servers never do: it answers
// from the real plant, can offer IOPCBrowse::GetProperties as a DA 3.0 server does (built from
// its own item properties), can lack interfaces, and can answer with missing arrays, failures
// and empty lists. Registered in the COM runtime as "Velqor.Test.Faulty.1".
#pragma once

#include <string>

#include "comda/SimServerParts.h"

namespace velqor::test {

inline constexpr CLSID CLSID_FaultyServer =
    velqor::com::MakeIid("5B0F3C61-2E7A-4D5C-9A10-6E1D2C3B4A59");
inline constexpr const char* kFaultyProgId = "Velqor.Test.Faulty.1";

enum class Fault {
    None,
    StatusNull,             // GetStatus: S_OK without a structure
    StatusFails,            // GetStatus: E_FAIL
    QueryNullDescriptions,  // QueryAvailableProperties: S_OK, a count, no descriptions
    ValuesNull,             // GetItemProperties: S_OK without arrays
    ValuesFail,             // GetItemProperties: E_FAIL
    BrowseEmpty,            // GetProperties: every item answered with no properties
    BrowseNullResults,      // GetProperties: S_OK without the result array
    BrowseNullProperties,   // GetProperties: a count of properties without the array
    BrowseFails,            // GetProperties: E_FAIL
    BrowseItemError,        // GetProperties: every item fails with OPC_E_UNKNOWNITEMID
    BrowseBadRightsAndPid,  // GetProperties: value OPC_E_BADRIGHTS, plus an OPC_E_INVALID_PID
    LookupFound,            // LookupItemIDs: "<item>.<property>" for each property
};

struct FaultySwitches {
    bool OfferBrowse = false;             // IOPCBrowse (DA 3.0)
    bool OfferConnectionPoints = true;    // IConnectionPointContainer
    bool OfferCommon = true;              // IOPCCommon
    bool OfferBrowseAddressSpace = true;  // IOPCBrowseServerAddressSpace
    bool OfferItemProperties = true;      // IOPCItemProperties
    Fault Mode = Fault::None;
    WORD Major = 2, Minor = 5, Build = 12;
};

// The switches servers are created with; the last server created, while it lives.
FaultySwitches& Switches();
class FaultyServer;
FaultyServer* LastFaultyServer();

void RegisterFaultyServer();
void UnregisterFaultyServer();

class FaultyServer final
    : public com::PlatformObject<sim::OpcServerPart, sim::OpcCommonPart, sim::ItemPropertiesPart,
                                 sim::BrowseSpacePart, sim::ShutdownPart, IOPCBrowse> {
  public:
    explicit FaultyServer(const FaultySwitches& switches);
    ~FaultyServer() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;

    HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** status) override;
    HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR itemId, DWORD* count, DWORD** ids,
                                                       LPWSTR** descriptions,
                                                       VARTYPE** types) override;
    HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR itemId, DWORD count, DWORD* ids,
                                                VARIANT** values, HRESULT** errors) override;

    // IOPCBrowse
    HRESULT STDMETHODCALLTYPE GetProperties(DWORD itemCount, LPWSTR* itemIds, BOOL withValues,
                                            DWORD propertyCount, DWORD* propertyIds,
                                            OPCITEMPROPERTIES** results) override;
    HRESULT STDMETHODCALLTYPE Browse(LPWSTR, LPWSTR*, DWORD, OPCBROWSEFILTER, LPWSTR, LPWSTR, BOOL,
                                     BOOL, DWORD, DWORD*, BOOL*, DWORD*,
                                     OPCBROWSEELEMENT**) override {
        return E_NOTIMPL;
    }

  private:
    // One item's properties as a DA 3.0 server lists them, from the item's DA 2.0 answers.
    HRESULT ItemProperties(LPWSTR itemId, bool withValues, DWORD propertyCount,
                           const DWORD* propertyIds, OPCITEMPROPERTIES& out);

    FaultySwitches switches_;
    sim::SimServerState state_;
};

}  // namespace velqor::test
