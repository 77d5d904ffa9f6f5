#include "contract/VelqorMask.h"

#include <string>

namespace velqor {

namespace {

std::u32string CodePoints(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        int len = b < 0x80           ? 1
                  : (b >> 5) == 0x6  ? 2
                  : (b >> 4) == 0xE  ? 3
                  : (b >> 3) == 0x1E ? 4
                                     : 0;
        char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = len > 0 && i + size_t(len) <= s.size();
        for (int k = 1; ok && k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + size_t(k)]);
            if ((c & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!ok) {  // a stray byte stands for itself
            out.push_back(b);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += size_t(len);
    }
    return out;
}

char32_t Fold(char32_t c) { return c >= U'A' && c <= U'Z' ? c + (U'a' - U'A') : c; }

// Whether the token at mask[p] (not '*') matches c; len receives the token's length.
bool TokenMatches(const std::u32string& mask, size_t p, char32_t c, size_t& len) {
    if (mask[p] == U'?') {
        len = 1;
        return true;
    }
    if (mask[p] == U'[') {
        size_t close = mask.find(U']', p + 2);  // "[]...]" keeps a leading ']' in the set
        if (close != std::u32string::npos) {
            size_t i = p + 1;
            const bool negate = mask[i] == U'!';
            if (negate) ++i;
            if (i == close) close = mask.find(U']', close + 1);  // "[!]...]"
            if (close != std::u32string::npos) {
                len = close - p + 1;
                const char32_t f = Fold(c);
                bool in = false;
                for (; i < close; ++i) {
                    if (i + 2 < close && mask[i + 1] == U'-') {
                        char32_t lo = Fold(mask[i]), hi = Fold(mask[i + 2]);
                        if ((f >= lo && f <= hi) || (c >= mask[i] && c <= mask[i + 2])) in = true;
                        i += 2;
                    } else if (f == Fold(mask[i])) {
                        in = true;
                    }
                }
                return in != negate;
            }
        }
    }
    len = 1;
    return Fold(mask[p]) == Fold(c);
}

}  // namespace

bool MatchesMask(std::string_view textUtf8, std::string_view maskUtf8) {
    const std::u32string text = CodePoints(textUtf8), mask = CodePoints(maskUtf8);
    // Greedy matching that backs up to the last star: linear in practice, never exponential.
    size_t t = 0, p = 0, starP = std::u32string::npos, starT = 0;
    while (t < text.size()) {
        if (p < mask.size() && mask[p] == U'*') {
            starP = p++;
            starT = t;
            continue;
        }
        size_t len = 0;
        if (p < mask.size() && TokenMatches(mask, p, text[t], len)) {
            p += len;
            ++t;
        } else if (starP != std::u32string::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < mask.size() && mask[p] == U'*') ++p;
    return p == mask.size();
}

}  // namespace velqor
