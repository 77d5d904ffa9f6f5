#include "soap/VelqorSOAPWriter.h"

#include <ostream>

namespace velqor {

namespace {

// Builds the elements the rules write under one parent node.
class DomSink : public TSOAPSink {
  public:
    DomSink(TVelqorSOAPWriter& writer, dom::XmlNode parent) : writer_(writer), open_{parent} {}
    void Open(std::string_view name) override {
        open_.push_back(writer_.AddElement(open_.back(), name));
    }
    void Attribute(std::string_view name, std::string_view value) override {
        open_.back().SetAttribute(name, value);
    }
    void XsiAttribute(std::string_view name, std::string_view value) override {
        open_.back().SetAttributeNS("xsi", kXsiNamespace, name, value);
    }
    void Text(std::string_view text) override { open_.back().SetText(text); }
    void Close(std::string_view) override { open_.pop_back(); }

  private:
    TVelqorSOAPWriter& writer_;
    std::vector<dom::XmlNode> open_;
};

}  // namespace

dom::XmlDocument& TVelqorSOAPWriter::Document() {
    if (!doc_) doc_.emplace();
    return *doc_;
}

dom::XmlNode TVelqorSOAPWriter::CreateEnvelope(dom::XmlDocument& document) {
    dom::XmlNode env = document.CreateDocumentElement("soap:Envelope", kSoapEnvelopeNamespace);
    env.DeclareNamespace("xsd", kXsdNamespace);
    env.DeclareNamespace("xsi", kXsiNamespace);
    return env;
}

dom::XmlNode TVelqorSOAPWriter::AddHeader(dom::XmlNode envelope) {
    return envelope.AddElement("soap:Header", kSoapEnvelopeNamespace);
}

dom::XmlNode TVelqorSOAPWriter::AddBody(dom::XmlNode envelope) {
    return envelope.AddElement("soap:Body", kSoapEnvelopeNamespace);
}

dom::XmlNode TVelqorSOAPWriter::AddFault(dom::XmlNode body) {
    return body.AddElement("soap:Fault", kSoapEnvelopeNamespace);
}

dom::XmlNode TVelqorSOAPWriter::AddElement(dom::XmlNode parent, std::string_view name,
                                           std::string_view nsUri) {
    return parent.AddElement(name, nsUri.empty() ? std::string_view(DefaultNamespace) : nsUri);
}

dom::XmlNode TVelqorSOAPWriter::BeginMessage(std::string_view nsUri, std::string_view methodName) {
    doc_.reset();
    doc_.emplace();
    dom::XmlNode env = CreateEnvelope(*doc_);
    dom::XmlNode body = AddBody(env);
    method_ = body.AddElement(methodName, nsUri);
    DefaultNamespace = std::string(nsUri);
    SOAPAction = DefaultNamespace + std::string(methodName);
    return method_;
}

void TVelqorSOAPWriter::WriteRecord(std::string_view elementName, dom::XmlNode parent,
                                    const TRemotable& record) {
    if (!parent) {
        if (!method_) throw Exception("SOAP writer: no message begun");
        DomSink out(*this, method_);
        WriteFields(out, record);
        return;
    }
    DomSink out(*this, parent);
    out.Open(elementName);
    WriteFields(out, record);
}

void TVelqorSOAPWriter::SaveToStream(std::ostream& out) const {
    std::string s = SaveToString();
    out.write(s.data(), std::streamsize(s.size()));
}

std::string TVelqorSOAPWriter::SaveToString() const {
    if (!doc_) throw Exception("SOAP writer: no message begun");
    return doc_->Save();
}

}  // namespace velqor
