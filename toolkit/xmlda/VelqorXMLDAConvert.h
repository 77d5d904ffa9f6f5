// Conversions from OPC XML-DA texts and enumerations to the toolkit's numeric codes, shared by
// the XML-DA connection, groups and browser.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "contract/VelqorIntf.h"
#include "xmlda/OpcXmlDa.h"

namespace velqor {

// OPC DA quality code (16 bits in 32) of a qualityBits value.
int32_t QualityFromBits(xmlda::qualityBits bits);
// The whole OPC quality word of a reply's quality record: the quality bits, the limit bits
// ("low" 1, "high" 2, "constant" 3) and the vendor byte above them. No record reads as good.
int32_t QualityOf(const xmlda::OPCQuality* quality);
// Quality code of a quality text (exact, case-sensitive); a decimal text gives its number,
// anything else 0x04.
int32_t QualityFromName(std::string_view name);
// "unknown" 0, "readable" 1, "writable" 2, "readWritable" 3, or a decimal text that fits 32
// bits; nullopt for anything else (no access rights at all is not what such a text says).
std::optional<int32_t> AccessRightsFromName(std::string_view name);
// "noEnum" 0, "analog" 1, "enumerated" 2 (the contract's EUTypeFromName), or the code as a
// decimal text ("0", "1", "2"); nullopt for anything else.
std::optional<int32_t> EUTypeFromXmlName(std::string_view name);
// Server status code of a serverState value: running 1 .. commFault 6, else 0.
int32_t ServerStateFromXml(xmlda::serverState state);
// Error code of a ResultID, any namespace prefix ("opc:E_READONLY") removed first: "" 0
// (success), a name of the result table its code, another "S_" name 1 (success with a note),
// any other name E_FAIL: a result the client cannot name is never taken for success.
int32_t ResultCodeFromID(std::string_view resultID);
// True when the result table does not know the ResultID (prefix removed); "" is known.
bool IsUnknownResultID(std::string_view resultID);
// The words of a ResultID for a report: the server's text for it from the reply's Errors when
// it sent one; for a name the table does not know, that name before it ("E_FOO: its text", or
// "E_FOO" alone); "" for a known name without a text (the table words it).
std::string ResultDetail(std::string_view resultID, const xmlda::OPCErrors& errors);
// The request identifier of a combined item ID, split at the first "//" (SplitItemID).
std::unique_ptr<xmlda::ItemIdentifier> ItemIdentifierOf(std::string_view itemID);
// Text of an error code: the toolkit's message, else "unknown errorcode: " + signed decimal.
std::string XmlDaErrorString(int32_t code);
// Variant type code of an XML Schema type name in a dataType property value: the strict
// table, else a decimal type code, else the lenient answer.
int32_t DataTypeFromXmlName(std::string_view name);
// One property of a GetProperties or Browse reply as the toolkit's property object (ID from
// the name; for a name the table does not know, from a number ending the property's ItemName,
// then from the description; description, value and data type by ID); a value that cannot be read
// or converted leaves the property with error 0xC004100A and the reason in its ErrorDetail.
TVelqorItemProperty PropertyFromReply(const xmlda::ItemProperty& property);

// The toolkit's code for an XML-DA property value of the wrong type ("E_INVALIDDATATYPE").
inline constexpr int32_t kXmlDaInvalidDataType = int32_t(0xC004100AU);

}  // namespace velqor
