// The fault switches that make the simulated groups misbehave the way a client must survive:
// refused items, missing and short result arrays, callbacks naming unknown items, callbacks
// after unadvise and after removal, and a DA 1.0 stream whose header overstates its length.
#include "SimGroupTestSupport.h"

namespace velqor::test {
namespace {

using SimGroupFaults = SimGroupTest;

TEST_F(SimGroupFaults, ParsesTheGroupSwitches) {
    sim::SimFaults f =
        sim::ParseSimFaults("callbacks-after-remove, unknown-handle,bad-stream,add-error=A/B");
    EXPECT_TRUE(f.CallbacksAfterRemove && f.UnknownClientHandle && f.BadStreamHeader);
    EXPECT_EQ(f.AddErrorItems, (std::set<std::string>{"A/B"}));
    EXPECT_THROW(sim::ParseSimFaults("bad-stream=1"), std::invalid_argument);
}

TEST_F(SimGroupFaults, RefusedItemsAndMissingOrShortArrays) {
    Connect(u"Velqor.SimDA20.1");
    auto group = AddGroup(u"g");
    sim::SimFaults f;
    f.AddErrorItems = {"Writable/Int"};
    sim::SetSimFaults(f);
    AddCopy a = AddItems(group.Get(), {u"Writable/Int", u"Writable/Short"});
    EXPECT_EQ(a.Result, S_FALSE);
    EXPECT_EQ(a.Errors, (std::vector<HRESULT>{sim::kSimItemFault, S_OK}));
    AddGood(group.Get(), {u"Writable/Short"});

    f = {};
    f.OutArrays = sim::OutArrayFault::Null;
    sim::SetSimFaults(f);
    OPCITEMDEF def{};
    def.szItemID = const_cast<LPWSTR>(u"Writable/Long");
    OPCITEMRESULT* results = reinterpret_cast<OPCITEMRESULT*>(1);
    HRESULT* errors = reinterpret_cast<HRESULT*>(1);
    EXPECT_EQ(group->AddItems(1, &def, &results, &errors), S_OK);
    EXPECT_EQ(results, nullptr);
    EXPECT_EQ(errors, nullptr);
    OPCHANDLE h = a.Results[1].hServer;
    OPCITEMSTATE* states = reinterpret_cast<OPCITEMSTATE*>(1);
    EXPECT_EQ(com::QueryAs<IOPCSyncIO>(group)->Read(OPC_DS_DEVICE, 1, &h, &states, &errors), S_OK);
    EXPECT_EQ(states, nullptr);
    EXPECT_EQ(errors, nullptr);

    // Short: the enumerator answers S_OK for two items and hands out one.
    f.OutArrays = sim::OutArrayFault::Short;
    sim::SetSimFaults(f);
    EnumeratedItems listed = EnumerateItems(group.Get(), 2);
    ASSERT_EQ(listed.Created, S_OK);
    EXPECT_EQ(listed.Next, S_OK);
    ASSERT_EQ(listed.Items.size(), 1u);
}

TEST_F(SimGroupFaults, CallbacksNameAnUnknownHandleAndComeAfterUnadviseAndRemoval) {
    Connect(u"Velqor.SimDA20.1");
    OPCHANDLE handle = 0;
    auto group = AddGroup(u"g", true, 50, 7, &handle);
    AddGood(group.Get(), {u"Dynamic/Int"});
    sim::SimFaults f;
    f.UnknownClientHandle = true;
    f.CallbacksAfterUnadvise = true;
    sim::SetSimFaults(f);
    DWORD cookie = AdviseCallback(group.Get());
    auto first = WaitFor([](const CallbackCopy& c) { return !c.Items.empty(); });
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->Find(sim::kSimUnknownClientHandle));
    EXPECT_TRUE(first->Find(1000));

    UnadviseCallback(group.Get(), cookie);
    callback_->Calls.clear();
    ASSERT_TRUE(WaitFor([](const CallbackCopy& c) { return c.Find(1000); }))
        << "still called after unadvise";

    // Removed: the group keeps firing to the sinks it had.
    f = {};
    f.CallbacksAfterRemove = true;
    sim::SetSimFaults(f);
    auto other = AddGroup(u"h", true, 50, 8, &handle);
    AddGood(other.Get(), {u"Dynamic/Int"});
    cookie = AdviseCallback(other.Get());  // a new recording sink
    EXPECT_EQ(server_->RemoveGroup(handle, TRUE), S_OK);
    UnadviseCallback(other.Get(), cookie);
    other = {};
    callback_->Calls.clear();
    auto late = WaitFor([](const CallbackCopy& c) { return c.Group == 8 && c.Find(1000); });
    EXPECT_TRUE(late) << "a data change after the group was removed";
}

TEST_F(SimGroupFaults, Da10StreamHeaderOverstatesItsLength) {
    Connect(u"Velqor.SimDA10.1");
    auto group = AddGroup(u"g", true, 50, 3);
    AddGood(group.Get(), {u"Dynamic/Int"});
    sim::SimFaults f;
    f.BadStreamHeader = true;
    f.CallbacksAfterUnadvise = true;
    sim::SetSimFaults(f);
    auto sink = com::MakeObject<RecordingAdviseSink>();
    FORMATETC fmt{StreamFormat("OPCSTMFORMATDATATIME"), nullptr, DVASPECT_CONTENT, -1,
                  TYMED_HGLOBAL};
    DWORD connection = 0;
    auto data = com::QueryAs<IDataObject>(group);
    ASSERT_EQ(data->DAdvise(&fmt, ADVF_PRIMEFIRST, sink.Get(), &connection), S_OK);
    ASSERT_TRUE(loop_.RunUntil([&] { return !sink->Streams.empty(); }, kWait));
    OPCGROUPHEADER h{};
    std::memcpy(&h, sink->Streams[0].Bytes.data(), sizeof h);
    EXPECT_EQ(h.dwSize, sink->Streams[0].Bytes.size());
    EXPECT_GT(sizeof h + h.dwItemCount * sizeof(OPCITEMHEADER1), sink->Streams[0].Bytes.size());

    EXPECT_EQ(data->DUnadvise(connection), S_OK);
    sink->Streams.clear();
    EXPECT_TRUE(loop_.RunUntil([&] { return !sink->Streams.empty(); }, kWait))
        << "streams still come after DUnadvise";
}

}  // namespace
}  // namespace velqor::test
