// tagscope-bridge end to end: the built program between xmlda-sim (in this process) and a real
// mosquitto broker, with outages of either side.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "ChildProcess.h"
#include "MqttPeers.h"
#include "xmlda/XmlDaSim.h"

namespace tagscope::bridgetest {
namespace {

using namespace std::chrono_literals;
using clitest::ChildProcess;
using clitest::Result;

const char* const kTopic = "tagscope/sim/G/";

class BridgeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Broker::Available()) GTEST_SKIP() << "mosquitto is not installed (" MOSQUITTO_PATH ")";
        velqor::xmldasim::Options o;
        o.loadItems = 10;
        o.loadPeriodMs = 100;
        o.clockPeriodMs = 100;
        sim = std::make_unique<velqor::xmldasim::Service>(o);
        sim->start();
        broker.Start();
        subscriber = std::make_unique<Subscriber>(broker.Url(), "tagscope/#");
    }
    void TearDown() override {
        subscriber.reset();
        if (sim) sim->stop();
    }
    // The bridge on a session of the ten Load items and Writable/Int, in a group of 100 ms.
    std::unique_ptr<ChildProcess> StartBridge(std::vector<std::string> extra = {}) {
        std::string items;
        for (int i = 0; i < 10; ++i)
            items += "{\"itemID\": \"Load/Item0000" + std::to_string(i) + "\"}, ";
        std::ofstream(session) << R"({"format": "tagscope-session", "version": 1, "server": ")"
                               << sim->url() << R"(", "groups": [{"name": "G", "updateRate": 100,
            "items": [)" << items
                               << R"({"itemID": "Writable/Int"}]}]})";
        std::vector<std::string> args = {session, "--broker",        broker.Url(), "--server-name",
                                         "sim",   "--flush-timeout", "30"};
        args.insert(args.end(), extra.begin(), extra.end());
        return std::make_unique<ChildProcess>(TAGSCOPE_BRIDGE_PATH, args);
    }
    // A broker and subscriber with nothing of an earlier round.
    void FreshBroker() {
        subscriber.reset();
        broker.Stop();
        broker.Wipe();
        broker.Start();
        subscriber = std::make_unique<Subscriber>(broker.Url(), "tagscope/#");
    }
    // Ends the bridge with SIGTERM; its closing status line's counts.
    struct Counts {
        uint64_t in = 0, out = 0, dropped = 0;
    };
    Counts Finish(ChildProcess& bridge) {
        bridge.Signal(SIGTERM);
        const Result r = bridge.Finish(60s);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::smatch m;
        const std::string last = r.err.substr(std::min(r.err.rfind("status: "), r.err.size()));
        Counts c;
        if (!std::regex_search(last, m,
                               std::regex(R"((\d+) values in, (\d+) out, .* (\d+) dropped)")))
            ADD_FAILURE() << "no status line: " << r.err;
        else
            c = {std::stoull(m[1]), std::stoull(m[2]), std::stoull(m[3])};
        // The offline state is the last thing the bridge says.
        EXPECT_TRUE(subscriber->WaitFor("tagscope/$state", "offline"));
        return c;
    }
    // The values received per item topic in order of first arrival (a QoS 1 repeat after a
    // broker restart is counted once); repeats counted in dups.
    std::map<std::string, std::vector<std::string>> ValuesByItem(size_t* dups = nullptr) const {
        std::map<std::string, std::vector<std::string>> by;
        std::set<std::pair<std::string, std::string>> seen;
        for (const auto& r : subscriber->Got()) {
            if (!r.topic.starts_with(kTopic) || r.topic.find("/set") != std::string::npos) continue;
            if (!seen.insert({r.topic, r.payload}).second) {
                if (dups) ++*dups;
                continue;
            }
            by[r.topic].push_back(r.payload);
        }
        return by;
    }
    static std::string Stamp(const std::string& payload) {
        std::smatch m;
        std::regex_search(payload, m, std::regex(R"("timestamp":("[^"]*"|null))"));
        return m[1];
    }
    // Every value arrived in order per item (timestamps rising); how many there are.
    size_t CheckOrder() const {
        size_t n = 0;
        for (const auto& [topic, values] : ValuesByItem()) {
            for (size_t i = 1; i < values.size(); ++i)
                EXPECT_LT(Stamp(values[i - 1]), Stamp(values[i])) << topic << " at " << i;
            n += values.size();
        }
        return n;
    }

    std::string session = ::testing::TempDir() + "bridge-session.json";
    Broker broker;
    std::unique_ptr<velqor::xmldasim::Service> sim;
    std::unique_ptr<Subscriber> subscriber;
};

TEST_F(BridgeTest, EveryChangeArrivesOnceAndInOrderWithTheStateAroundIt) {
    for (const char* qos : {"1", "0"}) {
        SCOPED_TRACE(std::string("QoS ") + qos);
        auto bridge = StartBridge({"--qos", qos});
        ASSERT_TRUE(subscriber->WaitFor("tagscope/$state", "online"));
        ASSERT_TRUE(velqor::test::WaitUntil([&] { return subscriber->Got().size() > 200; }, 30s));
        const Counts c = Finish(*bridge);
        ASSERT_TRUE(velqor::test::WaitUntil([&] { return CheckOrder() >= c.out; }, 10s));
        size_t dups = 0;
        ValuesByItem(&dups);
        EXPECT_EQ(dups, 0u);
        EXPECT_EQ(c.in, c.out);
        EXPECT_EQ(CheckOrder(), c.in);
        EXPECT_EQ(ValuesByItem().size(), 11u);
        const auto first = subscriber->Find("Load/Item00003", "\"type\":\"I4\"");
        ASSERT_TRUE(first);
        EXPECT_TRUE(std::regex_match(
            first->payload,
            std::regex(R"(\{"value":-?\d+,"quality":"good","qualityCode":192,)"
                       R"("timestamp":"\d{4}-\d\d-\d\dT[0-9:.]{12}Z","type":"I4"\})")))
            << first->payload;
        FreshBroker();
    }
}

// A broker away for a few seconds: within the buffer every value arrives after it is back, in
// order; beyond it the oldest go, and their number is published and logged.
TEST_F(BridgeTest, ABrokerOutageLosesNothingWithinTheBufferAndCountsWhatItDrops) {
    for (const bool overflow : {false, true}) {
        SCOPED_TRACE(overflow ? "small buffer" : "large buffer");
        auto bridge = StartBridge({"--buffer", overflow ? "20" : "100000"});
        ASSERT_TRUE(subscriber->WaitFor("tagscope/$state", "online"));
        ASSERT_TRUE(velqor::test::WaitUntil([&] { return subscriber->Got().size() > 30; }, 30s));
        broker.Stop();
        std::this_thread::sleep_for(3s);  // about 300 changes kept or dropped meanwhile
        broker.Start();
        ASSERT_TRUE(velqor::test::WaitUntil([&] { return subscriber->Got().size() > 400; }, 30s));
        const Counts c = Finish(*bridge);
        ASSERT_TRUE(velqor::test::WaitUntil([&] { return CheckOrder() >= c.in - c.dropped; }, 20s));
        EXPECT_EQ(CheckOrder(), c.in - c.dropped);
        if (overflow) {
            EXPECT_GT(c.dropped, 0u);
            EXPECT_TRUE(subscriber->Find("tagscope/$dropped", std::to_string(c.dropped)));
        } else {
            EXPECT_EQ(c.dropped, 0u);
        }
        FreshBroker();
    }
}

TEST_F(BridgeTest, AServerOutageSaysNotConnectedOnceAndValuesFollowItsReturn) {
    auto bridge = StartBridge();
    ASSERT_TRUE(subscriber->WaitFor("Load/Item00000", "\"good\""));
    sim->stop();
    ASSERT_TRUE(subscriber->WaitFor("Load/Item00000", "badNotConnected"));
    std::this_thread::sleep_for(2s);  // failed attempts to subscribe again meanwhile
    sim->start();
    const size_t before = subscriber->Got().size();
    ASSERT_TRUE(velqor::test::WaitUntil(
        [&] {
            auto got = subscriber->Got();
            return got.size() > before + 20 &&
                   got.back().payload.find("\"good\"") != std::string::npos;
        },
        30s));
    Finish(*bridge);
    for (const auto& [topic, values] : ValuesByItem()) {
        EXPECT_EQ(std::count_if(values.begin(), values.end(),
                                [](const std::string& v) {
                                    return v.find("badNotConnected") != std::string::npos;
                                }),
                  1)
            << topic;
    }
}

TEST_F(BridgeTest, WritesFromSetTopicsOnlyWhenAllowed) {
    const std::string set = std::string(kTopic) + "Writable/Int/set";
    for (const bool allowed : {false, true}) {
        SCOPED_TRACE(allowed ? "--allow-writes" : "writes off");
        auto bridge = StartBridge(allowed ? std::vector<std::string>{"--allow-writes"}
                                          : std::vector<std::string>{});
        ASSERT_TRUE(subscriber->WaitFor("Writable/Int", "\"good\""));
        subscriber->Publish(set, allowed ? "4242" : "1717");
        if (allowed) {
            ASSERT_TRUE(subscriber->WaitFor("Writable/Int/set/result", "{\"ok\":true}"));
            EXPECT_TRUE(subscriber->WaitFor("Writable/Int", "\"value\":4242"));
            // A value the item's type cannot take is refused with the reason.
            subscriber->Publish(set, "\"many\"");
            EXPECT_TRUE(subscriber->WaitFor("Writable/Int/set/result", "cannot"));
        } else {
            EXPECT_TRUE(subscriber->WaitFor("Writable/Int/set/result", "--allow-writes"));
            EXPECT_FALSE(subscriber->Find("Writable/Int", "\"value\":1717"));
        }
        Finish(*bridge);
        FreshBroker();
    }
}

}  // namespace
}  // namespace tagscope::bridgetest
