#include "xmlda/VelqorXMLDAConvert.h"

#include <cstdint>
#include <optional>

#include "contract/VelqorError.h"
#include "soap/VelqorSOAPEncoding.h"

namespace velqor {

namespace {

// A decimal text that fits 32 bits.
std::optional<int32_t> DecimalOf(std::string_view text) {
    int64_t v = 0;
    if (!ParseInt64(text, v) || v < INT32_MIN || v > INT32_MAX) return std::nullopt;
    return int32_t(v);
}

constexpr int32_t kUnknownPropertyID = -999999;

}  // namespace

int32_t QualityFromBits(xmlda::qualityBits bits) {
    using Q = xmlda::qualityBits;
    switch (bits) {
        case Q::good:
            return kQualityGood;
        case Q::bad:
            return kQualityBad;
        case Q::badConfigurationError:
            return kQualityBadConfigurationError;
        case Q::badNotConnected:
            return 0x08;
        case Q::badDeviceFailure:
            return 0x0C;
        case Q::badSensorFailure:
            return 0x10;
        case Q::badLastKnownValue:
            return 0x14;
        case Q::badCommFailure:
            return 0x18;
        case Q::badOutOfService:
            return kQualityBadOutOfService;
        case Q::badWaitingForInitialData:
            return 0x20;
        case Q::uncertain:
            return kQualityUncertain;
        case Q::uncertainLastUsableValue:
            return 0x44;
        case Q::uncertainSensorNotAccurate:
            return 0x50;
        case Q::uncertainEUExceeded:
            return 0x54;
        case Q::uncertainSubNormal:
            return 0x58;
        case Q::goodLocalOverride:
            return 0xD8;
    }
    return 0x04;
}

int32_t QualityOf(const xmlda::OPCQuality* quality) {
    if (!quality) return QualityFromBits(xmlda::qualityBits::good);
    int32_t limit = 0;
    if (quality->LimitField == "low")
        limit = 1;
    else if (quality->LimitField == "high")
        limit = 2;
    else if (quality->LimitField == "constant")
        limit = 3;
    return QualityFromBits(quality->QualityField) | limit | (int32_t(quality->VendorField) << 8);
}

int32_t QualityFromName(std::string_view name) {
    struct Row {
        std::string_view name;
        int32_t code;
    };
    static constexpr Row kRows[] = {
        {"badConfigurationError", 0x04},
        {"badNotConnected", 0x08},
        {"badDeviceFailure", 0x0C},
        {"badSensorFailure", 0x10},
        {"badLastKnownValue", 0x14},
        {"badCommFailure", 0x18},
        {"badOutOfService", 0x1C},
        {"badWaitingForInitialData", 0x20},
        {"uncertainLastUsableValue", 0x44},
        {"uncertainSensorNotAccurate", 0x50},
        {"uncertainEUExceeded", 0x54},
        {"uncertainSubNormal", 0x58},
        {"goodLocalOverride", 0xD8},
        {"bad", 0x00},
        {"uncertain", 0x40},
        {"good", 0xC0},
    };
    for (const Row& r : kRows)
        if (name == r.name) return r.code;
    return DecimalOf(name).value_or(kQualityBadConfigurationError);
}

std::optional<int32_t> EUTypeFromXmlName(std::string_view name) {
    if (name == "noEnum") return 0;
    if (auto n = DecimalOf(name)) {
        if (*n >= 0 && *n <= 2) return *n;
        return std::nullopt;
    }
    const int32_t type = EUTypeFromName(name);
    if (type == 0) return std::nullopt;
    return type;
}

std::optional<int32_t> AccessRightsFromName(std::string_view name) {
    if (name == "unknown") return 0;
    if (name == "readable") return 1;
    if (name == "writable") return 2;
    if (name == "readWritable") return 3;
    return DecimalOf(name);
}

int32_t ServerStateFromXml(xmlda::serverState state) {
    using S = xmlda::serverState;
    switch (state) {
        case S::running:
            return 1;
        case S::failed:
            return 2;
        case S::noConfig:
            return 3;
        case S::suspended:
            return 4;
        case S::test:
            return 5;
        case S::commFault:
            return 6;
    }
    return 0;
}

int32_t ResultCodeFromID(std::string_view resultID) {
    const std::string_view name = StripNamespacePrefix(resultID);
    const int32_t code = ResultCodeFromName(name);
    if (!IsUnknownResultID(name)) return code;
    return name.starts_with("S_") ? code : OPC_E_FAIL;
}

bool IsUnknownResultID(std::string_view resultID) {
    const std::string_view name = StripNamespacePrefix(resultID);
    // The table answers 1 only for names it does not hold (no row has the code 1).
    return !name.empty() && ResultCodeFromName(name) == 1;
}

std::string ResultDetail(std::string_view resultID, const xmlda::OPCErrors& errors) {
    std::string text;  // the server's own words, when it sent them
    for (const auto& e : errors)
        if (e &&
            (e->ID == resultID || StripNamespacePrefix(e->ID) == StripNamespacePrefix(resultID))) {
            text = e->Text;
            break;
        }
    const bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
    if (!IsUnknownResultID(resultID)) return blank ? std::string() : text;
    return blank ? std::string(resultID) : std::string(resultID) + ": " + text;
}

std::unique_ptr<xmlda::ItemIdentifier> ItemIdentifierOf(std::string_view itemID) {
    auto id = std::make_unique<xmlda::ItemIdentifier>();
    auto [path, name] = SplitItemID(itemID);
    id->ItemPath = std::move(path);
    id->ItemName = std::move(name);
    return id;
}

std::string XmlDaErrorString(int32_t code) {
    std::string text = ResultMessage(code);
    if (text.empty()) text = "unknown errorcode: " + std::to_string(code);
    return text;
}

int32_t DataTypeFromXmlName(std::string_view name) {
    VARTYPE vt = XSDTypeToVarType(name, false);
    if (vt != kUnknownXSDType) return vt;
    if (auto n = DecimalOf(name)) return *n;
    return XSDTypeToVarType(name, true);
}

int32_t PropertyIdOf(const xmlda::ItemProperty& property) {
    int32_t id = PropertyIdFromName(property.Name);
    if (id != kUnknownPropertyID) return id;
    // An unusual name: the number that ends the property's item name ("Tank1/Level/102"),
    // then the description.
    const std::string_view name = property.ItemName;
    const size_t cut = name.find_last_of("/.\\");
    if (auto n = DecimalOf(cut == std::string_view::npos ? name : name.substr(cut + 1)))
        if (*n > 0) return *n;
    if (!property.Description.empty()) return PropertyIdFromName(property.Description);
    return id;
}

TVelqorItemProperty PropertyFromReply(const xmlda::ItemProperty& property) {
    TVelqorItemProperty p;
    p.Error = property.ResultID.empty() ? 0 : ResultCodeFromID(property.ResultID);
    p.PropertyID = PropertyIdOf(property);
    p.Description = property.Description.empty() ? property.Name : property.Description;
    if (!property.ValueError.empty()) {
        // A value that could not be read is no empty value.
        p.Error = kXmlDaInvalidDataType;
        p.ErrorDetail = property.ValueError;
        p.DataType = -1;
        return p;
    }
    // A text that names none of the enumeration's values is no value of it.
    const auto named = [&](std::optional<int32_t> code, const char* what) {
        if (!code)
            throw Exception("invalid " + std::string(what) + " value \"" + property.Value.ToText() +
                            "\"");
        return *code;
    };
    try {
        switch (p.PropertyID) {
            case 1:
                p.Value =
                    Variant::I4(DataTypeFromXmlName(property.Value.ToText())).ChangeType(VT_I2);
                break;
            case 3:
                p.Value =
                    Variant::I4(property.Value.IsNull() ? kQualityGood
                                                        : QualityFromName(property.Value.ToText()))
                        .ChangeType(VT_I2);
                break;
            case 5:
                p.Value = Variant::I4(
                    named(AccessRightsFromName(property.Value.ToText()), "accessRights"));
                break;
            case 7:
                p.Value = Variant::I4(named(EUTypeFromXmlName(property.Value.ToText()), "euType"));
                break;
            default:
                p.Value = property.Value;
                break;
        }
        switch (p.PropertyID) {
            case 1:
            case 3:
                p.DataType = VT_I2;
                break;
            case 4:
                p.DataType = VT_DATE;
                break;
            case 5:
                p.DataType = VT_I4;
                break;
            case 6:
                p.DataType = VT_R4;
                break;
            default:
                p.DataType = p.Value.Type();
                break;
        }
    } catch (const std::exception& e) {
        p.Error = kXmlDaInvalidDataType;
        p.ErrorDetail = e.what();
    }
    return p;
}

}  // namespace velqor
