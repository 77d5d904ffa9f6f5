// DA 1.0 groups: data streams to IDataObject advise sinks, decoded field by field here, and the
// asynchronous calls that name an advise connection.
#include "SimGroupTestSupport.h"

namespace velqor::test {
namespace {

struct StreamItem {
    OPCHANDLE Client = 0;
    WORD Quality = 0;
    FILETIME Time{};
    Variant Value;
};
struct DecodedStream {
    OPCGROUPHEADER Header{};
    std::vector<StreamItem> Items;
    bool Fits = true;  // every header and value lies inside the block
};

// Reads a data stream as the published layout has it: group header, item headers, values; a
// string's byte count and characters follow its VARIANT.
DecodedStream Decode(const StreamCopy& s, bool withTime) {
    DecodedStream out;
    const std::vector<BYTE>& b = s.Bytes;
    if (b.size() < sizeof(OPCGROUPHEADER)) return out.Fits = false, out;
    std::memcpy(&out.Header, b.data(), sizeof out.Header);
    std::size_t header = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
    for (DWORD i = 0; i < out.Header.dwItemCount; ++i) {
        std::size_t at = sizeof(OPCGROUPHEADER) + i * header;
        if (at + header > b.size()) return out.Fits = false, out;
        OPCITEMHEADER1 h{};
        std::memcpy(&h, b.data() + at, header);
        if (h.dwValueOffset + sizeof(VARIANT) > b.size()) return out.Fits = false, out;
        VARIANT v;
        std::memcpy(&v, b.data() + h.dwValueOffset, sizeof v);
        StreamItem item{h.hClient, h.wQuality, withTime ? h.ftTimeStampItem : FILETIME{}, {}};
        if (v.vt == VT_BSTR) {
            EXPECT_EQ(v.bstrVal, nullptr) << "no pointer travels in a stream";
            DWORD bytes = 0;
            std::size_t chars = h.dwValueOffset + sizeof(VARIANT) + sizeof bytes;
            std::memcpy(&bytes, b.data() + chars - sizeof bytes, sizeof bytes);
            if (chars + bytes + sizeof(OLECHAR) > b.size()) return out.Fits = false, out;
            std::u16string text(bytes / sizeof(OLECHAR), u'\0');
            std::memcpy(text.data(), b.data() + chars, bytes);
            OLECHAR end = 1;
            std::memcpy(&end, b.data() + chars + bytes, sizeof end);
            EXPECT_EQ(end, 0) << "a string ends with a 0 character";
            item.Value = Variant(com::Utf16ToUtf8(text));
        } else {
            item.Value = VariantFromOle(v);
        }
        out.Items.push_back(std::move(item));
    }
    EXPECT_EQ(out.Header.dwSize, b.size());
    return out;
}

class SimDa10GroupTest : public SimGroupTest {
  protected:
    void SetUp() override {
        SimGroupTest::SetUp();
        Connect(u"Velqor.SimDA10.1");
    }
    void TearDown() override {
        sink_ = {};
        SimGroupTest::TearDown();
    }
    DWORD Advise(IOPCItemMgt* g, const char* format, HRESULT expect = S_OK) {
        if (!sink_) sink_ = com::MakeObject<RecordingAdviseSink>();
        FORMATETC f{StreamFormat(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        DWORD connection = 0;
        EXPECT_EQ(
            com::QueryAs<IDataObject>(g)->DAdvise(&f, ADVF_PRIMEFIRST, sink_.Get(), &connection),
            expect);
        return connection;
    }
    // The first stream of that format whose header matches, once it came.
    const StreamCopy* WaitForStream(const char* format,
                                    std::function<bool(const OPCGROUPHEADER&)> pred) {
        CLIPFORMAT f = StreamFormat(format);
        const StreamCopy* found = nullptr;
        loop_.RunUntil(
            [&] {
                for (const auto& s : sink_->Streams) {
                    OPCGROUPHEADER h{};
                    std::memcpy(&h, s.Bytes.data(), std::min(sizeof h, s.Bytes.size()));
                    if (s.Format == f && pred(h)) return (found = &s) != nullptr;
                }
                return false;
            },
            kWait);
        return found;
    }
    void WriteSync(IOPCItemMgt* g, OPCHANDLE h, VARIANT v) {
        HRESULT* errors = nullptr;
        ASSERT_EQ(com::QueryAs<IOPCSyncIO>(g)->Write(1, &h, &v, &errors), S_OK);
        CoTaskMemFree(errors);
        VariantClear(&v);
    }

    com::ComPtr<RecordingAdviseSink> sink_;
};

TEST_F(SimDa10GroupTest, DataStreamsCarryHeadersValuesAndStringsInThePublishedLayout) {
    auto group = AddGroup(u"g", true, 50, 77);
    auto h = AddGood(group.Get(), {u"Writable/String", u"Writable/Int", u"Special/Uncertain",
                                   u"Writable/Arrays/ArrayOfInt"});
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u"h\u00e9llo w\u00f6rld");
    WriteSync(group.Get(), h[0], text);
    Advise(group.Get(), "OPCSTMFORMATDATATIME");

    const StreamCopy* s = WaitForStream("OPCSTMFORMATDATATIME",
                                        [](const OPCGROUPHEADER& g) { return g.dwItemCount == 4; });
    ASSERT_TRUE(s);
    DecodedStream d = Decode(*s, true);
    ASSERT_TRUE(d.Fits);
    EXPECT_EQ(d.Header.hClientGroup, 77u);
    EXPECT_EQ(d.Header.dwTransactionID, 0u);
    EXPECT_EQ(d.Header.hrStatus, S_OK);
    struct Expected {
        OPCHANDLE client;
        WORD quality;
        VARTYPE type;
        std::string text;
    };
    const Expected expected[] = {
        {1000, OPC_QUALITY_GOOD, VT_BSTR, "h\xc3\xa9llo w\xc3\xb6rld"},
        {1001, OPC_QUALITY_GOOD, VT_I4, ""},
        // The full quality word travels: uncertain, EU exceeded, high limit.
        {1002, OPC_QUALITY_EGU_EXCEEDED | OPC_LIMIT_HIGH, VT_R8, "104.5"},
        // An array cannot travel without a pointer: empty, bad (configuration error).
        {1003, OPC_QUALITY_CONFIG_ERROR, VT_EMPTY, ""},
    };
    ASSERT_EQ(d.Items.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(d.Items[i].Client, expected[i].client);
        EXPECT_EQ(d.Items[i].Quality, expected[i].quality);
        EXPECT_EQ(d.Items[i].Value.Type(), expected[i].type);
        if (!expected[i].text.empty()) {
            EXPECT_EQ(d.Items[i].Value.ToText(), expected[i].text);
        }
        if (i < 3) {
            EXPECT_NE(d.Items[i].Time.dwHighDateTime, 0u);
        }
    }

    // A sink advised for streams without time gets the short item headers.
    Advise(group.Get(), "OPCSTMFORMATDATA");
    const StreamCopy* plain =
        WaitForStream("OPCSTMFORMATDATA", [](const OPCGROUPHEADER& g) { return g.dwItemCount; });
    ASSERT_TRUE(plain);
    DecodedStream p = Decode(*plain, false);
    ASSERT_TRUE(p.Fits);
    ASSERT_FALSE(p.Items.empty());
    EXPECT_GE(p.Items[0].Client, 1000u);
}

TEST_F(SimDa10GroupTest, AsyncCallsNameTheAdviseConnection) {
    auto group = AddGroup(u"g", true, 60000, 5);  // no data change gets in the way
    auto h = AddGood(group.Get(), {u"Writable/Int", u"Plant/Area1/Tank1/Level"});
    auto async = com::QueryAs<IOPCAsyncIO>(group);
    ASSERT_TRUE(async);
    DWORD trans = 0;
    HRESULT* errors = nullptr;
    EXPECT_EQ(async->Read(1, OPC_DS_DEVICE, 2, h.data(), &trans, &errors), CONNECT_E_NOCONNECTION);
    Advise(group.Get(), "CF_SOMETHINGELSE", DV_E_FORMATETC);
    DWORD data = Advise(group.Get(), "OPCSTMFORMATDATATIME");
    Advise(group.Get(), "OPCSTMFORMATWRITECOMPLETE");

    VARIANT v[2];
    VariantInit(&v[0]);
    VariantInit(&v[1]);
    v[0].vt = VT_I4;
    v[0].lVal = 99;
    v[1].vt = VT_I4;
    DWORD writeTrans = 0, cancelled = 0, readTrans = 0;
    EXPECT_EQ(async->Write(data, 2, h.data(), v, &writeTrans, &errors), S_FALSE);
    EXPECT_EQ(TakeErrors(errors, 2), (std::vector<HRESULT>{S_OK, OPC_E_BADRIGHTS}));
    ASSERT_EQ(async->Read(data, OPC_DS_DEVICE, 2, h.data(), &cancelled, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(async->Cancel(cancelled), S_OK);
    ASSERT_EQ(async->Read(data, OPC_DS_DEVICE, 2, h.data(), &readTrans, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_TRUE(sink_->Streams.empty()) << "nothing is answered inside the call";

    const StreamCopy* read = WaitForStream(
        "OPCSTMFORMATDATATIME", [&](const OPCGROUPHEADER& g) { return g.dwTransactionID; });
    ASSERT_TRUE(read);
    DecodedStream d = Decode(*read, true);
    EXPECT_EQ(d.Header.dwTransactionID, readTrans) << "the cancelled read never answers";
    ASSERT_EQ(d.Items.size(), 2u);
    EXPECT_EQ(d.Items[0].Value.AsInt32(), 99);

    const StreamCopy* written =
        WaitForStream("OPCSTMFORMATWRITECOMPLETE", [](const OPCGROUPHEADER&) { return true; });
    ASSERT_TRUE(written);
    OPCGROUPHEADERWRITE wh{};
    OPCITEMHEADERWRITE item{};
    ASSERT_EQ(written->Bytes.size(), sizeof wh + sizeof item);
    std::memcpy(&wh, written->Bytes.data(), sizeof wh);
    std::memcpy(&item, written->Bytes.data() + sizeof wh, sizeof item);
    EXPECT_EQ(wh.dwTransactionID, writeTrans);
    EXPECT_EQ(wh.hClientGroup, 5u);
    EXPECT_EQ(wh.dwItemCount, 1u);
    EXPECT_EQ(item.hClient, 1000u);
    EXPECT_EQ(item.dwError, S_OK);

    DWORD refresh = 0;
    ASSERT_EQ(async->Refresh(data, OPC_DS_CACHE, &refresh), S_OK);
    ASSERT_TRUE(WaitForStream("OPCSTMFORMATDATATIME", [&](const OPCGROUPHEADER& g) {
        return g.dwTransactionID == refresh;
    }));
    EXPECT_EQ(com::QueryAs<IDataObject>(group)->DUnadvise(data), S_OK);
    EXPECT_EQ(async->Refresh(data, OPC_DS_CACHE, &refresh), CONNECT_E_NOCONNECTION);
}

}  // namespace
}  // namespace velqor::test
