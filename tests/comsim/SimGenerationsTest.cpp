// What tells the three generations of simulated servers apart: the interfaces each answers,
// the version it reports, how the server enumerator lists it, and DA 1.0 browsing.
#include <algorithm>

#include "SimServerTestSupport.h"
#include "comda/OpcServerList.h"

namespace velqor::test {
namespace {

using Generations = SimServerTest;

TEST_F(Generations, EachAnswersQueryInterfaceForExactlyItsInterfaces) {
    const IID* all[] = {&IID_IOPCServer,
                        &IID_IOPCCommon,
                        &IID_IConnectionPointContainer,
                        &IID_IOPCItemProperties,
                        &IID_IOPCBrowseServerAddressSpace,
                        &IID_IOPCBrowse,
                        &IID_IOPCItemIO,
                        &IID_IOPCServerPublicGroups,
                        &IID_IOPCItemMgt,
                        &IID_IOPCSyncIO,
                        &IID_IDataObject,
                        &IID_IOPCShutdown};
    struct Case {
        const char16_t* progId;
        WORD major;
        std::vector<const IID*> offered;
    };
    const Case cases[] = {
        {u"Velqor.SimDA10", 1, {&IID_IOPCServer, &IID_IOPCBrowseServerAddressSpace}},
        {u"Velqor.SimDA20",
         2,
         {&IID_IOPCServer, &IID_IOPCCommon, &IID_IConnectionPointContainer, &IID_IOPCItemProperties,
          &IID_IOPCBrowseServerAddressSpace}},
        {u"Velqor.SimDA30",
         3,
         {&IID_IOPCServer, &IID_IOPCCommon, &IID_IConnectionPointContainer, &IID_IOPCBrowse,
          &IID_IOPCItemIO, &IID_IOPCItemProperties}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(com::Utf16ToUtf8(c.progId));
        auto server = Create<IOPCServer>(c.progId);
        ASSERT_TRUE(server);
        for (const IID* iid : all) {
            const bool offered = Lists(c.offered, iid);
            const QueryAnswer answer = AskFor(server.Get(), *iid);
            EXPECT_EQ(answer.Result, offered ? S_OK : E_NOINTERFACE) << iid->ToString();
            EXPECT_EQ(answer.Given, offered);
        }
        OPCSERVERSTATUS* status = nullptr;
        ASSERT_EQ(server->GetStatus(&status), S_OK);
        EXPECT_EQ(status->wMajorVersion, c.major);
        EXPECT_EQ(status->dwServerState, OPC_STATUS_RUNNING);
        EXPECT_NE(TakeTaskText(status->szVendorInfo).find("DA " + std::to_string(c.major) + "."),
                  std::string::npos);
        CoTaskMemFree(status);
    }
}

TEST_F(Generations, TheServerEnumeratorListsEachUnderItsCategory) {
    sim::RegisterOpcServerList();
    struct Case {
        CATID category;
        std::vector<CLSID> ours;
        const char* progId;
        const char* description;
        const char* versionIndependent;
    };
    const Case cases[] = {
        {CATID_OPCDAServer10,
         {sim::CLSID_VelqorSimDA10},
         "Velqor.SimDA10.1",
         "Velqor Simulated OPC DA 1.0 Server",
         "Velqor.SimDA10"},
        {CATID_OPCDAServer20,
         {sim::CLSID_VelqorSimDA20, sim::CLSID_VelqorSimDA20Flat},
         "Velqor.SimDA20.1",
         "Velqor Simulated OPC DA 2.0 Server",
         "Velqor.SimDA20"},
        {CATID_OPCDAServer30,
         {sim::CLSID_VelqorSimDA30},
         "Velqor.SimDA30.1",
         "Velqor Simulated OPC DA 3.0 Server",
         "Velqor.SimDA30"},
    };
    {
        com::ComPtr<IOPCServerList2> list;
        ASSERT_EQ(CoCreateInstance(CLSID_OpcServerList, nullptr, CLSCTX_ALL, IID_IOPCServerList2,
                                   reinterpret_cast<void**>(list.Put())),
                  S_OK);
        const CLSID simulated[] = {sim::CLSID_VelqorSimDA10, sim::CLSID_VelqorSimDA20,
                                   sim::CLSID_VelqorSimDA20Flat, sim::CLSID_VelqorSimDA30};
        for (const Case& c : cases) {
            CATID category = c.category;
            com::ComPtr<IOPCEnumGUID> found;
            ASSERT_EQ(list->EnumClassesOfCategories(1, &category, 0, nullptr, found.Put()), S_OK);
            std::vector<CLSID> listed;
            GUID g{};
            while (found->Next(1, &g, nullptr) == S_OK)
                if (std::find(std::begin(simulated), std::end(simulated), g) != std::end(simulated))
                    listed.push_back(g);
            EXPECT_EQ(listed, c.ours) << c.progId;

            LPOLESTR progId = nullptr, user = nullptr, independent = nullptr;
            ASSERT_EQ(list->GetClassDetails(c.ours[0], &progId, &user, &independent), S_OK);
            EXPECT_EQ(TakeTaskText(progId), c.progId);
            EXPECT_EQ(TakeTaskText(user), c.description);
            EXPECT_EQ(TakeTaskText(independent), c.versionIndependent);
        }
    }
    sim::UnregisterOpcServerList();
}

TEST_F(Generations, Da10BrowsesHierarchicallyFromItsOwnPosition) {
    auto browse = Create<IOPCBrowseServerAddressSpace>(u"Velqor.SimDA10.1");
    ASSERT_TRUE(browse);
    OPCNAMESPACETYPE ns{};
    ASSERT_EQ(browse->QueryOrganization(&ns), S_OK);
    EXPECT_EQ(ns, OPC_NS_HIERARCHIAL);
    auto list = [&](OPCBROWSETYPE type) {
        com::ComPtr<IEnumString> names;
        std::vector<std::string> out;
        EXPECT_TRUE(SUCCEEDED(browse->BrowseOPCItemIDs(type, u"", VT_EMPTY, 0, names.Put())));
        LPOLESTR s = nullptr;
        while (names && names->Next(1, &s, nullptr) == S_OK) out.push_back(TakeTaskText(s));
        return out;
    };
    ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Plant"), S_OK);
    EXPECT_EQ(list(OPC_BRANCH), (std::vector<std::string>{"Area1", "Area2"}));
    ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_TO, u"Plant/Area2/Pump1"), S_OK);
    EXPECT_EQ(list(OPC_LEAF), (std::vector<std::string>{"Speed", "Running", "Mode", "Command"}));
    LPWSTR id = nullptr;
    ASSERT_EQ(browse->GetItemID(const_cast<LPWSTR>(u"Mode"), &id), S_OK);
    EXPECT_EQ(TakeTaskText(id), "Plant/Area2/Pump1/Mode");
    ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_UP, u""), S_OK);
    EXPECT_EQ(list(OPC_BRANCH), (std::vector<std::string>{"Pump1"}));

    // A second object of the same class keeps a position of its own.
    auto other = Create<IOPCBrowseServerAddressSpace>(u"Velqor.SimDA10");
    EXPECT_EQ(other->ChangeBrowsePosition(OPC_BROWSE_UP, u""), E_FAIL) << "at its root";
}

}  // namespace
}  // namespace velqor::test
