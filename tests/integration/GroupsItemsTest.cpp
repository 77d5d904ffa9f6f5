// Groups and items against a peer: settings sent and read back, the active flag, per-item errors
// on add and remove, and data changes delivered through the event loop.
#include <algorithm>

#include "IntegrationFixture.h"
#include "contract/VelqorDateTime.h"
#include "contract/VelqorItemId.h"

namespace velqor::integration {
namespace {

TEST_P(IntegrationTest, GroupSettingsAreSentAndReadBackAndOnlyActiveGroupsDeliver) {
    SKIP_WITHOUT_GROUPS();
    const std::string changing = peer->ChangingItem();
    server->SetActive(true);
    TVelqorGroup* quiet = AddGroup("Quiet", {changing}, false, 250, 5);
    TVelqorGroup* live = AddGroup("Live", {changing}, true, 100);

    tVelqorGroupStateRec st;
    quiet->GetGroupState(st);
    EXPECT_EQ(st.Name, "Quiet");
    EXPECT_FALSE(st.Active);
    EXPECT_EQ(st.UpdateRate, 250);
    EXPECT_FLOAT_EQ(st.DeadBand, 5);
    EXPECT_EQ(st.ServerHandle, quiet->ServerHandle());
    live->GetGroupState(st);
    EXPECT_TRUE(st.Active);
    EXPECT_EQ(st.UpdateRate, 100);

    // While the live group delivers, the inactive one stays silent.
    ASSERT_TRUE(PumpUntil([&] { return DeliveredTimes("Live", changing, 3); }));
    EXPECT_EQ(CountOf("Quiet", changing), 0u);

    quiet->SetName("Awake");
    quiet->SetUpdateRate(100);
    quiet->SetDeadBand(2.5);
    quiet->SetIsActive(true);
    quiet->GetGroupState(st);
    EXPECT_EQ(st.Name, "Awake");
    EXPECT_TRUE(st.Active);
    EXPECT_EQ(st.UpdateRate, 100);
    EXPECT_FLOAT_EQ(st.DeadBand, 2.5);
    EXPECT_EQ(quiet->UpdateRate(), 100);
    ASSERT_TRUE(PumpUntil([&] { return DeliveredTimes("Awake", changing, 2); }));

    live->SetIsActive(false);
    live->GetGroupState(st);
    EXPECT_FALSE(st.Active);
    seen.clear();
    ASSERT_TRUE(PumpUntil([&] { return DeliveredTimes("Awake", changing, 3); }));
    EXPECT_EQ(CountOf("Live", changing), 0u);
}

TEST_P(IntegrationTest, AnUnknownItemFailsAloneAndCanBeRemoved) {
    SKIP_WITHOUT_GROUPS();
    const std::string changing = peer->ChangingItem();
    const std::string analog = peer->Analog().ItemID;
    const std::string unknown = peer->UnknownItem();
    // Configured while inactive: activation adds the three items in one batch.
    TVelqorGroup* g = AddGroup("G", {analog, unknown, changing}, true, 100);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(g->OPCItems().Items(i)->ServerHandle(), -1);
    EXPECT_NO_THROW(server->SetActive(true));
    ASSERT_TRUE(server->Active());

    ASSERT_EQ(g->OPCItems().Count(), 3);
    TVelqorItem* bad = g->OPCItems().Items(1);
    EXPECT_EQ(bad->ItemID(), unknown);
    EXPECT_EQ(bad->Error(), OPC_E_UNKNOWNITEMID);
    if (peer->AddValidatesItems()) {
        EXPECT_EQ(bad->ServerHandle(), -1);
    }
    for (int i : {0, 2}) {
        EXPECT_NE(g->OPCItems().Items(i)->ServerHandle(), -1) << i;
        EXPECT_EQ(g->OPCItems().Items(i)->Error(), 0) << i;
    }
    ASSERT_TRUE(PumpUntil([&] { return CountOf("G", analog) > 0 && CountOf("G", changing) > 0; }));
    EXPECT_EQ(CountOf("G", unknown), 0u);
    EXPECT_FALSE(bad->IsGood());
    // The failure is reported once, naming the item, without raising.
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Cannot add Items:\r\n", 0), 0u) << messages[0];
    EXPECT_NE(messages[0].find(unknown + "- "), std::string::npos) << messages[0];
    EXPECT_TRUE(shown.empty()) << shown.front();

    EXPECT_NO_THROW(g->OPCItems().RemoveItem(bad));
    EXPECT_NO_THROW(g->OPCItems().Delete(0));  // the analog item
    ASSERT_EQ(g->OPCItems().Count(), 1);
    EXPECT_EQ(g->OPCItems().Items(0)->ItemID(), changing);
    EXPECT_NE(g->OPCItems().Items(0)->ServerHandle(), -1);
    seen.clear();
    ASSERT_TRUE(PumpUntil([&] { return DeliveredTimes("G", changing, 2); }));
    EXPECT_EQ(CountOf("G", analog), 0u);
    EXPECT_TRUE(g->ReadSync(false));
    EXPECT_EQ(g->OPCItems().Items(0)->Error(), 0);
}

// An ID that the wire cannot carry (cut at a NUL on COM, an XML request that cannot be written
// on XML-DA) fails alone with the reason; the others of the batch are added and deliver.
TEST_P(IntegrationTest, AnItemIdThatCannotBeSentFailsAloneWithTheReason) {
    SKIP_WITHOUT_GROUPS();
    const std::string changing = peer->ChangingItem();
    struct Case {
        std::string id;
        const char* reason;
    };
    const Case cases[] = {
        {changing + std::string(1, '\0') + "x", "the control character U+0000"},
        {changing + "\x1b[2J", "the control character U+001B"},
        {changing + "\xff", "not valid UTF-8 (byte 0xFF"},
        {std::string(kMaxItemIdBytes + 1, 'a'), "longer than 4096 bytes"},
    };
    std::vector<std::string> ids = {changing};
    for (const Case& c : cases) ids.push_back(c.id);
    TVelqorGroup* g = AddGroup("G", ids, true, 100);
    EXPECT_NO_THROW(server->SetActive(true));
    ASSERT_TRUE(server->Active());
    EXPECT_EQ(g->OPCItems().Items(0)->Error(), 0);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const TVelqorItem* bad = g->OPCItems().Items(int(i) + 1);
        EXPECT_EQ(bad->ServerHandle(), -1) << i;
        EXPECT_EQ(bad->Error(), OPC_E_INVALIDITEMID) << i;
        EXPECT_EQ(bad->ErrorText().rfind("the item ID cannot be sent: it ", 0), 0u) << i;
        EXPECT_NE(bad->ErrorText().find(cases[i].reason), std::string::npos)
            << i << ": " << bad->ErrorText();
    }
    ASSERT_TRUE(PumpUntil([&] { return DeliveredTimes("G", changing, 2); }));
    EXPECT_TRUE(g->ReadSync(false));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Cannot add Items:\r\n", 0), 0u) << messages[0];
}

TEST_P(IntegrationTest, DataChangesCarryTheNewValueQualityAndTimeStamp) {
    SKIP_WITHOUT_GROUPS();
    const std::string changing = peer->ChangingItem();
    server->SetActive(true);
    TVelqorGroup* g = AddGroup("Live", {}, true, 100);
    std::vector<std::string> order;
    g->OnDatachange = [&](TVelqorServer* sender, const TVelqorItemList& items) {
        EXPECT_EQ(sender, server.get());
        EXPECT_EQ(items.Count(), 1);
        order.push_back("group");
    };
    const auto serverEvent = server->OnDatachange;
    server->OnDatachange = [&](TVelqorServer* sender, const TVelqorItemList& items) {
        order.push_back("server");
        serverEvent(sender, items);
    };
    TVelqorItem* item = g->OPCItems().AddItem(changing);

    const double start = Now();
    ASSERT_TRUE(PumpUntil([&] { return DeliveredTimes("Live", changing, 3); }));
    const std::vector<Seen> s = SeenOf("Live", changing);
    for (size_t i = 0; i < s.size(); ++i) {
        EXPECT_FALSE(s[i].Value.IsEmpty()) << i;
        EXPECT_TRUE(IsGoodQuality(s[i].Quality)) << i;
        EXPECT_NEAR(s[i].TimeStamp, start, 60.0 / 86400) << i;
        if (i > 0) {
            EXPECT_GE(s[i].TimeStamp, s[i - 1].TimeStamp) << i;
        }
    }
    // The item holds what the last event showed; the group heard each change before the server.
    EXPECT_EQ(item->Value(), s.back().Value);
    EXPECT_EQ(item->TimeStamp(), s.back().TimeStamp);
    EXPECT_EQ(item->Quality(), s.back().Quality);
    EXPECT_NE(item->CanonicalDatatype(), 0);
    ASSERT_EQ(order.size(), 2 * s.size());
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(order[i], i % 2 == 0 ? "group" : "server") << i;
}

}  // namespace
}  // namespace velqor::integration
