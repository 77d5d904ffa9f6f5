// The plain event loop and the message window: posting order, payload ownership, destruction,
// numbered timers on a test clock, and errors raised by handlers.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "contract/EventLoop.h"
#include "contract/VelqorError.h"
#include "support/WaitUntil.h"

namespace velqor {
namespace {

// Counts live payloads, so a test sees every one freed exactly once.
struct CountedPayload : MessagePayload {
    explicit CountedPayload(int v, std::atomic<int>& live) : value(v), live_(live) { ++live_; }
    ~CountedPayload() override { --live_; }
    int value;
    std::atomic<int>& live_;
};

class Hooks : public ::testing::Test {
  protected:
    void SetUp() override {
        ApplicationHooks::SetExceptionDisplay(
            [this](const std::exception& e) { shown.push_back(e.what()); });
    }
    void TearDown() override { ApplicationHooks::SetExceptionDisplay(nullptr); }
    std::vector<std::string> shown;
};

using MessageWindowTest = Hooks;

TEST_F(MessageWindowTest, DeliversInPostingOrderAndFreesEveryPayload) {
    PlainEventLoop loop;
    std::atomic<int> live{0};
    std::vector<std::string> got;
    auto w = MessageWindow::Create(
        loop, [&](uint32_t m, uintptr_t wp, std::unique_ptr<MessagePayload> p) {
            auto* c = dynamic_cast<CountedPayload*>(p.get());
            got.push_back(std::to_string(m) + ":" + std::to_string(wp) + ":" +
                          (c ? std::to_string(c->value) : "-"));
            if (c && c->value == 2) throw EOPCException("handler failed");
        });
    EXPECT_TRUE(w->Post(WM_VELQOR_DATACHANGE, 7, std::make_unique<CountedPayload>(1, live)));
    EXPECT_TRUE(w->Post(WM_VELQOR_WRITEERROR, 0, std::make_unique<CountedPayload>(2, live)));
    EXPECT_TRUE(w->Post(WM_VELQOR_SHUTDOWN, 0));
    EXPECT_TRUE(w->Post(WM_VELQOR_WRITECOMPLETE, 0, std::make_unique<CountedPayload>(3, live)));
    EXPECT_EQ(live, 3);
    EXPECT_TRUE(got.empty()) << "nothing runs before the loop does";
    loop.ProcessPending();
    EXPECT_EQ(got, (std::vector<std::string>{"5634:7:1", "1027:0:2", "1025:0:-", "1028:0:3"}));
    EXPECT_EQ(shown, (std::vector<std::string>{"handler failed"}));
    EXPECT_EQ(live, 0);
}

TEST_F(MessageWindowTest, DestroyDropsQueuedMessagesAndRefusesNewOnes) {
    PlainEventLoop loop;
    std::atomic<int> live{0};
    int handled = 0;
    auto w = MessageWindow::Create(
        loop, [&](uint32_t, uintptr_t, std::unique_ptr<MessagePayload>) { ++handled; });
    w->Post(WM_VELQOR_DATACHANGE, 1, std::make_unique<CountedPayload>(1, live));
    w->SetTimer(1, 1);
    w->Destroy();
    EXPECT_TRUE(w->Destroyed());
    EXPECT_FALSE(w->Post(WM_VELQOR_DATACHANGE, 1, std::make_unique<CountedPayload>(2, live)));
    EXPECT_EQ(loop.TimerCount(), 0u);
    loop.ProcessPending();
    EXPECT_EQ(handled, 0);
    EXPECT_EQ(live, 0);

    // A window whose last owner let go also drops what was queued for it.
    auto w2 = MessageWindow::Create(
        loop, [&](uint32_t, uintptr_t, std::unique_ptr<MessagePayload>) { ++handled; });
    w2->Post(WM_VELQOR_DATACHANGE, 1, std::make_unique<CountedPayload>(3, live));
    w2.reset();
    loop.ProcessPending();
    EXPECT_EQ(handled, 0);
    EXPECT_EQ(live, 0);
}

TEST_F(MessageWindowTest, NumberedTimersOnATestClock) {
    PlainEventLoop loop;
    auto now = PlainEventLoop::Clock::now();
    loop.SetClockForTest([&] { return now; });
    std::vector<uintptr_t> ticks;
    auto w =
        MessageWindow::Create(loop, [&](uint32_t m, uintptr_t wp, std::unique_ptr<MessagePayload>) {
            EXPECT_EQ(m, WM_VELQOR_TIMER);
            ticks.push_back(wp);
        });
    w->SetTimer(1, 100);
    w->SetTimer(2, 250);
    w->SetTimer(1, 200);  // replaces timer 1
    EXPECT_EQ(loop.TimerCount(), 2u);
    now += std::chrono::milliseconds(199);
    loop.ProcessPending();
    EXPECT_TRUE(ticks.empty());
    now += std::chrono::milliseconds(1);
    loop.ProcessPending();
    now += std::chrono::milliseconds(50);
    loop.ProcessPending();
    EXPECT_EQ(ticks, (std::vector<uintptr_t>{1, 2}));
    w->KillTimer(1);
    EXPECT_FALSE(w->HasTimer(1));
    now += std::chrono::milliseconds(250);
    loop.ProcessPending();
    EXPECT_EQ(ticks, (std::vector<uintptr_t>{1, 2, 2}));
    w.reset();
    EXPECT_EQ(loop.TimerCount(), 0u) << "a window that goes stops its timers";
}

TEST_F(MessageWindowTest, TheSilentAbortIsNeverShown) {
    PlainEventLoop loop;
    auto w =
        MessageWindow::Create(loop, [&](uint32_t, uintptr_t wp, std::unique_ptr<MessagePayload>) {
            if (wp == 1) throw EAbort();
            throw 42;
        });
    w->Post(WM_VELQOR_SHUTDOWN, 1);
    w->Post(WM_VELQOR_SHUTDOWN, 2);
    loop.ProcessPending();
    EXPECT_EQ(shown, (std::vector<std::string>{"unknown exception in message handler"}));
    ApplicationHooks::ShowException(EAbort());
    EXPECT_EQ(shown.size(), 1u);
}

TEST(PlainEventLoopTest, TasksPostedWhileRunningWaitForTheNextRound) {
    PlainEventLoop loop;
    std::vector<int> order;
    loop.Post([&] {
        order.push_back(1);
        loop.Post([&] { order.push_back(3); });
    });
    loop.Post([&] { order.push_back(2); });
    EXPECT_EQ(loop.ProcessPending(), 2);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(loop.PendingCount(), 1u);
    loop.ProcessPending();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(PlainEventLoopTest, ATimerMayStopAnotherDueAtTheSameTime) {
    PlainEventLoop loop;
    auto now = PlainEventLoop::Clock::now();
    loop.SetClockForTest([&] { return now; });
    int second = 0;
    int id2 = 0;
    int id1 = loop.StartTimer(10, [&] { loop.StopTimer(id2); });
    id2 = loop.StartTimer(10, [&] { ++second; });
    now += std::chrono::milliseconds(10);
    loop.ProcessPending();
    EXPECT_EQ(second, 0);
    EXPECT_EQ(loop.TimerCount(), 1u);
    loop.StopTimer(id1);
}

TEST(PlainEventLoopThreads, PostsFromOtherThreadsArriveInOrderAndQuitEndsRun) {
    PlainEventLoop loop;
    constexpr int kPerThread = 2000;
    std::vector<int> seen[2];
    std::atomic<int> done{0};
    auto w =
        MessageWindow::Create(loop, [&](uint32_t, uintptr_t wp, std::unique_ptr<MessagePayload>) {
            seen[wp >> 24].push_back(int(wp & 0xFFFFFF));
            if (int(seen[0].size() + seen[1].size()) == 2 * kPerThread) loop.Quit();
        });
    std::thread producers[2];
    for (uintptr_t t = 0; t < 2; ++t)
        producers[t] = std::thread([&, t] {
            for (int i = 0; i < kPerThread; ++i)
                w->Post(WM_VELQOR_DATACHANGE, (t << 24) | uintptr_t(i));
            ++done;
        });
    loop.Run();
    for (auto& p : producers) p.join();
    for (auto& s : seen) {
        ASSERT_EQ(int(s.size()), kPerThread);
        for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(s[size_t(i)], i);
    }
    EXPECT_EQ(done, 2);
}

TEST(PlainEventLoopThreads, AQuitBeforeRunEndsRunOnceAndIsConsumed) {
    // A Ctrl-C handler may ask to quit before the program reaches Run.
    PlainEventLoop loop;
    int ran = 0;
    loop.Post([&] { ++ran; });
    loop.Quit();
    loop.Run();  // returns after the queued task instead of waiting forever
    EXPECT_EQ(ran, 1);
    std::atomic<bool> running{false};
    loop.Post([&] { running = true; });
    std::thread t([&] {
        EXPECT_TRUE(test::WaitUntil([&] { return running.load(); }));
        loop.Quit();
    });
    loop.Run();  // the first request was consumed: this run ends only by the second Quit
    t.join();
}

TEST(PlainEventLoopThreads, RunUntilWakesForAPostFromAnotherThread) {
    PlainEventLoop loop;
    std::atomic<bool> flag{false}, running{false};
    loop.Post([&] { running = true; });
    std::thread t([&] {
        // Posts once the loop has begun waiting, so that the post has to wake it.
        EXPECT_TRUE(test::WaitUntil([&] { return running.load(); }));
        loop.Post([&] { flag = true; });
    });
    EXPECT_TRUE(loop.RunUntil([&] { return flag.load(); }, std::chrono::seconds(30)));
    t.join();
    EXPECT_FALSE(loop.RunUntil([] { return false; }, std::chrono::milliseconds(10)));
}

TEST(PlainEventLoopThreads, DefaultLoopCanBeReplacedAndRestored) {
    PlainEventLoop mine;
    EventLoop& builtIn = EventLoop::Default();
    EventLoop::SetDefault(&mine);
    EXPECT_EQ(&EventLoop::Default(), &mine);
    EventLoop::SetDefault(nullptr);
    EXPECT_EQ(&EventLoop::Default(), &builtIn);
}

}  // namespace
}  // namespace velqor
