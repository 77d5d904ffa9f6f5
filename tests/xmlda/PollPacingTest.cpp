// The poll thread's client pacing against a real loopback service, on a test clock: each
// exchange moves the clock on by its own length, each pacing wait jumps to its deadline. The
// starts of the polls then show the period exactly, without measuring real time.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "CannedService.h"
#include "contract/EventLoop.h"
#include "support/WaitUntil.h"
#include "xmlda/VelqorXMLDAPoll.h"

namespace velqor {
namespace {

using test::CannedReply;
using test::CannedService;
using test::Envelope;
using namespace std::chrono_literals;

class TestClock : public TPollClock {
  public:
    TimePoint Now() override {
        std::lock_guard lock(mu_);
        return now_;
    }
    void PassUntil(TimePoint until) override {
        std::lock_guard lock(mu_);
        now_ = std::max(now_, until);
    }
    void Advance(std::chrono::milliseconds d) {
        std::lock_guard lock(mu_);
        now_ += d;
    }

  private:
    std::mutex mu_;
    TimePoint now_{};
};

const std::string kEmptyPollReply =
    Envelope(R"(<SubscriptionPolledRefreshResponse xmlns="http://opcfoundation.org/webservices/)"
             R"(XMLDA/1.0/"><SubscriptionPolledRefreshResult RcvTime="2026-12-07T10:00:00Z")"
             R"( ReplyTime="2026-12-07T10:00:00Z" ServerState="running"/>)"
             R"(</SubscriptionPolledRefreshResponse>)");

TEST(PollPacingTest, ClientPacedPollsStartOneRateApartUnlessTheExchangeTakesLonger) {
    struct Case {
        int rate, exchange;  // ms
        int period;          // ms between the starts of two polls
    };
    const Case cases[] = {
        {100, 0, 100},
        {100, 30, 100},   // the exchange's time is part of the period, not added to it
        {100, 100, 100},  // exactly the rate: next poll at once
        {100, 250, 250},  // slower than the rate: the next poll follows at once
        {0, 0, 1},        // no rate, or a negative one, is the shortest, not back to back
        {-5, 0, 1},
    };
    for (const Case& c : cases) {
        auto clock = std::make_shared<TestClock>();
        std::mutex mu;
        std::vector<TPollClock::TimePoint> starts;
        std::atomic<int> inFlight{0}, overlaps{0};
        CannedService svc([&](const std::string& op) -> CannedReply {
            if (op != "SubscriptionPolledRefresh") return {500, "unexpected " + op};
            if (inFlight.fetch_add(1) != 0) ++overlaps;
            {
                std::lock_guard lock(mu);
                starts.push_back(clock->Now());
            }
            clock->Advance(std::chrono::milliseconds(c.exchange));
            inFlight.fetch_sub(1);
            return {200, kEmptyPollReply};
        });
        TPollSnapshot snap;
        snap.Settings.URL = svc.URL();
        snap.Settings.Compression = false;
        snap.ServerSubHandle = "sub-1";
        snap.UpdateRate = c.rate;
        snap.Clock = clock;
        const auto begun = clock->Now();
        TVelqorPollRefresh poll(std::move(snap));
        const auto count = [&] {
            std::lock_guard lock(mu);
            return starts.size();
        };
        ASSERT_TRUE(test::WaitUntil([&] { return count() >= 6 || poll.Ended(); }));
        poll.StopPolling();
        poll.Join();
        EXPECT_EQ(poll.Outcome(), TVelqorPollRefresh::TOutcome::Stopped) << poll.Reason();
        EXPECT_EQ(overlaps.load(), 0) << "two polls at once";
        std::lock_guard lock(mu);
        ASSERT_GE(starts.size(), 6u);
        // The Subscribe reply brought the first values: the first poll waits one rate.
        EXPECT_EQ(starts[0] - begun, std::chrono::milliseconds(std::max(c.rate, 1))) << c.exchange;
        for (size_t i = 1; i < starts.size(); ++i)
            EXPECT_EQ(starts[i] - starts[i - 1], std::chrono::milliseconds(c.period))
                << "rate " << c.rate << ", exchange " << c.exchange << ", poll " << i;
    }
}

TEST(PollSilenceTest, LimitIsThePacingPlusThreeRatesAndAtLeastTenSeconds) {
    struct Case {
        int32_t rate, hold, wait;
        int64_t limit;
    } const cases[] = {
        {1000, 0, 0, 10000}, {5000, 0, 0, 15000},       {0, 0, 0, 10000},
        {-5, 0, 0, 10000},   {1000, 2000, 5000, 17000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SilenceLimitMs(c.rate, c.hold, c.wait), c.limit) << c.rate << "," << c.hold;
}

// A poll left unanswered past the limit is told of while the thread waits on for it, and the
// late answer is told too; polling then goes on.
TEST(PollSilenceTest, AnUnansweredPollIsToldAndSoIsItsLateAnswer) {
    std::mutex mu;
    std::condition_variable cv;
    bool release = false;
    std::atomic<int> polls{0};
    CannedService svc([&](const std::string&) -> CannedReply {
        if (++polls == 2) {  // the second poll hangs until the test has heard of the silence
            std::unique_lock lock(mu);
            cv.wait(lock, [&] { return release; });
        }
        return {200, kEmptyPollReply};
    });
    struct Release {  // also when an assertion ends the case early
        std::mutex& mu;
        std::condition_variable& cv;
        bool& release;
        void operator()() {
            std::lock_guard lock(mu);
            release = true;
            cv.notify_all();
        }
        ~Release() { (*this)(); }
    } releasePoll{mu, cv, release};

    PlainEventLoop loop;
    std::vector<std::string> news;
    auto window = MessageWindow::Create(
        loop, [&](uint32_t msg, uintptr_t, std::unique_ptr<MessagePayload> payload) {
            auto* p = dynamic_cast<ItemUpdatesPayload*>(payload.get());
            if (msg != WM_VELQOR_DATACHANGE || !p) return;
            if (p->ServerSilent) news.push_back("silent: " + p->SubscriptionReason);
            if (p->ServerAnswers) news.push_back("answers");
        });
    TPollSnapshot snap;
    snap.Settings.URL = svc.URL();
    snap.Window = window;
    snap.ServerSubHandle = "sub-1";
    snap.UpdateRate = 10;
    snap.SilenceMs = 300;
    TVelqorPollRefresh poll(std::move(snap));
    const auto pumpUntil = [&](size_t n) {
        return test::WaitUntil([&] {
            loop.ProcessPending();
            return news.size() >= n || poll.Ended();
        });
    };
    ASSERT_TRUE(pumpUntil(1));
    ASSERT_EQ(news.size(), 1u) << poll.Reason();
    EXPECT_EQ(news[0], "silent: the server has not answered for 1 s");
    EXPECT_EQ(polls.load(), 2);
    releasePoll();
    ASSERT_TRUE(pumpUntil(2));
    ASSERT_EQ(news.size(), 2u) << poll.Reason();
    EXPECT_EQ(news[1], "answers");
    ASSERT_TRUE(test::WaitUntil([&] { return polls.load() >= 4; }));
    poll.StopPolling();
    poll.Join();
    EXPECT_EQ(poll.Outcome(), TVelqorPollRefresh::TOutcome::Stopped) << poll.Reason();
    window->Destroy();
}

}  // namespace
}  // namespace velqor
