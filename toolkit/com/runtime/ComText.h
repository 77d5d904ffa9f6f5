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
#ifdef _WIN32
// The platform's OLECHAR is wchar_t there, of the same width and encoding.
inline std::string Utf16ToUtf8(const wchar_t* text) {
    return Utf16ToUtf8(reinterpret_cast<const char16_t*>(text));
}
#endif

}  // namespace velqor::com
