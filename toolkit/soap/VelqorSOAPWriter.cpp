#include "soap/VelqorSOAPWriter.h"

#include <ostream>

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

}  // namespace

dom::XmlDocument& TVelqorSOAPWriter::Document() {
    if (!doc_) doc_.emplace();
    return *doc_;
}

dom::XmlNode TVelqorSOAPWriter::WriteValue(dom::XmlNode parent, std::string_view name, bool numeric,
                                           bool attribute, std::string_view text) {
    if (OmitEmpty && (text.empty() || (numeric && text == "0"))) return {};
    if (text == kEmptyValueMarker) text = {};
    if (!parent) return {};
    if (attribute) {
        parent.SetAttribute(name, text);
        return {};
    }
    dom::XmlNode el = AddElement(parent, name);
    el.SetText(text);
    return el;
}

dom::XmlNode TVelqorSOAPWriter::CreateEnvelope(dom::XmlDocument& document) {
    dom::XmlNode env = document.CreateDocumentElement("soap:Envelope", kSoapEnvelopeNamespace);
    env.DeclareNamespace("xsd", kXsdNamespace);
    env.DeclareNamespace("xsi", kXsiNamespace);
    return env;
}

dom::XmlNode TVelqorSOAPWriter::AddHeader(dom::XmlNode envelope) {
    return envelope.AddElement("soap:Header", kSoapEnvelopeNamespace);
}

dom::XmlNode TVelqorSOAPWriter::AddBody(dom::XmlNode envelope) {
    return envelope.AddElement("soap:Body", kSoapEnvelopeNamespace);
}

dom::XmlNode TVelqorSOAPWriter::AddFault(dom::XmlNode body) {
    return body.AddElement("soap:Fault", kSoapEnvelopeNamespace);
}

dom::XmlNode TVelqorSOAPWriter::AddElement(dom::XmlNode parent, std::string_view name,
                                           std::string_view nsUri) {
    return parent.AddElement(name, nsUri.empty() ? std::string_view(DefaultNamespace) : nsUri);
}

dom::XmlNode TVelqorSOAPWriter::BeginMessage(std::string_view nsUri, std::string_view methodName) {
    doc_.reset();
    doc_.emplace();
    dom::XmlNode env = CreateEnvelope(*doc_);
    dom::XmlNode body = AddBody(env);
    method_ = body.AddElement(methodName, nsUri);
    DefaultNamespace = std::string(nsUri);
    SOAPAction = DefaultNamespace + std::string(methodName);
    return method_;
}

void TVelqorSOAPWriter::WriteRecord(std::string_view elementName, dom::XmlNode parent,
                                    const TRemotable& record) {
    dom::XmlNode el;
    if (!parent) {
        if (!method_) throw Exception("SOAP writer: no message begun");
        el = method_;
    } else {
        el = AddElement(parent, elementName);
    }
    // Storage accessors hand out non-const pointers; writing only reads through them.
    auto& rec = const_cast<TRemotable&>(record);
    for (const FieldInfo* fp : record.Class().Fields()) {
        const FieldInfo& f = *fp;
        switch (f.Kind) {
            case FieldKind::Record:
                if (TRemotable* sub = f.GetRecord(record)) WriteRecord(f.Name, el, *sub);
                break;
            case FieldKind::RecordArray:
            case FieldKind::StringArray:
            case FieldKind::OtherArray:
                WriteArrayField(el, f, record);
                break;
            case FieldKind::Integer:
                WriteValue(el, f.Name, true, f.IsAttribute, IntegerText(f, rec));
                break;
            case FieldKind::Int64: {
                int64_t v = *static_cast<int64_t*>(f.Storage(rec));
                if (v != 0) WriteValue(el, f.Name, true, f.IsAttribute, std::to_string(v));
                break;
            }
            case FieldKind::Float: {
                void* p = f.Storage(rec);
                if (f.Float == FloatType::Single) {
                    WriteValue(el, f.Name, true, f.IsAttribute,
                               XSDSingleText(*static_cast<float*>(p)));
                    break;
                }
                double v = *static_cast<double*>(p);
                if (f.Float == FloatType::Double)
                    WriteValue(el, f.Name, true, f.IsAttribute, XSDFloatText(v));
                else if (v != 0)
                    WriteValue(el, f.Name, true, f.IsAttribute,
                               f.Float == FloatType::DateTime ? DateTimeToXSDDateTime(v, true)
                                                              : SecondsToXSDDuration(v));
                break;
            }
            case FieldKind::Boolean:
                WriteEnumField(el, f, f.IsAttribute,
                               Variant::Bool(*static_cast<bool*>(f.Storage(rec))));
                break;
            case FieldKind::Enumeration:
                WriteEnumField(el, f, f.IsAttribute, Variant::I4(int32_t(f.GetOrdinal(record))));
                break;
            case FieldKind::Variant: {
                const Variant& v = *static_cast<Variant*>(f.Storage(rec));
                if ((!v.IsEmpty() && !v.IsNull()) || NilForEmptyVariants)
                    WriteVariant(el, f.Name, v);
                break;
            }
            case FieldKind::AnsiString:
            case FieldKind::WideString:
                WriteValue(el, f.Name, false, f.IsAttribute,
                           *static_cast<std::string*>(f.Storage(rec)));
                break;
            case FieldKind::Char:
                WriteValue(el, f.Name, false, f.IsAttribute,
                           std::to_string(int(uint8_t(*static_cast<char*>(f.Storage(rec))))));
                break;
            case FieldKind::Set:
                WriteValue(el, f.Name, false, f.IsAttribute, SetText(f, record));
                break;
        }
    }
}

void TVelqorSOAPWriter::WriteEnumField(dom::XmlNode parent, const FieldInfo& field, bool attribute,
                                       const Variant& value) {
    if (field.Kind == FieldKind::Boolean) {
        if (value.AsBool()) WriteValue(parent, field.Name, true, attribute, "true");
        return;
    }
    int32_t ord = value.AsInt32();
    std::string text = field.Enum && ord >= 0 && size_t(ord) < field.Enum->Values.size()
                           ? field.Enum->Values[size_t(ord)]
                           : std::to_string(ord);
    WriteValue(parent, field.Name, true, attribute, text);
}

void TVelqorSOAPWriter::WriteArrayField(dom::XmlNode parent, const FieldInfo& field,
                                        const TRemotable& record) {
    size_t n = field.Length(record);
    if (n == 0) return;
    switch (field.Kind) {
        case FieldKind::RecordArray:
            for (size_t i = 0; i < n; ++i)
                if (TRemotable* item = field.GetItem(record, i))
                    WriteRecord(field.Name, parent, *item);
            return;
        case FieldKind::StringArray:
            for (size_t i = 0; i < n; ++i) {
                const std::string& s = *field.StringItem(const_cast<TRemotable&>(record), i);
                if (!s.empty()) AddElement(parent, field.Name).SetText(s);
            }
            return;
        default:
            if (field.TypeName == "array") throw Exception("dynarray not supported");
            throw Exception(std::string(field.TypeName) + " not supported");
    }
}

dom::XmlNode TVelqorSOAPWriter::AddNilElement(dom::XmlNode parent, std::string_view name) {
    dom::XmlNode el = AddElement(parent, name);
    el.SetAttributeNS("xsi", kXsiNamespace, "nil", "true");
    return el;
}

dom::XmlNode TVelqorSOAPWriter::WriteVariant(dom::XmlNode parent, std::string_view name,
                                             const Variant& value) {
    if (value.Type() == (VT_ARRAY | VT_UI1)) {
        dom::XmlNode el = AddElement(parent, name);
        el.SetText(Base64Encode(value.AsBytes()));
        el.SetAttributeNS("xsi", kXsiNamespace, "type", "xsd:base64Binary");
        return el;
    }
    if (value.IsArray()) return WriteVariantArray(parent, name, value);
    if (value.IsEmpty() || value.IsNull()) return AddNilElement(parent, name);
    std::string type = VarTypeToXSDType(kXsdPrefix, value.Type());
    if (StripNamespacePrefix(type) == "unknown") return AddNilElement(parent, name);
    dom::XmlNode el = AddElement(parent, name);
    el.SetText(VariantToXSDText(value));
    el.SetAttributeNS("xsi", kXsiNamespace, "type", type);
    return el;
}

dom::XmlNode TVelqorSOAPWriter::WriteVariantArray(dom::XmlNode parent, std::string_view name,
                                                  const Variant& array) {
    std::string type = VariantXSDTypeName(array);
    dom::XmlNode el = AddElement(parent, name);
    el.SetAttributeNS("xsi", kXsiNamespace, "type", type);
    // An array without entries stays an empty element of its type.
    const bool ofVariants = SameTextNoCase(type, "ArrayOfanyType");
    for (const Variant& e : array.ArrayData().Elements) {
        if (e.IsArray() && e.Type() != (VT_ARRAY | VT_UI1)) {
            WriteVariantArray(el, "anyType", e);
        } else if (ofVariants) {
            WriteVariant(el, "anyType", e);
        } else if (e.IsArray()) {
            AddElement(el, "base64Binary").SetText(Base64Encode(e.AsBytes()));
        } else {
            AddElement(el, VariantXSDTypeName(e)).SetText(VariantToXSDText(e));
        }
    }
    return el;
}

void TVelqorSOAPWriter::SaveToStream(std::ostream& out) const {
    std::string s = SaveToString();
    out.write(s.data(), std::streamsize(s.size()));
}

std::string TVelqorSOAPWriter::SaveToString() const {
    if (!doc_) throw Exception("SOAP writer: no message begun");
    return doc_->Save();
}

}  // namespace velqor
