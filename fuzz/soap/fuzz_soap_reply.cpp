// The SOAP reader and writer on hostile replies. Each input is parsed and its body's element read
// into every XML-DA reply record; each record read is then written back with the SOAP writer,
// the written text decoded into a fresh record of the same class and written again. The two
// written texts must be equal: a value the reader accepts must survive writing and reading
// unchanged, so every field of the record (attributes, child elements, variants with their
// types, nested records and arrays) is compared through its written form. The text writer
// must write every record to the same bytes as the document writer. The writer leaves
// empty variants out, as the client's writer does. Toolkit errors while
// parsing the input are expected; anything else (a crash, a foreign exception, a sanitizer
// report, a round trip that changes the record) is a finding.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzText.h"
#include "xmlda/VelqorSOAPCallIO.h"

namespace {

// The reader creates every record field's record, empty where the reply has no element for it,
// and fills nested record fields only when it reads an element. Creating the missing ones
// first (to any depth) makes a record and its written-and-read copy alike in that respect, so
// that the comparison sees the values alone.
void CreateNestedRecords(velqor::TRemotable& record, int depth = 0) {
    if (depth > 16) return;
    for (const velqor::FieldInfo* f : record.Class().Fields()) {
        if (f->Kind == velqor::FieldKind::Record) {
            if (!f->GetRecord(record)) f->SetRecord(record, f->RecordType()->Create());
            CreateNestedRecords(*f->GetRecord(record), depth + 1);
        } else if (f->Kind == velqor::FieldKind::RecordArray) {
            for (size_t i = 0; i < f->Length(record); ++i)
                if (velqor::TRemotable* entry = f->GetItem(record, i))
                    CreateNestedRecords(*entry, depth + 1);
        }
    }
}

// The record as the writer writes it; nothing when the writer refuses it.
std::optional<std::string> Write(const velqor::TRemotable& record) {
    velqor::TVelqorSOAPWriter writer;
    // As the client writes: an empty variant is left out. (A nil element without a type reads
    // back as an empty string, so writing nil would not round-trip by design.)
    writer.NilForEmptyVariants = false;
    std::optional<std::string> byDocument;
    try {
        writer.BeginMessage(velqor::xmlda::kXmlDaNamespace, record.Class().Name());
        writer.WriteRecord("", {}, record);
        byDocument = writer.SaveToString();
    } catch (const velqor::Exception&) {
    }
    // The text writer, which writes the requests the client sends, must write the same bytes
    // and refuse the same records.
    velqor::TVelqorSOAPTextWriter text;
    text.NilForEmptyVariants = false;
    std::optional<std::string> byText;
    try {
        byText = text.Write(velqor::xmlda::kXmlDaNamespace, record.Class().Name(), record);
    } catch (const velqor::Exception&) {
    }
    if (byDocument != byText) {
        std::fprintf(stderr, "text writer differs\n--- document\n%s\n--- text\n%s\n",
                     byDocument.value_or("(refused)").c_str(),
                     byText.value_or("(refused)").c_str());
        std::abort();
    }
    return byDocument;
}

// The written text read back into a new record of the class of the first.
std::unique_ptr<velqor::TRemotable> Reread(const velqor::TRemotable& first,
                                           const std::string& text) {
    velqor::TVelqorSoapReader reader;
    auto record = first.Class().Create();
    reader.Parse(text);
    reader.ReadRecord(reader.ResultElement, *record);
    return record;
}

[[noreturn]] void Differs(std::string_view what, const std::string& a, const std::string& b) {
    std::fprintf(stderr, "round trip %.*s\n--- first write\n%s\n--- second write\n%s\n",
                 int(what.size()), what.data(), a.c_str(), b.c_str());
    std::abort();
}

void RoundTrip(velqor::TRemotable& record) {
    CreateNestedRecords(record);
    const auto first = Write(record);
    if (!first) return;
    std::unique_ptr<velqor::TRemotable> again;
    try {
        again = Reread(record, *first);
    } catch (const velqor::Exception& e) {
        Differs(std::string("cannot read its own writing: ") + e.what(), *first, "");
    }
    CreateNestedRecords(*again);
    const auto second = Write(*again);
    if (!second) Differs("cannot write what it read back", *first, "");
    if (*first != *second) Differs("changed the record", *first, *second);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzztext::UseZone("America/New_York");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes = fuzztext::AsText(data, size);
    velqor::TVelqorSoapReader reader;
    try {
        reader.Parse(bytes);
    } catch (const velqor::Exception&) {
        return 0;
    }
    for (const auto& op : velqor::xmlda::kXmlDaOperations) {
        auto reply = op.Reply().Create();
        try {
            reader.ReadRecord(reader.ResultElement, *reply);
        } catch (const velqor::Exception&) {
            continue;
        }
        RoundTrip(*reply);
    }
    return 0;
}
