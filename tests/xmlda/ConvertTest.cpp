// Value conversions of the XML-DA transport: qualities, access rights, server states, error
// texts, item identifiers and item properties.
#include <gtest/gtest.h>

#include <optional>

#include "runtime/VarType.h"
#include "xmlda/VelqorXMLDAConvert.h"

namespace velqor {
namespace {

TEST(XmlDaQuality, EveryQualityBitsValueHasItsCode) {
    using Q = xmlda::qualityBits;
    const std::pair<Q, int32_t> rows[] = {{Q::good, 0xC0},
                                          {Q::bad, 0x00},
                                          {Q::badConfigurationError, 0x04},
                                          {Q::badNotConnected, 0x08},
                                          {Q::badDeviceFailure, 0x0C},
                                          {Q::badSensorFailure, 0x10},
                                          {Q::badLastKnownValue, 0x14},
                                          {Q::badCommFailure, 0x18},
                                          {Q::badOutOfService, 0x1C},
                                          {Q::badWaitingForInitialData, 0x20},
                                          {Q::uncertain, 0x40},
                                          {Q::uncertainLastUsableValue, 0x44},
                                          {Q::uncertainSensorNotAccurate, 0x50},
                                          {Q::uncertainEUExceeded, 0x54},
                                          {Q::uncertainSubNormal, 0x58},
                                          {Q::goodLocalOverride, 0xD8}};
    for (auto [bits, code] : rows) EXPECT_EQ(QualityFromBits(bits), code) << EnumName(bits);
    // Every enumeration value is covered by the table above.
    EXPECT_EQ(EnumInfo<Q>().Values.size(), std::size(rows));
}

TEST(XmlDaQuality, LimitAndVendorFieldsAreKeptInTheQualityWord) {
    xmlda::OPCQuality q;
    EXPECT_EQ(QualityOf(nullptr), 0xC0);  // no quality element reads as good
    EXPECT_EQ(QualityOf(&q), 0xC0);
    q.QualityField = xmlda::qualityBits::uncertainEUExceeded;
    q.LimitField = "high";
    EXPECT_EQ(QualityOf(&q), 0x56);
    q.LimitField = "low";
    EXPECT_EQ(QualityOf(&q), 0x55);
    q.QualityField = xmlda::qualityBits::good;
    q.LimitField = "constant";
    q.VendorField = 0x12;
    EXPECT_EQ(QualityOf(&q), 0x12C3);
    q.LimitField = "none";
    q.VendorField = 0;
    EXPECT_EQ(QualityOf(&q), 0xC0);
}

TEST(XmlDaQuality, NamesAreExactDecimalsPassAndTheRestIsConfigurationError) {
    const std::pair<const char*, int32_t> rows[] = {
        {"good", 0xC0},
        {"bad", 0x00},
        {"uncertain", 0x40},
        {"badCommFailure", 0x18},
        {"goodLocalOverride", 0xD8},
        {"uncertainSubNormal", 0x58},
        {"Good", 0x04},  // case matters
        {"badWaitingForInitialData", 0x20},
        {"192", 192},
        {"-3", -3},
        {"", 0x04},
        {"99999999999", 0x04},  // does not fit 32 bits
    };
    for (auto [name, quality] : rows) EXPECT_EQ(QualityFromName(name), quality) << name;
}

// The enumerations' names and numbers; any other text is no value of them, not 0.
TEST(XmlDaAccessRights, NamesNumbersAndTextsThatAreNoValue) {
    const std::optional<int32_t> none;
    const std::pair<const char*, std::optional<int32_t>> rights[] = {
        {"readable", 1}, {"writable", 2},        {"readWritable", 3},   {"3", 3},
        {"unknown", 0},  {"ReadWritable", none}, {"-2147483649", none}, {"", none},
    };
    for (const auto& [text, code] : rights) EXPECT_EQ(AccessRightsFromName(text), code) << text;
    const std::pair<const char*, std::optional<int32_t>> euTypes[] = {
        {"analog", 1}, {"enumerated", 2}, {"noEnum", 0}, {"2", 2},
        {"zz", none},  {"3", none},       {"", none},
    };
    for (const auto& [text, code] : euTypes) EXPECT_EQ(EUTypeFromXmlName(text), code) << text;
    for (const auto& [name, text] : {std::pair{"accessRights", "-2147483649"}, {"euType", "zz"}}) {
        xmlda::ItemProperty r;
        r.Name = name;
        r.Value = Variant(text);
        const TVelqorItemProperty p = PropertyFromReply(r);
        EXPECT_EQ(p.Error, kXmlDaInvalidDataType) << name;
        EXPECT_NE(p.ErrorDetail.find(text), std::string::npos) << name << ": " << p.ErrorDetail;
    }
}

TEST(XmlDaServerState, EveryStateHasItsStatusCode) {
    using S = xmlda::serverState;
    EXPECT_EQ(ServerStateFromXml(S::running), 1);
    EXPECT_EQ(ServerStateFromXml(S::failed), 2);
    EXPECT_EQ(ServerStateFromXml(S::noConfig), 3);
    EXPECT_EQ(ServerStateFromXml(S::suspended), 4);
    EXPECT_EQ(ServerStateFromXml(S::test), 5);
    EXPECT_EQ(ServerStateFromXml(S::commFault), 6);
    EXPECT_EQ(ServerStateFromXml(S(17)), 0);
}

TEST(XmlDaErrors, TableTextsAndTheUnknownFallback) {
    EXPECT_EQ(XmlDaErrorString(7), "unknown errorcode: 7");
    EXPECT_EQ(XmlDaErrorString(int32_t(0xC0047777U)), "unknown errorcode: -1073449097");
    const std::string known = XmlDaErrorString(OPC_E_UNKNOWNITEMID);
    EXPECT_EQ(known, ResultMessage(OPC_E_UNKNOWNITEMID));
    EXPECT_FALSE(known.empty());
}

// A result the client cannot name is a failure, never a success; the server's words are kept.
TEST(XmlDaErrors, ResultIDsToCodesAndDetails) {
    xmlda::OPCErrors errors;
    auto add = [&](const std::string& id, const std::string& text) {
        errors.push_back(std::make_unique<xmlda::OPCError>());
        errors.back()->ID = id;
        errors.back()->Text = text;
    };
    add("E_UNKNOWNITEMPATH", "no such path");
    add("opc:E_VENDOR", "vendor says no");
    const struct {
        const char* id;
        int32_t code;
        const char* detail;
    } rows[] = {
        {"", 0, ""},
        {"E_UNKNOWNITEMNAME", OPC_E_UNKNOWNITEMID, ""},
        {"opc:E_READONLY", OPC_E_READONLY, ""},
        {"S_CLAMP", OPC_S_CLAMP, ""},
        {"E_UNKNOWNITEMPATH", OPC_E_FAIL, "E_UNKNOWNITEMPATH: no such path"},
        {"E_FAIL", OPC_E_FAIL, "E_FAIL"},
        {"E_TIMEDOUT", OPC_E_FAIL, "E_TIMEDOUT"},
        {"x:E_VENDOR", OPC_E_FAIL, "x:E_VENDOR: vendor says no"},
        {"e_badtype", OPC_E_FAIL, "e_badtype"},
        {"VENDOR_17", OPC_E_FAIL, "VENDOR_17"},
        {"S_VENDORNOTE", 1, "S_VENDORNOTE"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(ResultCodeFromID(r.id), r.code) << r.id;
        EXPECT_EQ(ResultDetail(r.id, errors), r.detail) << r.id;
    }
}

TEST(XmlDaItemIdentifier, SplitsAtTheFirstDoubleSlash) {
    auto a = ItemIdentifierOf("A//B");
    EXPECT_EQ(a->ItemPath, "A");
    EXPECT_EQ(a->ItemName, "B");
    auto b = ItemIdentifierOf("Plant/Area1/Tank1/Level");
    EXPECT_EQ(b->ItemPath, "");
    EXPECT_EQ(b->ItemName, "Plant/Area1/Tank1/Level");
    auto c = ItemIdentifierOf("P//N//M");
    EXPECT_EQ(c->ItemPath, "P");
    EXPECT_EQ(c->ItemName, "N//M");
}

std::unique_ptr<xmlda::ItemProperty> MakeProp(std::string name, Variant value,
                                              std::string description = {}) {
    auto p = std::make_unique<xmlda::ItemProperty>();
    p->Name = std::move(name);
    p->Value = std::move(value);
    p->Description = std::move(description);
    return p;
}
TVelqorItemProperty Convert(std::string name, Variant value, std::string description = {}) {
    return PropertyFromReply(*MakeProp(std::move(name), std::move(value), std::move(description)));
}

TEST(XmlDaProperty, KnownPropertiesAreConvertedByIdentifier) {
    auto dt = Convert("dataType", Variant("xsd:double"), "Item Canonical DataType");
    EXPECT_EQ(dt.PropertyID, 1);
    EXPECT_EQ(dt.Error, 0);
    EXPECT_EQ(dt.DataType, VT_I2);
    EXPECT_EQ(dt.Value, Variant::I2(VT_R8));
    EXPECT_EQ(dt.Description, "Item Canonical DataType");

    auto dtNum = Convert("dataType", Variant("3"));
    EXPECT_EQ(dtNum.Value, Variant::I2(3));

    auto ar = Convert("accessRights", Variant("readWritable"));
    EXPECT_EQ(ar.PropertyID, 5);
    EXPECT_EQ(ar.DataType, VT_I4);
    EXPECT_EQ(ar.Value, Variant::I4(3));
    EXPECT_EQ(ar.Description, "accessRights");  // no description: the name

    auto q = Convert("quality", Variant::Null());
    EXPECT_EQ(q.PropertyID, 3);
    EXPECT_EQ(q.Value, Variant::I2(0xC0));
    auto q2 = Convert("quality", Variant("badCommFailure"));
    EXPECT_EQ(q2.Value, Variant::I2(0x18));

    auto eu = Convert("euType", Variant("analog"));
    EXPECT_EQ(eu.PropertyID, 7);
    EXPECT_EQ(eu.Value, Variant::I4(1));
    EXPECT_EQ(eu.DataType, VT_I4);

    auto scan = Convert("scanRate", Variant::R4(250));
    EXPECT_EQ(scan.PropertyID, 6);
    EXPECT_EQ(scan.DataType, VT_R4);
    EXPECT_EQ(scan.Value, Variant::R4(250));
}

TEST(XmlDaProperty, OtherPropertiesKeepTheirValueAndType) {
    auto units = Convert("engineeringUnits", Variant("m"));
    EXPECT_EQ(units.PropertyID, 100);
    EXPECT_EQ(units.DataType, VT_BSTR);
    EXPECT_EQ(units.Value, Variant("m"));

    auto prefixed = Convert("ns1:highEU", Variant(10.0));
    EXPECT_EQ(prefixed.PropertyID, 102);
    EXPECT_EQ(prefixed.DataType, VT_R8);

    auto vendor = Convert("vendorSpecial", Variant::I4(4));
    EXPECT_EQ(vendor.PropertyID, -999999);
    auto numeric = Convert("5001", Variant::I4(4));
    EXPECT_EQ(numeric.PropertyID, 5001);

    auto failed = MakeProp("value", Variant::Null());
    failed->ResultID = "E_BADTYPE";
    EXPECT_EQ(PropertyFromReply(*failed).Error, ResultCodeFromName("E_BADTYPE"));

    auto unreadable = MakeProp("highEU", Variant::Null());
    unreadable->ValueError = "invalid xsd:double value \"1e400\": out of range";
    EXPECT_EQ(PropertyFromReply(*unreadable).Error, kXmlDaInvalidDataType)
        << "no empty value in place of one the reader could not decode";
}

TEST(XmlDaProperty, AValueThatCannotBeConvertedIsStillReportedWithInvalidDataType) {
    // A data type code that does not fit 16 bits.
    auto big = Convert("dataType", Variant("70000"));
    EXPECT_EQ(big.PropertyID, 1);
    EXPECT_EQ(big.Error, kXmlDaInvalidDataType);
    // An array has no text form.
    auto arr = Convert("accessRights", Variant::Array(VT_I4, {Variant::I4(1), Variant::I4(2)}));
    EXPECT_EQ(arr.PropertyID, 5);
    EXPECT_EQ(arr.Error, kXmlDaInvalidDataType);
}

}  // namespace
}  // namespace velqor
