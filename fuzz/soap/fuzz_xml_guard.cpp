// The markup pre-scan on arbitrary bytes: it must never crash, its verdict must not loosen as
// the limit tightens, and a document it passes must not hold a start tag over the limit as the
// parser sees it.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdlib>
#include <string_view>

#include "xmlguard/VelqorXmlGuard.h"

namespace {

// Largest attribute count (namespace declarations included) on any element of the tree.
std::size_t MostAttributes(const xmlNode* n) {
    std::size_t most = 0;
    for (; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        std::size_t k = 0;
        for (const xmlAttr* a = n->properties; a; a = a->next) ++k;
        for (const xmlNs* ns = n->nsDef; ns; ns = ns->next) ++k;
        if (k > most) most = k;
        const std::size_t below = MostAttributes(n->children);
        if (below > most) most = below;
    }
    return most;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    constexpr std::size_t kLimit = 4;
    const auto tight = velqor::xmlguard::ScanMarkup(bytes, kLimit);
    const auto loose = velqor::xmlguard::ScanMarkup(bytes, kLimit + 1);
    if (tight.ok && !loose.ok) std::abort();
    if (!tight.ok || size > 4096) return 0;
    xmlDoc* doc = xmlReadMemory(bytes.data(), int(size), "fuzz.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return 0;
    if (MostAttributes(xmlDocGetRootElement(doc)) > kLimit) std::abort();
    xmlFreeDoc(doc);
    return 0;
}
