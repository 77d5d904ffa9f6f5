#include "Bridge.h"

#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>

#include "Interrupt.h"
#include "Payload.h"
#include "Session.h"
#include "SessionFile.h"
#include "contract/VelqorDateTime.h"
#include "contract/VelqorError.h"
#include "contract/VelqorIntf.h"

namespace tagscope::bridge {

using namespace velqor;
using Clock = std::chrono::steady_clock;

std::string ServerLevelName(const std::string& server) {
    const size_t scheme = server.find("://");
    if (scheme == std::string::npos) return server;
    const std::string rest = server.substr(scheme + 3);
    return rest.substr(0, rest.find('/'));
}

namespace {

// Lines on the error stream from the event loop and the link's thread alike, each whole.
class Log {
  public:
    explicit Log(std::ostream& err) : err_(err) {}
    void operator()(const std::string& line) {
        std::lock_guard lock(mu_);
        err_ << FormatDateTimeText(Now()) << "  " << line << '\n' << std::flush;
    }

  private:
    std::mutex mu_;
    std::ostream& err_;
};

// One item of the session as the bridge publishes it.
struct Published {
    TVelqorItem* item;
    std::string topic;
    bool notConnected = false;  // the last thing published said so
};

class Bridge {
  public:
    Bridge(const BridgeOptions& o, cli::Streams s, cli::Session& session, Log& log)
        : o_(o), s_(s), session_(session), log_(log) {}

    // Topics for every item; the link (none for a dry run) is made after, knowing them.
    void MapItems(const TopicTemplate& topics, const std::string& serverLevel) {
        TVelqorGroups& groups = session_.Server().OPCGroups();
        for (int gi = 0; gi < groups.Count(); ++gi) {
            TVelqorGroup& g = *groups.Items(gi);
            for (int i = 0; i < g.OPCItems().Count(); ++i) {
                TVelqorItem* item = g.OPCItems().Items(i);
                items_.push_back({item, topics.Topic(serverLevel, g.Name(), item->ItemID())});
            }
        }
        for (size_t k = 0; k < items_.size(); ++k) {
            items_[k].item->SetUserData(&items_[k]);
            bySetTopic_[items_[k].topic + "/set"] = k;
        }
    }
    std::vector<std::string> SetTopics() const {
        std::vector<std::string> t;
        for (const auto& [topic, k] : bySetTopic_) t.push_back(topic);
        return t;
    }
    void UseLink(MqttLink* link) { link_ = link; }

    void OnChange(const TVelqorItemList& items) {
        for (TVelqorItemData* d : items) {
            auto* p = static_cast<Published*>(static_cast<TVelqorItem*>(d)->UserData());
            if (!p) continue;
            const bool notConnected = (d->Quality() & 0xFC) == kQualityBadNotConnected;
            // A link that stays down is said once, not on every failed attempt to recover.
            if (notConnected && p->notConnected) continue;
            p->notConnected = notConnected;
            ++valuesIn_;
            Send(p->topic, payloads_.Of(*d), o_.broker.retain);
        }
    }
    // The server is gone: every item says so, once.
    void AllNotConnected() {
        for (Published& p : items_)
            if (!p.notConnected) {
                p.notConnected = true;
                ++valuesIn_;
                Send(p.topic, payloads_.Of(*p.item, true), o_.broker.retain);
            }
    }

    // A message on "<item topic>/set", on the event loop.
    void OnSet(const std::string& topic, const std::string& payload) {
        auto it = bySetTopic_.find(topic);
        if (it == bySetTopic_.end()) return;  // not an item of this session: never written
        Published& p = items_[it->second];
        std::string error;
        if (!o_.allowWrites) {
            error = "writes are not allowed (the bridge runs without --allow-writes)";
        } else {
            error = Write(*p.item, payload);
        }
        log_(p.item->ItemID() + ": write " + (error.empty() ? "done" : "refused: " + error));
        Send(p.topic + "/set/result", WriteResultJson(error), false);
    }

    std::string StatusLine() const {
        std::string line = "status: " + std::to_string(valuesIn_) + " values in";
        if (link_) {
            const MqttLink::Stats st = link_->GetStats();
            line += ", " + std::to_string(st.delivered) + " out, " + std::to_string(st.buffered) +
                    "/" + std::to_string(o_.broker.bufferLimit) + " buffered, " +
                    std::to_string(st.dropped) + " dropped, " + std::to_string(st.reconnects) +
                    " reconnects, broker " + (st.connected ? "connected" : "away");
        }
        return line;
    }

  private:
    void Send(const std::string& topic, std::string payload, bool retain) {
        if (link_) {
            link_->Publish(topic, std::move(payload), retain);
        } else {
            s_.out << topic << ' ' << payload << '\n';
        }
    }

    std::string Write(TVelqorItem& item, const std::string& payload) {
        const int32_t type =
            item.RequestedDatatype() != 0 ? item.RequestedDatatype() : item.CanonicalDatatype();
        try {
            item.SetWriteValue(ValueFromText(WriteTextFromJson(payload), type));
        } catch (const std::exception& e) {
            return "cannot convert " + payload + " to " + VarTypeName(type) + ": " + e.what();
        }
        try {
            TVelqorItemList list;
            list.Add(&item);
            item.Group()->WriteSync(list);
            if (item.Error() < 0) {
                const std::string why = item.ErrorText();
                return why.empty() ? session_.Server().ResultText(item.Error()) : why;
            }
            return {};
        } catch (const std::exception& e) {
            return cli::ErrorLineText(e.what());
        }
    }

    const BridgeOptions& o_;
    cli::Streams s_;
    cli::Session& session_;
    Log& log_;
    MqttLink* link_ = nullptr;
    std::vector<Published> items_;
    std::map<std::string, size_t> bySetTopic_;
    PayloadWriter payloads_;
    uint64_t valuesIn_ = 0;
};

int Run(const BridgeOptions& o, cli::Streams s, Log& log) {
    const Session file = LoadSessionFile(o.sessionFile);
    const TopicTemplate topics(o.topicTemplate, !o.escapeSlashes);
    const std::string serverLevel =
        o.serverName.empty() ? ServerLevelName(file.Server) : o.serverName;

    cli::ConnectOptions c = o.connect;
    c.server = file.Server;
    c.computer = file.Computer;
    c.clientName = "tagscope-bridge";
    c.keepAlive = false;  // the subscriptions' polls tell whether an XML-DA server is there
    cli::Session session(c, s);
    TVelqorServer& server = session.Server();
    TVelqorResubscribe& policy = server.OPCGroupDefault().Resubscribe;
    policy.Enabled = true;
    policy.GiveUpAfterMs = int32_t(std::llround(o.giveUpSeconds * 1000));

    // Every group to the server with its items, one call per group.
    session.SetQuietReports(true);
    server.SetBatchMode(true);
    AddSessionGroups(file, server);
    server.SetBatchMode(false);
    int rc = cli::kExitOk;
    for (int gi = 0; gi < server.OPCGroups().Count(); ++gi) {
        TVelqorGroup& g = *server.OPCGroups().Items(gi);
        g.OPCItems().AddAll();
        for (int i = 0; i < g.OPCItems().Count(); ++i) {
            const TVelqorItem& item = *g.OPCItems().Items(i);
            if (item.Error() < 0 || item.ServerHandle() == -1) {
                log(g.Name() + ": " + item.ItemID() + ": " + item.ErrorText());
                rc = cli::kExitItemErrors;
            }
        }
    }

    Bridge bridge(o, s, session, log);
    bridge.MapItems(topics, serverLevel);
    auto alive = std::make_shared<Bridge*>(&bridge);
    std::unique_ptr<MqttLink> link;
    if (!o.dryRun) {
        PlainEventLoop& loop = session.Loop();
        link = std::make_unique<MqttLink>(
            o.broker, topics.Prefix() + "/$state", topics.Prefix() + "/$dropped",
            // On the link's network thread: only handed over to the event loop, where a request
            // that comes after the bridge has ended finds it gone.
            [&loop, alive = std::weak_ptr<Bridge*>(alive)](std::string topic, std::string payload) {
                loop.Post([alive, topic = std::move(topic), payload = std::move(payload)] {
                    if (auto b = alive.lock()) (*b)->OnSet(topic, payload);
                });
            },
            [&log](const std::string& line) { log(line); });
        link->SetSubscriptions(bridge.SetTopics());
        bridge.UseLink(link.get());
        link->Start();
    }
    server.OnDatachange = [&](TVelqorServer*, const TVelqorItemList& items) {
        bridge.OnChange(items);
        if (o.dryRun) s.out.flush();
    };
    bool lostForGood = false;
    std::string lostReason;
    server.OnSubscriptionInterrupted = [&](TVelqorServer*, TVelqorGroup* g,
                                           const std::string& why) {
        log(g->Name() + ": subscription lost: " + cli::ErrorLineText(why) + "; subscribing again");
    };
    server.OnSubscriptionRecovered = [&](TVelqorServer*, TVelqorGroup* g, const std::string&) {
        log(g->Name() + ": subscription recovered");
    };
    server.OnSubscriptionLost = [&](TVelqorServer*, TVelqorGroup* g, const std::string& why) {
        lostForGood = true;
        lostReason = g->Name() + ": " + why;
    };
    session.SetQuietReports(false);

    const auto every = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(o.statusSeconds > 0 ? o.statusSeconds : 1e6));
    auto nextStatus = Clock::now() + every;
    cli::CleanStopScope cleanStop(session.Loop());
    const auto over = [&] { return s.stop.load() || session.Lost() || lostForGood; };
    while (!s.stop.load() && !lostForGood) {
        session.Loop().RunUntil(
            over, std::chrono::ceil<std::chrono::milliseconds>(nextStatus - Clock::now()) +
                      std::chrono::milliseconds(1));
        if (Clock::now() >= nextStatus) {
            if (o.statusSeconds > 0) log(bridge.StatusLine());
            nextStatus = Clock::now() + every;
        }
        // A COM server that went away is connected again, and its items subscribed again,
        // when it comes back; meanwhile its items say that they are not connected.
        if (session.Lost() && !s.stop.load()) {
            bridge.AllNotConnected();
            cli::ReconnectAfterLoss(session, o.giveUpSeconds, s, Clock::time_point::max());
        }
    }
    server.OnDatachange = nullptr;
    server.OnSubscriptionInterrupted = nullptr;
    server.OnSubscriptionRecovered = nullptr;
    server.OnSubscriptionLost = nullptr;
    if (lostForGood) {
        bridge.AllNotConnected();
        rc = cli::kExitError;
        log("the subscription is lost for good: " + cli::ErrorLineText(lostReason));
    }
    alive.reset();
    if (link) {
        const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::duration<double>(o.flushSeconds));
        const bool flushed = link->Stop(limit);
        log(bridge.StatusLine());
        if (!flushed) {
            log("not every value reached the broker before the time to flush ran out");
            rc = cli::kExitError;
        }
    }
    return rc;
}

}  // namespace

int RunBridge(const BridgeOptions& o, cli::Streams s) {
    Log log(s.err);
    try {
        return Run(o, s, log);
    } catch (const std::exception& e) {
        if (s.stop.load()) {
            s.err << "interrupted\n";
            return cli::kExitInterrupted;
        }
        s.err << "error: " << cli::ErrorLineText(e.what()) << '\n';
        return cli::kExitError;
    }
}

}  // namespace tagscope::bridge
