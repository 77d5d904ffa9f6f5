// Message records: field tables in declaration order, base fields first, ownership, creation by
// class name, and the XML-DA operation table.
#include <gtest/gtest.h>

#include "xmlda/OpcXmlDa.h"

using namespace velqor;
using namespace velqor::xmlda;

namespace {

// "Name:kind:attr|elem:type" for every field of a record class.
std::vector<std::string> Describe(const RecordClass& cls) {
    static const char* kinds[] = {"ansi",   "wide",    "char",    "int",  "int64",
                                  "float",  "bool",    "enum",    "set",  "variant",
                                  "record", "records", "strings", "other"};
    std::vector<std::string> out;
    for (const FieldInfo* f : cls.Fields())
        out.push_back(std::string(f->Name) + ":" + kinds[int(f->Kind)] + ":" +
                      (f->IsAttribute ? "attr" : "elem") + ":" + std::string(f->TypeName));
    return out;
}

struct Counted : TRemotable {
    static inline int Alive = 0;
    std::string Tag;
    Counted() { ++Alive; }
    ~Counted() override { --Alive; }
    VELQOR_RECORD(Counted, TRemotable, VELQOR_ATTR(Tag))
};
struct Holder : TRemotable {
    std::unique_ptr<Counted> One;
    std::vector<std::unique_ptr<Counted>> Many;
    VELQOR_RECORD(Holder, TRemotable, VELQOR_ELEM(One), VELQOR_ELEM(Many))
};
struct Derived : Holder {
    int32_t Extra = 0;
    VELQOR_RECORD(Derived, Holder, VELQOR_ATTR(Extra))
};

// Enumeration ordinals are wire-relevant: pin them.
static_assert(int(serverState::commFault) == 5);
static_assert(int(qualityBits::goodLocalOverride) == 15);
static_assert(int(qualityBits::uncertain) == 10);
static_assert(int(browseFilter::item) == 2);

}  // namespace

TEST(Records, FieldsInDeclarationOrder) {
    EXPECT_EQ(Describe(ItemValue::StaticClass()),
              (std::vector<std::string>{
                  "DiagnosticInfo:wide:elem:WideString", "Value:variant:elem:Variant",
                  "Quality:record:elem:OPCQuality", "ItemPath:wide:attr:WideString",
                  "ItemName:wide:attr:WideString", "ClientItemHandle:wide:attr:WideString",
                  "Timestamp:float:attr:TDateTime", "ResultID:wide:attr:WideString",
                  "ValueTypeQualifier:wide:attr:WideString", "ReqType:wide:attr:WideString",
                  "MaxAge:int:attr:Integer"}));
    EXPECT_EQ(
        Describe(OPCQuality::StaticClass()),
        (std::vector<std::string>{"QualityField:enum:attr:qualityBits",
                                  "LimitField:wide:attr:WideString", "VendorField:int:attr:Byte"}));
    EXPECT_EQ(Describe(SubscriptionPolledRefreshResponse::StaticClass()),
              (std::vector<std::string>{
                  "SubscriptionPolledRefreshResult:record:elem:ReplyBase",
                  "InvalidServerSubHandles:strings:elem:WideString",
                  "RItemList:records:elem:SubscribePolledRefreshReplyItemList",
                  "Errors:records:elem:OPCError", "DataBufferOverflow:bool:attr:Boolean"}));
    EXPECT_EQ(Describe(SubscribeRequestItemList::StaticClass()),
              (std::vector<std::string>{
                  "ItemPath:wide:attr:WideString", "ReqType:wide:attr:WideString",
                  "Deadband:float:attr:Single", "RequestedSamplingRate:int:attr:Integer",
                  "EnableBuffering:bool:attr:Boolean", "Items:records:elem:SubscribeRequestItem"}));
    EXPECT_EQ(Describe(Browse::StaticClass()).size(), 13u);
    EXPECT_EQ(Describe(Browse::StaticClass())[6], "BrowseFilter:enum:attr:browseFilter");
    EXPECT_EQ(Describe(ServerStatus::StaticClass())[3],
              "SupportedInterfaceVersions:enum:elem:interfaceVersion");
    EXPECT_EQ(Describe(SubscribeItemValue::StaticClass())[0], "ItemValue:record:elem:ItemValue");
    const FieldInfo* vendor = OPCQuality::StaticClass().Field("VendorField");
    ASSERT_TRUE(vendor);
    EXPECT_EQ(vendor->Min, 0);
    EXPECT_EQ(vendor->Max, 255);
}

TEST(Records, BaseFieldsComeFirst) {
    EXPECT_EQ(Describe(Derived::StaticClass()),
              (std::vector<std::string>{"One:record:elem:Counted", "Many:records:elem:Counted",
                                        "Extra:int:attr:Integer"}));
    EXPECT_EQ(Derived::StaticClass().Base(), &Holder::StaticClass());
    Derived d;
    EXPECT_EQ(&static_cast<TRemotable&>(d).Class(), &Derived::StaticClass());
}

TEST(Records, RecordsOwnWhatTheyHold) {
    {
        auto h = std::make_unique<Holder>();
        const FieldInfo& one = *Holder::StaticClass().Fields()[0];
        const FieldInfo& many = *Holder::StaticClass().Fields()[1];
        one.SetRecord(*h, std::make_unique<Counted>());
        many.SetLength(*h, 3);
        for (size_t i = 0; i < 3; ++i) many.SetItem(*h, i, Counted::StaticClass().Create());
        EXPECT_EQ(Counted::Alive, 4);
        EXPECT_EQ(many.Length(*h), 3u);
        EXPECT_EQ(many.GetItem(*h, 1)->Class().Name(), "Counted");
        one.SetRecord(*h, std::make_unique<Counted>());  // replacing frees the old one
        EXPECT_EQ(Counted::Alive, 4);
    }
    EXPECT_EQ(Counted::Alive, 0);
}

TEST(Records, CreatedByClassName) {
    const RecordClass* cls = FindRecordClass("GetPropertiesResponse");
    ASSERT_TRUE(cls);
    auto r = cls->Create();
    EXPECT_EQ(r->Class().Name(), "GetPropertiesResponse");
    EXPECT_EQ(FindRecordClass("NoSuchRecord"), nullptr);
    // New records are empty.
    ItemValue v;
    EXPECT_TRUE(v.Value.IsEmpty());
    EXPECT_FALSE(v.Quality);
    EXPECT_EQ(v.Timestamp, 0.0);
    EXPECT_EQ(v.MaxAge, 0);
}

TEST(Records, EnumerationsByName) {
    EXPECT_EQ(EnumName(serverState::noConfig), "noConfig");
    EXPECT_EQ(EnumName(qualityBits::badWaitingForInitialData), "badWaitingForInitialData");
    EXPECT_EQ(EnumInfo<qualityBits>().Values.size(), 16u);
    EXPECT_EQ(EnumInfo<browseFilter>().IndexOf("BRANCH"), 1);
    EXPECT_EQ(EnumInfo<browseFilter>().IndexOf("tree"), -1);
    EXPECT_EQ(EnumInfo<interfaceVersion>().Name, "interfaceVersion");
}

TEST(Records, OperationTable) {
    ASSERT_EQ(std::size(kXmlDaOperations), 8u);
    const char* names[] = {
        "GetStatus",          "Read",   "Write",        "Subscribe", "SubscriptionPolledRefresh",
        "SubscriptionCancel", "Browse", "GetProperties"};
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(kXmlDaOperations[i].Name, names[i]);
        EXPECT_EQ(kXmlDaOperations[i].Request().Name(), names[i]);
        EXPECT_EQ(kXmlDaOperations[i].Reply().Name(), std::string(names[i]) + "Response");
    }
    EXPECT_EQ(XmlDaSOAPAction("GetStatus"),
              "http://opcfoundation.org/webservices/XMLDA/1.0/GetStatus");
    static_assert(
        std::is_same_v<XmlDaReply<SubscriptionPolledRefresh>, SubscriptionPolledRefreshResponse>);
}
