// A lost subscription is made again: the service forgot it (expiry, restart) or went away for a
// while. Items are bad meanwhile, values resume, changes made meanwhile are carried over, and
// the group gives up (inactive, lost event) only past its limit or when recovery is off.
#include "XmlGroupFixture.h"

namespace velqor::xmlgrouptest {
namespace {

class RecoveryTest : public XmlGroupTest {
  protected:
    void SetUp() override {
        XmlGroupTest::SetUp();
        server->OnSubscriptionInterrupted = [this](TVelqorServer*, TVelqorGroup*,
                                                   const std::string& r) {
            interrupted.push_back(r);
        };
        server->OnSubscriptionRecovered = [this](TVelqorServer*, TVelqorGroup*,
                                                 const std::string&) { ++recovered; };
        server->OnSubscriptionLost = [this](TVelqorServer*, TVelqorGroup*, const std::string& r) {
            lost.push_back(r);
        };
        TVelqorResubscribe& p = server->OPCGroupDefault().Resubscribe;
        p.FirstDelayMs = 50;
        p.MaxDelayMs = 200;
    }

    // The quality of the item in the latest data change that named it; -1 for none.
    int32_t LastQualityOf(const std::string& id) const {
        for (auto c = changes.rbegin(); c != changes.rend(); ++c)
            for (size_t i = 0; i < c->ItemIDs.size(); ++i)
                if (c->ItemIDs[i] == id) return c->Qualities[i];
        return -1;
    }

    std::vector<std::string> interrupted, lost;
    int recovered = 0;
};

// The service forgets the subscription (a drop, a fault saying so, idle expiry shorter than the
// poll period; AnAbsentService... has the restart): the group subscribes again, values go on.
TEST_F(RecoveryTest, AForgottenSubscriptionIsMadeAgainAndValuesResume) {
    static constexpr const char* kForgotten = "the server no longer knows the subscription";
    struct Case {
        const char* what;
        std::function<void(xmldasim::Service&)> forget;
        const char* reason;
    };
    const Case cases[] = {
        {"dropped", [](xmldasim::Service& s) { s.dropAllSubscriptions(); }, kForgotten},
        {"fault naming the subscription unknown",
         [this](xmldasim::Service&) {
             auto once = std::make_shared<std::atomic<bool>>(false);
             relay->SetCanned([once](const Exchange& e) -> std::optional<std::string> {
                 if (e.Operation != "SubscriptionPolledRefresh" || once->exchange(true))
                     return std::nullopt;
                 return "<?xml version=\"1.0\"?><soap:Envelope xmlns:soap=\"http://"
                        "schemas.xmlsoap.org/soap/envelope/\"><soap:Body><soap:Fault xmlns:opc="
                        "\"http://opcfoundation.org/webservices/XMLDA/1.0/\"><faultcode>opc:"
                        "E_NOSUBSCRIPTION</faultcode><faultstring>No such subscription."
                        "</faultstring></soap:Fault></soap:Body></soap:Envelope>";
             });
         },
         "opc:E_NOSUBSCRIPTION"},
        // Last: its group stays (cancelling an expired subscription would be refused).
        {"idle expiry", nullptr, kForgotten},
    };
    for (const Case& c : cases) {
        if (!c.forget) {
            xmldasim::Switches sw;
            sw.expireIdleMs = 100;  // polled every 400 ms: always expired
            sim->setSwitches(sw);
        }
        TVelqorGroup* g = MakeGroup({"Dynamic/Int"}, true, 400);
        TVelqorItem* item = g->OPCItems().Items(0);
        ASSERT_TRUE(PumpUntil([&] { return ChangesOf("Dynamic/Int") >= 1; })) << c.what;
        recovered = 0;
        interrupted.clear();
        if (c.forget) c.forget(*sim);
        ASSERT_TRUE(PumpUntil([&] { return recovered >= 1; }, 10s)) << c.what;
        EXPECT_NE(interrupted.front().find(c.reason), std::string::npos) << interrupted.front();
        changes.clear();
        ASSERT_TRUE(PumpUntil([&] { return LastQualityOf("Dynamic/Int") == 0xC0; })) << c.what;
        EXPECT_TRUE(g->IsActive()) << c.what;
        EXPECT_EQ(item->Error(), 0) << c.what << ": the loss's error is gone";
        EXPECT_TRUE(lost.empty()) << c.what;
        EXPECT_EQ(shutdowns, 0) << c.what;
        for (const Change& change : changes)
            EXPECT_FALSE(change.ItemIDs.empty()) << c.what << ": news alone is no data change";
        relay->SetCanned(nullptr);
        if (c.forget) server->OPCGroups().RemoveGroup(g->Name());
    }
}

// The service is away for a while: the items say so, attempts fail quietly, and once it is back
// the subscription holds what changed meanwhile (items added, rate, deadband).
TEST_F(RecoveryTest, AnAbsentServiceIsWaitedForAndChangesMadeMeanwhileAreCarriedOver) {
    TVelqorGroup* g = MakeGroup({"Dynamic/Int"}, true, 100);
    ASSERT_TRUE(PumpUntil([&] { return ChangesOf("Dynamic/Int") >= 1; }));
    sim->stop();
    ASSERT_TRUE(PumpUntil([&] { return !interrupted.empty(); }));
    EXPECT_NE(interrupted.front().find("connection to the server lost"), std::string::npos)
        << interrupted.front();
    EXPECT_EQ(LastQualityOf("Dynamic/Int"), kQualityBadNotConnected);
    const TVelqorItem* first = g->OPCItems().Items(0);
    EXPECT_EQ(first->ErrorText(), interrupted.front());
    const size_t before = relay->Count("Subscribe");
    ASSERT_TRUE(PumpUntil([&] { return relay->Count("Subscribe") >= before + 2; }))
        << "attempts go on while the service is away";

    g->OPCItems().AddItem("Dynamic/Double");
    g->SetUpdateRate(150);
    g->SetDeadBand(1);
    EXPECT_TRUE(shown.empty()) << shown.front();
    EXPECT_TRUE(Transport(g)->Recovering());

    sim->start();
    ASSERT_TRUE(PumpUntil([&] { return recovered >= 1; }));
    const std::string body = relay->Requests("Subscribe").back().Body;
    EXPECT_EQ(Occurrences(body, "<Items "), 2u) << body;
    EXPECT_EQ(Attribute(body, "RequestedSamplingRate"), "150");
    EXPECT_EQ(Attribute(body, "Deadband"), "1");
    changes.clear();
    ASSERT_TRUE(PumpUntil([&] {
        return LastQualityOf("Dynamic/Int") == 0xC0 && LastQualityOf("Dynamic/Double") == 0xC0;
    }));
    EXPECT_TRUE(server->Active());
    EXPECT_EQ(shutdowns, 0);
    EXPECT_TRUE(lost.empty());
}

// Past the limit of attempts, or with recovery off, the group becomes inactive with one lost
// event and nothing more is sent.
TEST_F(RecoveryTest, PastTheLimitOrSwitchedOffTheGroupIsLostForGood) {
    struct Case {
        bool enabled;
        std::function<void(xmldasim::Service&)> loseIt;
        const char* reason;
    };
    const Case cases[] = {
        {true, [](xmldasim::Service& s) { s.stop(); }, "subscribing again failed 2 times"},
        {false, [](xmldasim::Service& s) { s.dropAllSubscriptions(); },
         "the server no longer knows the subscription"},
    };
    for (const Case& c : cases) {
        lost.clear();
        interrupted.clear();
        server->OPCGroupDefault().Resubscribe.Enabled = c.enabled;
        server->OPCGroupDefault().Resubscribe.MaxAttempts = 2;
        TVelqorGroup* g = MakeGroup({"Dynamic/Int"}, true, 100);
        ASSERT_TRUE(PumpUntil([&] { return ChangesOf("Dynamic/Int") >= 1; })) << c.reason;
        c.loseIt(*sim);
        ASSERT_TRUE(PumpUntil([&] { return !lost.empty(); })) << c.reason;
        EXPECT_NE(lost.front().find(c.reason), std::string::npos) << lost.front();
        EXPECT_EQ(interrupted.size(), c.enabled ? 1u : 0u) << c.reason;
        EXPECT_FALSE(g->IsActive());
        EXPECT_FALSE(Transport(g)->Recovering());
        EXPECT_EQ(LastQualityOf("Dynamic/Int"), 0x1C);
        EXPECT_EQ(uint32_t(g->OPCItems().Items(0)->Error()), 0xC0040001u);
        if (!sim->running()) sim->start();
        relay->Clear();
        loop.RunFor(300ms);
        EXPECT_EQ(relay->Count("Subscribe"), 0u) << c.reason;
        EXPECT_EQ(lost.size(), 1u);
        EXPECT_EQ(shutdowns, 0);
        server->OPCGroups().RemoveGroup(g->Name());
    }
}

// Deactivating or removing the group during the wait ends the recovery: no attempt follows and
// nothing more is reported.
TEST_F(RecoveryTest, DeactivatingOrRemovingDuringTheWaitEndsTheRecovery) {
    server->OPCGroupDefault().Resubscribe.FirstDelayMs = 60000;
    for (const bool remove : {false, true}) {
        interrupted.clear();
        TVelqorGroup* g = MakeGroup({"Dynamic/Int"}, true, 100);
        const std::string name = g->Name();
        const size_t timers = loop.TimerCount();
        sim->dropAllSubscriptions();
        ASSERT_TRUE(PumpUntil([&] { return !interrupted.empty(); }));
        ASSERT_TRUE(Transport(g)->Recovering());
        EXPECT_EQ(loop.TimerCount(), timers + 1) << "one pending attempt";
        relay->Clear();
        if (remove) {
            server->OPCGroups().RemoveGroup(name);
        } else {
            g->SetIsActive(false);
            EXPECT_FALSE(Transport(g)->Recovering());
        }
        EXPECT_EQ(loop.TimerCount(), timers) << "the pending attempt is gone";
        loop.RunFor(200ms);
        EXPECT_EQ(relay->Count("Subscribe"), 0u);
        EXPECT_EQ(relay->Count("SubscriptionCancel"), 0u)
            << "the forgotten handle is not cancelled";
        EXPECT_EQ(recovered, 0);
        EXPECT_TRUE(lost.empty());
        if (!remove) server->OPCGroups().RemoveGroup(name);
    }
}

}  // namespace
}  // namespace velqor::xmlgrouptest
