// The text writer against the document writer: for a table of records, under the client's
// rules and the plain ones, the two must write the very same bytes.
#include <gtest/gtest.h>

#include <functional>

#include "TestSupport.h"
#include "xmlda/VelqorSOAPCallIO.h"

using namespace velqor;
using namespace velqor::xmlda;

namespace {

// Texts that need escaping or are easy to get wrong: markup, quotes, white space an attribute
// would lose, non-ASCII and bytes that are no UTF-8, a lone quote, leading and trailing blanks.
const std::string kAwkward[] = {"a<b>&c",   "\"q\" 'a'", "t\tn\nr\r", "Grüße 温度",
                                "\xff\xfe", "\"",        " pad ",     "]]>"};

std::unique_ptr<ItemValue> Value(std::string name, Variant v) {
    auto i = std::make_unique<ItemValue>();
    i->ItemName = std::move(name);
    i->Value = std::move(v);
    return i;
}

Variant Values() {
    return Variant::Array(
        VT_VARIANT, {Variant::I1(-5), Variant::UI1(200), Variant::I2(-300), Variant::UI2(60000),
                     Variant::I4(-7), Variant::UI4(4000000000u), Variant::I8(-9000000000LL),
                     Variant::UI8(18446744073709551615ULL), Variant::R4(0.1f), Variant::R8(-1e300),
                     Variant::Bool(true), Variant::Str(kAwkward[0]), Variant::AnsiStr(kAwkward[2]),
                     Variant::Currency(-12345), Variant::Date(46000.25), Variant(), Variant::Null(),
                     Variant::Bytes(std::string("\x00\xff", 2)), Variant::Array(VT_BSTR, {})});
}

std::vector<std::pair<std::string, std::function<std::unique_ptr<TRemotable>()>>> Records() {
    std::vector<std::pair<std::string, std::function<std::unique_ptr<TRemotable>()>>> t;
    t.emplace_back("Write of every value kind and array", [] {
        auto w = std::make_unique<Write>();
        w->ReturnValuesOnReply = true;
        w->Options = std::make_unique<RequestOptions>();
        w->Options->RequestDeadline = 46000.5;
        w->Options->ClientRequestHandle = kAwkward[1];
        w->ItemList.push_back(std::make_unique<WriteRequestItemList>());
        auto& items = w->ItemList[0]->Items;
        const Variant all = Values();
        for (size_t i = 0; i < all.ArrayData().Elements.size(); ++i)
            items.push_back(Value("V" + std::to_string(i), all.ArrayData().Elements[i]));
        items.push_back(Value("A", all));
        items.push_back(Value("D", Variant::Array(VT_R8, {Variant::R8(0.5), Variant::R8(0)})));
        items.push_back(
            Value("S", Variant::Array(VT_BSTR, {Variant::Str(kAwkward[2]), Variant::Str("")})));
        items.push_back(Value("E", Variant::Array(VT_I2, {})));
        items.push_back(Value("Err", Variant::Error(5)));
        items.back()->Quality = std::make_unique<OPCQuality>();
        items.back()->Quality->QualityField = qualityBits::bad;
        return w;
    });
    t.emplace_back("Subscribe with awkward names and options", [] {
        auto s = std::make_unique<Subscribe>();
        s->SubscriptionPingRate = 5000;
        s->ItemList.push_back(std::make_unique<SubscribeRequestItemList>());
        s->ItemList[0]->Deadband = 2.5f;
        s->ItemList[0]->RequestedSamplingRate = 100;
        for (const std::string& a : kAwkward) {
            auto i = std::make_unique<SubscribeRequestItem>();
            i->ItemName = a;
            i->ItemPath = a == "\"" ? "" : a;
            i->ClientItemHandle = a;
            i->EnableBuffering = a.size() % 2 == 0;
            s->ItemList[0]->Items.push_back(std::move(i));
        }
        return s;
    });
    t.emplace_back("Subscribe with an empty item list", [] {
        auto s = std::make_unique<Subscribe>();
        s->ItemList.push_back(std::make_unique<SubscribeRequestItemList>());
        return s;
    });
    t.emplace_back("Read with no list", [] { return std::make_unique<Read>(); });
    t.emplace_back("Read", [] {
        auto r = std::make_unique<Read>();
        r->ItemList.push_back(std::make_unique<ReadRequestItemList>());
        r->ItemList[0]->MaxAge = 500;
        r->ItemList[0]->Items.push_back(Value("x", Variant()));
        r->ItemList[0]->Items.back()->ReqType = "xsd:int";
        return r;
    });
    t.emplace_back("GetProperties and Browse with string arrays", [] {
        auto g = std::make_unique<GetProperties>();
        g->PropertyNames = {"value", "", kAwkward[0]};
        g->ReturnAllProperties = true;
        return g;
    });
    t.emplace_back("Browse", [] {
        auto b = std::make_unique<Browse>();
        b->BrowseFilter = browseFilter::item;
        b->ItemName = kAwkward[3];
        b->PropertyNames = {"a"};
        return b;
    });
    return t;
}

enum class Rules { Client, Plain, KeepEmpty };

void Apply(Rules r, TSOAPWriteRules& w) {
    if (r == Rules::Client) UseXmlDaClientRules(w);
    if (r == Rules::KeepEmpty) w.OmitEmpty = false;
}

// The document writer's text, or its error.
std::string ByDocument(Rules r, const TRemotable& record) {
    TVelqorSOAPWriter w;
    Apply(r, w);
    try {
        w.BeginMessage(kXmlDaNamespace, "Op");
        w.WriteRecord("", {}, record);
        return w.SaveToString();
    } catch (const Exception& e) {
        return std::string("error: ") + e.what();
    }
}

std::string ByText(Rules r, const TRemotable& record) {
    TVelqorSOAPTextWriter w;
    Apply(r, w);
    try {
        return w.Write(kXmlDaNamespace, "Op", record);
    } catch (const Exception& e) {
        return std::string("error: ") + e.what();
    }
}

}  // namespace

TEST(SoapTextWriter, WritesTheBytesOfTheDocumentWriter) {
    test::ScopedTimeZone tz("Asia/Kolkata");
    for (const auto& [what, make] : Records()) {
        const auto record = make();
        for (Rules r : {Rules::Client, Rules::Plain, Rules::KeepEmpty})
            EXPECT_EQ(ByText(r, *record), ByDocument(r, *record)) << what << ", rules " << int(r);
    }
}

TEST(SoapTextWriter, RefusesWhatXmlCannotCarryLikeTheDocumentWriter) {
    for (const std::string& bad : {std::string("a\x01"), std::string("nul\0", 4)}) {
        Subscribe s;
        s.ItemList.push_back(std::make_unique<SubscribeRequestItemList>());
        s.ItemList[0]->Items.push_back(std::make_unique<SubscribeRequestItem>());
        s.ItemList[0]->Items[0]->ItemName = bad;  // an attribute
        Write w;
        w.ItemList.push_back(std::make_unique<WriteRequestItemList>());
        w.ItemList[0]->Items.push_back(Value("x", Variant::Str(bad)));  // a text
        for (const TRemotable* record :
             {static_cast<const TRemotable*>(&s), static_cast<const TRemotable*>(&w)}) {
            const std::string text = ByText(Rules::Client, *record);
            EXPECT_EQ(text.rfind("error: ", 0), 0u) << text;
            EXPECT_EQ(text, ByDocument(Rules::Client, *record));
        }
    }
}
