// The DOM over libxml2: building, saving, loading with encoding detection, and refusing what
// is unsafe or not well-formed.
#include <gtest/gtest.h>

#include "soap/dom/VelqorDom.h"
#include "soap/dom/VelqorXmlEvents.h"

using velqor::Exception;
using velqor::dom::EXmlParseError;
using velqor::dom::NodeType;
using velqor::dom::XmlDocument;
using velqor::dom::XmlNode;

namespace {

std::string LoadError(const std::string& xml, int* line = nullptr, int* column = nullptr) {
    try {
        XmlDocument::Load(xml);
    } catch (const EXmlParseError& e) {
        if (line) *line = e.Line();
        if (column) *column = e.Column();
        return e.what();
    }
    return "loaded";
}

}  // namespace

TEST(Dom, BuildsNamespacesWithoutGeneratedPrefixes) {
    XmlDocument doc;
    XmlNode env = doc.CreateDocumentElement("s:Envelope", "urn:soap");
    env.DeclareNamespace("x", "urn:x");
    XmlNode body = env.AddElement("s:Body", "urn:soap");
    XmlNode method = body.AddElement("Call", "urn:m");
    XmlNode child = method.AddElement("Arg", "urn:m");    // same default: no new declaration
    XmlNode plain = method.AddElement("Other", "");       // takes the default in scope
    XmlNode foreign = method.AddElement("Far", "urn:f");  // a default of its own
    child.SetText("a<b&c");
    child.SetAttribute("n", "\"q\" & <");
    plain.SetAttributeNS("xsi", "http://www.w3.org/2001/XMLSchema-instance", "nil", "true");
    foreign.SetAttributeNS("x", "urn:x", "k", "v");  // the prefix in scope serves
    EXPECT_EQ(doc.Save(),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
              "<s:Envelope xmlns:s=\"urn:soap\" xmlns:x=\"urn:x\"><s:Body><Call xmlns=\"urn:m\">"
              "<Arg n=\"&quot;q&quot; &amp; &lt;\">a&lt;b&amp;c</Arg>"
              "<Other xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:nil=\"true\"/>"
              "<Far xmlns=\"urn:f\" x:k=\"v\"/></Call></s:Body></s:Envelope>\n");
    EXPECT_EQ(child.NamespaceURI(), "urn:m");
    EXPECT_EQ(plain.NamespaceURI(), "urn:m");
    EXPECT_EQ(body.Name(), "s:Body");
    EXPECT_EQ(body.LocalName(), "Body");
    child.SetText("");
    EXPECT_FALSE(child.HasChildNodes());
}

TEST(Dom, RefusesCharactersXmlCannotCarry) {
    // A control character would make the document malformed and a NUL would cut a value
    // short: both are refused with a clear error; tab, line feed and carriage return pass.
    XmlDocument doc;
    XmlNode el = doc.CreateDocumentElement("Value", "urn:m");
    EXPECT_THROW(el.SetText(std::string("a\x01b")), Exception);
    EXPECT_THROW(el.SetAttribute("n", std::string("a\0b", 3)), Exception);
    EXPECT_THROW(el.SetAttributeNS("x", "urn:x", "k", "\x1f"), Exception);
    try {
        el.SetText("bell\x07");
    } catch (const Exception& e) {
        EXPECT_NE(std::string(e.what()).find("U+0007"), std::string::npos) << e.what();
    }
    el.SetText("tab\tline\ncr\r");
    EXPECT_EQ(XmlDocument::Load(doc.Save()).DocumentElement().Text(), "tab\tline\ncr\r");
}

TEST(Dom, ReadsNodesAttributesAndText) {
    XmlDocument doc = XmlDocument::Load(
        "<r xmlns:p=\"urn:p\"><a k=\"1\" "
        "p:k=\"2\">x<!--c-->y</a><p:b/>text<c>&lt;&amp;&#65;</c></r>");
    XmlNode r = doc.DocumentElement();
    ASSERT_TRUE(r);
    EXPECT_EQ(r.ChildCount(), 4u);
    EXPECT_EQ(r.ElementChildCount(), 3u);
    XmlNode a = r.Child(0);
    EXPECT_EQ(a.Attribute("k"), "1");
    EXPECT_EQ(a.AttributeNS("k", "urn:p"), "2");
    EXPECT_EQ(a.AttributeNS("k", "urn:q"), "");
    EXPECT_FALSE(a.HasAttribute("K"));
    EXPECT_EQ(a.Text(), "xy") << "the texts of all descendants";
    EXPECT_EQ(r.Child(1).Name(), "p:b");
    EXPECT_EQ(r.Child(1).NamespaceURI(), "urn:p");
    EXPECT_EQ(r.Child(2).Type(), NodeType::Text);
    EXPECT_EQ(r.Child(2).LocalName(), "");
    EXPECT_FALSE(r.Child(2).IsElement());
    EXPECT_EQ(r.Child(3).Text(), "<&A");
    EXPECT_FALSE(r.Child(4));
}

TEST(Dom, DetectsTheEncoding) {
    // UTF-16 big-endian with a byte order mark and no declaration.
    std::string be = "\xFE\xFF";
    for (char c : std::string("<r>\x01</r>")) {
        be += '\0';
        be += c == '\x01' ? '\0' : c;
        if (c == '\x01') be.back() = char(0xE9);  // é
    }
    EXPECT_EQ(XmlDocument::Load(be).DocumentElement().Text(), "é");
    EXPECT_EQ(XmlDocument::Load("<?xml version=\"1.0\" encoding=\"windows-1252\"?><r>\x80</r>")
                  .DocumentElement()
                  .Text(),
              "€");
    EXPECT_EQ(XmlDocument::Load("\xEF\xBB\xBF<r>\xC3\xA9</r>").DocumentElement().Text(), "é");
}

TEST(Dom, MalformedInputNamesLineAndColumn) {
    int line = 0, column = 0;
    std::string msg = LoadError("<r>\n  <a></b>\n</r>", &line, &column);
    EXPECT_EQ(line, 2);
    EXPECT_GT(column, 0);
    EXPECT_NE(msg.find("line 2"), std::string::npos) << msg;
    EXPECT_NE(msg.find("column"), std::string::npos) << msg;
    EXPECT_NE(LoadError(""), "loaded");
    EXPECT_NE(LoadError("<r>"), "loaded");
    EXPECT_NE(LoadError("<r>&undefined;</r>"), "loaded");
    EXPECT_NE(LoadError("<r a='1' a='2'/>"), "loaded");
    EXPECT_NE(LoadError(std::string("<r>\xC3</r>")), "loaded") << "broken UTF-8";
}

TEST(Dom, RefusesDocumentTypesAndEntities) {
    // Billion laughs: refused before any entity is declared.
    std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
    for (int i = 1; i < 10; ++i)
        bomb += "<!ENTITY lol" + std::to_string(i) + " \"" + std::string(10, '&') + "\">";
    bomb += "]><lolz>&lol9;</lolz>";
    EXPECT_NE(LoadError(bomb).find("document type declaration"), std::string::npos);
    // External entity and external DTD: never fetched.
    EXPECT_NE(LoadError("<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><r>&x;</r>")
                  .find("document type"),
              std::string::npos);
    EXPECT_NE(
        LoadError("<!DOCTYPE r SYSTEM \"http://127.0.0.1:9/x.dtd\"><r/>").find("document type"),
        std::string::npos);
    // XInclude is not processed.
    XmlDocument doc = XmlDocument::Load(
        "<r xmlns:xi=\"http://www.w3.org/2001/XInclude\"><xi:include href=\"/etc/passwd\" "
        "parse=\"text\"/></r>");
    EXPECT_EQ(doc.DocumentElement().Text(), "");
}

TEST(Dom, DeepNestingIsBounded) {
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<a>";
    for (int i = 0; i < 5000; ++i) deep += "</a>";
    EXPECT_NE(LoadError(deep), "loaded") << "the parser's depth limit";
}

TEST(Dom, DocumentsMove) {
    XmlDocument a = XmlDocument::Load("<r/>");
    XmlDocument b = std::move(a);
    EXPECT_EQ(b.DocumentElement().LocalName(), "r");
    a = XmlDocument::Load("<s/>");
    EXPECT_EQ(a.DocumentElement().LocalName(), "s");
}

// The DOM loader and the event reader take and refuse the same documents.
TEST(Dom, LoaderAndEventReaderAgree) {
    struct Counter : velqor::dom::XmlEventHandler {
        bool StartElement(std::string_view, std::string_view, const velqor::dom::XmlAttributeView*,
                          size_t) override {
            return true;
        }
        bool EndElement() override { return true; }
        bool Text(std::string_view) override { return true; }
    };
    const auto nested = [](int depth) {
        std::string s;
        for (int i = 0; i < depth; ++i) s += "<a>";
        for (int i = 0; i < depth; ++i) s += "</a>";
        return s;
    };
    // A browse reply over libxml2's 10 MB of input in view, under the client's bound on a
    // reply's size: 21,000 elements with 120-character names and two properties each.
    std::string large =
        "<s:Envelope xmlns:s=\"urn:s\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
        "<s:Body><BrowseResponse>";
    for (int i = 0; i < 21000; ++i) {
        const std::string name = std::to_string(100000 + i) + std::string(114, 'n');
        large += "<Elements Name=\"" + name + "\" ItemName=\"Plant/Area/" + name +
                 "\" IsItem=\"true\" HasChildren=\"false\"><Properties Name=\"dataType\">"
                 "<Value xsi:type=\"xsd:QName\">xsd:int</Value></Properties><Properties "
                 "Name=\"accessRights\"><Value xsi:type=\"xsd:string\">readable</Value>"
                 "</Properties></Elements>";
    }
    large += "</BrowseResponse></s:Body></s:Envelope>";
    const struct {
        const char* name;
        std::string xml;
        const char* refusal;  // nullptr: loads
    } rows[] = {
        {"10.5 MB", large, nullptr},
        {"one long text", "<r>" + std::string(10'500'000, 't') + "</r>", nullptr},
        {"256 levels", nested(256), nullptr},
        {"257 levels", nested(257), "deeper than 256"},
        {"undeclared element prefix", "<soap:Envelope><soap:Body/></soap:Envelope>",
         "Namespace prefix soap on Envelope is not defined"},
        {"undeclared attribute prefix", "<r xsi:type=\"xsd:int\">1</r>",
         "Namespace prefix xsi for type on r is not defined"},
        {"mistyped declaration", "<soap:E Xmlns:soap=\"urn:s\"/>", "is not defined"},
    };
    for (const auto& r : rows) {
        const std::string error = LoadError(r.xml);
        Counter c;
        const auto events = velqor::dom::ParseEvents(r.xml, c);
        if (!r.refusal) {
            EXPECT_EQ(error, "loaded") << r.name;
            EXPECT_EQ(events, velqor::dom::XmlEventResult::Done) << r.name;
        } else {
            EXPECT_NE(error.find(r.refusal), std::string::npos) << r.name << ": " << error;
            EXPECT_EQ(events, velqor::dom::XmlEventResult::Refused) << r.name;
        }
    }
}
