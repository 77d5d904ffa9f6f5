// The OPC server enumerator: absent until registered (so clients can fall back), then listing
// the servers of a category on its own computer, with their details.
#include "ComTestSupport.h"
#include "com/OpcDaIntf.h"
#include "com/runtime/ComText.h"
#include "comda/OpcServerList.h"

namespace velqor::test {
namespace {

const CLSID kDa2 = com::MakeGuid("5A1D2C3B-0000-4000-8000-00000000B002");
const CLSID kDa23 = com::MakeGuid("5A1D2C3B-0000-4000-8000-00000000B023");

HRESULT NoObject(REFIID, void**) { return E_NOTIMPL; }

class ServerListTest : public ComAccountedTest {
  protected:
    void SetUp() override {
        com::RegisterComClass(
            {kDa2, "Velqor.ListDA2.1", "", "DA two", {CATID_OPCDAServer20}, true, NoObject});
        com::RegisterComClass({kDa23,
                               "Velqor.ListDA23.1",
                               "Velqor.ListDA23",
                               "DA two and three",
                               {CATID_OPCDAServer20, CATID_OPCDAServer30},
                               true,
                               NoObject});
        com::RegisterRemoteComputer("plant-c");
        com::RegisterComClass(
            {kDa2, "Remote.DA2.1", "", "Remote DA two", {CATID_OPCDAServer20}, true, NoObject},
            "plant-c");
        ComAccountedTest::SetUp();
    }
    void TearDown() override {
        ComAccountedTest::TearDown();
        sim::UnregisterOpcServerList();
        com::UnregisterComClass(kDa2);
        com::UnregisterComClass(kDa23);
        com::UnregisterRemoteComputer("plant-c");
    }

    // "ProgID|description" of every class the enumerator lists for one category.
    static std::vector<std::string> List(IOPCServerList2* list, CATID category) {
        std::vector<std::string> out;
        IOPCEnumGUID* e = nullptr;
        EXPECT_EQ(list->EnumClassesOfCategories(1, &category, 0, nullptr, &e), S_OK);
        if (!e) return out;
        CLSID ids[10];
        ULONG got = 0;
        while (SUCCEEDED(e->Next(10, ids, &got)) && got > 0) {
            for (ULONG i = 0; i < got; ++i) {
                LPOLESTR progId = nullptr, user = nullptr, vi = nullptr;
                EXPECT_EQ(list->GetClassDetails(ids[i], &progId, &user, &vi), S_OK);
                out.push_back(com::Utf16ToUtf8(progId) + "|" + com::Utf16ToUtf8(user) + "|" +
                              com::Utf16ToUtf8(vi));
                CoTaskMemFree(progId);
                CoTaskMemFree(user);
                CoTaskMemFree(vi);
            }
        }
        e->Release();
        return out;
    }
};

TEST_F(ServerListTest, AbsentUntilRegisteredThenListsByCategory) {
    IOPCServerList2* list = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_OpcServerList, nullptr, CLSCTX_ALL, IID_IOPCServerList2,
                               reinterpret_cast<void**>(&list)),
              REGDB_E_CLASSNOTREG);
    sim::RegisterOpcServerList();
    ASSERT_EQ(CoCreateInstance(CLSID_OpcServerList, nullptr, CLSCTX_ALL, IID_IOPCServerList2,
                               reinterpret_cast<void**>(&list)),
              S_OK);
    EXPECT_EQ(List(list, CATID_OPCDAServer30),
              std::vector<std::string>{"Velqor.ListDA23.1|DA two and three|Velqor.ListDA23"});
    EXPECT_EQ(List(list, CATID_OPCDAServer20).size(), 2u);
    EXPECT_TRUE(List(list, CATID_OPCHDAServer10).empty());
    CLSID id{};
    EXPECT_EQ(list->CLSIDFromProgID(u"Velqor.ListDA23", &id), S_OK);
    EXPECT_EQ(id, kDa23);
    IOPCServerList* first = nullptr;
    EXPECT_EQ(list->QueryInterface(IID_IOPCServerList, reinterpret_cast<void**>(&first)), S_OK);
    LPOLESTR a = nullptr, b = nullptr;
    EXPECT_EQ(first->GetClassDetails(CATID_OPCDAServer20, &a, &b), REGDB_E_CLASSNOTREG);
    IEnumGUID* plain = nullptr;
    CATID cat = CATID_OPCDAServer20;
    EXPECT_EQ(first->EnumClassesOfCategories(1, &cat, 0, nullptr, &plain), S_OK);
    plain->Release();
    first->Release();
    list->Release();
}

TEST_F(ServerListTest, RemoteEnumeratorListsThatComputersServers) {
    sim::RegisterOpcServerList("plant-c");
    std::u16string name = u"plant-c";
    COSERVERINFO info{0, name.data(), nullptr, 0};
    MULTI_QI qi{&IID_IOPCServerList2, nullptr, 0};
    ASSERT_EQ(CoCreateInstanceEx(CLSID_OpcServerList, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &qi),
              S_OK);
    auto* list = static_cast<IOPCServerList2*>(qi.pItf);
    EXPECT_EQ(List(list, CATID_OPCDAServer20),
              std::vector<std::string>{"Remote.DA2.1|Remote DA two|"});
    list->Release();
    sim::UnregisterOpcServerList("plant-c");
}

}  // namespace
}  // namespace velqor::test
