#include "MqttLink.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <tuple>

namespace tagscope::bridge {

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kKeepAliveSeconds = 30;
constexpr int kLoopWaitMs = 1000;  // the loop wakes earlier for anything to send or read
constexpr auto kFirstRetry = std::chrono::milliseconds(250);
constexpr auto kMaxRetry = std::chrono::seconds(5);
constexpr auto kGoodbyeLimit = std::chrono::seconds(5);
constexpr size_t kTopicsPerSubscribe = 500;
constexpr int kSessionExpirySeconds = 24 * 3600;
// While the broker cannot keep up, drops go on: they are told this often, not per message.
constexpr auto kDropReportEvery = std::chrono::seconds(10);
}  // namespace

BrokerAddress ParseBrokerUrl(const std::string& url) {
    for (auto [scheme, tls, port] :
         {std::tuple{"mqtt://", false, 1883}, std::tuple{"mqtts://", true, 8883}}) {
        if (!url.starts_with(scheme)) continue;
        BrokerAddress a{url.substr(std::string_view(scheme).size()), port, tls};
        if (a.host.ends_with('/')) a.host.pop_back();
        const size_t colon = a.host.rfind(':'), bracket = a.host.rfind(']');
        if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
            const std::string digits = a.host.substr(colon + 1);
            const auto [end, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), a.port);
            if (ec != std::errc() || end != digits.data() + digits.size() || a.port < 1 ||
                a.port > 65535)
                break;
            a.host.resize(colon);
        }
        // An IPv6 address only in brackets, where its colons cannot be taken for the port's.
        const bool bracketed =
            a.host.size() > 2 && a.host.starts_with('[') && a.host.ends_with(']');
        if (bracketed) a.host = a.host.substr(1, a.host.size() - 2);
        if (a.host.empty() ||
            a.host.find_first_of(bracketed ? "/[]@" : "/[]@:") != std::string::npos)
            break;
        return a;
    }
    throw std::invalid_argument("the broker \"" + url +
                                "\" is not an mqtt://host:port or mqtts://host:port address");
}

// The client's callbacks, on the network thread.
struct MqttLink::Callbacks {
    static MqttLink& Of(void* p) { return *static_cast<MqttLink*>(p); }
    static void Connect(mosquitto*, void* p, int rc, int, const mosquitto_property* props) {
        uint16_t receiveMaximum = 0;
        mosquitto_property_read_int16(props, MQTT_PROP_RECEIVE_MAXIMUM, &receiveMaximum, false);
        Of(p).OnConnect(rc, receiveMaximum);
    }
    static void Disconnect(mosquitto*, void* p, int, const mosquitto_property*) {
        Of(p).OnDisconnect();
    }
    static void Publish(mosquitto*, void* p, int mid, int, const mosquitto_property*) {
        Of(p).OnPublish(mid);
    }
    static void Message(mosquitto*, void* p, const mosquitto_message* m,
                        const mosquitto_property*) {
        MqttLink& link = Of(p);
        if (link.onMessage_)
            link.onMessage_(m->topic, std::string(static_cast<const char*>(m->payload),
                                                  size_t(std::max(0, m->payloadlen))));
    }
};

MqttLink::MqttLink(BrokerOptions options, std::string stateTopic, std::string droppedTopic,
                   MessageHandler onMessage, LogHandler log)
    : options_(std::move(options)),
      stateTopic_(std::move(stateTopic)),
      droppedTopic_(std::move(droppedTopic)),
      onMessage_(std::move(onMessage)),
      log_(std::move(log)) {
    static std::once_flag libraryReady;
    std::call_once(libraryReady, [] { mosquitto_lib_init(); });
    const BrokerAddress address = ParseBrokerUrl(options_.url);
    // The session outlives a lost connection, so that messages in flight are sent again.
    const bool keepSession = !options_.clientId.empty();
    client_ = mosquitto_new(keepSession ? options_.clientId.c_str() : nullptr, !keepSession, this);
    if (!client_) throw std::runtime_error("cannot make an MQTT client");
    mosquitto_threaded_set(client_, true);
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION,
                         options_.version == 5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    mosquitto_int_option(client_, MOSQ_OPT_SEND_MAXIMUM, std::clamp(options_.inFlight, 1, 65535));
    mosquitto_will_set_v5(client_, stateTopic_.c_str(), 7, "offline", 1, true, nullptr);
    if (!options_.user.empty() || !options_.password.empty())
        mosquitto_username_pw_set(client_, options_.user.c_str(),
                                  options_.password.empty() ? nullptr : options_.password.c_str());
    if (address.tls) {
        // Without a CA file, the system's trusted certificates.
        const auto text = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
        if (options_.cafile.empty()) mosquitto_int_option(client_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        const int rc = mosquitto_tls_set(client_, text(options_.cafile),
                                         options_.cafile.empty() ? "/etc/ssl/certs" : nullptr,
                                         text(options_.certfile), text(options_.keyfile), nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            throw std::invalid_argument(std::string("TLS settings: ") + mosquitto_strerror(rc));
    }
    mosquitto_connect_v5_callback_set(client_, Callbacks::Connect);
    mosquitto_disconnect_v5_callback_set(client_, Callbacks::Disconnect);
    mosquitto_publish_v5_callback_set(client_, Callbacks::Publish);
    mosquitto_message_v5_callback_set(client_, Callbacks::Message);
    window_ = std::max(1, options_.inFlight);
}

MqttLink::~MqttLink() {
    Stop(std::chrono::milliseconds(0));
    mosquitto_destroy(client_);
}

void MqttLink::SetSubscriptions(std::vector<std::string> topics) {
    subscriptions_ = std::move(topics);
}

void MqttLink::Start() {
    network_ = std::thread([this] { Run(); });
}

void MqttLink::Publish(std::string topic, std::string payload, bool retain) {
    std::lock_guard lock(mu_);
    if (queue_.size() >= options_.bufferLimit) {
        queue_.pop_front();
        ++dropped_;
    }
    queue_.push_back({std::move(topic), std::move(payload), retain});
    ++queued_;
    Pump();
}

MqttLink::Stats MqttLink::GetStats() const {
    std::lock_guard lock(mu_);
    return {queued_,     delivered_, dropped_, queue_.size() + size_t(inFlight_),
            reconnects_, connected_};
}

void MqttLink::Pump() {
    if (!ready_) return;
    if (dropped_ > droppedReported_ && Clock::now() >= nextDropReport_) {
        nextDropReport_ = Clock::now() + kDropReportEvery;
        droppedReported_ = dropped_;
        PublishOwn(droppedTopic_, std::to_string(dropped_));
        if (log_)
            log_(std::to_string(dropped_) + " values dropped so far: the buffer of " +
                 std::to_string(options_.bufferLimit) + " was full");
    }
    while (!queue_.empty() && inFlight_ < window_) {
        const Message& m = queue_.front();
        const int rc = mosquitto_publish_v5(client_, nullptr, m.topic.c_str(),
                                            int(m.payload.size()), m.payload.data(), options_.qos,
                                            m.retain || options_.retain, nullptr);
        // A QoS 1 message the client took as the connection was just lost is sent again after
        // the reconnect ("no connection" then means taken); at QoS 0 it is gone.
        if (rc == MOSQ_ERR_SUCCESS || (rc == MOSQ_ERR_NO_CONN && options_.qos > 0)) {
            ++inFlight_;
        } else {
            ++dropped_;
            if (log_ && rc != MOSQ_ERR_NO_CONN)
                log_(m.topic + ": not published: " + mosquitto_strerror(rc));
        }
        queue_.pop_front();
        if (rc == MOSQ_ERR_NO_CONN) {
            ready_ = false;
            break;
        }
    }
}

int MqttLink::PublishOwn(const std::string& topic, const std::string& text) {
    int mid = 0;
    const int rc = mosquitto_publish_v5(client_, &mid, topic.c_str(), int(text.size()), text.data(),
                                        1, true, nullptr);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) return -1;
    ownMids_.insert(mid);
    return mid;
}

void MqttLink::OnConnect(int rc, int receiveMaximum) {
    if (rc != 0) {
        if (log_)
            log_(std::string("the broker refused the connection: ") +
                 (options_.version == 5 ? mosquitto_reason_string(rc)
                                        : mosquitto_connack_string(rc)));
        return;
    }
    // The broker may have forgotten the session: subscriptions are made again each time.
    for (size_t i = 0; i < subscriptions_.size(); i += kTopicsPerSubscribe) {
        std::vector<char*> topics;
        for (size_t k = i; k < std::min(subscriptions_.size(), i + kTopicsPerSubscribe); ++k)
            topics.push_back(const_cast<char*>(subscriptions_[k].c_str()));
        mosquitto_subscribe_multiple(client_, nullptr, int(topics.size()), topics.data(), 1, 0,
                                     nullptr);
    }
    {
        std::lock_guard lock(mu_);
        connected_ = true;
        // The client sends again what was in flight once this returns; the buffer follows at
        // the first acknowledgement after that (of "online" at the latest), so order holds.
        ready_ = false;
        window_ = std::max(1, receiveMaximum > 0 ? std::min(options_.inFlight, receiveMaximum)
                                                 : options_.inFlight);
        nextDropReport_ = {};  // what was dropped while away is told first
        if (connects_++ > 0) ++reconnects_;
        PublishOwn(stateTopic_, "online");
    }
    if (log_) log_("connected to " + options_.url);
    changed_.notify_all();
}

void MqttLink::OnDisconnect() {
    bool told;
    {
        std::lock_guard lock(mu_);
        told = connected_ && !closing_;
        connected_ = ready_ = false;
        // At QoS 0 what the client had not yet written went with the connection.
        if (options_.qos == 0) {
            dropped_ += uint64_t(inFlight_);
            inFlight_ = 0;
        }
    }
    if (told && log_) log_("lost the broker; keeping values until it is back");
    changed_.notify_all();
}

void MqttLink::OnPublish(int mid) {
    {
        std::lock_guard lock(mu_);
        if (ownMids_.erase(mid) == 0) {
            if (inFlight_ > 0) --inFlight_;
            ++delivered_;
        }
        ready_ = connected_;
        Pump();
    }
    changed_.notify_all();
}

int MqttLink::Connect() {
    const BrokerAddress a = ParseBrokerUrl(options_.url);
    mosquitto_property* props = nullptr;
    if (options_.version == 5)
        mosquitto_property_add_int32(&props, MQTT_PROP_SESSION_EXPIRY_INTERVAL,
                                     kSessionExpirySeconds);
    const int rc = mosquitto_connect_bind_v5(client_, a.host.c_str(), a.port, kKeepAliveSeconds,
                                             nullptr, props);
    mosquitto_property_free_all(&props);
    return rc;
}

void MqttLink::Run() {
    auto retry = kFirstRetry;
    bool failureTold = false;  // once per outage
    for (;;) {
        const uint64_t connectsBefore = [&] {
            std::lock_guard lock(mu_);
            return connects_;
        }();
        // Connect each time, not mosquitto_reconnect: that one leaves out the session's expiry.
        int rc = Connect();
        if (rc == MOSQ_ERR_SUCCESS) {
            {
                std::lock_guard lock(mu_);
                if (closing_) mosquitto_disconnect(client_);  // Stop came while connecting
            }
            while ((rc = mosquitto_loop(client_, kLoopWaitMs, 1)) == MOSQ_ERR_SUCCESS) {
            }
        }
        std::unique_lock lock(mu_);
        if (closing_) break;
        if (connects_ != connectsBefore) {
            retry = kFirstRetry;
            failureTold = false;
        } else if (!failureTold) {
            failureTold = true;
            if (log_)
                log_("cannot reach " + options_.url + " (" + mosquitto_strerror(rc) +
                     "); trying again");
        }
        changed_.wait_for(lock, retry, [this] { return closing_; });
        if (closing_) break;
        retry = std::min<std::chrono::milliseconds>(retry * 2, kMaxRetry);
    }
}

bool MqttLink::Stop(std::chrono::milliseconds flushLimit) {
    std::unique_lock lock(mu_);
    if (!network_.joinable()) return Idle();
    // What is queued goes out until the limit; then "offline", and the connection is closed.
    changed_.wait_for(lock, flushLimit, [this] { return Idle() || !connected_; });
    if (connected_) {
        const int goodbye = PublishOwn(stateTopic_, "offline");
        changed_.wait_for(lock, kGoodbyeLimit,
                          [&] { return !ownMids_.contains(goodbye) || !connected_; });
    }
    closing_ = true;
    const bool idle = Idle();
    mosquitto_disconnect(client_);
    lock.unlock();
    changed_.notify_all();
    network_.join();
    return idle;
}

}  // namespace tagscope::bridge
