// The messages a transport posts: data changes routed to their group, write results, and what
// happens to messages for groups and items that are gone.
#include "ModelFixture.h"

namespace velqor::testing {
namespace {

class DataChange : public ModelTest {
  protected:
    void SetUp() override {
        ModelTest::SetUp();
        g1 = ConnectWithGroup({"a", "b"}, "G1");
        g2 = server->OPCGroups().AddGroup("G2");
        c = g2->OPCItems().AddItem("c");
        a = g1->OPCItems().Items(0);
        b = g1->OPCItems().Items(1);
        g1->OnDatachange = [this](TVelqorServer* sender, const TVelqorItemList& l) {
            Log("G1", sender, l);
        };
        g2->OnDatachange = [this](TVelqorServer* sender, const TVelqorItemList& l) {
            Log("G2", sender, l);
        };
        server->OnDatachange = [this](TVelqorServer* sender, const TVelqorItemList& l) {
            Log("server", sender, l);
        };
    }
    void Log(const std::string& who, TVelqorServer* sender, const TVelqorItemList& l) {
        EXPECT_EQ(sender, server.get());
        std::string s = who + ":";
        for (auto* i : l) s += i->ItemID();
        events.push_back(s);
    }
    static ItemUpdate ValueOf(const TVelqorItemData* item, int32_t v) {
        ItemUpdate u;
        u.ClientHandle = item->ClientHandle();
        u.Fields = ItemUpdate::kValue | ItemUpdate::kQuality | ItemUpdate::kCountUpdate;
        u.Value = Variant(v);
        u.Quality = 0xC0;
        return u;
    }

    TVelqorGroup *g1 = nullptr, *g2 = nullptr;
    TVelqorItem *a = nullptr, *b = nullptr, *c = nullptr;
    std::vector<std::string> events;
};

TEST_F(DataChange, AppliedOnTheOwningThreadAndRaisedForTheGroupThenTheServer) {
    fake->SetItemValue("a", Variant(int32_t(1)), 0xC0, 45000.25);
    fake->SetItemValue("c", Variant(2.5), 0x40);
    fake->PostValues(*g1, {a});
    fake->PostValues(*g2, {c});
    EXPECT_TRUE(a->Value().IsEmpty()) << "nothing changes before the message is handled";
    Pump();
    EXPECT_EQ(events, (std::vector<std::string>{"G1:a", "server:a", "G2:c", "server:c"}));
    EXPECT_EQ(a->Value(), Variant(int32_t(1)));
    EXPECT_EQ(a->TimeStamp(), 45000.25);
    EXPECT_EQ(a->UpdateCount(), 1);
    EXPECT_EQ(c->Quality(), 0x40);
    EXPECT_EQ(b->UpdateCount(), 0);
}

TEST_F(DataChange, UpdatesCountAndLearnTheCanonicalType) {
    a->FCanonicalDatatype = 0;
    ItemUpdate u = ValueOf(a, 3);
    u.Fields |= ItemUpdate::kLearnCanonical | ItemUpdate::kError;
    u.Error = OPC_S_CLAMP;
    a->ResetUpdateCount(0x7FFFFFFE);
    fake->PostDataChange(g1->ID(), {u});
    Pump();
    EXPECT_EQ(a->CanonicalDatatype(), VT_I4);
    EXPECT_EQ(a->UpdateCount(), 1) << "the counter wraps to 1";
    EXPECT_EQ(a->Error(), OPC_S_CLAMP);
}

TEST_F(DataChange, MessagesForUnknownGroupsDeletedItemsAndOtherGroupsAreDropped) {
    fake->PostDataChange(g2->ID() + 100, {ValueOf(c, 1)});
    Pump();
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(c->Value().IsEmpty());

    // Item c belongs to G2: a G1 message naming it does not touch it.
    fake->PostDataChange(g1->ID(), {ValueOf(c, 5), ValueOf(b, 6)});
    Pump();
    EXPECT_EQ(events, (std::vector<std::string>{"G1:b", "server:b"}));
    EXPECT_TRUE(c->Value().IsEmpty());

    events.clear();
    uint32_t handleOfA = a->ClientHandle();
    fake->PostDataChange(g1->ID(), {ValueOf(a, 7)});
    g1->OPCItems().Delete(0);
    Pump();
    EXPECT_TRUE(events.empty()) << "every item of the change is gone";
    EXPECT_EQ(FindItemByClientHandle(handleOfA), nullptr);

    int32_t removedGroup = g2->ID();
    fake->PostDataChange(removedGroup, {ValueOf(c, 8)});
    server->OPCGroups().RemoveGroup("G2");
    Pump();
    EXPECT_TRUE(events.empty());
}

TEST_F(DataChange, CancelledPayloadsChangeNothingAndALostSubscriptionClearsActive) {
    auto cancelled = std::make_shared<std::atomic<bool>>(true);
    fake->PostDataChange(g1->ID(), {ValueOf(a, 1)}, true, cancelled);
    Pump();
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(a->Value().IsEmpty());
    EXPECT_TRUE(g1->IsActive());

    fake->ClearCalls();
    fake->PostDataChange(g1->ID(), {}, true);
    Pump();
    EXPECT_FALSE(g1->IsActive());
    EXPECT_TRUE(fake->Calls().empty()) << "the transport is not told";
    EXPECT_TRUE(fake->GroupNamed("G1")->Snapshot().Active);
}

TEST_F(DataChange, AHandlerThatRaisesIsShownAndLaterMessagesStillRun) {
    g1->OnDatachange = [](TVelqorServer*, const TVelqorItemList&) {
        throw EOPCException("handler broke");
    };
    fake->PostDataChange(g1->ID(), {ValueOf(a, 1)});
    fake->PostDataChange(g2->ID(), {ValueOf(c, 2)});
    Pump();
    EXPECT_EQ(shown, (std::vector<std::string>{"handler broke"}));
    EXPECT_EQ(a->Value(), Variant(int32_t(1)));
    EXPECT_EQ(events, (std::vector<std::string>{"G2:c", "server:c"}));
}

TEST_F(DataChange, AGroupHandlerThatDestroysItemsLeavesTheServerOnlyTheLivingOnes) {
    g1->OnDatachange = [this](TVelqorServer*, const TVelqorItemList& l) {
        EXPECT_EQ(l.Count(), 2);
        g1->OPCItems().RemoveItem(a);
    };
    fake->PostDataChange(g1->ID(), {ValueOf(a, 1), ValueOf(b, 2)});
    Pump();
    EXPECT_EQ(events, (std::vector<std::string>{"server:b"}));

    events.clear();
    g2->OnDatachange = [this](TVelqorServer*, const TVelqorItemList&) {
        server->OPCGroups().RemoveGroup("G2");
    };
    fake->PostDataChange(g2->ID(), {ValueOf(c, 3)});
    Pump();
    EXPECT_EQ(events, (std::vector<std::string>{"server:"}));
}

TEST_F(DataChange, RefreshAndAsyncReadArriveAsDataChanges) {
    fake->SetItemValue("a", Variant(int32_t(10)));
    fake->SetItemValue("b", Variant(int32_t(11)));
    b->SetIsActive(false);
    g1->Refresh(true);
    Pump();
    EXPECT_EQ(events, (std::vector<std::string>{"G1:a", "server:a"}))
        << "refresh covers active items";
    events.clear();
    EXPECT_TRUE(g1->ReadAsync());
    Pump();
    EXPECT_EQ(events, (std::vector<std::string>{"G1:ab", "server:ab"}));
    EXPECT_EQ(b->Value(), Variant(int32_t(11)));
}

using WriteResults = DataChange;

TEST_F(WriteResults, AnUnhandledWriteErrorRaisesTheReport) {
    fake->FailItem("b", OPC_E_BADTYPE);
    a->SetWriteValue(Variant(int32_t(1)));
    b->SetWriteValue(Variant("nope"));
    b->ApplyUpdate(ValueOf(b, 0));  // good before the write
    EXPECT_TRUE(g1->WriteAsync());
    Pump();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0],
              "Cannot write Items:\r\nb- The server cannot convert the data between "
              "the\r\nrequested data type and the "
              "canonical data\r\n");
    EXPECT_EQ(b->Error(), OPC_E_BADTYPE);
    EXPECT_EQ(b->Quality(), 0);
    EXPECT_EQ(a->Error(), 0);
}

TEST_F(WriteResults, HandlersReceiveTheItemsOfWriteErrorAndWriteComplete) {
    std::vector<std::string> got;
    server->OnWriteError = [&](TVelqorServer* s, const TVelqorItemList& l) {
        EXPECT_EQ(s, server.get());
        got.push_back("error:" + std::to_string(l.Count()));
    };
    server->OnWriteComplete = [&](TVelqorServer*, const TVelqorItemList& l) {
        got.push_back("complete:" + std::to_string(l.Count()));
    };
    fake->FailItem("a", OPC_E_RANGE);
    g1->WriteAsync();
    fake->FailItem("a", 0);
    g1->WriteAsync();
    Pump();
    EXPECT_EQ(got, (std::vector<std::string>{"error:2", "complete:2"}));
    EXPECT_TRUE(shown.empty());
}

TEST_F(WriteResults, ALateWriteErrorAfterDisconnectIsWordedFromTheTable) {
    fake->FailItem("a", OPC_E_RANGE);
    g1->WriteAsync();
    server->SetActive(false);
    ASSERT_TRUE(fake->PostWriteResult(true, {}));  // and one with no items: nothing to report
    Pump();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Cannot write Items:\r\na- The value was out of range.\r\n");
}

}  // namespace
}  // namespace velqor::testing
