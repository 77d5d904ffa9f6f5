// Subscriptions and their poll threads, end to end through the server component against
// xmlda-sim: pacing, re-subscription, inactive groups and items, dropped subscriptions, failed
// polls and stopping.
#include <thread>

#include "XmlGroupFixture.h"
#include "soap/VelqorSOAPEncoding.h"
#include "support/WaitUntil.h"

namespace velqor::xmlgrouptest {
namespace {

TEST_F(XmlGroupTest, ClientPacingPollsWithoutHoldOrWaitAndDeliversChanges) {
    TVelqorGroup* g = MakeGroup({"Dynamic/Int", "Dynamic/Double"}, true, 100);
    TVelqorXMLGroup* t = Transport(g);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(relay->Count("Subscribe"), 2u);  // one per added item, each replacing the last
    EXPECT_EQ(relay->Count("SubscriptionCancel"), 1u);
    EXPECT_FALSE(t->ServerSubHandle().empty());
    ASSERT_NE(t->PollThread(), nullptr);

    // The subscribe values are there at once; polled changes follow.
    TVelqorItem* i0 = g->OPCItems().Items(0);
    EXPECT_EQ(i0->Value().Type(), VT_I4);
    EXPECT_EQ(i0->CanonicalDatatype(), VT_I4);
    EXPECT_EQ(i0->Quality(), 0xC0);
    EXPECT_GE(i0->UpdateCount(), 1);
    ASSERT_TRUE(PumpUntil([&] { return ChangesOf("Dynamic/Int") >= 3; }));

    const auto polls = relay->Requests("SubscriptionPolledRefresh");
    ASSERT_FALSE(polls.empty());
    for (const auto& p : polls) {
        EXPECT_FALSE(Attribute(p.Body, "HoldTime")) << p.Body;
        EXPECT_FALSE(Attribute(p.Body, "WaitTime")) << p.Body;
        EXPECT_EQ(Attribute(p.Body, "ReturnItemTime"), "true");
        EXPECT_FALSE(Attribute(p.Body, "ClientRequestHandle"));
        EXPECT_NE(p.Body.find(t->ServerSubHandle()), std::string::npos);
    }
    // Client pacing: at most one request per update rate (plus the one in flight).
    relay->Clear();
    loop.RunFor(1000ms);
    EXPECT_LE(relay->Count("SubscriptionPolledRefresh"), 12u);
    EXPECT_GE(relay->Count("SubscriptionPolledRefresh"), 3u);
}

TEST_F(XmlGroupTest, SubscribeRequestCarriesGroupSettingsAndOnlyActiveItems) {
    TVelqorGroup* g = MakeGroup({}, false, 250);
    g->SetDeadBand(5);
    g->OPCItems().AddItem("Dynamic/Int");
    g->OPCItems().AddItem("Static/Double")->SetIsActive(false);
    g->OPCItems().AddItem("Dynamic/Double");
    EXPECT_EQ(relay->Count(""), 1u) << "an inactive group sends nothing (only the connect status)";
    for (int i = 0; i < 3; ++i) EXPECT_NE(g->OPCItems().Items(i)->ServerHandle(), -1);

    g->SetIsActive(true);
    const auto subs = relay->Requests("Subscribe");
    ASSERT_EQ(subs.size(), 1u);
    const std::string& body = subs[0].Body;
    EXPECT_EQ(Occurrences(body, "<Items "), 2u) << body;
    EXPECT_EQ(Attribute(body, "RequestedSamplingRate"), "250");
    EXPECT_EQ(Attribute(body, "Deadband"), "5");
    EXPECT_EQ(Attribute(body, "SubscriptionPingRate"), "10000") << "the least ping rate";
    EXPECT_EQ(Attribute(body, "ReturnValuesOnReply"), "true");
    EXPECT_EQ(Attribute(body, "LocaleID"), "en");
    EXPECT_EQ(Attribute(body, "ClientRequestHandle"), std::to_string(Transport(g)->ServerHandle()));
    EXPECT_NE(body.find("ClientItemHandle=\"" +
                        std::to_string(g->OPCItems().Items(0)->ClientHandle()) + "\""),
              std::string::npos);
    EXPECT_EQ(body.find("ItemName=\"Static/Double\""), std::string::npos);
    // Every item, active or not, carries the group's server handle.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(g->OPCItems().Items(i)->ServerHandle(), Transport(g)->ServerHandle());
    EXPECT_EQ(Transport(g)->ActiveItemCount(), 2);
}

// A service may drop a subscription not polled within its ping rate, and refuse a wait that
// does not fit it: the ping rate must leave room for the group's own pacing.
TEST_F(XmlGroupTest, SubscribePingRateLeavesRoomForThePollPacing) {
    struct Case {
        int32_t rate, hold, wait;
    };
    for (const Case c : {Case{100, 0, 0}, Case{15000, 0, 0}, Case{1000, 2000, 12000}}) {
        relay->Clear();
        TVelqorGroup* g = MakeGroup({"Dynamic/Int"}, true, c.rate, c.hold, c.wait);
        const auto subs = relay->Requests("Subscribe");
        ASSERT_FALSE(subs.empty()) << c.rate;
        const long ping =
            std::stol(Attribute(subs.back().Body, "SubscriptionPingRate").value_or("0"));
        EXPECT_GE(ping, 10000) << c.rate;
        EXPECT_GE(ping, 2L * (c.rate + c.hold + c.wait)) << c.rate << " " << c.wait;
        server->OPCGroups().RemoveGroup(g->Name());
    }
}

TEST_F(XmlGroupTest, EveryItemOrSettingChangeResubscribesAndRemovingInactiveSendsNothing) {
    TVelqorGroup* g = MakeGroup({"Dynamic/Int"}, true, 200);
    TVelqorItem* inactive = g->OPCItems().AddItem("Static/Int");
    relay->Clear();

    inactive->SetIsActive(false);  // cancel + subscribe with the one active item
    EXPECT_EQ(relay->Count("SubscriptionCancel"), 1u);
    ASSERT_EQ(relay->Count("Subscribe"), 1u);
    EXPECT_EQ(Occurrences(relay->Requests("Subscribe")[0].Body, "<Items "), 1u);

    relay->Clear();
    g->OPCItems().RemoveItem(inactive);
    EXPECT_EQ(relay->Count("SubscriptionCancel"), 0u);
    EXPECT_EQ(relay->Count("Subscribe"), 0u);

    g->SetUpdateRate(300);
    EXPECT_EQ(relay->Count("SubscriptionCancel"), 1u);
    ASSERT_EQ(relay->Count("Subscribe"), 1u);
    EXPECT_EQ(Attribute(relay->Requests("Subscribe")[0].Body, "RequestedSamplingRate"), "300");
    EXPECT_EQ(sim->subscriptionCount(), 1u);

    // Removing the last active item cancels without a new subscription.
    relay->Clear();
    g->OPCItems().Delete(0);
    EXPECT_EQ(relay->Count("SubscriptionCancel"), 1u);
    EXPECT_EQ(relay->Count("Subscribe"), 0u);
    EXPECT_EQ(sim->subscriptionCount(), 0u);
    EXPECT_EQ(Transport(g)->PollThread(), nullptr);
    EXPECT_TRUE(Transport(g)->ServerSubHandle().empty());
}

TEST_F(XmlGroupTest, DeactivatingTheGroupCancelsAndPollingStops) {
    TVelqorGroup* g = MakeGroup({"Dynamic/Int"}, true, 50);
    ASSERT_TRUE(PumpUntil([&] { return relay->Count("SubscriptionPolledRefresh") >= 2; }));
    g->SetIsActive(false);
    EXPECT_EQ(relay->Count("SubscriptionCancel"), 1u);
    EXPECT_EQ(sim->subscriptionCount(), 0u);
    EXPECT_EQ(Transport(g)->PollThread(), nullptr);
    const size_t polls = relay->Count("SubscriptionPolledRefresh");
    loop.RunFor(300ms);
    EXPECT_EQ(relay->Count("SubscriptionPolledRefresh"), polls);
    tVelqorGroupStateRec st;
    g->GetGroupState(st);
    EXPECT_FALSE(st.Active);
}

TEST_F(XmlGroupTest, ServerPacingHoldsAtEstimatedServerTimeAndWaits) {
    TVelqorGroup* g = MakeGroup({}, true, 100, 200, 5000);
    const double before = Now();
    g->OPCItems().AddItem("Dynamic/Int");
    ASSERT_TRUE(PumpUntil([&] { return ChangesOf("Dynamic/Int") >= 3; }));
    const auto polls = relay->Requests("SubscriptionPolledRefresh");
    ASSERT_FALSE(polls.empty());
    const auto hold = Attribute(polls[0].Body, "HoldTime");
    ASSERT_TRUE(hold) << polls[0].Body;
    EXPECT_EQ(Attribute(polls[0].Body, "WaitTime"), "5000");
    // The service runs on this machine's clock: the hold time is now plus 200 ms.
    const double held = XSDDateTimeToDateTime(*hold);
    EXPECT_GT(held, before + 0.15 / 86400);
    EXPECT_LT(held, Now() + 1.0 / 86400);
    tVelqorGroupStateRec st;
    g->GetGroupState(st);
    EXPECT_EQ(st.HoldTime, 200);
    EXPECT_EQ(st.WaitTime, 5000);
}

TEST_F(XmlGroupTest, WaitTimeAloneHoldsAtServerNow) {
    TVelqorGroup* g = MakeGroup({}, true, 100, 0, 3000);
    const double before = Now();
    g->OPCItems().AddItem("Dynamic/Int");
    ASSERT_TRUE(PumpUntil([&] { return relay->Count("SubscriptionPolledRefresh") >= 1; }));
    const auto body = relay->Requests("SubscriptionPolledRefresh")[0].Body;
    const auto hold = Attribute(body, "HoldTime");
    ASSERT_TRUE(hold) << body;
    EXPECT_EQ(Attribute(body, "WaitTime"), "3000");
    const double held = XSDDateTimeToDateTime(*hold);
    EXPECT_GT(held, before - 1.0 / 86400);
    EXPECT_LT(held, Now() + 1.0 / 86400);
}

TEST_F(XmlGroupTest, SubscribeWantedFalseNeverSubscribesButReadsAndWrites) {
    server->SetActive(true);
    server->OPCGroupDefault().Subscribe = false;
    TVelqorGroup* g = server->OPCGroups().AddGroup("NoSub");
    EXPECT_TRUE(server->OPCGroupDefault().Subscribe) << "the template is reset after creation";
    TVelqorItem* item = g->OPCItems().AddItem("Writable/Int");
    g->SetUpdateRate(500);
    item->SetIsActive(false);
    item->SetIsActive(true);
    EXPECT_FALSE(Transport(g)->SubscribeWanted());
    EXPECT_EQ(Transport(g)->PollThread(), nullptr);

    item->SetWriteValue(Variant::I4(77));
    EXPECT_TRUE(g->WriteSync());
    EXPECT_TRUE(g->ReadSync(false));
    EXPECT_EQ(item->Value().AsInt32(), 77);
    server->OPCGroups().RemoveGroup("NoSub");
    loop.RunFor(200ms);
    for (const char* op : {"Subscribe", "SubscriptionPolledRefresh", "SubscriptionCancel"})
        EXPECT_EQ(relay->Count(op), 0u) << op;
    EXPECT_EQ(relay->Count("Write"), 1u);
    EXPECT_EQ(relay->Count("Read"), 1u);
}

TEST_F(XmlGroupTest, DroppedSubscriptionMakesItemsBadAndGroupInactiveWithOneDataChange) {
    server->OPCGroupDefault().Resubscribe.Enabled = false;  // (RecoveryTest: with recovery)
    TVelqorGroup* g = MakeGroup({"Dynamic/Int", "Static/Int"}, true, 50);
    g->OPCItems().Items(1)->SetIsActive(false);
    ASSERT_TRUE(PumpUntil([&] { return ChangesOf("Dynamic/Int") >= 2; }));
    changes.clear();
    relay->Clear();

    sim->dropAllSubscriptions();
    // The verdict arrives; asking the transport for its state (here, again and again) before
    // it is handled must not swallow it.
    EXPECT_TRUE(test::WaitUntil([&] { return !Transport(g)->Active(); }));
    ASSERT_TRUE(PumpUntil([&] { return !g->IsActive(); }));
    loop.RunFor(200ms);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].ItemIDs, (std::vector<std::string>{"Dynamic/Int", "Static/Int"}));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(g->OPCItems().Items(i)->Quality(), 0x1C);
        EXPECT_EQ(uint32_t(g->OPCItems().Items(i)->Error()), 0xC0040001u);
    }
    EXPECT_TRUE(Transport(g)->ServerSubHandle().empty());
    const size_t polls = relay->Count("SubscriptionPolledRefresh");
    loop.RunFor(200ms);
    EXPECT_EQ(relay->Count("SubscriptionPolledRefresh"), polls) << "polling stopped";
    EXPECT_EQ(relay->Count("SubscriptionCancel"), 0u);
    EXPECT_EQ(relay->Count("Subscribe"), 0u) << "no new subscription is attempted";

    // Activating it again subscribes afresh.
    g->SetIsActive(true);
    EXPECT_EQ(relay->Count("SubscriptionCancel"), 0u) << "the dropped handle is not cancelled";
    EXPECT_EQ(relay->Count("Subscribe"), 1u);
    EXPECT_EQ(g->OPCItems().Items(0)->Quality(), 0xC0);
    ASSERT_TRUE(PumpUntil([&] { return ChangesOf("Dynamic/Int") >= 2; }));
    EXPECT_TRUE(g->IsActive());
}

// A failed poll tells the user what went wrong: the fault (also a hold time the service
// refuses), or the lost connection (without recovery; RecoveryTest has it with).
TEST_F(XmlGroupTest, FailedPollNamesItsCause) {
    struct Case {
        xmldasim::FaultStyle fault;
        bool closeMidReply;
        int maxHoldMs, waitMs;
        const char* said;
    };
    for (const Case c :
         {Case{xmldasim::FaultStyle::Soap11, false, 0, 0, "E_FAIL"},
          Case{xmldasim::FaultStyle::None, false, 1000, 5000, "E_INVALIDHOLDTIME"},
          Case{xmldasim::FaultStyle::None, true, 0, 0, "connection to the server lost"}}) {
        std::vector<std::string> reasons;
        server->OnServerShutdown = [&](TVelqorSvr*, const std::string& r) { reasons.push_back(r); };
        server->OPCGroupDefault().Resubscribe.Enabled = !c.closeMidReply;
        xmldasim::Switches s;
        s.fault = c.fault;
        s.closeMidReply = c.closeMidReply;
        s.maxHoldMs = c.maxHoldMs;
        s.onlyOperation = "SubscriptionPolledRefresh";
        MakeGroup({"Dynamic/Int"}, true, 50, 0, c.waitMs);
        sim->setSwitches(s);
        ASSERT_TRUE(PumpUntil([&] { return !reasons.empty(); })) << c.said;
        EXPECT_NE(reasons.front().find(c.said), std::string::npos) << reasons.front();
        EXPECT_EQ(reasons.front().find("shut down"), std::string::npos) << reasons.front();
        sim->setSwitches({});
        server->SetActive(false);
    }
}

TEST_F(XmlGroupTest, FailedPollPostsOneShutdownAndDeactivatesTheComponent) {
    int disconnects = 0;
    server->OnDisconnect = [&](TVelqorSvr*) { ++disconnects; };
    MakeGroup({"Dynamic/Int"}, true, 50);
    MakeGroup({"Dynamic/Double"}, true, 50);
    xmldasim::Switches s;
    s.httpStatus = 500;
    s.onlyOperation = "SubscriptionPolledRefresh";
    sim->setSwitches(s);
    ASSERT_TRUE(PumpUntil([&] { return !server->Active(); }));
    loop.RunFor(300ms);
    EXPECT_EQ(shutdowns, 1);
    EXPECT_EQ(disconnects, 1);
    EXPECT_TRUE(server->ShutdownReceived());
    EXPECT_EQ(relay->Count("SubscriptionCancel"), 0u) << "the departed server is not asked";
    for (int i = 0; i < 2; ++i) EXPECT_FALSE(server->OPCGroups().Items(i)->TransportGroup());
    EXPECT_TRUE(shown.empty()) << shown.front();
}

TEST_F(XmlGroupTest, QueuedChangesOfAStoppedThreadChangeNothing) {
    TVelqorGroup* g = MakeGroup({"Dynamic/Int"}, true, 20);
    TVelqorItem* item = g->OPCItems().Items(0);
    loop.ProcessPending();
    changes.clear();
    // The thread posts while the owning thread does not look.
    const size_t polls = relay->Count("SubscriptionPolledRefresh");
    ASSERT_TRUE(
        test::WaitUntil([&] { return relay->Count("SubscriptionPolledRefresh") >= polls + 15; }));
    const Variant before = item->Value();
    const double stamp = item->TimeStamp();
    ASSERT_GT(loop.PendingCount(), 0u) << "changes are queued";
    g->SetIsActive(false);
    loop.RunFor(200ms);
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(item->Value(), before);
    EXPECT_EQ(item->TimeStamp(), stamp);
}

TEST_F(XmlGroupTest, DestroyingAGroupWhoseThreadWaitsInAServerPacedPollReturnsPromptly) {
    // Constants never change: the service holds each poll for the whole wait time.
    TVelqorGroup* g = MakeGroup({"Static/Int"}, true, 100, 0, 60000);
    ASSERT_TRUE(PumpUntil([&] { return relay->Count("SubscriptionPolledRefresh") >= 1; }));
    ASSERT_TRUE(test::WaitUntil([&] { return sim->pollsWaiting() == 1; }));
    (void)g;
    const auto start = std::chrono::steady_clock::now();
    server->OPCGroups().RemoveGroup("G0");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 30s) << "the destruction waited for the held poll";
    EXPECT_EQ(relay->Count("SubscriptionCancel"), 1u);
    EXPECT_EQ(shutdowns, 0);
    loop.RunFor(100ms);
    EXPECT_EQ(shutdowns, 0) << "an aborted poll is no failure";
    EXPECT_TRUE(server->Active());
}

TEST_F(XmlGroupTest, DeactivatingTheServerStopsEveryThreadAndReactivationResubscribes) {
    TVelqorGroup* a = MakeGroup({"Dynamic/Int"}, true, 100, 0, 60000);
    TVelqorGroup* b = MakeGroup({"Dynamic/Double"}, true, 50);
    ASSERT_TRUE(PumpUntil([&] { return ChangesOf("Dynamic/Double") >= 2; }));
    server->SetActive(false);
    EXPECT_EQ(relay->Count("SubscriptionCancel"), 2u);
    EXPECT_EQ(sim->subscriptionCount(), 0u);
    changes.clear();
    loop.RunFor(200ms);
    EXPECT_TRUE(changes.empty());

    server->SetActive(true);
    EXPECT_EQ(sim->subscriptionCount(), 2u);
    EXPECT_NE(Transport(a)->PollThread(), nullptr);
    EXPECT_NE(Transport(b)->PollThread(), nullptr);
    ASSERT_TRUE(PumpUntil(
        [&] { return ChangesOf("Dynamic/Double") >= 2 && ChangesOf("Dynamic/Int") >= 1; }));
}

TEST_F(XmlGroupTest, RefreshResubscribesAndDeliversCurrentValuesOfActiveItems) {
    TVelqorGroup* g = MakeGroup({"Static/Int", "Static/Double"}, true, 1000);
    loop.ProcessPending();
    changes.clear();
    relay->Clear();
    g->Refresh(true);
    EXPECT_EQ(relay->Count("SubscriptionCancel"), 1u);
    EXPECT_EQ(relay->Count("Subscribe"), 1u);
    ASSERT_TRUE(PumpUntil([&] { return !changes.empty(); }));
    EXPECT_EQ(changes[0].ItemIDs, (std::vector<std::string>{"Static/Int", "Static/Double"}));
}

TEST_F(XmlGroupTest, RefusedSubscribeItemsGetTheirErrorAndStayOutOfTheChange) {
    SetRaiseItemErrors(false);
    TVelqorGroup* g = MakeGroup({}, false, 100);
    g->OPCItems().AddItem("Static/Int")->ResetUpdateCount(0x7FFFFFFE);
    g->OPCItems().AddItem("No/Such/Item");
    g->OPCItems().AddItem("WriteOnly/Int");
    g->SetIsActive(true);
    ASSERT_TRUE(PumpUntil([&] { return !changes.empty(); }));
    EXPECT_EQ(changes[0].ItemIDs, std::vector<std::string>{"Static/Int"});
    EXPECT_EQ(g->OPCItems().Items(0)->UpdateCount(), 1) << "the counter skips 0x7FFFFFFF";
    EXPECT_EQ(g->OPCItems().Items(0)->Error(), 0);
    EXPECT_EQ(g->OPCItems().Items(1)->Error(), ResultCodeFromName("E_UNKNOWNITEMNAME"));
    EXPECT_EQ(g->OPCItems().Items(1)->Quality(), 0);
    EXPECT_EQ(g->OPCItems().Items(2)->Error(), ResultCodeFromName("E_WRITEONLY"));
    EXPECT_TRUE(g->OPCItems().Items(1)->Value().IsEmpty());
}

TEST_F(XmlGroupTest, ASubscriptionOfOnlyRefusedItemsStartsNoPolling) {
    TVelqorGroup* g = MakeGroup({"No/Such/Item"}, true, 50);
    EXPECT_TRUE(Transport(g)->ServerSubHandle().empty());
    EXPECT_EQ(Transport(g)->PollThread(), nullptr);
    loop.RunFor(200ms);
    EXPECT_EQ(relay->Count("SubscriptionPolledRefresh"), 0u);
    EXPECT_TRUE(g->IsActive());
    EXPECT_EQ(shutdowns, 0);
}

TEST_F(XmlGroupTest, StoppingWakesAClientPacedWaitAtOnce) {
    TVelqorGroup* g = MakeGroup({"Dynamic/Int"}, true, 60000);  // the thread sleeps a minute
    ASSERT_NE(Transport(g)->PollThread(), nullptr);
    const auto start = std::chrono::steady_clock::now();
    g->SetIsActive(false);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s)
        << "the stop waited for the pacing sleep";
    EXPECT_EQ(relay->Count("SubscriptionPolledRefresh"), 0u)
        << "the first request follows the first sleep";
    EXPECT_EQ(relay->Count("SubscriptionCancel"), 1u);
}

TEST_F(XmlGroupTest, ItemListChecksOfTheTransportGroup) {
    TVelqorGroup* g = MakeGroup({"Static/Int"}, false);
    TVelqorGroup* other = MakeGroup({"Static/Double"}, false);
    TVelqorItem* mine = g->OPCItems().Items(0);
    TVelqorItem* theirs = other->OPCItems().Items(0);
    TVelqorXMLGroup* t = Transport(g);

    TVelqorItemList foreign(theirs);
    EXPECT_TRUE(t->RemoveItems(false, foreign));
    EXPECT_EQ(theirs->ServerHandle(), Transport(other)->ServerHandle())
        << "an item of another group is ignored";
    EXPECT_EQ(t->ItemCount(), 1);

    TVelqorItemList mixed;
    mixed.Add(mine);
    mixed.Add(theirs);
    EXPECT_THROW(
        try { t->SetActiveState(mixed, false); } catch (const EOPCItemException& e) {
            EXPECT_STREQ(e.what(), "item not exists in list");
            throw;
        },
        EOPCItemException);
    EXPECT_FALSE(mine->IsActive()) << "items before the stranger keep their new flag";

    EXPECT_THROW(
        try { t->AddItems(foreign, true); } catch (const EOPCItemException& e) {
            EXPECT_STREQ(e.what(), "Item Static/Double already exists on OPC server");
            throw;
        },
        EOPCItemException);
    EXPECT_EQ(t->ItemCount(), 1);
    EXPECT_TRUE(t->SetDatatypes(foreign));
    EXPECT_EQ(relay->Count(""), 1u) << "none of this reaches the service";

    // A removed group forgets its items and answers a second removal with nothing.
    int32_t handle = t->ServerHandle();
    t->Remove(false, handle);
    EXPECT_EQ(handle, -1);
    EXPECT_EQ(t->ItemCount(), 0);
    handle = 5;
    t->Remove(false, handle);
    EXPECT_EQ(handle, 5);
}

}  // namespace
}  // namespace velqor::xmlgrouptest
