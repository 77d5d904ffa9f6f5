#include "xmlguard/VelqorXmlGuard.h"

#include <cstdint>

namespace velqor::xmlguard {

namespace {

// The document as a sequence of code units of one width and byte order, as libxml2 detects
// them from the first bytes. Markup characters are ASCII, so a unit is compared by value.
class Units {
  public:
    Units(std::string_view bytes, std::size_t start, int width, bool bigEndian)
        : p_(reinterpret_cast<const unsigned char*>(bytes.data()) + start),
          n_((bytes.size() - start) / std::size_t(width)),
          width_(width),
          bigEndian_(bigEndian),
          start_(start) {}

    std::size_t size() const { return n_; }
    std::size_t ByteOffset(std::size_t i) const { return start_ + i * std::size_t(width_); }

    uint32_t operator[](std::size_t i) const {
        const unsigned char* u = p_ + i * std::size_t(width_);
        uint32_t v = 0;
        for (int k = 0; k < width_; ++k) {
            const int b = bigEndian_ ? k : width_ - 1 - k;
            v = (v << 8) | u[b];
        }
        return v;
    }

    bool Match(std::size_t i, std::string_view ascii) const {
        if (i + ascii.size() > n_) return false;
        for (std::size_t k = 0; k < ascii.size(); ++k)
            if ((*this)[i + k] != static_cast<unsigned char>(ascii[k])) return false;
        return true;
    }

    // The index just past the next occurrence of ascii at or after i; size() when absent.
    std::size_t After(std::size_t i, std::string_view ascii) const {
        for (; i < n_; ++i)
            if ((*this)[i] == static_cast<unsigned char>(ascii[0]) && Match(i, ascii))
                return i + ascii.size();
        return n_;
    }

  private:
    const unsigned char* p_;
    std::size_t n_;
    int width_;
    bool bigEndian_;
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
std::string DeclaredEncoding(const Units& u) {
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
    const Units u(bytes, start, width, bigEndian);
    if (width == 1) {
        const std::string declared = DeclaredEncoding(u);
        if (!declared.empty() && !MarkupTransparent(declared))
            return Refuse(TRefusal::Encoding, 0,
                          "the document's encoding \"" + declared + "\" is not accepted");
    }

    const std::size_t n = u.size();
    const std::size_t pairBudget = kAttributePairsBase + kAttributePairsPerByte * bytes.size();
    std::size_t pairs = 0;
    std::size_t i = 0;
    while (i < n) {
        if (u[i] != '<') {
            ++i;
            continue;
        }
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
            for (++i; i < n;) {
                const uint32_t c = u[i];
                if (c == '>') {
                    ++i;
                    break;
                }
                if (c == '"' || c == '\'') {
                    const char q[2] = {char(c), 0};
                    i = u.After(i + 1, q);
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

}  // namespace velqor::xmlguard
