// Topic names and write requests of tagscope-bridge.
#include <gtest/gtest.h>

#include <stdexcept>

#include "Bridge.h"
#include "MqttLink.h"
#include "Payload.h"
#include "Topics.h"

namespace tagscope::bridge {
namespace {

TEST(BridgeTopics, NamesEscapeReversiblyAndNeverActAsWildcards) {
    const struct {
        std::string name;
        bool keepSlashes;
        std::string level;
    } cases[] = {
        {"Plant/Area1/Level", true, "Plant/Area1/Level"},
        {"Plant/Area1/Level", false, "Plant%2FArea1%2FLevel"},
        {"a+b#c", true, "a%2Bb%23c"},
        {"100%", true, "100%25"},
        {"%2B", true, "%252B"},  // an escape-like name stays itself
        {std::string("nul\0here", 8), true, "nul%00here"},
        {"Temperatur °C", true, "Temperatur °C"},
        {"", true, ""},
    };
    for (const auto& c : cases) {
        const std::string level = EscapeTopicName(c.name, c.keepSlashes);
        EXPECT_EQ(level, c.level) << c.name;
        EXPECT_EQ(UnescapeTopicName(level), c.name) << c.name;
        EXPECT_EQ(level.find_first_of("+#"), std::string::npos);
        EXPECT_EQ(level.find('\0'), std::string::npos);
    }
    const TopicTemplate t(TopicTemplate::kDefault, false);
    EXPECT_EQ(t.Topic("host:80", "G/1", "A/B+"), "tagscope/host:80/G%2F1/A%2FB%2B");
    EXPECT_EQ(t.Prefix(), "tagscope");
    EXPECT_EQ(ServerLevelName("http://127.0.0.1:8080/opc/xmlda"), "127.0.0.1:8080");
    EXPECT_EQ(ServerLevelName("Velqor.Sim.DA2"), "Velqor.Sim.DA2");
    for (const char* bad :
         {"tagscope/<server>", "tagscope/+/<item ID>", "<item ID>", "a/#/<item ID>"})
        EXPECT_THROW(TopicTemplate{bad}, std::invalid_argument) << bad;
}

TEST(BridgeTopics, WriteRequestsBecomeValueTextsOrClearRefusals) {
    const struct {
        std::string json, text;
    } good[] = {
        {"42", "42"},          {"-1.5e3", "-1500.0"},   {"true", "true"}, {"\"a b\"", "a b"},
        {"[1,2,3]", "1;2;3;"}, {"{\"value\": 7}", "7"}, {"[]", ""},
    };
    for (const auto& g : good) EXPECT_EQ(WriteTextFromJson(g.json), g.text) << g.json;
    for (const char* bad :
         {"", "nope", "null", "{\"v\": 1}", "[[1]]", "[\"a;b\"]", "{\"value\": {}}"})
        EXPECT_THROW(WriteTextFromJson(bad), std::invalid_argument) << bad;
}

TEST(BridgeTopics, BrokerUrlsGiveHostPortAndTls) {
    const struct {
        std::string url, host;
        int port;
        bool tls;
    } good[] = {
        {"mqtt://127.0.0.1:19183", "127.0.0.1", 19183, false},
        {"mqtt://broker", "broker", 1883, false},
        {"mqtts://broker.example/", "broker.example", 8883, true},
        {"mqtts://[::1]:8884", "::1", 8884, true},
        {"mqtt://[fe80::1]", "fe80::1", 1883, false},
    };
    for (const auto& g : good) {
        const BrokerAddress a = ParseBrokerUrl(g.url);
        EXPECT_EQ(a.host, g.host) << g.url;
        EXPECT_EQ(a.port, g.port) << g.url;
        EXPECT_EQ(a.tls, g.tls) << g.url;
    }
    for (const char* bad :
         {"tcp://host:1883", "mqtt://", "mqtt://:1883", "mqtt://host:0", "mqtt://host:65536",
          "mqtt://host:18x3", "mqtt://host/path", "mqtt://user@host", "mqtt://::1:1883"})
        EXPECT_THROW(ParseBrokerUrl(bad), std::invalid_argument) << bad;
}

}  // namespace
}  // namespace tagscope::bridge
