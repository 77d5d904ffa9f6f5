// Texts the programs share: data-type names, quality names, values from typed text, the
// escaping of CSV and JSON output and the data-change CSV row, so that the command line and
// the desktop program word and write things the same way.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Variant.h"

namespace velqor {

class TVelqorItemData;

// Length of the valid UTF-8 sequence at s[i] (i < s.size()), or 0.
size_t Utf8Length(std::string_view s, size_t i);

// Whether the text holds nothing but blanks and control characters (or nothing at all).
bool IsBlank(std::string_view text);

// A data type given as text: a variant type name with or without "VT_"/"vt" ("R8", "VT_R8",
// "vtR8"), an XML Schema name ("double", "xsd:double"), or its decimal number; a trailing "[]"
// or a leading "ARRAY|" asks for an array. Case is ignored. nullopt when unknown.
std::optional<int32_t> ParseVarType(std::string_view text);
// "R8", "BSTR", "I4[]", ...; the decimal number for a type without a name.
std::string VarTypeName(int32_t vt);

// The OPC quality as text: the quality name ("good", "badSensorFailure", ...) with the limit
// ("+low", "+high", "+constant") when set.
std::string QualityText(int32_t quality);
// "0xC0".
std::string QualityCode(int32_t quality);

// A typed value from text: converted to the variant type vt (a text as it is for VT_EMPTY);
// arrays from their elements separated by ";" ("1;2;3", a trailing ";" allowed); a truth value
// only from true, false, 1 or 0. Raises EVariantError when a text does not convert.
Variant ValueFromText(const std::string& text, int32_t vt);

// A JSON string literal (quotes included); control characters escaped, invalid UTF-8 replaced
// by U+FFFD so that every line stays valid JSON.
std::string JsonString(std::string_view text);
// A value as JSON: numbers (finite) as numbers, booleans as true/false, empty and null as null,
// dates as MachineDateText strings, arrays as JSON arrays of their elements, everything else
// (texts, infinities, NaN) as its text in a string.
std::string JsonValue(const Variant& value);
// A date-time for csv and jsonl: one fixed ISO 8601 form with milliseconds and the offset
// ("2026-01-01T00:00:00.000+01:00"); "" for 0 (no time).
std::string MachineDateText(double dt);
// A value's text for a csv field: arrays as their JSON array ("[1,2]", "[\"a;b\"]", "[]"),
// dates as MachineDateText, everything else in its standard text.
std::string CsvValueText(const Variant& value);
// A text for a terminal line: control characters (C0 with CR, LF and TAB, DEL, C1 such as
// U+009B) and the direction controls (U+202A..U+202E, U+2066..U+2069, U+200E, U+200F, U+061C)
// become escapes ("\r", "\x1b", "\u009b", "\u202e"), invalid UTF-8 bytes "\xNN"; the text
// then stays on its line and cannot steer the terminal.
std::string HumanText(std::string_view text);
// A CSV field (RFC 4180): quoted when it holds a comma, a quote, CR or LF, quotes doubled.
std::string CsvField(std::string_view text);

// Date texts of one layout, with the last two made kept: the values of one data change share
// the time they arrived and mostly their timestamp, and turning a local time into text is what
// a line of output costs most.
class TDateTexts {
  public:
    explicit TDateTexts(std::string (*format)(double) = MachineDateText) : format_(format) {}
    const std::string& Of(double dt);

  private:
    std::string (*format_)(double);
    double dates_[2] = {std::nan(""), std::nan("")};  // matches no date
    std::string texts_[2];
    int next_ = 0;
};

// The data-change log as CSV: its header line, and one line per change of an item (the time it
// was received, item, value, quality, quality code, the server's timestamp), each with "\n",
// appended to out. dates makes the machine date texts.
std::string DataChangeCsvHeader();
void AppendDataChangeCsvRow(std::string& out, double now, const TVelqorItemData& item,
                            TDateTexts& dates);

}  // namespace velqor
