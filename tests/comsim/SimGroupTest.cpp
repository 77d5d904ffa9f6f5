// Groups of the simulated servers through their raw interfaces: which interfaces each
// generation's groups offer, group management on the server, items with partial errors, group
// state, synchronous reads and writes, data changes at the update rate, and asynchronous
// completions with cancel.
#include <algorithm>

#include "SimGroupTestSupport.h"
#include "com/GroupState.h"

namespace velqor::test {
namespace {

constexpr const char16_t* kLevel = u"Plant/Area1/Tank1/Level";        // analog 0..10, read-only
constexpr const char16_t* kSetpoint = u"Plant/Area1/Tank1/Setpoint";  // analog 0..10, writable
constexpr const char16_t* kValve = u"Plant/Area1/Tank1/Valve";        // enumerated
constexpr const char16_t* kWritableInt = u"Writable/Int";
constexpr const char16_t* kWriteOnly = u"WriteOnly/Int";
constexpr const char16_t* kDynamicInt = u"Dynamic/Int";  // changes every clock period

TEST_F(SimGroupTest, EachGenerationsGroupOffersExactlyItsInterfaces) {
    const IID* all[] = {&IID_IOPCItemMgt,
                        &IID_IOPCGroupStateMgt,
                        &IID_IOPCGroupStateMgt2,
                        &IID_IOPCSyncIO,
                        &IID_IOPCSyncIO2,
                        &IID_IOPCAsyncIO,
                        &IID_IOPCAsyncIO2,
                        &IID_IOPCAsyncIO3,
                        &IID_IOPCItemDeadbandMgt,
                        &IID_IDataObject,
                        &IID_IConnectionPointContainer,
                        &IID_IOPCPublicGroupStateMgt};
    struct Case {
        const char16_t* progId;
        std::vector<const IID*> offered;
    };
    const std::vector<const IID*> da10{&IID_IOPCItemMgt, &IID_IOPCGroupStateMgt, &IID_IOPCSyncIO,
                                       &IID_IOPCAsyncIO, &IID_IDataObject};
    std::vector<const IID*> da20 = da10;
    da20.insert(da20.end(), {&IID_IOPCAsyncIO2, &IID_IConnectionPointContainer});
    const Case cases[] = {
        {u"Velqor.SimDA10.1", da10},
        {u"Velqor.SimDA20.1", da20},
        {u"Velqor.SimDA30.1",
         {&IID_IOPCItemMgt, &IID_IOPCGroupStateMgt, &IID_IOPCGroupStateMgt2, &IID_IOPCSyncIO,
          &IID_IOPCSyncIO2, &IID_IOPCAsyncIO2, &IID_IOPCAsyncIO3, &IID_IOPCItemDeadbandMgt,
          &IID_IConnectionPointContainer}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(com::Utf16ToUtf8(c.progId));
        Connect(c.progId);
        auto group = AddGroup(u"g");
        ASSERT_TRUE(group);
        for (const IID* iid : all)
            EXPECT_EQ(AskFor(group.Get(), *iid).Result,
                      Lists(c.offered, iid) ? S_OK : E_NOINTERFACE)
                << iid->ToString();
    }
}

TEST_F(SimGroupTest, ServerAddsFindsListsAndRemovesGroups) {
    Connect(u"Velqor.SimDA20.1");
    OPCHANDLE h1 = 0, h2 = 0;
    DWORD revised = 0;
    OPCHANDLE h = 0;
    com::ComPtr<::IUnknown> unk;
    // A rate faster than the server's is revised up and said so.
    EXPECT_EQ(server_->AddGroup(u"fast", TRUE, 10, 1, nullptr, nullptr, 0x409, &h, &revised,
                                IID_IOPCGroupStateMgt, reinterpret_cast<LPUNKNOWN*>(unk.Put())),
              OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(revised, 50u);
    auto g1 = AddGroup(u"one", true, 100, 1, &h1);
    auto g2 = AddGroup(u"", true, 100, 2, &h2);  // named by the server
    AddGroup(u"one", true, 100, 3, nullptr, OPC_E_DUPLICATENAME);
    FLOAT badDeadband = 101;
    EXPECT_EQ(server_->AddGroup(u"x", TRUE, 100, 1, nullptr, &badDeadband, 0, &h, &revised,
                                IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(unk.Put())),
              E_INVALIDARG);
    ASSERT_TRUE(g1 && g2);
    EXPECT_NE(h1, h2);

    com::ComPtr<IOPCItemMgt> found;
    EXPECT_EQ(
        server_->GetGroupByName(u"one", IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(found.Put())),
        S_OK);
    EXPECT_EQ(found.Get(), g1.Get());
    EXPECT_EQ(server_->GetGroupByName(u"none", IID_IOPCItemMgt,
                                      reinterpret_cast<LPUNKNOWN*>(found.Put())),
              E_INVALIDARG);

    com::ComPtr<IEnumString> names;
    ASSERT_EQ(server_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString,
                                             reinterpret_cast<LPUNKNOWN*>(names.Put())),
              S_OK);
    std::vector<std::string> listed;
    LPOLESTR name = nullptr;
    while (names->Next(1, &name, nullptr) == S_OK) listed.push_back(TakeTaskText(name));
    EXPECT_EQ(listed.size(), 3u);
    EXPECT_TRUE(std::count(listed.begin(), listed.end(), "one"));
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_EQ(server_->GetStatus(&status), S_OK);
    EXPECT_EQ(status->dwGroupCount, 3u);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);

    // Still held by the client: removed all the same, and said so.
    EXPECT_EQ(server_->RemoveGroup(h1, FALSE), OPC_S_INUSE);
    EXPECT_EQ(server_->RemoveGroup(h1, FALSE), E_INVALIDARG);
    g2 = {};
    EXPECT_EQ(server_->RemoveGroup(h2, FALSE), S_OK);
}

TEST_F(SimGroupTest, AddValidateAndRemoveItemsWithPartialErrors) {
    Connect(u"Velqor.SimDA30.1");
    auto group = AddGroup(u"g");
    AddCopy a = AddItems(group.Get(), {kLevel, u"Plant/Nowhere", u"", kWriteOnly, kValve});
    EXPECT_EQ(a.Result, S_FALSE);
    ASSERT_EQ(a.Errors.size(), 5u);
    const HRESULT expected[] = {S_OK, OPC_E_UNKNOWNITEMID, OPC_E_INVALIDITEMID, S_OK, S_OK};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(a.Errors[i], expected[i]) << i;
    EXPECT_EQ(a.Results[0].vtCanonicalDataType, VT_R8);
    EXPECT_EQ(a.Results[0].dwAccessRights, OPC_READABLE);
    EXPECT_EQ(a.Results[3].dwAccessRights, OPC_WRITEABLE);
    EXPECT_NE(a.Results[0].hServer, a.Results[4].hServer);

    struct Rejected {
        VARTYPE requested;
        std::u16string path;
        HRESULT error;
    };
    for (const Rejected& r :
         {Rejected{VT_ARRAY | VT_I4, u"", OPC_E_BADTYPE},
          Rejected{VT_EMPTY, u"Somewhere", OPC_E_UNKNOWNPATH}, Rejected{VT_BSTR, u"", S_OK}}) {
        AddCopy v = AddItems(group.Get(), {kLevel}, false, r.requested, r.path);
        ASSERT_EQ(v.Errors.size(), 1u);
        EXPECT_EQ(v.Errors[0], r.error);
        EXPECT_EQ(v.Results[0].hServer, 0u) << "validation adds nothing";
    }

    // The enumerator lists the three added items with their EU type and info.
    EnumeratedItems listed = EnumerateItems(group.Get(), 5);
    ASSERT_EQ(listed.Created, S_OK);
    EXPECT_EQ(listed.Next, S_FALSE);
    ASSERT_EQ(listed.Items.size(), 3u);
    std::map<std::string, const ItemAttributesCopy*> byId;
    for (const ItemAttributesCopy& i : listed.Items) byId[i.ItemID] = &i;
    const ItemAttributesCopy& level = *byId.at("Plant/Area1/Tank1/Level");
    EXPECT_EQ(level.EUType, OPC_ANALOG);
    EXPECT_EQ(level.Client, 1000u);
    const Variant& eu = level.EUInfo;
    ASSERT_EQ(eu.Type(), VT_ARRAY | VT_R8);
    ASSERT_EQ(eu.ArrayData().Elements.size(), 2u);
    EXPECT_EQ(eu.ArrayData().Elements[0].AsDouble(), 0.0);
    EXPECT_EQ(eu.ArrayData().Elements[1].AsDouble(), 10.0);
    const ItemAttributesCopy& valve = *byId.at("Plant/Area1/Tank1/Valve");
    EXPECT_EQ(valve.EUType, OPC_ENUMERATED);
    const Variant& states = valve.EUInfo;
    ASSERT_EQ(states.Type(), VT_ARRAY | VT_BSTR);
    std::vector<std::string> texts;
    for (const auto& t : states.ArrayData().Elements) texts.push_back(t.AsString());
    EXPECT_EQ(texts, (std::vector<std::string>{"Closed", "Open", "Travelling", "Fault"}));
    EXPECT_EQ(byId.at("WriteOnly/Int")->EUType, OPC_NOENUM);

    OPCHANDLE remove[] = {a.Results[0].hServer, 9999, a.Results[0].hServer};
    HRESULT* errors = nullptr;
    EXPECT_EQ(group->RemoveItems(3, remove, &errors), S_FALSE);
    EXPECT_EQ(TakeErrors(errors, 3),
              (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, OPC_E_INVALIDHANDLE}));
}

TEST_F(SimGroupTest, GroupStateRevisedRateAndNames) {
    Connect(u"Velqor.SimDA30.1");
    auto group = AddGroup(u"g", false, 100, 5);
    AddGroup(u"other");
    auto state = com::QueryAs<IOPCGroupStateMgt>(group);
    ASSERT_TRUE(state);
    struct Case {
        DWORD requested;
        FLOAT deadband;
        HRESULT result;
        DWORD revised;
    };
    for (const Case& c : {Case{20, 5, OPC_S_UNSUPPORTEDRATE, 50}, Case{250, 0, S_OK, 250},
                          Case{250, 150, E_INVALIDARG, 0}}) {
        DWORD requested = c.requested, revised = 0;
        BOOL active = TRUE;
        FLOAT deadband = c.deadband;
        OPCHANDLE client = 6;
        EXPECT_EQ(
            state->SetState(&requested, &revised, &active, nullptr, &deadband, nullptr, &client),
            c.result);
        EXPECT_EQ(revised, c.revised);
    }
    EXPECT_EQ(state->SetName(u"other"), OPC_E_DUPLICATENAME);
    EXPECT_EQ(state->SetName(u"renamed"), S_OK);
    GroupStateOut st;
    ASSERT_EQ(st.Get(state.Get()), S_OK);
    EXPECT_EQ(TakeTaskText(st.Name), "renamed");
    EXPECT_EQ(st.Rate, 250u);
    EXPECT_TRUE(st.Active);
    EXPECT_EQ(st.Deadband, 0);
    EXPECT_EQ(st.Client, 6u);
    EXPECT_EQ(st.Locale, 0x409u);
}

TEST_F(SimGroupTest, KeepAliveSendsEmptyDataChangesWhenNothingChanges) {
    Connect(u"Velqor.SimDA30.1");
    auto group = AddGroup(u"g", true, 50, 12);
    AddGood(group.Get(), {u"Static/Int"});
    auto state = com::QueryAs<IOPCGroupStateMgt2>(group);
    DWORD revised = 0, keepAlive = 0;
    EXPECT_EQ(state->SetKeepAlive(10, &revised), OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(revised, 50u);
    EXPECT_EQ(state->GetKeepAlive(&keepAlive), S_OK);
    EXPECT_EQ(keepAlive, 50u);
    AdviseCallback(group.Get());
    ASSERT_TRUE(WaitFor([](const CallbackCopy& c) { return c.Find(1000); }));
    auto beat = WaitFor([](const CallbackCopy& c) { return c.Items.empty(); });
    ASSERT_TRUE(beat);
    EXPECT_EQ(beat->What, CallbackCopy::DataChange);
    EXPECT_EQ(beat->Group, 12u);
}

TEST_F(SimGroupTest, SyncReadAndWriteFollowAccessRightsAndRequestedTypes) {
    for (const char16_t* progId : {u"Velqor.SimDA10.1", u"Velqor.SimDA30.1"}) {
        SCOPED_TRACE(com::Utf16ToUtf8(progId));
        Connect(progId);
        auto group = AddGroup(u"g");
        auto h = AddGood(group.Get(), {kWritableInt, kLevel, kWriteOnly});
        auto io = com::QueryAs<IOPCSyncIO>(group);
        ASSERT_TRUE(io);

        VARIANT values[3];
        for (auto& v : values) VariantInit(&v);
        values[0].vt = VT_I4;
        values[0].lVal = 4321;
        values[1].vt = VT_R8;
        values[1].dblVal = 1;
        values[2].vt = VT_BSTR;
        values[2].bstrVal = SysAllocString(u"not a number");
        HRESULT* errors = nullptr;
        EXPECT_EQ(io->Write(3, h.data(), values, &errors), S_FALSE);
        EXPECT_EQ(TakeErrors(errors, 3),
                  (std::vector<HRESULT>{S_OK, OPC_E_BADRIGHTS, OPC_E_BADTYPE}));
        VariantClear(&values[2]);

        OPCHANDLE read[] = {h[0], h[1], h[2], 4242};
        OPCITEMSTATE* states = nullptr;
        EXPECT_EQ(io->Read(OPC_DS_DEVICE, 4, read, &states, &errors), S_FALSE);
        EXPECT_EQ(TakeErrors(errors, 4),
                  (std::vector<HRESULT>{S_OK, S_OK, OPC_E_BADRIGHTS, OPC_E_INVALIDHANDLE}));
        EXPECT_EQ(states[0].hClient, 1000u);
        EXPECT_EQ(VariantFromOle(states[0].vDataValue).AsInt32(), 4321);
        EXPECT_EQ(states[0].wQuality, OPC_QUALITY_GOOD);
        EXPECT_EQ(states[1].vDataValue.vt, VT_R8);
        for (int i = 0; i < 4; ++i) VariantClear(&states[i].vDataValue);
        CoTaskMemFree(states);

        // Delivered as the type asked for; a cache read of an inactive item is out of service.
        VARTYPE asText[] = {VT_BSTR};
        EXPECT_EQ(group->SetDatatypes(1, h.data(), asText, &errors), S_OK);
        CoTaskMemFree(errors);
        EXPECT_EQ(group->SetActiveState(1, h.data(), FALSE, &errors), S_OK);
        CoTaskMemFree(errors);
        ASSERT_EQ(io->Read(OPC_DS_CACHE, 1, h.data(), &states, &errors), S_OK);
        CoTaskMemFree(errors);
        EXPECT_EQ(states[0].vDataValue.vt, VT_BSTR);
        EXPECT_EQ(VariantFromOle(states[0].vDataValue).AsString(), "4321");
        EXPECT_EQ(states[0].wQuality, OPC_QUALITY_OUT_OF_SERVICE);
        VariantClear(&states[0].vDataValue);
        CoTaskMemFree(states);
    }
}

TEST_F(SimGroupTest, SyncIO2ReadsWithMaxAgeAndRefusesWrittenQuality) {
    Connect(u"Velqor.SimDA30.1");
    auto group = AddGroup(u"g");
    auto h = AddGood(group.Get(), {kSetpoint, kSetpoint});
    auto io = com::QueryAs<IOPCSyncIO2>(group);
    ASSERT_TRUE(io);
    OPCITEMVQT vqt[2]{};
    for (auto& v : vqt) {
        VariantInit(&v.vDataValue);
        v.vDataValue.vt = VT_R8;
        v.vDataValue.dblVal = 7.5;
    }
    vqt[1].bQualitySpecified = TRUE;
    HRESULT* errors = nullptr;
    EXPECT_EQ(io->WriteVQT(2, h.data(), vqt, &errors), S_FALSE);
    EXPECT_EQ(TakeErrors(errors, 2), (std::vector<HRESULT>{S_OK, OPC_E_NOTSUPPORTED}));

    DWORD ages[] = {0, 0};
    VARIANT* v = nullptr;
    WORD* q = nullptr;
    FILETIME* t = nullptr;
    ASSERT_EQ(io->ReadMaxAge(2, h.data(), ages, &v, &q, &t, &errors), S_OK);
    EXPECT_EQ(VariantFromOle(v[0]).AsDouble(), 7.5);
    EXPECT_EQ(q[1], OPC_QUALITY_GOOD);
    EXPECT_NE(t[0].dwHighDateTime, 0u);
    VariantClear(&v[0]);
    VariantClear(&v[1]);
    for (void* p : {static_cast<void*>(v), static_cast<void*>(q), static_cast<void*>(t),
                    static_cast<void*>(errors)})
        CoTaskMemFree(p);
}

TEST_F(SimGroupTest, DataChangesCarryActiveItemsWithTheGroupsHandle) {
    for (const char16_t* progId : {u"Velqor.SimDA20.1", u"Velqor.SimDA30.1"}) {
        SCOPED_TRACE(com::Utf16ToUtf8(progId));
        Connect(progId);
        auto group = AddGroup(u"g", true, 50, 4711);
        auto h = AddGood(group.Get(), {kDynamicInt, kLevel, kWritableInt});
        HRESULT* errors = nullptr;
        ASSERT_EQ(group->SetActiveState(1, &h[2], FALSE, &errors), S_OK);
        CoTaskMemFree(errors);
        DWORD cookie = AdviseCallback(group.Get());

        // The first data change carries every active item once; the inactive one never comes.
        auto first = WaitFor([](const CallbackCopy& c) { return c.What == c.DataChange; });
        ASSERT_TRUE(first);
        EXPECT_EQ(first->Group, 4711u);
        EXPECT_EQ(first->Transaction, 0u);
        ASSERT_EQ(first->Items.size(), 2u);
        EXPECT_TRUE(first->Find(1000) && first->Find(1001));
        EXPECT_EQ(first->Find(1001)->Value.Type(), VT_R8);
        EXPECT_EQ(first->Find(1001)->Quality, OPC_QUALITY_GOOD);
        // The clock item changes again later and is delivered again.
        std::size_t seen = callback_->Calls.size();
        auto later = WaitFor([&](const CallbackCopy& c) {
            return &c - callback_->Calls.data() >= static_cast<long>(seen) && c.Find(1000);
        });
        ASSERT_TRUE(later);
        EXPECT_FALSE(callback_->First([](const CallbackCopy& c) { return c.Find(1002); }));
        // The server's status says when it last sent values.
        OPCSERVERSTATUS* status = nullptr;
        ASSERT_EQ(server_->GetStatus(&status), S_OK);
        EXPECT_NE(status->ftLastUpdateTime.dwHighDateTime, 0u);
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
        UnadviseCallback(group.Get(), cookie);
    }
}

TEST_F(SimGroupTest, AnalogDeadbandHoldsBackSmallChanges) {
    Connect(u"Velqor.SimDA30.1");
    auto group = AddGroup(u"g", true, 50);
    auto h = AddGood(group.Get(), {kSetpoint, kDynamicInt});
    auto deadbands = com::QueryAs<IOPCItemDeadbandMgt>(group);
    FLOAT percent[] = {50, 50};  // 5 m of the setpoint's 0..10 m; not for an integer
    HRESULT* errors = nullptr;
    EXPECT_EQ(deadbands->SetItemDeadband(2, h.data(), percent, &errors), S_FALSE);
    EXPECT_EQ(TakeErrors(errors, 2), (std::vector<HRESULT>{S_OK, OPC_E_DEADBANDNOTSUPPORTED}));
    auto io = com::QueryAs<IOPCSyncIO>(group);
    auto write = [&](double x) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_R8;
        v.dblVal = x;
        ASSERT_EQ(io->Write(1, h.data(), &v, &errors), S_OK);
        CoTaskMemFree(errors);
    };
    write(1.0);
    AdviseCallback(group.Get());
    ASSERT_TRUE(WaitFor([](const CallbackCopy& c) { return c.Find(1000); }));
    // A move of 2 m stays within the deadband: the next change of the clock item comes alone.
    write(3.0);
    std::size_t seen = callback_->Calls.size();
    auto isNew = [&](const CallbackCopy& c) {
        return &c - callback_->Calls.data() >= static_cast<long>(seen);
    };
    ASSERT_TRUE(WaitFor([&](const CallbackCopy& c) { return isNew(c) && c.Find(1001); }));
    EXPECT_FALSE(callback_->First([&](const CallbackCopy& c) { return isNew(c) && c.Find(1000); }));
    write(9.0);
    auto big = WaitFor([&](const CallbackCopy& c) { return isNew(c) && c.Find(1000); });
    ASSERT_TRUE(big);
    EXPECT_EQ(big->Find(1000)->Value.AsDouble(), 9.0);
}

TEST_F(SimGroupTest, AsyncCompletionsComeLaterAndCancelledOnesNever) {
    for (const char16_t* progId : {u"Velqor.SimDA20.1", u"Velqor.SimDA30.1"}) {
        SCOPED_TRACE(com::Utf16ToUtf8(progId));
        Connect(progId);
        auto group = AddGroup(u"g", true, 60000, 9);  // no data change gets in the way
        auto h = AddGood(group.Get(), {kWritableInt, kLevel});
        auto async = com::QueryAs<IOPCAsyncIO2>(group);
        ASSERT_TRUE(async);
        DWORD cancel = 0;
        HRESULT* errors = nullptr;
        EXPECT_EQ(async->Read(2, h.data(), 1, &cancel, &errors), CONNECT_E_NOCONNECTION);
        BOOL enabled = TRUE;
        EXPECT_EQ(async->GetEnable(&enabled), CONNECT_E_NOCONNECTION);
        AdviseCallback(group.Get());
        // Disabled data changes do not hold back the answer to a refresh.
        EXPECT_EQ(async->SetEnable(FALSE), S_OK);
        EXPECT_EQ(async->GetEnable(&enabled), S_OK);
        EXPECT_FALSE(enabled);

        VARIANT v[2];
        VariantInit(&v[0]);
        VariantInit(&v[1]);
        v[0].vt = VT_BSTR;
        v[0].bstrVal = SysAllocString(u"x");
        v[1].vt = VT_I4;
        EXPECT_EQ(async->Write(2, h.data(), v, 11, &cancel, &errors), S_FALSE);
        EXPECT_EQ(TakeErrors(errors, 2), (std::vector<HRESULT>{S_OK, OPC_E_BADRIGHTS}));
        VariantClear(&v[0]);
        ASSERT_EQ(async->Read(2, h.data(), 12, &cancel, &errors), S_OK);
        CoTaskMemFree(errors);
        EXPECT_EQ(async->Cancel2(cancel), S_OK);
        EXPECT_EQ(async->Cancel2(cancel), E_FAIL);
        ASSERT_EQ(async->Refresh2(OPC_DS_DEVICE, 13, &cancel), S_OK);
        EXPECT_TRUE(callback_->Calls.empty()) << "nothing is answered inside the call";

        auto refresh = WaitFor([](const CallbackCopy& c) { return c.Transaction == 13; });
        ASSERT_TRUE(refresh);
        EXPECT_EQ(refresh->What, CallbackCopy::DataChange);
        EXPECT_EQ(refresh->Items.size(), 2u);
        ASSERT_EQ(callback_->Calls.size(), 3u) << "in order: write, cancel, refresh";
        const CallbackCopy& written = callback_->Calls[0];
        EXPECT_EQ(written.What, CallbackCopy::WriteComplete);
        EXPECT_EQ(written.Transaction, 11u);
        EXPECT_EQ(written.Group, 9u);
        ASSERT_EQ(written.Items.size(), 1u);
        EXPECT_EQ(written.Items[0].Error, OPC_E_BADTYPE);
        EXPECT_EQ(callback_->Calls[1].What, CallbackCopy::CancelComplete);
        EXPECT_EQ(callback_->Calls[1].Transaction, 12u);

        ASSERT_EQ(async->Read(1, h.data(), 14, &cancel, &errors), S_OK);
        CoTaskMemFree(errors);
        auto read = WaitFor([](const CallbackCopy& c) { return c.Transaction == 14; });
        ASSERT_TRUE(read);
        EXPECT_EQ(read->What, CallbackCopy::ReadComplete);
        EXPECT_EQ(read->Items.at(0).Client, 1000u);
    }
}

TEST_F(SimGroupTest, Da30AsyncMaxAgeAndVqtWrites) {
    Connect(u"Velqor.SimDA30.1");
    auto group = AddGroup(u"g", true, 60000, 3);
    auto h = AddGood(group.Get(), {kSetpoint});
    auto async = com::QueryAs<IOPCAsyncIO3>(group);
    AdviseCallback(group.Get());
    OPCITEMVQT vqt{};
    VariantInit(&vqt.vDataValue);
    vqt.vDataValue.vt = VT_R8;
    vqt.vDataValue.dblVal = 2.25;
    DWORD cancel = 0, age = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(async->WriteVQT(1, h.data(), &vqt, 21, &cancel, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_EQ(async->ReadMaxAge(1, h.data(), &age, 22, &cancel, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_EQ(async->RefreshMaxAge(0, 23, &cancel), S_OK);
    ASSERT_TRUE(WaitFor([](const CallbackCopy& c) { return c.Transaction == 23; }));
    ASSERT_EQ(callback_->Calls.size(), 3u);
    EXPECT_EQ(callback_->Calls[0].What, CallbackCopy::WriteComplete);
    EXPECT_EQ(callback_->Calls[0].Items.at(0).Error, S_OK);
    EXPECT_EQ(callback_->Calls[1].What, CallbackCopy::ReadComplete);
    EXPECT_EQ(callback_->Calls[1].Items.at(0).Value.AsDouble(), 2.25);
    EXPECT_EQ(callback_->Calls[2].What, CallbackCopy::DataChange);
}

}  // namespace
}  // namespace velqor::test
