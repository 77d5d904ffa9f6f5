// The fault switches of the simulated servers: how they are written, and what each does to the
// answers a client gets.
#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "SimServerTestSupport.h"

namespace velqor::test {
namespace {

TEST(SimFaultSwitches, ParseEveryWordAndRefuseWhatTheyCannotTake) {
    sim::SimFaults expected;
    expected.SlowCallMs = 200;
    expected.RefusedBrowsePositions = {"Plant/Area1"};
    expected.ReadErrorItems = {"Static/Int", "Static/Double"};
    expected.WriteErrorItems = {"Writable/Int"};
    expected.PropertyErrorItems = {"Plant/Area1/Tank1/Level"};
    expected.AddErrorItems = {"Load/Item00001"};
    expected.SFalseWithErrors = true;
    expected.OutArrays = sim::OutArrayFault::Short;
    expected.CallbacksAfterUnadvise = true;
    expected.EmptyProperties = true;
    EXPECT_EQ(sim::ParseSimFaults(" slow=200, refuse-browse=Plant/Area1,read-error=Static/Int,"
                                  "read-error = Static/Double,write-error=Writable/Int,,"
                                  "property-error=Plant/Area1/Tank1/Level,add-error=Load/Item00001,"
                                  "sfalse,arrays=short,callbacks-after-unadvise,empty-properties"),
              expected);
    EXPECT_EQ(sim::ParseSimFaults("arrays=null").OutArrays, sim::OutArrayFault::Null);
    EXPECT_EQ(sim::ParseSimFaults("shutdown-after=1500").ShutdownAfterMs, 1500);
    const sim::SimFaults load = sim::ParseSimFaults("load-items=50000, load-period=50");
    EXPECT_EQ(load.LoadItems, 50000);
    EXPECT_EQ(load.LoadPeriodMs, 50);
    EXPECT_EQ(sim::ParseSimFaults(""), sim::SimFaults{});

    for (const char* bad : {"slow", "slow=-1", "slow=12ms", "slow=999999", "bogus", "arrays=long",
                            "read-error=", "sfalse=1", "sfalse,refuse-browse", "shutdown-after",
                            "load-period=0", "load-items=100001", "load-items"}) {
        try {
            sim::ParseSimFaults(bad);
            ADD_FAILURE() << bad << " was taken";
        } catch (const std::invalid_argument& e) {
            std::string what = e.what();
            EXPECT_NE(what.find("VELQOR_COMSIM_FAULTS"), std::string::npos) << what;
            EXPECT_NE(what.find("known:"), std::string::npos) << what;
        }
    }
}

class SimFaultsTest : public SimServerTest {
  protected:
    void SetFaults(const char* text) { sim::SetSimFaults(sim::ParseSimFaults(text)); }
};

TEST_F(SimFaultsTest, TheEnvironmentSetsTheSwitchesAtRegistrationOrIsRefusedWhole) {
    setenv(sim::kSimFaultsVariable, "read-error=Static/Int,slow=1", 1);
    sim::RegisterSimulatedServers();
    EXPECT_EQ(sim::CurrentSimFaults()->ReadErrorItems, std::set<std::string>{"Static/Int"});
    EXPECT_EQ(sim::CurrentSimFaults()->SlowCallMs, 1);

    setenv(sim::kSimFaultsVariable, "read-error=Static/Double,sloww=5", 1);
    testing::internal::CaptureStderr();
    sim::RegisterSimulatedServers();
    std::string message = testing::internal::GetCapturedStderr();
    unsetenv(sim::kSimFaultsVariable);
    EXPECT_NE(message.find("unknown switch \"sloww=5\""), std::string::npos) << message;
    EXPECT_EQ(sim::CurrentSimFaults()->ReadErrorItems, std::set<std::string>{"Static/Int"})
        << "a refused value changes nothing";
}

TEST_F(SimFaultsTest, LoadSwitchesShapeTheLoadBranchOfTheNextPlant) {
    SetFaults("load-items=3,load-period=40");
    auto props = Create<IOPCItemProperties>(u"Velqor.SimDA20");
    DWORD scanRate[] = {OPC_PROPERTY_SCAN_RATE};
    struct Case {
        const char16_t* id;
        HRESULT expected;
        float rate;
    };
    for (Case c :
         {Case{u"Load/Item00002", S_OK, 40.0f}, Case{u"Load/Item00003", OPC_E_UNKNOWNITEMID, 0}}) {
        VARIANT* values = nullptr;
        HRESULT* errors = nullptr;
        ASSERT_EQ(props->GetItemProperties(const_cast<LPWSTR>(c.id), 1, scanRate, &values, &errors),
                  c.expected);
        if (FAILED(c.expected)) continue;
        EXPECT_EQ(values[0].vt, VT_R4);
        EXPECT_EQ(values[0].fltVal, c.rate) << "the load items change every 40 ms";
        CoTaskMemFree(values);
        CoTaskMemFree(errors);
    }
}

TEST_F(SimFaultsTest, SwitchesChangedFromAnotherThreadHoldWholeForEachCall) {
    auto io = Create<IOPCItemIO>(u"Velqor.SimDA30");
    SetFaults("sfalse");
    std::atomic<bool> done{false};
    std::thread setter([&] {
        for (int i = 0; !done; ++i) SetFaults(i % 2 ? "read-error=Static/Int" : "sfalse");
    });
    LPCWSTR ids[] = {u"Static/Int", u"Static/Double"};
    DWORD ages[] = {0, 0};
    for (int call = 0; call < 200; ++call) {
        VARIANT* v = nullptr;
        WORD* q = nullptr;
        FILETIME* t = nullptr;
        HRESULT* e = nullptr;
        EXPECT_EQ(io->Read(2, ids, ages, &v, &q, &t, &e), S_FALSE);
        EXPECT_EQ(e[0], sim::kSimItemFault);
        EXPECT_TRUE(e[1] == S_OK || e[1] == sim::kSimItemFault);
        for (int i = 0; i < 2; ++i) VariantClear(&v[i]);
        for (void* a : {static_cast<void*>(v), static_cast<void*>(q), static_cast<void*>(t),
                        static_cast<void*>(e)})
            CoTaskMemFree(a);
    }
    done = true;
    setter.join();
}

TEST_F(SimFaultsTest, SlowCallsWaitOnEveryInterfaceOfEveryGeneration) {
    SetFaults("slow=1");
    auto da10 = Create<IOPCServer>(u"Velqor.SimDA10");
    auto da30 = Create<IOPCBrowse>(u"Velqor.SimDA30");
    auto before = sim::SimDelayedCalls();
    OPCNAMESPACETYPE ns{};
    EXPECT_EQ(com::QueryAs<IOPCBrowseServerAddressSpace>(da10)->QueryOrganization(&ns), S_OK);
    EXPECT_EQ(Browse(da30.Get(), {}).Result, S_OK);
    LCID lcid = 0;
    EXPECT_EQ(com::QueryAs<IOPCCommon>(da30)->GetLocaleID(&lcid), S_OK);
    EXPECT_EQ(sim::SimDelayedCalls() - before, 3u);
}

TEST_F(SimFaultsTest, ARefusedBrowsePositionCannotBeEnteredOrListed) {
    SetFaults("refuse-browse=Plant/Area1");
    for (const char16_t* progId : {u"Velqor.SimDA10", u"Velqor.SimDA20"}) {
        auto browse = Create<IOPCBrowseServerAddressSpace>(progId);
        EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_TO, u"Plant/Area1"), E_ACCESSDENIED);
        ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_TO, u"Plant"), S_OK);
        EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Area1"), E_ACCESSDENIED);
        EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Area2"), S_OK);
        ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_UP, u""), S_OK);
        com::ComPtr<IEnumString> names;
        ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, u"", VT_EMPTY, 0, names.Put()), S_OK);
        std::vector<std::string> flat;
        LPOLESTR s = nullptr;
        while (names->Next(1, &s, nullptr) == S_OK) flat.push_back(TakeTaskText(s));
        EXPECT_EQ(flat, (std::vector<std::string>{
                            "Plant/Area2/Pump1/Speed", "Plant/Area2/Pump1/Running",
                            "Plant/Area2/Pump1/Mode", "Plant/Area2/Pump1/Command"}));
    }
    auto da30 = Create<IOPCBrowse>(u"Velqor.SimDA30");
    BrowseRequest r;
    r.ItemId = u"Plant/Area1";
    EXPECT_EQ(Browse(da30.Get(), r).Result, E_ACCESSDENIED);
    r.ItemId = u"Plant";
    EXPECT_EQ(Browse(da30.Get(), r).Elements.size(), 2u) << "still listed by its parent";
}

// One call per interface that answers per item, as each fault switch leaves it.
struct ItemCallAnswer {
    HRESULT Result;
    bool NullArrays;
    std::vector<HRESULT> Errors;
};

class ArrayFaults : public SimFaultsTest {
  protected:
    void SetUp() override {
        SimFaultsTest::SetUp();
        da30_ = Create<IOPCBrowse>(u"Velqor.SimDA30");
        io_ = com::QueryAs<IOPCItemIO>(da30_);
        props_ = Create<IOPCItemProperties>(u"Velqor.SimDA20");
    }
    void TearDown() override {
        da30_ = {};
        io_ = {};
        props_ = {};
        SimFaultsTest::TearDown();
    }
    std::vector<ItemCallAnswer> CallEach() {
        std::vector<ItemCallAnswer> out;
        LPCWSTR ids[] = {u"Writable/Int", u"Plant/Area1/Tank1/Level"};
        LPWSTR wide[] = {const_cast<LPWSTR>(ids[0]), const_cast<LPWSTR>(ids[1])};
        DWORD pids[] = {OPC_PROPERTY_DATATYPE, OPC_PROPERTY_ACCESS_RIGHTS};

        OPCITEMPROPERTIES* results = nullptr;
        HRESULT hr = da30_->GetProperties(2, wide, TRUE, 2, pids, &results);
        ItemCallAnswer a{hr, results == nullptr, {}};
        for (int i = 0; results && i < 2; ++i) {
            a.Errors.push_back(results[i].hrErrorID);
            TakeProperties(results[i]);
        }
        CoTaskMemFree(results);
        out.push_back(a);

        VARIANT* v = nullptr;
        WORD* q = nullptr;
        FILETIME* t = nullptr;
        HRESULT* e = nullptr;
        DWORD ages[] = {0, 0};
        hr = io_->Read(2, ids, ages, &v, &q, &t, &e);
        a = {hr, !v && !q && !t && !e, {}};
        for (int i = 0; e && i < 2; ++i) {
            a.Errors.push_back(e[i]);
            VariantClear(&v[i]);
        }
        for (void* p : {static_cast<void*>(v), static_cast<void*>(q), static_cast<void*>(t),
                        static_cast<void*>(e)})
            CoTaskMemFree(p);
        out.push_back(a);

        OPCITEMVQT vqt[2]{};
        vqt[0].vDataValue.vt = vqt[1].vDataValue.vt = VT_R8;
        vqt[0].vDataValue.dblVal = 1;
        e = nullptr;
        hr = io_->WriteVQT(1, ids, vqt, &e);
        a = {hr, e == nullptr, {}};
        if (e) a.Errors.push_back(e[0]);
        CoTaskMemFree(e);
        out.push_back(a);

        v = nullptr;
        e = nullptr;
        hr = props_->GetItemProperties(wide[1], 2, pids, &v, &e);
        a = {hr, !v && !e, {}};
        for (int i = 0; e && i < 2; ++i) {
            a.Errors.push_back(e[i]);
            VariantClear(&v[i]);
        }
        CoTaskMemFree(v);
        CoTaskMemFree(e);
        out.push_back(a);
        return out;
    }

    com::ComPtr<IOPCBrowse> da30_;
    com::ComPtr<IOPCItemIO> io_;
    com::ComPtr<IOPCItemProperties> props_;
};

TEST_F(ArrayFaults, EachSwitchShowsInEveryPerItemAnswerAndItemErrorsInTheNamedItemsOnly) {
    const HRESULT f = sim::kSimItemFault;
    struct Case {
        const char* faults;
        std::vector<ItemCallAnswer> answers;  // GetProperties, Read, WriteVQT, GetItemProperties
    };
    const Case cases[] = {
        {"",
         {{S_OK, false, {S_OK, S_OK}},
          {S_OK, false, {S_OK, S_OK}},
          {S_OK, false, {S_OK}},
          {S_OK, false, {S_OK, S_OK}}}},
        {"read-error=Writable/Int,write-error=Writable/Int,"
         "property-error=Plant/Area1/Tank1/Level",
         {{S_FALSE, false, {S_OK, f}},
          {S_FALSE, false, {f, S_OK}},
          {S_FALSE, false, {f}},
          {S_FALSE, false, {f, f}}}},
        {"sfalse",
         {{S_FALSE, false, {f, f}},
          {S_FALSE, false, {f, f}},
          {S_FALSE, false, {f}},
          {S_FALSE, false, {f, f}}}},
        {"arrays=null", {{S_OK, true, {}}, {S_OK, true, {}}, {S_OK, true, {}}, {S_OK, true, {}}}},
    };
    for (const Case& c : cases) {
        SetFaults(c.faults);
        auto answers = CallEach();
        ASSERT_EQ(answers.size(), c.answers.size());
        for (std::size_t i = 0; i < answers.size(); ++i) {
            EXPECT_EQ(answers[i].Result, c.answers[i].Result) << c.faults << " call " << i;
            EXPECT_EQ(answers[i].NullArrays, c.answers[i].NullArrays) << c.faults << " call " << i;
            EXPECT_EQ(answers[i].Errors, c.answers[i].Errors) << c.faults << " call " << i;
        }
    }
}

TEST_F(ArrayFaults, ListsThatStateTheirLength) {
    SetFaults("property-error=Plant/Area1/Tank1/Level");
    LPWSTR level = const_cast<LPWSTR>(u"Plant/Area1/Tank1/Level");
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* texts = nullptr;
    VARTYPE* types = nullptr;
    EXPECT_EQ(props_->QueryAvailableProperties(level, &count, &ids, &texts, &types),
              sim::kSimItemFault);
    BrowseRequest r;
    r.ItemId = u"Plant/Area1/Tank1";
    r.PropertyIds = {OPC_PROPERTY_DATATYPE};
    EXPECT_EQ(Browse(da30_.Get(), r).Elements.at(0).Properties.Error, sim::kSimItemFault);

    SetFaults("arrays=null");
    r.PropertyIds = {};
    BrowseCopy b = Browse(da30_.Get(), r);
    EXPECT_EQ(b.Result, S_OK);
    EXPECT_EQ(b.Count, 4u);
    EXPECT_TRUE(b.NullElements);
    EXPECT_EQ(props_->QueryAvailableProperties(level, &count, &ids, &texts, &types), S_OK);
    EXPECT_GT(count, 0u);
    EXPECT_TRUE(!ids && !texts && !types);
    auto browse = com::QueryAs<IOPCBrowseServerAddressSpace>(props_);
    com::ComPtr<IEnumString> names;
    EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_BRANCH, u"", VT_EMPTY, 0, names.Put()), S_OK);
    EXPECT_FALSE(names);

    SetFaults("arrays=short");
    r.PropertyIds = {OPC_PROPERTY_DATATYPE, OPC_PROPERTY_ACCESS_RIGHTS};
    b = Browse(da30_.Get(), r);
    ASSERT_EQ(b.Elements.size(), 4u);
    for (const auto& e : b.Elements) EXPECT_EQ(e.Properties.Properties.size(), 1u) << e.Name;
    DWORD pids[] = {OPC_PROPERTY_DATATYPE, OPC_PROPERTY_VALUE, OPC_PROPERTY_HIGH_EU};
    OPCITEMPROPERTIES* results = nullptr;
    ASSERT_EQ(da30_->GetProperties(1, &level, TRUE, 3, pids, &results), S_OK);
    ItemPropertiesCopy got = TakeProperties(results[0]);
    CoTaskMemFree(results);
    ASSERT_EQ(got.Properties.size(), 2u) << "one fewer than asked for, and says so";
    EXPECT_EQ(got.Properties[1].Id, OPC_PROPERTY_VALUE);

    SetFaults("empty-properties");
    for (DWORD asked : {0u, 1u}) {
        ASSERT_EQ(da30_->GetProperties(1, &level, FALSE, asked, pids, &results), S_OK);
        EXPECT_EQ(TakeProperties(results[0]).Properties.size(), asked) << "only what was named";
        CoTaskMemFree(results);
    }
    auto da2Way = com::QueryAs<IOPCItemProperties>(da30_);
    ASSERT_EQ(da2Way->QueryAvailableProperties(level, &count, &ids, &texts, &types), S_OK);
    for (DWORD i = 0; i < count; ++i) CoTaskMemFree(texts[i]);
    for (void* p : {static_cast<void*>(ids), static_cast<void*>(texts), static_cast<void*>(types)})
        CoTaskMemFree(p);
    EXPECT_GT(count, 5u) << "the DA 2.0 way still answers";
}

}  // namespace
}  // namespace velqor::test
