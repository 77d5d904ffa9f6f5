// The MQTT side of the bridge tests: a real mosquitto broker on a free loopback port, started and
// stopped by the test, and a subscriber that keeps every message it receives.
#pragma once

#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/WaitUntil.h"

namespace tagscope::bridgetest {

inline int FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

// mosquitto with persistence in a folder of its own: a broker that is stopped keeps the
// subscriber's session and queued messages, so that what the bridge sends while the subscriber
// is still reconnecting is not lost on the subscriber's side.
class Broker {
  public:
    Broker()
        : dir_(std::filesystem::temp_directory_path() /
               ("bridge-test-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(dir_);
        // mosquitto started as root goes on as its own user, which must write its database here.
        std::filesystem::permissions(dir_, std::filesystem::perms::all);
        port_ = FreeLoopbackPort();
        std::ofstream(dir_ / "mosquitto.conf")
            << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\npersistence true\n"
            << "persistence_location " << dir_.string() << "/\nmax_queued_messages 0\n"
            << "autosave_interval 0\n";
    }
    ~Broker() {
        Stop();
        std::filesystem::remove_all(dir_);
    }
    static bool Available() { return std::filesystem::exists(MOSQUITTO_PATH); }
    void Start() {
        pid_ = fork();
        if (pid_ == 0) {
            // A test cut short (its time limit) leaves no broker behind.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const std::string conf = (dir_ / "mosquitto.conf").string();
            freopen("/dev/null", "w", stderr);
            execl(MOSQUITTO_PATH, "mosquitto", "-c", conf.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Ready once it accepts connections.
        velqor::test::WaitUntil([&] {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(uint16_t(port_));
            const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            close(fd);
            return ok;
        });
    }
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    // Forgets every session and retained message (call while stopped).
    void Wipe() { std::filesystem::remove(dir_ / "mosquitto.db"); }
    std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }

  private:
    std::filesystem::path dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};

struct Received {
    std::string topic, payload;
};

// A QoS 1 subscriber with a session that survives a broker restart (libmosquitto's own network
// thread reconnects it).
class Subscriber {
  public:
    Subscriber(const std::string& url, const std::string& filter) : filter_(filter) {
        mosquitto_lib_init();
        client_ = mosquitto_new("bridge-test-subscriber", false, this);
        mosquitto_reconnect_delay_set(client_, 1, 1, false);
        mosquitto_connect_callback_set(client_, [](mosquitto* m, void* self, int rc) {
            if (rc == 0)
                mosquitto_subscribe(m, nullptr, static_cast<Subscriber*>(self)->filter_.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->Note([](Subscriber& s) { s.subscribed_ = true; });
        });
        mosquitto_publish_callback_set(client_, [](mosquitto*, void* self, int mid) {
            static_cast<Subscriber*>(self)->Note([mid](Subscriber& s) { s.acked_.insert(mid); });
        });
        mosquitto_message_callback_set(
            client_, [](mosquitto*, void* self, const mosquitto_message* m) {
                std::string payload(static_cast<const char*>(m->payload), size_t(m->payloadlen));
                static_cast<Subscriber*>(self)->Note([&](Subscriber& s) {
                    s.got_.push_back({m->topic, std::move(payload)});
                });
            });
        const size_t colon = url.rfind(':');
        int rc = mosquitto_connect(client_, url.substr(7, colon - 7).c_str(),
                                   std::stoi(url.substr(colon + 1)), 30);
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_start(client_);
        if (rc != MOSQ_ERR_SUCCESS)
            throw std::runtime_error("the test subscriber cannot reach " + url + ": " +
                                     mosquitto_strerror(rc));
        std::unique_lock lock(mu_);
        changed_.wait(lock, [&] { return subscribed_; });
    }
    ~Subscriber() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }
    std::vector<Received> Got() const {
        std::lock_guard lock(mu_);
        return got_;
    }
    // Waits (bounded) for a message whose topic ends with suffix and whose payload holds text.
    bool WaitFor(const std::string& suffix, const std::string& text,
                 std::chrono::milliseconds limit = std::chrono::seconds(20)) const {
        return velqor::test::WaitUntil([&] { return Find(suffix, text) != nullptr; }, limit);
    }
    std::unique_ptr<Received> Find(const std::string& suffix, const std::string& text) const {
        std::lock_guard lock(mu_);
        for (const auto& r : got_)
            if (r.topic.ends_with(suffix) && r.payload.find(text) != std::string::npos)
                return std::make_unique<Received>(r);
        return nullptr;
    }
    // Publishes at QoS 1 and waits until the broker has it.
    void Publish(const std::string& topic, const std::string& payload) {
        std::unique_lock lock(mu_);  // the acknowledgement is noted after mid is known
        int mid = 0;
        if (mosquitto_publish(client_, &mid, topic.c_str(), int(payload.size()), payload.data(), 1,
                              false) != MOSQ_ERR_SUCCESS)
            throw std::runtime_error("the test subscriber cannot publish on " + topic);
        changed_.wait(lock, [&] { return acked_.contains(mid); });
    }

  private:
    template <class F>
    void Note(F change) {
        {
            std::lock_guard lock(mu_);
            change(*this);
        }
        changed_.notify_all();
    }

    std::string filter_;
    mosquitto* client_ = nullptr;
    mutable std::mutex mu_;
    std::condition_variable changed_;
    bool subscribed_ = false;
    std::set<int> acked_;
    std::vector<Received> got_;
};

}  // namespace tagscope::bridgetest
