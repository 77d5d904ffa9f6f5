// The streaming reader of item-list replies against the DOM reader: whatever it takes on, it
// reads to the very same record; whatever it leaves alone, the DOM reader decides.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "StreamCompare.h"
#include "TestSupport.h"
#include "xmlda/OpcXmlDa.h"
#include "xmlda/VelqorXMLDAStream.h"

using namespace velqor;

namespace {

std::string Envelope(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
           "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><soap:Body>" +
           body + "</soap:Body></soap:Envelope>";
}

std::string Polled(const std::string& inner, const std::string& attrs = "") {
    return Envelope(
        "<SubscriptionPolledRefreshResponse "
        "xmlns=\"http://opcfoundation.org/webservices/XMLDA/1.0/\"" +
        attrs + ">" + inner + "</SubscriptionPolledRefreshResponse>");
}

const std::string kHead =
    "<SubscriptionPolledRefreshResult RcvTime=\"2026-12-07T10:00:00.000Z\" "
    "ReplyTime=\"2026-12-07T10:00:00.125Z\" ServerState=\"running\"/>";

std::string Item(const std::string& handle, const std::string& value,
                 const std::string& rest = "") {
    return "<Items ClientItemHandle=\"" + handle +
           "\" Timestamp=\"2026-12-07T10:00:00.100+01:00\">" + value + rest + "</Items>";
}

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string Utf16(const std::string& ascii) {
    std::string out("\xFF\xFE", 2);
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

TEST(StreamReader, AgreesWithTheDomReaderOrLeavesTheReplyToIt) {
    const std::string usualList =
        "<RItemList SubscriptionHandle=\"h1\">" +
        Item("1", "<Value xsi:type=\"xsd:int\">42</Value>",
             "<Quality QualityField=\"uncertain\" LimitField=\"high\" VendorField=\"7\"/>") +
        Item("2", "<Value xsi:type=\"xsd:double\">-1.5E-3</Value>") +
        Item("3", "<Value xsi:type=\"xsd:string\">a &amp; b</Value>") +
        Item("4", "<Value xsi:type=\"xsd:dateTime\">2026-12-07T10:00:00Z</Value>") +
        Item("5", "<Value xsi:type=\"xsd:int\">12abc</Value>") +  // unreadable value
        Item("6", "<Value>plain text</Value>") + Item("7", "") +
        "<Items ClientItemHandle=\"8\" ResultID=\"E_BADTYPE\"/></RItemList>";
    const std::string read = Envelope(
        "<ReadResponse xmlns=\"http://opcfoundation.org/webservices/XMLDA/1.0/\">"
        "<ReadResult ServerState=\"running\"/><RItemList>" +
        Item("9", "<Value xsi:type=\"xsd:boolean\">true</Value>") + "</RItemList></ReadResponse>");
    struct Row {
        const char* name;
        const char* operation;
        std::string bytes;
        bool streamed;
    } rows[] = {
        {"usual polled refresh", "SubscriptionPolledRefresh",
         Polled(kHead + "<InvalidServerSubHandles>x9</InvalidServerSubHandles>" + usualList,
                " DataBufferOverflow=\"true\""),
         true},
        {"usual read", "Read", read, true},
        {"two item lists", "SubscriptionPolledRefresh", Polled(kHead + usualList + usualList),
         true},
        {"elements with a prefix", "SubscriptionPolledRefresh",
         Envelope("<o:SubscriptionPolledRefreshResponse "
                  "xmlns:o=\"http://opcfoundation.org/webservices/XMLDA/1.0/\"><o:RItemList>"
                  "<o:Items ClientItemHandle=\"1\"><o:Value xsi:type=\"xsd:short\">-3</o:Value>"
                  "</o:Items></o:RItemList></o:SubscriptionPolledRefreshResponse>"),
         true},
        {"a Value attribute wins over the element", "SubscriptionPolledRefresh",
         Polled("<RItemList><Items ClientItemHandle=\"1\" Value=\"attr\">"
                "<Value xsi:type=\"xsd:int\">1</Value></Items></RItemList>"),
         true},
        {"utf-16", "SubscriptionPolledRefresh", Utf16(Polled(usualList)), true},
        {"unknown elements are skipped", "SubscriptionPolledRefresh",
         Polled("<Extra><Deep a=\"1\"/></Extra>" + usualList), true},
        {"an array value", "SubscriptionPolledRefresh",
         Polled("<RItemList><Items ClientItemHandle=\"1\"><Value xsi:type=\"ArrayOfInt\">"
                "<int>1</int><int>2</int></Value></Items></RItemList>"),
         true},
        {"a nil value", "SubscriptionPolledRefresh",
         Polled("<RItemList><Items ClientItemHandle=\"1\"><Value xsi:type=\"xsd:int\" "
                "xsi:nil=\"true\"/></Items></RItemList>"),
         true},
        {"an empty value", "SubscriptionPolledRefresh",
         Polled("<RItemList>" + Item("1", "<Value xsi:type=\"xsd:string\"></Value>") +
                "</RItemList>"),
         true},
        {"a fault", "SubscriptionPolledRefresh",
         Envelope("<soap:Fault><faultcode>soap:Server</faultcode><faultstring>x</faultstring>"
                  "</soap:Fault>"),
         false},
        {"names in other letter cases", "SubscriptionPolledRefresh",
         Polled("<ritemlist><items ClientItemHandle=\"1\"/></ritemlist>"), false},
        {"a text beside the reply", "SubscriptionPolledRefresh",
         Envelope("text<SubscriptionPolledRefreshResponse/>"), false},
        {"the reply of another operation", "SubscriptionPolledRefresh", read, false},
        {"a bad timestamp", "SubscriptionPolledRefresh",
         Polled("<RItemList><Items ClientItemHandle=\"1\" Timestamp=\"yesterday\"/></RItemList>"),
         false},
        {"errors with texts", "Read",
         Envelope("<ReadResponse xmlns=\"http://opcfoundation.org/webservices/XMLDA/1.0/\">"
                  "<RItemList/><Errors ID=\"E_FAIL\"><Text>failed</Text></Errors></ReadResponse>"),
         true},
        {"arrays of every type, pretty-printed, with empty and nil entries",
         "SubscriptionPolledRefresh",
         Polled("<RItemList>" +
                Item("1",
                     "<Value xsi:type=\"ArrayOfDouble\">\n  <double>1.5</double>\n"
                     "  <double>-2E3</double>\n</Value>") +
                Item("2",
                     "<Value xsi:type=\"ArrayOfString\"><string>a</string><string/>"
                     "<string xsi:nil=\"true\"/><string> b </string></Value>") +
                Item("3",
                     "<Value xsi:type=\"ArrayOfAnyType\"><anyType xsi:type=\"xsd:int\">1"
                     "</anyType><anyType xsi:nil=\"1\"/><anyType xsi:type=\"ArrayOfByte\">"
                     "<byte>1</byte><byte>2</byte></anyType></Value>") +
                Item("4",
                     "<Value xsi:type=\"ArrayOfDateTime\"><dateTime>2026-12-07T10:00:00"
                     "+02:00</dateTime></Value>") +
                Item("5",
                     "<Value xsi:type=\"ArrayOfUnsignedLong\"><unsignedLong>"
                     "18446744073709551615</unsignedLong></Value>") +
                Item("6", "<Value xsi:type=\"ArrayOfFloat\"/>") +
                Item("7", "<Value xsi:type=\"ArrayOfInt\" xsi:nil=\"true\"/>") +
                Item("8", "<Value xsi:type=\"ArrayOfBoolean\"><boolean>maybe</boolean></Value>") +
                "</RItemList>"),
         true},
        {"other shapes of values and error details", "Read",
         Envelope("<ReadResponse xmlns=\"http://opcfoundation.org/webservices/XMLDA/1.0/\">"
                  "<RItemList>" +
                  Item("1", "<Value xsi:type=\"xsd:base64Binary\">QUI=</Value>") +
                  Item("2", "<Value xsi:type=\"xsd:base64Binary\">QU=I</Value>") +
                  Item("3", "<Value xsi:type=\"xsd:duration\">P1DT2H</Value>") +
                  Item("4", "<Value xsi:type=\"xsd:QName\">xsd:int</Value>") +
                  Item("5", "<Value xsi:type=\"OPCQuality\" QualityField=\"bad\"/>") +
                  Item("6",
                       "<Value xmlns:x=\"http://www.w3.org/1999/XMLSchema-instance\" "
                       "x:null=\"1\" x:type=\"xsd:int\">5</Value>") +
                  Item("7", "<Value xsi:type=\"xsd:int\"><x>1</x></Value>") +
                  Item("8", "<Value xsi:type=\"xsd:int\">1<!-- c -->2</Value>") +
                  Item("9", "<Value xsi:type=\"xsd:double\"><![CDATA[]]></Value>") +
                  Item("10", "<Value xsi:type=\"xsd:string\">  </Value>",
                       "<DiagnosticInfo>stale &amp; old</DiagnosticInfo>") +
                  "<Items ClientItemHandle=\"11\" ResultID=\"s:E_UNKNOWNITEMNAME\">"
                  "<DiagnosticInfo xsi:nil=\"true\"/></Items></RItemList>"
                  "<Errors ID=\"E_FAIL\"><Text xsi:type=\"xsd:string\">failed</Text></Errors>"
                  "</ReadResponse>"),
         true},
        {"a subscribe reply", "Subscribe",
         Envelope("<SubscribeResponse ServerSubHandle=\"s1\" "
                  "xmlns=\"http://opcfoundation.org/webservices/XMLDA/1.0/\"><SubscribeResult "
                  "ServerState=\"running\"/><RItemList RevisedSamplingRate=\"100\"><Items>"
                  "<ItemValue ClientItemHandle=\"1\"><Value xsi:type=\"ArrayOfShort\"><short>1"
                  "</short></Value></ItemValue></Items></RItemList></SubscribeResponse>"),
         true},
        {"blanks beside a comment in a value", "SubscriptionPolledRefresh",
         Polled("<RItemList>" + Item("1", "<Value xsi:type=\"xsd:int\"> <!-- c --> </Value>") +
                "</RItemList>"),
         false},
        {"cut short", "SubscriptionPolledRefresh",
         Polled(usualList).substr(0, Polled(usualList).size() - 40), false},
        {"an undeclared prefix", "SubscriptionPolledRefresh",
         "<soap:Envelope><soap:Body>" + Polled(usualList).substr(Polled(usualList).find("<Sub")),
         false},
        {"a document type", "SubscriptionPolledRefresh",
         "<!DOCTYPE soap:Envelope []>" + Polled(usualList).substr(38), false},
    };
    for (const Row& r : rows) {
        const test::StreamVerdict v = test::CompareStreamWithDom(r.bytes, r.operation);
        EXPECT_EQ(v.streamed, r.streamed) << r.name;
        EXPECT_TRUE(v.Agrees()) << r.name << ": " << v.difference;
    }
}

TEST(StreamReader, AgreesWithTheDomReaderWhereverTheParsersSlicesFall) {
    // A long reply reaches the parser in slices: a character, a reference, a tag or a CDATA
    // section cut at a slice's edge must read as it does whole, in UTF-8 and in UTF-16.
    auto reply = [](const std::string& text, size_t shift) {
        std::string items;
        for (int i = 1; i <= 600; ++i)
            items += Item(std::to_string(i), "<Value xsi:type=\"xsd:string\">" + text +
                                                 "<![CDATA[<x>]]><!-- c -->" +
                                                 std::string(size_t(i % 7), 'a') + "</Value>");
        std::string bytes = Polled(kHead + "<RItemList>" + items + "</RItemList>");
        return bytes.insert(bytes.find("?>") + 2, "<!--" + std::string(shift, ' ') + "-->");
    };
    for (size_t shift = 0; shift < 8; ++shift) {
        const std::string utf8 = reply("\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E &amp;&#x20AC;", shift);
        const std::string utf16 = Utf16(reply("plain &amp;&#x20AC;", shift));
        for (const std::string* bytes : {&utf8, &utf16}) {
            ASSERT_GT(bytes->size(), 100000u);
            const test::StreamVerdict v =
                test::CompareStreamWithDom(*bytes, "SubscriptionPolledRefresh");
            EXPECT_TRUE(v.streamed) << shift;
            EXPECT_TRUE(v.Agrees()) << shift << ": " << v.difference;
        }
    }
}

TEST(StreamReader, UpdatesComeFromTheStreamAndStopAtTheLists) {
    // The item values go to the receiver alone; the reply keeps its lists empty.
    xmlda::SubscriptionPolledRefreshResponse reply;
    std::vector<std::pair<size_t, std::string>> got;
    const std::string list = "<RItemList>" + Item("1", "<Value xsi:type=\"xsd:int\">1</Value>") +
                             Item("2", "<Value xsi:type=\"xsd:int\">2</Value>") + "</RItemList>";
    ASSERT_TRUE(StreamItemListReply(Polled(kHead + list + list), "SubscriptionPolledRefresh", reply,
                                    [&](size_t l, std::unique_ptr<TRemotable> v) {
                                        got.emplace_back(
                                            l, static_cast<xmlda::ItemValue&>(*v).ClientItemHandle);
                                    }));
    const std::vector<std::pair<size_t, std::string>> expected{
        {0, "1"}, {0, "2"}, {1, "1"}, {1, "2"}};
    EXPECT_EQ(got, expected);
    ASSERT_EQ(reply.RItemList.size(), 2u);
    EXPECT_TRUE(reply.RItemList[0]->Items.empty());
    ASSERT_TRUE(reply.SubscriptionPolledRefreshResult);
    EXPECT_EQ(reply.SubscriptionPolledRefreshResult->ServerState, xmlda::serverState::running);
}

TEST(StreamReader, CapturedRepliesAndTheFuzzCorpus) {
    std::vector<std::pair<std::filesystem::path, std::string>> files;
    const std::filesystem::path corpus = VELQOR_FUZZ_CORPUS_DIR;
    for (const char* name : {"polled.xml", "read.xml"})
        files.emplace_back(corpus / name,
                           std::string(name) == "read.xml" ? "Read" : "SubscriptionPolledRefresh");
    // The differential target's own seeds and findings, each read as the reply it holds.
    for (const auto& e :
         std::filesystem::directory_iterator(corpus.parent_path() / "stream_reply")) {
        const std::string bytes = ReadFile(e.path());
        const char* operation = "SubscriptionPolledRefresh";
        if (bytes.find("<ReadResponse") != std::string::npos) operation = "Read";
        if (bytes.find("<SubscribeResponse") != std::string::npos) operation = "Subscribe";
        files.emplace_back(e.path(), operation);
    }
    const std::filesystem::path captures = test::CapturesDir() + "/responses";
    if (std::filesystem::is_directory(captures)) {
        for (const auto& e : std::filesystem::directory_iterator(captures)) {
            const std::string n = e.path().filename().string();
            if (n.rfind("read_", 0) == 0) files.emplace_back(e.path(), "Read");
            if (n.rfind("subscriptionpolledrefresh_", 0) == 0)
                files.emplace_back(e.path(), "SubscriptionPolledRefresh");
        }
    } else {
        std::cout << "captured traffic not found at " << captures << ": corpus only\n";
    }
    for (const auto& [path, operation] : files) {
        const std::string bytes = ReadFile(path);
        ASSERT_FALSE(bytes.empty()) << path;
        const test::StreamVerdict v = test::CompareStreamWithDom(bytes, operation);
        // A reply one reader refuses the other refuses too (a typo in a namespace declaration).
        EXPECT_EQ(v.domRead, path.filename() != "undeclared-prefix.xml") << path;
        EXPECT_TRUE(v.Agrees()) << path << ": " << v.difference;
        if (path.parent_path() == captures) {
            EXPECT_TRUE(v.streamed) << path;
        }
        std::cout << path.filename().string() << (v.streamed ? ": streamed\n" : ": left to DOM\n");
    }
}

}  // namespace
