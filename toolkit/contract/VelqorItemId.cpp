#include "contract/VelqorItemId.h"

#include <cstdio>

#include "contract/VelqorTexts.h"

namespace velqor {

std::string ItemIdProblem(std::string_view text) {
    if (text.size() > kMaxItemIdBytes)
        return "it is longer than " + std::to_string(kMaxItemIdBytes) + " bytes";
    char buf[64];
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        // XML 1.0 has no way to write C0 controls other than TAB, LF and CR.
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            std::snprintf(buf, sizeof buf, "it holds the control character U+%04X", unsigned(c));
            return buf;
        }
        const size_t len = Utf8Length(text, i);
        if (len == 0) {
            std::snprintf(buf, sizeof buf, "it is not valid UTF-8 (byte 0x%02X at offset %zu)",
                          unsigned(c), i);
            return buf;
        }
        // U+FFFE and U+FFFF are not characters (EF BF BE, EF BF BF).
        if (len == 3 && c == 0xEF && uint8_t(text[i + 1]) == 0xBF && uint8_t(text[i + 2]) >= 0xBE)
            return "it holds the non-character U+FFF" +
                   std::string(uint8_t(text[i + 2]) == 0xBE ? "E" : "F");
        i += len;
    }
    return {};
}

}  // namespace velqor
