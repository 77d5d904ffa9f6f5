// Object creation on this and on simulated remote computers, ProgIDs and identifier texts, the
// classes-root registry and the component categories manager, all over one class registry.
#include <string>
#include <thread>

#include "ComTestSupport.h"
#include "com/runtime/ComEnumerators.h"
#include "com/runtime/ComText.h"

namespace velqor::test {
namespace {

const CLSID kThing = com::MakeGuid("5A1D2C3B-0000-4000-8000-00000000A001");
const CLSID kLocalThing = com::MakeGuid("5A1D2C3B-0000-4000-8000-00000000A002");
const CATID kCatA = com::MakeGuid("5A1D2C3B-0000-4000-8000-0000000CA7A0");
const CATID kCatB = com::MakeGuid("5A1D2C3B-0000-4000-8000-0000000CA7B0");
const char* const kRemote = "plant-b";

// The object of the test classes: an enumerator of one GUID (so it answers IEnumGUID only).
HRESULT CreateThing(REFIID riid, void** object) {
    auto thing = com::MakeObject<com::GuidEnumerator>(std::vector<GUID>{kCatA});
    return thing->QueryInterface(riid, object);
}

class ActivationTest : public ComAccountedTest {
  protected:
    void SetUp() override {
        com::RegisterComClass({kThing,
                               "Velqor.TestThing.1",
                               "Velqor.TestThing",
                               "Test thing",
                               {kCatA},
                               false,
                               CreateThing});
        com::RegisterComClass({kLocalThing,
                               "Velqor.LocalThing.1",
                               "",
                               "Local thing",
                               {kCatA, kCatB},
                               true,
                               CreateThing});
        com::RegisterRemoteComputer(kRemote);
        com::RegisterComClass({kThing, "", "", "Remote thing", {}, true, CreateThing}, kRemote);
        ComAccountedTest::SetUp();
    }
    void TearDown() override {
        ComAccountedTest::TearDown();
        com::UnregisterComClass(kThing);
        com::UnregisterComClass(kLocalThing);
        com::UnregisterRemoteComputer(kRemote);
    }
};

std::string TaskText(LPOLESTR s) {
    std::string t = com::Utf16ToUtf8(s);
    CoTaskMemFree(s);
    return t;
}

TEST_F(ActivationTest, ProgIdsAndClassIdentifierTexts) {
    struct {
        const char16_t* text;
        HRESULT fromProgId, fromString;
    } const rows[] = {
        {u"Velqor.TestThing.1", S_OK, CO_E_CLASSSTRING},
        {u"velqor.testthing", S_OK, CO_E_CLASSSTRING},  // version-independent, any case
        {u"Velqor.Nothing.1", CO_E_CLASSSTRING, CO_E_CLASSSTRING},
        {u"", CO_E_CLASSSTRING, CO_E_CLASSSTRING},
        {u"{5A1D2C3B-0000-4000-8000-00000000A001}", CO_E_CLASSSTRING, S_OK},
        {u"{5a1d2c3b-0000-4000-8000-00000000a001}", CO_E_CLASSSTRING, S_OK},
        {u"5A1D2C3B-0000-4000-8000-00000000A001", CO_E_CLASSSTRING, CO_E_CLASSSTRING},
        {u"{5A1D2C3B-0000-4000-8000-00000000A00G}", CO_E_CLASSSTRING, CO_E_CLASSSTRING},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(com::Utf16ToUtf8(row.text));
        CLSID id{};
        EXPECT_EQ(CLSIDFromProgID(row.text, &id), row.fromProgId);
        EXPECT_EQ(id, SUCCEEDED(row.fromProgId) ? kThing : CLSID_NULL);
        EXPECT_EQ(CLSIDFromString(row.text, &id), row.fromString);
        EXPECT_EQ(id, SUCCEEDED(row.fromString) ? kThing : CLSID_NULL);
    }
    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(kThing, &progId), S_OK);
    EXPECT_EQ(TaskText(progId), "Velqor.TestThing.1");
    EXPECT_EQ(ProgIDFromCLSID(kCatA, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progId, nullptr);

    LPOLESTR text = nullptr;
    ASSERT_EQ(StringFromCLSID(kThing, &text), S_OK);
    EXPECT_EQ(TaskText(text), "{5A1D2C3B-0000-4000-8000-00000000A001}");
    OLECHAR buf[39];
    EXPECT_EQ(StringFromGUID2(kThing, buf, 39), 39);
    EXPECT_EQ(StringFromGUID2(kThing, buf, 38), 0) << "no room for the terminating zero";
}

std::u16string OwnName() {
    WCHAR name[256];
    DWORD size = 256;
    EXPECT_TRUE(GetComputerNameW(name, &size));
    return std::u16string(name, size);
}

TEST_F(ActivationTest, CreationByComputerNameWithPartialInterfaceResults) {
    std::u16string own = OwnName(), lowerOwn = own;
    for (auto& c : lowerOwn)
        if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
    struct {
        std::u16string computer;
        HRESULT hr;
    } const rows[] = {
        {u"", CO_S_NOTALLINTERFACES},
        {u"   ", CO_S_NOTALLINTERFACES},
        {u"localhost", CO_S_NOTALLINTERFACES},
        {own, CO_S_NOTALLINTERFACES},
        {lowerOwn, CO_S_NOTALLINTERFACES},
        {u"PLANT-B", CO_S_NOTALLINTERFACES},
        {u"plant-c", com::RPC_S_SERVER_UNAVAILABLE_HR},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(com::Utf16ToUtf8(row.computer));
        std::u16string name = row.computer;
        COSERVERINFO info{0, name.data(), nullptr, 0};
        MULTI_QI qi[3] = {{&IID_IUnknown, nullptr, 0},
                          {&IID_IDataObject, nullptr, 0},
                          {&IID_IEnumGUID, nullptr, 0}};
        HRESULT hr = CoCreateInstanceEx(kThing, nullptr, CLSCTX_SERVER, &info, 3, qi);
        EXPECT_EQ(hr, row.hr);
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(qi[0].hr, S_OK);
            EXPECT_EQ(qi[1].hr, E_NOINTERFACE);
            EXPECT_EQ(qi[1].pItf, nullptr);
            EXPECT_EQ(qi[2].hr, S_OK);
            qi[0].pItf->Release();
            qi[2].pItf->Release();
        } else {
            for (const auto& q : qi) EXPECT_EQ(q.hr, hr);
        }
    }
    EXPECT_STREQ(com::SystemMessageText(com::RPC_S_SERVER_UNAVAILABLE_HR),
                 "The RPC server is unavailable.");
    EXPECT_EQ(com::RPC_S_SERVER_UNAVAILABLE_HR, HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
}

TEST_F(ActivationTest, ClassContextsAggregationAndUninitialisedThreads) {
    IUnknown* p = nullptr;
    EXPECT_EQ(CoCreateInstance(kLocalThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&p)),
              REGDB_E_CLASSNOTREG)
        << "a local server is not reached in-process";
    EXPECT_EQ(CoCreateInstance(kLocalThing, nullptr, CLSCTX_LOCAL_SERVER, IID_IDataObject,
                               reinterpret_cast<void**>(&p)),
              E_NOINTERFACE);
    ASSERT_EQ(CoCreateInstance(kLocalThing, nullptr, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(&p)),
              S_OK);
    IUnknown* inner = nullptr;
    EXPECT_EQ(
        CoCreateInstance(kThing, p, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&inner)),
        CLASS_E_NOAGGREGATION);
    p->Release();
    EXPECT_EQ(
        CoCreateInstance(kCatA, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&p)),
        REGDB_E_CLASSNOTREG);

    HRESULT other = S_OK;
    std::thread([&] {
        IUnknown* q = nullptr;
        other = CoCreateInstance(kThing, nullptr, CLSCTX_ALL, IID_IUnknown,
                                 reinterpret_cast<void**>(&q));
    }).join();
    EXPECT_EQ(other, CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();

    // Message filters belong to single-threaded apartments only.
    HRESULT mta = S_OK, none = S_OK;
    std::thread([&] {
        none = CoRegisterMessageFilter(nullptr, nullptr);
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        mta = CoRegisterMessageFilter(nullptr, nullptr);
        CoUninitialize();
    }).join();
    EXPECT_EQ(none, CO_E_NOTINITIALIZED);
    EXPECT_EQ(mta, CO_E_NOT_SUPPORTED);
}

std::string DefaultValue(const std::string& key) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return "<no key>";
    char buf[256];
    DWORD size = sizeof buf, type = 0;
    LONG rc = RegQueryValueExA(h, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS ? std::string(buf, size - 1) : "<no value>";
}

std::vector<std::string> Subkeys(const std::string& key) {
    std::vector<std::string> out;
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return out;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(h, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        out.emplace_back(name, size);
    }
    RegCloseKey(h);
    return out;
}

TEST_F(ActivationTest, ClassesRootRegistryFollowsTheClassRegistry) {
    const std::string id = "{5A1D2C3B-0000-4000-8000-00000000A001}";
    EXPECT_EQ(DefaultValue("CLSID\\" + id), "Test thing");
    EXPECT_EQ(DefaultValue("clsid\\" + id + "\\ProgID"), "Velqor.TestThing.1");
    EXPECT_EQ(DefaultValue("Velqor.TestThing\\CurVer"), "Velqor.TestThing.1");
    EXPECT_EQ(DefaultValue("Velqor.TestThing.1\\CLSID"), id);
    EXPECT_EQ(DefaultValue("CLSID\\{00000000-0000-0000-0000-000000000001}"), "<no key>");
    EXPECT_EQ(DefaultValue("CLSID"), "<no value>");
    auto classes = Subkeys("CLSID");
    EXPECT_NE(std::find(classes.begin(), classes.end(), id), classes.end());
    EXPECT_EQ(Subkeys("CLSID\\" + id + "\\Implemented Categories"),
              std::vector<std::string>{kCatA.ToString()});

    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{5A1D2C3B-0000-4000-8000-00000000A001}", 0,
                            KEY_READ, &h),
              ERROR_SUCCESS);
    BYTE small[8];
    DWORD size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(h, nullptr, nullptr, nullptr, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, (std::u16string(u"Test thing").size() + 1) * 2);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(h), ERROR_INVALID_HANDLE);
}

std::vector<CLSID> ClassesOf(ICatInformation* cats, std::vector<CATID> wanted) {
    std::vector<CLSID> out;
    IEnumGUID* e = nullptr;
    EXPECT_EQ(cats->EnumClassesOfCategories(ULONG(wanted.size()), wanted.data(), 0, nullptr, &e),
              S_OK);
    if (!e) return out;
    CLSID batch[10];
    ULONG got = 0;
    while (SUCCEEDED(e->Next(10, batch, &got)) && got > 0)
        out.insert(out.end(), batch, batch + got);
    e->Release();
    return out;
}

TEST_F(ActivationTest, CategoriesManagerListsClassesOfCategories) {
    ICatInformation* cats = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICatInformation, reinterpret_cast<void**>(&cats)),
              S_OK);
    EXPECT_EQ(ClassesOf(cats, {kCatB}), std::vector<CLSID>{kLocalThing});
    EXPECT_EQ(ClassesOf(cats, {kCatA}), (std::vector<CLSID>{kThing, kLocalThing}));
    EXPECT_EQ(ClassesOf(cats, {kCatB, kCatA}).size(), 2u) << "each class once";
    EXPECT_TRUE(ClassesOf(cats, {CATID{}}).empty());
    EXPECT_EQ(cats->IsClassOfCategories(kThing, 1, &kCatB, 0, nullptr), S_FALSE);
    cats->Release();
}

}  // namespace
}  // namespace velqor::test
