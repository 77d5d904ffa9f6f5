#include "soap/VelqorSOAPTextWriter.h"

#include <vector>

#include "soap/VelqorSOAPEncoding.h"
#include "soap/dom/VelqorDom.h"

namespace velqor {

namespace {

// Writes elements as libxml2 saves a document in UTF-8: no indentation, an element without
// content closed as "<a/>", attributes in double quotes.
class TextSink : public TSOAPSink {
  public:
    explicit TextSink(std::string& out) : out_(out) {}

    // The method element, left open for its attributes.
    void OpenMethod(std::string_view name, std::string_view nsUri) {
        Open(name);
        out_ += " xmlns=\"";
        out_ += nsUri;
        out_ += '"';
    }
    void Open(std::string_view name) override {
        EndStartTag();
        out_ += '<';
        out_ += name;
        startTag_ = true;
    }
    void Attribute(std::string_view name, std::string_view value) override {
        WriteAttribute(" ", name, value);
    }
    void XsiAttribute(std::string_view name, std::string_view value) override {
        WriteAttribute(" xsi:", name, value);
    }
    void Text(std::string_view text) override {
        if (text.empty()) return;
        EndStartTag();
        Escaped(text, false);
    }
    void Close(std::string_view name) override {
        if (startTag_) {
            out_ += "/>";
            startTag_ = false;
            return;
        }
        out_ += "</";
        out_ += name;
        out_ += '>';
    }

  private:
    void WriteAttribute(std::string_view lead, std::string_view name, std::string_view value) {
        out_ += lead;
        out_ += name;
        out_ += "=\"";
        Escaped(value, true);
        out_ += '"';
    }
    void EndStartTag() {
        if (startTag_) out_ += '>';
        startTag_ = false;
    }
    // What libxml2 escapes: markup characters everywhere, a carriage return everywhere, and in
    // attributes also the quote, tab and line feed (which attribute normalisation would lose).
    void Escaped(std::string_view s, bool attribute) {
        dom::CheckXmlText(s);
        size_t plain = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            const char* rep = nullptr;
            switch (s[i]) {
                case '<':
                    rep = "&lt;";
                    break;
                case '>':
                    rep = "&gt;";
                    break;
                case '&':
                    rep = "&amp;";
                    break;
                case '\r':
                    rep = "&#13;";
                    break;
                case '"':
                    rep = attribute ? "&quot;" : nullptr;
                    break;
                case '\n':
                    rep = attribute ? "&#10;" : nullptr;
                    break;
                case '\t':
                    rep = attribute ? "&#9;" : nullptr;
                    break;
                default:
                    break;
            }
            if (!rep) continue;
            out_.append(s.data() + plain, i - plain);
            out_ += rep;
            plain = i + 1;
        }
        out_.append(s.data() + plain, s.size() - plain);
    }

    std::string& out_;
    bool startTag_ = false;
};

}  // namespace

std::string TVelqorSOAPTextWriter::Write(std::string_view nsUri, std::string_view methodName,
                                         const TRemotable& record) {
    std::string out;
    out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<soap:Envelope xmlns:soap=\"";
    out += kSoapEnvelopeNamespace;
    out += "\" xmlns:xsd=\"";
    out += kXsdNamespace;
    out += "\" xmlns:xsi=\"";
    out += kXsiNamespace;
    out += "\"><soap:Body>";
    TextSink sink(out);
    sink.OpenMethod(methodName, nsUri);
    WriteFields(sink, record);
    sink.Close(methodName);
    out += "</soap:Body></soap:Envelope>\n";
    SOAPAction = std::string(nsUri) + std::string(methodName);
    return out;
}

}  // namespace velqor
