// The address-space browser and the server list against the fake transport.
#include "ModelFixture.h"

namespace velqor::testing {
namespace {

std::vector<std::string> Names(const TVelqorBrowseItems& items) {
    std::vector<std::string> n;
    for (const auto& i : items) n.push_back(i->Name + (i->IsBranch ? "/" : ""));
    return n;
}

class Browsing : public ModelTest {
  protected:
    void SetUp() override {
        ModelTest::SetUp();
        auto tree = fake::FakeTransport::TreeFromIDs({"Plant.Line1.Speed", "Plant.Line1.Count",
                                                      "Plant.Line2.Speed", "Plant.Name", "Status"});
        tree[0].Children[2].AccessRights = 1;  // Plant.Name is read-only
        tree[0].Children[2].Datatype = VT_BSTR;
        fake->SetBrowseTree(tree);
    }
};

TEST_F(Browsing, NeedsABoundActiveServer) {
    TVelqorBrowser unbound;
    try {
        unbound.BrowseAll(false);
        ADD_FAILURE();
    } catch (const EOPCBrowserException& e) {
        EXPECT_STREQ(e.what(), "first define server object");
    }
    TVelqorBrowser browser(server.get());
    try {
        browser.BrowseAll(false);
        ADD_FAILURE();
    } catch (const EOPCBrowserException& e) {
        EXPECT_STREQ(e.what(), "OPC server not active");
    }
    EXPECT_EQ(browser.BrowseItems().Count(), 0);
    EXPECT_EQ(fake->CountCalls("CreateBrowser"), 0);
}

TEST_F(Browsing, WalksTheTreeWithFiltersAndRights) {
    server->SetActive(true);
    TVelqorBrowser& browser = server->Browser();
    EXPECT_EQ(browser.OPCServer(), server.get());
    ASSERT_TRUE(browser.BrowseAll(false));
    EXPECT_EQ(Names(browser.BrowseItems()), (std::vector<std::string>{"Plant/", "Status"}));
    EXPECT_TRUE(browser.Position()->ItemName.empty()) << "at the root";

    EXPECT_FALSE(browser.MoveDown(nullptr));
    EXPECT_EQ(fake->CountCalls("MoveDown"), 0);
    ASSERT_TRUE(browser.MoveDown(browser.BrowseItems().Items(0)));
    EXPECT_EQ(browser.Position()->ItemName, "Plant");
    browser.Browse(2, false);
    EXPECT_EQ(Names(browser.BrowseItems()), (std::vector<std::string>{"Name"}));

    browser.AccessRights = opcReadable | opcWritable;
    browser.Datatype = vtR8;
    browser.Filter = "S*";
    browser.Browse(2, true);
    EXPECT_EQ(fake->Calls().back().Text(), "browser.Browse(flat)");
    EXPECT_EQ(fake->Calls()[fake->Calls().size() - 2].Args, "2,3,5,S*");
    EXPECT_EQ(Names(browser.BrowseItems()), (std::vector<std::string>{"Speed", "Speed", "Status"}));
    EXPECT_EQ(browser.BrowseItems().Items(0)->ItemName, "Plant.Line1.Speed");

    browser.AccessRights = opcWritable;
    browser.Filter.clear();
    browser.Datatype = vtEMPTY;
    browser.Browse(1, false);
    EXPECT_EQ(Names(browser.BrowseItems()), (std::vector<std::string>{"Line1/", "Line2/"}));
    EXPECT_TRUE(browser.MoveUp());
    EXPECT_FALSE(browser.MoveUp());
    EXPECT_EQ(fake->CountCalls("CreateBrowser"), 1);
}

TEST_F(Browsing, ReconnectStartsAtTheRootWithANewTransportBrowser) {
    server->SetActive(true);
    TVelqorBrowser& own = server->Browser();
    TVelqorBrowser other(server.get());
    own.BrowseAll(false);
    own.MoveDown(own.BrowseItems().Items(0));
    own.BrowseAll(false);
    other.BrowseAll(false);
    ASSERT_EQ(own.BrowseItems().Count(), 3);

    server->SetActive(false);
    EXPECT_EQ(own.OPCServer(), nullptr) << "unbound at disconnect";
    EXPECT_EQ(own.BrowseItems().Count(), 0);
    EXPECT_EQ(other.OPCServer(), server.get());
    EXPECT_THROW(other.BrowseAll(false), EOPCBrowserException);

    server->SetActive(true);
    EXPECT_EQ(own.OPCServer(), server.get());
    own.BrowseAll(false);
    EXPECT_EQ(Names(own.BrowseItems()), (std::vector<std::string>{"Plant/", "Status"}));
    other.BrowseAll(false);
    EXPECT_EQ(fake->CountCalls("CreateBrowser"), 4);

    server.reset();
    EXPECT_EQ(other.OPCServer(), nullptr) << "a destroyed server unbinds its browsers";
}

TEST_F(Browsing, BrowseWithoutAListIsRefusedByTheTransport) {
    server->SetActive(true);
    com::ComPtr<IVelqorBrowser> raw;
    server->DAConnection()->CreateBrowser(raw);
    try {
        raw->Browse(false);
        ADD_FAILURE();
    } catch (const EOPCBrowserException& e) {
        EXPECT_STREQ(e.what(), "first call method SetBrowseList");
    }
}

class ServerList : public ::testing::Test {
  protected:
    void SetUp() override {
        fake = fake::FakeTransport::Create();
        fake->SetServerList({
            {"Sim DA2/3", "Velqor.Sim.1", "{11111111-0000-0000-0000-000000000001}",
             tVelqorServerSet(ServerSetOf(svr_DA20) | ServerSetOf(svr_DA30))},
            {"Sim DA1", "Velqor.Old.1", "{11111111-0000-0000-0000-000000000002}",
             ServerSetOf(svr_DA10)},
            {"Alarms", "Velqor.AE.1", "{11111111-0000-0000-0000-000000000003}",
             ServerSetOf(svr_AE10)},
        });
    }
    std::shared_ptr<fake::FakeTransport> fake;
};

TEST_F(ServerList, ServersReportedUnderSeveralTypesAreListedOnce) {
    fake::FakeServerList list(fake);
    list.ComputerName = "plant-7";
    list.GetServers(true);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Items(0)->ProgID, "Velqor.Old.1")
        << "in the order of first report (DA10 is asked first)";
    TVelqorServerItem* sim = list.FindServer("{11111111-0000-0000-0000-000000000001}");
    ASSERT_NE(sim, nullptr);
    EXPECT_EQ(sim->ServerTypes, ServerSetOf(svr_DA20) | ServerSetOf(svr_DA30));
    EXPECT_EQ(sim->ComputerName, "plant-7");
    EXPECT_EQ(sim->Description, "Sim DA2/3");
    EXPECT_EQ(fake->Calls().at(0).Args, "7,plant-7,2");

    list.GetServers(false);
    ASSERT_EQ(list.Count(), 2) << "asking twice gives the same list";
    EXPECT_EQ(list.Items(0)->ServerTypes, 0);
    EXPECT_EQ(list.FindServer("{11111111-0000-0000-0000-000000000003}"), nullptr);
    std::vector<std::string> ids{"stale"};
    list.ListProgIDs(ids);
    EXPECT_EQ(ids, (std::vector<std::string>{"Velqor.Sim.1", "Velqor.Old.1"}));
    list.Clear();
    list.ListProgIDs(ids);
    EXPECT_TRUE(ids.empty());
}

TEST_F(ServerList, AFailingTransportKeepsWhatItReported) {
    fake::FakeServerList list(fake);
    fake->FailCallWithText("GetServerList", "unknown error: interface IOPCServerList not found");
    EXPECT_THROW(list.GetServers(false), EOPCServerException);
    EXPECT_EQ(list.Count(), 2);
}

TEST_F(ServerList, ListLocalServersAsksTheLocalDataAccessServers) {
    fake::FakeServerList list(fake);
    list.ComputerName = "elsewhere";
    list.Servertype = ServerSetOf(svr_AE10);
    std::vector<std::string> ids{"stale"};
    ListLocalServers(ids, list);
    EXPECT_EQ(ids, (std::vector<std::string>{"Velqor.Sim.1", "Velqor.Old.1"}));
    EXPECT_EQ(fake->Calls().at(0).Args, "7,,0");
}

}  // namespace
}  // namespace velqor::testing
