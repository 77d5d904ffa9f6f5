// Replies xmlda-sim never gives, canned by the relay: foreign client handles, missing item
// lists, properties in another order, empty polled refreshes.
#include "XmlGroupFixture.h"

namespace velqor::xmlgrouptest {
namespace {

const std::string kResult =
    "RcvTime=\"2026-12-07T08:00:00.000Z\" ReplyTime=\"2026-12-07T08:00:00.010Z\" "
    "ServerState=\"running\"";

std::string ValueItem(const std::string& handle, const std::string& value) {
    return "<Items ClientItemHandle=\"" + handle +
           "\" Timestamp=\"2026-12-07T08:00:00.000Z\">"
           "<Value xsi:type=\"xsd:int\">" +
           value + "</Value><Quality QualityField=\"uncertain\"/></Items>";
}

class XmlGroupCanned : public XmlGroupTest {
  protected:
    // Answers every request of the operation with the body.
    void Can(const std::string& operation, std::function<std::string()> body) {
        relay->SetCanned([operation, body](const Exchange& e) -> std::optional<std::string> {
            if (e.Operation != operation) return std::nullopt;
            return body();
        });
    }
};

TEST_F(XmlGroupCanned, ReadAndWriteIgnoreReplyItemsOfForeignHandles) {
    TVelqorGroup* g = MakeGroup({"Static/Int", "Static/Double"}, false);
    TVelqorGroup* other = MakeGroup({"Static/Short"}, false);
    TVelqorItem* a = g->OPCItems().Items(0);
    TVelqorItem* b = g->OPCItems().Items(1);
    TVelqorItem* foreign = other->OPCItems().Items(0);
    PresetValue(*b, Variant::I4(-1));
    const std::string ha = std::to_string(a->ClientHandle());
    const std::string hf = std::to_string(foreign->ClientHandle());
    Can("Read", [&] {
        return ReplyEnvelope("ReadResponse", "",
                             "<ReadResult " + kResult + "/><RItemList>" + ValueItem(ha, "7") +
                                 ValueItem(hf, "8") + ValueItem("junk", "9") +
                                 ValueItem("4294967296", "10") + "</RItemList>");
    });
    TVelqorItemList both = g->OPCItems().All();
    EXPECT_FALSE(g->ReadSync(both, false)) << "b has no answer";
    EXPECT_EQ(a->Value(), Variant::I4(7));
    EXPECT_EQ(a->Quality(), 0x40);
    EXPECT_EQ(b->Value(), Variant::I4(-1)) << "no reply item, no new value";
    EXPECT_FALSE(b->IsGood());
    EXPECT_EQ(b->ErrorText(), "no result from the server");
    EXPECT_TRUE(foreign->Value().IsEmpty()) << "an item of another group is not touched";

    Can("Write", [&] {
        return ReplyEnvelope(
            "WriteResponse", "",
            "<WriteResult " + kResult + "/><RItemList>" + ValueItem(hf, "8") + "</RItemList>");
    });
    a->SetWriteValue(Variant::I4(3));
    TVelqorItemList one(a);
    EXPECT_FALSE(g->WriteSync(one)) << "only a foreign handle was answered";
    EXPECT_EQ(a->Value(), Variant::I4(7));
    EXPECT_LT(a->Error(), 0);
    EXPECT_TRUE(foreign->Value().IsEmpty());
}

TEST_F(XmlGroupCanned, ReadAndWriteRepliesWithoutItemListsFailEveryItem) {
    TVelqorGroup* g = MakeGroup({"Static/Int"}, false);
    TVelqorItem* a = g->OPCItems().Items(0);
    PresetValue(*a, Variant::I4(-1));
    PresetQuality(*a, 0xC0);
    Can("Read", [] { return ReplyEnvelope("ReadResponse", "", "<ReadResult " + kResult + "/>"); });
    TVelqorItemList one(a);
    EXPECT_FALSE(g->ReadSync(one, false));
    EXPECT_EQ(a->Value(), Variant::I4(-1));
    EXPECT_FALSE(a->IsGood()) << "an unanswered item is not good";
    EXPECT_EQ(a->ErrorText(), "no result from the server");
    Can("Write",
        [] { return ReplyEnvelope("WriteResponse", "", "<WriteResult " + kResult + "/>"); });
    a->SetWriteValue(Variant::I4(5));
    EXPECT_FALSE(g->WriteSync(one));
    EXPECT_EQ(a->Value(), Variant::I4(-1));
    EXPECT_EQ(a->ErrorText(), "no result from the server");
}

TEST_F(XmlGroupCanned, EngineeringUnitsAreMatchedByPropertyNameNotPosition) {
    TVelqorGroup* g = MakeGroup({"A", "B", "C"}, false);
    Can("GetProperties", [] {
        auto prop = [](const char* name, const char* type, const char* value) {
            return std::string("<Properties Name=\"") + name + "\"><Value xsi:type=\"xsd:" + type +
                   "\">" + value + "</Value></Properties>";
        };
        return ReplyEnvelope("GetPropertiesResponse", "",
                             "<GetPropertiesResult " + kResult +
                                 "/>"
                                 "<PropertyLists>" +
                                 prop("highEU", "double", "50") +
                                 prop("euType", "string", "analog") +
                                 prop("lowEU", "double", "-5") +
                                 "</PropertyLists>"
                                 "<PropertyLists>" +
                                 prop("euType", "string", "enumerated") +
                                 "</PropertyLists>"
                                 "<PropertyLists ResultID=\"E_UNKNOWNITEMNAME\"/>");
    });
    TVelqorItem* a = g->OPCItems().Items(0);
    EXPECT_EQ(a->EUType(), 1);
    const Variant range = a->EUInfo();
    ASSERT_TRUE(range.IsArray());
    EXPECT_EQ(range.ArrayData().Elements[0].AsDouble(), -5);
    EXPECT_EQ(range.ArrayData().Elements[1].AsDouble(), 50);
    EXPECT_EQ(g->OPCItems().Items(1)->EUType(), 2);
    EXPECT_TRUE(g->OPCItems().Items(1)->EUInfo().IsNull()) << "no euInfo: left as it was";
    EXPECT_EQ(g->OPCItems().Items(2)->EUType(), 0);
}

TEST_F(XmlGroupCanned, PolledRefreshDeliversOnlyItemsOfTheSubscription) {
    TVelqorGroup* other = MakeGroup({"Static/Short"}, false);
    TVelqorItem* foreign = other->OPCItems().Items(0);
    TVelqorGroup* g = MakeGroup({"Static/Int", "Static/Double"}, true, 30);
    g->OPCItems().Items(1)->SetIsActive(false);
    TVelqorItem* a = g->OPCItems().Items(0);
    TVelqorItem* inactive = g->OPCItems().Items(1);
    loop.ProcessPending();
    changes.clear();
    const std::string ha = std::to_string(a->ClientHandle());
    const std::string hi = std::to_string(inactive->ClientHandle());
    const std::string hf = std::to_string(foreign->ClientHandle());
    // By value: the poll thread may ask once more after the test body has returned.
    Can("SubscriptionPolledRefresh", [ha, hf, hi] {
        return ReplyEnvelope("SubscriptionPolledRefreshResponse", "",
                             "<SubscriptionPolledRefreshResult " + kResult + "/><RItemList>" +
                                 ValueItem(ha, "1234") + ValueItem(hf, "1") + ValueItem(hi, "2") +
                                 ValueItem("0", "3") + "</RItemList>");
    });
    ASSERT_TRUE(PumpUntil([&] { return changes.size() >= 2; }));
    for (const auto& c : changes) EXPECT_EQ(c.ItemIDs, std::vector<std::string>{"Static/Int"});
    EXPECT_EQ(a->Value(), Variant::I4(1234));
    EXPECT_EQ(a->Quality(), 0x40);
    EXPECT_TRUE(foreign->Value().IsEmpty());
    EXPECT_NE(inactive->Value(), Variant::I4(2))
        << "an item outside the subscription is not touched";
}

TEST_F(XmlGroupCanned, EmptyPolledRefreshPostsNothingAndKeepsPolling) {
    Can("SubscriptionPolledRefresh", [] {
        return ReplyEnvelope("SubscriptionPolledRefreshResponse", "",
                             "<SubscriptionPolledRefreshResult " + kResult + "/>");
    });
    MakeGroup({"Dynamic/Int"}, true, 20);
    loop.ProcessPending();
    changes.clear();
    const size_t polls = relay->Count("SubscriptionPolledRefresh");
    ASSERT_TRUE(PumpUntil([&] { return relay->Count("SubscriptionPolledRefresh") >= polls + 5; }));
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(shutdowns, 0);
}

TEST_F(XmlGroupCanned, SubscribeReplyWithoutItemListIsRefusedAndStartsNoThread) {
    Can("Subscribe", [] {
        return ReplyEnvelope("SubscribeResponse", "ServerSubHandle=\"x\"",
                             "<SubscribeResult " + kResult + "/>");
    });
    ExpectSubscribeRefused();
}

}  // namespace
}  // namespace velqor::xmlgrouptest
