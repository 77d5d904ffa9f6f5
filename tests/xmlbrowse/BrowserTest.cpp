// The XML-DA address-space browser against xmlda-sim on loopback: levels, positions, filters,
// continuation points and the flat walk; and through the server component's own browser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contract/VelqorError.h"
#include "model/Velqor.h"
#include "xmlda/VelqorXMLDA.h"
#include "xmlda/VelqorXMLDABrowser.h"
#include "xmlda/XmlDaSim.h"

namespace velqor {
namespace {

constexpr int kLoadItems = 25;

xmldasim::Options SimOptions() {
    xmldasim::Options o;
    o.loadItems = kLoadItems;
    return o;
}

std::vector<std::string> Names(const TVelqorBrowseItems& list) {
    std::vector<std::string> out;
    for (const auto& b : list) out.push_back(b->Name);
    return out;
}
std::vector<std::string> IDs(const TVelqorBrowseItems& list) {
    std::vector<std::string> out;
    for (const auto& b : list) out.push_back(b->CombinedID());
    return out;
}
// A branch to move to, by its name and item ID.
TVelqorBrowseItem Branch(std::string name, std::string id) {
    TVelqorBrowseItem b;
    b.Name = std::move(name);
    b.ItemName = std::move(id);
    b.IsBranch = b.HasChildren = true;
    return b;
}

const TVelqorBrowseItem* Find(const TVelqorBrowseItems& list, const std::string& name) {
    for (const auto& b : list)
        if (b->Name == name) return b.get();
    return nullptr;
}

class XmlDaBrowserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim.start();
        window = MessageWindow::Create(loop,
                                       [](uint32_t, uintptr_t, std::unique_ptr<MessagePayload>) {});
        conn = com::MakeComObject<IVelqorDAConnection, TVelqorXMLDAConnection>(false);
        conn->Connect("browser-test", sim.url(), "", {}, window, 0);
        conn->CreateBrowser(browser);
        ASSERT_TRUE(browser);
        browser->SetBrowseList(&list);
    }
    void TearDown() override {
        browser.Reset();
        conn->Disconnect();
        conn.Reset();
        window->Destroy();
        sim.stop();
    }
    TVelqorXMLDABrowser& XB() { return *static_cast<TVelqorXMLDABrowser*>(browser.Get()); }
    // Browse(false) and the number of requests it sent.
    size_t BrowseCounting(bool flat = false, bool* result = nullptr) {
        const size_t before = sim.requestCount();
        const bool r = browser->Browse(flat);
        if (result) *result = r;
        return sim.requestCount() - before;
    }
    bool Down(const std::string& name) {
        const TVelqorBrowseItem* b = Find(list, name);
        EXPECT_NE(b, nullptr) << name;
        return b && browser->MoveDown(TVelqorBrowseItem(*b));
    }

    xmldasim::Service sim{SimOptions()};
    PlainEventLoop loop;
    NotifyWindow window;
    com::ComPtr<IVelqorDAConnection> conn;
    com::ComPtr<IVelqorBrowser> browser;
    TVelqorBrowseItems list;
};

TEST_F(XmlDaBrowserTest, RootLevelOnceUntilSomethingChanges) {
    EXPECT_EQ(browser->Organization(), 1);
    TVelqorBrowseItem* pos = browser->Position();
    EXPECT_TRUE(pos->ItemName.empty());
    EXPECT_TRUE(pos->IsBranch);
    EXPECT_FALSE(pos->IsItem);

    bool r = false;
    EXPECT_EQ(BrowseCounting(false, &r), 1u);
    EXPECT_TRUE(r);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"Static", "Dynamic", "Writable", "WriteOnly",
                                                     "Plant", "Special", "Load"}));
    for (const auto& b : list) {
        EXPECT_TRUE(b->IsBranch);
        EXPECT_FALSE(b->IsItem);
        EXPECT_TRUE(b->HasChildren);
    }

    // Nothing changed: no request, false, list kept.
    EXPECT_EQ(BrowseCounting(false, &r), 0u);
    EXPECT_FALSE(r);
    EXPECT_EQ(list.Count(), 7);

    // The same filter again changes nothing; another one does.
    browser->SetFilter(3, 0, 0, "");
    EXPECT_EQ(BrowseCounting(), 0u);
    browser->SetFilter(1, 0, 0, "P*");
    EXPECT_EQ(BrowseCounting(), 1u);
    EXPECT_EQ(Names(list), std::vector<std::string>{"Plant"});
}

TEST_F(XmlDaBrowserTest, MoveDownAndUpWalkTheStackWithoutRequestsOnTheWayUp) {
    browser->Browse(false);
    ASSERT_TRUE(Down("Plant"));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"Area1", "Area2"}));
    EXPECT_EQ(browser->Position()->ItemName, "Plant");
    ASSERT_TRUE(Down("Area1"));
    ASSERT_TRUE(Down("Tank1"));
    EXPECT_EQ(IDs(list),
              (std::vector<std::string>{"Plant/Area1/Tank1/Level", "Plant/Area1/Tank1/Temperature",
                                        "Plant/Area1/Tank1/Setpoint", "Plant/Area1/Tank1/Valve"}));
    for (const auto& b : list) {
        EXPECT_TRUE(b->IsItem);
        EXPECT_FALSE(b->IsBranch);
    }
    // An entry without identifiers is refused before anything is sent.
    const size_t before = sim.requestCount();
    EXPECT_FALSE(browser->MoveDown(TVelqorBrowseItem{}));
    EXPECT_EQ(sim.requestCount(), before);

    // Up: no request until Browse, which then lists the level above.
    EXPECT_TRUE(browser->MoveUp());
    EXPECT_EQ(sim.requestCount(), before);
    EXPECT_EQ(browser->Position()->ItemName, "Plant/Area1");
    EXPECT_EQ(BrowseCounting(), 1u);
    EXPECT_EQ(Names(list), std::vector<std::string>{"Tank1"});

    EXPECT_TRUE(browser->MoveUp());
    EXPECT_TRUE(browser->MoveUp());
    EXPECT_TRUE(browser->Position()->ItemName.empty());
    EXPECT_FALSE(browser->MoveUp());  // at the root
    EXPECT_EQ(BrowseCounting(), 1u);
    EXPECT_EQ(list.Count(), 7);
}

TEST_F(XmlDaBrowserTest, MoveToJumpsForgetsTheStackAndSkipsTheSamePosition) {
    browser->Browse(false);
    ASSERT_TRUE(Down("Plant"));
    const TVelqorBrowseItem pump = Branch("Pump1", "Plant/Area2/Pump1");
    EXPECT_TRUE(browser->MoveTo(pump));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"Speed", "Running", "Mode", "Command"}));
    EXPECT_EQ(browser->Position()->ItemName, "Plant/Area2/Pump1");
    // The stack went with the jump: up leads to the root, never nowhere.
    EXPECT_TRUE(browser->MoveUp());
    EXPECT_TRUE(browser->Position()->ItemName.empty());
    EXPECT_FALSE(browser->MoveUp());
    EXPECT_TRUE(browser->MoveTo(pump));

    const size_t before = sim.requestCount();
    EXPECT_TRUE(browser->MoveTo(pump));  // already there
    EXPECT_EQ(sim.requestCount(), before);

    // A jump that fails keeps the position and the list; the next Browse retries it.
    const TVelqorBrowseItem nowhere = Branch("Nowhere", "No/Such/Branch");
    EXPECT_FALSE(browser->MoveTo(nowhere));
    EXPECT_EQ(browser->Position()->ItemName, "Plant/Area2/Pump1");
    EXPECT_EQ(list.Count(), 4);
    EXPECT_THROW(browser->Browse(false), EVelqorSOAPFault);
    EXPECT_EQ(list.Count(), 4);

    // Back to the root: nothing sent until Browse.
    const size_t atRoot = sim.requestCount();
    EXPECT_TRUE(browser->MoveToRoot());
    EXPECT_EQ(sim.requestCount(), atRoot);
    EXPECT_TRUE(browser->Position()->ItemName.empty());
    EXPECT_TRUE(browser->Position()->IsBranch);
    EXPECT_EQ(BrowseCounting(), 1u);
    EXPECT_EQ(list.Count(), 7);
}

TEST_F(XmlDaBrowserTest, FailedMoveDownKeepsPositionAndList) {
    browser->Browse(false);
    const TVelqorBrowseItem bogus = Branch("Bogus", "Nope");
    EXPECT_FALSE(browser->MoveDown(bogus));
    EXPECT_TRUE(browser->Position()->ItemName.empty());
    EXPECT_EQ(list.Count(), 7);
    EXPECT_FALSE(browser->MoveUp());
}

TEST_F(XmlDaBrowserTest, DataTypeAndAccessFiltersApplyToItemsOnly) {
    const TVelqorBrowseItem statics = Branch("Static", "Static");
    ASSERT_TRUE(browser->MoveTo(statics));
    EXPECT_EQ(list.Count(), 16);  // 15 items and the Arrays branch

    browser->SetFilter(3, 0, vtR8, "");
    browser->Browse(false);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"Double", "Arrays"}));

    browser->SetFilter(3, 0, vtBOOL, "");
    browser->Browse(false);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"Boolean", "Arrays"}));

    // Static items are read-only.
    browser->SetFilter(3, 2, 0, "");
    browser->Browse(false);
    EXPECT_EQ(Names(list), std::vector<std::string>{"Arrays"});
    browser->SetFilter(3, 1, 0, "");
    browser->Browse(false);
    EXPECT_EQ(list.Count(), 16);

    const TVelqorBrowseItem tank = Branch("Tank1", "Plant/Area1/Tank1");
    ASSERT_TRUE(browser->MoveTo(tank));
    browser->SetFilter(3, 2, 0, "");
    browser->Browse(false);
    EXPECT_EQ(Names(list), std::vector<std::string>{"Setpoint"});

    const TVelqorBrowseItem wo = Branch("WriteOnly", "WriteOnly");
    ASSERT_TRUE(browser->MoveTo(wo));
    EXPECT_EQ(list.Count(), 3);
    browser->SetFilter(3, 1, 0, "");
    browser->Browse(false);
    EXPECT_EQ(list.Count(), 0);
    browser->SetFilter(3, 3, 0, "");  // readable or writable
    browser->Browse(false);
    EXPECT_EQ(list.Count(), 3);
}

TEST_F(XmlDaBrowserTest, BrowseTypeAndNameFilterGoToTheService) {
    const TVelqorBrowseItem statics = Branch("Static", "Static");
    browser->SetFilter(1, 0, 0, "");
    ASSERT_TRUE(browser->MoveTo(statics));
    EXPECT_EQ(Names(list), std::vector<std::string>{"Arrays"});
    browser->SetFilter(2, 0, 0, "*[!g]");  // items whose name does not end in g (or G)
    browser->Browse(false);
    EXPECT_EQ(Names(list),
              (std::vector<std::string>{"Byte", "UnsignedByte", "Short", "UnsignedShort", "Int",
                                        "UnsignedInt", "Float", "Double", "Decimal", "Boolean",
                                        "DateTime", "Base64Binary"}));
    // An unknown browse type asks for both kinds.
    browser->SetFilter(7, 0, 0, "");
    browser->Browse(false);
    EXPECT_EQ(list.Count(), 16);
}

TEST_F(XmlDaBrowserTest, ContinuationPointsCompleteTheLevelWithTheSameFilters) {
    const TVelqorBrowseItem load = Branch("Load", "Load");
    XB().SetMaxElementsReturned(7);
    size_t before = sim.requestCount();
    ASSERT_TRUE(browser->MoveTo(load));
    EXPECT_EQ(sim.requestCount() - before, 4u);  // 7 + 7 + 7 + 4
    ASSERT_EQ(list.Count(), kLoadItems);
    for (int i = 0; i < kLoadItems; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "Item%05d", i);
        EXPECT_EQ(list.Items(i)->Name, name);
    }

    // The name mask is the client's: the whole level comes, 3 at a time, and the mask keeps 10.
    XB().SetMaxElementsReturned(3);
    browser->SetFilter(2, 0, 0, "item0001?");
    before = sim.requestCount();
    ASSERT_TRUE(browser->Browse(false));
    EXPECT_EQ(sim.requestCount() - before, size_t(kLoadItems + 2) / 3);
    EXPECT_EQ(list.Count(), 10);
    EXPECT_EQ(list.Items(0)->Name, "Item00010");
    EXPECT_EQ(list.Items(9)->Name, "Item00019");
}

TEST_F(XmlDaBrowserTest, FlatWalkMatchesCombinedIDsDepthFirstAndReturnsToTheStart) {
    browser->SetFilter(3, 0, 0, "*/ARRAYS/*double");
    ASSERT_TRUE(browser->Browse(true));
    EXPECT_EQ(IDs(list), (std::vector<std::string>{"Static/Arrays/ArrayOfDouble",
                                                   "Dynamic/Arrays/ArrayOfDouble",
                                                   "Writable/Arrays/ArrayOfDouble"}));
    EXPECT_TRUE(browser->Position()->ItemName.empty());
    EXPECT_FALSE(browser->MoveUp());
    // The next level browse sends a request and lists the root (the name filter comes back).
    browser->SetFilter(3, 0, 0, "");
    EXPECT_EQ(BrowseCounting(), 1u);
    EXPECT_EQ(list.Count(), 7);

    browser->SetFilter(3, 0, 0, "*Temp*");
    browser->Browse(true);
    EXPECT_EQ(IDs(list), std::vector<std::string>{"Plant/Area1/Tank1/Temperature"});

    // Every item of the space, once each, items only.
    browser->SetFilter(3, 0, 0, "");
    browser->Browse(true);
    EXPECT_EQ(list.Count(), 3 * (15 + 13) + 3 + 4 + 4 + 2 + kLoadItems);
    for (const auto& b : list) EXPECT_TRUE(b->IsItem) << b->CombinedID();
}

TEST_F(XmlDaBrowserTest, FlatWalkFromABranchWithTypeFilterAndItemsOnlyBrowseType) {
    const TVelqorBrowseItem plant = Branch("Plant", "Plant");
    ASSERT_TRUE(browser->MoveTo(plant));
    // Items-only must not keep the walk from descending into branches.
    browser->SetFilter(2, 0, vtR8, "");
    browser->Browse(true);
    EXPECT_EQ(IDs(list),
              (std::vector<std::string>{"Plant/Area1/Tank1/Level", "Plant/Area1/Tank1/Temperature",
                                        "Plant/Area1/Tank1/Setpoint", "Plant/Area2/Pump1/Speed"}));
    EXPECT_EQ(browser->Position()->ItemName, "Plant");
    browser->SetFilter(3, 2, 0, "*");
    browser->Browse(true);
    EXPECT_EQ(IDs(list),
              (std::vector<std::string>{"Plant/Area1/Tank1/Setpoint", "Plant/Area2/Pump1/Mode",
                                        "Plant/Area2/Pump1/Command"}));
}

TEST_F(XmlDaBrowserTest, AFailingLevelRaisesAndChangesNothing) {
    browser->Browse(false);
    xmldasim::Switches s;
    s.fault = xmldasim::FaultStyle::Soap11;
    s.onlyOperation = "Browse";
    sim.setSwitches(s);
    browser->SetFilter(1, 0, 0, "");
    EXPECT_THROW(browser->Browse(false), EVelqorSOAPFault);
    EXPECT_EQ(list.Count(), 7);
    EXPECT_THROW(browser->Browse(true), EVelqorSOAPFault);
    EXPECT_EQ(list.Count(), 7);
    sim.setSwitches({});
    EXPECT_TRUE(browser->Browse(false));
    EXPECT_EQ(list.Count(), 7);
}

TEST(XmlDaBrowserList, BrowseWithoutAListRaises) {
    xmldasim::Service sim{SimOptions()};
    sim.start();
    PlainEventLoop loop;
    auto conn = com::MakeComObject<IVelqorDAConnection, TVelqorXMLDAConnection>(false);
    conn->Connect("t", sim.url(), "", {}, nullptr, 0);
    com::ComPtr<IVelqorBrowser> b;
    conn->CreateBrowser(b);
    try {
        b->Browse(false);
        ADD_FAILURE() << "no exception";
    } catch (const EOPCBrowserException& e) {
        EXPECT_STREQ(e.what(), "first call method SetBrowseList");
    }
    b.Reset();
    conn->Disconnect();
}

// Through the server component: the browser comes from the active connection, and every connect
// starts over at the root.
TEST(XmlDaComponentBrowser, ServerComponentBrowsesAndStartsAtTheRootAfterReconnect) {
    xmldasim::Service sim{SimOptions()};
    sim.start();
    PlainEventLoop loop;
    {
        TVelqorServer server(&loop);
        server.SetServerName(sim.url());
        TVelqorBrowser& br = server.Browser();
        EXPECT_THROW(br.BrowseAll(false), EOPCBrowserException);
        EXPECT_EQ(br.BrowseItems().Count(), 0);

        server.SetActive(true);
        ASSERT_TRUE(br.BrowseAll(false));
        EXPECT_EQ(br.BrowseItems().Count(), 7);
        ASSERT_TRUE(br.MoveDown(Find(br.BrowseItems(), "Special")));
        EXPECT_EQ(Names(br.BrowseItems()), (std::vector<std::string>{"BadQuality", "Uncertain"}));
        EXPECT_FALSE(br.MoveDown(nullptr));

        br.Datatype = vtR8;
        br.AccessRights = opcWritable;
        br.Filter = "*";
        br.Browse(2, false);
        EXPECT_EQ(br.BrowseItems().Count(), 0);

        server.SetActive(false);
        EXPECT_EQ(br.BrowseItems().Count(), 0);
        server.SetActive(true);
        br.AccessRights = 0;
        br.Datatype = vtEMPTY;
        br.Filter = "";
        ASSERT_TRUE(br.BrowseAll(false));
        EXPECT_TRUE(br.Position()->ItemName.empty());
        EXPECT_EQ(br.BrowseItems().Count(), 7);
        server.SetActive(false);
    }
    sim.stop();
}

}  // namespace
}  // namespace velqor
