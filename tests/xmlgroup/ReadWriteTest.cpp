// Reads, writes and engineering-unit attributes of XML-DA groups against xmlda-sim, through the
// server component.
#include "XmlGroupFixture.h"

namespace velqor::xmlgrouptest {
namespace {

const int32_t kBadType = int32_t(0xC0040004U);

class XmlGroupReadWrite : public XmlGroupTest {
  protected:
    // An inactive group: reads and writes without subscription traffic.
    TVelqorGroup* Quiet(const std::vector<std::string>& ids) { return MakeGroup(ids, false); }
};

TEST_F(XmlGroupReadWrite, ReadGivesValuesQualitiesAndPerItemErrorsWithRequestedTypes) {
    TVelqorGroup* g = Quiet({"Static/Int", "Static/Double", "No/Such/Item", "Special/BadQuality"});
    TVelqorItemList items = g->OPCItems().All();
    g->OPCItems().Items(0)->SetRequestDatatype(VT_BSTR);
    PresetQuality(*g->OPCItems().Items(2), 0xC0);

    EXPECT_FALSE(g->ReadSync(false));
    TVelqorItem* asText = g->OPCItems().Items(0);
    EXPECT_EQ(asText->Value().Type(), VT_BSTR);
    EXPECT_EQ(asText->CanonicalDatatype(), 0) << "a requested type is not learnt as canonical";
    EXPECT_EQ(asText->Quality(), 0xC0);
    EXPECT_GT(asText->TimeStamp(), 0);
    TVelqorItem* dbl = g->OPCItems().Items(1);
    EXPECT_EQ(dbl->Value().Type(), VT_R8);
    EXPECT_EQ(dbl->CanonicalDatatype(), VT_R8);
    EXPECT_EQ(dbl->Error(), 0);
    EXPECT_EQ(dbl->UpdateCount(), 0) << "reads do not count updates";
    TVelqorItem* unknown = g->OPCItems().Items(2);
    EXPECT_EQ(unknown->Error(), ResultCodeFromName("E_UNKNOWNITEMNAME"));
    EXPECT_EQ(unknown->Quality(), 0);
    EXPECT_EQ(g->OPCItems().Items(3)->Quality(), 0x10);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("No/Such/Item- "), std::string::npos) << messages[0];

    const auto reads = relay->Requests("Read");
    ASSERT_EQ(reads.size(), 1u);
    const std::string& body = reads[0].Body;
    EXPECT_EQ(Occurrences(body, "<Items "), 4u);
    EXPECT_EQ(Occurrences(body, "ReqType=\"xsd:string\""), 1u) << body;
    EXPECT_EQ(Attribute(body, "ReturnErrorText"), "true");
    EXPECT_EQ(Attribute(body, "ClientRequestHandle"), std::to_string(Transport(g)->ServerHandle()));
    EXPECT_FALSE(Attribute(body, "LocaleID"));
    EXPECT_TRUE(changes.empty()) << "reads post nothing";
}

TEST_F(XmlGroupReadWrite, WriteReportsEachItemAndConvertsToTheRequestedType) {
    TVelqorGroup* g = Quiet({"Writable/Int", "WriteOnly/Int", "Static/Int", "Writable/Double",
                             "Writable/Short", "Writable/Boolean"});
    auto item = [&](int i) { return g->OPCItems().Items(i); };
    item(0)->SetWriteValue(Variant::I4(42));
    item(1)->SetWriteValue(Variant::I4(5));
    item(2)->SetWriteValue(Variant::I4(1));
    PresetValue(*item(2), Variant::I4(-3));
    // item 3: no write value
    item(4)->SetRequestDatatype(VT_I2);
    item(4)->SetWriteValue(Variant::Str("12"));
    item(5)->SetRequestDatatype(VT_I1);
    item(5)->SetWriteValue(Variant::Str("not a number"));

    TVelqorItemList all = g->OPCItems().All();
    EXPECT_FALSE(g->WriteSync(all));
    EXPECT_EQ(item(0)->Error(), 0);
    EXPECT_EQ(item(0)->Value().AsInt32(), 42);
    EXPECT_EQ(item(0)->Quality(), 0xC0);
    EXPECT_EQ(item(1)->Error(), 0) << "E_WRITEONLY is a success";
    EXPECT_EQ(item(1)->Value(), Variant::I4(5))
        << "the written value stands in for the missing reply";
    EXPECT_EQ(item(2)->Error(), ResultCodeFromName("E_READONLY"));
    EXPECT_EQ(item(2)->Value(), Variant::I4(-3)) << "a failed write keeps the value";
    EXPECT_EQ(item(3)->Error(), kBadType);
    EXPECT_EQ(item(4)->Error(), 0);
    EXPECT_EQ(item(4)->Value().Type(), VT_I2);
    EXPECT_EQ(item(4)->Value().AsInt32(), 12);
    EXPECT_EQ(item(5)->Error(), kBadType) << "a value that cannot be converted is not sent";

    const auto writes = relay->Requests("Write");
    ASSERT_EQ(writes.size(), 1u);
    const std::string& body = writes[0].Body;
    EXPECT_EQ(Occurrences(body, "<Items "), 5u) << body;
    EXPECT_EQ(body.find("Writable/Boolean"), std::string::npos);
    EXPECT_NE(body.find("ReqType=\"xsd:short\""), std::string::npos);
    EXPECT_EQ(Occurrences(body, "<Value"), 4u)
        << "the item without a write value is sent without one";
    EXPECT_EQ(Attribute(body, "ReturnValuesOnReply"), "true");

    // Read back: the service kept what was written.
    TVelqorItemList first(item(0));
    EXPECT_TRUE(g->ReadSync(first, false));
    EXPECT_EQ(item(0)->Value().AsInt32(), 42);
}

TEST_F(XmlGroupReadWrite, WriteAsyncPostsCompleteOrError) {
    TVelqorGroup* g = Quiet({"Writable/Int", "Static/Int"});
    std::vector<std::string> complete, failed;
    server->OnWriteComplete = [&](TVelqorServer*, const TVelqorItemList& l) {
        for (auto* i : l) complete.push_back(i->FItemID);
    };
    server->OnWriteError = [&](TVelqorServer*, const TVelqorItemList& l) {
        for (auto* i : l) failed.push_back(i->FItemID);
    };
    g->OPCItems().Items(0)->SetWriteValue(Variant::I4(9));
    g->OPCItems().Items(1)->SetWriteValue(Variant::I4(9));
    TVelqorItemList ok(g->OPCItems().Items(0));
    EXPECT_TRUE(g->WriteAsync(ok));
    TVelqorItemList all = g->OPCItems().All();
    EXPECT_FALSE(g->WriteAsync(all));
    loop.ProcessPending();
    EXPECT_EQ(complete, std::vector<std::string>{"Writable/Int"});
    EXPECT_EQ(failed, (std::vector<std::string>{"Writable/Int", "Static/Int"}));
}

TEST_F(XmlGroupReadWrite, EngineeringUnitsOfAnalogEnumeratedAndPlainItems) {
    TVelqorGroup* g = Quiet({"Plant/Area1/Tank1/Level", "Plant/Area1/Tank1/Valve", "Dynamic/Int"});
    TVelqorItem* level = g->OPCItems().Items(0);
    EXPECT_EQ(level->EUType(), 1);
    const Variant range = level->EUInfo();
    ASSERT_TRUE(range.IsArray());
    ASSERT_EQ(range.ArrayData().Elements.size(), 2u);
    EXPECT_EQ(range.ArrayData().Elements[0].AsDouble(), 0);
    EXPECT_EQ(range.ArrayData().Elements[1].AsDouble(), 10);
    TVelqorItem* valve = g->OPCItems().Items(1);
    EXPECT_EQ(valve->EUType(), 2);
    const Variant states = valve->EUInfo();
    ASSERT_TRUE(states.IsArray());
    ASSERT_EQ(states.ArrayData().Elements.size(), 4u);
    EXPECT_EQ(states.ArrayData().Elements[1].ToText(), "Open");
    EXPECT_EQ(g->OPCItems().Items(2)->EUType(), 0);
    EXPECT_TRUE(g->OPCItems().Items(2)->EUInfo().IsNull());
    // One request for the whole group, asking for the four properties by name.
    const auto asked = relay->Requests("GetProperties");
    ASSERT_EQ(asked.size(), 1u);
    for (const char* name : {"euType", "euInfo", "lowEU", "highEU"})
        EXPECT_NE(asked[0].Body.find(std::string(">") + name + "<"), std::string::npos) << name;
    TVelqorItemList none;
    EXPECT_FALSE(Transport(g)->GetItemAttributes(none));
}

}  // namespace
}  // namespace velqor::xmlgrouptest
