// Messages posted from other threads, as a poll thread posts them, and the group's event.
#include <thread>

#include "ModelFixture.h"

namespace velqor::testing {
namespace {

using FromOtherThreads = ModelTest;

TEST_F(FromOtherThreads, DataChangesArriveInPostingOrderAndAreAppliedOnTheOwningThread) {
    auto* g = ConnectWithGroup({"a"});
    auto* a = g->OPCItems().Items(0);
    const uint32_t handle = a->ClientHandle();
    const int32_t groupID = g->ID();
    constexpr int kChanges = 2000;
    std::vector<int32_t> seen;
    const auto owner = std::this_thread::get_id();
    server->OnDatachange = [&](TVelqorServer*, const TVelqorItemList& l) {
        EXPECT_EQ(std::this_thread::get_id(), owner);
        seen.push_back(l[0]->Value().AsInt32());
    };
    std::thread poller([&] {
        for (int32_t i = 0; i < kChanges; ++i) {
            ItemUpdate u;
            u.ClientHandle = handle;
            u.Fields = ItemUpdate::kValue | ItemUpdate::kCountUpdate;
            u.Value = Variant(i);
            fake->PostDataChange(groupID, {u});
        }
    });
    bool done =
        loop.RunUntil([&] { return int(seen.size()) == kChanges; }, std::chrono::seconds(30));
    poller.join();
    ASSERT_TRUE(done);
    for (int32_t i = 0; i < kChanges; ++i) ASSERT_EQ(seen[size_t(i)], i);
    EXPECT_EQ(a->UpdateCount(), kChanges);
}

TEST_F(FromOtherThreads, AProducerStoppedAfterPostingChangesNothing) {
    auto* g = ConnectWithGroup({"a"});
    auto* a = g->OPCItems().Items(0);
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    ItemUpdate u;
    u.ClientHandle = a->ClientHandle();
    u.Fields = ItemUpdate::kValue;
    u.Value = Variant(int32_t(1));
    std::thread producer(
        [&, groupID = g->ID()] { fake->PostDataChange(groupID, {u}, false, cancelled); });
    producer.join();
    cancelled->store(true);  // stopped before the owning thread got to the message
    Pump();
    EXPECT_TRUE(a->Value().IsEmpty());
}

TEST_F(FromOtherThreads, TheGroupEventWakesAWaiterOnEachDataChange) {
    auto* g = ConnectWithGroup({"a"});
    std::shared_ptr<TVelqorNamedEvent> event = g->Event();
    ASSERT_TRUE(event);
    std::atomic<bool> waiting{false}, woke{false};
    std::thread waiter([&] {
        waiting = true;
        woke = event->Wait(std::chrono::seconds(30));
    });
    while (!waiting) std::this_thread::yield();
    // The waiter may not be inside Wait yet: pulse until it wakes.
    ItemUpdate u;
    u.ClientHandle = g->OPCItems().Items(0)->ClientHandle();
    u.Fields = ItemUpdate::kQuality;
    loop.RunUntil(
        [&] {
            if (!woke) fake->PostDataChange(g->ID(), {u});
            return woke.load();
        },
        std::chrono::seconds(30));
    waiter.join();
    EXPECT_TRUE(woke);
    EXPECT_FALSE(event->IsSet()) << "a pulse leaves the event non-signalled";
    EXPECT_FALSE(event->Wait(std::chrono::milliseconds(1)));
    event->Set();
    EXPECT_TRUE(event->Wait(std::chrono::milliseconds(1)));
    server->SetActive(false);
    EXPECT_FALSE(g->Event()) << "the event goes with the server-side group";
}

}  // namespace
}  // namespace velqor::testing
