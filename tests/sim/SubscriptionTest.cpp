// Subscribe, SubscriptionPolledRefresh (hold and wait times, changes only) and SubscriptionCancel.
#include <future>
#include <thread>

#include "SimClient.h"
#include "support/WaitUntil.h"
#include "xmlda/Values.h"

using namespace simtest;
using velqor::test::WaitUntil;
using velqor::xmldasim::formatDateTime;
using velqor::xmldasim::parseDateTime;

namespace {

std::string subItem(const std::string& name, const std::string& handle,
                    const std::string& extra = {}) {
    return "<Items ItemName=\"" + name + "\" ClientItemHandle=\"" + handle + "\" " + extra + "/>";
}

class SimSubscribe : public SimTest {
  protected:
    // Subscribes and returns the handle ("" when the service made none).
    std::string subscribe(const std::string& items,
                          const std::string& listAttrs = "RequestedSamplingRate=\"100\"",
                          const std::string& attrs = "ReturnValuesOnReply=\"true\"",
                          Reply* out = nullptr) {
        Reply r = call("Subscribe", attrs,
                       "<Options ReturnItemTime=\"true\"/><ItemList " + listAttrs + ">" + items +
                           "</ItemList>");
        EXPECT_EQ(r.status, 200) << r.body.substr(0, 400);
        if (out) *out = r;
        return r.str("//o:SubscribeResponse/@ServerSubHandle");
    }
    static std::string handles(const std::vector<std::string>& hs) {
        std::string s;
        for (const auto& h : hs) s += "<ServerSubHandles>" + h + "</ServerSubHandles>";
        return s;
    }
    Reply poll(const std::vector<std::string>& hs, const std::string& attrs = {}) {
        return call("SubscriptionPolledRefresh", attrs,
                    "<Options ReturnItemTime=\"true\"/>" + handles(hs));
    }
    // count polls of the subscription h, each on a thread of its own and waiting up to waitMs.
    std::vector<std::future<Reply>> startPolls(const std::string& h, int count, int waitMs) {
        std::vector<std::future<Reply>> polls;
        for (int i = 0; i < count; ++i)
            polls.push_back(std::async(std::launch::async, [this, h, waitMs] {
                return poll({h}, "WaitTime=\"" + std::to_string(waitMs) + "\"");
            }));
        return polls;
    }
    static std::string holdIn(int ms) {
        auto t = std::chrono::time_point_cast<std::chrono::milliseconds>(
                     std::chrono::system_clock::now()) +
                 std::chrono::milliseconds(ms);
        return formatDateTime(t);
    }
};

std::chrono::milliseconds between(const Reply& r, const char* from, const char* to) {
    auto a = parseDateTime(r.str(std::string("//o:SubscriptionPolledRefreshResult/@") + from));
    auto b = parseDateTime(r.str(std::string("//o:SubscriptionPolledRefreshResult/@") + to));
    EXPECT_TRUE(a && b);
    return a && b ? *b - *a : std::chrono::milliseconds(0);
}

}  // namespace

TEST_F(SimSubscribe, SubscribeReturnsValuesAndPerItemErrors) {
    Reply r;
    std::string h = subscribe(subItem("Static/Int", "1") + subItem("Nope", "2") +
                                  subItem("WriteOnly/Int", "3") +
                                  subItem("Static/String", "4", "ReqType=\"xsd:int\"") +
                                  subItem("Plant/Area1/Tank1/Level", "5", "Deadband=\"150\"") +
                                  subItem("Static/Double", "6", "RequestedSamplingRate=\"1\""),
                              "RequestedSamplingRate=\"10\"", "ReturnValuesOnReply=\"true\"", &r);
    EXPECT_FALSE(h.empty());
    const std::string items = "//o:RItemList/o:Items";
    auto iv = [&](const char* ch) {
        return items + "/o:ItemValue[@ClientItemHandle='" + ch + "']";
    };
    EXPECT_EQ(r.count(items), 6);
    EXPECT_EQ(r.str(iv("1") + "/o:Value/@xsi:type"), "xsd:int");
    EXPECT_TRUE(r.has(iv("1") + "/@Timestamp"));
    EXPECT_EQ(r.str(iv("2") + "/@ResultID"), "E_UNKNOWNITEMNAME");
    EXPECT_EQ(r.str(iv("3") + "/@ResultID"), "E_WRITEONLY");
    EXPECT_EQ(r.str(iv("4") + "/@ResultID"), "E_BADTYPE");
    EXPECT_EQ(r.str(iv("5") + "/@ResultID"), "E_RANGE");
    // Rates below what the service samples at are revised, for the list and for an item.
    EXPECT_EQ(r.str("//o:RItemList/@RevisedSamplingRate"), "50");
    EXPECT_EQ(r.str(items + "[o:ItemValue/@ClientItemHandle='6']/@RevisedSamplingRate"), "50");
    EXPECT_EQ(sim->subscriptionCount(), 1u);

    // Nothing valid: no subscription at all.
    Reply none;
    EXPECT_EQ(subscribe(subItem("Nope", "x"), "", "ReturnValuesOnReply=\"true\"", &none), "");
    EXPECT_EQ(none.str("//o:ItemValue/@ResultID"), "E_UNKNOWNITEMNAME");
}

TEST_F(SimSubscribe, PollsReportOnlyChanges) {
    std::string h = subscribe(subItem("Static/Int", "s") + subItem("Dynamic/Int", "d"));
    ASSERT_FALSE(h.empty());
    // The subscribe reply carried the values; static values are never reported again, the
    // dynamic one once it has changed.
    Reply first;
    EXPECT_TRUE(WaitUntil([&] {
        first = poll({h});
        EXPECT_FALSE(first.has("//o:Items[@ClientItemHandle='s']"));
        EXPECT_FALSE(first.has("//o:InvalidServerSubHandles"));
        return first.has("//o:Items[@ClientItemHandle='d']");
    }));
    EXPECT_EQ(first.str("//o:RItemList/@SubscriptionHandle"), h);
    Reply all = poll({h}, "ReturnAllItems=\"true\"");
    EXPECT_TRUE(all.has("//o:Items[@ClientItemHandle='s']/o:Value"));
    EXPECT_TRUE(all.has("//o:Items[@ClientItemHandle='d']/o:Value"));
}

TEST_F(SimSubscribe, WithoutReturnValuesTheFirstPollDeliversEverything) {
    std::string h = subscribe(subItem("Static/Int", "s"), "", "ReturnValuesOnReply=\"false\"");
    Reply first = poll({h});
    EXPECT_TRUE(first.has("//o:Items[@ClientItemHandle='s']/o:Value"));
    Reply second = poll({h});
    EXPECT_FALSE(second.has("//o:RItemList"));
}

TEST_F(SimSubscribe, HoldTimeDelaysTheAnswer) {
    std::string h = subscribe(subItem("Dynamic/Int", "d"));
    const std::string hold = holdIn(300);
    Reply r = poll({h}, "HoldTime=\"" + hold + "\"");
    EXPECT_GE(*parseDateTime(r.str("//o:SubscriptionPolledRefreshResult/@ReplyTime")),
              *parseDateTime(hold));
    EXPECT_TRUE(r.has("//o:Items[@ClientItemHandle='d']"));  // changed while it was held
}

TEST_F(SimSubscribe, WaitTimeEndsWithoutChange) {
    std::string h = subscribe(subItem("Static/Int", "s"));
    Reply r = poll({h}, "HoldTime=\"" + holdIn(0) + "\" WaitTime=\"300\"");
    EXPECT_GE(between(r, "RcvTime", "ReplyTime").count(), 300);
    EXPECT_FALSE(r.has("//o:RItemList"));
    EXPECT_FALSE(r.has("//o:InvalidServerSubHandles"));
}

TEST_F(SimSubscribe, AWriteEndsTheWaitWithTheNewValue) {
    std::string h = subscribe(subItem("Writable/Int", "w"));
    auto pending = std::async(std::launch::async, [&] {
        return poll({h}, "HoldTime=\"" + holdIn(0) + "\" WaitTime=\"20000\"");
    });
    ASSERT_TRUE(WaitUntil([&] { return sim->pollsWaiting() == 1; }));
    Reply w = call("Write", "",
                   "<ItemList><Items ItemName=\"Writable/Int\"><Value "
                   "xsi:type=\"xsd:int\">777</Value></Items></ItemList>");
    EXPECT_FALSE(w.has("//@ResultID"));
    Reply r = pending.get();
    EXPECT_EQ(r.str("//o:Items[@ClientItemHandle='w']/o:Value"), "777");
    EXPECT_LT(between(r, "RcvTime", "ReplyTime").count(), 20000);
}

TEST_F(SimSubscribe, DeadbandSuppressesSmallAnalogChanges) {
    std::string quiet = subscribe(subItem("Plant/Area1/Tank1/Level", "l"),
                                  "Deadband=\"100\" RequestedSamplingRate=\"50\"");
    std::string loud = subscribe(subItem("Plant/Area1/Tank1/Level", "l"),
                                 "Deadband=\"0\" RequestedSamplingRate=\"50\"");
    // Polls until the level has moved for the list without a deadband; the other never reports.
    EXPECT_TRUE(WaitUntil([&] {
        Reply r = poll({quiet, loud});
        EXPECT_FALSE(r.has("//o:RItemList[@SubscriptionHandle='" + quiet + "']"));
        return r.has("//o:RItemList[@SubscriptionHandle='" + loud + "']/o:Items");
    }));
}

TEST_F(SimSubscribe, SeveralHandlesInOnePollAndInvalidOnes) {
    std::string a = subscribe(subItem("Static/Int", "a"), "", "ReturnValuesOnReply=\"false\"");
    std::string b = subscribe(subItem("Static/String", "b"), "", "ReturnValuesOnReply=\"false\"");
    Reply r = poll({a, "no-such-handle", b});
    EXPECT_EQ(r.count("//o:RItemList"), 2);
    EXPECT_EQ(r.str("//o:RItemList[@SubscriptionHandle='" + b + "']/o:Items/@ClientItemHandle"),
              "b");
    EXPECT_EQ(r.count("//o:InvalidServerSubHandles"), 1);
    EXPECT_EQ(r.str("//o:InvalidServerSubHandles"), "no-such-handle");
}

TEST_F(SimSubscribe, CancelledDroppedAndRestartedHandlesAreInvalid) {
    std::string a = subscribe(subItem("Static/Int", "a"));
    Reply c =
        call("SubscriptionCancel", "ServerSubHandle=\"" + a + "\" ClientRequestHandle=\"cx\"");
    EXPECT_EQ(c.status, 200);
    EXPECT_EQ(c.str("//o:SubscriptionCancelResponse/@ClientRequestHandle"), "cx");
    EXPECT_EQ(poll({a}).str("//o:InvalidServerSubHandles"), a);
    Reply again = call("SubscriptionCancel", "ServerSubHandle=\"" + a + "\"");
    EXPECT_EQ(again.status, 500);
    EXPECT_EQ(again.str("//s:Fault/faultcode"), "opc:E_NOSUBSCRIPTION");

    std::string b = subscribe(subItem("Static/Int", "b"));
    sim->dropAllSubscriptions();
    EXPECT_EQ(poll({b}).str("//o:InvalidServerSubHandles"), b);

    std::string d = subscribe(subItem("Static/Int", "d"));
    sim->stop();
    sim->start();
    EXPECT_EQ(poll({d}).str("//o:InvalidServerSubHandles"), d);
    // Handles are not reused after a restart.
    EXPECT_NE(subscribe(subItem("Static/Int", "e")), d);
}

TEST_F(SimSubscribe, DropAllWakesAWaitingPoll) {
    std::string h = subscribe(subItem("Static/Int", "s"));
    auto pending = std::async(std::launch::async,
                              [&] { return poll({h}, "HoldTime=\"" + holdIn(30000) + "\""); });
    ASSERT_TRUE(WaitUntil([&] { return sim->pollsWaiting() == 1; }));
    sim->dropAllSubscriptions();
    Reply r = pending.get();
    EXPECT_EQ(r.str("//o:InvalidServerSubHandles"), h);
}

TEST_F(SimSubscribe, SubscriptionsExpireWhenNotPolledWithinThePingRate) {
    std::string h = subscribe(subItem("Static/Int", "s"), "",
                              "ReturnValuesOnReply=\"true\" SubscriptionPingRate=\"100\"");
    std::string kept = subscribe(subItem("Static/Int", "s"), "", "ReturnValuesOnReply=\"true\"");
    // The first expires once it has gone unpolled for twice its ping rate.
    ASSERT_TRUE(WaitUntil([&] { return sim->subscriptionCount() == 1; }));
    Reply r = poll({h, kept});
    EXPECT_EQ(r.count("//o:InvalidServerSubHandles"), 1);
    EXPECT_EQ(r.str("//o:InvalidServerSubHandles"), h);
}

TEST_F(SimSubscribe, HoldTimesTooFarAheadAreRefused) {
    std::string h = subscribe(subItem("Static/Int", "s"));
    Reply r = poll({h}, "HoldTime=\"" + holdIn(3600 * 1000) + "\"");
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.str("//s:Fault/faultcode"), "opc:E_INVALIDHOLDTIME");
}

TEST_F(SimSubscribe, WaitingPollsDoNotBlockOtherRequests) {
    std::string h = subscribe(subItem("Static/Int", "s"));
    std::vector<std::future<Reply>> polls = startPolls(h, 12, 3000);
    ASSERT_TRUE(WaitUntil([&] { return sim->pollsWaiting() == 12; }));
    Reply status = call("GetStatus", "");
    auto statusTime = parseDateTime(status.str("//o:GetStatusResult/@ReplyTime"));
    for (auto& p : polls) {
        Reply r = p.get();
        EXPECT_LT(*statusTime,
                  *parseDateTime(r.str("//o:SubscriptionPolledRefreshResult/@ReplyTime")));
    }
}

TEST_F(SimSubscribe, StopAnswersPendingPollsPromptly) {
    std::string h = subscribe(subItem("Static/Int", "s"));
    std::vector<std::future<Reply>> polls = startPolls(h, 4, 600000);
    ASSERT_TRUE(WaitUntil([&] { return sim->pollsWaiting() == 4; }));
    auto t0 = std::chrono::steady_clock::now();
    sim->stop();
    for (auto& p : polls) p.get();
    // A hang shows as a wait of ten minutes; anything near that is a fault, not slowness.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(60));
}

TEST_F(SimSubscribe, LoadBranchSubscribesTenThousandItems) {
    std::string items;
    char name[32];
    for (int i = 0; i < 10000; ++i) {
        std::snprintf(name, sizeof name, "Load/Item%05d", i);
        items += subItem(name, std::to_string(i));
    }
    Reply r;
    std::string h =
        subscribe(items, "RequestedSamplingRate=\"1000\"", "ReturnValuesOnReply=\"true\"", &r);
    ASSERT_FALSE(h.empty());
    EXPECT_EQ(r.count("//o:RItemList/o:Items/o:ItemValue/o:Value"), 10000);
    Reply all = poll({h}, "ReturnAllItems=\"true\"");
    EXPECT_EQ(all.count("//o:RItemList/o:Items"), 10000);
}
