// The group's data sinks called directly, as a misbehaving server would call them: what they
// post for good, partial and malformed callbacks, for another group, for unknown items, and
// after the group was removed.
#include <gtest/gtest.h>

#include <cstring>

#include "ComGroupFixture.h"
#include "com/VelqorCOMDAStream.h"

namespace velqor::test {
namespace {

// A stream in global memory, freed at the end of the scope.
struct StreamMedium {
    STGMEDIUM medium{};
    FORMATETC format{};
    explicit StreamMedium(const std::string& block, UINT cf = StreamFormats().DataTime) {
        medium.tymed = TYMED_HGLOBAL;
        medium.hGlobal = GlobalAlloc(GMEM_MOVEABLE, block.size());
        std::memcpy(GlobalLock(medium.hGlobal), block.data(), block.size());
        GlobalUnlock(medium.hGlobal);
        format.cfFormat = CLIPFORMAT(cf);
        format.dwAspect = DVASPECT_CONTENT;
        format.lindex = -1;
        format.tymed = TYMED_HGLOBAL;
    }
    ~StreamMedium() { ReleaseStgMedium(&medium); }
};

ItemUpdate StreamItem(uint32_t handle, Variant v, int32_t quality) {
    ItemUpdate u;
    u.ClientHandle = handle;
    u.Value = std::move(v);
    u.Quality = quality;
    u.TimeStamp = 45000.5;
    return u;
}

class SinkTest : public ComGroupTest {};

// DA 2.0/3.0 callbacks: values, qualities and errors per item, the update counter counting past
// its wrap, unknown handles skipped, a callback for another group ignored, arrays the server
// owed but did not send turned into item errors.
TEST_F(SinkTest, DataCallbackPostsWhatTheServerSent) {
    Connect(kDA20);
    TVelqorCOMGroup& g = NewGroup(true, 50, false);
    ASSERT_NE(g.DataCallback(), nullptr);
    loop.ProcessPending();
    posted.clear();
    TVelqorItemList list = Items({"A", "B"});
    list[0]->ResetUpdateCount(0x7FFFFFFE);
    OPCHANDLE handles[3] = {list[0]->ClientHandle(), 0xFFFFFFF0u, list[1]->ClientHandle()};
    VARIANT values[3];
    for (VARIANT& v : values) VariantInit(&v);
    values[0].vt = VT_BSTR;
    values[0].bstrVal = SysAllocString(OLESTR("text"));
    values[1].vt = VT_I4;
    values[2].vt = VT_R8;
    values[2].dblVal = 1.25;
    WORD qualities[3] = {0xC0, 0xC0, 0x18};
    FILETIME times[3] = {LocalDateTimeToFileTime(45000.5), {}, {}};
    HRESULT errors[3] = {S_OK, S_OK, OPC_E_BADRIGHTS};
    TVelqorDataCallback* sink = g.DataCallback();
    EXPECT_EQ(sink->OnDataChange(0, 999, S_OK, S_OK, 3, handles, values, qualities, times, errors),
              S_OK);
    loop.ProcessPending();
    EXPECT_TRUE(posted.empty()) << "a callback for another group is ignored";
    EXPECT_EQ(sink->OnDataChange(0, 100, S_OK, S_OK, 3, handles, values, qualities, times, errors),
              S_OK);
    EXPECT_EQ(values[0].vt, VT_EMPTY) << "the delivered values are cleared once copied";
    loop.ProcessPending();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].Message, WM_VELQOR_DATACHANGE);
    EXPECT_EQ(posted[0].WParam, 100u);
    ASSERT_EQ(posted[0].Payload->Items.size(), 2u) << "the unknown handle is skipped";
    ApplyPosted();
    EXPECT_EQ(list[0]->Value(), Variant::Str("text"));
    EXPECT_EQ(list[0]->UpdateCount(), 1) << "0x7FFFFFFE counts on to 1";
    EXPECT_NEAR(list[0]->TimeStamp(), 45000.5, 1e-6);
    EXPECT_EQ(list[1]->Value(), Variant::R8(1.25));
    EXPECT_EQ(list[1]->Quality(), 0x18);
    EXPECT_EQ(list[1]->Error(), OPC_E_BADRIGHTS);

    // No qualities although two values came: both items get an error, none a value.
    posted.clear();
    values[0].vt = VT_I2;
    EXPECT_EQ(sink->OnDataChange(0, 100, S_OK, S_OK, 2, handles, values, nullptr, times, errors),
              S_OK);
    loop.ProcessPending();
    ASSERT_EQ(posted.size(), 1u);
    ASSERT_EQ(posted[0].Payload->Items.size(), 1u);
    const ItemUpdate& bad = posted[0].Payload->Items[0];
    EXPECT_EQ(bad.Error, kMalformedAnswer);
    EXPECT_FALSE(bad.Fields & ItemUpdate::kValue);
    EXPECT_EQ(bad.ErrorDetail, "wrong result from OPC Server (OnDataChange)");

    // No handles at all: nothing can be reported. No items: an empty data change.
    posted.clear();
    sink->OnDataChange(0, 100, S_OK, S_OK, 2, nullptr, values, qualities, times, errors);
    loop.ProcessPending();
    EXPECT_TRUE(posted.empty());
    sink->OnDataChange(0, 100, S_OK, S_OK, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
    loop.ProcessPending();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_TRUE(posted[0].Payload->Items.empty());
}

TEST_F(SinkTest, WriteCompletionWithOneFailureIsAWriteError) {
    Connect(kDA20);
    TVelqorCOMGroup& g = NewGroup(true, 50, false);
    loop.ProcessPending();
    posted.clear();
    TVelqorItemList list = Items({"A", "B"});
    OPCHANDLE handles[2] = {list[0]->ClientHandle(), list[1]->ClientHandle()};
    HRESULT errors[2] = {S_OK, OPC_E_BADTYPE};
    g.DataCallback()->OnWriteComplete(0, 100, S_FALSE, 2, handles, errors);
    HRESULT good[2] = {S_OK, S_OK};
    g.DataCallback()->OnWriteComplete(0, 100, S_OK, 2, handles, good);
    g.DataCallback()->OnWriteComplete(0, 100, S_OK, 2, handles, nullptr);
    loop.ProcessPending();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].Message, WM_VELQOR_WRITEERROR);
    EXPECT_EQ(posted[0].Payload->Items[0].Fields & ItemUpdate::kQuality, 0u);
    EXPECT_EQ(posted[0].Payload->Items[1].Quality, 0);
    EXPECT_EQ(posted[0].Payload->Items[1].Error, OPC_E_BADTYPE);
    EXPECT_EQ(posted[1].Message, WM_VELQOR_WRITECOMPLETE);
    EXPECT_EQ(posted[2].Message, WM_VELQOR_WRITEERROR) << "no error array is no success";
}

// DA 1.0 streams: values (a string among them) with masked quality; a stream with no items or a
// failed status posts nothing; a block shorter than its header says is dropped; write
// completions and other formats are not data.
TEST_F(SinkTest, AdviseSinkPostsDecodedStreams) {
    Connect(kDA10);
    TVelqorCOMGroup& g = NewGroup(true, 50, false);
    ASSERT_NE(g.AdviseSink(), nullptr);
    ASSERT_NE(g.AdviseSink()->Connection(), 0u);
    loop.ProcessPending();
    posted.clear();
    TVelqorItemList list = Items({"A", "B"});
    const std::vector<ItemUpdate> two = {
        StreamItem(list[0]->ClientHandle(), Variant::Str("Grüße"), 0xD8),
        StreamItem(0xFFFFFFF0u, Variant::I4(1), 0xC0),
        StreamItem(list[1]->ClientHandle(), Variant::I2(-3), 0x40)};
    TVelqorAdviseSink* sink = g.AdviseSink();
    struct Case {
        const char* name;
        std::string block;
        UINT format;
        size_t items;  // posted items, 0: nothing posted
    };
    std::string cut = EncodeDataStream(two, true, 100, 0, 0);
    cut.resize(40);
    const std::vector<Case> cases = {
        {"with time", EncodeDataStream(two, true, 100, 0, 0), StreamFormats().DataTime, 2},
        {"without time", EncodeDataStream(two, false, 100, 0, 0), StreamFormats().Data, 2},
        {"no items", EncodeDataStream({}, true, 100, 0, 0), StreamFormats().DataTime, 0},
        {"failed status", EncodeDataStream(two, true, 100, 0, E_FAIL), StreamFormats().DataTime, 0},
        {"cut short", cut, StreamFormats().DataTime, 0},
        {"write completion", EncodeDataStream(two, true, 100, 0, 0), StreamFormats().WriteComplete,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        posted.clear();
        StreamMedium m(c.block, c.format);
        sink->OnDataChange(&m.format, &m.medium);
        loop.ProcessPending();
        if (c.items == 0) {
            EXPECT_TRUE(posted.empty());
            continue;
        }
        ASSERT_EQ(posted.size(), 1u);
        EXPECT_EQ(posted[0].WParam, 100u);
        ASSERT_EQ(posted[0].Payload->Items.size(), c.items);
        ApplyPosted();
        EXPECT_EQ(list[0]->Value(), Variant::Str("Grüße"));
        EXPECT_EQ(list[0]->Quality(), 0xC0) << "only the major quality bits are kept";
        EXPECT_EQ(list[1]->Value(), Variant::I2(-3));
    }
}

// A server that calls after the group was removed reaches a detached sink: nothing is posted
// (the DA 1.0 sink beeps).
TEST_F(SinkTest, CallbacksAfterTheGroupWasRemoved) {
    VELQOR_SKIP_ON_PLATFORM_COM("the beeps are counted by the toolkit runtime's hook");
    int beeps = 0;
    com::SetBeepHook([&](UINT) { ++beeps; });
    for (const char* server : {kDA20, kDA10}) {
        SCOPED_TRACE(server);
        Connect(server);
        TVelqorCOMGroup& g = NewGroup(true, 50, false);
        com::ComPtr<TVelqorDataCallback> callback(g.DataCallback());
        com::ComPtr<TVelqorAdviseSink> sink(g.AdviseSink());
        int32_t handle = serverHandles.back();
        groups.back()->Remove(false, handle);
        loop.ProcessPending();
        posted.clear();
        TVelqorItemList list = Items({"A"});
        OPCHANDLE h = list[0]->ClientHandle();
        VARIANT v;
        VariantInit(&v);
        WORD q = 0xC0;
        FILETIME t{};
        HRESULT e = S_OK;
        if (callback) {
            callback->OnDataChange(0, 100, S_OK, S_OK, 1, &h, &v, &q, &t, &e);
            callback->OnWriteComplete(0, 100, S_OK, 1, &h, &e);
        }
        if (sink) {
            StreamMedium m(
                EncodeDataStream({StreamItem(h, Variant::I4(1), 0xC0)}, true, 100, 0, 0));
            sink->OnDataChange(&m.format, &m.medium);
        }
        loop.ProcessPending();
        EXPECT_TRUE(posted.empty());
        groups.pop_back();
        serverHandles.pop_back();
    }
    EXPECT_EQ(beeps, 1);
    com::SetBeepHook(nullptr);
}

}  // namespace
}  // namespace velqor::test
