// The markup pre-scan that refuses documents too costly for the parser: what counts as an
// attribute, what hides markup from it (comments, CDATA, instructions, quoted values), the
// encodings it reads, and the DOM loader refusing many-attribute replies (one element far over
// the limit, or many just under it).
#include <gtest/gtest.h>

#include <string>

#include "soap/dom/VelqorDom.h"
#include "xmlguard/VelqorXmlGuard.h"

namespace {

using velqor::xmlguard::ScanMarkup;
using velqor::xmlguard::TRefusal;

// n attributes a0="v" ... on one element, optionally with extra text inside the tag.
std::string Attrs(int n, const std::string& value = "v") {
    std::string s;
    for (int i = 0; i < n; ++i) s += " a" + std::to_string(i) + "='" + value + "'";
    return s;
}

std::string Utf16(const std::string& ascii, bool bigEndian, bool bom) {
    std::string out;
    if (bom) out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) {
        if (bigEndian) out += '\0';
        out += c;
        if (!bigEndian) out += '\0';
    }
    return out;
}

std::string Ucs4(const std::string& ascii, bool bigEndian) {
    std::string out;
    for (char c : ascii) out += bigEndian ? std::string(3, '\0') + c : c + std::string(3, '\0');
    return out;
}

TEST(XmlGuard, CountsAttributesPerStartTagOnly) {
    const std::string over = "<r" + Attrs(4) + "/>";
    struct Case {
        const char* what;
        std::string doc;
        TRefusal kind;
    };
    const Case cases[] = {
        {"at the limit", "<r" + Attrs(3) + "><s" + Attrs(3) + "/></r>", TRefusal::None},
        {"one over", "<r" + Attrs(4) + "/>", TRefusal::TooManyAttributes},
        {"'=' inside values", "<r a='====' b=\"=>=\" c='x'/>", TRefusal::None},
        {"'>' inside a value does not end the tag", "<r a='>'" + Attrs(3) + "/>",
         TRefusal::TooManyAttributes},
        {"in a comment", "<r><!-- " + over + " --></r>", TRefusal::None},
        {"in CDATA", "<r><![CDATA[" + over + "]]></r>", TRefusal::None},
        {"in an instruction", "<?pi " + over + " ?><r/>", TRefusal::None},
        {"after a comment with quotes", "<r><!-- it's --><s" + Attrs(4) + "/></r>",
         TRefusal::TooManyAttributes},
        {"namespace declarations count", "<r xmlns='u' xmlns:a='v'" + Attrs(2) + "/>",
         TRefusal::TooManyAttributes},
        {"UTF-16LE without mark", Utf16("<?xml version='1.0'?>" + over, false, false),
         TRefusal::TooManyAttributes},
        {"UTF-16BE with mark", Utf16(over, true, true), TRefusal::TooManyAttributes},
        {"UTF-16 value U+3D3C ('=<' bytes) is no markup",
         Utf16("<?xml version='1.0'?><r a='", false, false) + std::string("\x3C\x3D", 2) +
             Utf16("'/>", false, false),
         TRefusal::None},
        {"ISO-8859-1 declared", "<?xml version='1.0' encoding='ISO-8859-1'?>" + over,
         TRefusal::TooManyAttributes},
        {"UTF-7 could hide markup", "<?xml version='1.0' encoding='UTF-7'?><r/>",
         TRefusal::Encoding},
        {"EBCDIC", std::string("\x4C\x6F\xA7\x94\x93\x40", 6), TRefusal::Encoding},
        {"document type", "<!DOCTYPE r><r/>", TRefusal::DocumentType},
        {"unterminated tag is left to the parser", "<r" + Attrs(3), TRefusal::None},
        {"unterminated value is left to the parser", "<r a='" + over, TRefusal::None},
        {"comment ends only at '-->'", "<r><!-- - -- ->" + over + " ---></r>", TRefusal::None},
        {"a tag right after a long text", std::string(5000, 'x') + over,
         TRefusal::TooManyAttributes},
        {"a value's other quote does not end it", "<r a=\"'>'\"" + Attrs(3) + "/>",
         TRefusal::TooManyAttributes},
        {"UCS-4LE", Ucs4(over, false), TRefusal::TooManyAttributes},
        {"UCS-4BE at the limit", Ucs4("<r" + Attrs(3) + "/>", true), TRefusal::None},
        {"UCS-4BE over", Ucs4("<r a='>'" + Attrs(3) + "/>", true), TRefusal::TooManyAttributes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto r = ScanMarkup(c.doc, 3);
        EXPECT_EQ(r.ok, c.kind == TRefusal::None);
        EXPECT_EQ(r.kind, c.kind) << r.reason;
    }
}

TEST(XmlGuard, TheDomRefusesAManyAttributeReplyBeforeParsing) {
    // About 2.2 MB with 200,000 attributes on one element: minutes inside libxml2 unguarded.
    const std::string reply =
        "<soap:Envelope xmlns:soap='http://schemas.xmlsoap.org/soap/envelope/'><soap:Body>"
        "<ReadResponse" +
        Attrs(200000, "0") + "/></soap:Body></soap:Envelope>";
    ASSERT_GT(reply.size(), 2'000'000u);
    try {
        velqor::dom::XmlDocument::Load(reply);
        FAIL() << "loaded";
    } catch (const velqor::dom::EXmlParseError& e) {
        EXPECT_NE(std::string(e.what()).find("too many attributes on one element"),
                  std::string::npos)
            << e.what();
    }
    // Elements each just under the limit: the parser's cost adds up, the budget refuses them.
    std::string under = "<r>";
    for (int i = 0; i < 200; ++i) under += "<e" + Attrs(1000, "0") + "/>";
    under += "</r>";
    try {
        velqor::dom::XmlDocument::Load(under);
        FAIL() << "loaded";
    } catch (const velqor::dom::EXmlParseError& e) {
        EXPECT_NE(std::string(e.what()).find("too many attributes"), std::string::npos) << e.what();
    }
    // An ordinary document with many elements of a few attributes each still loads.
    std::string many = "<r>";
    for (int i = 0; i < 20000; ++i) many += "<i" + Attrs(12) + "/>";
    many += "</r>";
    EXPECT_EQ(velqor::dom::XmlDocument::Load(many).DocumentElement().ElementChildCount(), 20000u);
}

}  // namespace
