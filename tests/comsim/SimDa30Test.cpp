// The simulated OPC DA 3.0 server as a client meets it: stateless browsing with continuation
// points and properties, item properties of many items at once, reads with a maximum age and
// VQT writes by item ID.
#include <map>
#include <set>

#include "SimServerTestSupport.h"

namespace velqor::test {
namespace {

class SimDa30Test : public SimServerTest {
  protected:
    void SetUp() override {
        SimServerTest::SetUp();
        browse_ = Create<IOPCBrowse>(u"Velqor.SimDA30.1");
        io_ = com::QueryAs<IOPCItemIO>(browse_);
        ASSERT_TRUE(browse_ && io_);
    }
    void TearDown() override {
        browse_ = {};
        io_ = {};
        SimServerTest::TearDown();
    }

    struct ReadCopy {
        HRESULT Result;
        std::vector<Variant> Values;
        std::vector<WORD> Qualities;
        std::vector<FILETIME> Times;
        std::vector<HRESULT> Errors;
    };
    ReadCopy Read(std::vector<std::u16string> ids, DWORD maxAge = 0) {
        std::vector<LPCWSTR> p;
        for (const auto& id : ids) p.push_back(id.c_str());
        std::vector<DWORD> ages(ids.size(), maxAge);
        VARIANT* v = nullptr;
        WORD* q = nullptr;
        FILETIME* t = nullptr;
        HRESULT* e = nullptr;
        ReadCopy out{
            io_->Read(static_cast<DWORD>(ids.size()), p.data(), ages.data(), &v, &q, &t, &e),
            {},
            {},
            {},
            {}};
        for (std::size_t i = 0; v && i < ids.size(); ++i) {
            out.Values.push_back(VariantFromOle(v[i]));
            VariantClear(&v[i]);
            out.Qualities.push_back(q[i]);
            out.Times.push_back(t[i]);
            out.Errors.push_back(e[i]);
        }
        for (void* a : {static_cast<void*>(v), static_cast<void*>(q), static_cast<void*>(t),
                        static_cast<void*>(e)})
            CoTaskMemFree(a);
        return out;
    }
    HRESULT Write(const std::u16string& id, const Variant& value, HRESULT& itemError,
                  int quality = -1, FILETIME time = {}) {
        LPCWSTR ids[] = {id.c_str()};
        OPCITEMVQT vqt{};
        VariantInit(&vqt.vDataValue);
        VariantToOle(value, vqt.vDataValue);
        vqt.bQualitySpecified = quality >= 0;
        vqt.wQuality = static_cast<WORD>(quality < 0 ? 0 : quality);
        vqt.bTimeStampSpecified = time.dwHighDateTime != 0;
        vqt.ftTimeStamp = time;
        HRESULT* errors = nullptr;
        HRESULT hr = io_->WriteVQT(1, ids, &vqt, &errors);
        VariantClear(&vqt.vDataValue);
        itemError = errors ? errors[0] : E_POINTER;
        CoTaskMemFree(errors);
        return hr;
    }

    com::ComPtr<IOPCBrowse> browse_;
    com::ComPtr<IOPCItemIO> io_;
};

std::vector<std::string> Names(const BrowseCopy& b) {
    std::vector<std::string> out;
    for (const auto& e : b.Elements) out.push_back(e.Name);
    return out;
}

TEST_F(SimDa30Test, BrowsesByItemIdWithFiltersAndFlags) {
    BrowseCopy root = Browse(browse_.Get(), {});
    ASSERT_EQ(root.Result, S_OK);
    EXPECT_TRUE(root.Continuation.empty());
    EXPECT_FALSE(root.More);
    for (const auto& e : root.Elements) {
        EXPECT_EQ(e.Flags, OPC_BROWSE_HASCHILDREN) << e.Name;
        EXPECT_EQ(e.ItemId, e.Name) << "a branch carries the ID to browse it by";
    }

    struct Case {
        const char16_t* position;
        OPCBROWSEFILTER filter;
        const char16_t* nameFilter;
        const char16_t* vendorFilter;
        HRESULT result;
        std::vector<std::string> names;
    };
    const std::vector<std::string> tank{"Level", "Temperature", "Setpoint", "Valve"};
    const Case cases[] = {
        {u"Plant/Area1/Tank1", OPC_BROWSE_FILTER_ALL, u"", u"", S_OK, tank},
        {u"Plant/Area1/Tank1", OPC_BROWSE_FILTER_ITEMS, u"", u"", S_OK, tank},
        {u"Plant/Area1/Tank1", OPC_BROWSE_FILTER_BRANCHES, u"", u"", S_FALSE, {}},
        {u"Plant/Area1/Tank1", OPC_BROWSE_FILTER_ALL, u"*e?el", u"", S_OK, {"Level"}},
        {u"Plant/Area1/Tank1", OPC_BROWSE_FILTER_ALL, u"", u"AnyVendor*", S_OK, tank},
        {u"Plant", OPC_BROWSE_FILTER_BRANCHES, u"", u"", S_OK, {"Area1", "Area2"}},
        {u"Plant", OPC_BROWSE_FILTER_ITEMS, u"", u"", S_FALSE, {}},
        {u"Plant/Area1/Tank1/Level", OPC_BROWSE_FILTER_ALL, u"", u"", S_FALSE, {}},
        {u"Plant/Nowhere", OPC_BROWSE_FILTER_ALL, u"", u"", OPC_E_UNKNOWNITEMID, {}},
        {u"Plant", OPCBROWSEFILTER(0), u"", u"", E_INVALIDARG, {}},
    };
    for (const Case& c : cases) {
        BrowseRequest r;
        r.ItemId = c.position;
        r.Filter = c.filter;
        r.NameFilter = c.nameFilter;
        r.VendorFilter = c.vendorFilter;
        BrowseCopy b = Browse(browse_.Get(), r);
        SCOPED_TRACE(com::Utf16ToUtf8(c.position));
        EXPECT_EQ(b.Result, c.result);
        EXPECT_EQ(Names(b), c.names);
        for (const auto& e : b.Elements) {
            if (e.Name == "Level") {
                EXPECT_EQ(e.ItemId, "Plant/Area1/Tank1/Level");
            }
            if (c.filter == OPC_BROWSE_FILTER_ITEMS) {
                EXPECT_EQ(e.Flags, OPC_BROWSE_ISITEM);
            }
        }
    }
}

TEST_F(SimDa30Test, ContinuationPointsHandOutEveryElementOnceInPortions) {
    BrowseRequest r;
    r.ItemId = u"Load";
    r.Max = 4000;
    std::vector<std::string> all;
    std::vector<std::size_t> portions;
    for (int call = 0; call < 5; ++call) {
        BrowseCopy b = Browse(browse_.Get(), r);
        ASSERT_EQ(b.Result, S_OK);
        EXPECT_FALSE(b.More) << "more elements come through the continuation point";
        portions.push_back(b.Elements.size());
        for (auto& n : Names(b)) all.push_back(n);
        if (b.Continuation.empty()) break;
        r.Continuation = com::Utf8ToUtf16(b.Continuation);
    }
    EXPECT_EQ(portions, (std::vector<std::size_t>{4000, 4000, 2000}));
    ASSERT_EQ(all.size(), 10000u);
    EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), 10000u);
    EXPECT_EQ(all.front(), "Item00000");
    EXPECT_EQ(all.back(), "Item09999");

    struct Bad {
        const char16_t* position;
        const char16_t* continuation;
    };
    for (Bad bad : {Bad{u"Load", u"garbage"}, Bad{u"Load", u"0@Load"}, Bad{u"Load", u"99999@Load"},
                    Bad{u"Static", u"4000@Load"}}) {
        BrowseRequest q;
        q.ItemId = bad.position;
        q.Continuation = bad.continuation;
        BrowseCopy b = Browse(browse_.Get(), q);
        EXPECT_EQ(b.Result, OPC_E_INVALIDCONTINUATIONPOINT) << com::Utf16ToUtf8(bad.continuation);
        EXPECT_TRUE(b.Elements.empty());
    }
}

TEST_F(SimDa30Test, ElementsCarryTheirPropertiesOnRequest) {
    BrowseRequest r;
    r.ItemId = u"Plant/Area1/Tank1";
    r.Values = true;
    r.PropertyIds = {OPC_PROPERTY_DATATYPE, OPC_PROPERTY_ACCESS_RIGHTS};
    BrowseCopy b = Browse(browse_.Get(), r);
    ASSERT_EQ(b.Elements.size(), 4u);
    for (const auto& e : b.Elements) {
        ASSERT_EQ(e.Properties.Properties.size(), 2u) << e.Name;
        EXPECT_EQ(e.Properties.Properties[0].Value.AsInt32(), e.Name == "Valve" ? VT_I4 : VT_R8);
        EXPECT_EQ(e.Properties.Properties[1].Value.AsInt32(),
                  e.Name == "Setpoint" ? 3 : int(OPC_READABLE));
    }

    r.ItemId = u"WriteOnly";
    r.PropertyIds = {OPC_PROPERTY_VALUE, OPC_PROPERTY_ACCESS_RIGHTS};
    b = Browse(browse_.Get(), r);
    ASSERT_FALSE(b.Elements.empty());
    for (const auto& e : b.Elements) {
        EXPECT_EQ(e.Properties.Error, S_FALSE) << e.Name;
        EXPECT_EQ(e.Properties.Properties[0].Error, OPC_E_BADRIGHTS) << "write-only";
        EXPECT_EQ(e.Properties.Properties[1].Value.AsInt32(), int(OPC_WRITEABLE));
    }

    r.ItemId = u"Plant/Area2/Pump1";
    r.NameFilter = u"Speed";
    r.Values = false;
    r.PropertyIds = {};
    r.AllProperties = true;
    b = Browse(browse_.Get(), r);
    ASSERT_EQ(b.Elements.size(), 1u);
    std::map<DWORD, std::string> described;
    for (const auto& p : b.Elements[0].Properties.Properties) {
        described[p.Id] = p.Description;
        EXPECT_TRUE(p.Value.IsEmpty()) << "no values asked for";
    }
    EXPECT_EQ(described[OPC_PROPERTY_EU_UNITS], "EU Units");
    EXPECT_EQ(described[OPC_PROPERTY_HIGH_EU], "High EU");
}

TEST_F(SimDa30Test, GetPropertiesAnswersEachItemWithItsOwnResult) {
    struct Case {
        bool values;
        std::vector<DWORD> ids;
        HRESULT result;
        std::vector<HRESULT> itemErrors;
    };
    std::vector<std::u16string> items{u"Plant/Area1/Tank1/Level", u"WriteOnly/Int",
                                      u"Plant/Nowhere", u"", u"Plant"};
    const std::vector<HRESULT> missing{OPC_E_UNKNOWNITEMID, OPC_E_INVALIDITEMID,
                                       OPC_E_UNKNOWNITEMID};
    const Case cases[] = {
        {true, {}, S_FALSE, {S_OK, S_FALSE}},
        {false, {}, S_FALSE, {S_OK, S_OK}},
        {true, {OPC_PROPERTY_HIGH_EU, 999, OPC_PROPERTY_DATATYPE}, S_FALSE, {S_FALSE, S_FALSE}},
    };
    for (const Case& c : cases) {
        std::vector<LPWSTR> p;
        for (auto& id : items) p.push_back(id.data());
        std::vector<DWORD> ids = c.ids;
        OPCITEMPROPERTIES* results = nullptr;
        ASSERT_EQ(browse_->GetProperties(static_cast<DWORD>(p.size()), p.data(), c.values,
                                         static_cast<DWORD>(ids.size()), ids.data(), &results),
                  c.result);
        ASSERT_NE(results, nullptr);
        std::vector<ItemPropertiesCopy> got;
        for (std::size_t i = 0; i < items.size(); ++i) got.push_back(TakeProperties(results[i]));
        CoTaskMemFree(results);

        for (std::size_t i = 0; i < items.size(); ++i) {
            HRESULT want = i < 2 ? c.itemErrors[i] : missing[i - 2];
            EXPECT_EQ(got[i].Error, want) << i;
            if (i >= 2) {
                EXPECT_TRUE(got[i].Properties.empty());
            }
        }
        const auto& level = got[0].Properties;
        if (!c.ids.empty()) {
            ASSERT_EQ(level.size(), 3u) << "in the order asked for";
            EXPECT_EQ(level[0].Value.AsDouble(), 10.0);
            EXPECT_EQ(level[1].Error, OPC_E_INVALID_PID);
            EXPECT_EQ(level[2].Value.AsInt32(), VT_R8);
            continue;
        }
        for (const auto& prop : got[1].Properties) {
            bool hidden = prop.Id == OPC_PROPERTY_VALUE || prop.Id == OPC_PROPERTY_QUALITY ||
                          prop.Id == OPC_PROPERTY_TIMESTAMP;
            EXPECT_EQ(prop.Error, c.values && hidden ? OPC_E_BADRIGHTS : S_OK) << prop.Id;
        }
        for (const auto& prop : level)
            if (prop.Id == OPC_PROPERTY_LOW_EU) {
                EXPECT_EQ(prop.Value.IsEmpty(), !c.values);
            }
    }
}

TEST_F(SimDa30Test, ReadsByItemIdAndServesTheCacheWithinMaxAge) {
    ReadCopy r = Read({u"Plant/Area1/Tank1/Level", u"Static/Arrays/ArrayOfInt", u"WriteOnly/Int",
                       u"Special/BadQuality", u"Nothing"});
    EXPECT_EQ(r.Result, S_FALSE);
    ASSERT_EQ(r.Values.size(), 5u);
    EXPECT_EQ(r.Errors,
              (std::vector<HRESULT>{S_OK, S_OK, OPC_E_BADRIGHTS, S_OK, OPC_E_UNKNOWNITEMID}));
    EXPECT_EQ(r.Values[0].Type(), VT_R8);
    EXPECT_EQ(r.Qualities[0], OPC_QUALITY_GOOD);
    EXPECT_NE(r.Times[0].dwHighDateTime, 0u);
    EXPECT_EQ(r.Values[1].Type(), VT_ARRAY | VT_I4);
    EXPECT_TRUE(r.Values[2].IsEmpty());
    EXPECT_EQ(r.Qualities[2], OPC_QUALITY_BAD);
    EXPECT_EQ(r.Qualities[3], OPC_QUALITY_SENSOR_FAILURE);

    // A device read fills the cache; a read that accepts any age is served from it.
    ReadCopy device = Read({u"Dynamic/Double"}, 0);
    ReadCopy cached = Read({u"Dynamic/Double"}, 0xFFFFFFFFu);
    ASSERT_EQ(cached.Errors, (std::vector<HRESULT>{S_OK}));
    EXPECT_EQ(cached.Times[0].dwLowDateTime, device.Times[0].dwLowDateTime);
    EXPECT_EQ(cached.Values[0].AsDouble(), device.Values[0].AsDouble());
}

TEST_F(SimDa30Test, WritesValueAndTimestampAndRefusesWhatTheItemCannotTake) {
    FILETIME stamp = LocalDateTimeToFileTime(45000.5);
    struct Case {
        const char16_t* id;
        Variant value;
        int quality;
        FILETIME time;
        HRESULT item;
    };
    const Case cases[] = {
        {u"Writable/Int", Variant::I4(42), -1, {}, S_OK},
        {u"Writable/Int", Variant::Str("12"), -1, {}, S_OK},
        {u"Writable/Long", Variant::Int(-5), -1, {}, S_OK},
        {u"Writable/Int", Variant::Str("twelve"), -1, {}, OPC_E_BADTYPE},
        {u"Writable/Short", Variant::I4(70000), -1, {}, OPC_E_RANGE},
        {u"Plant/Area1/Tank1/Setpoint", Variant::R8(20.0), -1, {}, OPC_E_RANGE},
        {u"Plant/Area1/Tank1/Setpoint", Variant::R8(4.5), -1, stamp, S_OK},
        {u"Writable/Double", Variant::R8(1.0), OPC_QUALITY_GOOD, {}, OPC_E_NOTSUPPORTED},
        {u"Static/Int", Variant::I4(1), -1, {}, OPC_E_BADRIGHTS},
        {u"WriteOnly/Double", Variant::R8(2.5), -1, {}, S_OK},
        {u"Writable/Arrays/ArrayOfInt",
         Variant::Array(VT_I4, {Variant::I4(1), Variant::I4(2), Variant::I4(3)}),
         -1,
         {},
         S_OK},
        {u"Nothing", Variant::I4(1), -1, {}, OPC_E_UNKNOWNITEMID},
    };
    for (const Case& c : cases) {
        HRESULT item = S_OK;
        EXPECT_EQ(Write(c.id, c.value, item, c.quality, c.time), c.item == S_OK ? S_OK : S_FALSE)
            << com::Utf16ToUtf8(c.id);
        EXPECT_EQ(item, c.item) << com::Utf16ToUtf8(c.id);
    }
    ReadCopy r =
        Read({u"Writable/Int", u"Plant/Area1/Tank1/Setpoint", u"Writable/Arrays/ArrayOfInt"});
    ASSERT_EQ(r.Errors, (std::vector<HRESULT>(3, S_OK)));
    EXPECT_EQ(r.Values[0].AsInt32(), 12) << "the last accepted write";
    EXPECT_EQ(r.Values[1].AsDouble(), 4.5);
    EXPECT_EQ(r.Times[1].dwHighDateTime, stamp.dwHighDateTime) << "the written timestamp";
    EXPECT_EQ(r.Times[1].dwLowDateTime, stamp.dwLowDateTime);
    EXPECT_EQ(r.Values[2].ArrayData().Elements.size(), 3u);
}

TEST_F(SimDa30Test, RunningOutOfMemoryFailsTheCallAndLeavesNothingAllocated) {
    std::u16string level = u"Plant/Area1/Tank1/Level", command = u"Plant/Area2/Pump1/Command";
    LPWSTR items[] = {level.data(), command.data()};
    auto server = com::QueryAs<IOPCServer>(browse_);
    int succeeded = 0;
    for (int budget = 0; budget < 120; ++budget) {
        com::FailAllocationsAfter(budget);
        OPCSERVERSTATUS* status = nullptr;
        HRESULT got = server->GetStatus(&status);
        EXPECT_EQ(got == S_OK, status != nullptr);
        EXPECT_TRUE(got == S_OK || got == E_OUTOFMEMORY);
        if (status) CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
        LPWSTR text = nullptr;
        server->GetErrorString(OPC_E_BADRIGHTS, 0, &text);
        CoTaskMemFree(text);

        OPCITEMPROPERTIES* results = nullptr;
        HRESULT hr = browse_->GetProperties(2, items, TRUE, 0, nullptr, &results);
        EXPECT_TRUE(hr == E_OUTOFMEMORY || hr == S_FALSE) << budget;
        EXPECT_EQ(results == nullptr, hr == E_OUTOFMEMORY) << budget;
        for (int i = 0; results && i < 2; ++i) TakeProperties(results[i]);
        CoTaskMemFree(results);

        BrowseRequest r;
        r.ItemId = u"Plant/Area2/Pump1";
        r.Max = 2;
        r.AllProperties = r.Values = true;
        BrowseCopy b = Browse(browse_.Get(), r);
        EXPECT_TRUE(b.Result == E_OUTOFMEMORY || b.Result == S_OK) << budget;
        EXPECT_EQ(b.Continuation.empty(), b.Result == E_OUTOFMEMORY) << budget;
        succeeded += b.Result == S_OK;

        Read({level, command, u"Static/String"});
        com::FailAllocationsAfter(-1);
    }
    EXPECT_GT(succeeded, 0) << "the budget reaches a complete answer";
}

}  // namespace
}  // namespace velqor::test
