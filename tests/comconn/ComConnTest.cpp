// The COM connection against the simulated servers: server and computer names, the connect and
// disconnect sequences, the connect delay, the shutdown request, the interface generation, status
// and error texts, and the global interface table.
#include <chrono>

#include "ComConnFixture.h"
#include "com/VelqorCOMDABrowser.h"
#include "com/VelqorComCalls.h"
#include "comda/SimFaults.h"
#include "contract/CallCancel.h"
#include "contract/VelqorError.h"

namespace velqor::test {
namespace {

std::string OwnName() {
    char name[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    EXPECT_TRUE(GetComputerNameA(name, &size));
    return std::string(name, size);
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// The sinks advised on the server's shutdown connection point.
int AdvisedShutdownSinks(::IUnknown* server) {
    auto container = com::QueryAs<IConnectionPointContainer>(server);
    com::ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, point.Put()), S_OK);
    com::ComPtr<IEnumConnections> list;
    EXPECT_EQ(point->EnumConnections(list.Put()), S_OK);
    int n = 0;
    CONNECTDATA data{};
    while (list->Next(1, &data, nullptr) == S_OK) {
        data.pUnk->Release();
        ++n;
    }
    return n;
}

TEST_F(ComConnTest, ServerAndComputerNamesConnectOrFailWithTheirOwnError) {
    const std::string clsid = CLSIDToText(sim::CLSID_VelqorSimDA20);
    ASSERT_EQ(clsid.size(), 38u);
    struct Row {
        std::string server, computer;
        std::string error;  // empty: connects
    } const rows[] = {
        {"Velqor.SimDA20.1", "", ""},
        {"Velqor.SimDA20", "   ", ""},
        {clsid, "", ""},
        {Lower(clsid), "", ""},
        {"Velqor.SimDA20.1", OwnName(), ""},
        {"Velqor.SimDA20.1", Lower(OwnName()), ""},
        {"Velqor.SimDA20.1", "localhost", ""},
        {"Velqor.SimDA20.1", kRemote, ""},
        {"Velqor.SimDA20.1", "plant-unknown", "The RPC server is unavailable."},
        {"", "", MsgText(Msg::ServerNameNotFound)},
        {"   ", "", MsgText(Msg::ServerNameNotFound)},
        {"Velqor.NoSuchServer.1", "", MsgText(Msg::ServerNameNotFound)},
        {"{727DF4D6-E3F2-4F4B-A6EC-D30E32960E3}", "", MsgText(Msg::ServerNameNotFound)},
        {"{00000000-1111-2222-3333-444444444444}", "", "Class not registered"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.server + " on '" + row.computer + "'");
        if (kOnPlatformCom && !row.computer.empty()) continue;  // no simulated computers there
        connection = NewConnection();
        try {
            connection->Connect("velqor-test", row.server, row.computer, {}, window, 0);
            EXPECT_TRUE(row.error.empty()) << "connected";
            EXPECT_TRUE(Conn().Connected());
            tServerStateRecord st;
            connection->GetStatus(st);
            EXPECT_EQ(st.ServerState, 1);
            EXPECT_EQ(connection->SpecVersion(), 2);
        } catch (const Exception& e) {
            EXPECT_EQ(e.what(), row.error);
            EXPECT_FALSE(Conn().Connected());
            EXPECT_FALSE(Conn().GetServer());
            tServerStateRecord st;
            EXPECT_THROW(connection->GetStatus(st), EOPCServerException);
        }
        connection->Disconnect();
        EXPECT_FALSE(Conn().GetServer());
    }
}

TEST_F(ComConnTest, ConnectingTwiceKeepsTheServerAndReconnectingMakesANewOne) {
    Connect("Velqor.SimDA20.1");
    const auto first = Conn().GetServer();
    connection->Connect("velqor-test", "Velqor.SimDA20.1", "", {}, window, 0);
    EXPECT_EQ(Conn().GetServer(), first);
    connection->Disconnect();
    connection->Disconnect();
    EXPECT_FALSE(Conn().Connected());
    connection->Connect("velqor-test", "Velqor.SimDA20.1", "", {}, window, 0);
    EXPECT_TRUE(Conn().Connected());
    EXPECT_NE(Conn().GetServer(), first);
}

// The pause after creating the server object, through the connection's own wait.
class DelayRecorder : public TVelqorCOMDAConnection {
  public:
    std::vector<DWORD>* waits = nullptr;

  protected:
    void WaitConnectDelay(DWORD ms) override { waits->push_back(ms); }
};

TEST_F(ComConnTest, TheConnectDelayIsWaitedOnceAfterCreationAndNotForFailures) {
    struct Row {
        std::string server;
        int32_t delay;
        std::vector<DWORD> waits;
    } const rows[] = {
        {"Velqor.SimDA20.1", 0, {}},
        {"Velqor.SimDA20.1", -5, {}},
        {"Velqor.SimDA20.1", 300, {300}},
        {"Velqor.NoSuchServer.1", 300, {}},
    };
    for (const Row& row : rows) {
        std::vector<DWORD> waits;
        auto c = com::MakeComObject<IVelqorDAConnection, DelayRecorder>();
        static_cast<DelayRecorder*>(&COMDAConnectionOf(c.Get()))->waits = &waits;
        try {
            c->Connect("", row.server, "", {}, window, row.delay);
        } catch (const EOPCServerException&) {
        }
        EXPECT_EQ(waits, row.waits) << row.server << " " << row.delay;
        c->Disconnect();
    }
}

TEST_F(ComConnTest, AShutdownRequestPostsOnceAndTheDisconnectLeavesTheServerAlone) {
    VELQOR_SKIP_ON_PLATFORM_COM(
        "the shutdown switch reaches the servers made by this program only");
    Connect("Velqor.SimDA20.1");
    const auto server = Conn().GetServer();
    ASSERT_EQ(AdvisedShutdownSinks(server.Get()), 1);
    ASSERT_EQ(Conn().ShutdownSink()->AdviseResult(), S_OK);

    EXPECT_EQ(sim::RequestSimulatedShutdown("maintenance"), 1);
    EXPECT_EQ(sim::RequestSimulatedShutdown("again"), 1);
    ASSERT_TRUE(loop.RunUntil([&] { return !messages.empty(); }, std::chrono::seconds(10)));
    loop.ProcessPending();
    EXPECT_EQ(messages, (std::vector<uint32_t>{WM_VELQOR_SHUTDOWN}));

    connection->Disconnect();
    EXPECT_EQ(AdvisedShutdownSinks(server.Get()), 1) << "no unadvise from a departing server";
    // A server that still calls the sink afterwards reaches nothing.
    sim::RequestSimulatedShutdown("late");
    loop.ProcessPending();
    EXPECT_EQ(messages.size(), 1u);

    // An ordinary disconnect takes the sink back.
    Connect("Velqor.SimDA20.1");
    const auto second = Conn().GetServer();
    ASSERT_EQ(AdvisedShutdownSinks(second.Get()), 1);
    connection->Disconnect();
    EXPECT_EQ(AdvisedShutdownSinks(second.Get()), 0);
}

TEST_F(ComConnTest, GenerationClientNameAndLocaleFollowTheServersInterfaces) {
    struct Row {
        bool browse, points, common;
        int32_t version;
    } const rows[] = {
        {false, true, true, 2},  {true, true, true, 3},   {true, false, true, 3},
        {false, false, true, 1}, {false, true, false, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.version);
        Switches().OfferBrowse = row.browse;
        Switches().OfferConnectionPoints = row.points;
        Switches().OfferCommon = row.common;
        Connect(kFaultyProgId);
        EXPECT_EQ(connection->SpecVersion(), row.version);
        EXPECT_EQ(Conn().ShutdownSink()->AdviseResult() == S_OK, row.points);
        EXPECT_FALSE(connection->SetClientName("  ")) << "a blank name is not sent";
        EXPECT_EQ(connection->SetClientName("tagscope"), row.common);
        EXPECT_EQ(Conn().ClientName(), "tagscope");
        if (row.common) {
            connection->SetLocaleId(0x0407);  // refused by the server, silently
            EXPECT_EQ(connection->GetLocaleId(), 0x0409);
            connection->SetLocaleId(0x0800);
            EXPECT_EQ(connection->GetLocaleId(), 0x0800);
        } else {
            EXPECT_THROW(connection->GetLocaleId(), EOPCException);
            connection->SetLocaleId(0x0800);
        }
        connection->Disconnect();
    }
}

TEST_F(ComConnTest, StatusFieldsAndVersionTextComeFromTheServer) {
    Switches().Major = 2;
    Switches().Minor = 5;
    Switches().Build = 12;
    Connect(kFaultyProgId);
    tServerStateRecord st;
    st.GroupCount = 99;
    connection->GetStatus(st);
    EXPECT_EQ(st.VersionText, "2.5.12");
    EXPECT_EQ(st.MajorVersion, 2);
    EXPECT_EQ(st.BuildNumber, 12);
    EXPECT_EQ(st.ServerState, 1);
    EXPECT_EQ(st.StateText, "running");
    EXPECT_EQ(st.GroupCount, 0);
    EXPECT_EQ(st.BandWidth, -1);
    EXPECT_EQ(st.VendorInfo, "Velqor test server with faults");
    EXPECT_EQ(st.LastUpdateTime, 0) << "a zero file time is no time";
    EXPECT_GT(st.StartTime, 0);
    EXPECT_LE(st.StartTime, st.CurrentTime);
    EXPECT_TRUE(connection->CheckConnection());
    connection->Disconnect();
    EXPECT_FALSE(connection->CheckConnection());
    EXPECT_THROW(connection->GetStatus(st), EOPCServerException);

    struct Row {
        Fault fault;
        std::string error;
    } const faults[] = {
        {Fault::StatusNull, MsgText(Msg::NotConnected)},
        {Fault::StatusFails, "Unspecified error"},
    };
    for (const Row& row : faults) {
        Switches().Mode = row.fault;
        Connect(kFaultyProgId);
        EXPECT_FALSE(connection->CheckConnection());
        try {
            connection->GetStatus(st);
            ADD_FAILURE() << "status of a failing server";
        } catch (const Exception& e) {
            EXPECT_EQ(e.what(), row.error);
        }
        EXPECT_EQ(st.VersionText, "") << "the record is cleared first";
    }
}

TEST_F(ComConnTest, ErrorTextsFromTheServerAndFromTheTable) {
    Connect("Velqor.SimDA20.1");
    struct Row {
        int32_t code;
        std::string server, table;
    } const rows[] = {
        {OPC_E_UNKNOWNITEMID, "The item is no longer available in the server address space.",
         ResultMessage(OPC_E_UNKNOWNITEMID)},
        {OPC_E_BADRIGHTS, "The item's access rights do not allow the operation.",
         ResultMessage(OPC_E_BADRIGHTS)},
        {0x12345678, "", ""},
        {int32_t(0x80041234u), "", ""},
    };
    for (const Row& row : rows) {
        std::string text = "stale";
        connection->GetServerErrorString(row.code, text);
        EXPECT_EQ(text, row.server) << row.code;
        text = "stale";
        connection->GetErrorString(row.code, text);
        EXPECT_EQ(text, row.table) << row.code;
    }
    EXPECT_FALSE(ResultMessage(OPC_E_UNKNOWNITEMID).empty());
    connection->Disconnect();
    std::string text;
    EXPECT_THROW(connection->GetServerErrorString(OPC_E_BADRIGHTS, text), EOPCServerException);
}

// The browser follows the server's browse interfaces; with both, the DA 2.0 one is used.
TEST_F(ComConnTest, BrowserIsChosenByTheServersBrowseInterfaces) {
    enum Kind { None, Da2, Da3 };
    struct Row {
        bool browse, addressSpace;
        Kind kind;
    } const rows[] = {
        {false, false, None}, {false, true, Da2}, {true, false, Da3}, {true, true, Da2}};
    for (const Row& row : rows) {
        Switches().OfferBrowse = row.browse;
        Switches().OfferBrowseAddressSpace = row.addressSpace;
        Connect(kFaultyProgId);
        com::ComPtr<IVelqorBrowser> browser;
        try {
            connection->CreateBrowser(browser);
            EXPECT_NE(row.kind, None) << "a browser without a browse interface";
        } catch (const EOPCBrowserException& e) {
            EXPECT_EQ(row.kind, None);
            EXPECT_EQ(std::string(e.what()), MsgText(Msg::BrowserNotFound));
        }
        EXPECT_EQ(dynamic_cast<TVelqorCOMDABrowser*>(browser.Get()) != nullptr, row.kind == Da2);
        EXPECT_EQ(dynamic_cast<TVelqorCOMDA3Browser*>(browser.Get()) != nullptr, row.kind == Da3);
    }
}

TEST_F(ComConnTest, TheGlobalInterfaceTableHoldsTheServerWhenSwitchedOn) {
    UseGlobalInterfaceTable = true;
    Switches().OfferBrowse = true;
    Connect(kFaultyProgId);
    UseGlobalInterfaceTable = false;
    EXPECT_TRUE(Conn().UseGIT());
    tServerStateRecord st;
    connection->GetStatus(st);
    EXPECT_EQ(st.ServerState, 1);
    EXPECT_EQ(connection->SpecVersion(), 3);
    std::vector<TVelqorItemPropertyQuery> q{{"Plant/Area1/Tank1/Level", {}}};
    EXPECT_TRUE(connection->GetItemProperties(q, {"102"}, true, false));
    ASSERT_EQ(q[0].Properties.size(), 1u);
    EXPECT_EQ(q[0].Properties[0].Value.AsDouble(), 10.0);
    connection->Disconnect();
    EXPECT_FALSE(Conn().GetServer());
}

// A server that does not answer: each call ends at the thread's time limit (or a tighter one)
// with an error that says so, the calls after it end at once until the next connect, and a
// cancelled call scope ends a call as the silent abort.
TEST_F(ComConnTest, CallsIntoAServerThatDoesNotAnswerEndAtTheirBounds) {
    VELQOR_SKIP_ON_PLATFORM_COM("the simulated servers run as processes of their own there");
    using Clock = std::chrono::steady_clock;
    struct Clear {
        ~Clear() { sim::ClearSimFaults(); }
    } clear;
    const auto connectThenStall = [this] {
        sim::ClearSimFaults();
        Connect("Velqor.SimDA20.1");
        sim::SimFaults slow;
        slow.SlowCallMs = 20000;
        sim::SetSimFaults(slow);
    };
    TComCallBounds bounds(300);
    connectThenStall();
    ASSERT_TRUE(bounds.Installed());
    tServerStateRecord st;
    const auto message = [&] {
        try {
            connection->GetStatus(st);
        } catch (const EAbort&) {
            return std::string("abort");
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
        return std::string("answered");
    };
    const auto started = Clock::now();
    EXPECT_EQ(message(), "The server did not answer within 300 ms");
    EXPECT_EQ(message(), "The server did not answer within 300 ms");  // at once
    EXPECT_FALSE(Conn().CheckConnection());
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));

    connectThenStall();  // calls get their time again
    {
        TComCallLimit tighter(50);
        TComCallLimit looser(10000);  // cannot loosen it
        EXPECT_EQ(message(), "The server did not answer within 50 ms");
    }
    connectThenStall();
    {
        CallCancelScope scope;
        scope.Cancel();
        EXPECT_EQ(message(), "abort");
    }
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(10));
}

}  // namespace
}  // namespace velqor::test
