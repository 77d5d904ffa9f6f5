#include "xmlguard/VelqorXmlGuard.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace velqor::xmlguard {

namespace {

// The document as a sequence of code units of one width and byte order, as libxml2 detects
// them from the first bytes. Markup characters are ASCII, so a unit is compared by value. The
// width and order are fixed at compile time, so the common 8-bit scan reads plain bytes.
template <int Width, bool BigEndian>
class Units {
  public:
    Units(std::string_view bytes, std::size_t start)
        : p_(reinterpret_cast<const unsigned char*>(bytes.data()) + start),
          n_((bytes.size() - start) / std::size_t(Width)),
          start_(start) {}

    std::size_t size() const { return n_; }
    std::size_t ByteOffset(std::size_t i) const { return start_ + i * std::size_t(Width); }

    uint32_t operator[](std::size_t i) const {
        const unsigned char* u = p_ + i * std::size_t(Width);
        uint32_t v = 0;
        for (int k = 0; k < Width; ++k) v = (v << 8) | u[BigEndian ? k : Width - 1 - k];
        return v;
    }

    // The index of the next unit c at or after i; size() when absent.
    std::size_t Find(std::size_t i, unsigned char c) const {
        if constexpr (Width == 1) {
            if (i >= n_) return n_;
            const void* hit = std::memchr(p_ + i, c, n_ - i);
            return hit ? std::size_t(static_cast<const unsigned char*>(hit) - p_) : n_;
        } else {
            for (; i < n_; ++i)
                if ((*this)[i] == c) return i;
            return n_;
        }
    }

    // The index of the next unit at or after i that matters inside a start tag ('>', '=' or a
    // quote); size() when none.
    std::size_t FindInTag(std::size_t i) const {
        if constexpr (Width == 1) {
            static constexpr auto kInTag = [] {
                std::array<bool, 256> t{};
                t['>'] = t['='] = t['"'] = t['\''] = true;
                return t;
            }();
            while (i < n_ && !kInTag[p_[i]]) ++i;
            return i;
        } else {
            for (; i < n_; ++i) {
                const uint32_t c = (*this)[i];
                if (c == '>' || c == '=' || c == '"' || c == '\'') return i;
            }
            return n_;
        }
    }

    bool Match(std::size_t i, std::string_view ascii) const {
        if (i + ascii.size() > n_) return false;
        for (std::size_t k = 0; k < ascii.size(); ++k)
            if ((*this)[i + k] != static_cast<unsigned char>(ascii[k])) return false;
        return true;
    }

    // The index just past the next occurrence of ascii at or after i; size() when absent.
    std::size_t After(std::size_t i, std::string_view ascii) const {
        for (i = Find(i, static_cast<unsigned char>(ascii[0])); i < n_;
             i = Find(i + 1, static_cast<unsigned char>(ascii[0])))
            if (Match(i, ascii)) return i + ascii.size();
        return n_;
    }

  private:
    const unsigned char* p_;
    std::size_t n_;
    std::size_t start_;
};

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t k = 0; k < prefix.size(); ++k) {
        char c = s[k];
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if (c != prefix[k]) return false;
    }
    return true;
}

// Encodings in which every ASCII markup byte stands for itself and no multi-byte sequence
// contains one, so a byte scan sees what the parser sees.
bool MarkupTransparent(std::string_view name) {
    static constexpr std::string_view kPrefixes[] = {
        "UTF-8", "UTF8",   "US-ASCII",  "ASCII", "ISO-8859-", "ISO8859",    "ISO_8859", "LATIN",
        "CP125", "KOI8",   "SHIFT_JIS", "SJIS",  "EUC-",      "GB2312",     "GBK",      "GB18030",
        "BIG5",  "UTF-16", "UTF16",     "UCS-2", "UCS2",      "WINDOWS-125"};
    for (std::string_view p : kPrefixes)
        if (StartsWithNoCase(name, p)) return true;
    return false;
}

// The encoding name of an XML declaration at the start (8-bit units), or "" without one.
std::string DeclaredEncoding(const Units<1, false>& u) {
    if (!u.Match(0, "<?xml")) return {};
    const std::size_t end = u.After(0, "?>");
    std::size_t i = 5;
    for (; i + 8 <= end; ++i)
        if (u.Match(i, "encoding")) break;
    if (i + 8 > end) return {};
    i += 8;
    while (i < end && (u[i] == ' ' || u[i] == '\t' || u[i] == '\r' || u[i] == '\n' || u[i] == '='))
        ++i;
    if (i >= end || (u[i] != '"' && u[i] != '\'')) return {};
    const uint32_t quote = u[i++];
    std::string name;
    for (; i < end && u[i] != quote && name.size() < 64; ++i) name += char(u[i]);
    return name;
}

TScanResult Refuse(TRefusal kind, std::size_t offset, std::string reason) {
    return TScanResult{false, kind, offset, std::move(reason)};
}
// Counts the attributes of every start tag of the document in units u (see ScanMarkup).
template <class U>
TScanResult ScanUnits(const U& u, std::size_t byteSize, std::size_t maxAttributes) {
    const std::size_t n = u.size();
    const std::size_t pairBudget = kAttributePairsBase + kAttributePairsPerByte * byteSize;
    std::size_t pairs = 0;
    std::size_t i = 0;
    while (i < n) {
        i = u.Find(i, '<');
        if (i >= n) break;
        const std::size_t tag = i;
        if (u.Match(i, "<!--")) {
            i = u.After(i + 4, "-->");
        } else if (u.Match(i, "<![CDATA[")) {
            i = u.After(i + 9, "]]>");
        } else if (u.Match(i, "<?")) {
            i = u.After(i + 2, "?>");
        } else if (u.Match(i, "<!DOCTYPE")) {
            return Refuse(TRefusal::DocumentType, u.ByteOffset(tag),
                          "document type declarations are not accepted");
        } else if (u.Match(i, "<!") || u.Match(i, "</")) {
            i = u.After(i + 2, ">");
        } else {
            // A start tag: every '=' outside a quoted value belongs to one attribute.
            std::size_t count = 0;
            for (i = u.FindInTag(i + 1); i < n; i = u.FindInTag(i)) {
                const uint32_t c = u[i];
                if (c == '>') {
                    ++i;
                    break;
                }
                if (c == '"' || c == '\'') {
                    i = u.Find(i + 1, static_cast<unsigned char>(c));
                    if (i < n) ++i;
                    continue;
                }
                if (c == '=' && ++count > maxAttributes)
                    return Refuse(TRefusal::TooManyAttributes, u.ByteOffset(tag),
                                  "too many attributes on one element (more than " +
                                      std::to_string(maxAttributes) + ")");
                ++i;
            }
            if (count > 1) pairs += count * (count - 1) / 2;
            if (pairs > pairBudget)
                return Refuse(TRefusal::TooManyAttributes, u.ByteOffset(tag),
                              "too many attributes on the document's elements for its size");
        }
    }
    return {};
}

}  // namespace

TScanResult ScanMarkup(std::string_view bytes, std::size_t maxAttributes) {
    const auto b = [&](std::size_t i) -> int {
        return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : -1;
    };
    // Byte order marks and the first-character patterns libxml2 recognises.
    std::size_t start = 0;
    int width = 1;
    bool bigEndian = false;
    if (b(0) == 0x00 && b(1) == 0x00 && b(2) == 0x00 && b(3) == 0x3C) {
        width = 4, bigEndian = true;
    } else if (b(0) == 0x3C && b(1) == 0x00 && b(2) == 0x00 && b(3) == 0x00) {
        width = 4;
    } else if ((b(0) == 0x00 && b(1) == 0x00 && b(2) == 0x3C && b(3) == 0x00) ||
               (b(0) == 0x00 && b(1) == 0x3C && b(2) == 0x00 && b(3) == 0x00) ||
               (b(0) == 0x4C && b(1) == 0x6F && b(2) == 0xA7 && b(3) == 0x94)) {
        return Refuse(TRefusal::Encoding, 0, "the document's encoding is not accepted");
    } else if (b(0) == 0x00 && b(1) == 0x3C && b(2) == 0x00 && b(3) == 0x3F) {
        width = 2, bigEndian = true;
    } else if (b(0) == 0x3C && b(1) == 0x00 && b(2) == 0x3F && b(3) == 0x00) {
        width = 2;
    } else if (b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) {
        start = 3;
    } else if (b(0) == 0xFE && b(1) == 0xFF) {
        start = 2, width = 2, bigEndian = true;
    } else if (b(0) == 0xFF && b(1) == 0xFE) {
        start = 2, width = 2;
    }
    if (width == 2)
        return bigEndian ? ScanUnits(Units<2, true>(bytes, start), bytes.size(), maxAttributes)
                         : ScanUnits(Units<2, false>(bytes, start), bytes.size(), maxAttributes);
    if (width == 4)
        return bigEndian ? ScanUnits(Units<4, true>(bytes, start), bytes.size(), maxAttributes)
                         : ScanUnits(Units<4, false>(bytes, start), bytes.size(), maxAttributes);
    const Units<1, false> u(bytes, start);
    const std::string declared = DeclaredEncoding(u);
    if (!declared.empty() && !MarkupTransparent(declared))
        return Refuse(TRefusal::Encoding, 0,
                      "the document's encoding \"" + declared + "\" is not accepted");
    return ScanUnits(u, bytes.size(), maxAttributes);
}

}  // namespace velqor::xmlguard
