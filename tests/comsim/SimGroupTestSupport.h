// Shared by the simulated-group tests: adding a group and items through the raw interfaces, and
// client sinks that copy what the server delivers (data callbacks and DA 1.0 streams) and leave
// the server's memory to the server.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "SimServerTestSupport.h"
#include "com/runtime/ComConnectionPoints.h"

namespace velqor::test {

inline constexpr auto kWait = std::chrono::seconds(10);

struct ItemValueCopy {
    OPCHANDLE Client = 0;
    Variant Value;
    WORD Quality = 0;
    FILETIME Time{};
    HRESULT Error = S_OK;
};

// One call an IOPCDataCallback received.
struct CallbackCopy {
    enum Kind { DataChange, ReadComplete, WriteComplete, CancelComplete } What;
    DWORD Transaction = 0;
    OPCHANDLE Group = 0;
    std::vector<ItemValueCopy> Items;
    const ItemValueCopy* Find(OPCHANDLE client) const {
        for (const auto& i : Items)
            if (i.Client == client) return &i;
        return nullptr;
    }
};

class RecordingCallback final : public com::PlatformObject<IOPCDataCallback> {
  public:
    std::vector<CallbackCopy> Calls;

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD trans, OPCHANDLE group, HRESULT, HRESULT,
                                           DWORD count, OPCHANDLE* handles, VARIANT* values,
                                           WORD* qualities, FILETIME* times,
                                           HRESULT* errors) override {
        Record(CallbackCopy::DataChange, trans, group, count, handles, values, qualities, times,
               errors);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD trans, OPCHANDLE group, HRESULT, HRESULT,
                                             DWORD count, OPCHANDLE* handles, VARIANT* values,
                                             WORD* qualities, FILETIME* times,
                                             HRESULT* errors) override {
        Record(CallbackCopy::ReadComplete, trans, group, count, handles, values, qualities, times,
               errors);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD trans, OPCHANDLE group, HRESULT, DWORD count,
                                              OPCHANDLE* handles, HRESULT* errors) override {
        CallbackCopy c{CallbackCopy::WriteComplete, trans, group, {}};
        for (DWORD i = 0; i < count; ++i) c.Items.push_back({handles[i], {}, 0, {}, errors[i]});
        Calls.push_back(std::move(c));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD trans, OPCHANDLE group) override {
        Calls.push_back({CallbackCopy::CancelComplete, trans, group, {}});
        return S_OK;
    }
    // The first recorded call that matches, or null.
    template <class Pred>
    const CallbackCopy* First(Pred pred) const {
        for (const auto& c : Calls)
            if (pred(c)) return &c;
        return nullptr;
    }

  private:
    void Record(CallbackCopy::Kind what, DWORD trans, OPCHANDLE group, DWORD count,
                OPCHANDLE* handles, VARIANT* values, WORD* qualities, FILETIME* times,
                HRESULT* errors) {
        CallbackCopy c{what, trans, group, {}};
        for (DWORD i = 0; i < count; ++i)
            c.Items.push_back(
                {handles[i], VariantFromOle(values[i]), qualities[i], times[i], errors[i]});
        Calls.push_back(std::move(c));
    }
};

// One DA 1.0 stream as the sink received it: its format and a copy of the block.
struct StreamCopy {
    CLIPFORMAT Format = 0;
    std::vector<BYTE> Bytes;
};

class RecordingAdviseSink final : public com::PlatformObject<IAdviseSink> {
  public:
    std::vector<StreamCopy> Streams;

    void STDMETHODCALLTYPE OnDataChange(FORMATETC* format, STGMEDIUM* medium) override {
        StreamCopy s{format->cfFormat, {}};
        auto* p = static_cast<const BYTE*>(GlobalLock(medium->hGlobal));
        s.Bytes.assign(p, p + GlobalSize(medium->hGlobal));
        GlobalUnlock(medium->hGlobal);
        Streams.push_back(std::move(s));
    }
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override {}
};

inline CLIPFORMAT StreamFormat(const char* name) {
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatA(name));
}

// One item as the group's item enumerator lists it.
struct ItemAttributesCopy {
    std::string ItemID;
    OPCHANDLE Client = 0;
    DWORD EUType = 0;
    Variant EUInfo;
};
struct EnumeratedItems {
    HRESULT Created = E_FAIL;  // CreateEnumerator's answer
    HRESULT Next = E_FAIL;     // the answer of one Next(count)
    std::vector<ItemAttributesCopy> Items;
};

// Asks the group's item enumerator once for count items; copies what it hands out and frees
// the server's memory.
inline EnumeratedItems EnumerateItems(IOPCItemMgt* group, ULONG count) {
    EnumeratedItems out;
    com::ComPtr<IEnumOPCItemAttributes> e;
    out.Created =
        group->CreateEnumerator(IID_IEnumOPCItemAttributes, reinterpret_cast<LPUNKNOWN*>(e.Put()));
    if (!e) return out;
    OPCITEMATTRIBUTES* attrs = nullptr;
    ULONG fetched = 0;
    out.Next = e->Next(count, &attrs, &fetched);
    for (ULONG i = 0; attrs && i < fetched; ++i) {
        out.Items.push_back({TakeTaskText(attrs[i].szItemID), attrs[i].hClient, attrs[i].dwEUType,
                             VariantFromOle(attrs[i].vEUInfo)});
        CoTaskMemFree(attrs[i].szAccessPath);
        VariantClear(&attrs[i].vEUInfo);
    }
    CoTaskMemFree(attrs);
    return out;
}

// A test on one server generation, with helpers for one group of it.
class SimGroupTest : public SimServerTest {
  protected:
    void TearDown() override {
        callback_ = {};
        server_ = {};
        SimServerTest::TearDown();
    }
    void Connect(const char16_t* progId) {
        server_ = Create<IOPCServer>(progId);
        ASSERT_TRUE(server_);
    }
    // Adds a group asked for IOPCItemMgt; its server handle lands in `handle`.
    com::ComPtr<IOPCItemMgt> AddGroup(const char16_t* name, bool active = true, DWORD rate = 50,
                                      OPCHANDLE client = 77, OPCHANDLE* handle = nullptr,
                                      HRESULT expect = S_OK) {
        com::ComPtr<IOPCItemMgt> group;
        OPCHANDLE server = 0;
        DWORD revised = 0;
        EXPECT_EQ(
            server_->AddGroup(name, active, rate, client, nullptr, nullptr, 0x409, &server,
                              &revised, IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(group.Put())),
            expect);
        if (handle) *handle = server;
        return group;
    }
    struct AddCopy {
        HRESULT Result = E_FAIL;
        std::vector<HRESULT> Errors;
        std::vector<OPCITEMRESULT> Results;  // blobs are never handed out
    };
    // Adds (or validates) items by ID; client handles are 1000 + position.
    static AddCopy AddItems(IOPCItemMgt* g, const std::vector<std::u16string>& ids, bool add = true,
                            VARTYPE requested = VT_EMPTY, const std::u16string& path = u"") {
        std::vector<OPCITEMDEF> defs(ids.size());
        for (std::size_t i = 0; i < ids.size(); ++i) {
            defs[i].szAccessPath = const_cast<LPWSTR>(path.c_str());
            defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
            defs[i].bActive = TRUE;
            defs[i].hClient = static_cast<OPCHANDLE>(1000 + i);
            defs[i].vtRequestedDataType = requested;
        }
        OPCITEMRESULT* r = nullptr;
        HRESULT* e = nullptr;
        AddCopy out;
        auto n = static_cast<DWORD>(ids.size());
        out.Result = add ? g->AddItems(n, defs.data(), &r, &e)
                         : g->ValidateItems(n, defs.data(), FALSE, &r, &e);
        for (std::size_t i = 0; r && e && i < ids.size(); ++i) {
            out.Errors.push_back(e[i]);
            out.Results.push_back(r[i]);
        }
        CoTaskMemFree(r);
        CoTaskMemFree(e);
        return out;
    }
    // Server handles of items that must all be added.
    static std::vector<OPCHANDLE> AddGood(IOPCItemMgt* g, const std::vector<std::u16string>& ids) {
        AddCopy a = AddItems(g, ids);
        EXPECT_EQ(a.Result, S_OK);
        std::vector<OPCHANDLE> h;
        for (const auto& r : a.Results) h.push_back(r.hServer);
        return h;
    }
    // Advises a recording callback on the group's connection point.
    DWORD AdviseCallback(IOPCItemMgt* g) {
        callback_ = com::MakeObject<RecordingCallback>();
        auto cpc = com::QueryAs<IConnectionPointContainer>(g);
        EXPECT_TRUE(cpc);
        com::ComPtr<IConnectionPoint> point;
        EXPECT_EQ(cpc->FindConnectionPoint(IID_IOPCDataCallback, point.Put()), S_OK);
        DWORD cookie = 0;
        EXPECT_EQ(point->Advise(callback_.Get(), &cookie), S_OK);
        return cookie;
    }
    void UnadviseCallback(IOPCItemMgt* g, DWORD cookie) {
        com::ComPtr<IConnectionPoint> point;
        com::QueryAs<IConnectionPointContainer>(g)->FindConnectionPoint(IID_IOPCDataCallback,
                                                                        point.Put());
        EXPECT_EQ(point->Unadvise(cookie), S_OK);
    }
    // Runs the loop until the callback has a call that matches.
    template <class Pred>
    const CallbackCopy* WaitFor(Pred pred) {
        loop_.RunUntil([&] { return callback_->First(pred) != nullptr; }, kWait);
        return callback_->First(pred);
    }
    static std::vector<HRESULT> TakeErrors(HRESULT* e, std::size_t n) {
        std::vector<HRESULT> out(e, e ? e + n : e);
        CoTaskMemFree(e);
        return out;
    }

    com::ComPtr<IOPCServer> server_;
    com::ComPtr<RecordingCallback> callback_;
};

}  // namespace velqor::test
