// The bridge's side of the broker: one MQTT client (libmosquitto) with a bounded buffer of its
// own in front of it, so that what is published while the broker is away is kept, sent in order
// once it is back, and - when the buffer is full - the oldest is dropped and counted, not lost
// unseen.
//
// libmosquitto rather than Eclipse Paho: with Paho's C++ client the bridge spent about 60 us of
// CPU on each QoS 1 value, most of it in the client (a token per message, hand-offs between its
// threads, waits on its locks). libmosquitto takes a message on the calling thread straight
// into its send queue and reports each acknowledgement with a plain callback.
//
// Threads: Publish and GetStats may be called from any thread (the bridge calls them on its
// event loop); while the broker takes messages, Publish hands them to the client at once. The
// link's network thread runs the client's loop: it connects, reconnects, writes and reads, and
// in the client's callbacks counts acknowledgements, passes incoming messages to onMessage and
// hands over what waited in the buffer.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;

namespace tagscope::bridge {

struct BrokerOptions {
    std::string url;                        // mqtt://host:port or mqtts://host:port
    std::string cafile, certfile, keyfile;  // mqtts: trusted CAs, this client's certificate
    std::string user, password;
    int version = 5;  // 4: MQTT 3.1.1, 5: MQTT 5
    std::string clientId;
    int qos = 1;
    bool retain = false;
    size_t bufferLimit = 100000;  // messages kept while the broker is away
    int inFlight = 100;           // messages handed to the client and not yet acknowledged
};

struct BrokerAddress {
    std::string host;
    int port = 0;
    bool tls = false;
};
// The host and port of an mqtt://host[:port] or mqtts://host[:port] URL (ports 1883 and 8883
// when none is given; an IPv6 host in brackets); raises std::invalid_argument for anything else.
BrokerAddress ParseBrokerUrl(const std::string& url);

class MqttLink {
  public:
    using MessageHandler = std::function<void(std::string topic, std::string payload)>;
    using LogHandler = std::function<void(const std::string& line)>;

    // stateTopic carries "online" (retained) while connected and the will "offline";
    // droppedTopic the number of messages dropped so far, published after a loss.
    MqttLink(BrokerOptions options, std::string stateTopic, std::string droppedTopic,
             MessageHandler onMessage, LogHandler log);
    ~MqttLink();  // Stop with no time to flush
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // Subscribes to these topics (at QoS 1) on each connect; call before Start.
    void SetSubscriptions(std::vector<std::string> topics);
    // Starts connecting (and reconnecting whenever the connection is lost).
    void Start();
    // Queues a message with the link's QoS; when the buffer is full the oldest goes.
    void Publish(std::string topic, std::string payload, bool retain);
    // Sends what is queued, for at most flushLimit, then says "offline" and disconnects.
    // True when nothing was left unsent.
    bool Stop(std::chrono::milliseconds flushLimit);

    struct Stats {
        uint64_t queued = 0;     // accepted by Publish
        uint64_t delivered = 0;  // acknowledged by the broker (QoS 1) or sent (QoS 0)
        uint64_t dropped = 0;    // dropped from a full buffer
        size_t buffered = 0;     // waiting or in flight now
        uint64_t reconnects = 0;
        bool connected = false;
    };
    Stats GetStats() const;

  private:
    struct Callbacks;
    struct Message {
        std::string topic, payload;
        bool retain;
    };
    void Run();
    int Connect();
    void OnConnect(int rc, int receiveMaximum);
    void OnDisconnect();
    void OnPublish(int mid);
    // With mu_ held: what the buffer holds, as far as the in-flight window allows, once the
    // client has sent again what was in flight before a reconnect.
    void Pump();
    // With mu_ held: the link's own retained QoS 1 messages, not counted as values; the
    // message ID, or -1 when not taken.
    int PublishOwn(const std::string& topic, const std::string& text);
    bool Idle() const { return queue_.empty() && inFlight_ == 0; }

    BrokerOptions options_;
    std::string stateTopic_, droppedTopic_;
    MessageHandler onMessage_;
    LogHandler log_;
    std::vector<std::string> subscriptions_;
    ::mosquitto* client_ = nullptr;

    mutable std::mutex mu_;
    std::condition_variable changed_;
    std::deque<Message> queue_;
    int inFlight_ = 0;        // values handed to the client, not yet acknowledged (or written)
    int window_ = 0;          // in flight at most: ours, or less if the broker says so
    bool connected_ = false;  // the broker accepted the connection
    bool ready_ = false;      // and what was in flight before it has been sent again
    bool closing_ = false;    // Stop is ending the connection: no reconnecting
    std::set<int> ownMids_;   // own messages not yet acknowledged
    uint64_t queued_ = 0, delivered_ = 0, dropped_ = 0, droppedReported_ = 0, reconnects_ = 0;
    uint64_t connects_ = 0;
    std::chrono::steady_clock::time_point nextDropReport_;
    std::thread network_;
};

}  // namespace tagscope::bridge
