// Traffic captured from real OPC XML-DA peers: every reply read into its record with the values
// it holds, and the requests we write compared with the ones those peers exchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "RequestWriter.h"
#include "TestSupport.h"
#include "XmlCompare.h"
#include "xmlda/VelqorSOAPCallIO.h"

using namespace velqor;
using namespace velqor::xmlda;
using velqor::test::CapturesDir;
using velqor::test::ReadFileText;
using velqor::test::ScopedTimeZone;
using velqor::test::WriteRequest;
using velqor::test::XmlDiff;

namespace {

class Captures : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::is_directory(CapturesDir()))
            GTEST_SKIP() << "captured traffic not found at " << CapturesDir();
    }

    std::string Load(const std::string& relative) {
        std::string text;
        EXPECT_TRUE(ReadFileText(CapturesDir() + "/" + relative, text)) << relative;
        return text;
    }

    template <class Reply>
    std::unique_ptr<Reply> ReadResponse(const std::string& file) {
        TVelqorSoapReader r;
        std::string method, ns;
        dom::XmlNode result;
        r.Parse(Load("responses/" + file), method, result, ns);
        EXPECT_EQ(method, [] {
            std::string n(Reply::ClassName);
            for (char& c : n) c = char(std::tolower(static_cast<unsigned char>(c)));
            return n;
        }());
        EXPECT_EQ(ns, kXmlDaNamespace);
        auto reply = std::make_unique<Reply>();
        r.ReadRecord(result, *reply);
        return reply;
    }

    // "" when the request we write is alike the captured one, else the first difference.
    template <class Request>
    std::string RequestDiff(const std::string& file, const Request& ours,
                            const test::AttrFilter& filter = {}) {
        return XmlDiff(Load("requests/" + file), WriteRequest(ours), filter);
    }

    ScopedTimeZone tz_{"UTC"};
};

double At(int y, int mo, int d, int h, int mi, int s, int ms) {
    return EncodeDateTime(y, mo, d, h, mi, s, ms);
}

// Differences that do not change what a server reads: an empty ItemPath (which we always
// send), a false boolean (which we leave out) and the spelling of a date-time.
bool Equivalent(std::string_view, std::string_view attr, std::string& value) {
    if (attr == "ItemPath" && value.empty()) return false;
    if (value == "false") return false;
    if (attr == "HoldTime" || attr == "RequestDeadline")
        value = DateTimeToXSDDateTime(XSDDateTimeToDateTime(value), true);
    return true;
}

}  // namespace

TEST_F(Captures, EveryResponseReadsIntoItsReply) {
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(CapturesDir() + "/responses")) {
        std::string text;
        ASSERT_TRUE(ReadFileText(entry.path().string(), text));
        TVelqorSoapReader r;
        std::string method, ns;
        dom::XmlNode result;
        ASSERT_NO_THROW(r.Parse(text, method, result, ns)) << entry.path();
        bool known = false;
        for (const auto& op : kXmlDaOperations) {
            std::string reply(op.Reply().Name());
            for (char& c : reply) c = char(std::tolower(static_cast<unsigned char>(c)));
            if (reply != method) continue;
            known = true;
            auto record = op.Reply().Create();
            EXPECT_NO_THROW(r.ReadRecord(result, *record)) << entry.path();
        }
        EXPECT_TRUE(known) << entry.path() << " answers " << method;
        ++files;
    }
    EXPECT_GE(files, 8u);
}

TEST_F(Captures, GetStatusResponse) {
    auto r = ReadResponse<GetStatusResponse>("getstatus_639.response.xml");
    EXPECT_EQ(r->GetStatusResult->ServerState, serverState::running);
    EXPECT_EQ(r->GetStatusResult->RevisedLocaleID, "en-us");
    EXPECT_EQ(r->GetStatusResult->ClientRequestHandle, "TestClient");
    EXPECT_EQ(r->GetStatusResult->ReplyTime, At(2026, 8, 24, 16, 53, 46, 946));
    EXPECT_EQ(r->GetStatusResult->RcvTime, At(2026, 8, 24, 16, 53, 46, 946));
    EXPECT_EQ(r->Status->ProductVersion, "V1.00");
    EXPECT_EQ(r->Status->StartTime, At(2026, 7, 23, 17, 43, 54, 890));
    EXPECT_EQ(r->Status->StatusInfo, "The server is running normally.");
    EXPECT_EQ(r->Status->VendorInfo, "Example OPC XML-DA Server");
    EXPECT_EQ(r->Status->SupportedLocaleIDs, std::vector<std::string>{"en-us"});
    EXPECT_EQ(r->Status->SupportedInterfaceVersions, interfaceVersion::XML_DA_Version_1_0);
}

TEST_F(Captures, ReadResponseWithAnArrayOfDoubles) {
    auto r = ReadResponse<xmlda::ReadResponse>("read_182.response.xml");
    EXPECT_EQ(r->ReadResult->ReplyTime, At(2026, 8, 24, 18, 22, 45, 921));
    ASSERT_EQ(r->RItemList.size(), 1u);
    EXPECT_EQ(r->RItemList[0]->Reserved, "");
    ASSERT_EQ(r->RItemList[0]->Items.size(), 1u);
    const ItemValue& item = *r->RItemList[0]->Items[0];
    EXPECT_EQ(item.ItemName, "Folder1/Folder2/Folder3/Folder4/Folder5/Folder6/Item1");
    EXPECT_EQ(item.ClientItemHandle, item.ItemName);
    EXPECT_EQ(item.Timestamp, At(2026, 8, 22, 22, 0, 0, 0));
    std::vector<Variant> expected;
    for (double d :
         {10075.0, 5.4000000000000004, 14.300000000000001, 10.300000000000001, 21.32, 275.0, 2396.0,
          155.0, 45370.0, -2.0, -69.0, 406.0, -191.0, 334.0, 310.0, 322.0, 287.0})
        expected.push_back(Variant::R8(d));
    EXPECT_EQ(item.Value, Variant::Array(VT_R8, expected));
    EXPECT_EQ(item.Quality->QualityField, qualityBits::good);
    EXPECT_EQ(item.Quality->LimitField, "none");
    EXPECT_EQ(item.Quality->VendorField, 0);
    EXPECT_TRUE(r->Errors.empty());
}

TEST_F(Captures, ReadResponseOfNineteenItems) {
    auto r = ReadResponse<xmlda::ReadResponse>("read_676.response.xml");
    ASSERT_EQ(r->RItemList.size(), 1u);
    const auto& items = r->RItemList[0]->Items;
    ASSERT_EQ(items.size(), 19u);
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i]->ItemName, "Item" + std::to_string(i + 1));
        EXPECT_EQ(items[i]->ClientItemHandle, items[i]->ItemName);
        EXPECT_EQ(items[i]->Quality->QualityField, qualityBits::good);
    }
    EXPECT_EQ(items[0]->Value, Variant::UI2(2065));
    EXPECT_EQ(items[1]->Value, Variant::Str("CS82"));
    EXPECT_EQ(items[2]->Value, Variant::Date(At(2020, 4, 27, 22, 0, 0, 0)));
    EXPECT_EQ(items[3]->Value, Variant::UI4(827553));
    EXPECT_EQ(items[5]->Value, Variant::Date(At(2011, 3, 30, 23, 0, 0, 0))) << "-01:00 offset";
    EXPECT_EQ(items[0]->Timestamp, At(2026, 7, 17, 13, 20, 6, 0));
    // Every value has one of the kinds the capture uses.
    for (const auto& it : items) {
        VARTYPE t = it->Value.Type();
        EXPECT_TRUE(t == VT_UI2 || t == VT_BSTR || t == VT_DATE || t == VT_UI4 || t == VT_UI1)
            << it->ItemName << " " << t;
    }
}

TEST_F(Captures, SubscriptionPolledRefreshResponse) {
    auto r = ReadResponse<SubscriptionPolledRefreshResponse>(
        "subscriptionpolledrefresh_232.response.xml");
    EXPECT_FALSE(r->DataBufferOverflow);
    EXPECT_EQ(r->SubscriptionPolledRefreshResult->RcvTime, At(2026, 8, 24, 18, 12, 17, 624));
    EXPECT_EQ(r->SubscriptionPolledRefreshResult->ReplyTime, At(2026, 8, 24, 18, 12, 18, 2));
    EXPECT_EQ(r->SubscriptionPolledRefreshResult->ClientRequestHandle, "7hoCsQfNqZMpHuxH");
    EXPECT_TRUE(r->InvalidServerSubHandles.empty());
    ASSERT_EQ(r->RItemList.size(), 1u);
    EXPECT_EQ(r->RItemList[0]->SubscriptionHandle, "163121520");
    const auto& items = r->RItemList[0]->Items;
    ASSERT_EQ(items.size(), 31u);
    EXPECT_EQ(items[0]->ClientItemHandle, "Item1");
    EXPECT_EQ(items[0]->ItemName, "");
    EXPECT_EQ(items[0]->Value, Variant::R4(306));
    EXPECT_EQ(items[0]->Timestamp, At(2026, 8, 24, 16, 12, 16, 726));
    EXPECT_EQ(items[1]->Value, Variant::R4(5.5f));
    int floats = 0, ints = 0, uints = 0;
    for (const auto& it : items) {
        floats += it->Value.Type() == VT_R4;
        ints += it->Value.Type() == VT_I4;
        uints += it->Value.Type() == VT_UI4;
        EXPECT_EQ(it->Quality->QualityField, qualityBits::good);
        EXPECT_FALSE(it->ClientItemHandle.empty());
    }
    EXPECT_EQ(floats + ints + uints, 31);
    EXPECT_GT(floats, 0);
    EXPECT_GT(ints, 0);
    EXPECT_GT(uints, 0);
}

TEST_F(Captures, SubscriptionCancelResponse) {
    EXPECT_EQ(ReadResponse<SubscriptionCancelResponse>("subscriptioncancel_460.response.xml")
                  ->ClientRequestHandle,
              "g6SG8duDHQtsuaEI");
}

TEST_F(Captures, BrowseResponses) {
    auto a = ReadResponse<BrowseResponse>("browse_662.response.xml");
    EXPECT_FALSE(a->MoreElements);
    EXPECT_EQ(a->ContinuationPoint, "");
    ASSERT_EQ(a->Elements.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(a->Elements[i]->Name, "Folder" + std::to_string(i + 1));
        EXPECT_EQ(a->Elements[i]->ItemName, a->Elements[i]->Name);
        EXPECT_TRUE(a->Elements[i]->HasChildren);
        EXPECT_FALSE(a->Elements[i]->IsItem);
        EXPECT_TRUE(a->Elements[i]->Properties.empty());
    }
    auto b = ReadResponse<BrowseResponse>("browse_684.response.xml");
    ASSERT_EQ(b->Elements.size(), 32u);
    int items = 0, folders = 0;
    for (const auto& e : b->Elements) {
        if (!e->IsItem) {
            ++folders;
            continue;
        }
        ++items;
        EXPECT_EQ(e->ItemName, "Folder1/Folder4/Folder6/" + e->Name);
        ASSERT_EQ(e->Properties.size(), 2u) << e->Name;
        EXPECT_EQ(e->Properties[0]->Name, "ns1:dataType");
        EXPECT_EQ(e->Properties[0]->ItemName, e->Name);
        EXPECT_EQ(e->Properties[0]->ItemPath, "Folder1/Folder4/Folder6/");
        EXPECT_TRUE(e->Properties[0]->Value.IsString());
        EXPECT_EQ(e->Properties[0]->Value.RawString().substr(0, 4), "xsd:");
        EXPECT_EQ(e->Properties[1]->Name, "ns1:accessRights");
        EXPECT_EQ(e->Properties[1]->Value, Variant::Str("readable"));
    }
    EXPECT_EQ(items, 26);
    EXPECT_EQ(folders, 6);
    EXPECT_EQ(b->Elements[0]->Properties[0]->Value, Variant::Str("xsd:unsignedInt"));
}

TEST_F(Captures, GetPropertiesResponse) {
    auto r = ReadResponse<GetPropertiesResponse>("getproperties_116.response.xml");
    ASSERT_EQ(r->PropertyLists.size(), 1u);
    const PropertyReplyList& list = *r->PropertyLists[0];
    EXPECT_EQ(list.ItemName, "Folder1/Folder4/Folder5/Item1");
    EXPECT_EQ(list.ItemPath, "");
    ASSERT_EQ(list.Properties.size(), 7u);
    std::map<std::string, Variant> byName;
    for (const auto& p : list.Properties) byName[p->Name] = p->Value;
    EXPECT_EQ(byName["ns1:accessRights"], Variant::Str("readable"));
    EXPECT_EQ(byName["ns1:dataType"], Variant::Str("xsd:int"));
    EXPECT_EQ(byName["ns1:euType"], Variant::Str("noEnum"));
    EXPECT_EQ(byName["ns1:quality"], Variant::Str("good"));
    EXPECT_EQ(byName["ns1:scanRate"], Variant::R4(2310));
    EXPECT_EQ(byName["ns1:timestamp"], Variant::Date(At(2026, 8, 24, 14, 56, 27, 613)));
    EXPECT_EQ(byName["ns1:value"], Variant::I4(51));
    EXPECT_EQ(list.Properties[0]->Description, "Item access rights");
}

TEST_F(Captures, ReadsTheSameUnderAnotherZone) {
    ScopedTimeZone kolkata("Asia/Kolkata");
    auto r = ReadResponse<GetStatusResponse>("getstatus_639.response.xml");
    EXPECT_EQ(r->Status->StartTime, At(2026, 7, 23, 23, 13, 54, 890));
}

// ---- our requests beside the captured ones ---------------------------------------------------

TEST_F(Captures, GetStatusRequest) {
    EXPECT_EQ(RequestDiff("getstatus_632.request.xml", *test::CapturedGetStatus()), "");
}

TEST_F(Captures, BrowseRequests) {
    Browse b;
    b.BrowseFilter = browseFilter::all;
    b.ReturnPropertyValues = true;
    b.PropertyNames = {"dataType", "accessRights"};
    EXPECT_EQ(RequestDiff("browse_653.request.xml", b), "");
    b.ItemName = "Folder1/Folder4/Folder6";
    EXPECT_EQ(RequestDiff("browse_676.request.xml", b), "");
}

TEST_F(Captures, GetPropertiesRequest) {
    GetProperties g;
    g.LocaleID = "en";
    g.ClientRequestHandle = "TestClient";
    g.ReturnAllProperties = true;
    g.ReturnPropertyValues = true;
    g.ItemIDs.push_back(std::make_unique<ItemIdentifier>());
    g.ItemIDs[0]->ItemName = "Folder1/Folder4/Folder5/Item1";
    EXPECT_EQ(RequestDiff("getproperties_103.request.xml", g), "");
}

TEST_F(Captures, ReadRequest) {
    Read r;
    r.Options = std::make_unique<RequestOptions>();
    r.Options->ReturnItemTime = true;
    r.Options->ReturnItemPath = true;
    r.Options->ReturnItemName = true;
    r.ItemList.push_back(std::make_unique<ReadRequestItemList>());
    r.ItemList[0]->Items.push_back(std::make_unique<ItemValue>());
    r.ItemList[0]->Items[0]->ItemName = "Folder1/Folder2/Folder3/Folder4/Folder5/Folder6/Item1";
    r.ItemList[0]->Items[0]->ClientItemHandle = r.ItemList[0]->Items[0]->ItemName;
    EXPECT_EQ(RequestDiff("read_169.request.xml", r, Equivalent), "");
}

TEST_F(Captures, SubscriptionCancelRequest) {
    EXPECT_EQ(
        RequestDiff("subscriptioncancel_448.request.xml", *test::CapturedSubscriptionCancel()), "");
}

TEST_F(Captures, SubscriptionPolledRefreshRequest) {
    SubscriptionPolledRefresh p;
    p.Options = std::make_unique<RequestOptions>();
    p.Options->ReturnErrorText = true;
    p.Options->ReturnItemTime = true;
    p.Options->ClientRequestHandle = "7hoCsQfNqZMpHuxH";
    p.ServerSubHandles = {"163121520"};
    p.HoldTime = At(2026, 8, 24, 18, 12, 18, 0);
    p.WaitTime = 500;
    EXPECT_EQ(RequestDiff("subscriptionpolledrefresh_226.request.xml", p, Equivalent), "");
}
