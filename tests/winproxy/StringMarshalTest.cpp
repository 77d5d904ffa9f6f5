// Every string parameter of the OPC interfaces crosses an apartment boundary intact through the
// registered proxy/stub DLL: [in] strings, [in] arrays of strings, [out] strings and [in,out]
// strings. The object lives in the multi-threaded apartment of a thread of its own; the test
// calls it from its single-threaded apartment, so each call is marshalled.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "StringServer.h"
#include "com/GroupState.h"

namespace velqor::test {
namespace {

using Strings = std::vector<std::wstring>;

std::wstring Take(LPWSTR& p) {
    std::wstring s = p ? std::wstring(p) : std::wstring(L"(null)");
    CoTaskMemFree(p);
    p = nullptr;
    return s;
}

// The object in another apartment, reached through a proxy.
class StringMarshalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        IStream* stream = nullptr;
        HRESULT marshalled = E_FAIL;
        owner_ = std::thread([&, ready] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            {
                auto object = com::MakeObject<StringServer>();
                server_ = object.Get();
                marshalled = CoMarshalInterThreadInterfaceInStream(
                    IID_IUnknown, object->ControllingUnknown(), &stream);
                SetEvent(ready);
                WaitForSingleObject(done_, INFINITE);
            }
            CoUninitialize();
        });
        WaitForSingleObject(ready, 60000);
        CloseHandle(ready);
        ASSERT_TRUE(SUCCEEDED(marshalled));
        ASSERT_TRUE(SUCCEEDED(CoGetInterfaceAndReleaseStream(stream, IID_IUnknown,
                                                             reinterpret_cast<void**>(&proxy_))));
    }
    void TearDown() override {
        if (proxy_) proxy_->Release();
        SetEvent(done_);
        if (owner_.joinable()) owner_.join();
        CloseHandle(done_);
        CoUninitialize();
    }

  public:  // for the cases' calls
    template <class I>
    I* As() {
        void* p = nullptr;
        const HRESULT hr = proxy_->QueryInterface(com::InterfaceTraits<I>::Id(), &p);
        EXPECT_EQ(hr, S_OK) << "no proxy for the interface: is the proxy/stub DLL registered?";
        EXPECT_NE(p, static_cast<void*>(static_cast<I*>(server_))) << "not marshalled";
        return static_cast<I*>(p);
    }
    template <class I>
    HRESULT Call(const std::function<HRESULT(I*)>& call) {
        I* i = As<I>();
        if (!i) return E_NOINTERFACE;
        const HRESULT hr = call(i);
        i->Release();
        return hr;
    }

  protected:
    ::IUnknown* proxy_ = nullptr;
    StringServer* server_ = nullptr;  // used on the owner's thread only, but for Seen()
    HANDLE done_ = nullptr;
    std::thread owner_;
};

struct Case {
    const char* name;
    // Makes the call; returns its result and puts the strings that came back into out.
    std::function<HRESULT(StringMarshalTest&, Strings& out)> call;
    Strings seen;      // what the object must have been given
    Strings returned;  // what must have come back
};

// A case's call through the proxy of interface I: call(i, out) makes it.
template <class I, class F>
std::function<HRESULT(StringMarshalTest&, Strings&)> Via(F call) {
    return [call](StringMarshalTest& t, Strings& out) {
        return t.Call<I>([&](I* i) { return call(i, out); });
    };
}

TEST_F(StringMarshalTest, StringParametersArriveIntact) {
    LPWSTR ids[] = {const_cast<LPWSTR>(L"Plant.Pump1/Speed"), const_cast<LPWSTR>(L"Tank \u00df/2")};
    LPCWSTR cids[] = {ids[0], ids[1]};
    const std::vector<Case> cases = {
        {"IOPCCommon::SetClientName [in]",
         Via<IOPCCommon>([](IOPCCommon* c, Strings&) { return c->SetClientName(L"cli \u00e9"); }),
         {L"cli \u00e9"},
         {}},
        {"IOPCCommon::GetErrorString [out]",
         Via<IOPCCommon>([&](IOPCCommon* c, Strings& out) {
             LPWSTR s = nullptr;
             const HRESULT hr = c->GetErrorString(E_FAIL, &s);
             out.push_back(Take(s));
             return hr;
         }),
         {},
         {L"common: unspecified"}},
        {"IOPCServer::GetErrorString [out]",
         Via<IOPCServer>([&](IOPCServer* s, Strings& out) {
             LPWSTR text = nullptr;
             const HRESULT hr = s->GetErrorString(E_FAIL, 0, &text);
             out.push_back(Take(text));
             return hr;
         }),
         {},
         {L"server: unspecified"}},
        {"IOPCBrowseServerAddressSpace::GetItemID [in] and [out]",
         Via<IOPCBrowseServerAddressSpace>([&](IOPCBrowseServerAddressSpace* b, Strings& out) {
             LPWSTR id = nullptr;
             const HRESULT hr = b->GetItemID(const_cast<LPWSTR>(L"Level"), &id);
             out.push_back(Take(id));
             return hr;
         }),
         {L"Level"},
         {L"Plant.Area/Level"}},
        {"IOPCGroupStateMgt::GetState [out] name",
         Via<IOPCGroupStateMgt>([&](IOPCGroupStateMgt* g, Strings& out) {
             GroupStateOut st;
             const HRESULT hr = st.Get(g);
             out.push_back(Take(st.Name));
             out.push_back(std::to_wstring(st.Rate) + L"/" + std::to_wstring(st.Server));
             return hr;
         }),
         {},
         {L"Gruppe \u00e4\u00f6\u00fc", L"500/8"}},
        {"IOPCGroupStateMgt::SetName [in]",
         Via<IOPCGroupStateMgt>(
             [](IOPCGroupStateMgt* g, Strings&) { return g->SetName(L"renamed"); }),
         {L"renamed"},
         {}},
        {"IOPCItemProperties::QueryAvailableProperties [out] array of strings",
         Via<IOPCItemProperties>([&](IOPCItemProperties* p, Strings& out) {
             DWORD count = 0, *propertyIds = nullptr;
             LPWSTR* texts = nullptr;
             VARTYPE* types = nullptr;
             const HRESULT hr = p->QueryAvailableProperties(const_cast<LPWSTR>(L"Tank/Level"),
                                                            &count, &propertyIds, &texts, &types);
             for (DWORD i = 0; texts && i < count; ++i) out.push_back(Take(texts[i]));
             for (void* a : {static_cast<void*>(propertyIds), static_cast<void*>(texts),
                             static_cast<void*>(types)})
                 CoTaskMemFree(a);
             return hr;
         }),
         {L"Tank/Level"},
         {L"Item Canonical DataType", L"EU Units"}},
        {"IOPCItemProperties::LookupItemIDs [out] array of strings",
         Via<IOPCItemProperties>([&](IOPCItemProperties* p, Strings& out) {
             DWORD wanted[] = {100, 101};
             LPWSTR* found = nullptr;
             HRESULT* errors = nullptr;
             const HRESULT hr =
                 p->LookupItemIDs(const_cast<LPWSTR>(L"Tank"), 2, wanted, &found, &errors);
             for (DWORD i = 0; found && i < 2; ++i) out.push_back(Take(found[i]));
             CoTaskMemFree(found);
             CoTaskMemFree(errors);
             return hr;
         }),
         {L"Tank"},
         {L"Tank#0", L"Tank#1"}},
        {"IOPCBrowse::Browse [in] and [in,out] continuation",
         Via<IOPCBrowse>([&](IOPCBrowse* b, Strings& out) {
             LPWSTR point = TaskString(L"page 1");
             DWORD noIds = 0, count = 0;
             BOOL more = FALSE;
             OPCBROWSEELEMENT* elements = nullptr;
             const HRESULT hr =
                 b->Browse(const_cast<LPWSTR>(L"Plant"), &point, 10, OPC_BROWSE_FILTER_ALL,
                           const_cast<LPWSTR>(L"P*"), const_cast<LPWSTR>(L"vendor"), FALSE, FALSE,
                           0, &noIds, &more, &count, &elements);
             out.push_back(Take(point));
             CoTaskMemFree(elements);
             return hr;
         }),
         {L"Plant", L"page 1", L"P*", L"vendor"},
         {L"next page"}},
        {"IOPCBrowse::GetProperties [in] array of strings, no property IDs",
         Via<IOPCBrowse>([&](IOPCBrowse* b, Strings&) {
             DWORD noIds = 0;
             OPCITEMPROPERTIES* props = nullptr;
             const HRESULT hr = b->GetProperties(2, ids, FALSE, 0, &noIds, &props);
             CoTaskMemFree(props);
             return hr;
         }),
         {ids[0], ids[1]},
         {}},
        {"IOPCItemIO::Read [in] array of strings",
         Via<IOPCItemIO>([&](IOPCItemIO* io, Strings&) {
             DWORD ages[] = {0, 0};
             VARIANT* values = nullptr;
             WORD* qualities = nullptr;
             FILETIME* times = nullptr;
             HRESULT* errors = nullptr;
             const HRESULT hr = io->Read(2, cids, ages, &values, &qualities, &times, &errors);
             for (void* p : {static_cast<void*>(values), static_cast<void*>(qualities),
                             static_cast<void*>(times), static_cast<void*>(errors)})
                 CoTaskMemFree(p);
             return hr;
         }),
         {ids[0], ids[1]},
         {}},
        {"IOPCItemIO::WriteVQT [in] array of strings",
         Via<IOPCItemIO>([&](IOPCItemIO* io, Strings&) {
             OPCITEMVQT vqt{};
             vqt.vDataValue.vt = VT_I4;
             vqt.vDataValue.lVal = 5;
             HRESULT* errors = nullptr;
             const HRESULT hr = io->WriteVQT(1, cids + 1, &vqt, &errors);
             CoTaskMemFree(errors);
             return hr;
         }),
         {ids[1]},
         {}},
        {"IOPCServerList2::GetClassDetails three [out]",
         Via<IOPCServerList2>([&](IOPCServerList2* l, Strings& out) {
             LPOLESTR a = nullptr, b = nullptr, c = nullptr;
             const HRESULT hr = l->GetClassDetails(GUID{}, &a, &b, &c);
             out.push_back(Take(a));
             out.push_back(Take(b));
             out.push_back(Take(c));
             return hr;
         }),
         {},
         {L"Velqor.Strings.1", L"Strings server", L"Velqor.Strings"}},
        {"IOPCServerList2::CLSIDFromProgID [in]",
         Via<IOPCServerList2>([](IOPCServerList2* l, Strings&) {
             CLSID clsid{};
             return l->CLSIDFromProgID(L"Velqor.Strings.1", &clsid);
         }),
         {L"Velqor.Strings.1"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Strings out;
        EXPECT_EQ(c.call(*this, out), S_OK);
        EXPECT_EQ(server_->Seen(), c.seen);
        EXPECT_EQ(out, c.returned);
    }
}

}  // namespace
}  // namespace velqor::test
