// The COM group against simulated servers with their fault switches on: answers without the
// arrays they owe, short attribute lists, per-item failures under S_FALSE, callbacks naming an
// unknown item, DA 1.0 streams whose header lies about their length, and servers that go on
// calling after the group was removed. Nothing crashes, nothing failed is reported as success,
// and no memory is left behind.
#include <gtest/gtest.h>

#include "ComGroupFixture.h"
#include "com/VelqorCOMDAStream.h"
#include "comda/SimFaults.h"

namespace velqor::test {
namespace {

class FaultTest : public ComGroupTest {
  protected:
    void SetUp() override {
        ComGroupTest::SetUp();
        VELQOR_SKIP_ON_PLATFORM_COM("the fault switches live in the server's process");
    }
    void TearDown() override {
        sim::ClearSimFaults();
        ComGroupTest::TearDown();
    }
    // Data changes with items posted for that group so far.
    size_t ChangesOf(const TVelqorCOMGroup& g) const {
        size_t n = 0;
        for (const Posted* p : Of(WM_VELQOR_DATACHANGE))
            if (p->WParam == uintptr_t(g.ClientGroupHandle()) && !p->Payload->Items.empty()) ++n;
        return n;
    }
    void RemoveAll() {
        for (size_t i = 0; i < groups.size(); ++i) groups[i]->Remove(false, serverHandles[i]);
        groups.clear();
        serverHandles.clear();
    }
    static void Set(void (*change)(sim::SimFaults&)) {
        sim::SimFaults f;
        change(f);
        sim::SetSimFaults(f);
    }
};

// Calls whose answer lacks its arrays raise "wrong result" and change no item. An asynchronous
// request accepted without its per-item array has said nothing against any item: it stands and
// its completion comes.
TEST_F(FaultTest, MissingArraysAreWrongResults) {
    for (const char* server : {kDA10, kDA20, kDA30}) {
        SCOPED_TRACE(server);
        Connect(server);
        TVelqorCOMGroup& g = NewGroup(true, 60000);
        TVelqorItemList list = Items({"Writable/Int"});
        ASSERT_TRUE(g.AddItems(list, true));
        list[0]->SetWriteValue(Variant::I4(5));
        Set([](sim::SimFaults& f) { f.OutArrays = sim::OutArrayFault::Null; });
        struct Call {
            const char* method;
            std::function<void()> run;
        };
        const std::vector<Call> calls = {
            {"Read", [&] { g.ReadSync(list, false); }},
            {server == std::string(kDA30) ? "WriteVQT" : "Write", [&] { g.WriteSync(list); }},
            {"SetActiveState", [&] { g.SetActiveState(list, true); }},
            {"AddItems",
             [&] {
                 TVelqorItemList more = Items({"Static/Int"});
                 g.AddItems(more, true);
             }},
        };
        for (const Call& c : calls) {
            SCOPED_TRACE(c.method);
            try {
                c.run();
                ADD_FAILURE() << "no error";
            } catch (const EOPCServerException& e) {
                EXPECT_EQ(std::string(e.what()),
                          "wrong result from OPC Server (" + std::string(c.method) + ")");
            }
        }
        posted.clear();
        EXPECT_TRUE(g.WriteAsync(list));
        EXPECT_TRUE(g.ReadAsync(list));
        EXPECT_TRUE(RunUntil([&] {
            return !Of(WM_VELQOR_WRITECOMPLETE).empty() && !Of(WM_VELQOR_DATACHANGE).empty();
        }));
        sim::ClearSimFaults();
        EXPECT_EQ(list[0]->Error(), 0);
    }
}

// A short attribute list under S_OK updates what came and reports failure.
TEST_F(FaultTest, ShortAttributeListIsNoSuccess) {
    Connect(kDA20);
    TVelqorCOMGroup& g = NewGroup(false, 60000, false);
    TVelqorItemList list = Items({"Plant/Area1/Tank1/Level", "Static/Int"});
    ASSERT_TRUE(g.AddItems(list, true));
    Set([](sim::SimFaults& f) { f.OutArrays = sim::OutArrayFault::Short; });
    EXPECT_FALSE(g.GetItemAttributes(list));
}

// S_FALSE with every item failed: no exception, every item has its error and bad quality.
TEST_F(FaultTest, PartialFailureLeavesEachItemItsError) {
    Connect(kDA30);
    TVelqorCOMGroup& g = NewGroup(false, 60000, false);
    TVelqorItemList list = Items({"Static/Int", "Static/Double"});
    ASSERT_TRUE(g.AddItems(list, true));
    Set([](sim::SimFaults& f) { f.SFalseWithErrors = true; });
    EXPECT_FALSE(g.ReadSync(list, false));
    for (TVelqorItemData* item : list) {
        EXPECT_EQ(item->Error(), sim::kSimItemFault);
        EXPECT_EQ(item->Quality(), 0);
    }
}

// A completion that arrives before the asynchronous call returns (an apartment takes incoming
// calls while its outgoing call waits) ends the request: nothing stays pending, and the answer
// is delivered.
TEST_F(FaultTest, CompletionsInsideTheCallLeaveNothingPending) {
    Set([](sim::SimFaults& f) { f.CompleteInCall = true; });
    for (const char* server : {kDA10, kDA20, kDA30}) {
        for (int call = 0; call < 3; ++call) {
            SCOPED_TRACE(std::string(server) + " call " + std::to_string(call));
            Connect(server);
            TVelqorCOMGroup& g = NewGroup(true, 60000);
            TVelqorItemList list = Items({"Writable/Int"});
            ASSERT_TRUE(g.AddItems(list, true));
            list[0]->SetWriteValue(Variant::I4(7));
            loop.ProcessPending();
            posted.clear();
            if (call == 0) g.ReadAsync(list);
            if (call == 1) g.WriteAsync(list);
            if (call == 2) g.Refresh(false);
            EXPECT_EQ(g.PendingTransaction(), 0);
            loop.ProcessPending();
            EXPECT_FALSE(Of(call == 1 ? WM_VELQOR_WRITECOMPLETE : WM_VELQOR_DATACHANGE).empty());
            RemoveAll();
        }
    }
}

// Live data naming an item no one has, and DA 1.0 streams that lie about their length: the
// unknown item is never reported; a lying stream reports the group's items bad, with the error,
// and no value. A DA 3.0 group on the same plant is the clock: once it has seen two changes, so
// would the group under test.
TEST_F(FaultTest, UnknownHandlesAndLyingStreams) {
    struct Case {
        const char* server;
        void (*faults)(sim::SimFaults&);
        bool values;  // the items still get values (else only the error)
    };
    const Case cases[] = {
        {kDA20, [](sim::SimFaults& f) { f.UnknownClientHandle = true; }, true},
        {kDA10, [](sim::SimFaults& f) { f.UnknownClientHandle = true; }, true},
        {kDA10, [](sim::SimFaults& f) { f.BadStreamHeader = true; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server);
        Set(c.faults);
        Connect(c.server);
        TVelqorCOMGroup& g = NewGroup(true, 50);
        TVelqorItemList list = Items({"Dynamic/Double"});
        ASSERT_TRUE(g.AddItems(list, true));
        Connect(kDA30);
        TVelqorCOMGroup& clock = NewGroup(true, 50);
        TVelqorItemList ticks = Items({"Dynamic/Double"});
        ASSERT_TRUE(clock.AddItems(ticks, true));
        posted.clear();
        ASSERT_TRUE(RunUntil([&] { return ChangesOf(clock) >= 2; }));
        EXPECT_GT(ChangesOf(g), 0);
        for (const Posted* p : Of(WM_VELQOR_DATACHANGE))
            for (const ItemUpdate& u : p->Payload->Items) {
                EXPECT_NE(u.ClientHandle, sim::kSimUnknownClientHandle);
                if (p->WParam != uintptr_t(g.ClientGroupHandle())) continue;
                EXPECT_EQ((u.Fields & ItemUpdate::kValue) != 0, c.values);
                if (!c.values) {
                    EXPECT_EQ(u.Error, kMalformedAnswer);
                }
            }
        RemoveAll();
        sim::ClearSimFaults();
    }
}

// Items an asynchronous write fails at once get no completion: they are reported once, in a
// write error of their own, with a bad quality; the others complete as usual.
TEST_F(FaultTest, ItemsAnAsynchronousWriteFailsAtOnceAreReportedOnce) {
    for (const char* server : {kDA20, kDA30, kDA10}) {
        SCOPED_TRACE(server);
        Connect(server);
        TVelqorCOMGroup& g = NewGroup(true, 60000);
        TVelqorItemList list = Items({"Static/Int", "Writable/Int"});
        ASSERT_TRUE(g.AddItems(list, true));
        for (TVelqorItemData* item : list) item->SetWriteValue(Variant::I4(5));
        posted.clear();
        EXPECT_FALSE(g.WriteAsync(list));
        ASSERT_TRUE(RunUntil([&] { return !Of(WM_VELQOR_WRITECOMPLETE).empty(); }));
        loop.ProcessPending();
        const auto errors = Of(WM_VELQOR_WRITEERROR);
        ASSERT_EQ(errors.size(), 1u);
        ASSERT_EQ(errors[0]->Payload->Items.size(), 1u);
        const ItemUpdate& refused = errors[0]->Payload->Items[0];
        EXPECT_EQ(refused.ClientHandle, list[0]->ClientHandle());
        EXPECT_LT(refused.Error, 0);
        EXPECT_EQ(refused.Quality, kQualityBad);
        RemoveAll();
    }
}

// A server that keeps calling a removed group's sinks reaches nothing: no message for the group
// after its removal (a DA 1.0 sink beeps instead).
TEST_F(FaultTest, CallbacksAfterTheGroupWasRemoved) {
    int beeps = 0;
    com::SetBeepHook([&](UINT) { ++beeps; });
    for (const char* server : {kDA20, kDA10}) {
        SCOPED_TRACE(server);
        Set([](sim::SimFaults& f) {
            f.CallbacksAfterRemove = true;
            f.CallbacksAfterUnadvise = true;
        });
        Connect(server);
        TVelqorCOMGroup& g = NewGroup(true, 50);
        TVelqorItemList list = Items({"Dynamic/Double"});
        ASSERT_TRUE(g.AddItems(list, true));
        ASSERT_TRUE(RunUntil([&] { return ChangesOf(g) > 0; }));
        const uintptr_t gone = uintptr_t(g.ClientGroupHandle());
        int32_t handle = serverHandles.back();
        groups.back()->Remove(false, handle);
        TVelqorCOMGroup& clock = NewGroup(true, 50);
        TVelqorItemList ticks = Items({"Dynamic/Double"});
        ASSERT_TRUE(clock.AddItems(ticks, true));
        loop.ProcessPending();
        posted.clear();
        ASSERT_TRUE(RunUntil([&] { return ChangesOf(clock) >= 2; }));
        for (const Posted* p : Of(WM_VELQOR_DATACHANGE)) EXPECT_NE(p->WParam, gone);
        RemoveAll();
        sim::ClearSimFaults();
    }
    com::SetBeepHook(nullptr);
    EXPECT_GT(beeps, 0) << "the DA 1.0 server called its removed group's sink";
}

}  // namespace
}  // namespace velqor::test
