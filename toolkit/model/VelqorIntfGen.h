// The factories: the one place that names the transports. Everything else reaches a transport
// through the contract's interfaces.
#pragma once

#include "contract/VelqorIntf.h"
#include "contract/VelqorTransport.h"
#include "runtime/Unknown.h"

namespace velqor {

// A new connection of the given transport; `designing` tells it the owner is in design mode.
com::ComPtr<IVelqorConnection> CreateVelqorConnection(tVelqorConnectionType type, bool designing);
// A new transport group on a DA connection, chosen by the connection's type.
com::ComPtr<IVelqorGroup> CreateVelqorGroup(const com::ComPtr<IVelqorDAConnection>& connection);
// A new address-space browser of a DA connection.
com::ComPtr<IVelqorBrowser> CreateVelqorBrowser(const com::ComPtr<IVelqorDAConnection>& connection);
// A new server browser of the given transport.
com::ComPtr<IVelqorServerBrowser> CreateVelqorServerBrowser(tVelqorConnectionType type);

}  // namespace velqor
