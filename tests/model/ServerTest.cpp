// The server component: its setters, activation and deactivation, keep-alive, shutdown,
// destruction, loading and design mode.
#include <gmock/gmock.h>

#include "ModelFixture.h"
#include "model/VelqorIntfGen.h"
#include "support/NullConnection.h"

namespace velqor::testing {
namespace {

using ::testing::Property;
using ::testing::StrEq;
using ::testing::Throws;
using ::testing::ThrowsMessage;

using ServerSetters = ModelTest;

TEST_F(ServerSetters, ServerNameSelectsProtocolAndXmlTurnsOnKeepAlive) {
    server->SetServerName("HTTP://host/opc");
    EXPECT_EQ(server->Protocol(), coXML);
    EXPECT_EQ(server->KeepAlive(), 60000);
    server->SetServerName("x");  // one character: the protocol stays
    EXPECT_EQ(server->Protocol(), coXML);
    server->SetServerName("Velqor.Sim.2");
    EXPECT_EQ(server->Protocol(), coCOM);
    EXPECT_EQ(server->KeepAlive(), 60000);  // COM connections are probed from now on too
    server->SetServerName("https://host/opc");
    EXPECT_EQ(server->Protocol(), coXML);

    fake::FakeServer other(fake, &loop);
    other.SetKeepAlive(2000);
    other.SetServerName("http://host");
    EXPECT_EQ(other.KeepAlive(), 2000);
    EXPECT_THROW(other.SetProtocol(tVelqorConnectionType(7)), Exception);
    try {
        other.SetProtocol(tVelqorConnectionType(-1));
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Protocol not supported");
    }
}

TEST_F(ServerSetters, KeepAliveClampsSmallValues) {
    const std::pair<int32_t, int32_t> cases[] = {{0, 0},     {1, 500},   {-5, 500},
                                                 {500, 500}, {501, 501}, {60000, 60000}};
    for (auto [in, out] : cases) {
        server->SetKeepAlive(in);
        EXPECT_EQ(server->KeepAlive(), out) << in;
    }
}

TEST_F(ServerSetters, NameChangesDeactivateAndClientNameReachesAConnectedServer) {
    server->SetClientName("before");
    server->SetActive(true);
    server->SetClientName("during");
    EXPECT_EQ(fake->CountCalls("SetClientName"), 1);
    server->SetComputerName(server->ComputerName());  // unchanged: stays connected
    EXPECT_TRUE(server->Active());
    server->SetComputerName("plant-7");
    EXPECT_FALSE(server->Active());
    server->SetActive(true);
    server->SetServerName("Velqor.Sim.2");
    EXPECT_FALSE(server->Active());
    EXPECT_EQ(server->Version(), kVelqorVersion);
    server->SetVersion("9.9");
    EXPECT_EQ(server->Version(), kVelqorVersion);
}

TEST_F(ServerSetters, ProtocolChangeWhileActiveReconnects) {
    server->SetActive(true);
    server->SetProtocol(coXML);
    EXPECT_TRUE(server->Active());
    EXPECT_EQ(fake->ConnectionsCreated(), 2);
    EXPECT_EQ(fake->Ops({"Connect", "Disconnect"}),
              (Ops{"conn.Connect", "conn.Disconnect", "conn.Connect"}));
}

using Activation = ModelTest;

TEST_F(Activation, ConnectsOnceAndCreatesGroupsWithTheirItemsInOrder) {
    auto* g1 = server->OPCGroups().AddGroup("G1");
    g1->OPCItems().AddItem("a");
    g1->OPCItems().AddItem("b");
    server->OPCGroups().AddGroup("G2")->OPCItems().AddItem("c");
    server->SetClientName("Tagscope");
    server->SetComputerName("box");
    int connects = 0;
    server->OnConnect = [&](TVelqorSvr* sender) {
        EXPECT_EQ(sender, server.get());
        EXPECT_TRUE(server->Active());
        ++connects;
    };
    EXPECT_TRUE(fake->Calls().empty()) << "nothing is sent while inactive";

    server->SetActive(true);
    server->SetActive(true);
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(fake->ConnectionsCreated(), 1);
    auto calls = fake->Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].Text(),
              "conn.Connect(Tagscope,Velqor.Sim.1,box,300,xml-user=|xml-pass=|xml-proxy=)");
    EXPECT_EQ(fake->Ops(),
              (Ops{"conn.Connect", "G1.Create", "G1.AddItems", "G2.Create", "G2.AddItems"}));
    EXPECT_EQ(calls[2].Args, "a,b");
    EXPECT_NE(g1->ServerHandle(), -1);
    EXPECT_NE(g1->OPCItems().Items(0)->ServerHandle(), -1);
    EXPECT_EQ(fake->Window(), server->Handle());
}

TEST_F(Activation, FailedConnectLeavesItInactiveAndTheNextTryWorks) {
    fake->FailCallWithText("Connect", "Unable to connect to OPC server Velqor.Sim.1");
    bool connected = false;
    server->OnConnect = [&](TVelqorSvr*) { connected = true; };
    EXPECT_THROW(server->SetActive(true), EOPCServerException);
    EXPECT_FALSE(server->Active());
    EXPECT_FALSE(connected);
    // The connection kept from the failed try is not used for new groups.
    server->OPCGroups().AddGroup("G1");
    EXPECT_EQ(fake->CountCalls("Create"), 0);
    server->SetActive(true);
    EXPECT_TRUE(server->Active());
    EXPECT_TRUE(connected);
}

TEST_F(Activation, FailureWhileCreatingGroupsLeavesItActiveWithoutOnConnect) {
    server->OPCGroups().AddGroup("G1");
    server->OPCGroups().AddGroup("G2");
    fake->FailCall("Create", OPC_E_INVALIDHANDLE);
    bool connected = false;
    server->OnConnect = [&](TVelqorSvr*) { connected = true; };
    EXPECT_THAT(
        [&] { server->SetActive(true); },
        ThrowsMessage<EOPCException>(StrEq("The value of the handle is invalid. E_INVALIDHANDLE")));
    EXPECT_TRUE(server->Active());
    EXPECT_FALSE(connected);
    EXPECT_FALSE(server->OPCGroups().Items(0)->Event());
    EXPECT_EQ(server->OPCGroups().Items(0)->ServerHandle(), -1);
    // The group whose create failed holds no transport group, so deactivation leaves it alone.
    fake->ClearCalls();
    server->SetActive(false);
    EXPECT_EQ(fake->Ops(), (Ops{"conn.Disconnect"}));
}

TEST_F(Activation, DeactivationRemovesGroupsKeepsConfigurationAndReconnectGivesNewHandles) {
    auto* g = ConnectWithGroup({"a", "b"});
    auto* a = g->OPCItems().Items(0);
    int32_t oldGroupHandle = g->ServerHandle(), oldItemHandle = a->ServerHandle();
    int disconnects = 0;
    server->OnDisconnect = [&](TVelqorSvr*) { ++disconnects; };
    fake->ClearCalls();

    server->SetActive(false);
    EXPECT_EQ(fake->Ops(), (Ops{"G1.Remove", "conn.Disconnect"}));
    EXPECT_EQ(fake->Calls()[0].Args, "") << "a live server is asked to remove the group";
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(g->ServerHandle(), -1);
    EXPECT_EQ(a->ServerHandle(), -1);
    EXPECT_FALSE(g->TransportGroup());
    EXPECT_EQ(server->OPCGroups().Count(), 1);
    EXPECT_EQ(g->OPCItems().Count(), 2);
    EXPECT_EQ(fake->LiveGroupCount(), 0);

    server->SetActive(true);
    EXPECT_NE(g->ServerHandle(), -1);
    EXPECT_NE(g->ServerHandle(), oldGroupHandle);
    EXPECT_NE(a->ServerHandle(), -1);
    EXPECT_NE(a->ServerHandle(), oldItemHandle);
    auto fg = fake->GroupNamed("G1");
    ASSERT_TRUE(fg);
    EXPECT_EQ(fg->ServerItems().size(), 2u);
    EXPECT_EQ(fg->ServerItems().at(a->ServerHandle()), a->ClientHandle());
}

TEST_F(Activation, FailedDisconnectStillEndsTheConnection) {
    server->SetActive(true);
    fake->FailCall("Disconnect");
    bool disconnected = false;
    server->OnDisconnect = [&](TVelqorSvr*) { disconnected = true; };
    EXPECT_THROW(server->SetActive(false), Exception);
    EXPECT_FALSE(server->Active());
    EXPECT_TRUE(disconnected);
    EXPECT_FALSE(server->Connected());
}

TEST_F(Activation, StatusAndDAConnectionNeedAConnection) {
    EXPECT_THROW(server->DAConnection(), EOPCServerException);
    tServerStateRecord status;
    EXPECT_THAT([&] { server->GetStatus(status); },
                ThrowsMessage<EOPCServerException>(StrEq("Not connected to server")));
    tServerStateRecord scripted;
    scripted.ServerState = 1;
    scripted.VendorInfo = "Velqor simulation";
    fake->SetStatus(scripted);
    server->SetActive(true);
    server->GetStatus(status);
    EXPECT_EQ(status.StateText, "running");
    EXPECT_EQ(status.VendorInfo, "Velqor simulation");
}

// A connection that is not a DA connection.
class PlainConnection : public test::NullConnection<IVelqorConnection> {
  public:
    int32_t SpecVersion() override { return 1; }
    com::IUnknown* ConnectionObject() override { return this; }
};

class PlainServer : public TVelqorServer {
  public:
    using TVelqorServer::TVelqorServer;
    ~PlainServer() override { Shutdown(); }

  protected:
    com::ComPtr<IVelqorConnection> CreateConnection() override {
        return com::MakeComObject<IVelqorConnection, PlainConnection>();
    }
};

class BareSvr : public TVelqorSvr {
  public:
    using TVelqorSvr::TVelqorSvr;
    void GetStatus(tServerStateRecord&) override {}
};

TEST_F(Activation, ConnectionsFromTheFactoriesAndTheBaseClass) {
    PlainServer plain(&loop);
    plain.SetActive(true);
    EXPECT_THAT([&] { plain.DAConnection(); },
                Throws<EOleSysError>(Property(&EOleSysError::ErrorCode, com::E_NOINTERFACE)));

    BareSvr bare(&loop);
    EXPECT_THAT([&] { bare.SetActive(true); },
                ThrowsMessage<Exception>(StrEq("please override CreateConnection")));

    // Through the factories: a server that cannot be reached leaves the component inactive.
    TVelqorServer real(&loop);
    real.SetServerName("No.Such.Server.1");
    EXPECT_THROW(real.SetActive(true), Exception);
    EXPECT_FALSE(real.Active());
    real.SetServerName("http://127.0.0.1:1/opc");
    EXPECT_THROW(real.SetActive(true), Exception);
    EXPECT_FALSE(real.Active());
    EXPECT_THAT([&] { CreateVelqorConnection(tVelqorConnectionType(5), false); },
                ThrowsMessage<Exception>(StrEq("unknown connection type")));
    EXPECT_THROW(CreateVelqorServerBrowser(tVelqorConnectionType(5)), Exception);
}

using KeepAlive = ModelTest;

TEST_F(KeepAlive, AFailedProbeRaisesOnTimeoutStopsTheTimerAndDeactivates) {
    auto now = PlainEventLoop::Clock::now();
    loop.SetClockForTest([&] { return now; });
    server->SetKeepAlive(1000);
    server->OPCGroups().AddGroup("G1");
    server->SetActive(true);
    ASSERT_TRUE(server->Handle()->HasTimer(TVelqorSvr::kKeepAliveTimer));

    now += std::chrono::milliseconds(999);
    Pump();
    EXPECT_EQ(fake->CountCalls("CheckConnection"), 0);
    now += std::chrono::milliseconds(1);
    Pump();
    EXPECT_EQ(fake->CountCalls("CheckConnection"), 1);
    EXPECT_TRUE(server->Active());

    fake->SetCheckConnection(false);
    int timeouts = 0;
    server->OnTimeout = [&](TVelqorSvr*) {
        EXPECT_TRUE(server->Active()) << "raised before deactivation";
        ++timeouts;
    };
    now += std::chrono::milliseconds(1000);
    Pump();
    EXPECT_EQ(timeouts, 1);
    EXPECT_FALSE(server->Active());
    EXPECT_EQ(fake->CountCalls("Remove"), 1);
    // A server that did not answer the probe is not asked to remove the group.
    for (const auto& c : fake->Calls()) {
        if (c.Op == "Remove") {
            EXPECT_EQ(c.Args, "shutdown");
        }
    }
    EXPECT_FALSE(server->Handle()->HasTimer(TVelqorSvr::kKeepAliveTimer));
    EXPECT_EQ(loop.TimerCount(), 0u);
    now += std::chrono::milliseconds(5000);
    Pump();
    EXPECT_EQ(fake->CountCalls("CheckConnection"), 2);
}

TEST_F(KeepAlive, AProbeThatRaisesCountsAsLostAndAHandlerThatRaisesStillDeactivates) {
    auto now = PlainEventLoop::Clock::now();
    loop.SetClockForTest([&] { return now; });
    server->SetKeepAlive(500);
    server->SetActive(true);
    fake->FailCall("CheckConnection");
    server->OnTimeout = [&](TVelqorSvr*) { throw Exception("handler failed"); };
    now += std::chrono::milliseconds(500);
    Pump();
    EXPECT_FALSE(server->Active());
    EXPECT_EQ(shown, (std::vector<std::string>{"handler failed"}));
}

TEST_F(KeepAlive, OffByDefaultAndTimerStopsEvenWhenKeepAliveWasZeroedWhileRunning) {
    server->SetActive(true);
    EXPECT_FALSE(server->Handle()->HasTimer(TVelqorSvr::kKeepAliveTimer));
    server->SetActive(false);
    server->SetKeepAlive(700);
    server->SetActive(true);
    EXPECT_TRUE(server->Handle()->HasTimer(TVelqorSvr::kKeepAliveTimer));
    server->SetKeepAlive(0);
    server->SetActive(false);
    EXPECT_EQ(loop.TimerCount(), 0u);
}

using Shutdown = ModelTest;

TEST_F(Shutdown, HandledOnceWithTheReasonAndTheDepartedServerIsNotAsked) {
    auto* g = ConnectWithGroup({"a"});
    std::vector<std::string> reasons;
    server->OnServerShutdown = [&](TVelqorSvr* sender, const std::string& reason) {
        EXPECT_EQ(sender, server.get());
        reasons.push_back(reason);
        g->SetUpdateRate(250);  // stored, not sent to a server that is going away
    };
    fake->ClearCalls();
    ASSERT_TRUE(fake->PostShutdown("maintenance"));
    ASSERT_TRUE(fake->PostShutdown("again"));
    Pump();
    EXPECT_EQ(reasons, (std::vector<std::string>{"maintenance"}));
    EXPECT_FALSE(server->Active());
    EXPECT_EQ(g->UpdateRate(), 250);
    EXPECT_EQ(fake->Ops(), (Ops{"G1.Remove", "conn.Disconnect"}));
    EXPECT_EQ(fake->Calls()[0].Args, "shutdown");
    EXPECT_TRUE(server->ShutdownReceived());

    // A new activation clears the flag: the next shutdown is handled again.
    server->SetActive(true);
    EXPECT_FALSE(server->ShutdownReceived());
    fake->PostShutdown("");
    Pump();
    EXPECT_EQ(reasons.size(), 2u);
    EXPECT_EQ(reasons[1], "");
}

using Lifetime = ModelTest;

TEST_F(Lifetime, DestroyingAnActiveServerRemovesGroupsWithoutOnDisconnect) {
    ConnectWithGroup({"a"});
    server->OPCGroups().AddGroup("G2");
    bool disconnected = false;
    server->OnDisconnect = [&](TVelqorSvr*) { disconnected = true; };
    fake->PostValues(*server->OPCGroups().Items(0),
                     {server->OPCGroups().Items(0)->OPCItems().Items(0)});
    fake->ClearCalls();
    server.reset();
    EXPECT_EQ(fake->Ops(), (Ops{"G1.Remove", "G2.Remove", "conn.Disconnect"}));
    EXPECT_FALSE(disconnected);
    EXPECT_EQ(fake->LiveGroupCount(), 0);
    EXPECT_EQ(Pump(), 1) << "the queued message is dropped, not delivered to a dead component";
    EXPECT_FALSE(fake->PostShutdown("late"));
}

TEST_F(Lifetime, LoadingRecordsActiveUntilLoaded) {
    server->BeginLoading();
    server->SetActive(true);
    server->SetServerName("http://host/opc");  // stored without deactivating
    EXPECT_EQ(fake->ConnectionsCreated(), 0);
    server->Loaded();
    EXPECT_TRUE(server->Active());
    EXPECT_EQ(fake->ConnectionsCreated(), 1);
    EXPECT_EQ(server->Protocol(), coXML);
}

TEST_F(Lifetime, DesignModeShowsConnectFailuresAndForcesBatchModeOffWhenLoaded) {
    server->SetDesigning(true);
    server->SetKeepAlive(1000);
    fake->FailCallWithText("Connect", "Unable to connect to OPC server Velqor.Sim.1");
    bool connected = false;
    server->OnConnect = [&](TVelqorSvr*) { connected = true; };
    EXPECT_NO_THROW(server->SetActive(true));
    EXPECT_FALSE(server->Active());
    EXPECT_TRUE(connected);
    EXPECT_EQ(shown, (std::vector<std::string>{"Unable to connect to OPC server Velqor.Sim.1"}));

    server->SetActive(true);
    EXPECT_TRUE(server->Active());
    EXPECT_FALSE(server->Handle()->HasTimer(TVelqorSvr::kKeepAliveTimer))
        << "no keep-alive in design mode";

    server->BeginLoading();
    server->SetBatchMode(true);
    server->Loaded();
    EXPECT_FALSE(server->BatchMode());
}

}  // namespace
}  // namespace velqor::testing
