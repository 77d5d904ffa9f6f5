#include "MqttLink.h"

#include <mqtt/async_client.h>

#include <algorithm>
#include <stdexcept>

namespace tagscope::bridge {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kConnectLimit = std::chrono::seconds(5);
constexpr auto kFirstRetry = std::chrono::milliseconds(250);
constexpr auto kMaxRetry = std::chrono::seconds(5);
constexpr size_t kTopicsPerSubscribe = 500;
// While the broker cannot keep up, drops go on: they are told this often, not per message.
constexpr auto kDropReportEvery = std::chrono::seconds(10);
}  // namespace

std::string ClientAddress(const std::string& url) {
    for (auto [scheme, client] : {std::pair{"mqtt://", "tcp://"}, std::pair{"mqtts://", "ssl://"}})
        if (url.starts_with(scheme) && url.size() > std::string_view(scheme).size())
            return client + url.substr(std::string_view(scheme).size());
    throw std::invalid_argument("the broker \"" + url +
                                "\" is not an mqtt://host:port or mqtts://host:port address");
}

struct MqttLink::Client {
    Client(const BrokerOptions& o)
        : client(ClientAddress(o.url), o.clientId, CreateOptions(o), nullptr) {}
    static mqtt::create_options CreateOptions(const BrokerOptions& o) {
        // Messages handed over while the connection is just being lost stay with the client
        // and go out after the reconnect; the bound is the link's in-flight window.
        mqtt::create_options c(o.version == 5 ? MQTTVERSION_5 : MQTTVERSION_3_1_1, o.inFlight);
        c.set_send_while_disconnected(true, true);
        return c;
    }
    mqtt::async_client client;
    mqtt::connect_options connect;
};

// Paho's callbacks, on Paho's threads: they count and pass on, nothing more.
class MqttLink::Callbacks : public mqtt::callback {
  public:
    explicit Callbacks(MqttLink& link) : link_(link) {}
    void connection_lost(const std::string&) override { link_.OnLost(); }
    void delivery_complete(mqtt::delivery_token_ptr token) override {
        // The link's own state and drop-count messages are not among those it counts.
        auto m = token ? token->get_message() : nullptr;
        if (m && (m->get_topic() == link_.stateTopic_ || m->get_topic() == link_.droppedTopic_))
            return;
        link_.OnDelivered();
    }
    void message_arrived(mqtt::const_message_ptr m) override {
        if (link_.onMessage_) link_.onMessage_(m->get_topic(), m->get_payload_str());
    }

  private:
    MqttLink& link_;
};

MqttLink::MqttLink(BrokerOptions options, std::string stateTopic, std::string droppedTopic,
                   MessageHandler onMessage, LogHandler log)
    : options_(std::move(options)),
      stateTopic_(std::move(stateTopic)),
      droppedTopic_(std::move(droppedTopic)),
      onMessage_(std::move(onMessage)),
      log_(std::move(log)),
      callbacks_(std::make_unique<Callbacks>(*this)),
      client_(std::make_unique<Client>(options_)) {
    mqtt::connect_options& c = client_->connect;
    c.set_mqtt_version(options_.version == 5 ? MQTTVERSION_5 : MQTTVERSION_3_1_1);
    // The session outlives a lost connection, so that messages in flight are sent again.
    if (options_.version == 5) {
        c.set_clean_start(false);
        c.set_properties({{mqtt::property::SESSION_EXPIRY_INTERVAL, 24 * 3600}});
    } else {
        c.set_clean_session(false);
    }
    c.set_keep_alive_interval(30);
    c.set_connect_timeout(int(kConnectLimit.count()));
    c.set_max_inflight(options_.inFlight);
    c.set_will_message(mqtt::message::create(stateTopic_, "offline", 1, true));
    if (!options_.user.empty()) c.set_user_name(options_.user);
    if (!options_.password.empty()) c.set_password(options_.password);
    if (options_.url.starts_with("mqtts://")) {
        mqtt::ssl_options ssl;
        if (!options_.cafile.empty()) ssl.set_trust_store(options_.cafile);
        if (!options_.certfile.empty()) ssl.set_key_store(options_.certfile);
        if (!options_.keyfile.empty()) ssl.set_private_key(options_.keyfile);
        ssl.set_enable_server_cert_auth(true);
        ssl.set_verify(true);
        c.set_ssl(std::move(ssl));
    }
    client_->client.set_callback(*callbacks_);
}

MqttLink::~MqttLink() { Stop(std::chrono::milliseconds(0)); }

void MqttLink::SetSubscriptions(std::vector<std::string> topics) {
    subscriptions_ = std::move(topics);
}

void MqttLink::Start() {
    sender_ = std::thread([this] { Run(); });
}

void MqttLink::Publish(std::string topic, std::string payload, bool retain) {
    {
        std::lock_guard lock(mu_);
        if (queue_.size() >= options_.bufferLimit) {
            queue_.pop_front();
            ++dropped_;
        }
        queue_.push_back({std::move(topic), std::move(payload), retain});
        ++queued_;
    }
    wake_.notify_all();
}

MqttLink::Stats MqttLink::GetStats() const {
    std::lock_guard lock(mu_);
    return {queued_,     delivered_, dropped_, queue_.size() + size_t(inFlight_),
            reconnects_, connected_};
}

void MqttLink::OnLost() {
    {
        std::lock_guard lock(mu_);
        connected_ = false;
    }
    if (log_) log_("lost the broker; keeping values until it is back");
    wake_.notify_all();
}

void MqttLink::OnDelivered() {
    {
        std::lock_guard lock(mu_);
        if (inFlight_ > 0) --inFlight_;
        ++delivered_;
    }
    wake_.notify_all();
}

bool MqttLink::Connect(std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    std::string failure;
    try {
        auto token = client_->client.connect(client_->connect);
        if (!token->wait_for(kConnectLimit + std::chrono::seconds(1)))
            failure = "no answer from the broker";
    } catch (const mqtt::exception& e) {
        failure = e.what();
    }
    if (failure.empty()) {
        try {
            // The broker may have forgotten the session: subscriptions are made again each time.
            for (size_t i = 0; i < subscriptions_.size(); i += kTopicsPerSubscribe) {
                auto topics = std::make_shared<mqtt::string_collection>();
                const size_t end = std::min(subscriptions_.size(), i + kTopicsPerSubscribe);
                for (size_t k = i; k < end; ++k) topics->push_back(subscriptions_[k]);
                std::vector<int> qos(end - i, 1);
                client_->client.subscribe(topics, qos)->wait_for(kConnectLimit);
            }
            client_->client.publish(stateTopic_, "online", 6, 1, true);
        } catch (const mqtt::exception& e) {
            failure = e.what();
        }
    }
    lock.lock();
    if (!failure.empty()) return false;
    connected_ = true;
    nextDropReport_ = {};  // what was dropped while away is told first
    if (everConnected_) ++reconnects_;
    everConnected_ = true;
    return true;
}

void MqttLink::Run() {
    auto retry = kFirstRetry;
    bool failureTold = false;  // once per outage
    std::unique_lock lock(mu_);
    while (!(stopping_ && (Idle() || !connected_))) {
        if (!connected_) {
            if (Connect(lock)) {
                retry = kFirstRetry;
                failureTold = false;
                if (log_) log_("connected to " + options_.url);
                continue;
            }
            if (log_ && !failureTold) log_("cannot reach " + options_.url + "; trying again");
            failureTold = true;
            wake_.wait_for(lock, retry, [this] { return stopping_; });
            retry = std::min<std::chrono::milliseconds>(retry * 2, kMaxRetry);
            continue;
        }
        if (dropped_ > droppedReported_ && Clock::now() >= nextDropReport_) {
            nextDropReport_ = Clock::now() + kDropReportEvery;
            const uint64_t dropped = dropped_;
            droppedReported_ = dropped;
            lock.unlock();
            if (log_)
                log_(std::to_string(dropped) + " values dropped so far: the buffer of " +
                     std::to_string(options_.bufferLimit) + " was full");
            try {
                client_->client.publish(droppedTopic_, std::to_string(dropped), 1, true);
            } catch (const mqtt::exception&) {
            }
            lock.lock();
            continue;
        }
        if (queue_.empty() || inFlight_ >= options_.inFlight) {
            wake_.wait(lock);
            continue;
        }
        Message m = std::move(queue_.front());
        queue_.pop_front();
        ++inFlight_;
        lock.unlock();
        try {
            client_->client.publish(mqtt::message::create(m.topic, m.payload, options_.qos,
                                                          m.retain || options_.retain));
            lock.lock();
            // QoS 0 is never acknowledged (nor reported delivered): handed over is all it gets.
            if (options_.qos == 0) {
                --inFlight_;
                ++delivered_;
            }
        } catch (const mqtt::exception&) {
            // Not taken (the client's own buffer is full): back to the front, in order.
            lock.lock();
            --inFlight_;
            queue_.push_front(std::move(m));
            wake_.wait_for(lock, kFirstRetry);
        }
    }
    const bool wasConnected = connected_;
    lock.unlock();
    if (wasConnected) {
        try {
            client_->client.publish(stateTopic_, "offline", 7, 1, true)->wait_for(kConnectLimit);
            client_->client.disconnect()->wait_for(kConnectLimit);
        } catch (const mqtt::exception&) {
        }
    }
}

bool MqttLink::Stop(std::chrono::milliseconds flushLimit) {
    {
        std::lock_guard lock(mu_);
        if (!sender_.joinable()) return Idle();
        stopping_ = true;
    }
    wake_.notify_all();
    // What is queued goes out until the limit; then the connection is cut under the sender.
    {
        std::unique_lock lock(mu_);
        wake_.wait_for(lock, flushLimit, [this] { return Idle() || !connected_; });
        if (!Idle()) connected_ = false;
    }
    wake_.notify_all();
    sender_.join();
    std::lock_guard lock(mu_);
    return Idle();
}

}  // namespace tagscope::bridge
