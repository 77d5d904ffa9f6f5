// Reference-counted objects: QueryInterface along the interface base chain, object identity,
// reference counts through ComPtr, and GUID text forms.
#include <gtest/gtest.h>

#include "contract/VelqorTransport.h"
#include "runtime/Unknown.h"
#include "support/NullConnection.h"

namespace velqor {
namespace {

int g_destroyed = 0;

// A DA connection that is also a server browser: two interfaces, one with a base.
class Both : public test::NullConnection<IVelqorDAConnection, IVelqorServerBrowser> {
  public:
    ~Both() override { ++g_destroyed; }
    int32_t SpecVersion() override { return 3; }
    com::IUnknown* ConnectionObject() override { return static_cast<IVelqorDAConnection*>(this); }
    void GetServerErrorString(int32_t, std::string&) override {}
    void GetErrorString(int32_t, std::string&) override {}
    bool GetItemProperties(std::vector<TVelqorItemPropertyQuery>&, const std::vector<std::string>&,
                           bool, bool) override {
        return true;
    }
    void GetItemPropertyValue(const std::string&, int32_t, std::string&) override {}
    void GetStatus(tServerStateRecord&) override {}
    void CreateBrowser(com::ComPtr<IVelqorBrowser>&) override {}
    void GetServerList(tVelqorServerSet, const std::string&, int32_t,
                       const TServerReport&) override {}
    std::vector<std::string> Gaps() override { return {}; }
};

TEST(ComObjectTest, QueryInterfaceFollowsTheBaseChainAndKeepsIdentity) {
    g_destroyed = 0;
    {
        com::ComPtr<IVelqorDAConnection> da = com::MakeComObject<IVelqorDAConnection, Both>();
        auto* obj = static_cast<Both*>(da.Get());
        EXPECT_EQ(obj->RefCount(), 1u);

        com::ComPtr<IVelqorConnection> base = da.TryAs<IVelqorConnection>();
        ASSERT_TRUE(base);
        EXPECT_EQ(base.Get(), static_cast<IVelqorConnection*>(obj));
        EXPECT_EQ(base->SpecVersion(), 3);
        com::ComPtr<IVelqorServerBrowser> list = base.As<IVelqorServerBrowser>();
        EXPECT_EQ(list.Get(), static_cast<IVelqorServerBrowser*>(obj));
        com::ComPtr<IVelqorDAConnection> back = list.As<IVelqorDAConnection>();
        EXPECT_EQ(back, da);
        EXPECT_EQ(obj->RefCount(), 4u);

        // IUnknown is the same pointer whichever interface it is asked from.
        com::ComPtr<com::IUnknown> u1 = da.TryAs<com::IUnknown>();
        com::ComPtr<com::IUnknown> u2 = list.TryAs<com::IUnknown>();
        EXPECT_EQ(u1.Get(), u2.Get());

        EXPECT_FALSE(da.TryAs<IVelqorGroup>());
        try {
            da.As<IVelqorBrowser>();
            ADD_FAILURE();
        } catch (const EOleSysError& e) {
            EXPECT_EQ(e.ErrorCode(), com::E_NOINTERFACE);
        }
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(da->QueryInterface(IVelqorGroup::IID_, &out), com::E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(da->QueryInterface(IVelqorGroup::IID_, nullptr), com::E_POINTER);
        EXPECT_EQ(obj->RefCount(), 6u);
        EXPECT_EQ(g_destroyed, 0);
    }
    EXPECT_EQ(g_destroyed, 1);
}

TEST(ComPtrTest, CopiesMovesAttachAndReset) {
    g_destroyed = 0;
    com::ComPtr<IVelqorDAConnection> a = com::MakeComObject<IVelqorDAConnection, Both>();
    auto* obj = static_cast<Both*>(a.Get());
    {
        com::ComPtr<IVelqorDAConnection> b = a;
        com::ComPtr<IVelqorDAConnection> c = std::move(b);
        EXPECT_FALSE(b);
        EXPECT_EQ(obj->RefCount(), 2u);
        c = c;
        EXPECT_EQ(obj->RefCount(), 2u);
        com::ComPtr<IVelqorConnection> up = c;  // converting copy
        EXPECT_EQ(obj->RefCount(), 3u);
    }
    EXPECT_EQ(obj->RefCount(), 1u);
    obj->AddRef();
    auto attached = com::ComPtr<IVelqorDAConnection>::Attach(obj);
    EXPECT_EQ(obj->RefCount(), 2u);
    attached.Reset();
    a.Reset();
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_TRUE(a == nullptr);
}

TEST(GuidTest, TextFormsAndInterfaceIdentifiers) {
    EXPECT_EQ(IVelqorConnection::IID_.ToString(), "{2E0EDBB1-C374-4575-B7AC-0CCBAB0973B9}");
    EXPECT_EQ(IVelqorDAConnection::IID_.ToString(), "{B64D9A7C-1FA9-4AC3-9049-3C36448580DD}");
    EXPECT_EQ(IVelqorGroup::IID_.ToString(), "{0B39CD52-407F-4983-A1EF-33E36ACAA2C3}");
    EXPECT_EQ(IVelqorBrowser::IID_.ToString(), "{B17D0EFD-A7E8-4DA3-BC3B-DE22AE3E73E9}");
    EXPECT_EQ(IVelqorServerBrowser::IID_.ToString(), "{EE37583A-B0C2-41C2-A263-CEAE0601CD55}");
    EXPECT_EQ(com::GUID::Parse("0b39cd52-407f-4983-a1ef-33e36acaa2c3"), IVelqorGroup::IID_);
    EXPECT_FALSE(com::GUID::Parse("{0B39CD52-407F-4983-A1EF-33E36ACAA2C3"));
    EXPECT_FALSE(com::GUID::Parse("0B39CD52-407F-4983-A1EF-33E36ACAA2CZ"));
    EXPECT_FALSE(com::GUID::Parse(""));
    com::GUID g = com::GUID::Create();
    EXPECT_EQ(com::GUID::Parse(g.ToString()), g);
    EXPECT_NE(g, com::GUID::Create());
    EXPECT_EQ((g.Data3 >> 12), 4) << "version 4";
}

}  // namespace
}  // namespace velqor
