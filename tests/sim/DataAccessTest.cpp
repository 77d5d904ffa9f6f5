// GetStatus, Read, Write, Browse and GetProperties against a running xmlda-sim.
#include <set>
#include <thread>

#include "SimClient.h"
#include "support/WaitUntil.h"
#include "xmlda/Values.h"

using namespace simtest;
using velqor::test::WaitUntil;
using velqor::xmldasim::parseDateTime;

namespace {

std::string readItems(
    const std::string& items, const std::string& listAttrs = "ItemPath=\"\"",
    const std::string& options = "ReturnItemTime=\"true\" ReturnErrorText=\"true\"") {
    return "<Options " + options + "/><ItemList " + listAttrs + ">" + items + "</ItemList>";
}
std::string item(const std::string& name, const std::string& handle,
                 const std::string& extra = {}) {
    return "<Items ItemName=\"" + name + "\" ClientItemHandle=\"" + handle + "\" " + extra + "/>";
}
std::string writeItem(const std::string& name, const std::string& handle, const std::string& type,
                      const std::string& value, const std::string& extra = {}) {
    return "<Items ItemName=\"" + name + "\" ClientItemHandle=\"" + handle + "\" " + extra +
           "><Value xsi:type=\"" + type + "\">" + value + "</Value></Items>";
}
std::string at(const std::string& handle) {
    return "//o:RItemList/o:Items[@ClientItemHandle='" + handle + "']";
}

}  // namespace

using SimStatus = SimTest;

TEST_F(SimStatus, GetStatusDescribesTheService) {
    Reply r = call("GetStatus", "LocaleID=\"en\" ClientRequestHandle=\"probe-1\"");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.header("Content-Type"), "text/xml; charset=\"utf-8\"");
    EXPECT_EQ(r.str("//o:GetStatusResult/@ClientRequestHandle"), "probe-1");
    EXPECT_EQ(r.str("//o:GetStatusResult/@ServerState"), "running");
    EXPECT_FALSE(r.has("//o:GetStatusResult/@RevisedLocaleID"));
    EXPECT_EQ(r.str("//o:Status/o:SupportedInterfaceVersions"), "XML_DA_Version_1_0");
    EXPECT_FALSE(r.str("//o:Status/o:VendorInfo").empty());
    auto start = parseDateTime(r.str("//o:Status/@StartTime"));
    auto reply = parseDateTime(r.str("//o:GetStatusResult/@ReplyTime"));
    auto rcv = parseDateTime(r.str("//o:GetStatusResult/@RcvTime"));
    ASSERT_TRUE(start && reply && rcv);
    EXPECT_LE(*start, *rcv);
    EXPECT_LE(*rcv, *reply);
}

TEST_F(SimStatus, UnsupportedLocaleIsRevisedAndStateSwitchIsReported) {
    auto s = sim->switches();
    s.serverState = "suspended";
    sim->setSwitches(s);
    Reply r = call("GetStatus", "LocaleID=\"de-DE\"");
    EXPECT_EQ(r.str("//o:GetStatusResult/@RevisedLocaleID"), "en");
    EXPECT_EQ(r.str("//o:GetStatusResult/@ServerState"), "suspended");
}

TEST_F(SimStatus, RestartGivesNewStartTimeOnTheSamePort) {
    Reply before = call("GetStatus", "");
    int port = sim->port();
    sim->stop();
    EXPECT_FALSE(sim->running());
    // Start times have millisecond resolution: restart once the clock has passed the first.
    const auto started = parseDateTime(before.str("//o:Status/@StartTime"));
    ASSERT_TRUE(started);
    ASSERT_TRUE(WaitUntil([&] {
        return std::chrono::system_clock::now() >= *started + std::chrono::milliseconds(1);
    }));
    sim->start();
    EXPECT_EQ(sim->port(), port);
    Reply after = call("GetStatus", "");
    EXPECT_LT(*parseDateTime(before.str("//o:Status/@StartTime")),
              *parseDateTime(after.str("//o:Status/@StartTime")));
}

using SimRead = SimTest;

TEST_F(SimRead, EveryTypeReadsWithItsSchemaType) {
    const std::pair<const char*, const char*> types[] = {
        {"Static/Byte", "xsd:byte"},
        {"Static/UnsignedByte", "xsd:unsignedByte"},
        {"Static/Short", "xsd:short"},
        {"Static/UnsignedShort", "xsd:unsignedShort"},
        {"Static/Int", "xsd:int"},
        {"Static/UnsignedInt", "xsd:unsignedInt"},
        {"Static/Long", "xsd:long"},
        {"Static/UnsignedLong", "xsd:unsignedLong"},
        {"Static/Float", "xsd:float"},
        {"Static/Double", "xsd:double"},
        {"Static/Decimal", "xsd:decimal"},
        {"Static/String", "xsd:string"},
        {"Static/Boolean", "xsd:boolean"},
        {"Static/DateTime", "xsd:dateTime"},
        {"Static/Base64Binary", "xsd:base64Binary"},
        {"Static/Arrays/ArrayOfInt", "ArrayOfInt"},
        {"Dynamic/Arrays/ArrayOfDouble", "ArrayOfDouble"},
        {"Writable/Arrays/ArrayOfString", "ArrayOfString"},
    };
    std::string items;
    for (const auto& [name, type] : types) items += item(name, name);
    Reply r = call("Read", "", readItems(items));
    ASSERT_EQ(r.count("//o:RItemList/o:Items"), static_cast<int>(std::size(types)));
    for (const auto& [name, type] : types) {
        SCOPED_TRACE(name);
        EXPECT_EQ(r.str(at(name) + "/o:Value/@xsi:type"), type);
        EXPECT_EQ(r.str(at(name) + "/o:Quality/@QualityField"), "good");
        EXPECT_FALSE(r.has(at(name) + "/@ResultID"));
        EXPECT_TRUE(parseDateTime(r.str(at(name) + "/@Timestamp")).has_value());
    }
    // Values are what their types allow: an unsigned long beyond the signed range, five array
    // entries.
    EXPECT_GT(std::stoull(r.str(at("Static/UnsignedLong") + "/o:Value")), 9223372036854775807ULL);
    EXPECT_EQ(r.count(at("Static/Arrays/ArrayOfInt") + "/o:Value/o:int"), 5);
    EXPECT_EQ(r.count(at("Writable/Arrays/ArrayOfString") + "/o:Value/o:string"), 5);
    EXPECT_TRUE(parseDateTime(r.str(at("Static/DateTime") + "/o:Value")).has_value());
    EXPECT_TRUE(
        velqor::xmldasim::base64Decode(r.str(at("Static/Base64Binary") + "/o:Value")).has_value());
}

TEST_F(SimRead, PerItemErrorsDoNotStopTheBatch) {
    Reply r = call("Read", "",
                   readItems(item("Nope/Missing", "a") + item("WriteOnly/Int", "b") +
                             item("Static/Int", "c") + item("Static", "d") + item("", "e") +
                             item("Static/String", "f", "ReqType=\"xsd:int\"") +
                             item("Static/Int", "g", "ReqType=\"xsd:nonsense\"")));
    EXPECT_EQ(r.str(at("a") + "/@ResultID"), "E_UNKNOWNITEMNAME");
    EXPECT_EQ(r.str(at("b") + "/@ResultID"), "E_WRITEONLY");
    EXPECT_FALSE(r.has(at("b") + "/o:Value"));
    EXPECT_FALSE(r.has(at("c") + "/@ResultID"));
    EXPECT_EQ(r.str(at("d") + "/@ResultID"), "E_UNKNOWNITEMNAME");  // a branch is not an item
    EXPECT_EQ(r.str(at("e") + "/@ResultID"), "E_INVALIDITEMNAME");
    EXPECT_EQ(r.str(at("f") + "/@ResultID"), "E_BADTYPE");
    EXPECT_EQ(r.str(at("g") + "/@ResultID"), "E_BADTYPE");
    // One error text per distinct result.
    EXPECT_EQ(r.count("//o:ReadResponse/o:Errors"), 4);
    EXPECT_FALSE(r.str("//o:Errors[@ID='E_WRITEONLY']/o:Text").empty());
}

TEST_F(SimRead, ReqTypeConvertsOrReportsRange) {
    Reply r = call("Read", "",
                   readItems(item("Static/Int", "s", "ReqType=\"xsd:string\"") +
                             item("Static/Long", "b", "ReqType=\"xsd:byte\"") +
                             item("Static/Arrays/ArrayOfInt", "d", "ReqType=\"ArrayOfDouble\"") +
                             item("Static/Int", "plain")));
    EXPECT_EQ(r.str(at("s") + "/o:Value/@xsi:type"), "xsd:string");
    EXPECT_EQ(r.str(at("s") + "/o:Value"), r.str(at("plain") + "/o:Value"));
    EXPECT_EQ(r.str(at("b") + "/@ResultID"), "E_RANGE");
    EXPECT_EQ(r.str(at("d") + "/o:Value/@xsi:type"), "ArrayOfDouble");
    EXPECT_EQ(r.count(at("d") + "/o:Value/o:double"), 5);
}

TEST_F(SimRead, ItemPathCombinesWithItemNameAndListDefaults) {
    Reply r =
        call("Read", "",
             readItems(item("Int", "own", "ItemPath=\"Static\"") + item("Int", "list") +
                           item("Level", "deep", "ItemPath=\"Plant/Area1/Tank1/\"") +
                           item("Int", "badpath", "ItemPath=\"NoSuchBranch\"") +
                           item("Static/Int", "full", "ItemPath=\"\""),
                       "ItemPath=\"Static\"", "ReturnItemPath=\"true\" ReturnItemName=\"true\""));
    EXPECT_FALSE(r.has(at("own") + "/@ResultID"));
    EXPECT_FALSE(r.has(at("list") + "/@ResultID"));
    EXPECT_EQ(r.str(at("list") + "/@ItemPath"), "Static");
    EXPECT_EQ(r.str(at("list") + "/@ItemName"), "Int");
    EXPECT_FALSE(r.has(at("deep") + "/@ResultID"));
    EXPECT_EQ(r.str(at("badpath") + "/@ResultID"), "E_UNKNOWNITEMPATH");
    EXPECT_FALSE(r.has(at("full") + "/@ResultID"));
    EXPECT_FALSE(r.has(at("full") + "/@Timestamp"));  // ReturnItemTime not asked for
}

TEST_F(SimRead, MaxAgeServesTheCachedValue) {
    // Dynamic values change every 100 ms here; a read with a long MaxAge keeps the cached one.
    Reply first = call("Read", "", readItems(item("Dynamic/String", "x", "MaxAge=\"0\"")));
    // Values carry the start of their clock tick as their time stamp: wait for the next tick.
    const auto sampled = parseDateTime(first.str(at("x") + "/@Timestamp"));
    ASSERT_TRUE(sampled);
    ASSERT_TRUE(WaitUntil([&] {
        return std::chrono::system_clock::now() >= *sampled + std::chrono::milliseconds(100);
    }));
    Reply cached = call("Read", "", readItems(item("Dynamic/String", "x", "MaxAge=\"3600000\"")));
    Reply fresh = call("Read", "", readItems(item("Dynamic/String", "x", "MaxAge=\"0\"")));
    EXPECT_EQ(cached.str(at("x") + "/o:Value"), first.str(at("x") + "/o:Value"));
    EXPECT_EQ(cached.str(at("x") + "/@Timestamp"), first.str(at("x") + "/@Timestamp"));
    EXPECT_NE(fresh.str(at("x") + "/o:Value"), first.str(at("x") + "/o:Value"));
    // The list's MaxAge applies to items without their own.
    Reply listAge = call("Read", "", readItems(item("Dynamic/String", "x"), "MaxAge=\"3600000\""));
    EXPECT_EQ(listAge.str(at("x") + "/o:Value"), fresh.str(at("x") + "/o:Value"));
}

TEST_F(SimRead, QualitiesOtherThanGood) {
    Reply r = call("Read", "",
                   readItems(item("Special/BadQuality", "b") + item("Special/Uncertain", "u")));
    EXPECT_EQ(r.str(at("b") + "/o:Quality/@QualityField"), "badSensorFailure");
    EXPECT_FALSE(r.has(at("b") + "/o:Quality/@LimitField"));
    EXPECT_EQ(r.str(at("u") + "/o:Quality/@QualityField"), "uncertainEUExceeded");
    EXPECT_EQ(r.str(at("u") + "/o:Quality/@LimitField"), "high");
}

TEST_F(SimRead, PassedRequestDeadlineIsAFault) {
    Reply late =
        call("Read", "",
             readItems(item("Static/Int", "i"), "", "RequestDeadline=\"2001-01-01T00:00:00Z\""));
    EXPECT_EQ(late.status, 500);
    EXPECT_EQ(late.str("//s:Fault/faultcode"), "opc:E_TIMEDOUT");
    Reply inTime =
        call("Read", "",
             readItems(item("Static/Int", "i"), "", "RequestDeadline=\"2100-01-01T00:00:00Z\""));
    EXPECT_EQ(inTime.status, 200);
}

using SimWrite = SimTest;

TEST_F(SimWrite, WritableItemsKeepWhatWasWritten) {
    Reply w = call(
        "Write", "ReturnValuesOnReply=\"true\"",
        "<Options ReturnItemTime=\"true\"/><ItemList>" +
            writeItem("Writable/Int", "i", "xsd:int", "-123456") +
            writeItem("Writable/UnsignedLong", "ul", "xsd:unsignedLong", "18446744073709551615") +
            writeItem("Writable/String", "s", "xsd:string", "h\xC3\xA9llo &amp; &lt;b>") +
            writeItem("Writable/DateTime", "dt", "xsd:dateTime", "2030-05-06T07:08:09.5+02:00") +
            writeItem("Writable/Base64Binary", "b", "xsd:base64Binary", "AAEC/w==") +
            "<Items ItemName=\"Writable/Arrays/ArrayOfInt\" ClientItemHandle=\"a\"><Value "
            "xsi:type=\"ArrayOfInt\"><int>1</int><int>-2</int></Value></Items></ItemList>");
    ASSERT_EQ(w.status, 200) << w.body;
    for (const char* h : {"i", "ul", "s", "dt", "b", "a"})
        EXPECT_FALSE(w.has(at(h) + "/@ResultID")) << h;
    EXPECT_EQ(w.str(at("i") + "/o:Value"), "-123456");
    EXPECT_EQ(w.str(at("dt") + "/o:Value"), "2030-05-06T05:08:09.500Z");

    Reply r = call("Read", "",
                   readItems(item("Writable/Int", "i") + item("Writable/UnsignedLong", "ul") +
                             item("Writable/String", "s") + item("Writable/Base64Binary", "b") +
                             item("Writable/Arrays/ArrayOfInt", "a")));
    EXPECT_EQ(r.str(at("i") + "/o:Value"), "-123456");
    EXPECT_EQ(r.str(at("ul") + "/o:Value"), "18446744073709551615");
    EXPECT_EQ(r.str(at("s") + "/o:Value"), "h\xC3\xA9llo & <b>");
    EXPECT_EQ(r.str(at("b") + "/o:Value"), "AAEC/w==");
    EXPECT_EQ(r.count(at("a") + "/o:Value/o:int"), 2);
    EXPECT_EQ(r.str(at("a") + "/o:Value/o:int[2]"), "-2");
}

TEST_F(SimWrite, ConversionsAndRefusals) {
    const struct {
        const char* item;
        const char* handle;
        const char* type;
        const char* value;
        const char* result;
    } refused[] = {
        {"Writable/Int", "bad", "xsd:string", "forty-two", "E_BADTYPE"},
        {"Writable/Byte", "range", "xsd:int", "300", "E_RANGE"},
        {"Static/Int", "ro", "xsd:int", "1", "E_READONLY"},
        {"Plant/Area1/Tank1/Setpoint", "eu", "xsd:double", "10.5", "E_RANGE"},
        {"Plant/Area2/Pump1/Mode", "enum", "xsd:int", "3", "E_RANGE"},
        {"Writable/Double", "badxml", "xsd:double", "1.0.0", "E_BADTYPE"},
        {"Nope", "unknown", "xsd:int", "1", "E_UNKNOWNITEMNAME"},
    };
    std::string items = writeItem("Writable/Int", "conv", "xsd:string", " 42 ");
    for (const auto& r : refused) items += writeItem(r.item, r.handle, r.type, r.value);
    items += "<Items ItemName=\"Writable/Int\" ClientItemHandle=\"novalue\"/>";
    Reply w = call("Write", "", "<ItemList>" + items + "</ItemList>");
    EXPECT_FALSE(w.has(at("conv") + "/@ResultID"));
    EXPECT_FALSE(w.has(at("conv") + "/o:Value"));  // ReturnValuesOnReply not set
    for (const auto& r : refused)
        EXPECT_EQ(w.str(at(r.handle) + "/@ResultID"), r.result) << r.handle;
    EXPECT_EQ(w.str(at("novalue") + "/@ResultID"), "E_BADTYPE");
    Reply r = call("Read", "", readItems(item("Writable/Int", "i")));
    EXPECT_EQ(r.str(at("i") + "/o:Value"),
              "42");  // the converted write landed, the bad one did not
}

TEST_F(SimWrite, WriteOnlyItemsAcceptButNeverTell) {
    Reply quiet = call(
        "Write", "",
        "<ItemList>" + writeItem("WriteOnly/Double", "w", "xsd:double", "2.5") + "</ItemList>");
    EXPECT_FALSE(quiet.has(at("w") + "/@ResultID"));
    Reply loud =
        call("Write", "ReturnValuesOnReply=\"true\"",
             "<ItemList>" + writeItem("Plant/Area2/Pump1/Command", "w", "xsd:string", "start") +
                 "</ItemList>");
    EXPECT_EQ(loud.str(at("w") + "/@ResultID"), "E_WRITEONLY");
    EXPECT_FALSE(loud.has(at("w") + "/o:Value"));
    Reply r = call("Read", "", readItems(item("WriteOnly/Double", "w")));
    EXPECT_EQ(r.str(at("w") + "/@ResultID"), "E_WRITEONLY");
}

TEST_F(SimWrite, ReturnedValueHonoursReqType) {
    Reply w =
        call("Write", "ReturnValuesOnReply=\"true\"",
             "<ItemList>" +
                 writeItem("Writable/Double", "d", "xsd:string", "7.25", "ReqType=\"xsd:string\"") +
                 "</ItemList>");
    EXPECT_EQ(w.str(at("d") + "/o:Value/@xsi:type"), "xsd:string");
    EXPECT_EQ(w.str(at("d") + "/o:Value"), "7.25");
}

using SimBrowse = SimTest;

TEST_F(SimBrowse, RootAndFilters) {
    Reply root = call("Browse", "ItemPath=\"\"");
    std::set<std::string> names;
    for (int i = 1; i <= root.count("//o:Elements"); ++i)
        names.insert(root.str("//o:Elements[" + std::to_string(i) + "]/@Name"));
    EXPECT_EQ(names, (std::set<std::string>{"Static", "Dynamic", "Writable", "WriteOnly", "Plant",
                                            "Special", "Load"}));
    EXPECT_EQ(root.str("//o:Elements[@Name='Plant']/@IsItem"), "false");
    EXPECT_EQ(root.str("//o:Elements[@Name='Plant']/@HasChildren"), "true");

    Reply branches = call("Browse", "ItemName=\"Static\" BrowseFilter=\"branch\"");
    EXPECT_EQ(branches.count("//o:Elements"), 1);
    EXPECT_EQ(branches.str("//o:Elements/@ItemName"), "Static/Arrays");
    Reply items = call("Browse", "ItemName=\"Static\" BrowseFilter=\"item\"");
    EXPECT_EQ(items.count("//o:Elements"), 15);
    EXPECT_EQ(items.count("//o:Elements[@IsItem='true']"), 15);

    Reply named =
        call("Browse", "ItemName=\"Static\" ElementNameFilter=\"*int*\"");  // case is ignored
    EXPECT_EQ(named.count("//o:Elements"), 2);
    EXPECT_TRUE(named.has("//o:Elements[@Name='Int']"));
    EXPECT_TRUE(named.has("//o:Elements[@Name='UnsignedInt']"));

    Reply sets = call("Browse", "ItemName=\"Load\" ElementNameFilter=\"Item0000[!0-4]\"");
    EXPECT_EQ(sets.count("//o:Elements"), 5);
    Reply vendor = call("Browse", "ItemName=\"Static/Arrays\" VendorFilter=\"ArrayOf*Int\"");
    EXPECT_EQ(vendor.count("//o:Elements"), 2);  // ArrayOfInt, ArrayOfUnsignedInt
}

TEST_F(SimBrowse, PathAndNameLocateDeepBranches) {
    Reply a = call("Browse", "ItemPath=\"Plant/Area1\" ItemName=\"Tank1\"");
    Reply b = call("Browse", "ItemName=\"Plant/Area1/Tank1\"");
    EXPECT_EQ(a.count("//o:Elements"), 4);
    EXPECT_EQ(b.count("//o:Elements"), 4);
    EXPECT_EQ(b.str("//o:Elements[@Name='Level']/@ItemName"), "Plant/Area1/Tank1/Level");
    Reply leaf = call("Browse", "ItemName=\"Plant/Area1/Tank1/Level\"");
    EXPECT_EQ(leaf.status, 200);
    EXPECT_EQ(leaf.count("//o:Elements"), 0);
}

TEST_F(SimBrowse, PropertiesInBrowseElements) {
    Reply r =
        call("Browse", "ItemName=\"Plant/Area1/Tank1\" ReturnPropertyValues=\"true\"",
             "<PropertyNames>dataType</PropertyNames><PropertyNames>accessRights</PropertyNames>");
    const std::string level = "//o:Elements[@Name='Level']/o:Properties";
    EXPECT_EQ(r.count(level), 2);
    EXPECT_EQ(r.str(level + "[1]/@Name"), "dataType");
    EXPECT_EQ(r.str(level + "[1]/o:Value"), "xsd:double");
    EXPECT_EQ(r.str(level + "[1]/o:Value/@xsi:type"), "xsd:QName");
    EXPECT_EQ(r.str(level + "[2]/o:Value"), "readable");
    EXPECT_EQ(r.str("//o:Elements[@Name='Setpoint']/o:Properties[2]/o:Value"), "readWritable");

    Reply all = call("Browse", "ItemName=\"Plant/Area1/Tank1\" ReturnAllProperties=\"true\"");
    EXPECT_GE(all.count("//o:Elements[@Name='Level']/o:Properties"), 10);
    EXPECT_EQ(all.count("//o:Elements[@Name='Level']/o:Properties/o:Value"), 0);  // names only
}

TEST_F(SimBrowse, ContinuationPointsWalkTheLoadBranch) {
    std::set<std::string> seen;
    std::string cp;
    int pages = 0;
    do {
        std::string attrs = "ItemName=\"Load\" MaxElementsReturned=\"3000\"";
        if (!cp.empty()) attrs += " ContinuationPoint=\"" + cp + "\"";
        Reply r = call("Browse", attrs);
        ASSERT_EQ(r.status, 200) << r.body.substr(0, 500);
        int n = r.count("//o:Elements");
        EXPECT_LE(n, 3000);
        for (int i = 1; i <= n; i += 499)
            seen.insert(r.str("//o:Elements[" + std::to_string(i) + "]/@ItemName"));
        seen.insert(r.str("//o:Elements[last()]/@ItemName"));
        cp = r.str("//o:BrowseResponse/@ContinuationPoint");
        EXPECT_EQ(r.str("//o:BrowseResponse/@MoreElements") == "true", !cp.empty());
        ++pages;
    } while (!cp.empty() && pages < 10);
    EXPECT_EQ(pages, 4);  // 10,000 items in pages of 3,000
    EXPECT_TRUE(seen.count("Load/Item00000"));
    EXPECT_TRUE(seen.count("Load/Item09999"));
}

TEST_F(SimBrowse, BadRequestsAreFaults) {
    Reply first = call("Browse", "ItemName=\"Load\" MaxElementsReturned=\"10\"");
    std::string cp = first.str("//o:BrowseResponse/@ContinuationPoint");
    ASSERT_FALSE(cp.empty());
    // A point is only good for the browse that made it.
    Reply other =
        call("Browse",
             "ItemName=\"Static\" MaxElementsReturned=\"10\" ContinuationPoint=\"" + cp + "\"");
    EXPECT_EQ(other.status, 500);
    EXPECT_EQ(other.str("//s:Fault/faultcode"), "opc:E_INVALIDCONTINUATIONPOINT");
    Reply forged = call("Browse", "ItemName=\"Load\" ContinuationPoint=\"x.1.2\"");
    EXPECT_EQ(forged.str("//s:Fault/faultcode"), "opc:E_INVALIDCONTINUATIONPOINT");
    Reply unknown = call("Browse", "ItemName=\"No/Such/Branch\"");
    EXPECT_EQ(unknown.str("//s:Fault/faultcode"), "opc:E_UNKNOWNITEMNAME");
    Reply filter = call("Browse", "ElementNameFilter=\"[abc\"");
    EXPECT_EQ(filter.str("//s:Fault/faultcode"), "opc:E_INVALIDFILTER");
    Reply kind = call("Browse", "BrowseFilter=\"leaves\"");
    EXPECT_EQ(kind.status, 500);
    // After a restart, old points are refused.
    sim->stop();
    sim->start();
    Reply stale = call(
        "Browse", "ItemName=\"Load\" MaxElementsReturned=\"10\" ContinuationPoint=\"" + cp + "\"");
    EXPECT_EQ(stale.str("//s:Fault/faultcode"), "opc:E_INVALIDCONTINUATIONPOINT");
}

using SimProperties = SimTest;

TEST_F(SimProperties, AllPropertiesOfAnAnalogItem) {
    Reply r =
        call("GetProperties",
             "ReturnAllProperties=\"true\" ReturnPropertyValues=\"true\" ReturnErrorText=\"true\"",
             "<ItemIDs ItemName=\"Plant/Area1/Tank1/Temperature\"/>");
    auto prop = [&](const char* name) {
        return "//o:PropertyLists/o:Properties[@Name='" + std::string(name) + "']";
    };
    const std::pair<const char*, const char*> values[] = {
        {"dataType", "xsd:double"}, {"accessRights", "readable"},
        {"euType", "analog"},       {"engineeringUnits", "degC"},
        {"lowEU", "-20"},           {"highEU", "120"}};
    for (auto [name, value] : values) EXPECT_EQ(r.str(prop(name) + "/o:Value"), value) << name;
    EXPECT_EQ(r.str(prop("quality") + "/o:Value/@QualityField"), "good");
    EXPECT_TRUE(parseDateTime(r.str(prop("timestamp") + "/o:Value")).has_value());
    EXPECT_EQ(r.str(prop("value") + "/o:Value/@xsi:type"), "xsd:double");
    EXPECT_FALSE(r.str(prop("description") + "/o:Value").empty());
    EXPECT_FALSE(r.str(prop("scanRate") + "/o:Value").empty());
    EXPECT_FALSE(r.has(prop("euInfo")));  // not an enumerated item
    EXPECT_FALSE(r.has("//o:PropertyLists/@ResultID"));
}

TEST_F(SimProperties, RequestedNamesInOrderWithPerItemAndPerPropertyErrors) {
    Reply r = call("GetProperties", "ReturnPropertyValues=\"true\" ReturnErrorText=\"true\"",
                   "<ItemIDs ItemName=\"Plant/Area1/Tank1/Valve\"/><ItemIDs ItemName=\"Missing\"/>"
                   "<ItemIDs ItemPath=\"WriteOnly\" ItemName=\"Int\"/>"
                   "<PropertyNames>euInfo</PropertyNames><PropertyNames>ns1:euType</PropertyNames>"
                   "<PropertyNames>highEU</PropertyNames><PropertyNames>bogus</PropertyNames>"
                   "<PropertyNames>value</PropertyNames>");
    ASSERT_EQ(r.count("//o:PropertyLists"), 3);
    const std::string valve = "//o:PropertyLists[1]/o:Properties";
    EXPECT_EQ(r.count(valve), 5);
    EXPECT_EQ(r.str(valve + "[1]/o:Value/@xsi:type"), "ArrayOfString");
    EXPECT_EQ(r.str(valve + "[1]/o:Value/o:string[2]"), "Open");
    EXPECT_EQ(r.str(valve + "[2]/o:Value"), "enumerated");
    EXPECT_EQ(r.str(valve + "[3]/@ResultID"), "E_INVALIDPID");  // no EU range on an enumerated item
    EXPECT_EQ(r.str(valve + "[4]/@ResultID"), "E_INVALIDPID");
    EXPECT_EQ(r.str("//o:PropertyLists[2]/@ResultID"), "E_UNKNOWNITEMNAME");
    EXPECT_EQ(r.count("//o:PropertyLists[2]/o:Properties"), 0);
    EXPECT_EQ(r.str("//o:PropertyLists[3]/o:Properties[@Name='value']/@ResultID"), "E_WRITEONLY");
    EXPECT_FALSE(r.str("//o:GetPropertiesResponse/o:Errors[@ID='E_INVALIDPID']/o:Text").empty());
}

TEST_F(SimStatus, MixedLoadItemsCarryArraysNilValuesAndDates) {
    sim->stop();
    auto o = defaults();
    o.loadItems = 200;
    o.loadMixed = true;
    start(o);
    std::string items;
    for (int i = 0; i < 200; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Load/Item%05d", i);
        items += item(name, std::to_string(i));
    }
    Reply r = call("Read", "", readItems(items));
    ASSERT_EQ(r.status, 200);
    const std::string values = "//o:RItemList/o:Items/o:Value";
    EXPECT_EQ(r.count(values), 200);
    EXPECT_EQ(r.count(values + "[@xsi:type='ArrayOfDouble']"), 4);
    EXPECT_EQ(r.count(values + "[@xsi:type='ArrayOfString']"), 6);
    EXPECT_EQ(r.count(values + "[@xsi:nil='true' and not(node())]"), 4);
    EXPECT_EQ(r.count(values + "[@xsi:type='xsd:dateTime']"), 20);
    EXPECT_EQ(r.count(values + "[@xsi:type='xsd:int']"), 200 - 4 - 6 - 20);
    EXPECT_EQ(r.count(at("2") + "/o:Value/o:string"), 0);
    EXPECT_EQ(r.count(at("20") + "/o:Value/o:string"), 5);
}
