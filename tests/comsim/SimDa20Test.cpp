// The simulated OPC DA 2.0 server as a client meets it: created by ProgID, its status and error
// texts, browsing the plant, item properties, and the shutdown request on demand.
#include <thread>

#include "SimServerTestSupport.h"

namespace velqor::test {
namespace {

class SimDa20Test : public SimServerTest {
  protected:
    void SetUp() override {
        SimServerTest::SetUp();
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(u"Velqor.SimDA20.1", &clsid), S_OK);
        ASSERT_EQ(clsid, sim::CLSID_VelqorSimDA20);
        server_ = Create<IOPCServer>(u"Velqor.SimDA20.1");
        browse_ = com::QueryAs<IOPCBrowseServerAddressSpace>(server_);
        props_ = com::QueryAs<IOPCItemProperties>(server_);
        ASSERT_TRUE(browse_ && props_);
    }
    void TearDown() override {
        browse_ = {};
        props_ = {};
        server_ = {};
        SimServerTest::TearDown();
    }
    // The names the server lists at its current browse position.
    std::vector<std::string> Browse(OPCBROWSETYPE type, const char16_t* filter = u"",
                                    VARTYPE vt = VT_EMPTY, DWORD rights = 0) {
        com::ComPtr<IEnumString> names;
        std::vector<std::string> out;
        HRESULT hr = browse_->BrowseOPCItemIDs(type, filter, vt, rights, names.Put());
        EXPECT_TRUE(hr == S_OK || hr == S_FALSE);
        if (!names) return out;
        LPOLESTR s = nullptr;
        while (names->Next(1, &s, nullptr) == S_OK) out.push_back(TakeTaskText(s));
        EXPECT_EQ(hr == S_FALSE, out.empty());
        return out;
    }

    com::ComPtr<IOPCServer> server_;
    com::ComPtr<IOPCBrowseServerAddressSpace> browse_;
    com::ComPtr<IOPCItemProperties> props_;
};

TEST_F(SimDa20Test, CreatedByVersionIndependentProgIdWithEveryInterfaceAndItsStatus) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"Velqor.SimDA20", &clsid), S_OK);
    MULTI_QI qi[] = {{&IID_IOPCServer, nullptr, E_FAIL},
                     {&IID_IOPCCommon, nullptr, E_FAIL},
                     {&IID_IOPCItemProperties, nullptr, E_FAIL},
                     {&IID_IOPCBrowseServerAddressSpace, nullptr, E_FAIL},
                     {&IID_IConnectionPointContainer, nullptr, E_FAIL}};
    ASSERT_EQ(CoCreateInstanceEx(clsid, nullptr, CLSCTX_ALL, nullptr, 5, qi), S_OK);
    for (auto& q : qi) {
        EXPECT_EQ(q.hr, S_OK);
        if (q.pItf) q.pItf->Release();
    }

    OPCSERVERSTATUS* status = nullptr;
    ASSERT_EQ(server_->GetStatus(&status), S_OK);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->dwServerState, OPC_STATUS_RUNNING);
    EXPECT_EQ(status->wMajorVersion, 2);
    EXPECT_EQ(status->dwGroupCount, 0u);
    auto ticks = [](const FILETIME& f) {
        return (uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    };
    EXPECT_GT(ticks(status->ftStartTime), 0u);
    EXPECT_GE(ticks(status->ftCurrentTime), ticks(status->ftStartTime));
    EXPECT_EQ(TakeTaskText(status->szVendorInfo), "Velqor simulated OPC DA 2.0 server");
    CoTaskMemFree(status);
}

TEST_F(SimDa20Test, ErrorTextsForItsOwnCodesOnlyAndOnlyInItsLocale) {
    auto common = com::QueryAs<IOPCCommon>(server_);
    ASSERT_TRUE(common);
    struct Case {
        HRESULT code;
        bool known;
    };
    for (Case c : {Case{OPC_E_UNKNOWNITEMID, true}, Case{OPC_E_INVALID_PID, true},
                   Case{E_NOTIMPL, true}, Case{HRESULT(0x80041234u), false}}) {
        LPWSTR viaServer = nullptr, viaCommon = nullptr;
        EXPECT_EQ(SUCCEEDED(server_->GetErrorString(c.code, 0x0409, &viaServer)), c.known);
        EXPECT_EQ(SUCCEEDED(common->GetErrorString(c.code, &viaCommon)), c.known);
        std::string a = TakeTaskText(viaServer), b = TakeTaskText(viaCommon);
        EXPECT_EQ(a, b);
        EXPECT_EQ(a.empty(), !c.known) << std::hex << c.code;
    }
    LPWSTR text = nullptr;
    EXPECT_EQ(server_->GetErrorString(OPC_E_UNKNOWNITEMID, 0x0407, &text), E_INVALIDARG);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(common->SetLocaleID(0x0407), E_INVALIDARG);
    LCID lcid = 0;
    EXPECT_EQ(common->GetLocaleID(&lcid), S_OK);
    EXPECT_EQ(lcid, 0x0409u);
    EXPECT_EQ(common->SetClientName(u"tests"), S_OK);
}

TEST_F(SimDa20Test, BrowsesThePlantHierarchically) {
    OPCNAMESPACETYPE ns{};
    ASSERT_EQ(browse_->QueryOrganization(&ns), S_OK);
    EXPECT_EQ(ns, OPC_NS_HIERARCHIAL);
    EXPECT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_UP, u""), E_FAIL) << "already at the root";
    auto roots = Browse(OPC_BRANCH);
    for (const char* b : {"Static", "Dynamic", "Writable", "WriteOnly", "Plant", "Special", "Load"})
        EXPECT_NE(std::find(roots.begin(), roots.end(), b), roots.end()) << b;
    EXPECT_TRUE(Browse(OPC_LEAF).empty());

    ASSERT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Plant"), S_OK);
    ASSERT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Area1"), S_OK);
    ASSERT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Tank1"), S_OK);
    EXPECT_EQ(Browse(OPC_LEAF),
              (std::vector<std::string>{"Level", "Temperature", "Setpoint", "Valve"}));
    EXPECT_EQ(Browse(OPC_LEAF, u"T*"), (std::vector<std::string>{"Temperature"}));
    EXPECT_EQ(Browse(OPC_LEAF, u"", VT_R8, OPC_WRITEABLE), (std::vector<std::string>{"Setpoint"}));
    EXPECT_EQ(Browse(OPC_LEAF, u"", VT_I4), (std::vector<std::string>{"Valve"}));
    EXPECT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Level"), E_INVALIDARG)
        << "an item is no branch";
    LPWSTR id = nullptr;
    ASSERT_EQ(browse_->GetItemID(const_cast<LPWSTR>(u"Level"), &id), S_OK);
    EXPECT_EQ(TakeTaskText(id), "Plant/Area1/Tank1/Level");
    EXPECT_EQ(browse_->GetItemID(const_cast<LPWSTR>(u"Nothing"), &id), E_INVALIDARG);
    EXPECT_EQ(id, nullptr);

    ASSERT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_UP, u""), S_OK);
    ASSERT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_UP, u""), S_OK);
    EXPECT_EQ(Browse(OPC_FLAT, u"*Speed"), (std::vector<std::string>{"Plant/Area2/Pump1/Speed"}));
    EXPECT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_TO, u"Plant/Nowhere"), E_INVALIDARG);
    ASSERT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_TO, u"Load"), S_OK);
    EXPECT_EQ(Browse(OPC_LEAF).size(), 10000u);
}

TEST_F(SimDa20Test, AnalogItemPropertiesCarryItsRangeAndUnits) {
    LPWSTR item = const_cast<LPWSTR>(u"Plant/Area1/Tank1/Level");
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* texts = nullptr;
    VARTYPE* types = nullptr;
    ASSERT_EQ(props_->QueryAvailableProperties(item, &count, &ids, &texts, &types), S_OK);
    std::vector<DWORD> available(ids, ids + count);
    for (DWORD want : {1u, 2u, 5u, 7u, 100u, 101u, 102u, 103u})
        EXPECT_NE(std::find(available.begin(), available.end(), want), available.end()) << want;
    for (DWORD i = 0; i < count; ++i) {
        if (ids[i] == 100) {
            EXPECT_EQ(com::Utf16ToUtf8(texts[i]), "EU Units");
        }
    }
    for (DWORD i = 0; i < count; ++i) CoTaskMemFree(texts[i]);
    CoTaskMemFree(ids);
    CoTaskMemFree(texts);
    CoTaskMemFree(types);

    DWORD wanted[] = {1, 2, 5, 7, 100, 102, 103, 8};
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(props_->GetItemProperties(item, 8, wanted, &values, &errors), S_FALSE)
        << "EU info belongs to enumerated items only";
    EXPECT_EQ(values[0].iVal, VT_R8);
    EXPECT_EQ(values[1].vt, VT_R8);
    EXPECT_GE(values[1].dblVal, 0.0);
    EXPECT_LE(values[1].dblVal, 10.0);
    EXPECT_EQ(values[2].lVal, LONG(OPC_READABLE));
    EXPECT_EQ(values[3].lVal, OPC_ANALOG);
    EXPECT_EQ(velqor::BstrToText(values[4].bstrVal), "m");
    EXPECT_EQ(values[5].dblVal, 10.0);
    EXPECT_EQ(values[6].dblVal, 0.0);
    for (DWORD i = 0; i < 7; ++i) EXPECT_EQ(errors[i], S_OK) << i;
    EXPECT_EQ(errors[7], OPC_E_INVALID_PID);
    EXPECT_EQ(values[7].vt, VT_EMPTY);
    for (DWORD i = 0; i < 8; ++i) VariantClear(&values[i]);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
}

TEST_F(SimDa20Test, EveryValueComesInItsCanonicalType) {
    ASSERT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_TO, u"Static"), S_OK);
    auto ids = Browse(OPC_FLAT);
    ASSERT_GE(ids.size(), 28u) << "every scalar and array type";
    for (const auto& id : ids) {
        std::u16string wide = com::Utf8ToUtf16(id);
        DWORD wanted[] = {1, 2};
        VARIANT* values = nullptr;
        HRESULT* errors = nullptr;
        ASSERT_EQ(props_->GetItemProperties(wide.data(), 2, wanted, &values, &errors), S_OK) << id;
        EXPECT_EQ(VARTYPE(values[0].iVal), values[1].vt) << id;
        if (values[1].vt & VT_ARRAY) {
            LONG lo = 0, hi = -1;
            SafeArrayGetLBound(values[1].parray, 1, &lo);
            SafeArrayGetUBound(values[1].parray, 1, &hi);
            EXPECT_GT(hi - lo + 1, 0) << id;
            VARTYPE element = VT_EMPTY;
            SafeArrayGetVartype(values[1].parray, &element);
            EXPECT_EQ(element, VARTYPE(values[1].vt & ~VT_ARRAY)) << id;
        }
        VariantClear(&values[0]);
        VariantClear(&values[1]);
        CoTaskMemFree(values);
        CoTaskMemFree(errors);
    }
}

TEST_F(SimDa20Test, WriteOnlyAndUnknownItemsAnswerWithTheirErrors) {
    DWORD wanted[] = {5, 2, 3, 1};
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(props_->GetItemProperties(const_cast<LPWSTR>(u"WriteOnly/Int"), 4, wanted, &values,
                                        &errors),
              S_FALSE);
    EXPECT_EQ(values[0].lVal, LONG(OPC_WRITEABLE));
    EXPECT_EQ(errors[1], OPC_E_BADRIGHTS) << "no value to read";
    EXPECT_EQ(errors[2], OPC_E_BADRIGHTS);
    EXPECT_EQ(values[3].iVal, VT_I4);
    for (DWORD i = 0; i < 4; ++i) VariantClear(&values[i]);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);

    struct Case {
        const char16_t* id;
        HRESULT expected;
    };
    for (Case c : {Case{u"Plant/Area1/Tank1/Nothing", OPC_E_UNKNOWNITEMID},
                   Case{u"Plant", OPC_E_UNKNOWNITEMID}, Case{u"", OPC_E_INVALIDITEMID}}) {
        values = nullptr;
        errors = nullptr;
        EXPECT_EQ(props_->GetItemProperties(const_cast<LPWSTR>(c.id), 1, wanted, &values, &errors),
                  c.expected);
        EXPECT_EQ(values, nullptr);
        EXPECT_EQ(errors, nullptr);
    }
}

TEST_F(SimDa20Test, FlatServerListsEveryItemByFullIdWithoutBranches) {
    com::ComPtr<IOPCBrowseServerAddressSpace> flat;
    ASSERT_EQ(
        CoCreateInstance(sim::CLSID_VelqorSimDA20Flat, nullptr, CLSCTX_ALL,
                         IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void**>(flat.Put())),
        S_OK);
    browse_ = flat;
    OPCNAMESPACETYPE ns{};
    ASSERT_EQ(browse_->QueryOrganization(&ns), S_OK);
    EXPECT_EQ(ns, OPC_NS_FLAT);
    EXPECT_TRUE(Browse(OPC_BRANCH).empty());
    EXPECT_EQ(Browse(OPC_LEAF, u"Plant/*/Level"),
              (std::vector<std::string>{"Plant/Area1/Tank1/Level"}));
    EXPECT_EQ(browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Plant"), E_FAIL);
}

class ShutdownSink : public com::PlatformObject<IOPCShutdown> {
  public:
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR reason) override {
        reasons.push_back(com::Utf16ToUtf8(reason));
        thread = std::this_thread::get_id();
        return S_OK;
    }
    std::vector<std::string> reasons;
    std::thread::id thread;
};

TEST_F(SimDa20Test, ShutdownRequestReachesEachAdvisedSinkOnceOnTheLoop) {
    auto container = com::QueryAs<IConnectionPointContainer>(server_);
    com::ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, point.Put()), S_OK);
    auto sink = com::MakeObject<ShutdownSink>();
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink.Get(), &cookie), S_OK);

    std::thread([] { EXPECT_GE(sim::RequestSimulatedShutdown("maintenance"), 1); }).join();
    EXPECT_TRUE(sink->reasons.empty()) << "only the loop calls the client";
    ASSERT_TRUE(loop_.RunUntil([&] { return !sink->reasons.empty(); }, std::chrono::seconds(5)));
    loop_.ProcessPending();
    EXPECT_EQ(sink->reasons, (std::vector<std::string>{"maintenance"}));
    EXPECT_EQ(sink->thread, std::this_thread::get_id());

    ASSERT_EQ(point->Unadvise(cookie), S_OK);
    sim::RequestSimulatedShutdown("again");
    loop_.ProcessPending();
    EXPECT_EQ(sink->reasons.size(), 1u) << "no call after unadvise";
}

}  // namespace
}  // namespace velqor::test
