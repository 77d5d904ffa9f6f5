// Both COM browsers walk the simulated plant the same way: levels, positions, filters, flat
// listings; on this computer and on a remote one.
#include <algorithm>
#include <set>

#include "ComBrowseFixture.h"
#include "contract/VelqorError.h"

namespace velqor::test {
namespace {

using Strings = std::vector<std::string>;

class WalkTest : public ComBrowseTest, public ::testing::WithParamInterface<ServerCase> {
  protected:
    void SetUp() override {
        ComBrowseTest::SetUp();
        if (*GetParam().Computer != 0)
            VELQOR_SKIP_ON_PLATFORM_COM("other computers are simulated by the toolkit's runtime");
    }
};

TEST_P(WalkTest, LevelsPositionsAndMovesAgree) {
    Open(GetParam().ProgId, GetParam().Computer);
    EXPECT_EQ(browser->Organization(), 1);
    EXPECT_EQ(List(1),
              (Strings{"Static", "Dynamic", "Writable", "WriteOnly", "Plant", "Special", "Load"}));
    for (const auto& b : list) EXPECT_TRUE(b->IsBranch && !b->IsItem) << b->Name;
    EXPECT_EQ(Entry("Plant")->ItemName, "Plant");
    ASSERT_TRUE(Down({"Plant", "Area1", "Tank1"}));
    EXPECT_EQ(browser->Position()->ItemName, "Plant/Area1/Tank1");
    EXPECT_EQ(List(), (Strings{"Level", "Temperature", "Setpoint", "Valve"}));
    EXPECT_EQ(Entry("Level")->ItemName, "Plant/Area1/Tank1/Level");
    EXPECT_TRUE(Entry("Level")->IsItem && !Entry("Level")->IsBranch);

    ASSERT_TRUE(browser->MoveUp());
    EXPECT_EQ(browser->Position()->ItemName, "Plant/Area1");
    EXPECT_EQ(List(), Strings{"Tank1"});
    ASSERT_TRUE(browser->MoveToRoot());
    EXPECT_EQ(browser->Position()->ItemName, "");
    EXPECT_EQ(List(3).size(), 7u);

    // A jump names its position by the item it was given.
    TVelqorBrowseItem pump;
    pump.Name = "Pump1";
    pump.ItemName = "Plant/Area2/Pump1";
    pump.IsBranch = pump.HasChildren = true;
    ASSERT_TRUE(browser->MoveTo(pump));
    EXPECT_EQ(browser->Position()->Name, "Pump1");
    EXPECT_EQ(List(2), (Strings{"Speed", "Running", "Mode", "Command"}));
    pump.ItemName = "Plant/NoSuchBranch";
    EXPECT_FALSE(browser->MoveTo(pump));
}

TEST_P(WalkTest, FiltersSelectKindsNamesTypesAndAccess) {
    Open(GetParam().ProgId, GetParam().Computer);
    ASSERT_TRUE(Down({"Plant", "Area2", "Pump1"}));
    struct Row {
        int32_t type, access, vt;
        const char* filter;
        Strings expected;
    };
    const Row rows[] = {
        {3, 0, 0, "", {"Speed", "Running", "Mode", "Command"}},
        {1, 0, 0, "", {}},
        {2, 1, 0, "", {"Speed", "Running", "Mode"}},  // the write-only command is hidden
        {2, 2, 0, "", {"Mode", "Command"}},
        {2, 0, VT_BOOL, "", {"Running"}},
        {2, 0, VT_R8, "", {"Speed"}},
        {2, 0, 0, "*o*", {"Mode", "Command"}},
        {2, 0, 0, "?peed", {"Speed"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.type) + "/" + std::to_string(r.access) + "/" +
                     std::to_string(r.vt) + "/" + r.filter);
        EXPECT_EQ(List(r.type, r.access, r.vt, r.filter), r.expected);
    }
}

TEST_P(WalkTest, FlatListingHoldsEveryMatchingItemBelowThePositionInServerOrder) {
    Open(GetParam().ProgId, GetParam().Computer);
    List(3, 0, 0, "Plant/*", true);
    EXPECT_EQ(IDs(), (Strings{"Plant/Area1/Tank1/Level", "Plant/Area1/Tank1/Temperature",
                              "Plant/Area1/Tank1/Setpoint", "Plant/Area1/Tank1/Valve",
                              "Plant/Area2/Pump1/Speed", "Plant/Area2/Pump1/Running",
                              "Plant/Area2/Pump1/Mode", "Plant/Area2/Pump1/Command"}));
    for (const auto& b : list) EXPECT_TRUE(b->IsItem) << b->ItemName;
    ASSERT_TRUE(Down({"Plant", "Area2"}));
    List(2, 0, 0, "*/M*", true);
    EXPECT_EQ(IDs(), Strings{"Plant/Area2/Pump1/Mode"});
    EXPECT_EQ(browser->Position()->ItemName, "Plant/Area2") << "the walk ends where it began";
}

INSTANTIATE_TEST_SUITE_P(Servers, WalkTest,
                         ::testing::Values(ServerCase{"Da20", kDa20, ""},
                                           ServerCase{"Da30", kDa30, ""},
                                           ServerCase{"Da20Remote", kDa20, kRemote},
                                           ServerCase{"Da30Remote", kDa30, kRemote}),
                         [](const auto& p) { return std::string(p.param.Name); });

// The whole address space, listed flat by the DA 2.0 server itself, by the flat server and by
// the DA 3.0 browser's walk, is one set of items.
TEST_F(ComBrowseTest, FlatListingsOfEveryKindOfServerAgree) {
    std::vector<std::set<std::string>> sets;
    for (const char* server : {kDa20, kDa20Flat, kDa30}) {
        SCOPED_TRACE(server);
        Open(server);
        List(3, 0, 0, "", std::string(server) != kDa20Flat);
        const Strings ids = IDs();
        sets.emplace_back(ids.begin(), ids.end());
        EXPECT_EQ(sets.back().size(), size_t(list.Count())) << "each item once";
        browser.Reset();
        connection.Reset();
    }
    EXPECT_GT(sets[0].size(), 10000u);
    EXPECT_EQ(sets[0], sets[1]);
    EXPECT_EQ(sets[0], sets[2]);
}

TEST_F(ComBrowseTest, FlatServerListsItemsByIDAndRefusesEveryMove) {
    Open(kDa20Flat);
    EXPECT_EQ(browser->Organization(), 2);
    List(3, 0, 0, "Plant/Area1/*");
    EXPECT_EQ(IDs(), (Strings{"Plant/Area1/Tank1/Level", "Plant/Area1/Tank1/Temperature",
                              "Plant/Area1/Tank1/Setpoint", "Plant/Area1/Tank1/Valve"}));
    EXPECT_EQ(Names(), IDs()) << "an item is shown by its ID";
    EXPECT_TRUE(List(1, 0, 0, "").empty()) << "no branches";
    TVelqorBrowseItem anywhere;
    anywhere.Name = anywhere.ItemName = "Plant";
    EXPECT_FALSE(browser->MoveDown(anywhere));
    EXPECT_FALSE(browser->MoveTo(anywhere));
    EXPECT_FALSE(browser->MoveUp());
    EXPECT_FALSE(browser->MoveToRoot());
}

TEST_F(ComBrowseTest, Da30LevelIsCompleteWhateverThePortionSize) {
    Open(kDa30);
    auto* da3 = dynamic_cast<TVelqorCOMDA3Browser*>(browser.Get());
    ASSERT_NE(da3, nullptr);
    const Strings root = List(3);
    ASSERT_TRUE(Down({"Load"}));
    const Strings load = List(2);
    ASSERT_EQ(load.size(), 10000u);
    for (DWORD portion : {1u, 3u, 999u}) {
        da3->SetMaxElementsReturned(portion);
        ASSERT_TRUE(browser->MoveToRoot());
        EXPECT_EQ(List(3), root) << portion;
        if (portion < 999) continue;  // a level of 10000 in small portions takes long
        ASSERT_TRUE(Down({"Load"}));
        EXPECT_EQ(List(2), load) << portion;
    }
    EXPECT_FALSE(browser->Browse(false)) << "nothing changed: the list stays";
    EXPECT_EQ(list.Count(), 10000);
}

TEST_F(ComBrowseTest, BrowseWithoutListAndServersWithoutBrowsingRaise) {
    Open(kDa30);
    browser->SetBrowseList(nullptr);
    EXPECT_THROW(browser->Browse(false), EOPCBrowserException);
    browser->SetBrowseList(&list);
    Open(kDa20);
    EXPECT_NE(dynamic_cast<TVelqorCOMDABrowser*>(browser.Get()), nullptr);
    browser->SetBrowseList(nullptr);
    EXPECT_THROW(browser->Browse(false), EOPCBrowserException);
}

}  // namespace
}  // namespace velqor::test
