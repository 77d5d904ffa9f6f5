// XML Schema value encodings of the SOAP layer: type names and variant kinds both ways, variant
// to text, date-times, durations, numbers and base64.
//
// Every number is read and written with "." whatever the process locale. Date-times are
// toolkit date-times (local days since 1899-12-30); the local offset is read afresh at each
// conversion.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "contract/Variant.h"
#include "contract/VelqorDateTime.h"
#include "contract/VelqorError.h"
#include "runtime/VarType.h"

namespace velqor {

inline constexpr std::string_view kSoapEnvelopeNamespace =
    "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr std::string_view kSoap12EnvelopeNamespace =
    "http://www.w3.org/2003/05/soap-envelope";
inline constexpr std::string_view kXsdNamespace = "http://www.w3.org/2001/XMLSchema";
inline constexpr std::string_view kXsiNamespace = "http://www.w3.org/2001/XMLSchema-instance";
// Older toolkits still write the 1999 instance namespace; the reader accepts both.
inline constexpr std::string_view kXsi1999Namespace = "http://www.w3.org/1999/XMLSchema-instance";
inline constexpr std::string_view kXsdPrefix = "xsd";

// Kind code returned for a type name that is not known (in the strict mode).
inline constexpr VARTYPE kUnknownXSDType = 13;

// Type name ("xsd:int", "ArrayOfInt", "base64Binary") to kind; unknown names give VT_BSTR
// when unknownIsString, else kUnknownXSDType.
VARTYPE XSDTypeToVarType(std::string_view typeName, bool unknownIsString);
// Kind to type name, "xsd:"-prefixed when prefix is not empty (array names never are, except
// "base64Binary").
std::string VarTypeToXSDType(std::string_view prefix, VARTYPE vt);
std::string VariantXSDTypeName(const Variant& v);
std::string VariantToXSDText(const Variant& v);

// Float texts: the shortest decimal that reads back to the same value, fixed between 1E-4 and
// 1E15, else "1.5E20"; the special values "INF", "-INF" and "NaN"; negative zero "-0".
std::string XSDFloatText(double v);
std::string XSDSingleText(float v);

std::string DateTimeToXSDDateTime(double dt, bool withOffset);
// Raises EVelqorDateTimeException for a text off its grammar or with fields out of range.
double XSDDateTimeToDateTime(std::string_view text);

struct XSDDuration {
    int Days = 0, Hours = 0, Minutes = 0, Seconds = 0, Milliseconds = 0;
};
std::string EncodeXSDDuration(int days, int hours, int minutes, int seconds, int milliseconds);
std::string SecondsToXSDDuration(double seconds);
XSDDuration DecodeXSDDuration(std::string_view text);
double XSDDurationToSeconds(std::string_view text);

// Conversion errors of number texts are EVariantError with the text quoted.
double XSDToFloat(std::string_view text);
int64_t XSDToDecimal(std::string_view text);    // currency, scaled by 10000
uint32_t XSDToCardinal(std::string_view text);  // plain error "cardinal convert error"
int32_t XSDToInteger(std::string_view text);    // 32-bit signed decimal

std::string Base64Encode(std::string_view bytes);
std::string Base64Decode(std::string_view text);
void Base64Encode(std::istream& in, std::ostream& out);
void Base64Decode(std::istream& in, std::ostream& out);

std::string_view StripNamespacePrefix(std::string_view qname);
std::string AddNamespacePrefix(std::string_view prefix, std::string_view name);

// ASCII case-insensitive comparison, the one the reader uses for element names.
bool SameTextNoCase(std::string_view a, std::string_view b);
std::string_view TrimBlanks(std::string_view t);

}  // namespace velqor
