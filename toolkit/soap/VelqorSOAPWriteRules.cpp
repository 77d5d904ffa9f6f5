#include "soap/VelqorSOAPWriteRules.h"

#include "soap/VelqorSOAPEncoding.h"

namespace velqor {

namespace {

std::string IntegerText(const FieldInfo& f, TRemotable& r) {
    void* p = f.Storage(r);
    switch (f.Int) {
        case IntType::I8:
            return std::to_string(*static_cast<int8_t*>(p));
        case IntType::U8:
            return std::to_string(*static_cast<uint8_t*>(p));
        case IntType::I16:
            return std::to_string(*static_cast<int16_t*>(p));
        case IntType::U16:
            return std::to_string(*static_cast<uint16_t*>(p));
        case IntType::I32:
            return std::to_string(*static_cast<int32_t*>(p));
        case IntType::U32:
            return std::to_string(*static_cast<uint32_t*>(p));
    }
    return "0";
}

std::string SetText(const FieldInfo& f, const TRemotable& r) {
    uint32_t bits = uint32_t(f.GetOrdinal(r));
    std::string out;
    for (size_t i = 0; i < f.Enum->Values.size() && i < 32; ++i) {
        if (!(bits >> i & 1u)) continue;
        if (!out.empty()) out += ',';
        out += f.Enum->Values[i];
    }
    return out;
}

void Element(TSOAPSink& out, std::string_view name, std::string_view text) {
    out.Open(name);
    out.Text(text);
    out.Close(name);
}

bool IsSimple(FieldKind k) {
    switch (k) {
        case FieldKind::Record:
        case FieldKind::RecordArray:
        case FieldKind::StringArray:
        case FieldKind::OtherArray:
        case FieldKind::Variant:
            return false;
        default:
            return true;
    }
}

}  // namespace

bool TSOAPWriteRules::FieldText(const FieldInfo& f, const TRemotable& record,
                                std::string& text) const {
    // Storage accessors hand out non-const pointers; writing only reads through them.
    auto& rec = const_cast<TRemotable&>(record);
    bool numeric = true;
    switch (f.Kind) {
        case FieldKind::Integer:
            text = IntegerText(f, rec);
            break;
        case FieldKind::Int64: {
            int64_t v = *static_cast<int64_t*>(f.Storage(rec));
            if (v == 0) return false;
            text = std::to_string(v);
            break;
        }
        case FieldKind::Float: {
            void* p = f.Storage(rec);
            if (f.Float == FloatType::Single) {
                text = XSDSingleText(*static_cast<float*>(p));
                break;
            }
            double v = *static_cast<double*>(p);
            if (f.Float == FloatType::Double)
                text = XSDFloatText(v);
            else if (v == 0)
                return false;
            else
                text = f.Float == FloatType::DateTime ? DateTimeToXSDDateTime(v, true)
                                                      : SecondsToXSDDuration(v);
            break;
        }
        case FieldKind::Boolean:
            if (!*static_cast<bool*>(f.Storage(rec))) return false;
            text = "true";
            break;
        case FieldKind::Enumeration: {
            if (!NeverWrittenEnum.empty() && f.TypeName == NeverWrittenEnum) return false;
            const int32_t ord = int32_t(f.GetOrdinal(record));
            text = f.Enum && ord >= 0 && size_t(ord) < f.Enum->Values.size()
                       ? f.Enum->Values[size_t(ord)]
                       : std::to_string(ord);
            break;
        }
        case FieldKind::AnsiString:
        case FieldKind::WideString:
            numeric = false;
            text = *static_cast<std::string*>(f.Storage(rec));
            break;
        case FieldKind::Char:
            numeric = false;
            text = std::to_string(int(uint8_t(*static_cast<char*>(f.Storage(rec)))));
            break;
        case FieldKind::Set:
            numeric = false;
            text = SetText(f, record);
            break;
        default:
            return false;
    }
    if (!AlwaysWritten.empty() && f.Name == AlwaysWritten) return true;
    return !OmitEmpty || !(text.empty() || (numeric && text == "0"));
}

void TSOAPWriteRules::WriteFields(TSOAPSink& out, const TRemotable& record) const {
    const auto& fields = record.Class().Fields();
    std::string text;
    for (const FieldInfo* f : fields)
        if (f->IsAttribute && IsSimple(f->Kind) && FieldText(*f, record, text))
            out.Attribute(f->Name, text);
    for (const FieldInfo* fp : fields) {
        const FieldInfo& f = *fp;
        switch (f.Kind) {
            case FieldKind::Record:
                if (const TRemotable* sub = f.GetRecord(record)) {
                    out.Open(f.Name);
                    WriteFields(out, *sub);
                    out.Close(f.Name);
                }
                break;
            case FieldKind::RecordArray:
                for (size_t i = 0, n = f.Length(record); i < n; ++i)
                    if (const TRemotable* item = f.GetItem(record, i)) {
                        out.Open(f.Name);
                        WriteFields(out, *item);
                        out.Close(f.Name);
                    }
                break;
            case FieldKind::StringArray:
                for (size_t i = 0, n = f.Length(record); i < n; ++i) {
                    const std::string& s = *f.StringItem(const_cast<TRemotable&>(record), i);
                    if (!s.empty()) Element(out, f.Name, s);
                }
                break;
            case FieldKind::OtherArray:
                if (f.Length(record) == 0) break;
                if (f.TypeName == "array") throw Exception("dynarray not supported");
                throw Exception(std::string(f.TypeName) + " not supported");
            case FieldKind::Variant: {
                const Variant& v =
                    *static_cast<const Variant*>(f.Storage(const_cast<TRemotable&>(record)));
                if ((!v.IsEmpty() && !v.IsNull()) || NilForEmptyVariants)
                    WriteVariant(out, f.Name, v);
                break;
            }
            default:
                if (!f.IsAttribute && FieldText(f, record, text)) Element(out, f.Name, text);
                break;
        }
    }
}

void TSOAPWriteRules::WriteVariant(TSOAPSink& out, std::string_view name,
                                   const Variant& value) const {
    if (value.Type() == (VT_ARRAY | VT_UI1)) {
        out.Open(name);
        out.XsiAttribute("type", "xsd:base64Binary");
        out.Text(Base64Encode(value.AsBytes()));
        out.Close(name);
        return;
    }
    if (value.IsArray()) return WriteArray(out, name, value);
    std::string type;
    if (!value.IsEmpty() && !value.IsNull()) type = VarTypeToXSDType(kXsdPrefix, value.Type());
    out.Open(name);
    // A kind without a type name is written as nil too.
    if (type.empty() || StripNamespacePrefix(type) == "unknown") {
        out.XsiAttribute("nil", "true");
    } else {
        out.XsiAttribute("type", type);
        out.Text(VariantToXSDText(value));
    }
    out.Close(name);
}

void TSOAPWriteRules::WriteArray(TSOAPSink& out, std::string_view name,
                                 const Variant& array) const {
    const std::string type = VariantXSDTypeName(array);
    out.Open(name);
    out.XsiAttribute("type", type);
    // An array without entries stays an empty element of its type.
    const bool ofVariants = SameTextNoCase(type, "ArrayOfanyType");
    for (const Variant& e : array.ArrayData().Elements) {
        if (e.IsArray() && e.Type() != (VT_ARRAY | VT_UI1))
            WriteArray(out, "anyType", e);
        else if (ofVariants)
            WriteVariant(out, "anyType", e);
        else if (e.IsArray())
            Element(out, "base64Binary", Base64Encode(e.AsBytes()));
        else
            Element(out, VariantXSDTypeName(e), VariantToXSDText(e));
    }
    out.Close(name);
}

}  // namespace velqor
