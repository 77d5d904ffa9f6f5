// Hostile and broken replies to Read, Write and Subscribe: an item is never good or "ok" when
// the server refused it, did not answer it, or answered with a value that cannot be read.
#include "XmlGroupFixture.h"

namespace velqor::xmlgrouptest {
namespace {

const std::string kResult =
    "RcvTime=\"2026-12-07T08:00:00.000Z\" ReplyTime=\"2026-12-07T08:00:00.010Z\"";

// "%H" in a reply item stands for the item's client handle.
std::string WithHandle(std::string text, const std::string& handle) {
    for (size_t at; (at = text.find("%H")) != std::string::npos;) text.replace(at, 2, handle);
    return text;
}

std::string Valued(const std::string& type, const std::string& text) {
    return "<Items ClientItemHandle=\"%H\"><Value xsi:type=\"xsd:" + type + "\">" + text +
           "</Value></Items>";
}

class XmlGroupHostile : public XmlGroupTest {
  protected:
    void Can(const std::string& operation, std::string body) {
        relay->SetCanned([operation, body](const Exchange& e) -> std::optional<std::string> {
            if (e.Operation != operation) return std::nullopt;
            return body;
        });
    }
};

TEST_F(XmlGroupHostile, EveryReadOrWriteItemTheServerDidNotGoodlyAnswerFails) {
    const struct {
        const char* op;     // "Read" or "Write"
        std::string items;  // the reply's RItemList content ("-" for no RItemList)
        std::string errors;
        bool ok;             // the item is a success (and, for reads, good)
        std::string detail;  // part of the item's error text
    } rows[] = {
        {"Read", Valued("int", "7"), "", true, ""},
        {"Write", "<Items ClientItemHandle=\"%H\"/>", "", true, ""},
        // refused with a name the client does not know, prefixed, or with the server's text
        {"Write", "<Items ClientItemHandle=\"%H\" ResultID=\"E_UNKNOWNITEMPATH\"/>",
         "<Errors ID=\"E_UNKNOWNITEMPATH\"><Text>no such path</Text></Errors>", false,
         "E_UNKNOWNITEMPATH: no such path"},
        {"Write", "<Items ClientItemHandle=\"%H\" ResultID=\"E_ACCESS_DENIED\"/>", "", false,
         "E_ACCESS_DENIED"},
        {"Write", "<Items ClientItemHandle=\"%H\" ResultID=\"opc:E_READONLY\"/>", "", false,
         "read only"},
        {"Read", "<Items ClientItemHandle=\"%H\" ResultID=\"E_OUTOFMEMORY\"/>", "", false,
         "E_OUTOFMEMORY"},
        // not answered
        {"Write", "-", "", false, "no result from the server"},
        {"Write", "", "", false, "no result from the server"},
        {"Write", "<Items ClientItemHandle=\"4294967295\"/>", "", false,
         "no result from the server"},
        {"Read", "<Items ClientItemHandle=\"junk\"/>", "", false, "no result from the server"},
        {"Read", "<Items ClientItemHandle=\"%H\"/>", "", false, "no value from the server"},
        // values that cannot be read
        {"Read", Valued("int", "12abc"), "", false, "invalid xsd:int value \"12abc\""},
        {"Read", Valued("int", "2147483648"), "", false, "xsd:int"},
        {"Read", Valued("long", "18446744073709551616"), "", false, "xsd:long"},
        {"Read", Valued("short", "70000"), "", false, "xsd:short"},
        {"Read", Valued("byte", "300"), "", false, "xsd:byte"},
        {"Read", Valued("unsignedByte", "-1"), "", false, "xsd:unsignedByte"},
        {"Read", Valued("unsignedInt", "4294967296"), "", false, "out of range"},
        {"Read", Valued("unsignedInt", "-1"), "", false, "out of range"},
        {"Read", Valued("unsignedLong", "18446744073709551616"), "", false, "xsd:unsignedLong"},
        {"Read", Valued("float", "1e39"), "", false, "xsd:float"},
        {"Read", Valued("double", "1e400"), "", false, "out of range"},
        {"Read", Valued("dateTime", "2026-13-01T00:00:00Z"), "", false, "xsd:dateTime"},
        {"Read", Valued("dateTime", "2026-01-01T00:00:00+99:99"), "", false, "invalid time offset"},
        {"Read", Valued("base64Binary", "!!!"), "", false, "xsd:base64Binary value \"!!!\""},
        {"Read", Valued("int", std::string(100, '9')), "", false, "9999...\""},
        {"Read",
         "<Items ClientItemHandle=\"%H\"><Value xsi:type=\"ArrayOfInt\"><int>1</int>"
         "<int>x</int></Value></Items>",
         "", false, "invalid xsd:int value \"x\""},
    };
    TVelqorGroup* g = MakeGroup({"Writable/Int"}, false);
    TVelqorItem* item = g->OPCItems().Items(0);
    const std::string h = std::to_string(item->ClientHandle());
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.op) + " " + r.items + r.errors);
        const std::string op = r.op;
        const std::string list = r.items == "-" ? "" : "<RItemList>" + r.items + "</RItemList>";
        Can(op,
            ReplyEnvelope(op + "Response", "",
                          "<" + op + "Result " + kResult + "/>" + WithHandle(list, h) + r.errors));
        item->ApplyUpdate(ItemUpdate::OperationResult(0));
        PresetQuality(*item, kQualityGood);
        PresetValue(*item, Variant::I4(1));
        TVelqorItemList one(item);
        bool done;
        if (op == "Read") {
            done = g->ReadSync(one, false);
        } else {
            item->SetWriteValue(Variant::I4(5));
            done = g->WriteSync(one);
        }
        EXPECT_EQ(done, r.ok);
        EXPECT_EQ(item->Error() >= 0, r.ok) << item->Error();
        if (op == "Read") {
            EXPECT_EQ(item->IsGood(), r.ok);
        }
        if (!r.ok) {
            EXPECT_NE(item->ErrorText().find(r.detail), std::string::npos) << item->ErrorText();
        }
    }
}

TEST_F(XmlGroupHostile, AReplyOfAnotherOperationIsAnErrorForTheCall) {
    TVelqorGroup* g = MakeGroup({"Writable/Int"}, false);
    TVelqorItem* item = g->OPCItems().Items(0);
    const std::string h = std::to_string(item->ClientHandle());
    const std::string answered = "<RItemList><Items ClientItemHandle=\"" + h + "\"/></RItemList>";
    for (const std::string element : {"ReadResponse", "Foo"}) {
        SCOPED_TRACE(element);
        Can("Write", ReplyEnvelope(element, "", answered));
        item->SetWriteValue(Variant::I4(5));
        TVelqorItemList one(item);
        try {
            g->WriteSync(one);
            ADD_FAILURE() << "no error";
        } catch (const EOPCServerException& e) {
            EXPECT_EQ(std::string(e.what()), "wrong result from OPC Server (Write): " + element +
                                                 " instead of WriteResponse");
        }
    }
}

// The reason travels with the data change from the poll thread to the item.
TEST_F(XmlGroupHostile, APolledValueThatCannotBeReadTurnsTheItemBadWithTheReason) {
    TVelqorGroup* g = MakeGroup({"Static/Int"}, true, 20);
    TVelqorItem* item = g->OPCItems().Items(0);
    const std::string h = std::to_string(item->ClientHandle());
    Can("SubscriptionPolledRefresh",
        ReplyEnvelope("SubscriptionPolledRefreshResponse", "",
                      "<SubscriptionPolledRefreshResult " + kResult + "/><RItemList>" +
                          WithHandle(Valued("int", "12abc"), h) + "</RItemList>"));
    ASSERT_TRUE(PumpUntil([&] { return item->Error() != 0; }));
    EXPECT_LT(item->Error(), 0);
    EXPECT_FALSE(item->IsGood());
    EXPECT_TRUE(item->Value().IsEmpty());
    EXPECT_EQ(item->ErrorText(), "invalid xsd:int value \"12abc\"");
}

TEST_F(XmlGroupHostile, SubscribeReplyWithoutServerSubHandleFailsTheSubscribe) {
    relay->SetCanned([](const Exchange& e) -> std::optional<std::string> {
        if (e.Operation != "Subscribe") return std::nullopt;
        const std::string h = Attribute(e.Body, "ClientItemHandle").value_or("0");
        return ReplyEnvelope("SubscribeResponse", "",
                             "<SubscribeResult " + kResult + "/><RItemList><Items><ItemValue " +
                                 "ClientItemHandle=\"" + h +
                                 "\"><Value xsi:type=\"xsd:int\">1</Value></ItemValue></Items>"
                                 "</RItemList>");
    });
    ExpectSubscribeRefused();
}

}  // namespace
}  // namespace velqor::xmlgrouptest
