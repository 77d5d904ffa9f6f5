// A server process ends, and a server DLL may be unloaded, when no object of it is left: every
// simulated server, with a group, must leave none behind once its client lets go, in whichever
// order the client releases them.
#include "SimServerTestSupport.h"

namespace velqor::test {
namespace {

class SimLifetimeTest : public SimServerTest {};

TEST_F(SimLifetimeTest, NoObjectOutlivesItsClient) {
    const long before = com::LiveObjectCount();
    for (const sim::SimServerClass& c : sim::SimulatedServerClasses()) {
        for (bool serverFirst : {false, true}) {
            for (bool removeGroup : {false, true}) {
                SCOPED_TRACE(std::string(c.ProgId) + (serverFirst ? " server first" : "") +
                             (removeGroup ? " group removed" : ""));
                com::ComPtr<IOPCServer> server;
                ASSERT_EQ(sim::CreateSimulatedServer(c.Clsid, IID_IOPCServer,
                                                     reinterpret_cast<void**>(server.Put())),
                          S_OK);
                com::ComPtr<::IUnknown> group;
                OPCHANDLE handle = 0;
                DWORD rate = 0;
                ASSERT_EQ(server->AddGroup(OLESTR("G"), TRUE, 100, 1, nullptr, nullptr, 0x409,
                                           &handle, &rate, IID_IUnknown, group.Put()),
                          S_OK);
                EXPECT_GT(com::LiveObjectCount(), before);
                if (removeGroup) {
                    EXPECT_TRUE(SUCCEEDED(server->RemoveGroup(handle, FALSE)));
                }
                if (serverFirst) server = {};
                group = {};
                server = {};
                loop_.ProcessPending();
                EXPECT_EQ(com::LiveObjectCount(), before);
            }
        }
    }
    int dummy = 0;
    void* none = &dummy;
    EXPECT_EQ(sim::CreateSimulatedServer(CLSID_OpcServerList, IID_IUnknown, &none),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(none, nullptr);
}

}  // namespace
}  // namespace velqor::test
