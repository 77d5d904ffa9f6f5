// The SOAP writer and the client-side XML-DA writer: every request envelope compared as XML
// with the document it must be, the omission rules, variants and arrays.
#include <gtest/gtest.h>

#include <clocale>

#include "RequestWriter.h"
#include "TestSupport.h"
#include "XmlCompare.h"
#include "soap/VelqorSOAPReader.h"
#include "xmlda/VelqorSOAPCallIO.h"

using namespace velqor;
using namespace velqor::xmlda;
using namespace velqor::test;

namespace {

const std::string kEnvOpen =
    R"(<soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/" )"
    R"(xmlns:xsd="http://www.w3.org/2001/XMLSchema" )"
    R"(xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"><soap:Body>)";
const std::string kEnvClose = "</soap:Body></soap:Envelope>";
const std::string kNs = R"(xmlns="http://opcfoundation.org/webservices/XMLDA/1.0/")";

std::string Envelope(const std::string& body) { return kEnvOpen + body + kEnvClose; }

std::unique_ptr<ItemValue> Item(std::string name, std::string handle) {
    auto v = std::make_unique<ItemValue>();
    v->ItemName = std::move(name);
    v->ClientItemHandle = std::move(handle);
    return v;
}

// A record with every field kind the writer knows beyond the XML-DA ones.
VELQOR_ENUM(colour, red, green, blue)
struct AllKinds : TRemotable {
    std::string Ansi;
    char Letter = 0;
    int16_t Small = 0;
    uint32_t Card = 0;
    int64_t Big = 0;
    double Real = 0;
    double Span = 0;
    EnumSet<colour> Colours;
    colour Tone = colour::red;
    Variant Any;
    VELQOR_RECORD(AllKinds, TRemotable, VELQOR_ANSI_ATTR(Ansi), VELQOR_ATTR(Letter),
                  VELQOR_ATTR(Small), VELQOR_ATTR(Card), VELQOR_ELEM(Big), VELQOR_ELEM(Real),
                  VELQOR_DURATION_ATTR(Span), VELQOR_ATTR(Colours), VELQOR_ATTR(Tone),
                  VELQOR_ELEM(Any))
};

struct WithIntArray : TRemotable {
    std::vector<int32_t> Numbers;
    VELQOR_RECORD(WithIntArray, TRemotable, VELQOR_ELEM(Numbers))
};
struct WithNestedArray : TRemotable {
    std::vector<std::vector<int32_t>> Rows;
    VELQOR_RECORD(WithNestedArray, TRemotable, VELQOR_ELEM(Rows))
};

std::string WriteWith(TVelqorSOAPWriter& w, const TRemotable& r) {
    w.BeginMessage("urn:test", "M");
    w.WriteRecord("", {}, r);
    return w.SaveToString();
}

}  // namespace

// ---- the eight requests ----------------------------------------------------------------------

TEST(XmlDaRequests, GetStatusIsTheExactDocument) {
    std::string action;
    std::string xml = WriteRequest(*CapturedGetStatus(), &action);
    EXPECT_EQ(action, "http://opcfoundation.org/webservices/XMLDA/1.0/GetStatus");
    // Declaration, then the envelope with soap, xsd and xsi declared in this order.
    EXPECT_EQ(xml, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n" + kEnvOpen + "<GetStatus " + kNs +
                       R"( LocaleID="en" ClientRequestHandle="TestClient"/>)" + kEnvClose + "\n");
}

TEST(XmlDaRequests, Read) {
    ScopedTimeZone tz("UTC");
    Read r;
    r.Options = std::make_unique<RequestOptions>();
    r.Options->ReturnErrorText = true;
    r.Options->ReturnItemTime = true;
    r.Options->ReturnItemName = true;
    r.Options->ClientRequestHandle = "h1";
    r.Options->RequestDeadline = EncodeDateTime(2026, 12, 6, 16, 43, 24);
    r.ItemList.push_back(std::make_unique<ReadRequestItemList>());
    r.ItemList[0]->Items.push_back(Item("Item1", "1"));
    auto second = Item("Item2", "2");
    second->ReqType = "xsd:int";
    second->MaxAge = 500;
    r.ItemList[0]->Items.push_back(std::move(second));
    std::string action;
    std::string xml = WriteRequest(r, &action);
    EXPECT_EQ(action, std::string(kXmlDaNamespace) + "Read");
    EXPECT_EQ(
        XmlDiff(
            Envelope(
                "<Read " + kNs + ">" +
                R"(<Options RequestDeadline="2026-12-06T16:43:24.000Z" ReturnErrorText="true" )"
                R"(ReturnItemTime="true" ReturnItemName="true" ClientRequestHandle="h1"/>)"
                R"(<ItemList ItemPath="">)"
                R"(<Items ItemPath="" ItemName="Item1" ClientItemHandle="1"/>)"
                R"(<Items ItemPath="" ItemName="Item2" ClientItemHandle="2" ReqType="xsd:int" MaxAge="500"/>)"
                "</ItemList></Read>"),
            xml),
        "");
}

TEST(XmlDaRequests, WriteWithValuesOfEveryKindAndNoQualityBits) {
    ScopedTimeZone tz("Asia/Kolkata");
    Write w;
    w.ReturnValuesOnReply = true;
    w.Options = std::make_unique<RequestOptions>();
    w.Options->ReturnErrorText = true;
    w.ItemList.push_back(std::make_unique<WriteRequestItemList>());
    w.ItemList[0]->ItemPath = "Plant/";
    auto& items = w.ItemList[0]->Items;
    items.push_back(Item("I4", "1"));
    items.back()->Value = Variant::I4(42);
    items.back()->Quality = std::make_unique<OPCQuality>();
    items.back()->Quality->QualityField = qualityBits::badCommFailure;
    items.back()->Quality->LimitField = "low";
    items.push_back(Item("R8", "2"));
    items.back()->Value = Variant::R8(0.5);
    items.push_back(Item("Text", "3"));
    items.back()->Value = Variant::Str("a<b&c \"d\"");
    items.push_back(Item("Ints", "4"));
    items.back()->Value = Variant::Array(VT_I4, {Variant::I4(1), Variant::I4(2), Variant::I4(3)});
    items.push_back(Item("Bytes", "5"));
    items.back()->Value = Variant::Bytes("abc");
    items.push_back(Item("When", "6"));
    items.back()->Value = Variant::Date(EncodeDateTime(2026, 12, 6, 22, 13, 24, 5));
    items.push_back(Item("Flag", "7"));
    items.back()->Value = Variant::Bool(false);
    items.push_back(Item("Empty", "8"));  // an empty value writes no Value element
    std::string xml = WriteRequest(w);
    EXPECT_EQ(
        XmlDiff(
            Envelope(
                "<Write " + kNs + R"( ReturnValuesOnReply="true">)" +
                R"(<Options ReturnErrorText="true"/><ItemList ItemPath="Plant/">)"
                R"(<Items ItemPath="" ItemName="I4" ClientItemHandle="1"><Value xsi:type="xsd:int">42</Value><Quality LimitField="low"/></Items>)"
                R"(<Items ItemPath="" ItemName="R8" ClientItemHandle="2"><Value xsi:type="xsd:double">0.5</Value></Items>)"
                R"(<Items ItemPath="" ItemName="Text" ClientItemHandle="3"><Value xsi:type="xsd:string">a&lt;b&amp;c "d"</Value></Items>)"
                R"(<Items ItemPath="" ItemName="Ints" ClientItemHandle="4"><Value xsi:type="ArrayOfInt"><int>1</int><int>2</int><int>3</int></Value></Items>)"
                R"(<Items ItemPath="" ItemName="Bytes" ClientItemHandle="5"><Value xsi:type="xsd:base64Binary">YWJj</Value></Items>)"
                R"(<Items ItemPath="" ItemName="When" ClientItemHandle="6"><Value xsi:type="xsd:dateTime">2026-12-06T22:13:24.005+05:30</Value></Items>)"
                R"(<Items ItemPath="" ItemName="Flag" ClientItemHandle="7"><Value xsi:type="xsd:boolean">false</Value></Items>)"
                R"(<Items ItemPath="" ItemName="Empty" ClientItemHandle="8"/>)"
                "</ItemList></Write>"),
            xml),
        "");
}

TEST(XmlDaRequests, Subscribe) {
    Subscribe s;
    s.ReturnValuesOnReply = true;
    s.SubscriptionPingRate = 10000;
    s.Options = std::make_unique<RequestOptions>();
    s.Options->ReturnErrorText = true;
    s.Options->ReturnItemTime = true;
    s.Options->LocaleID = "en";
    s.ItemList.push_back(std::make_unique<SubscribeRequestItemList>());
    auto& list = *s.ItemList[0];
    list.RequestedSamplingRate = 1000;
    list.Items.push_back(std::make_unique<SubscribeRequestItem>());
    list.Items[0]->ItemName = "Item1";
    list.Items[0]->ClientItemHandle = "7";
    list.Items[0]->Deadband = 0.25f;
    list.Items[0]->RequestedSamplingRate = 500;
    list.Items.push_back(std::make_unique<SubscribeRequestItem>());
    list.Items[1]->ItemPath = "Folder";
    list.Items[1]->ItemName = "Item2";
    list.Items[1]->ClientItemHandle = "8";
    list.Items[1]->Deadband = 0.1f;
    list.Items[1]->EnableBuffering = true;
    list.Items.push_back(nullptr);  // an empty entry is skipped
    std::string xml = WriteRequest(s);
    EXPECT_EQ(
        XmlDiff(
            Envelope(
                "<Subscribe " + kNs +
                R"( ReturnValuesOnReply="true" SubscriptionPingRate="10000">)" +
                R"(<Options ReturnErrorText="true" ReturnItemTime="true" LocaleID="en"/>)"
                R"(<ItemList ItemPath="" RequestedSamplingRate="1000">)"
                R"(<Items ItemPath="" ItemName="Item1" ClientItemHandle="7" Deadband="0.25" RequestedSamplingRate="500"/>)"
                R"(<Items ItemPath="Folder" ItemName="Item2" ClientItemHandle="8" Deadband="0.1" EnableBuffering="true"/>)"
                "</ItemList></Subscribe>"),
            xml),
        "");
}

TEST(XmlDaRequests, SubscriptionPolledRefreshWithHoldTimeInTwoZones) {
    SubscriptionPolledRefresh p;
    p.Options = std::make_unique<RequestOptions>();
    p.Options->ReturnErrorText = true;
    p.ServerSubHandles = {"163121520", "", "42"};
    p.WaitTime = 500;
    const std::string tail =
        R"(<Options ReturnErrorText="true"/><ServerSubHandles>163121520</ServerSubHandles>)"
        R"(<ServerSubHandles>42</ServerSubHandles></SubscriptionPolledRefresh>)";
    {
        ScopedTimeZone tz("UTC");
        p.HoldTime = EncodeDateTime(2026, 8, 24, 18, 12, 18);
        EXPECT_EQ(
            XmlDiff(Envelope("<SubscriptionPolledRefresh " + kNs +
                             R"( HoldTime="2026-08-24T18:12:18.000Z" WaitTime="500">)" + tail),
                    WriteRequest(p)),
            "");
    }
    {
        ScopedTimeZone tz("America/New_York");
        // The offset is the one in force at the date written: daylight saving time in August,
        // whatever the season now.
        p.HoldTime = EncodeDateTime(2026, 8, 24, 14, 12, 18, 250);
        std::string offset = "-04:00";
        EXPECT_EQ(XmlDiff(Envelope("<SubscriptionPolledRefresh " + kNs +
                                   R"( HoldTime="2026-08-24T14:12:18.250)" + offset +
                                   R"(" WaitTime="500">)" + tail),
                          WriteRequest(p)),
                  "");
    }
    // Zero hold time, zero wait time and a false ReturnAllItems are all left out.
    p.HoldTime = 0;
    p.WaitTime = 0;
    p.ReturnAllItems = false;
    EXPECT_EQ(XmlDiff(Envelope("<SubscriptionPolledRefresh " + kNs + ">" + tail), WriteRequest(p)),
              "");
}

TEST(XmlDaRequests, SubscriptionCancel) {
    EXPECT_EQ(
        XmlDiff(
            Envelope("<SubscriptionCancel " + kNs +
                     R"( ServerSubHandle="163121520" ClientRequestHandle="g6SG8duDHQtsuaEI"/>)"),
            WriteRequest(*CapturedSubscriptionCancel())),
        "");
}

TEST(XmlDaRequests, Browse) {
    Browse b;
    b.ItemName = "Folder1/Folder4/Folder6";
    b.ContinuationPoint = "cp1";
    b.MaxElementsReturned = 50;
    b.BrowseFilter = browseFilter::item;
    b.ElementNameFilter = "Item*";
    b.ReturnAllProperties = true;
    b.ReturnErrorText = true;
    b.PropertyNames = {"dataType", "", "accessRights"};
    EXPECT_EQ(
        XmlDiff(
            Envelope("<Browse " + kNs +
                     R"( ItemPath="" ItemName="Folder1/Folder4/Folder6" ContinuationPoint="cp1" )"
                     R"(MaxElementsReturned="50" BrowseFilter="item" ElementNameFilter="Item*" )"
                     R"(ReturnAllProperties="true" ReturnErrorText="true">)"
                     "<PropertyNames>dataType</PropertyNames><PropertyNames>accessRights</"
                     "PropertyNames></Browse>"),
            WriteRequest(b)),
        "");
}

TEST(XmlDaRequests, GetProperties) {
    GetProperties g;
    g.LocaleID = "en";
    g.ClientRequestHandle = "TestClient";
    g.ReturnPropertyValues = true;
    g.ItemIDs.push_back(std::make_unique<ItemIdentifier>());
    g.ItemIDs[0]->ItemName = "Item1";
    g.ItemIDs.push_back(std::make_unique<ItemIdentifier>());
    g.ItemIDs[1]->ItemPath = "Folder1/";
    g.ItemIDs[1]->ItemName = "Item2";
    g.PropertyNames = {"value", "quality"};
    EXPECT_EQ(
        XmlDiff(
            Envelope(
                "<GetProperties " + kNs +
                R"( LocaleID="en" ClientRequestHandle="TestClient" ItemPath="" ReturnPropertyValues="true">)"
                R"(<ItemIDs ItemPath="" ItemName="Item1"/><ItemIDs ItemPath="Folder1/" ItemName="Item2"/>)"
                "<PropertyNames>value</PropertyNames><PropertyNames>quality</PropertyNames></"
                "GetProperties>"),
            WriteRequest(g)),
        "");
}

// ---- omission rules and variants of the plain writer -----------------------------------------

TEST(SoapWriter, PlainWriterOmitsEmptyItemPathAndWritesQualityBits) {
    TVelqorSOAPWriter w;
    OPCQuality q;
    q.QualityField = qualityBits::uncertain;
    ItemIdentifier id;
    id.ItemName = "x";
    std::string xml = WriteWith(w, q);
    EXPECT_EQ(XmlDiff(Envelope(R"(<M xmlns="urn:test" QualityField="uncertain"/>)"), xml), "");
    EXPECT_EQ(XmlDiff(Envelope(R"(<M xmlns="urn:test" ItemName="x"/>)"), WriteWith(w, id)), "");
    // An enumeration at ordinal 0 is still written by name.
    q.QualityField = qualityBits::good;
    EXPECT_EQ(XmlDiff(Envelope(R"(<M xmlns="urn:test" QualityField="good"/>)"), WriteWith(w, q)),
              "");
}

TEST(SoapWriter, EmptyVariantIsNilByDefaultAndOmittedWhenAsked) {
    ItemValue v;
    TVelqorSOAPWriter w;
    EXPECT_EQ(
        XmlDiff(Envelope(R"(<M xmlns="urn:test"><Value xsi:nil="true"/></M>)"), WriteWith(w, v)),
        "");
    w.NilForEmptyVariants = false;
    EXPECT_EQ(XmlDiff(Envelope(R"(<M xmlns="urn:test"/>)"), WriteWith(w, v)), "");
    // A kind without a type name is written as nil.
    v.Value = Variant::Error(5);
    EXPECT_EQ(
        XmlDiff(Envelope(R"(<M xmlns="urn:test"><Value xsi:nil="true"/></M>)"), WriteWith(w, v)),
        "");
}

TEST(SoapWriter, EveryScalarKind) {
    AllKinds a;
    TVelqorSOAPWriter w;
    EXPECT_EQ(
        XmlDiff(Envelope(R"(<M xmlns="urn:test" Letter="0" Tone="red"><Any xsi:nil="true"/></M>)"),
                WriteWith(w, a)),
        "")
        << "zeros are omitted; a character, being text, is not";
    a.Ansi = "0";
    a.Letter = 'A';
    a.Small = -7;
    a.Card = 4000000000u;
    a.Big = -9000000000LL;
    a.Real = 1.5e20;
    a.Span = 93784.5;
    a.Colours.Add(colour::red);
    a.Colours.Add(colour::blue);
    a.Tone = colour::blue;
    a.Any = Variant::UI8(18446744073709551615ULL);
    EXPECT_EQ(
        XmlDiff(Envelope(R"(<M xmlns="urn:test" Ansi="0" Letter="65" Small="-7" Card="4000000000" )"
                         R"(Span="P1DT2H3M4.50S" Colours="red,blue" Tone="blue">)"
                         R"(<Big>-9000000000</Big><Real>1.5E20</Real>)"
                         R"(<Any xsi:type="xsd:unsignedLong">18446744073709551615</Any></M>)"),
                WriteWith(w, a)),
        "");
}

TEST(SoapWriter, VariantArraysOfEveryShape) {
    ScopedTimeZone tz("UTC");
    TVelqorSOAPWriter w;
    ItemValue v;
    // Each array and the Value element it is written as.
    const std::pair<Variant, std::string> arrays[] = {
        {Variant::Array(VT_VARIANT, {Variant::I4(1), Variant::Str("two"), Variant(),
                                     Variant::Bytes(std::string("\x00\xff", 2)),
                                     Variant::Array(VT_R8, {Variant::R8(0.5), Variant::R8(-2)})}),
         R"(<Value xsi:type="ArrayOfAnyType">)"
         R"(<anyType xsi:type="xsd:int">1</anyType>)"
         R"(<anyType xsi:type="xsd:string">two</anyType>)"
         R"(<anyType xsi:nil="true"/>)"
         R"(<anyType xsi:type="xsd:base64Binary">AP8=</anyType>)"
         R"(<anyType xsi:type="ArrayOfDouble"><double>0.5</double><double>-2</double></anyType>)"
         "</Value>"},
        {Variant::Array(VT_BSTR, {Variant::Str("a"), Variant::Str("")}),
         R"(<Value xsi:type="ArrayOfString"><string>a</string><string/></Value>)"},
        {Variant::Array(VT_BOOL, {Variant::Bool(true), Variant::Bool(false)}),
         R"(<Value xsi:type="ArrayOfBoolean"><boolean>true</boolean><boolean>false</boolean></Value>)"},
        {Variant::Array(VT_DATE, {Variant::Date(EncodeDateTime(2026, 1, 2, 3, 4, 5))}),
         R"(<Value xsi:type="ArrayOfDateTime"><dateTime>2026-01-02T03:04:05.000Z</dateTime></Value>)"},
        // An array without entries is an empty element of its type.
        {Variant::Array(VT_I2, {}), R"(<Value xsi:type="ArrayOfShort"/>)"},
    };
    for (const auto& [value, element] : arrays) {
        v.Value = value;
        EXPECT_EQ(XmlDiff(Envelope(R"(<M xmlns="urn:test">)" + element + "</M>"), WriteWith(w, v)),
                  "")
            << element;
    }
}

TEST(SoapWriter, FloatsAreLocaleIndependentAndClamped) {
    velqor::test::ScopedCommaLocale comma;
    if (!comma.Active()) GTEST_SKIP() << "no locale with a decimal comma could be made";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    ASSERT_STREQ(probe, "0,5") << "the locale is in force";
    TVelqorSOAPWriter w;
    ItemValue v;
    v.Value = Variant::R8(0.5);
    std::string xml = WriteWith(w, v);
    SubscribeRequestItem s;
    s.Deadband = 0.25f;
    std::string xml2 = WriteWith(w, s);
    v.Value = Variant::R4(std::numeric_limits<float>::infinity());
    std::string xml3 = WriteWith(w, v);
    v.Value = Variant::R8(-std::numeric_limits<double>::infinity());
    std::string xml4 = WriteWith(w, v);
    v.Value = Variant::R8(std::numeric_limits<double>::quiet_NaN());
    std::string xml5 = WriteWith(w, v);
    EXPECT_EQ(
        XmlDiff(Envelope(R"(<M xmlns="urn:test"><Value xsi:type="xsd:double">0.5</Value></M>)"),
                xml),
        "");
    EXPECT_EQ(XmlDiff(Envelope(R"(<M xmlns="urn:test" Deadband="0.25"/>)"), xml2), "");
    EXPECT_EQ(
        XmlDiff(Envelope(R"(<M xmlns="urn:test"><Value xsi:type="xsd:float">INF</Value></M>)"),
                xml3),
        "");
    EXPECT_EQ(
        XmlDiff(Envelope(R"(<M xmlns="urn:test"><Value xsi:type="xsd:double">-INF</Value></M>)"),
                xml4),
        "");
    EXPECT_EQ(
        XmlDiff(Envelope(R"(<M xmlns="urn:test"><Value xsi:type="xsd:double">NaN</Value></M>)"),
                xml5),
        "");
    EXPECT_EQ(SecondsToXSDDuration(93784.5), "P1DT2H3M4.50S");
    // Reading is just as independent of it.
    EXPECT_EQ(XSDToFloat("0.25"), 0.25);
    EXPECT_EQ(XSDToDecimal("12.5"), 125000);
    EXPECT_THROW(XSDToFloat("0,25"), EVariantError);
    EXPECT_DOUBLE_EQ(XSDDurationToSeconds("PT4.5S"), 4.5);
}

TEST(SoapWriter, UnsupportedArraysRaise) {
    TVelqorSOAPWriter w;
    WithIntArray a;
    EXPECT_NO_THROW(WriteWith(w, a)) << "an empty array writes nothing";
    a.Numbers = {1};
    try {
        WriteWith(w, a);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Integer not supported");
    }
    WithNestedArray n;
    n.Rows = {{1}};
    try {
        WriteWith(w, n);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "dynarray not supported");
    }
}

TEST(SoapWriter, HeaderFaultAndNestedRecordsUseTheirNamespaces) {
    TVelqorSOAPWriter w;
    w.BeginMessage("urn:test", "M");
    dom::XmlNode env = w.Document().DocumentElement();
    w.AddHeader(env);
    w.AddFault(env.FirstChild());
    ServerStatus st;
    st.SupportedLocaleIDs = {"en", "de"};
    st.StatusInfo = "ok";
    w.WriteRecord("Status", w.MethodElement(), st);
    std::string xml = w.SaveToString();
    EXPECT_EQ(
        XmlDiff(kEnvOpen +
                    R"(<M xmlns="urn:test"><Status>)"
                    "<StatusInfo>ok</StatusInfo><SupportedLocaleIDs>en</SupportedLocaleIDs>"
                    "<SupportedLocaleIDs>de</SupportedLocaleIDs>"
                    "<SupportedInterfaceVersions>XML_DA_Version_1_0</SupportedInterfaceVersions>"
                    "</Status></M><soap:Fault/></soap:Body>"
                    "<soap:Header/></soap:Envelope>",
                xml),
        "")
        << xml;
}

TEST(SoapWriter, WithoutMessageRaises) {
    TVelqorSOAPWriter w;
    GetStatus g;
    EXPECT_THROW(w.WriteRecord("", {}, g), Exception);
    EXPECT_THROW(w.SaveToString(), Exception);
}

TEST(XmlDaRequests, ALoneQuoteIsWrittenAsItself) {
    // A value of one double quote once doubled as the writer's "write even if empty" marker.
    GetProperties g;
    g.ItemIDs.push_back(std::make_unique<ItemIdentifier>());
    g.ItemIDs[0]->ItemName = "\"";
    EXPECT_NE(WriteRequest(g).find(R"(<ItemIDs ItemPath="" ItemName="&quot;"/>)"),
              std::string::npos)
        << WriteRequest(g);
}
