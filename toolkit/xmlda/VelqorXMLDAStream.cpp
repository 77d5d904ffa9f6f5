#include "xmlda/VelqorXMLDAStream.h"

#include <cstdint>
#include <string>
#include <vector>

#include "soap/VelqorSOAPEncoding.h"
#include "soap/VelqorSOAPReader.h"
#include "soap/VelqorSOAPValueTree.h"
#include "soap/dom/VelqorXmlEvents.h"

namespace velqor {

namespace {

bool IsScalar(FieldKind k) {
    return k != FieldKind::Record && k != FieldKind::RecordArray && k != FieldKind::StringArray &&
           k != FieldKind::OtherArray;
}

// Follows the reply's events with a stack of what each open element is to the reader. Every
// event it does not take on answers false (stop: the DOM reader decides).
class ItemListStream : public dom::XmlEventHandler {
  public:
    ItemListStream(std::string expected, TRemotable& reply, const TItemSink& onItem)
        : expected_(std::move(expected)), reply_(reply), onItem_(onItem) {}

    bool Complete() const { return bodies_ == 1 && resultSeen_; }

    bool StartElement(std::string_view localName, std::string_view, const dom::XmlAttributeView* a,
                      size_t n) override {
        try {
            return Start(localName, a, n);
        } catch (...) {
            return false;  // a field the storing rules refuse: the DOM reader raises it
        }
    }

    bool EndElement() override {
        try {
            return End();
        } catch (...) {
            return false;  // as above, or a text only the DOM can tell (TUndecidedText)
        }
    }

    bool Text(std::string_view piece) override {
        if (stack_.empty()) return true;
        switch (stack_.back().Kind) {
            case Where::Body:
                return TrimBlanks(piece).empty();  // a text beside the reply: no reply
            case Where::Capture:
                value_.Text(piece);
                return true;
            default:
                return true;  // texts between fields are not read
        }
    }

    bool Markup() override {
        if (!stack_.empty() && stack_.back().Kind == Where::Capture) value_.Markup();
        return true;
    }

  private:
    // Capture: a field's element (a value, a text), kept whole in value_ until it ends.
    enum class Where { Envelope, Body, Skip, Record, Capture };
    struct Frame {
        explicit Frame(Where kind) : Kind(kind) {}
        Where Kind;
        TRemotable* Record = nullptr;      // Record: the record; Capture: the owner
        std::unique_ptr<TRemotable> Item;  // an entry of a list's Items on its way to the sink
        const FieldInfo* Field = nullptr;  // Capture: the field
        size_t List = SIZE_MAX;            // a list record, or an item: its list's index
        uint64_t ElementsSeen = 0, FromAttributes = 0;  // field bits (declaration order)
    };

    static int FieldIndex(const TRemotable& r, const FieldInfo* f) {
        const auto& fields = r.Class().Fields();
        for (size_t i = 0; i < fields.size(); ++i)
            if (fields[i] == f) return int(i);
        return -1;
    }

    // A field by exact name; a name that only matches in another letter case is not taken on.
    static const FieldInfo* FieldNamed(const TRemotable& r, std::string_view name, bool& other) {
        other = false;
        for (const FieldInfo* f : r.Class().Fields()) {
            if (f->Name == name) return f;
            if (SameTextNoCase(f->Name, name)) other = true;
        }
        return nullptr;
    }

    // The attributes of a record's element, stored by the DOM reader's rules; returns the bits
    // of the fields they filled.
    static uint64_t StoreAttributes(TRemotable& r, const dom::XmlAttributeView* a, size_t n) {
        uint64_t bits = 0;
        const auto& fields = r.Class().Fields();
        if (fields.size() > 64) throw Exception("record too wide to stream");
        for (size_t i = 0; i < fields.size(); ++i) {
            const FieldInfo& f = *fields[i];
            if (!IsScalar(f.Kind)) continue;
            for (size_t k = 0; k < n; ++k) {
                if (!a[k].NamespaceURI.empty() || a[k].LocalName != f.Name) continue;
                TVelqorSOAPReader::StoreText(f, r, a[k].Value);
                bits |= uint64_t(1) << i;
                break;
            }
        }
        return bits;
    }

    bool PushRecord(TRemotable* record, std::unique_ptr<TRemotable> item, size_t list,
                    const dom::XmlAttributeView* a, size_t n) {
        Frame f(Where::Record);
        f.Record = record;
        f.Item = std::move(item);
        f.List = list;
        f.FromAttributes = StoreAttributes(*record, a, n);
        stack_.push_back(std::move(f));
        return true;
    }

    bool Start(std::string_view name, const dom::XmlAttributeView* a, size_t n) {
        if (stack_.empty()) {
            if (name != "Envelope" || rootSeen_) return false;
            rootSeen_ = true;
            stack_.emplace_back(Where::Envelope);
            return true;
        }
        Frame& top = stack_.back();
        switch (top.Kind) {
            case Where::Envelope:
                if (name != "Body") {
                    stack_.emplace_back(Where::Skip);
                    return true;
                }
                if (++bodies_ > 1) return false;
                stack_.emplace_back(Where::Body);
                return true;
            case Where::Body:
                // One reply element, to the operation asked.
                if (resultSeen_ || name != expected_) return false;
                resultSeen_ = true;
                return PushRecord(&reply_, nullptr, SIZE_MAX, a, n);
            case Where::Skip:
                stack_.emplace_back(Where::Skip);
                return true;
            case Where::Capture:
                value_.Start(name, a, n);
                return true;
            case Where::Record:
                return StartField(top, name, a, n);
        }
        return false;
    }

    bool StartField(Frame& top, std::string_view name, const dom::XmlAttributeView* a, size_t n) {
        TRemotable& owner = *top.Record;
        const bool isResult = &owner == &reply_;
        bool other = false;
        const FieldInfo* f = FieldNamed(owner, name, other);
        if (!f) {
            if (other) return false;
            stack_.emplace_back(Where::Skip);  // no field of that name: not read
            return true;
        }
        const int index = FieldIndex(owner, f);
        const uint64_t bit = uint64_t(1) << unsigned(index);
        switch (f->Kind) {
            case FieldKind::Record: {
                if (top.ElementsSeen & bit) return Skip();  // the first one counts
                top.ElementsSeen |= bit;
                TRemotable* sub = f->GetRecord(owner);
                if (!sub) {
                    f->SetRecord(owner, xmlda::CreateXmlDaObject(f->TypeName));
                    sub = f->GetRecord(owner);
                }
                return PushRecord(sub, nullptr, SIZE_MAX, a, n);
            }
            case FieldKind::RecordArray: {
                auto entry = xmlda::CreateXmlDaObject(f->TypeName);
                TRemotable* raw = entry.get();
                if (top.List != SIZE_MAX && f->Name == "Items")
                    return PushRecord(raw, std::move(entry), top.List, a, n);
                const size_t at = f->Length(owner);
                f->SetLength(owner, at + 1);
                f->SetItem(owner, at, std::move(entry));
                const size_t list = isResult && f->Name == "RItemList" ? lists_++ : SIZE_MAX;
                return PushRecord(raw, nullptr, list, a, n);
            }
            case FieldKind::StringArray:
                return Capture(owner, *f, name, a, n);
            case FieldKind::OtherArray:
                return false;  // the DOM reader refuses these
            default:
                // A value or scalar field: its attribute wins, else its first element.
                if ((top.FromAttributes | top.ElementsSeen) & bit) return Skip();
                top.ElementsSeen |= bit;
                return Capture(owner, *f, name, a, n);
        }
    }

    bool Skip() {
        stack_.emplace_back(Where::Skip);
        return true;
    }

    bool Capture(TRemotable& owner, const FieldInfo& f, std::string_view name,
                 const dom::XmlAttributeView* a, size_t n) {
        Frame c(Where::Capture);
        c.Record = &owner;
        c.Field = &f;
        stack_.push_back(std::move(c));
        value_.Reset();
        value_.Start(name, a, n);
        return true;
    }

    // A field's element has ended: read by the DOM reader's value and storing rules.
    void Store(const Frame& f) {
        const TValueNode element = value_.Root();
        if (f.Field->Kind == FieldKind::StringArray) {
            const size_t at = f.Field->Length(*f.Record);
            f.Field->SetLength(*f.Record, at + 1);
            std::string scratch;
            *f.Field->StringItem(*f.Record, at) = element.TextView(scratch);
            return;
        }
        Variant v;
        try {
            v = ReadValue(element);
        } catch (const std::exception& e) {
            v = Variant::Null();
            f.Record->ValueUnreadable(*f.Field, e.what());
        }
        TVelqorSOAPReader::StoreVariant(*f.Field, *f.Record, v);
    }

    bool End() {
        if (stack_.empty()) return false;
        if (stack_.back().Kind == Where::Capture && !value_.End()) return true;
        Frame f = std::move(stack_.back());
        stack_.pop_back();
        switch (f.Kind) {
            case Where::Envelope:
            case Where::Body:
            case Where::Skip:
                return true;
            case Where::Capture:
                Store(f);
                return true;
            case Where::Record:
                break;
        }
        // Every record field gets a record, present on the wire or not.
        for (const FieldInfo* field : f.Record->Class().Fields())
            if (field->Kind == FieldKind::Record && !field->GetRecord(*f.Record))
                field->SetRecord(*f.Record, xmlda::CreateXmlDaObject(field->TypeName));
        if (f.Item && onItem_) onItem_(f.List, std::move(f.Item));
        return true;
    }

    const std::string expected_;
    TRemotable& reply_;
    const TItemSink& onItem_;
    std::vector<Frame> stack_;
    TValueTree value_;
    size_t lists_ = 0;
    int bodies_ = 0;
    bool rootSeen_ = false, resultSeen_ = false;
};

}  // namespace

bool StreamItemListReply(std::string_view bytes, std::string_view operation, TRemotable& reply,
                         const TItemSink& onItem) {
    ItemListStream s(std::string(operation) + "Response", reply, onItem);
    return dom::ParseEvents(bytes, s) == dom::XmlEventResult::Done && s.Complete();
}

void KeepInItemLists(TRemotable& reply, size_t list, std::unique_ptr<TRemotable> item) {
    const FieldInfo* lists = reply.Class().Field("RItemList");
    TRemotable* l = lists ? lists->GetItem(reply, list) : nullptr;
    const FieldInfo* items = l ? l->Class().Field("Items") : nullptr;
    if (!items) return;
    const size_t at = items->Length(*l);
    items->SetLength(*l, at + 1);
    items->SetItem(*l, at, std::move(item));
}

}  // namespace velqor
