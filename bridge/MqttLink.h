// The bridge's side of the broker: one MQTT client (Eclipse Paho) with a bounded buffer of its
// own in front of it, so that what is published while the broker is away is kept, sent in order
// once it is back, and - when the buffer is full - the oldest is dropped and counted, not lost
// unseen.
//
// Threads: Publish and the stats may be called from any thread (the bridge calls them on its
// event loop); one sender thread of the link connects, reconnects and hands messages to Paho in
// order; Paho's own threads only count deliveries and pass incoming messages to onMessage.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
    int inFlight = 1000;          // messages handed to the client and not yet acknowledged
};

// The address the client library takes ("tcp://..." or "ssl://..."), from an mqtt:// or
// mqtts:// URL; raises std::invalid_argument for anything else.
std::string ClientAddress(const std::string& url);

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
    class Callbacks;
    struct Message {
        std::string topic, payload;
        bool retain;
    };
    void Run();
    bool Connect(std::unique_lock<std::mutex>& lock);
    void OnLost();
    void OnDelivered();
    bool Idle() const { return queue_.empty() && inFlight_ == 0; }

    BrokerOptions options_;
    std::string stateTopic_, droppedTopic_;
    MessageHandler onMessage_;
    LogHandler log_;
    std::vector<std::string> subscriptions_;
    std::unique_ptr<Callbacks> callbacks_;
    struct Client;
    std::unique_ptr<Client> client_;

    mutable std::mutex mu_;
    std::condition_variable wake_;
    std::deque<Message> queue_;
    int inFlight_ = 0;
    bool connected_ = false;
    bool stopping_ = false;
    uint64_t queued_ = 0, delivered_ = 0, dropped_ = 0, droppedReported_ = 0, reconnects_ = 0;
    bool everConnected_ = false;
    std::chrono::steady_clock::time_point nextDropReport_;
    std::thread sender_;
};

}  // namespace tagscope::bridge
