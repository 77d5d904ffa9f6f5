#include "xmlda/VelqorSOAPCallIO.h"

namespace velqor {

void UseXmlDaClientRules(TSOAPWriteRules& rules) {
    rules.AlwaysWritten = "ItemPath";
    rules.NeverWrittenEnum = "qualityBits";
    rules.NilForEmptyVariants = false;
}

std::unique_ptr<TRemotable> TVelqorSoapReader::CreateObject(std::string_view className) {
    return xmlda::CreateXmlDaObject(className);
}

}  // namespace velqor
