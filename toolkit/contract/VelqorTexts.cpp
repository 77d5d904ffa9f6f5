#include "VelqorTexts.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "VelqorDateTime.h"
#include "VelqorIntf.h"
#include "VelqorItemData.h"

namespace velqor {

bool IsBlank(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) > ' ') return false;
    return true;
}

namespace {

struct TypeRow {
    const char* vtName;   // variant type name without "VT_"
    const char* xsdName;  // XML Schema name, or nullptr
    int32_t vt;
};

constexpr TypeRow kTypes[] = {
    {"EMPTY", nullptr, VT_EMPTY},     {"I1", "byte", VT_I1},
    {"UI1", "unsignedByte", VT_UI1},  {"I2", "short", VT_I2},
    {"UI2", "unsignedShort", VT_UI2}, {"I4", "int", VT_I4},
    {"UI4", "unsignedInt", VT_UI4},   {"I8", "long", VT_I8},
    {"UI8", "unsignedLong", VT_UI8},  {"R4", "float", VT_R4},
    {"R8", "double", VT_R8},          {"CY", "decimal", VT_CY},
    {"DATE", "dateTime", VT_DATE},    {"BSTR", "string", VT_BSTR},
    {"BOOL", "boolean", VT_BOOL},     {"VARIANT", "anyType", VT_VARIANT},
    {"ERROR", nullptr, VT_ERROR},     {"INT", nullptr, VT_INT},
    {"UINT", nullptr, VT_UINT},
};

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && Lower(s.substr(0, prefix.size())) == Lower(prefix);
}

std::optional<int32_t> ScalarType(std::string_view text) {
    if (text.empty()) return std::nullopt;
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        int64_t n = 0;
        if (!ParseInt64(text, n) || n < 0 || n > 0xFFFF) return std::nullopt;
        return int32_t(n);
    }
    std::string_view name = text;
    if (StartsWithNoCase(name, "xsd:")) name.remove_prefix(4);
    for (const TypeRow& r : kTypes)
        if (r.xsdName && Lower(name) == Lower(r.xsdName)) return r.vt;
    name = text;
    if (StartsWithNoCase(name, "VT_"))
        name.remove_prefix(3);
    else if (StartsWithNoCase(name, "vt"))
        name.remove_prefix(2);
    for (const TypeRow& r : kTypes)
        if (Lower(name) == Lower(r.vtName)) return r.vt;
    return std::nullopt;
}

}  // namespace

size_t Utf8Length(std::string_view s, size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t len = b < 0x80                   ? 1
                 : (b >= 0xC2 && b <= 0xDF) ? 2
                 : (b >= 0xE0 && b <= 0xEF) ? 3
                 : (b >= 0xF0 && b <= 0xF4) ? 4
                                            : 0;
    if (len == 0 || i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    const auto b1 = static_cast<unsigned char>(len > 1 ? s[i + 1] : 0);
    if ((b == 0xE0 && b1 < 0xA0) || (b == 0xED && b1 >= 0xA0) || (b == 0xF0 && b1 < 0x90) ||
        (b == 0xF4 && b1 >= 0x90))
        return 0;  // overlong forms, surrogates, beyond U+10FFFF
    return len;
}

std::optional<int32_t> ParseVarType(std::string_view text) {
    bool array = false;
    if (text.size() > 2 && text.substr(text.size() - 2) == "[]") {
        array = true;
        text.remove_suffix(2);
    } else if (StartsWithNoCase(text, "ARRAY|")) {
        array = true;
        text.remove_prefix(6);
    } else if (StartsWithNoCase(text, "ArrayOf")) {
        array = true;
        text.remove_prefix(7);
    }
    auto vt = ScalarType(text);
    if (!vt) return std::nullopt;
    return array ? (*vt | VT_ARRAY) : *vt;
}

std::string VarTypeName(int32_t vt) {
    const int32_t base = vt & VT_TYPEMASK;
    for (const TypeRow& r : kTypes)
        if (r.vt == base) return std::string(r.vtName) + ((vt & VT_ARRAY) ? "[]" : "");
    if (base == VT_STRING) return std::string("STRING") + ((vt & VT_ARRAY) ? "[]" : "");
    return std::to_string(vt);
}

std::string QualityText(int32_t quality) {
    static constexpr struct {
        int32_t code;
        const char* name;
    } kNames[] = {
        {0x00, "bad"},
        {0x04, "badConfigurationError"},
        {0x08, "badNotConnected"},
        {0x0C, "badDeviceFailure"},
        {0x10, "badSensorFailure"},
        {0x14, "badLastKnownValue"},
        {0x18, "badCommFailure"},
        {0x1C, "badOutOfService"},
        {0x20, "badWaitingForInitialData"},
        {0x40, "uncertain"},
        {0x44, "uncertainLastUsableValue"},
        {0x50, "uncertainSensorNotAccurate"},
        {0x54, "uncertainEUExceeded"},
        {0x58, "uncertainSubNormal"},
        {0xC0, "good"},
        {0xD8, "goodLocalOverride"},
    };
    const int32_t sub = quality & kQualitySubstatusMask;
    std::string text;
    for (const auto& n : kNames)
        if (n.code == sub) text = n.name;
    if (text.empty()) {
        const int32_t status = quality & kQualityStatusMask;
        text = status == kQualityGood        ? "good"
               : status == kQualityUncertain ? "uncertain"
               : status == kQualityBad       ? "bad"
                                             : "unknown";
    }
    static constexpr const char* kLimits[] = {"", "+low", "+high", "+constant"};
    return text + kLimits[quality & kQualityLimitMask];
}

std::string QualityCode(int32_t quality) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02X", unsigned(quality) & 0xFFFFu);
    return buf;
}

std::string HumanText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char buf[16];
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c >= 0x20 && c != 0x7F) {
                out += char(c);
            } else if (c == '\n') {
                out += "\\n";
            } else if (c == '\r') {
                out += "\\r";
            } else if (c == '\t') {
                out += "\\t";
            } else {
                std::snprintf(buf, sizeof buf, "\\x%02x", unsigned(c));
                out += buf;
            }
            ++i;
            continue;
        }
        const size_t len = Utf8Length(text, i);
        if (len == 0) {
            std::snprintf(buf, sizeof buf, "\\x%02x", unsigned(c));
            out += buf;
            ++i;
            continue;
        }
        uint32_t cp = c & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
        for (size_t k = 1; k < len; ++k)
            cp = cp << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        const bool control = (cp >= 0x80 && cp <= 0x9F) || cp == 0x61C || cp == 0x200E ||
                             cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) ||
                             (cp >= 0x2066 && cp <= 0x2069);
        if (control) {
            std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(cp));
            out += buf;
        } else {
            out.append(text.substr(i, len));
        }
        i += len;
    }
    return out;
}

std::string JsonString(std::string_view text) {
    // Most texts (names, qualities, types, numbers) are printable ASCII with nothing to escape:
    // quoted as they are, at a fraction of the full escaper's cost per value.
    if (std::all_of(text.begin(), text.end(),
                    [](char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; })) {
        std::string out;
        out.reserve(text.size() + 2);
        out += '"';
        out += text;
        out += '"';
        return out;
    }
    // Bytes that are not UTF-8 become U+FFFD, so a line stays valid JSON whatever a server sent.
    return nlohmann::json(std::string(text))
        .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string MachineDateText(double dt) { return dt == 0 ? std::string() : FormatDateTimeIso(dt); }

std::string JsonValue(const Variant& value) {
    if (value.IsEmpty() || value.IsNull()) return "null";
    if (value.Type() == (VT_ARRAY | VT_UI1)) {  // a byte buffer, read as it is held
        std::string out = "[";
        for (unsigned char b : value.AsBytes()) {
            if (out.size() > 1) out += ',';
            out += std::to_string(b);
        }
        return out + "]";
    }
    if (value.IsArray()) {
        std::string out = "[";
        for (const Variant& e : value.ArrayData().Elements) {
            if (out.size() > 1) out += ',';
            out += JsonValue(e);
        }
        return out + "]";
    }
    if (value.Type() == VT_BOOL) return value.RawInt() ? "true" : "false";
    if (value.Type() == VT_DATE) return JsonString(MachineDateText(value.RawDouble()));
    if (value.IsNumeric()) {
        try {
            const double d = value.AsDouble();
            if (std::isfinite(d)) {
                // Integers keep every digit; floats use the toolkit's text, which JSON accepts
                // once the exponent's case is normalised.
                std::string t = value.ToText();
                for (char& ch : t)
                    if (ch == 'E') ch = 'e';
                return t;
            }
        } catch (const std::exception&) {
        }
    }
    try {
        return JsonString(value.ToText());
    } catch (const std::exception&) {
        return "null";
    }
}

std::string CsvValueText(const Variant& value) {
    if (value.IsArray()) return JsonValue(value);
    if (value.Type() == VT_DATE) return MachineDateText(value.RawDouble());
    try {
        return value.ToText();
    } catch (const std::exception&) {
        return {};
    }
}

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string DataChangeCsvHeader() { return "time,item,value,quality,quality_code,timestamp\n"; }

const std::string& TDateTexts::Of(double dt) {
    for (int i = 0; i < 2; ++i)
        if (dates_[i] == dt) return texts_[i];
    const int slot = next_;
    next_ ^= 1;
    dates_[slot] = dt;
    texts_[slot] = format_(dt);
    return texts_[slot];
}

void AppendDataChangeCsvRow(std::string& out, double now, const TVelqorItemData& item,
                            TDateTexts& dates) {
    out += dates.Of(now);
    out += ',';
    out += CsvField(item.ItemID());
    out += ',';
    out += CsvField(CsvValueText(item.Value()));
    out += ',';
    out += CsvField(QualityText(item.Quality()));
    out += ',';
    out += QualityCode(item.Quality());
    out += ',';
    out += dates.Of(item.TimeStamp());
    out += '\n';
}

namespace {

// What a person types for a truth value: true or false, 1 or 0, in any case and with blanks
// around. Anything else is refused: a general conversion would read "7" or "yes" as true.
Variant TypedText(const std::string& text, VARTYPE vt) {
    if (vt != VT_BOOL) return Variant::Str(text).ChangeType(vt);
    std::string t;
    for (char c : text)
        if (c != ' ' && c != '\t') t += char(std::tolower(static_cast<unsigned char>(c)));
    if (t == "true" || t == "1") return Variant::Bool(true);
    if (t == "false" || t == "0") return Variant::Bool(false);
    throw EVariantError("\"" + text + "\" is no truth value (true, false, 1 or 0)");
}

}  // namespace

Variant ValueFromText(const std::string& text, int32_t vt) {
    if (vt == VT_EMPTY) return Variant::Str(text);
    if (vt & VT_ARRAY) {
        const auto element = VARTYPE(vt & VT_TYPEMASK);
        std::vector<Variant> elements;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find(';', start);
            if (end == std::string::npos) end = text.size();
            elements.push_back(TypedText(text.substr(start, end - start), element));
            start = end + 1;
        }
        return Variant::Array(element, std::move(elements));
    }
    return TypedText(text, VARTYPE(vt));
}

}  // namespace velqor
