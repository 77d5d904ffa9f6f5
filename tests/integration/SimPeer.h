// What the simulated peers have alike: the COM simulators and xmlda-sim serve one address space,
// so the items and the browsed branch the cases use are the same on both.
#pragma once

#include <string>
#include <utility>

#include "IntegrationPeer.h"

namespace velqor::integration {

class SimPeer : public IntegrationPeer {
  public:
    // branchMask: the name filter that lets the branch's two integer items through; the COM
    // simulators compare filters case by case, xmlda-sim does not.
    explicit SimPeer(std::string branchMask) : branchMask_(std::move(branchMask)) {}

    AnalogItem Analog() const override { return {"Plant/Area1/Tank1/Level", 0, 10, "m"}; }
    WritableItem WriteOnly() const override { return {"WriteOnly/Int", Variant::I4(-42)}; }
    std::string ChangingItem() const override { return "Dynamic/Double"; }
    std::string UnknownItem() const override { return "Plant/NoSuchItem"; }
    BrowseBranch Branch() const override {
        return {{"Static"},
                {"Arrays"},
                {"Byte", "UnsignedByte", "Short", "UnsignedShort", "Int", "UnsignedInt", "Long",
                 "UnsignedLong", "Float", "Double", "Decimal", "String", "Boolean", "DateTime",
                 "Base64Binary"},
                branchMask_,
                {"Int", "UnsignedInt"}};
    }

  private:
    std::string branchMask_;
};

}  // namespace velqor::integration
