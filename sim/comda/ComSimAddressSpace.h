// The plant of the simulated COM servers as OPC DA clients see it: the same tree, items and
// values as xmlda-sim (one plant, built by xmldasim::AddressSpace), presented with VARTYPEs,
// access rights, quality words and the numbered item properties. Item IDs join the branch
// names with '/' ("Plant/Area1/Tank1/Level"), as in xmlda-sim, so an ID means the same item
// through either transport.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "com/OpcDaIntf.h"
#include "xmlda/AddressSpace.h"

namespace velqor::sim {

inline constexpr char kItemSeparator = '/';

// One numbered item property: its ID, description and the type of its value.
struct ComPropertyDef {
    DWORD Id;
    const char* Description;
    VARTYPE Type;
};
// Every property the servers know (IDs 1..8 and 100..108), in ID order.
const std::vector<ComPropertyDef>& ComPropertyTable();
const ComPropertyDef* FindComProperty(DWORD id);

// Strings for the client, in task memory or as BSTR; null when memory runs out (a server call
// answers E_OUTOFMEMORY then: nothing may be thrown across the interface).
LPWSTR TaskString(std::string_view utf8);
BSTR NewBstr(std::string_view utf8);

VARTYPE VarTypeOf(xmldasim::DataType type);
DWORD AccessRightsOf(xmldasim::Access access);
WORD QualityWordOf(const xmldasim::Quality& quality);
// Fills an initialised (empty) VARIANT; E_OUTOFMEMORY leaves it empty.
HRESULT ValueToVariant(const xmldasim::Value& value, VARIANT& out);
// A written VARIANT as a value of the item's type: S_OK, OPC_E_BADTYPE for a kind the item
// cannot take, OPC_E_RANGE for a number outside the type's range.
HRESULT VariantToValue(const VARIANT& in, xmldasim::DataType target, xmldasim::Value& out);
FILETIME FileTimeOf(xmldasim::TimePoint t);
xmldasim::TimePoint TimePointOf(const FILETIME& ft);

class ComSimAddressSpace {
  public:
    // loadItems: size of the flat load-test branch "Load", whose values change every
    // loadPeriodMs.
    ComSimAddressSpace(int loadItems, int clockPeriodMs, int loadPeriodMs = 1000);

    // Node index of an item or branch ID, -1 when unknown; "" is the root.
    int Find(std::string_view itemId) const;
    bool IsItem(int node) const { return plant_->node(node).isItem; }
    const xmldasim::Node& Node(int node) const { return plant_->node(node); }
    int Root() const { return plant_->root(); }

    // The properties an item has, in ID order; empty for a branch.
    std::vector<DWORD> AvailableProperties(int item) const;
    // One property value into an initialised VARIANT: S_OK, OPC_E_INVALID_PID for a property
    // the item lacks, OPC_E_BADRIGHTS for the value of a write-only item.
    HRESULT Property(int item, DWORD id, VARIANT& out) const;

    // A client's read of one item: its value, quality and time, at most maxAgeMs old (0: from
    // the device). OPC_E_BADRIGHTS for a write-only item; the VARIANT is initialised first.
    HRESULT ReadValue(int item, long long maxAgeMs, VARIANT& value, WORD& quality, FILETIME& time);
    // A client's write of one item, converted to the item's type and stamped `at` (now when
    // null): S_OK, OPC_E_BADRIGHTS for a read-only item, OPC_E_BADTYPE or OPC_E_RANGE.
    HRESULT WriteValue(int item, const VARIANT& value, const FILETIME* at);

    xmldasim::AddressSpace& Plant() { return *plant_; }

  private:
    std::unique_ptr<xmldasim::AddressSpace> plant_;
};

}  // namespace velqor::sim
