// The server component's life against a peer: activation and status, deactivation and
// re-activation with its groups and items, and a dead server before and during a connection.
#include "IntegrationFixture.h"
#include "contract/VelqorDateTime.h"
#include "contract/VelqorError.h"

namespace velqor::integration {
namespace {

constexpr double kMinute = 60.0 / 86400;

TEST_P(IntegrationTest, ActivatesAndReportsARunningServer) {
    server->SetActive(true);
    ASSERT_TRUE(server->Active());
    EXPECT_EQ(connects, 1);
    ASSERT_TRUE(server->Connection());
    EXPECT_EQ(server->Connection()->ConnectionType(), server->Protocol());

    tServerStateRecord st;
    server->GetStatus(st);
    EXPECT_EQ(st.ServerState, 1);  // running
    EXPECT_FALSE(st.VendorInfo.empty());
    EXPECT_NEAR(st.CurrentTime, Now(), kMinute);
    EXPECT_GT(st.StartTime, 0);
    EXPECT_LE(st.StartTime, st.CurrentTime);
    EXPECT_LE(st.LastUpdateTime, st.CurrentTime);

    server->SetActive(false);
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(server->Connection());
    EXPECT_THROW(server->GetStatus(st), EOPCServerException);
    EXPECT_TRUE(shown.empty()) << shown.front();
}

TEST_P(IntegrationTest, ReactivationRecreatesGroupsAndItemsThatDeliverAgain) {
    SKIP_WITHOUT_GROUPS();
    const std::string changing = peer->ChangingItem();
    server->SetActive(true);
    TVelqorGroup* g = AddGroup("Live", {changing, peer->Analog().ItemID}, true, 100);
    TVelqorItem* item = g->OPCItems().Items(0);
    ASSERT_TRUE(PumpUntil([&] { return DeliveredTimes("Live", changing, 2); }));

    server->SetActive(false);
    EXPECT_FALSE(g->TransportGroup());
    EXPECT_EQ(g->ServerHandle(), -1);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(g->OPCItems().Items(i)->ServerHandle(), -1);

    seen.clear();
    server->SetActive(true);
    ASSERT_TRUE(g->TransportGroup());
    ASSERT_EQ(g->OPCItems().Count(), 2);
    for (int i = 0; i < 2; ++i) EXPECT_NE(g->OPCItems().Items(i)->ServerHandle(), -1);
    tVelqorGroupStateRec st;
    g->GetGroupState(st);
    EXPECT_TRUE(st.Active);
    EXPECT_EQ(st.UpdateRate, 100);
    EXPECT_EQ(st.Name, "Live");
    ASSERT_TRUE(PumpUntil([&] { return DeliveredTimes("Live", changing, 2); }));
    EXPECT_TRUE(item->IsGood());
    EXPECT_TRUE(g->ReadSync(false));
    EXPECT_EQ(connects, 2);
}

TEST_P(IntegrationTest, ActivatingADeadServerFailsWithTheServerNamed) {
    peer->Kill();
    try {
        server->SetActive(true);
        ADD_FAILURE() << "activation succeeded";
    } catch (const Exception& e) {
        const std::string text = e.what();
        EXPECT_EQ(text.rfind(peer->DeadServerError(), 0), 0u) << text;
    }
    EXPECT_FALSE(server->Active());
    EXPECT_EQ(connects, 0);
    tServerStateRecord st;
    EXPECT_THROW(server->GetStatus(st), EOPCServerException);
}

// A server lost while active ends the connection through a shutdown or the keep-alive probe. The
// groups and items stay configured but leave the server: they hold no server handles. Their last
// value and quality are kept as they were.
TEST_P(IntegrationTest, AServerThatDiesWhileActiveIsNoticed) {
    if (!peer->UnnoticedDeathReason().empty()) GTEST_SKIP() << peer->UnnoticedDeathReason();
    const std::string changing = peer->ChangingItem();
    server->SetKeepAlive(500);
    server->SetActive(true);
    TVelqorGroup* g = HasGroups() ? AddGroup("Live", {changing}, true, 100) : nullptr;
    if (g) {
        ASSERT_TRUE(PumpUntil([&] { return DeliveredTimes("Live", changing, 1); }));
    }

    peer->Kill();
    ASSERT_TRUE(PumpUntil([&] { return !server->Active(); }));
    EXPECT_GE(shutdowns + timeouts, 1);
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(server->Connection());
    tServerStateRecord st;
    EXPECT_THROW(server->GetStatus(st), EOPCServerException);
    if (g) {
        EXPECT_FALSE(g->TransportGroup());
        EXPECT_EQ(g->OPCItems().Items(0)->ServerHandle(), -1);
        EXPECT_THROW(g->ReadSync(false), EOPCServerException);
    }
    EXPECT_TRUE(shown.empty()) << shown.front();
}

}  // namespace
}  // namespace velqor::integration
