// The server component with an "http://" server name against xmlda-sim on loopback: activation,
// status, item properties, error texts, keep-alive, the shutdown message and connect failures.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "contract/VelqorDateTime.h"
#include "contract/VelqorError.h"
#include "model/Velqor.h"
#include "model/VelqorIntfGen.h"
#include "support/WaitUntil.h"
#include "xmlda/VelqorXMLDA.h"
#include "xmlda/XmlDaSim.h"

namespace velqor {
namespace {

using namespace std::chrono_literals;

class ServerOnSimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ApplicationHooks::SetExceptionDisplay(
            [this](const std::exception& e) { shown.push_back(e.what()); });
        sim.start();
        server = std::make_unique<TVelqorServer>(&loop);
        server->SetClientName("velqor-tests");
        server->SetServerName(sim.url());
        server->OnConnect = [this](TVelqorSvr*) { ++connects; };
        server->OnDisconnect = [this](TVelqorSvr*) { ++disconnects; };
        server->OnTimeout = [this](TVelqorSvr* s) {
            ++timeouts;
            activeAtTimeout = s->Active();
        };
        server->OnServerShutdown = [this](TVelqorSvr*, const std::string&) { ++shutdowns; };
    }
    void TearDown() override {
        server.reset();
        sim.stop();
        ApplicationHooks::SetExceptionDisplay(nullptr);
    }

    PlainEventLoop loop;
    xmldasim::Service sim;
    std::unique_ptr<TVelqorServer> server;
    std::vector<std::string> shown;
    int connects = 0, disconnects = 0, timeouts = 0, shutdowns = 0;
    bool activeAtTimeout = false;
};

TEST_F(ServerOnSimTest, ActivatesAndReadsTheStatus) {
    EXPECT_EQ(server->Protocol(), coXML);
    EXPECT_EQ(server->KeepAlive(), 60000);
    server->SetActive(true);
    ASSERT_TRUE(server->Active());
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(server->Connection()->ConnectionType(), coXML);
    EXPECT_EQ(server->Connection()->SpecVersion(), 4);

    tServerStateRecord st;
    server->GetStatus(st);
    EXPECT_EQ(st.ServerState, 1);
    EXPECT_EQ(st.VendorInfo, "Tagscope XML-DA simulation service");
    EXPECT_EQ(st.StateText, "The simulation is running.");
    EXPECT_FALSE(st.VersionText.empty());
    EXPECT_NEAR(st.CurrentTime, Now(), 60.0 / 86400);
    EXPECT_EQ(st.LastUpdateTime, st.CurrentTime);
    EXPECT_LE(st.StartTime, st.CurrentTime);
    EXPECT_GT(st.StartTime, 0);

    // The service's clock is known after the first status reply of this connection.
    auto& c = XMLDAConnectionOf(server->Connection().Get());
    EXPECT_DOUBLE_EQ(c.ServerTimeAtFirstReply(), st.CurrentTime);
    EXPECT_NEAR(c.ServerNow(), Now(), 60.0 / 86400);

    xmldasim::Switches sw = sim.switches();
    sw.serverState = "suspended";
    sim.setSwitches(sw);
    const double firstReply = c.ServerTimeAtFirstReply();
    // Reply times have millisecond resolution: let the next reply carry a later one.
    ASSERT_TRUE(test::WaitUntil([&] { return Now() >= firstReply + 2.0 / 86400000; }));
    server->GetStatus(st);
    EXPECT_EQ(st.ServerState, 4);
    EXPECT_EQ(st.StateText, "The simulation is suspended.");
    // Later replies leave the clock pair alone.
    EXPECT_LT(firstReply, st.CurrentTime);
    EXPECT_DOUBLE_EQ(c.ServerTimeAtFirstReply(), firstReply);

    server->SetActive(false);
    EXPECT_FALSE(server->Active());
    EXPECT_EQ(disconnects, 1);
    EXPECT_THROW(server->GetStatus(st), EOPCServerException);
}

TEST_F(ServerOnSimTest, ItemPropertiesAndErrorTexts) {
    server->SetActive(true);
    auto da = server->DAConnection();
    std::vector<TVelqorItemPropertyQuery> q{{"Plant/Area1/Tank1/Level", {}},
                                            {"Plant/Area1/Tank1/Setpoint", {}},
                                            {"Plant/NoSuchItem", {}}};
    ASSERT_TRUE(da->GetItemProperties(q, {"1", "5"}, true, false));

    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(q[i].Properties.size(), 2u) << q[i].ItemID;
        const auto& type = q[i].Properties[0];
        EXPECT_EQ(type.PropertyID, 1);
        EXPECT_EQ(type.Error, 0);
        EXPECT_EQ(type.DataType, VT_I2);
        EXPECT_EQ(type.Value, Variant::I2(VT_R8)) << type.Value.ToText();
        const auto& access = q[i].Properties[1];
        EXPECT_EQ(access.PropertyID, 5);
        EXPECT_EQ(access.DataType, VT_I4);
    }
    EXPECT_EQ(q[0].Properties[1].Value, Variant::I4(1));  // readable
    EXPECT_EQ(q[1].Properties[1].Value, Variant::I4(3));  // readWritable

    ASSERT_FALSE(q[2].Properties.empty());
    EXPECT_EQ(q[2].Properties[0].PropertyID, 0);
    EXPECT_EQ(q[2].Properties[0].Error, ResultCodeFromName("E_UNKNOWNITEMNAME"));

    // All properties with values: the engineering units come back as given.
    std::vector<TVelqorItemPropertyQuery> all{{"Plant/Area1/Tank1/Level", {}}};
    ASSERT_TRUE(da->GetItemProperties(all, {}, true, false));
    bool units = false;
    for (const auto& p : all[0].Properties)
        if (p.PropertyID == 100) {
            units = true;
            EXPECT_EQ(p.Value, Variant("m"));
        }
    EXPECT_TRUE(units);

    std::string text;
    da->GetErrorString(7, text);
    EXPECT_EQ(text, "unknown errorcode: 7");
    da->GetServerErrorString(-5, text);
    EXPECT_EQ(text, "unknown errorcode: -5");
    da->GetServerErrorString(OPC_E_UNKNOWNITEMID, text);
    EXPECT_EQ(text, ResultMessage(OPC_E_UNKNOWNITEMID));
}

TEST_F(ServerOnSimTest, KeepAliveNoticesAStoppedService) {
    server->SetKeepAlive(500);
    server->SetActive(true);
    ASSERT_TRUE(server->Active());
    loop.RunFor(1200ms);  // probes succeed meanwhile
    EXPECT_TRUE(server->Active());
    EXPECT_EQ(timeouts, 0);

    sim.stop();  // waits for the client's kept-alive connection to time out on the service side
    ASSERT_TRUE(loop.RunUntil([&] { return !server->Active(); }, 10s));
    EXPECT_EQ(timeouts, 1);
    EXPECT_TRUE(activeAtTimeout);  // OnTimeout comes before the deactivation
    EXPECT_EQ(disconnects, 1);
    // The failed probe also posted one shutdown message; no more probes run.
    loop.RunFor(1200ms);
    EXPECT_EQ(timeouts, 1);
    EXPECT_EQ(shutdowns, 1);
    EXPECT_TRUE(shown.empty());

    // The service comes back on the same port: activation works again.
    sim.start();
    server->SetActive(true);
    EXPECT_TRUE(server->Active());
    EXPECT_EQ(connects, 2);
}

TEST_F(ServerOnSimTest, EveryFailedExchangePostsOneShutdownMessage) {
    server->SetActive(true);
    auto da = server->DAConnection();
    int failed = 0;
    sim.stop();
    tServerStateRecord st;
    for (int i = 0; i < 3; ++i) {
        try {
            da->GetStatus(st);
            ADD_FAILURE();
        } catch (const EVelqorSOAPConnect& e) {
            ++failed;
            EXPECT_NE(std::string(e.what()).find(sim.url()), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(failed, 3);
    // The component acts on the first message and ignores the rest.
    loop.RunFor(200ms);
    EXPECT_EQ(shutdowns, 1);
    EXPECT_FALSE(server->Active());
    EXPECT_TRUE(server->ShutdownReceived());
}

TEST_F(ServerOnSimTest, TheConnectionPostsExactlyOneShutdownPerFailedExchange) {
    int posted = 0;
    auto window = MessageWindow::Create(
        loop, [&](uint32_t m, uintptr_t w, std::unique_ptr<MessagePayload> p) {
            if (m == WM_VELQOR_SHUTDOWN && w == 0 && !p) ++posted;
        });
    auto conn = com::MakeComObject<IVelqorDAConnection, TVelqorXMLDAConnection>(false);
    conn->Connect("tester", sim.url(), "", {}, window, 0);
    sim.stop();
    tServerStateRecord st;
    std::vector<TVelqorItemPropertyQuery> q{{"Plant/Area1/Tank1/Level", {}}};
    EXPECT_THROW(conn->GetStatus(st), EVelqorSOAPConnect);
    EXPECT_THROW(conn->GetItemProperties(q, {}, true, false), EVelqorSOAPConnect);
    EXPECT_FALSE(conn->CheckConnection());
    EXPECT_TRUE(q[0].Properties.empty());
    loop.ProcessPending();
    EXPECT_EQ(posted, 3);
    conn->Disconnect();
    window->Destroy();
}

TEST_F(ServerOnSimTest, ConnectToAClosedPortFailsWithTheTransportText) {
    const std::string url = sim.url();
    sim.stop();  // the port is closed now
    try {
        server->SetActive(true);
        ADD_FAILURE();
    } catch (const EOPCServerException& e) {
        const std::string text = e.what();
        const std::string head = "Unable to connect to OPC server " + url + "\r\n";
        EXPECT_EQ(text.rfind(head, 0), 0u) << text;
        EXPECT_GT(text.size(), head.size() + 5) << text;  // the poster's reason follows
        EXPECT_NE(text.find("URL:" + url, head.size()), std::string::npos) << text;
    }
    EXPECT_FALSE(server->Active());
    EXPECT_EQ(connects, 0);
    loop.RunFor(100ms);
    EXPECT_EQ(shutdowns, 0);  // a failed connect reports no shutdown
}

TEST_F(ServerOnSimTest, BlankAddressIsRefusedBeforeAnyRequest) {
    server->SetServerName("");
    server->SetProtocol(coXML);
    const size_t before = sim.requestCount();
    try {
        server->SetActive(true);
        ADD_FAILURE();
    } catch (const EOPCException&) {
        ADD_FAILURE() << "expected the plain error";
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("first define target URL\r\n", 0), 0u) << e.what();
    }
    EXPECT_FALSE(server->Active());
    EXPECT_EQ(sim.requestCount(), before);
}

TEST_F(ServerOnSimTest, ServiceFaultsFailConnectWithTheFaultText) {
    xmldasim::Switches sw;
    sw.fault = xmldasim::FaultStyle::Soap11;
    sim.setSwitches(sw);
    try {
        server->SetActive(true);
        ADD_FAILURE();
    } catch (const EOPCServerException& e) {
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("Unable to connect to OPC server " + sim.url() + "\r\n", 0), 0u)
            << text;
        EXPECT_NE(text.find("E_FAIL"), std::string::npos) << text;
    }
    sw.fault = xmldasim::FaultStyle::None;
    sw.prefixed = true;
    sw.utf16 = true;
    sw.chunked = true;
    sim.setSwitches(sw);
    server->SetActive(true);
    tServerStateRecord st;
    server->GetStatus(st);
    EXPECT_EQ(st.ServerState, 1);
}

TEST_F(ServerOnSimTest, AFailedAsynchronousWriteIsReportedOnce) {
    ApplicationHooks::SetMessageDisplay([this](const std::string& t) { shown.push_back(t); });
    for (bool raise : {false, true}) {  // the report shown, or raised through the loop
        shown.clear();
        server->SetActive(true);
        SetRaiseItemErrors(raise);
        TVelqorGroup* g = server->OPCGroups().AddGroup("writes");
        TVelqorItem* readOnly = g->OPCItems().AddItem("Static/Int");
        TVelqorItem* writable = g->OPCItems().AddItem("Writable/Int");
        readOnly->SetWriteValue(Variant::I4(5));
        writable->SetWriteValue(Variant::I4(6));
        TVelqorItemList both;
        both.Add(readOnly);
        both.Add(writable);
        EXPECT_FALSE(g->WriteAsync(both));
        loop.RunUntil([&] { return !shown.empty(); }, 5s);
        loop.ProcessPending();
        ASSERT_EQ(shown.size(), 1u) << raise;
        EXPECT_EQ(shown[0].rfind("Cannot write Items:\r\nStatic/Int- ", 0), 0u) << shown[0];
        EXPECT_EQ(shown[0].find("Writable/Int"), std::string::npos) << shown[0];
        EXPECT_EQ(readOnly->Quality(), kQualityBad) << "a failed write leaves no good value";
        server->SetActive(false);
        server->OPCGroups().RemoveAll();
    }
    SetRaiseItemErrors(false);
    ApplicationHooks::SetMessageDisplay(nullptr);
}

TEST_F(ServerOnSimTest, FactoriesGiveTheXmlTransport) {
    auto c = CreateVelqorConnection(coXML, false);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->ConnectionType(), coXML);
    EXPECT_TRUE(c.TryAs<IVelqorDAConnection>());
    EXPECT_FALSE(XMLDADesignMode());
    auto list = CreateVelqorServerBrowser(coXML);
    ASSERT_TRUE(list);
    EXPECT_THROW(list->GetServerList(kDefaultServerSet, "", 0, nullptr), Exception);
}

}  // namespace
}  // namespace velqor
