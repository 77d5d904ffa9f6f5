// Server callbacks run on the owning loop's thread in posting order, and nothing queued by a
// server that has gone away runs.
#include <atomic>
#include <thread>
#include <vector>

#include "ComTestSupport.h"
#include "com/ComCallbacks.h"
#include "com/ComValues.h"

namespace velqor::test {
namespace {

TEST(CallbackQueue, CallsRunOnTheLoopThreadInOrderAndStopWithTheQueue) {
    PlainEventLoop loop;
    std::vector<int> order;
    std::thread::id ranOn;
    auto queue = std::make_unique<CallbackQueue>(loop);
    std::thread poster([&] {
        for (int i = 0; i < 3; ++i)
            queue->Post([&, i] {
                order.push_back(i);
                ranOn = std::this_thread::get_id();
            });
    });
    poster.join();
    EXPECT_TRUE(order.empty()) << "nothing runs before the loop does";
    ASSERT_TRUE(loop.RunUntil([&] { return order.size() == 3; }, std::chrono::seconds(5)));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    int ticks = 0;
    queue->StartTimer(1, [&] { ++ticks; });
    ASSERT_TRUE(loop.RunUntil([&] { return ticks > 0; }, std::chrono::seconds(5)));
    bool late = false;
    queue->Post([&] { late = true; });
    queue.reset();  // the server goes away with a call queued and a timer running
    EXPECT_EQ(loop.TimerCount(), 0u);
    loop.ProcessPending();
    EXPECT_FALSE(late);
}

TEST(CallbackQueue, CancelAllDropsQueuedCallsButNotLaterOnes) {
    PlainEventLoop loop;
    CallbackQueue queue(loop);
    int runs = 0;
    queue.Post([&] { runs += 1; });
    queue.CancelAll();
    queue.Post([&] { runs += 10; });
    loop.ProcessPending();
    EXPECT_EQ(runs, 10);
}

using TaskStringTest = ComAccountedTest;

TEST_F(TaskStringTest, TextsAtTheBoundaryRoundTrip) {
    const std::string text = "Tank \xC3\xA4 \xF0\x9F\x98\x80";
    LPWSTR s = AllocTaskString(text);
    EXPECT_EQ(OleStrToText(s), text);
    CoTaskMemFree(s);
    BSTR b = AllocBstr(std::string("a\0b", 3));
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(BstrToText(b), std::string("a\0b", 3)) << "embedded zeros are kept";
    SysFreeString(b);
    EXPECT_EQ(BstrToText(nullptr), "");
    EXPECT_EQ(OleStrToText(nullptr), "");
}

}  // namespace
}  // namespace velqor::test
