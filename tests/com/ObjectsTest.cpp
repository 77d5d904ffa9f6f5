// Connection points, the global interface table, enumerators, data advise lists and the beep
// hook: the objects servers and clients exchange.
#include <string>

#include "ComTestSupport.h"
#include "com/runtime/ComConnectionPoints.h"
#include "com/runtime/ComText.h"

namespace velqor::test {
namespace {

using ObjectsTest = ComAccountedTest;

class Sink : public com::PlatformObject<IAdviseSink> {
  public:
    int closes = 0;
    void STDMETHODCALLTYPE OnDataChange(FORMATETC*, STGMEDIUM*) override {}
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override { ++closes; }
};

class Server : public com::PlatformObject<IConnectionPointContainer> {
  public:
    Server() { points_.Add(point); }
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** e) override {
        return points_.Enum(e);
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** cp) override {
        return points_.Find(iid, cp);
    }
    com::ConnectionPoint point{*this, IID_IAdviseSink};

  private:
    com::ConnectionPointList points_;
};

TEST_F(ObjectsTest, ConnectionPointAdviseFireUnadvise) {
    auto server = com::MakeObject<Server>();
    auto sink = com::MakeObject<Sink>();
    com::ComPtr<IConnectionPoint> cp;
    EXPECT_EQ(server->FindConnectionPoint(IID_IDataObject, cp.Put()), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(server->FindConnectionPoint(IID_IAdviseSink, cp.Put()), S_OK);
    EXPECT_EQ(server->RefCount(), 2u) << "the point shares the server's count";

    DWORD cookie = 0;
    auto notASink = com::MakeObject<com::GuidEnumerator>(std::vector<GUID>{});
    EXPECT_EQ(cp->Advise(notASink.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    ASSERT_EQ(cp->Advise(sink.Get(), &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_EQ(sink->RefCount(), 2u);

    for (auto& s : server->point.Sinks<IAdviseSink>()) s->OnClose();
    EXPECT_EQ(sink->closes, 1);

    com::ComPtr<IEnumConnections> connections;
    ASSERT_EQ(cp->EnumConnections(connections.Put()), S_OK);
    CONNECTDATA data[2];
    ULONG got = 0;
    EXPECT_EQ(connections->Next(2, data, &got), S_FALSE);
    ASSERT_EQ(got, 1u);
    EXPECT_EQ(data[0].dwCookie, cookie);
    data[0].pUnk->Release();

    EXPECT_EQ(cp->Unadvise(cookie + 1), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(cp->Unadvise(cookie), S_OK);
    EXPECT_EQ(cp->Unadvise(cookie), CONNECT_E_NOCONNECTION) << "a cookie works once";
    connections.Reset();
    EXPECT_EQ(sink->RefCount(), 1u) << "the point let go of the sink";
    EXPECT_TRUE(server->point.Sinks<IAdviseSink>().empty());
}

TEST_F(ObjectsTest, GlobalInterfaceTableRegisterGetRevoke) {
    com::ComPtr<IGlobalInterfaceTable> git;
    ASSERT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IGlobalInterfaceTable, reinterpret_cast<void**>(git.Put())),
              S_OK);
    auto sink = com::MakeObject<Sink>();
    DWORD cookie = 0;
    EXPECT_EQ(git->RegisterInterfaceInGlobal(sink.Get(), IID_IDataObject, &cookie), E_NOINTERFACE);
    ASSERT_EQ(git->RegisterInterfaceInGlobal(sink.Get(), IID_IAdviseSink, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_EQ(sink->RefCount(), 2u);

    com::ComPtr<IAdviseSink> back;
    ASSERT_EQ(
        git->GetInterfaceFromGlobal(cookie, IID_IAdviseSink, reinterpret_cast<void**>(back.Put())),
        S_OK);
    EXPECT_EQ(back.Get(), static_cast<IAdviseSink*>(sink.Get())) << "same apartment: no proxy";
    back.Reset();
    EXPECT_EQ(git->RevokeInterfaceFromGlobal(cookie), S_OK);
    EXPECT_EQ(sink->RefCount(), 1u);
    EXPECT_EQ(git->RevokeInterfaceFromGlobal(cookie), E_INVALIDARG);
    EXPECT_EQ(
        git->GetInterfaceFromGlobal(cookie, IID_IAdviseSink, reinterpret_cast<void**>(back.Put())),
        E_INVALIDARG);
}

TEST_F(ObjectsTest, EnumeratorsHandOutCopiesTheCallerFrees) {
    auto e = com::MakeObject<com::StringEnumerator>(std::vector<std::u16string>{u"a", u"b", u"c"});
    LPOLESTR items[4] = {};
    ULONG got = 0;
    EXPECT_EQ(e->Next(2, items, nullptr), E_POINTER) << "more than one needs a count";
    ASSERT_EQ(e->Next(1, items, nullptr), S_OK);
    EXPECT_EQ(com::Utf16ToUtf8(items[0]), "a");
    CoTaskMemFree(items[0]);

    com::ComPtr<IEnumString> clone;
    ASSERT_EQ(e->Clone(clone.Put()), S_OK);
    EXPECT_EQ(e->Skip(5), S_FALSE);
    EXPECT_EQ(e->Next(1, items, &got), S_FALSE);
    EXPECT_EQ(got, 0u);

    ASSERT_EQ(clone->Next(4, items, &got), S_FALSE) << "the clone keeps its own position";
    ASSERT_EQ(got, 2u);
    EXPECT_EQ(com::Utf16ToUtf8(items[0]) + com::Utf16ToUtf8(items[1]), "bc");
    CoTaskMemFree(items[0]);
    CoTaskMemFree(items[1]);
    EXPECT_EQ(clone->Reset(), S_OK);
    EXPECT_EQ(clone->Skip(3), S_OK);
}

TEST_F(ObjectsTest, DataAdviseListAndBeepHook) {
    com::DataAdviseList list;
    auto sink = com::MakeObject<Sink>();
    FORMATETC format{CLIPFORMAT(RegisterClipboardFormatA("OPCSTMFORMATDATATIME")), nullptr,
                     DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD connection = 0;
    ASSERT_EQ(list.Advise(&format, ADVF_PRIMEFIRST, sink.Get(), &connection), S_OK);
    EXPECT_NE(connection, 0u);
    EXPECT_EQ(list.Snapshot().at(0).Format.cfFormat, format.cfFormat);
    EXPECT_EQ(list.Unadvise(connection + 1), OLE_E_NOCONNECTION);
    EXPECT_EQ(list.Unadvise(connection), S_OK);
    EXPECT_EQ(sink->RefCount(), 1u);

    std::vector<UINT> beeps;
    com::SetBeepHook([&](UINT type) { beeps.push_back(type); });
    MessageBeep(0);
    com::SetBeepHook(nullptr);
    MessageBeep(0);
    EXPECT_EQ(beeps, std::vector<UINT>{0});
}

}  // namespace
}  // namespace velqor::test
