// A stand-in connection for tests that need an object of the connection interfaces, not one that
// connects: the calls every connection has do nothing and report success.
#pragma once

#include <string>

#include "contract/VelqorTransport.h"
#include "runtime/Unknown.h"

namespace velqor::test {

// Interfaces: the ones the object implements, one of them IVelqorConnection or derived from it.
// A class of its own answers the version and the implementing object, and the calls of its other
// interfaces.
template <class... Interfaces>
class NullConnection : public com::ComObject<Interfaces...> {
  public:
    void Connect(const std::string&, const std::string&, const std::string&, const ParamLines&,
                 NotifyWindow, int32_t) override {}
    void Disconnect() override {}
    int32_t GetLocaleId() override { return 0; }
    void SetLocaleId(int32_t) override {}
    tVelqorConnectionType ConnectionType() override { return coCOM; }
    bool SetClientName(const std::string&) override { return true; }
    bool CheckConnection() override { return true; }
};

}  // namespace velqor::test
