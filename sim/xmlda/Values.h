// Typed values of the simulation service: the XML Schema kinds an OPC XML-DA 1.0 item can carry,
// their wire texts and the conversions between them (for ReqType and for writes).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace velqor::xmldasim {

enum class Kind {
    Byte,
    UnsignedByte,
    Short,
    UnsignedShort,
    Int,
    UnsignedInt,
    Long,
    UnsignedLong,
    Float,
    Double,
    Decimal,
    String,
    Boolean,
    DateTime,
    Base64Binary,
    AnyType,
};

// A value's type: one kind, or an array of it (ArrayOfInt, ...). base64Binary is a scalar.
struct DataType {
    Kind kind = Kind::AnyType;
    bool array = false;
    bool operator==(const DataType&) const = default;
};

using Clock = std::chrono::system_clock;
using TimePoint = std::chrono::time_point<Clock, std::chrono::milliseconds>;

using Bytes = std::vector<std::uint8_t>;
struct DateTimeValue {
    TimePoint at;
    bool operator==(const DateTimeValue&) const = default;
};

// Signed kinds hold int64, unsigned kinds uint64, float/double/decimal double.
using Scalar =
    std::variant<std::int64_t, std::uint64_t, double, bool, std::string, Bytes, DateTimeValue>;

struct Value {
    DataType type;
    std::vector<Scalar> elems;  // exactly one for a scalar type
    bool operator==(const Value&) const = default;
};

// Wire type names. typeName gives the local name ("int", "ArrayOfInt"); xsdQName the form used as
// a dataType property or xsi:type ("xsd:int", or "ArrayOfInt" qualified by the caller's prefix).
std::string kindName(Kind k);
std::string typeLocalName(DataType t);
bool isXsdType(DataType t);  // scalars live in the XML Schema namespace, arrays in the OPC one
std::optional<DataType> typeFromName(std::string_view qnameOrLocal);
// The element name of one array entry ("int" for ArrayOfInt).
std::string arrayElementName(Kind k);

// Texts of scalars as XML Schema writes them.
std::string scalarText(Kind k, const Scalar& s);
std::string formatDateTime(TimePoint t);
std::optional<TimePoint> parseDateTime(std::string_view text);
std::string base64Encode(const Bytes& b);
std::optional<Bytes> base64Decode(std::string_view text);

// Parses a wire text as the given scalar kind; nullopt when the text is not of that kind or out of
// its range (rangeError tells the two apart).
std::optional<Scalar> parseScalar(Kind k, std::string_view text, bool* rangeError = nullptr);

// Conversion between types. resultId is empty on success, else "E_BADTYPE" or "E_RANGE".
struct Converted {
    Value value;
    std::string resultId;
};
Converted convert(const Value& v, DataType target);

// A number for deadband tests: the first element as double; nullopt for non-numeric kinds.
std::optional<double> numericOf(const Value& v);
bool isNumeric(Kind k);

}  // namespace velqor::xmldasim
