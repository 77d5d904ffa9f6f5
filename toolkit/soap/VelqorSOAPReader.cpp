#include "soap/VelqorSOAPReader.h"

#include <cmath>

#include "soap/VelqorSOAPValueTree.h"

namespace velqor {

namespace {

[[noreturn]] void InvalidEnvelope() { throw EVelqorSOAPConvertError("invalid SOAP request"); }

std::string Lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

// The numeric value of a text truncated towards zero (integers exactly).
int64_t TruncatedNumber(std::string_view text) {
    int64_t i;
    if (ParseInt64(text, i)) return i;
    double d;
    if (!ParseFloat(text, d))
        throw EVariantError("'" + std::string(text) + "' is not a valid number");
    if (!std::isfinite(d) || std::fabs(d) >= 9.2233720368547758e18) throw EVelqorRangeError();
    return int64_t(std::trunc(d));
}

int64_t TruncatedNumber(const Variant& v) {
    if (v.IsString()) return TruncatedNumber(std::string_view(v.RawString()));
    switch (v.Type()) {
        case VT_R4:
        case VT_R8:
        case VT_DATE: {
            double d = v.RawDouble();
            if (!std::isfinite(d) || std::fabs(d) >= 9.2233720368547758e18)
                throw EVelqorRangeError();
            return int64_t(std::trunc(d));
        }
        case VT_CY:
            return v.RawInt() / 10000;
        case VT_UI8:
        case VT_UINT:
            if (v.RawUInt() > uint64_t(INT64_MAX)) throw EVelqorRangeError();
            return int64_t(v.RawUInt());
        default:
            return v.AsInt64();
    }
}

void StoreInteger(const FieldInfo& f, TRemotable& r, int64_t v) {
    if (v < f.Min || v > f.Max) throw EVelqorRangeError();
    void* p = f.Storage(r);
    if (f.Kind == FieldKind::Int64) {
        *static_cast<int64_t*>(p) = v;
        return;
    }
    if (f.Kind == FieldKind::Char) {
        *static_cast<char*>(p) = char(v);
        return;
    }
    switch (f.Int) {
        case IntType::I8:
            *static_cast<int8_t*>(p) = int8_t(v);
            break;
        case IntType::U8:
            *static_cast<uint8_t*>(p) = uint8_t(v);
            break;
        case IntType::I16:
            *static_cast<int16_t*>(p) = int16_t(v);
            break;
        case IntType::U16:
            *static_cast<uint16_t*>(p) = uint16_t(v);
            break;
        case IntType::I32:
            *static_cast<int32_t*>(p) = int32_t(v);
            break;
        case IntType::U32:
            *static_cast<uint32_t*>(p) = uint32_t(v);
            break;
    }
}

void StoreFloat(const FieldInfo& f, TRemotable& r, double v) {
    if (f.Float == FloatType::Single)
        *static_cast<float*>(f.Storage(r)) = float(v);
    else
        *static_cast<double*>(f.Storage(r)) = v;
}

uint32_t SetBits(const FieldInfo& f, std::string_view text) {
    uint32_t bits = 0;
    while (!text.empty()) {
        size_t comma = text.find(',');
        std::string_view name = TrimBlanks(text.substr(0, comma));
        if (!name.empty()) {
            int i = f.Enum->IndexOf(name);
            if (i < 0 || i >= 32)
                throw EVariantError("'" + std::string(name) + "' is not a value of " +
                                    std::string(f.TypeName));
            bits |= 1u << unsigned(i);
        }
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return bits;
}

// A 32-bit unsigned decimal; a text outside 0..4294967295 is refused, not wrapped.
uint32_t UnsignedInt(std::string_view text) {
    int64_t v;
    if (!ParseInt64(text, v)) throw Exception("not an integer");
    if (v < 0 || v > int64_t(UINT32_MAX)) throw Exception("out of range");
    return uint32_t(v);
}

// A float or double; a finite text too large for the type is refused (INF is written INF).
double FloatValue(std::string_view text, bool single) {
    const double v = XSDToFloat(text);
    double read = v;
    if (single) {
        float f;
        if (!ParseSingle(text, f)) throw Exception("out of range");
        read = f;
    }
    if (std::isinf(read)) {
        std::string_view t = TrimBlanks(text);
        if (!t.empty() && (t[0] == '+' || t[0] == '-')) t.remove_prefix(1);
        if (!SameTextNoCase(t, "INF") && !SameTextNoCase(t, "Infinity"))
            throw Exception("out of range");
    }
    return read;
}

// Base64 text: groups of four characters of the alphabet, white space anywhere, and "=" only as
// the padding of the last group ("QQ==", "QUI="); anything else is not base64, nor is a group
// cut short.
void CheckBase64(std::string_view text) {
    size_t count = 0, padding = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                              (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (!alphabet && c != '=') throw Exception("not base64");
        if (c == '=') {
            if (count % 4 < 2 || ++padding > 2) throw Exception("misplaced padding");
        } else if (padding > 0) {
            throw Exception("misplaced padding");
        }
        ++count;
    }
    if (count % 4 != 0) throw Exception("the last group is cut short");
}

// At most 40 bytes of a text for a message, cut at a character boundary.
std::string Shortened(std::string_view text) {
    constexpr size_t kMax = 40;
    if (text.size() <= kMax) return std::string(text);
    size_t n = kMax;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return std::string(text.substr(0, n)) + "...";
}

}  // namespace

std::string ValueErrorText(std::string_view typeName, std::string_view text,
                           std::string_view reason) {
    std::string s = "invalid xsd:" + std::string(typeName) + " value \"" + Shortened(text) + "\"";
    // The reason adds something only when it does not just repeat the text.
    if (!reason.empty() && (text.empty() || reason.find(text) == std::string_view::npos))
        s += ": " + std::string(reason);
    return s;
}

// ---- storing ---------------------------------------------------------------------------------

void TVelqorSOAPReader::StoreText(const FieldInfo& f, TRemotable& r, std::string_view text) {
    switch (f.Kind) {
        case FieldKind::AnsiString:
        case FieldKind::WideString:
            static_cast<std::string*>(f.Storage(r))->assign(text);
            return;
        case FieldKind::Variant:
            *static_cast<Variant*>(f.Storage(r)) = Variant::Str(std::string(text));
            return;
        case FieldKind::Integer:
        case FieldKind::Int64:
        case FieldKind::Char:
            StoreInteger(f, r, TruncatedNumber(text));
            return;
        case FieldKind::Boolean:
            *static_cast<bool*>(f.Storage(r)) = text == "1" || SameTextNoCase(text, "true");
            return;
        case FieldKind::Enumeration: {
            int i = f.Enum->IndexOf(text);
            if (i < 0)
                throw EVariantError("'" + std::string(text) + "' is not a value of " +
                                    std::string(f.TypeName));
            f.SetOrdinal(r, i);
            return;
        }
        case FieldKind::Float:
            switch (f.Float) {
                case FloatType::DateTime:
                    StoreFloat(f, r, XSDDateTimeToDateTime(text));
                    return;
                case FloatType::Duration:
                    StoreFloat(f, r, XSDDurationToSeconds(text));
                    return;
                default:
                    StoreFloat(f, r, XSDToFloat(text));
                    return;
            }
        case FieldKind::Set:
            f.SetOrdinal(r, SetBits(f, text));
            return;
        default:
            throw EVariantError("invalid property type");
    }
}

void TVelqorSOAPReader::StoreVariant(const FieldInfo& f, TRemotable& r, const Variant& v) {
    if (f.Kind == FieldKind::Variant) {
        *static_cast<Variant*>(f.Storage(r)) = v;
        return;
    }
    if (v.IsString()) return StoreText(f, r, v.RawString());
    switch (f.Kind) {
        case FieldKind::AnsiString:
        case FieldKind::WideString:
            *static_cast<std::string*>(f.Storage(r)) = v.ToText();
            return;
        case FieldKind::Integer:
        case FieldKind::Int64:
        case FieldKind::Char:
            StoreInteger(f, r, TruncatedNumber(v));
            return;
        case FieldKind::Boolean: {
            std::string t = v.ToText();
            *static_cast<bool*>(f.Storage(r)) = t == "1" || Lowered(t) == "true";
            return;
        }
        case FieldKind::Enumeration: {
            int64_t ord = v.Type() == VT_BOOL ? (v.RawInt() ? 1 : 0) : TruncatedNumber(v);
            if (ord < f.Min || ord > f.Max) throw EVelqorRangeError();
            f.SetOrdinal(r, ord);
            return;
        }
        case FieldKind::Float:
            // A date-time variant is stored as it is; anything else goes by its text.
            if (f.Float == FloatType::DateTime && v.Type() == VT_DATE)
                return StoreFloat(f, r, v.RawDouble());
            if (f.Float == FloatType::DateTime || f.Float == FloatType::Duration)
                return StoreText(f, r, v.ToText());
            return StoreFloat(f, r, v.AsDouble());
        case FieldKind::Set:
            if (v.Type() == VT_I4 || v.Type() == VT_UI4 || v.Type() == VT_I2 ||
                v.Type() == VT_UI1 || v.Type() == VT_I8 || v.Type() == VT_INT)
                return f.SetOrdinal(r, int64_t(uint32_t(v.AsInt64())));
            return StoreText(f, r, v.ToText());
        default:
            throw EVariantError("invalid property type");
    }
}

// ---- parsing ---------------------------------------------------------------------------------

void TVelqorSOAPReader::Parse(std::string_view bytes, std::string& methodName, dom::XmlNode& result,
                              std::string& nsUri) {
    methodName.clear();
    nsUri.clear();
    result = {};
    ResultElement = {};
    doc_.reset();
    doc_.emplace(dom::XmlDocument::Load(bytes));
    dom::XmlNode env = doc_->DocumentElement();
    if (!env || env.LocalName() != "Envelope") InvalidEnvelope();
    dom::XmlNode found;
    for (dom::XmlNode c = env.FirstChild(); c; c = c.NextSibling()) {
        if (!c.IsElement() || c.LocalName() != "Body") continue;
        // Comments and whitespace around the reply are not content; any other node is.
        dom::XmlNode only;
        size_t count = 0;
        for (dom::XmlNode k = c.FirstChild(); k; k = k.NextSibling()) {
            if (k.Type() == dom::NodeType::Other) continue;
            if (k.Type() == dom::NodeType::Text && TrimBlanks(k.TextView(scratch_)).empty())
                continue;
            only = k;
            ++count;
        }
        if (count == 1) found = only;
    }
    // The single node of the body must be an element (a lone text is no reply).
    if (!found || !found.IsElement()) InvalidEnvelope();
    methodName = Lowered(found.LocalName());
    nsUri = std::string(found.NamespaceURI());
    if (methodName == "fault") RaiseFault(found);
    result = found;
    ResultElement = found;
}

dom::XmlNode TVelqorSOAPReader::Parse(std::string_view bytes) {
    std::string method, ns;
    dom::XmlNode result;
    Parse(bytes, method, result, ns);
    return result;
}

void TVelqorSOAPReader::RaiseFault(dom::XmlNode fault) {
    std::string code, reason;
    dom::XmlNode fc = FindChild(fault, "faultcode");
    dom::XmlNode fs = FindChild(fault, "faultstring");
    if (fc || fs) {
        if (fc) code = fc.Text();
        if (fs) reason = fs.Text();
    } else {
        // SOAP 1.2: Code/Value and the first Reason/Text.
        if (dom::XmlNode c = FindChild(fault, "Code")) {
            dom::XmlNode v = FindChild(c, "Value");
            code = std::string(TrimBlanks(v ? v.Text() : c.Text()));
        }
        if (dom::XmlNode rs = FindChild(fault, "Reason")) {
            dom::XmlNode t = FindChild(rs, "Text");
            reason = t ? t.Text() : rs.Text();
        }
    }
    // A fault that says nothing still says that it is a fault; one part alone stands alone.
    std::string message = code + "\r\n" + reason;
    if (TrimBlanks(code).empty() && TrimBlanks(reason).empty())
        message = "SOAP fault without code or text";
    else if (TrimBlanks(code).empty())
        message = reason;
    else if (TrimBlanks(reason).empty())
        message = code;
    throw EVelqorSOAPFault(message, code, reason);
}

// ---- element helpers -------------------------------------------------------------------------

dom::XmlNode TVelqorSOAPReader::FindChild(dom::XmlNode element, std::string_view name) {
    if (!element) return {};
    for (dom::XmlNode c = element.FirstChild(); c; c = c.NextSibling())
        if (c.IsElement() && SameTextNoCase(c.LocalName(), name)) return c;
    return {};
}

size_t TVelqorSOAPReader::FindChildren(dom::XmlNode element, std::string_view name,
                                       std::vector<dom::XmlNode>* list) {
    size_t n = 0;
    if (!element) return 0;
    for (dom::XmlNode c = element.FirstChild(); c; c = c.NextSibling()) {
        if (!c.IsElement() || !SameTextNoCase(c.LocalName(), name)) continue;
        ++n;
        if (list) list->push_back(c);
    }
    return n;
}

Variant TVelqorSOAPReader::ReadScalarElement(VARTYPE kind, std::string_view typeName,
                                             std::string_view text) {
    try {
        return ReadScalar(kind, text);
    } catch (const std::exception& e) {
        throw EVelqorValueError(ValueErrorText(typeName, text, e.what()));
    }
}

Variant TVelqorSOAPReader::ReadScalar(VARTYPE kind, std::string_view text) {
    switch (kind) {
        case VT_I2:
        case VT_I4:
        case VT_I1:
        case VT_UI1: {
            Variant v = Variant::I4(XSDToInteger(text));
            return kind == VT_I4 ? v : v.ChangeType(kind);
        }
        case VT_R4:
            return Variant::R4(float(FloatValue(text, true)));
        case VT_R8:
            return Variant::R8(FloatValue(text, false));
        case VT_CY:
            return Variant::Currency(XSDToDecimal(text));
        case VT_DATE:
            return Variant::Date(XSDDateTimeToDateTime(text));
        case VT_BOOL: {
            const std::string_view t = TrimBlanks(text);
            if (t == "true" || t == "1") return Variant::Bool(true);
            if (t == "false" || t == "0") return Variant::Bool(false);
            throw Exception("not a boolean (true, false, 1 or 0)");
        }
        case VT_UI2:
        case VT_UI4:
            return Variant::UI4(UnsignedInt(text)).ChangeType(kind);
        case VT_I8: {
            int64_t v;
            if (!ParseInt64(TrimBlanks(text), v))
                throw EVariantError("'" + std::string(text) + "' is not a valid integer value");
            return Variant::I8(v);
        }
        case VT_UI8:
            return Variant::AnsiStr(std::string(TrimBlanks(text))).ChangeType(VT_UI8);
        default:
            return Variant::Str(std::string(text)).ChangeType(kind);
    }
}

// ---- the value rules --------------------------------------------------------------------------

namespace {

template <class Node>
bool XsiAttribute(Node el, std::string_view name, std::string_view& value, std::string& scratch) {
    return el.AttributeNS(name, kXsiNamespace, value, scratch) ||
           el.AttributeNS(name, kXsi1999Namespace, value, scratch);
}

// Kind from xsi:type (prefix removed) or else the element's own name; typeName may view scratch.
template <class Node>
VARTYPE ElementType(Node element, std::string_view& typeName, std::string& scratch) {
    std::string_view t;
    if (XsiAttribute(element, "type", t, scratch) && !t.empty())
        typeName = StripNamespacePrefix(t);
    else
        typeName = element.LocalName();
    return XSDTypeToVarType(typeName, true);
}

// xsi:nil (or xsi:NULL) "true" or "1".
template <class Node>
bool IsExplicitlyNil(Node element) {
    std::string_view v;
    std::string s;
    if (XsiAttribute(element, "NULL", v, s) || XsiAttribute(element, "nil", v, s))
        return v == "1" || SameTextNoCase(v, "true");
    return false;
}

template <class Node>
bool IsNil(Node element) {
    if (!element || IsExplicitlyNil(element)) return true;
    return !element.HasChildNodes() && !element.HasAttribute("href");
}

template <class Node>
Node FirstChildNamed(Node element, std::string_view name) {
    for (Node c = element.FirstChild(); c; c = c.NextSibling())
        if (c.IsElement() && SameTextNoCase(c.LocalName(), name)) return c;
    return {};
}

// An attribute of exactly this name, else a child element read as a variant (a child that
// cannot be read gives null). False when neither exists.
template <class Node>
bool ReadFieldValue(Node element, std::string_view name, Variant& value) {
    std::string_view text;
    std::string scratch;
    if (element.Attribute(name, text, scratch)) {
        value = Variant::Str(std::string(text));
        return true;
    }
    Node child = FirstChildNamed(element, name);
    if (!child) return false;
    try {
        value = ReadValue(child);
    } catch (const std::exception&) {
        value = Variant::Null();
    }
    return true;
}

template <class Node>
Variant ReadArray(Node element, VARTYPE elementKind) {
    if (elementKind == VT_UI1) {
        std::string scratch;
        const std::string_view text = element.TextView(scratch);
        try {
            CheckBase64(text);
        } catch (const std::exception& e) {
            throw EVelqorValueError(ValueErrorText("base64Binary", text, e.what()));
        }
        return Variant::TakeBytes(Base64Decode(text));
    }
    const size_t count = element.ElementChildCount();
    VARTYPE arrayKind =
        elementKind == VT_I8 || elementKind == VT_UI8 ? VARTYPE(VT_BSTR) : elementKind;
    std::vector<Variant> entries;
    entries.reserve(count);
    std::string scratch;
    for (Node c = element.FirstChild(); c; c = c.NextSibling()) {
        if (!c.IsElement()) continue;
        std::string_view name;
        VARTYPE ck = ElementType(c, name, scratch);
        if (!(ck & VT_ARRAY) && c.ElementChildCount() < 2)
            entries.push_back(ReadValue(c));
        else
            entries.push_back(ReadArray(c, VARTYPE(ck & ~VT_ARRAY)));
    }
    return Variant::Array(arrayKind, std::move(entries), 0);
}

}  // namespace

template <class Node>
Variant ReadValue(Node element) {
    std::string typeScratch;
    std::string_view type;
    VARTYPE kind = ElementType(element, type, typeScratch);
    // An array without entries is an empty array, unless it says it is nil.
    if ((kind & VT_ARRAY) && !element.ElementChildCount() && !IsExplicitlyNil(element))
        return ReadArray(element, VARTYPE(kind & ~VT_ARRAY));
    if (IsNil(element)) {
        Variant r = kind == VT_BSTR ? Variant::Str("") : Variant::Null();
        if (type == "OPCQuality") {
            Variant q;
            r = ReadFieldValue(element, "QualityField", q) ? q : Variant::Str("good");
        }
        return r;
    }
    if (kind & VT_ARRAY) return ReadArray(element, VARTYPE(kind & ~VT_ARRAY));
    std::string scratch;
    std::string_view text = element.TextView(scratch);
    // The texts of child elements joined are no value of the element's type.
    if (element.ElementChildCount() != 0)
        throw EVelqorValueError(ValueErrorText(type, text, "holds elements, not a value"));
    return TVelqorSOAPReader::ReadScalarElement(kind, type, text);
}

template Variant ReadValue<dom::XmlNode>(dom::XmlNode);
template Variant ReadValue<TValueNode>(TValueNode);

// ---- records ---------------------------------------------------------------------------------

void TVelqorSOAPReader::ReadRecord(dom::XmlNode element, TRemotable& record) {
    std::string scratch;
    for (const FieldInfo* fp : record.Class().Fields()) {
        const FieldInfo& f = *fp;
        switch (f.Kind) {
            case FieldKind::Record: {
                TRemotable* sub = f.GetRecord(record);
                if (!sub) {
                    std::unique_ptr<TRemotable> made = CreateObject(f.TypeName);
                    sub = made.get();
                    f.SetRecord(record, std::move(made));
                }
                if (dom::XmlNode child = FindChild(element, f.Name)) ReadRecord(child, *sub);
                break;
            }
            case FieldKind::RecordArray:
            case FieldKind::StringArray:
            case FieldKind::OtherArray:
                ReadArrayField(element, f, record);
                break;
            default: {
                // Attributes are stored straight from their text, which is what a string
                // variant would give, without building one.
                std::string_view text;
                if (element.Attribute(f.Name, text, scratch)) {
                    StoreText(f, record, text);
                    break;
                }
                dom::XmlNode child = FindChild(element, f.Name);
                if (!child) break;
                Variant v;
                try {
                    v = ReadVariant(child);
                } catch (const std::exception& e) {
                    v = Variant::Null();
                    record.ValueUnreadable(f, e.what());
                }
                StoreVariant(f, record, v);
                break;
            }
        }
    }
}

void TVelqorSOAPReader::ReadArrayField(dom::XmlNode element, const FieldInfo& field,
                                       TRemotable& record) {
    std::vector<dom::XmlNode> matches;
    if (FindChildren(element, field.Name, &matches) == 0) return;
    switch (field.Kind) {
        case FieldKind::RecordArray:
            field.SetLength(record, matches.size());
            for (size_t i = 0; i < matches.size(); ++i) {
                field.SetItem(record, i, CreateObject(field.TypeName));
                ReadRecord(matches[i], *field.GetItem(record, i));
            }
            return;
        case FieldKind::StringArray:
            field.SetLength(record, matches.size());
            for (size_t i = 0; i < matches.size(); ++i)
                *field.StringItem(record, i) = matches[i].Text();
            return;
        default:
            if (field.TypeName == "array") throw Exception("dynarrays not supported");
            throw Exception(std::string(field.TypeName) + " not supported");
    }
}

}  // namespace velqor
