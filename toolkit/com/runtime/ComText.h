// UTF-8 (the toolkit's text) to and from UTF-16 (COM's OLECHAR text). Malformed input becomes
// U+FFFD rather than being dropped or cut short.
#pragma once

#include <string>
#include <string_view>

namespace velqor::com {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
// A zero-terminated UTF-16 text (null reads as empty).
std::string Utf16ToUtf8(const char16_t* text);

// The character type of COM's texts (OLECHAR): char16_t here, wchar_t on Windows, of the same
// width and encoding there. AsOle and AsUtf16 view one as the other without copying.
#ifdef _WIN32
using OleChar = wchar_t;
inline std::string Utf16ToUtf8(const wchar_t* text) {
    return Utf16ToUtf8(reinterpret_cast<const char16_t*>(text));
}
#else
using OleChar = char16_t;
#endif
static_assert(sizeof(OleChar) == sizeof(char16_t));
inline OleChar* AsOle(char16_t* text) { return reinterpret_cast<OleChar*>(text); }
inline const OleChar* AsOle(const char16_t* text) { return reinterpret_cast<const OleChar*>(text); }
inline char16_t* AsUtf16(OleChar* text) { return reinterpret_cast<char16_t*>(text); }
inline const char16_t* AsUtf16(const OleChar* text) {
    return reinterpret_cast<const char16_t*>(text);
}

}  // namespace velqor::com
