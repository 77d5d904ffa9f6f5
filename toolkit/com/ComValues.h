// Values at the COM boundary: VARIANT to and from the toolkit's Variant, COM text to and from
// UTF-8, and FILETIME to and from local date-times. Uses only the platform's COM calls.
#pragma once

#include <string>
#include <string_view>

#include "com/runtime/ComPlatform.h"
#include "contract/Variant.h"

namespace velqor {

// The value a VARIANT holds (references followed). Kinds the toolkit cannot hold (interfaces,
// decimals, records, arrays of more than one dimension) raise EOleSysError DISP_E_BADVARTYPE.
// The VARIANT is only read; it stays the caller's.
Variant VariantFromOle(const VARIANT& value);
// Writes value into out (cleared first); the caller clears out when done. 8-bit strings become
// BSTRs. Raises EOleSysError when the runtime refuses memory.
void VariantToOle(const Variant& value, VARIANT& out);

// A new BSTR of the text; the caller frees it with SysFreeString.
BSTR AllocBstr(std::string_view utf8);
// A zero-terminated copy of the text in task memory (what servers return for strings); the
// receiver frees it with CoTaskMemFree.
LPWSTR AllocTaskString(std::string_view utf8);
// The text of a BSTR, all SysStringLen characters (embedded zeros included); null is empty.
std::string BstrToText(BSTR text);
// The text of a zero-terminated OLECHAR string; null is empty.
std::string OleStrToText(LPCOLESTR text);

// 0 when both halves are zero or the time is out of the date-time range.
double FileTimeToLocalDateTime(const FILETIME& fileTime);
// An all-zero FILETIME when the date-time is before 1601 or after 9999.
FILETIME LocalDateTimeToFileTime(double localDateTime);

}  // namespace velqor
