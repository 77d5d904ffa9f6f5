// The SOAP reader and the client-side XML-DA reader: replies written in the styles real servers
// use, the nil and storing rules, arrays, faults of SOAP 1.1 and 1.2, and refused envelopes.
#include <gtest/gtest.h>

#include <cmath>

#include "StreamCompare.h"
#include "TestSupport.h"
#include "xmlda/VelqorSOAPCallIO.h"

using namespace velqor;
using namespace velqor::xmlda;
using velqor::test::ScopedTimeZone;

namespace {

const std::string kSoap11 = "http://schemas.xmlsoap.org/soap/envelope/";
const std::string kOpc = "http://opcfoundation.org/webservices/XMLDA/1.0/";
const std::string kXsi = R"(xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance")";
const std::string kXsd = R"(xmlns:xsd="http://www.w3.org/2001/XMLSchema")";

// A body in a plain soap: envelope.
std::string Env(const std::string& body) {
    return R"(<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap=")" + kSoap11 +
           "\" " + kXsi + " " + kXsd + "><soap:Body>" + body + "</soap:Body></soap:Envelope>";
}

template <class Reply>
std::unique_ptr<Reply> ReadReply(const std::string& xml) {
    TVelqorSoapReader r;
    r.Parse(xml);
    auto reply = std::make_unique<Reply>();
    r.ReadRecord(r.ResultElement, *reply);
    return reply;
}

// The Value element of one ItemValue, read as a variant.
Variant ValueOf(const std::string& valueXml) {
    auto reply = ReadReply<ReadResponse>(Env("<ReadResponse xmlns=\"" + kOpc +
                                             "\"><RItemList><Items ItemName=\"x\">" + valueXml +
                                             "</Items></RItemList></ReadResponse>"));
    return reply->RItemList.at(0)->Items.at(0)->Value;
}

void ExpectStatus(const GetStatusResponse& r) {
    ASSERT_TRUE(r.GetStatusResult);
    ASSERT_TRUE(r.Status);
    EXPECT_EQ(r.GetStatusResult->ServerState, serverState::suspended);
    EXPECT_EQ(r.GetStatusResult->ClientRequestHandle, "c1");
    EXPECT_EQ(r.GetStatusResult->ReplyTime, EncodeDateTime(2026, 8, 24, 16, 53, 46, 946));
    EXPECT_EQ(r.Status->VendorInfo, "Vendor");
    EXPECT_EQ(r.Status->ProductVersion, "1.2");
    EXPECT_EQ(r.Status->StartTime, EncodeDateTime(2026, 7, 23, 17, 43, 54, 890));
    EXPECT_EQ(r.Status->SupportedLocaleIDs, (std::vector<std::string>{"en-us", "de"}));
}

std::string FaultMessage(const std::string& xml, std::string* code = nullptr,
                         std::string* reason = nullptr) {
    TVelqorSoapReader r;
    try {
        r.Parse(xml);
    } catch (const EVelqorSOAPFault& f) {
        if (code) *code = f.FaultCode();
        if (reason) *reason = f.FaultString();
        return f.what();
    }
    return "no fault";
}

std::string ParseError(const std::string& xml) {
    TVelqorSoapReader r;
    try {
        r.Parse(xml);
    } catch (const EVelqorSOAPConvertError& e) {
        return e.what();
    }
    return "accepted";
}

// A record with field kinds beyond the XML-DA ones.
VELQOR_ENUM(shade, light, dark)
struct Mixed : TRemotable {
    int16_t Small = 0;
    int64_t Big = 0;
    char Letter = 0;
    double Span = 0;
    double When = 0;
    EnumSet<shade> Shades;
    shade Shade = shade::light;
    std::vector<int32_t> Numbers;
    std::vector<std::vector<int32_t>> Rows;
    VELQOR_RECORD(Mixed, TRemotable, VELQOR_ATTR(Small), VELQOR_ATTR(Big), VELQOR_ATTR(Letter),
                  VELQOR_DURATION_ATTR(Span), VELQOR_DATETIME_ELEM(When), VELQOR_ATTR(Shades),
                  VELQOR_ELEM(Shade), VELQOR_ELEM(Numbers), VELQOR_ELEM(Rows))
};

struct MixedReader : TVelqorSOAPReader {
    std::unique_ptr<TRemotable> CreateObject(std::string_view) override { return nullptr; }
};

std::unique_ptr<Mixed> ReadMixed(const std::string& inner) {
    MixedReader r;
    r.Parse(Env(inner));
    auto m = std::make_unique<Mixed>();
    r.ReadRecord(r.ResultElement, *m);
    return m;
}

}  // namespace

// ---- styles ----------------------------------------------------------------------------------

TEST(SoapReaderStyles, DefaultNamespacePrefixedAndElementFieldsReadAlike) {
    ScopedTimeZone tz("UTC");
    // Default namespace, fields as attributes.
    ExpectStatus(*ReadReply<GetStatusResponse>(Env(
        "<GetStatusResponse xmlns=\"" + kOpc +
        "\">"
        R"(<GetStatusResult ServerState="suspended" ClientRequestHandle="c1" ReplyTime="2026-08-24T16:53:46.946Z"/>)"
        R"(<Status ProductVersion="1.2" StartTime="2026-07-23T17:43:54.890+00:00"><VendorInfo>Vendor</VendorInfo>)"
        "<SupportedLocaleIDs>en-us</SupportedLocaleIDs><SupportedLocaleIDs>de</"
        "SupportedLocaleIDs></Status>"
        "</GetStatusResponse>")));
    // SOAP-ENV and ns1 prefixes, a header, an id on the body, xsi:type on records.
    ExpectStatus(*ReadReply<GetStatusResponse>(
        R"(<SOAP-ENV:Envelope xmlns:SOAP-ENV=")" + kSoap11 + "\" " + kXsi + " " + kXsd +
        " xmlns:ns1=\"" + kOpc +
        "\"><SOAP-ENV:Header><ns1:Session>1</ns1:Session></SOAP-ENV:Header>"
        R"(<SOAP-ENV:Body id="_0"><ns1:GetStatusResponse>)"
        R"(<ns1:GetStatusResult xsi:type="ns1:ReplyBase" ServerState="suspended" ClientRequestHandle="c1" ReplyTime="2026-08-24T17:53:46.946+01:00"/>)"
        R"(<ns1:Status xsi:type="ns1:ServerStatus" ProductVersion="1.2" StartTime="2026-07-23T12:43:54.890-05:00">)"
        R"(<ns1:VendorInfo xsi:type="xsd:string">Vendor</ns1:VendorInfo>)"
        R"(<ns1:SupportedLocaleIDs xsi:type="xsd:string">en-us</ns1:SupportedLocaleIDs><ns1:SupportedLocaleIDs>de</ns1:SupportedLocaleIDs>)"
        "</ns1:Status></ns1:GetStatusResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>"));
    // Fields as child elements, names in another case, pretty-printed.
    ExpectStatus(*ReadReply<GetStatusResponse>(
        Env("\n  <getstatusresponse xmlns=\"" + kOpc +
            "\">\n"
            "    <GETSTATUSRESULT>\n      <ServerState>suspended</ServerState>\n"
            "      <clientrequesthandle>c1</clientrequesthandle>\n"
            "      <ReplyTime xsi:type=\"xsd:dateTime\">2026-08-24T16:53:46.946Z</ReplyTime>\n    "
            "</GETSTATUSRESULT>\n"
            "    "
            "<status><productVersion>1.2</productVersion><StartTime>2026-07-23T17:43:54.890Z</"
            "StartTime>"
            "<VENDORINFO>Vendor</VENDORINFO><supportedlocaleids>en-us</supportedlocaleids>"
            "<SupportedLocaleIds>de</SupportedLocaleIds></status>\n  </getstatusresponse>\n")));
}

TEST(SoapReaderStyles, AttributesMatchExactlyChildrenIgnoringCase) {
    auto a = ReadReply<ReadResponse>(
        Env("<ReadResponse xmlns=\"" + kOpc +
            "\"><RItemList><Items itemname=\"no\"/><Items><itemname>yes</itemname></Items>"
            "</RItemList></ReadResponse>"));
    ASSERT_EQ(a->RItemList.size(), 1u);
    ASSERT_EQ(a->RItemList[0]->Items.size(), 2u);
    EXPECT_EQ(a->RItemList[0]->Items[0]->ItemName, "");
    EXPECT_EQ(a->RItemList[0]->Items[1]->ItemName, "yes");
}

TEST(SoapReaderStyles, Utf16WithByteOrderMarkAndDeclaredLatin1) {
    std::string utf8 =
        Env("<SubscriptionCancelResponse xmlns=\"" + kOpc + "\" ClientRequestHandle=\"Grüße\"/>");
    utf8.replace(utf8.find("utf-8"), 5, "utf-16");
    std::string utf16 = "\xFF\xFE";
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        char16_t u = c;
        if (c >= 0xC0) {  // the two-byte sequences of ü and ß
            u = char16_t(((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
        }
        utf16 += char(u & 0xFF);
        utf16 += char(u >> 8);
    }
    EXPECT_EQ(ReadReply<SubscriptionCancelResponse>(utf16)->ClientRequestHandle, "Grüße");
    std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><e:Envelope xmlns:e=\"" +
                         kSoap11 +
                         "\"><e:Body><SubscriptionCancelResponse ClientRequestHandle=\"Gr\xFC\xDF"
                         "e\"/></e:Body></e:Envelope>";
    EXPECT_EQ(ReadReply<SubscriptionCancelResponse>(latin1)->ClientRequestHandle, "Grüße");
}

// ---- variants --------------------------------------------------------------------------------

TEST(SoapReaderVariants, TypeAndNilRules) {
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:int">7</Value>)"), Variant::I4(7));
    EXPECT_EQ(ValueOf("<Value>7</Value>"), Variant::Str("7"));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:int" xsi:nil="true"/>)"), Variant::Null());
    EXPECT_EQ(ValueOf(R"(<Value xsi:nil="true"/>)"), Variant::Str(""));
    EXPECT_EQ(ValueOf("<Value/>"), Variant::Str(""));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:string"/>)"), Variant::Str(""));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:int" xsi:nil="1"/>)"), Variant::Null());
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:int" xsi:NULL="true"/>)"), Variant::Null());
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:int" xsi:nil="false">3</Value>)"), Variant::I4(3));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:int" href="#id1"/>)"), Variant::Null())
        << "an href makes an empty element non-nil; its empty text then is no integer";
    EXPECT_EQ(
        ValueOf(R"(<Value xsi:type="ns1:OPCQuality" xmlns:ns1="urn:x" QualityField="uncertain"/>)"),
        Variant::Str("uncertain"));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="OPCQuality" LimitField="low"></Value>)"),
              Variant::Str("good"));
    // The 1999 instance namespace of older toolkits.
    EXPECT_EQ(
        ValueOf(
            R"(<Value xmlns:x="http://www.w3.org/1999/XMLSchema-instance" x:type="xsd:short">-3</Value>)"),
        Variant::I2(-3));
}

TEST(SoapReaderVariants, ScalarKinds) {
    ScopedTimeZone tz("Asia/Kolkata");
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:short">-32768</Value>)"), Variant::I2(-32768));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:byte">-5</Value>)"), Variant::I1(-5));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:unsignedByte">200</Value>)"), Variant::UI1(200));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:unsignedShort">65535</Value>)"), Variant::UI2(65535));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:unsignedInt">4294967295</Value>)"),
              Variant::UI4(4294967295u));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:long"> -9000000000 </Value>)"),
              Variant::I8(-9000000000LL));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:unsignedLong">18446744073709551615</Value>)"),
              Variant::UI8(18446744073709551615ULL));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:float">1.3399999</Value>)"), Variant::R4(1.3399999f));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:double">5.4000000000000004</Value>)"),
              Variant::R8(5.4));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:double">-INF</Value>)"), Variant::R8(-HUGE_VAL));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:decimal">12.5</Value>)"), Variant::Currency(125000));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:boolean"> true </Value>)"), Variant::Bool(true));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:boolean">1</Value>)"), Variant::Bool(true));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:boolean">false</Value>)"), Variant::Bool(false));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:boolean"> 0</Value>)"), Variant::Bool(false));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:dateTime">2011-03-30T22:00:00.000-01:00</Value>)"),
              Variant::Date(EncodeDateTime(2011, 3, 31, 4, 30)));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:duration">PT1M</Value>)"), Variant::Str("PT1M"));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:QName">xsd:int</Value>)"), Variant::Str("xsd:int"));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:anyType">x</Value>)"), Variant::Str("x"));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:string"><![CDATA[a<b]]></Value>)"),
              Variant::Str("a<b"));
    // Texts that do not read as their type give null inside a record.
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:int">seven</Value>)"), Variant::Null());
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:unsignedByte">256</Value>)"), Variant::Null());
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:dateTime">2026-02-30T00:00:00Z</Value>)"),
              Variant::Null());
}

// A text that is no value of its type fails the item with the reason, whichever reader reads
// the reply; none reads as a plausible value.
TEST(SoapReaderVariants, TextsThatAreNoValueFailTheItemWithTheReason) {
    const struct {
        const char* value;
        const char* reason;
    } rows[] = {
        {R"(<Value xsi:type="xsd:boolean">maybe</Value>)", "not a boolean"},
        {R"(<Value xsi:type="xsd:boolean">True</Value>)", "not a boolean"},
        {R"(<Value xsi:type="xsd:base64Binary">A</Value>)", "cut short"},
        {R"(<Value xsi:type="xsd:base64Binary">====</Value>)", "misplaced padding"},
        {R"(<Value xsi:type="xsd:base64Binary">QU=JD</Value>)", "misplaced padding"},
        {R"(<Value xsi:type="xsd:base64Binary">QQ==QQ==</Value>)", "misplaced padding"},
        {R"(<Value xsi:type="xsd:int"><a>1</a><b>2</b></Value>)", "holds elements"},
        {R"(<Value xsi:type="xsd:string">a<b/>c</Value>)", "holds elements"},
    };
    for (const auto& r : rows) {
        const std::string xml =
            Env("<ReadResponse xmlns=\"" + kOpc + "\"><RItemList><Items ClientItemHandle=\"1\">" +
                r.value + "</Items></RItemList></ReadResponse>");
        auto reply = ReadReply<ReadResponse>(xml);
        const ItemValue& item = *reply->RItemList.at(0)->Items.at(0);
        EXPECT_TRUE(item.Value.IsNull()) << r.value;
        EXPECT_NE(item.ValueError.find(r.reason), std::string::npos)
            << r.value << ": " << item.ValueError;
        const test::StreamVerdict v = test::CompareStreamWithDom(xml, "Read");
        EXPECT_TRUE(v.Agrees()) << r.value << ": " << v.difference;
    }
    // Base64 as it is written: padded groups, line breaks and blanks anywhere.
    EXPECT_EQ(ValueOf("<Value xsi:type=\"xsd:base64Binary\">QQ==</Value>"), Variant::Bytes("A"));
    EXPECT_EQ(ValueOf("<Value xsi:type=\"xsd:base64Binary\"> QU\r\nI= </Value>"),
              Variant::Bytes("AB"));
}

TEST(SoapReaderVariants, ArraysOfEveryKind) {
    Variant ints = ValueOf(R"(<Value xsi:type="ArrayOfInt"><int>1</int><int>2</int></Value>)");
    EXPECT_EQ(ints, Variant::Array(VT_I4, {Variant::I4(1), Variant::I4(2)}));
    EXPECT_EQ(ints.ArrayData().LowBound, 0);
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="ArrayOfLong"><long>1</long><long>-2</long></Value>)"),
              Variant::Array(VT_BSTR, {Variant::Str("1"), Variant::Str("-2")}));
    EXPECT_EQ(
        ValueOf(
            R"(<Value xsi:type="ns1:ArrayOfDouble" xmlns:ns1="urn:x"><double>5.4</double><double>-1E-5</double></Value>)"),
        Variant::Array(VT_R8, {Variant::R8(5.4), Variant::R8(-1e-5)}));
    EXPECT_EQ(
        ValueOf(
            R"(<Value xsi:type="ArrayOfString"><string>a</string><string/><string xsi:nil="true"/></Value>)"),
        Variant::Array(VT_BSTR, {Variant::Str("a"), Variant::Str(""), Variant::Str("")}));
    EXPECT_EQ(
        ValueOf(
            R"(<Value xsi:type="ArrayOfBoolean"><boolean>true</boolean><boolean>0</boolean></Value>)"),
        Variant::Array(VT_BOOL, {Variant::Bool(true), Variant::Bool(false)}));
    EXPECT_EQ(
        ValueOf(
            R"(<Value xsi:type="ArrayOfUnsignedShort"><unsignedShort>7</unsignedShort></Value>)"),
        Variant::Array(VT_UI2, {Variant::UI2(7)}));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="ArrayOfDecimal"><decimal>1.25</decimal></Value>)"),
              Variant::Array(VT_CY, {Variant::Currency(12500)}));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="ArrayOfAnyType"><anyType xsi:type="xsd:int">1</anyType>)"
                      R"(<anyType xsi:type="xsd:string">two</anyType><anyType xsi:nil="true"/>)"
                      R"(<anyType xsi:type="ArrayOfShort"><short>3</short></anyType></Value>)"),
              Variant::Array(VT_VARIANT, {Variant::I4(1), Variant::Str("two"), Variant::Null(),
                                          Variant::Array(VT_I2, {Variant::I2(3)})}));
    EXPECT_EQ(ValueOf("<Value xsi:type=\"xsd:base64Binary\">YW\r\nJj</Value>"),
              Variant::Bytes("abc"));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="ArrayOfUnsignedByte">AP8=</Value>)"),
              Variant::Bytes(std::string("\x00\xff", 2)));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:base64Binary">====</Value>)"), Variant::Null());
    // An array without entries is empty, not null, unless it says it is nil.
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="ArrayOfInt"> </Value>)"), Variant::Array(VT_I4, {}));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="ArrayOfInt"></Value>)"), Variant::Array(VT_I4, {}));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="ArrayOfString"/>)"), Variant::Array(VT_BSTR, {}));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="xsd:base64Binary"/>)"), Variant::Bytes(""));
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="ArrayOfInt" xsi:nil="true"/>)"), Variant::Null());
    // A bad entry fails the whole array, which a record field then reads as null.
    EXPECT_EQ(ValueOf(R"(<Value xsi:type="ArrayOfInt"><int>1</int><int>x</int></Value>)"),
              Variant::Null());
}

// ---- records and storing rules ---------------------------------------------------------------

TEST(SoapReaderRecords, MissingRecordElementsStillYieldRecords) {
    auto r = ReadReply<ReadResponse>(Env(
        "<ReadResponse xmlns=\"" + kOpc +
        "\"><RItemList><Items ItemName=\"a\"/>"
        "<Items ItemName=\"b\"><Quality QualityField=\"badCommFailure\" VendorField=\"7\"/></Items>"
        "<Items ItemName=\"c\"><Quality/></Items></RItemList></ReadResponse>"));
    ASSERT_TRUE(r->ReadResult) << "created although absent";
    const auto& items = r->RItemList.at(0)->Items;
    ASSERT_EQ(items.size(), 3u);
    ASSERT_TRUE(items[0]->Quality);
    EXPECT_EQ(items[0]->Quality->QualityField, qualityBits::good);
    EXPECT_EQ(items[1]->Quality->QualityField, qualityBits::badCommFailure);
    EXPECT_EQ(items[1]->Quality->VendorField, 7);
    EXPECT_EQ(items[2]->Quality->QualityField, qualityBits::good);
    EXPECT_TRUE(r->Errors.empty());
}

TEST(SoapReaderRecords, StoringRules) {
    ScopedTimeZone tz("UTC");
    auto m = ReadMixed(
        R"(<M Small="12.7" Big="-9000000000" Letter="65" Span="P1DT2H3M4.5S" Shades="light, dark">)"
        R"(<When xsi:type="xsd:dateTime">2026-01-02T03:04:05Z</When><shade xsi:type="xsd:boolean">true</shade></M>)");
    EXPECT_EQ(m->Small, 12);
    EXPECT_EQ(m->Big, -9000000000LL);
    EXPECT_EQ(m->Letter, 'A');
    EXPECT_DOUBLE_EQ(m->Span, 93784.5);
    EXPECT_EQ(m->When, EncodeDateTime(2026, 1, 2, 3, 4, 5));
    EXPECT_EQ(m->Shades.Bits, 3u);
    EXPECT_EQ(m->Shade, shade::dark) << "a true boolean selects ordinal 1";
    auto n =
        ReadMixed(R"(<M><When>2026-01-02T03:04:05Z</When><Shade xsi:type="xsd:int">1</Shade></M>)");
    EXPECT_EQ(n->When, EncodeDateTime(2026, 1, 2, 3, 4, 5)) << "untyped date-time text";
    EXPECT_EQ(n->Shade, shade::dark);
    try {
        ReadMixed(R"(<M Small="40000"/>)");
        FAIL();
    } catch (const EVelqorRangeError& e) {
        EXPECT_STREQ(e.what(), "SRangeError");
    }
    EXPECT_THROW(ReadMixed(R"(<M><Shade xsi:type="xsd:int">2</Shade></M>)"), EVelqorRangeError);
    EXPECT_THROW(ReadMixed(R"(<M Small="many"/>)"), EVariantError);
    EXPECT_THROW(ReadMixed(R"(<M Shades="light,pale"/>)"), EVariantError);
    // A child that cannot be read is null, and null is no number.
    EXPECT_THROW(ReadMixed(R"(<M><Small xsi:type="xsd:int">many</Small></M>)"), EVariantError);
    EXPECT_THROW(
        ReadReply<GetStatusResponse>(Env(R"(<R><GetStatusResult ServerState="dormant"/></R>)")),
        EVariantError);
}

TEST(SoapReaderRecords, BooleanFieldsAndUnreadableChildren) {
    auto r = ReadReply<BrowseResponse>(
        Env("<BrowseResponse MoreElements=\"True\"><Elements IsItem=\"1\" "
            "HasChildren=\"false\"><Name xsi:type=\"xsd:int\">x</Name></Elements>"
            "<Elements IsItem=\"yes\"/></BrowseResponse>"));
    EXPECT_TRUE(r->MoreElements) << "a boolean field reads its text ignoring case";
    ASSERT_EQ(r->Elements.size(), 2u);
    EXPECT_TRUE(r->Elements[0]->IsItem);
    EXPECT_FALSE(r->Elements[0]->HasChildren);
    EXPECT_EQ(r->Elements[0]->Name, "") << "unreadable child is null, stored as empty text";
    EXPECT_FALSE(r->Elements[1]->IsItem);
}

TEST(SoapReaderRecords, ServerStatusKeepsTheFirstInterfaceVersion) {
    auto r = ReadReply<GetStatusResponse>(
        Env("<GetStatusResponse><Status><SupportedInterfaceVersions>XML_DA_Version_1_0</"
            "SupportedInterfaceVersions>"
            "<SupportedInterfaceVersions>XML_DA_Version_2_0</SupportedInterfaceVersions></Status></"
            "GetStatusResponse>"));
    EXPECT_EQ(r->Status->SupportedInterfaceVersions, interfaceVersion::XML_DA_Version_1_0);
}

TEST(SoapReaderRecords, UnsupportedArraysRaise) {
    try {
        ReadMixed("<M><Numbers>1</Numbers></M>");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Integer not supported");
    }
    try {
        ReadMixed("<M><Rows>1</Rows></M>");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "dynarrays not supported");
    }
}

TEST(SoapReaderRecords, CreateObjectKnowsNestedRecordsOnly) {
    TVelqorSoapReader r;
    auto opts = r.CreateObject("RequestOptions");
    ASSERT_TRUE(opts);
    EXPECT_EQ(opts->Class().Name(), "RequestOptions");
    EXPECT_TRUE(static_cast<RequestOptions&>(*opts).ReturnErrorText);
    EXPECT_FALSE(RequestOptions().ReturnErrorText);
    for (const char* n : {"ItemIdentifier", "ReadRequestItemList", "SubscribeRequestItemList",
                          "ReplyBase", "OPCError", "ServerStatus", "PropertyReplyList",
                          "BrowseElement", "ItemProperty", "SubscribeReplyItemList", "ItemValue",
                          "ReplyItemList", "OPCQuality", "SubscribePolledRefreshReplyItemList",
                          "SubscribeItemValue", "SubscribeRequestItem", "WriteRequestItemList"})
        EXPECT_EQ(r.CreateObject(n)->Class().Name(), n);
    try {
        r.CreateObject("GetStatusResponse");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "class: GetStatusResponse not registerted in method CreateObject");
    }
}

// ---- envelopes and faults --------------------------------------------------------------------

TEST(SoapReaderEnvelope, ParseGivesMethodAndNamespace) {
    TVelqorSoapReader r;
    std::string method, ns;
    dom::XmlNode result;
    r.Parse(Env("<GetStatusResponse xmlns=\"" + kOpc + "\"/>"), method, result, ns);
    EXPECT_EQ(method, "getstatusresponse");
    EXPECT_EQ(ns, kOpc);
    EXPECT_TRUE(result == r.ResultElement);
}

TEST(SoapReaderEnvelope, RefusesWhatIsNoEnvelope) {
    EXPECT_EQ(ParseError("<Envelop/>"), "invalid SOAP request");
    EXPECT_EQ(ParseError("<soap:Envelope xmlns:soap=\"" + kSoap11 + "\"/>"),
              "invalid SOAP request");
    EXPECT_EQ(ParseError(Env("")), "invalid SOAP request");
    EXPECT_EQ(ParseError(Env("<A/><B/>")), "invalid SOAP request");
    EXPECT_EQ(ParseError(Env("text<A/>")), "invalid SOAP request")
        << "a text node beside the element";
    EXPECT_EQ(ParseError(Env("just text")), "invalid SOAP request");
    EXPECT_EQ(ParseError(R"(<e:Envelope xmlns:e="urn:e"><e:body><A/></e:body></e:Envelope>)"),
              "invalid SOAP request")
        << "Body is compared with its case";
    // Comments and blanks beside the reply do not count.
    TVelqorSoapReader c;
    c.Parse(Env("<!-- served by x --> <A xml:space=\"preserve\"/> \n "));
    EXPECT_EQ(c.ResultElement.LocalName(), "A");
    // A later body with one child wins over an earlier one.
    TVelqorSoapReader r;
    r.Parse(
        R"(<e:Envelope xmlns:e="urn:e"><e:Body><A/></e:Body><e:Body><B/></e:Body></e:Envelope>)");
    EXPECT_EQ(r.ResultElement.LocalName(), "B");
}

TEST(SoapReaderEnvelope, MalformedXmlRaisesTheParserError) {
    TVelqorSoapReader r;
    try {
        r.Parse("<soap:Envelope xmlns:soap=\"" + kSoap11 +
                "\">\n<soap:Body><A></B></soap:Body></soap:Envelope>");
        FAIL();
    } catch (const dom::EXmlParseError& e) {
        EXPECT_EQ(e.Line(), 2);
        EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
    }
}

TEST(SoapReaderEnvelope, Soap11Fault) {
    std::string code, reason;
    EXPECT_EQ(FaultMessage(
                  Env("<soap:Fault><faultcode>soap:Server</faultcode><faultstring>x</faultstring>"
                      "<detail><e>1</e></detail></soap:Fault>"),
                  &code, &reason),
              "soap:Server\r\nx");
    EXPECT_EQ(code, "soap:Server");
    EXPECT_EQ(reason, "x");
    EXPECT_EQ(FaultMessage(Env("<SOAP-ENV:Fault xmlns:SOAP-ENV=\"" + kSoap11 +
                               "\"><FaultString>only text</FaultString></SOAP-ENV:Fault>")),
              "only text");
    EXPECT_EQ(FaultMessage(Env("<soap:Fault><faultcode>soap:Server</faultcode></soap:Fault>")),
              "soap:Server");
    EXPECT_EQ(FaultMessage(Env("<fault/>")), "SOAP fault without code or text");
}

TEST(SoapReaderEnvelope, Soap12Fault) {
    std::string code, reason;
    std::string xml =
        R"(<env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope"><env:Body>)"
        "<env:Fault><env:Code><env:Value>env:Receiver</env:Value><env:Subcode><env:Value>m:Busy</"
        "env:Value>"
        "</env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">Server busy</env:Text>"
        "<env:Text "
        "xml:lang=\"de\">Beschaeftigt</env:Text></env:Reason></env:Fault></env:Body></"
        "env:Envelope>";
    EXPECT_EQ(FaultMessage(xml, &code, &reason), "env:Receiver\r\nServer busy");
    EXPECT_EQ(code, "env:Receiver");
    EXPECT_EQ(reason, "Server busy");
}

// ---- both sides ------------------------------------------------------------------------------

TEST(SoapRoundTrip, WriteRequestReadsBackAlike) {
    ScopedTimeZone tz("America/New_York");
    Write w;
    w.ReturnValuesOnReply = true;
    w.ItemList.push_back(std::make_unique<WriteRequestItemList>());
    auto& items = w.ItemList[0]->Items;
    const std::vector<Variant> values = {
        Variant::I4(-5),
        Variant::R8(0.1),
        Variant::R4(0.1f),
        Variant::Str("t & <x>"),
        Variant::Bool(true),
        Variant::UI1(255),
        Variant::I2(-300),
        Variant::UI4(4000000000u),
        Variant::Currency(-123456),
        Variant::Date(EncodeDateTime(2026, 3, 1, 12, 0, 0, 125)),
        Variant::Bytes(std::string(100, '\x7f')),
        Variant::Array(VT_R8, {Variant::R8(1.5), Variant::R8(-2.25)}),
        Variant::Array(VT_VARIANT, {Variant::I4(1), Variant::Str("s")})};
    for (size_t i = 0; i < values.size(); ++i) {
        items.push_back(std::make_unique<ItemValue>());
        items.back()->ItemName = "I" + std::to_string(i);
        items.back()->Value = values[i];
        items.back()->Timestamp = EncodeDateTime(2026, 12, 1, 8, 30);
    }
    TVelqorClientSoapWriter writer;
    writer.BeginMessage(kXmlDaNamespace, "Write");
    writer.WriteRecord("", {}, w);
    std::string xml = writer.SaveToString();

    struct AnyReader : TVelqorSoapReader {};
    AnyReader r;
    r.Parse(xml);
    Write back;
    r.ReadRecord(r.ResultElement, back);
    EXPECT_TRUE(back.ReturnValuesOnReply);
    ASSERT_EQ(back.ItemList.size(), 1u);
    ASSERT_EQ(back.ItemList[0]->Items.size(), values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(back.ItemList[0]->Items[i]->Value, values[i]) << i;
        EXPECT_EQ(back.ItemList[0]->Items[i]->Timestamp, EncodeDateTime(2026, 12, 1, 8, 30)) << i;
    }
}
