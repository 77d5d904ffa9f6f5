#include "StreamCompare.h"

#include <cstring>
#include <memory>

#include "xmlda/OpcXmlDa.h"
#include "xmlda/VelqorXMLDAStream.h"

namespace velqor::test {

namespace {

std::string SafeText(const Variant& v) {
    try {
        return v.ToText();
    } catch (const std::exception&) {
        return "<no text>";
    }
}

size_t ScalarBytes(const FieldInfo& f) {
    switch (f.Kind) {
        case FieldKind::Char:
        case FieldKind::Boolean:
            return 1;
        case FieldKind::Int64:
            return 8;
        case FieldKind::Float:
            return f.Float == FloatType::Single ? sizeof(float) : sizeof(double);
        default:
            switch (f.Int) {
                case IntType::I8:
                case IntType::U8:
                    return 1;
                case IntType::I16:
                case IntType::U16:
                    return 2;
                default:
                    return 4;
            }
    }
}

// Field by field, nested records and arrays included; "" when alike.
std::string Difference(const TRemotable& a, const TRemotable& b, const std::string& path) {
    if (&a.Class() != &b.Class()) return path + ": record classes differ";
    auto& x = const_cast<TRemotable&>(a);
    auto& y = const_cast<TRemotable&>(b);
    for (const FieldInfo* f : a.Class().Fields()) {
        const std::string p = path + "." + std::string(f->Name);
        switch (f->Kind) {
            case FieldKind::Record: {
                const TRemotable* ra = f->GetRecord(a);
                const TRemotable* rb = f->GetRecord(b);
                if (!ra != !rb) return p + ": present in one only";
                if (ra) {
                    std::string d = Difference(*ra, *rb, p);
                    if (!d.empty()) return d;
                }
                break;
            }
            case FieldKind::RecordArray: {
                if (f->Length(a) != f->Length(b)) return p + ": lengths differ";
                for (size_t i = 0; i < f->Length(a); ++i) {
                    const TRemotable* ra = f->GetItem(a, i);
                    const TRemotable* rb = f->GetItem(b, i);
                    if (!ra != !rb) return p + "[" + std::to_string(i) + "]: present in one only";
                    if (!ra) continue;
                    std::string d = Difference(*ra, *rb, p + "[" + std::to_string(i) + "]");
                    if (!d.empty()) return d;
                }
                break;
            }
            case FieldKind::StringArray:
                if (f->Length(a) != f->Length(b)) return p + ": lengths differ";
                for (size_t i = 0; i < f->Length(a); ++i)
                    if (*f->StringItem(x, i) != *f->StringItem(y, i)) return p + ": texts differ";
                break;
            case FieldKind::OtherArray:
                break;
            case FieldKind::Enumeration:
            case FieldKind::Set:
                if (f->GetOrdinal(a) != f->GetOrdinal(b)) return p + ": values differ";
                break;
            case FieldKind::Variant: {
                const auto& va = *static_cast<const Variant*>(f->Storage(x));
                const auto& vb = *static_cast<const Variant*>(f->Storage(y));
                if (va.Type() != vb.Type() || (!(va == vb) && SafeText(va) != SafeText(vb)))
                    return p + ": " + SafeText(va) + " against " + SafeText(vb);
                break;
            }
            case FieldKind::AnsiString:
            case FieldKind::WideString:
                if (*static_cast<const std::string*>(f->Storage(x)) !=
                    *static_cast<const std::string*>(f->Storage(y)))
                    return p + ": texts differ";
                break;
            default:
                if (std::memcmp(f->Storage(x), f->Storage(y), ScalarBytes(*f)) != 0)
                    return p + ": values differ";
        }
    }
    const auto* ia = dynamic_cast<const xmlda::ItemValue*>(&a);
    const auto* ib = dynamic_cast<const xmlda::ItemValue*>(&b);
    if (ia && ib && ia->ValueError != ib->ValueError) return path + ": value errors differ";
    return {};
}

template <class Reply>
StreamVerdict Compare(std::string_view bytes, std::string_view operation) {
    StreamVerdict v;
    Reply streamed;
    v.streamed = StreamItemListReply(bytes, operation, streamed,
                                     [&](size_t list, std::unique_ptr<TRemotable> item) {
                                         KeepInItemLists(streamed, list, std::move(item));
                                     });
    Reply dom;
    try {
        ReadXmlDaReply(bytes, operation, dom);
        v.domRead = true;
    } catch (const std::exception&) {
        v.domRead = false;
    }
    if (v.streamed && v.domRead) v.difference = Difference(dom, streamed, std::string(operation));
    return v;
}

}  // namespace

StreamVerdict CompareStreamWithDom(std::string_view bytes, std::string_view operation) {
    if (operation == "Read") return Compare<xmlda::ReadResponse>(bytes, operation);
    if (operation == "Subscribe") return Compare<xmlda::SubscribeResponse>(bytes, operation);
    return Compare<xmlda::SubscriptionPolledRefreshResponse>(bytes, operation);
}

}  // namespace velqor::test
