// The COM group against the simulated DA 1.0, 2.0 and 3.0 servers: interfaces per generation,
// partial adds, synchronous reads and writes with their quality rules, live data, transaction
// numbers across groups, cancel, DA 1.0 calls without a data connection, and item attributes
// matched by client handle.
#include <gtest/gtest.h>

#include "ComGroupFixture.h"

namespace velqor::test {
namespace {

struct Generation {
    const char* Server;
    int Expected;
    bool Stream;  // data through IAdviseSink streams
};
const Generation kGenerations[] = {{kDA10, 1, true}, {kDA20, 2, false}, {kDA30, 3, false}};

class GroupTest : public ComGroupTest {};

// After a write of value to a writable item and a read-only one, in that order: the read-only
// item has an error and bad quality, and the writable one reads back what was written.
void ExpectOnlyTheWritableWritten(TVelqorCOMGroup& g, TVelqorItemList& list, const Variant& value) {
    EXPECT_NE(list[1]->Error(), 0);
    EXPECT_EQ(list[1]->Quality(), 0);
    TVelqorItemList one(list[0]);
    ASSERT_TRUE(g.ReadSync(one, false));
    EXPECT_EQ(list[0]->Value(), value);
}

// Each generation: the right interfaces and sink; a partial add; a device read; live values
// arriving through the sink; removing the items.
TEST_F(GroupTest, EveryGenerationAddsReadsAndDeliversLiveValues) {
    for (const Generation& gen : kGenerations) {
        SCOPED_TRACE(gen.Server);
        Connect(gen.Server);
        TVelqorCOMGroup& g = NewGroup(true, 50);
        EXPECT_EQ(g.Generation(), gen.Expected);
        EXPECT_EQ(g.AdviseSink() != nullptr, gen.Stream);
        EXPECT_EQ(g.DataCallback() != nullptr, !gen.Stream);

        TVelqorItemList list = Items({"Dynamic/Double", "Plant/NoSuchItem", "Static/String"});
        EXPECT_FALSE(g.AddItems(list, true)) << "one item is unknown";
        EXPECT_NE(list[0]->FServerHandle, -1);
        EXPECT_EQ(list[0]->FCanonicalDatatype, VT_R8);
        EXPECT_EQ(list[1]->FServerHandle, -1);
        EXPECT_NE(list[1]->Error(), 0);
        EXPECT_NE(list[2]->FServerHandle, -1);
        EXPECT_THROW(g.AddItems(list, true), EOPCGroupException) << "already on the server";

        TVelqorItemList added;
        added.Add(list[0]);
        added.Add(list[2]);
        ASSERT_TRUE(g.ReadSync(added, false));
        EXPECT_EQ(list[2]->Value().Type(), VT_BSTR);
        EXPECT_TRUE(list[2]->IsGood());

        // Live values, the string among them, arrive in data-change messages for this group.
        ASSERT_TRUE(RunUntil([&] {
            for (const Posted& p : posted)
                if (p.Message == WM_VELQOR_DATACHANGE && p.Payload)
                    for (const ItemUpdate& u : p.Payload->Items)
                        if (u.ClientHandle == list[2]->ClientHandle()) return true;
            return false;
        }));
        for (const Posted* p : Of(WM_VELQOR_DATACHANGE))
            EXPECT_EQ(p->WParam, uintptr_t(g.ClientGroupHandle()));
        ApplyPosted();
        EXPECT_EQ(list[2]->Value().Type(), VT_BSTR);

        EXPECT_TRUE(g.RemoveItems(false, added));
        EXPECT_EQ(list[0]->FServerHandle, -1);
        EXPECT_THROW(g.RemoveItems(false, added), EOPCGroupException);
        posted.clear();
    }
}

// IOPCSyncIO marks written items good; the DA 3.0 VQT write leaves the quality alone.
TEST_F(GroupTest, SyncWriteQualityRules) {
    struct Case {
        const char* Server;
        int32_t QualityAfter;
    };
    for (const Case& c : {Case{kDA20, 0xC0}, Case{kDA30, 0x55}}) {
        SCOPED_TRACE(c.Server);
        Connect(c.Server);
        TVelqorCOMGroup& g = NewGroup(false, 1000, false);
        TVelqorItemList list = Items({"Writable/Int", "Static/Int"});
        ASSERT_TRUE(g.AddItems(list, true));
        for (TVelqorItemData* item : list) {
            ItemUpdate q;
            q.Fields = ItemUpdate::kQuality;
            q.Quality = 0x55;
            item->ApplyUpdate(q);
            item->SetWriteValue(Variant::I4(4242));
        }
        EXPECT_FALSE(g.WriteSync(list)) << "the static item is read-only";
        EXPECT_EQ(list[0]->Error(), 0);
        EXPECT_EQ(list[0]->Quality(), c.QualityAfter);
        ExpectOnlyTheWritableWritten(g, list, Variant::I4(4242));
    }
}

// An asynchronous write on every generation reports its outcome: the refused item has its error
// and bad quality (at once, or from the completion), the accepted one none.
TEST_F(GroupTest, AsynchronousWritesReportTheirOutcome) {
    for (const Generation& gen : kGenerations) {
        SCOPED_TRACE(gen.Server);
        Connect(gen.Server);
        TVelqorCOMGroup& g = NewGroup(true, 60000);
        TVelqorItemList list = Items({"Writable/Int", "Static/Int"});
        ASSERT_TRUE(g.AddItems(list, true));
        for (TVelqorItemData* item : list) item->SetWriteValue(Variant::I4(99));
        loop.ProcessPending();
        posted.clear();
        g.WriteAsync(list);
        // Items refused at once are reported before the completion comes; the completion ends
        // the request.
        ASSERT_TRUE(RunUntil([&] {
            return g.PendingTransaction() == 0 &&
                   (!Of(WM_VELQOR_WRITEERROR).empty() || !Of(WM_VELQOR_WRITECOMPLETE).empty());
        })) << "no completion ended the request";
        loop.ProcessPending();
        ApplyPosted();
        EXPECT_EQ(list[0]->Error(), 0);
        ExpectOnlyTheWritableWritten(g, list, Variant::I4(99));
    }
}

// One counter numbers the asynchronous requests of every group; a completion clears the
// request it answers.
TEST_F(GroupTest, TransactionNumbersCountAcrossGroupsAndCompletionsClearThem) {
    Connect(kDA30);
    TVelqorCOMGroup& a = NewGroup(true, 60000);
    TVelqorCOMGroup& b = NewGroup(true, 60000);
    TVelqorItemList la = Items({"Static/Int"}), lb = Items({"Static/Double"});
    ASSERT_TRUE(a.AddItems(la, true));
    ASSERT_TRUE(b.AddItems(lb, true));
    ASSERT_TRUE(a.ReadAsync(la));
    const uint32_t first = a.PendingClientTransaction();
    ASSERT_TRUE(b.ReadAsync(lb));
    // A server that answers on threads of its own may have ended a request already.
    if (!kOnPlatformCom) {
        EXPECT_EQ(b.PendingClientTransaction(), first + 1);
        EXPECT_NE(a.PendingTransaction(), 0);
    }
    b.Refresh(false);
    if (!kOnPlatformCom) {
        EXPECT_EQ(b.PendingClientTransaction(), first + 2);
    }
    ASSERT_TRUE(
        RunUntil([&] { return a.PendingTransaction() == 0 && b.PendingTransaction() == 0; }));
    // The read results arrive as data changes of their groups.
    loop.ProcessPending();
    bool sawA = false;
    for (const Posted* p : Of(WM_VELQOR_DATACHANGE))
        if (p->WParam == uintptr_t(a.ClientGroupHandle()) && !p->Payload->Items.empty())
            sawA = true;
    EXPECT_TRUE(sawA);
}

// Cancelling a pending read: the request is no longer pending, a second cancel sends nothing,
// and the read's values never arrive; a read made after it (answered in order) is the only one
// that delivers.
TEST_F(GroupTest, CancelOfAPendingRead) {
    VELQOR_SKIP_ON_PLATFORM_COM(
        "a server in its own process may complete the read before the "
        "cancel arrives, and then refuses it");
    for (const char* server : {kDA20, kDA10}) {
        SCOPED_TRACE(server);
        Connect(server);
        TVelqorCOMGroup& g = NewGroup(true, 60000);
        TVelqorItemList list = Items({"Static/Int"});
        ASSERT_TRUE(g.AddItems(list, true));
        loop.ProcessPending();
        posted.clear();
        ASSERT_TRUE(g.ReadAsync(list));
        ASSERT_NE(g.PendingTransaction(), 0);
        g.Cancel();
        EXPECT_EQ(g.PendingTransaction(), 0);
        EXPECT_NO_THROW(g.Cancel());
        ASSERT_TRUE(g.ReadAsync(list));
        ASSERT_TRUE(RunUntil([&] { return g.PendingTransaction() == 0; }));
        loop.ProcessPending();
        int reads = 0;
        for (const Posted* p : Of(WM_VELQOR_DATACHANGE))
            if (!p->Payload->Items.empty()) ++reads;
        EXPECT_EQ(reads, 1);
    }
}

// A DA 1.0 group without a data connection cannot name one: its asynchronous calls fail with
// a clear error instead of being sent.
TEST_F(GroupTest, DA10AsyncCallsNeedADataConnection) {
    Connect(kDA10);
    TVelqorCOMGroup& g = NewGroup(false, 1000, false);
    EXPECT_EQ(g.AdviseSink(), nullptr);
    TVelqorItemList list = Items({"Writable/Int"});
    ASSERT_TRUE(g.AddItems(list, true));
    list[0]->SetWriteValue(Variant::I4(1));
    const std::string want = "Group G0 has no data connection for asynchronous calls";
    for (auto call : std::initializer_list<std::function<void()>>{
             [&] { g.ReadAsync(list); }, [&] { g.WriteAsync(list); }, [&] { g.Refresh(true); }}) {
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const EOPCGroupException& e) {
            EXPECT_EQ(e.what(), want);
        }
    }
    EXPECT_EQ(g.PendingTransaction(), 0);
    EXPECT_TRUE(g.ReadSync(list, true)) << "synchronous calls need no data connection";
}

// Attributes are matched by client handle, whatever the order of the list; a list longer than
// the group gets nothing.
TEST_F(GroupTest, ItemAttributesMatchedByClientHandle) {
    Connect(kDA20);
    TVelqorCOMGroup& g = NewGroup(false, 1000, false);
    TVelqorItemList list = Items({"Plant/Area1/Tank1/Level", "Static/Int"});
    ASSERT_TRUE(g.AddItems(list, true));
    TVelqorItemList reversed;
    reversed.Add(list[1]);
    reversed.Add(list[0]);
    EXPECT_TRUE(g.GetItemAttributes(reversed));
    EXPECT_EQ(list[0]->FEUType, 1);
    ASSERT_TRUE(list[0]->KnownEUInfo().IsArray());
    EXPECT_EQ(list[1]->FEUType, 0);
    TVelqorItemList longer = Items({"X"});
    longer.Add(list[0]);
    longer.Add(list[1]);
    list[0]->FEUType = -1;
    EXPECT_FALSE(g.GetItemAttributes(longer));
    EXPECT_EQ(list[0]->FEUType, -1) << "nothing is updated from a short answer";
}

}  // namespace
}  // namespace velqor::test
