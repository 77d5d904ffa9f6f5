#include "xmlda/VelqorSOAPCallIO.h"

namespace velqor {

dom::XmlNode TVelqorClientSoapWriter::WriteValue(dom::XmlNode parent, std::string_view name,
                                                 bool numeric, bool attribute,
                                                 std::string_view text) {
    if (name == "ItemPath" && text.empty()) text = kEmptyValueMarker;
    return TVelqorSOAPWriter::WriteValue(parent, name, numeric, attribute, text);
}

void TVelqorClientSoapWriter::WriteEnumField(dom::XmlNode parent, const FieldInfo& field,
                                             bool attribute, const Variant& value) {
    if (field.Kind == FieldKind::Enumeration && field.TypeName == "qualityBits") return;
    TVelqorSOAPWriter::WriteEnumField(parent, field, attribute, value);
}

std::unique_ptr<TRemotable> TVelqorSoapReader::CreateObject(std::string_view className) {
    return xmlda::CreateXmlDaObject(className);
}

}  // namespace velqor
