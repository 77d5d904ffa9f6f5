// The DA 2.0 browser against a server of this test that is odd in ways the simulated servers are
// not: it goes up forever and never jumps, and it hands out its names in portions from an
// enumerator that can fail part-way.
#include <string>

#include "ComBrowseFixture.h"
#include "com/runtime/ComRuntimeControl.h"
#include "contract/VelqorError.h"

namespace velqor::test {
namespace {

const CLSID kOdd = com::MakeIid("5A1D2C3B-0000-4000-8000-0000000B0DD0");

struct OddSwitches {
    int names = 150;      // leaves at every position
    int failingCall = 0;  // the Next call (1, 2, ...) that fails; 0 none
    int ups = 0;          // OPC_BROWSE_UP calls seen
};
OddSwitches odd;

class NameEnumerator : public com::PlatformObject<IEnumString> {
  public:
    HRESULT STDMETHODCALLTYPE Next(ULONG count, LPOLESTR* out, ULONG* fetched) override {
        *fetched = 0;
        if (++calls_ == odd.failingCall) return E_FAIL;
        while (*fetched < count && next_ < odd.names)
            out[(*fetched)++] = AllocTaskString("Leaf" + std::to_string(next_++));
        return *fetched == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumString**) override { return E_NOTIMPL; }

  private:
    int calls_ = 0, next_ = 0;
};

class OddServer : public com::PlatformObject<IOPCServer, IOPCBrowseServerAddressSpace> {
  public:
    // IOPCServer: nothing but being one.
    HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD,
                                       OPCHANDLE*, DWORD*, REFIID, LPUNKNOWN*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT, LCID, LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR, REFIID, LPUNKNOWN*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE, REFIID, LPUNKNOWN*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* type) override {
        *type = OPC_NS_HIERARCHIAL;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION direction, LPCWSTR) override {
        if (direction == OPC_BROWSE_TO) return E_NOTIMPL;
        if (direction == OPC_BROWSE_UP) ++odd.ups;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE, LPCWSTR, VARTYPE, DWORD,
                                               IEnumString** out) override {
        *out = com::MakeObject<NameEnumerator>().Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR name, LPWSTR* id) override {
        *id = AllocTaskString("odd." + OleStrToText(name));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR, IEnumString** out) override {
        *out = nullptr;
        return E_NOTIMPL;
    }
};

class OddServerTest : public ComBrowseTest {
  protected:
    void SetUp() override {
        odd = OddSwitches{};
        com::RegisterComClass(
            {kOdd, "Velqor.Test.Odd.1", "", "Odd", {}, true, [](REFIID riid, void** object) {
                 return com::MakeObject<OddServer>()->QueryInterface(riid, object);
             }});
        ComBrowseTest::SetUp();
        Open("Velqor.Test.Odd.1");
    }
    void TearDown() override {
        ComBrowseTest::TearDown();
        com::UnregisterComClass(kOdd);
    }
};

TEST_F(OddServerTest, ClimbToTheRootStopsAfterFiftyOneStepsUp) {
    EXPECT_TRUE(browser->MoveToRoot());
    EXPECT_EQ(odd.ups, TVelqorCOMDABrowser::kMaxClimb);
    EXPECT_EQ(browser->Position()->ItemName, "");
}

// The last, short portion of names counts; a failure part-way fails the listing as a whole.
TEST_F(OddServerTest, EveryNameCountsAndAFailingEnumeratorKeepsTheList) {
    const auto all = List(2);
    ASSERT_EQ(all.size(), 150u);
    EXPECT_EQ(all.back(), "Leaf149");
    EXPECT_EQ(list.Items(149)->ItemName, "odd.Leaf149");
    odd.failingCall = 2;
    try {
        List(2);
        ADD_FAILURE() << "a listing of the first hundred names passed";
    } catch (const EOPCBrowserException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Browser: ", 0), 0u) << e.what();
    }
    EXPECT_EQ(Names(), all);
}

}  // namespace
}  // namespace velqor::test
