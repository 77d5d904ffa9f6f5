// The OPC declarations: identifiers are distinct, extended interfaces answer for their bases,
// and the stream structures sit at the offsets the DA 1.0 stream layout gives.
#include <cstddef>
#include <set>

#include "ComTestSupport.h"
#include "com/OpcDaIntf.h"

namespace velqor::test {
namespace {

TEST(OpcDeclarations, IdentifiersAreDistinct) {
    const IID* all[] = {&IID_IOPCServer,
                        &IID_IOPCServerPublicGroups,
                        &IID_IOPCBrowseServerAddressSpace,
                        &IID_IOPCGroupStateMgt,
                        &IID_IOPCPublicGroupStateMgt,
                        &IID_IOPCSyncIO,
                        &IID_IOPCAsyncIO,
                        &IID_IOPCItemMgt,
                        &IID_IEnumOPCItemAttributes,
                        &IID_IOPCDataCallback,
                        &IID_IOPCAsyncIO2,
                        &IID_IOPCItemProperties,
                        &IID_IOPCItemDeadbandMgt,
                        &IID_IOPCItemSamplingMgt,
                        &IID_IOPCBrowse,
                        &IID_IOPCItemIO,
                        &IID_IOPCSyncIO2,
                        &IID_IOPCAsyncIO3,
                        &IID_IOPCGroupStateMgt2,
                        &IID_IOPCShutdown,
                        &IID_IOPCCommon,
                        &IID_IOPCServerList,
                        &IID_IOPCEnumGUID,
                        &IID_IOPCServerList2,
                        &CLSID_OpcServerList,
                        &CATID_OPCDAServer10,
                        &CATID_OPCDAServer20,
                        &CATID_OPCDAServer30,
                        &CATID_XMLDAServer10,
                        &CATID_OPCEventServer10,
                        &CATID_OPCBatchServer10,
                        &CATID_OPCBatchServer20,
                        &CATID_OPCDXServer10,
                        &CATID_OPCHDAServer10,
                        &IID_IUnknown,
                        &IID_IConnectionPointContainer,
                        &IID_IDataObject,
                        &IID_IAdviseSink};
    std::set<GUID> seen;
    for (const IID* id : all) EXPECT_TRUE(seen.insert(*id).second) << id->ToString();
}

class Group : public com::PlatformObject<IOPCSyncIO2, IOPCAsyncIO3> {
  public:
    HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE, DWORD, OPCHANDLE*, OPCITEMSTATE**,
                                   HRESULT**) override {
        return 1;
    }
    HRESULT STDMETHODCALLTYPE Write(DWORD, OPCHANDLE*, VARIANT*, HRESULT**) override { return 2; }
    HRESULT STDMETHODCALLTYPE ReadMaxAge(DWORD, OPCHANDLE*, DWORD*, VARIANT**, WORD**, FILETIME**,
                                         HRESULT**) override {
        return 3;
    }
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD, OPCHANDLE*, OPCITEMVQT*, HRESULT**) override {
        return 4;
    }
    HRESULT STDMETHODCALLTYPE Read(DWORD, OPCHANDLE*, DWORD, DWORD*, HRESULT**) override {
        return 11;
    }
    HRESULT STDMETHODCALLTYPE Write(DWORD, OPCHANDLE*, VARIANT*, DWORD, DWORD*,
                                    HRESULT**) override {
        return 12;
    }
    HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE, DWORD, DWORD*) override { return 13; }
    HRESULT STDMETHODCALLTYPE Cancel2(DWORD) override { return 14; }
    HRESULT STDMETHODCALLTYPE SetEnable(BOOL) override { return 15; }
    HRESULT STDMETHODCALLTYPE GetEnable(BOOL*) override { return 16; }
    HRESULT STDMETHODCALLTYPE ReadMaxAge(DWORD, OPCHANDLE*, DWORD*, DWORD, DWORD*,
                                         HRESULT**) override {
        return 17;
    }
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD, OPCHANDLE*, OPCITEMVQT*, DWORD, DWORD*,
                                       HRESULT**) override {
        return 18;
    }
    HRESULT STDMETHODCALLTYPE RefreshMaxAge(DWORD, DWORD, DWORD*) override { return 19; }
};

TEST(OpcDeclarations, ExtendedInterfacesAnswerForTheirBases) {
    auto group = com::MakeObject<Group>();
    auto sync = com::QueryAs<IOPCSyncIO>(group);
    auto async2 = com::QueryAs<IOPCAsyncIO2>(group);
    ASSERT_TRUE(sync && async2);
    EXPECT_EQ(sync->Write(0, nullptr, nullptr, nullptr), 2) << "the DA 2.0 slot of Write";
    EXPECT_EQ(async2->GetEnable(nullptr), 16);
    EXPECT_FALSE(com::QueryAs<IOPCItemMgt>(group));
    EXPECT_EQ(com::QueryAs<IUnknown>(sync).Get(), com::QueryAs<IUnknown>(async2).Get())
        << "one identity";
}

TEST(OpcDeclarations, StreamStructuresFollowTheStreamLayout) {
    EXPECT_EQ(offsetof(OPCGROUPHEADER, dwItemCount), 4u);
    EXPECT_EQ(offsetof(OPCGROUPHEADER, dwTransactionID), 12u);
    EXPECT_EQ(offsetof(OPCGROUPHEADER, hrStatus), 16u);
    EXPECT_EQ(offsetof(OPCITEMHEADER1, dwValueOffset), 4u);
    EXPECT_EQ(offsetof(OPCITEMHEADER1, wQuality), 8u);
    EXPECT_EQ(offsetof(OPCITEMHEADER1, ftTimeStampItem), 12u);
    EXPECT_EQ(offsetof(OPCSERVERSTATUS, dwServerState), 24u);
    EXPECT_EQ(offsetof(OPCSERVERSTATUS, wBuildNumber), 40u);
    EXPECT_EQ(offsetof(OPCITEMPROPERTY, vValue), sizeof(void*) == 8 ? 24u : 16u);
}

}  // namespace
}  // namespace velqor::test
