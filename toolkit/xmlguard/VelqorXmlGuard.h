// A linear pre-scan of an XML document's markup, run before a DOM parser sees it.
//
// libxml2 compares each attribute of a start tag with every earlier one (duplicate check), so a
// single element with a few hundred thousand attributes costs minutes of CPU. The scan counts
// the attributes of every start tag in one pass and refuses the document as soon as one tag has
// more than the limit, or all tags together more than a budget that grows with the size. It knows
// comments, CDATA sections, processing instructions, declarations and quoted attribute values (a
// '>' inside quotes does not end a tag), reads UTF-8 and the other ASCII-compatible encodings,
// UTF-16 and UCS-4 in either byte order, and refuses documents whose declared encoding could hide
// markup from it (EBCDIC, UTF-7, ISO-2022 and the like).
//
// Dependency-free on purpose: the client's DOM loader and the simulation service's request
// parser both use it, while each keeps its own XML reading.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velqor::xmlguard {

// Far above what any OPC XML-DA element carries (a dozen or so).
inline constexpr std::size_t kMaxAttributesPerElement = 1000;
// The parser's cost grows with the square of an element's attribute count, so many elements
// each just under the limit add up: the sum over all elements of n * (n - 1) / 2 may not
// exceed this base plus this many per byte of the document. An OPC XML-DA message stays below
// one pair per byte; the bound keeps the extra parsing time linear in the document's size.
inline constexpr std::size_t kAttributePairsBase = 1'000'000;
inline constexpr std::size_t kAttributePairsPerByte = 2;

enum class TRefusal { None, TooManyAttributes, DocumentType, Encoding };

struct TScanResult {
    bool ok = true;
    TRefusal kind = TRefusal::None;
    std::size_t offset = 0;  // byte offset of the refused start tag or declaration
    std::string reason;      // e.g. "too many attributes on one element (more than 1000)"
};

// Scans the whole document; linear in its size, no allocation on the good path.
TScanResult ScanMarkup(std::string_view bytes,
                       std::size_t maxAttributesPerElement = kMaxAttributesPerElement);

}  // namespace velqor::xmlguard
