// The COM server list through the component model's server list: the enumerator on this computer
// and on a remote one, the fall-back to the categories manager and the registry when it is not
// registered, the order of categories, and servers the enumerator cannot fully describe.
#include <algorithm>
#include <map>

#include "ComBrowseFixture.h"
#include "com/VelqorComServerList.h"
#include "comda/OpcServerList.h"
#include "contract/VelqorError.h"
#include "model/VelqorServerList.h"

namespace velqor::test {
namespace {

HRESULT NoObject(REFIID, void**) { return E_NOTIMPL; }

const CLSID kAe = com::MakeIid("5A1D2C3B-0000-4000-8000-0000000C0AE1");
const CLSID kHda = com::MakeIid("5A1D2C3B-0000-4000-8000-0000000C0DA1");
const CLSID kNoProgId = com::MakeIid("5A1D2C3B-0000-4000-8000-0000000C0000");

class ServerListTest : public ComBrowseTest {
  protected:
    void TearDown() override {
        sim::UnregisterOpcServerList();
        sim::UnregisterOpcServerList(kRemote);
        for (const CLSID& c : {kAe, kHda, kNoProgId}) com::UnregisterComClass(c);
        ComBrowseTest::TearDown();
    }
    // "ProgID|description|types" by ProgID, as the component model lists them.
    static std::map<std::string, std::string> Servers(bool perType,
                                                      const std::string& computer = "") {
        TVelqorServerBrowser browser;
        browser.ComputerName = computer;
        browser.GetServers(perType);
        std::map<std::string, std::string> out;
        for (int i = 0; i < browser.Count(); ++i) {
            const TVelqorServerItem& e = *browser.Items(i);
            EXPECT_EQ(e.CLSID.size(), 38u) << e.ProgID;
            EXPECT_EQ(e.ComputerName, computer);
            out[e.ProgID] = e.Description + "|" + std::to_string(e.ServerTypes);
        }
        return out;
    }
};

TEST_F(ServerListTest, EnumeratorOrCategoriesManagerListTheSimulatedServers) {
    VELQOR_SKIP_ON_PLATFORM_COM("the test registers and removes the server list itself");
    const std::map<std::string, std::string> perType = {
        {"Velqor.SimDA10.1", "Velqor Simulated OPC DA 1.0 Server|1"},
        {"Velqor.SimDA20.1", "Velqor Simulated OPC DA 2.0 Server|2"},
        {"Velqor.SimDA20Flat.1", "Velqor Simulated OPC DA 2.0 Server (Flat)|2"},
        {"Velqor.SimDA30.1", "Velqor Simulated OPC DA 3.0 Server|4"},
    };
    std::map<std::string, std::string> combined;
    for (const auto& [k, v] : perType) combined[k] = v.substr(0, v.size() - 1) + "0";

    // Without the enumerator the categories manager answers, one category at a time, so even
    // the combined listing knows the types; descriptions come from the registry.
    EXPECT_EQ(Servers(true), perType);
    EXPECT_EQ(Servers(false), perType);
    sim::RegisterOpcServerList();
    EXPECT_EQ(Servers(true), perType);
    EXPECT_EQ(Servers(false), combined);
    EXPECT_EQ(Servers(false), combined) << "a second listing is not doubled";
}

TEST_F(ServerListTest, RemoteComputerIsAskedThroughItsEnumerator) {
    VELQOR_SKIP_ON_PLATFORM_COM("other computers are simulated by the toolkit's runtime");
    com::RegisterComClass(
        {kHda, "Remote.HDA.1", "", "Remote HDA", {CATID_OPCDAServer20}, true, NoObject}, kRemote);
    EXPECT_THROW(Servers(true, kRemote), EOleSysError) << "no enumerator there";
    EXPECT_THROW(Servers(true, "nowhere"), EOleSysError) << "an unreachable computer";
    sim::RegisterOpcServerList(kRemote);
    auto remote = Servers(true, kRemote);
    EXPECT_EQ(remote.size(), 5u);
    EXPECT_EQ(remote["Remote.HDA.1"], "Remote HDA|2");
    EXPECT_TRUE(Servers(true).count("Remote.HDA.1") == 0) << "this computer does not have it";
}

// Reports in per-type mode come in the category order DA 1.0, DA 2.0, DA 3.0, batch, DX, HDA
// and AE last, each with its type's bit; a server without a ProgID is reported all the same.
TEST_F(ServerListTest, PerTypeReportsFollowTheCategoryOrder) {
    com::RegisterComClass({kAe, "Test.AE.1", "", "AE", {CATID_OPCEventServer10}, true, NoObject});
    com::RegisterComClass({kHda, "Test.HDA.1", "", "HDA", {CATID_OPCHDAServer10}, true, NoObject});
    com::RegisterComClass({kNoProgId, "", "", "Unnamed", {CATID_OPCHDAServer10}, true, NoObject});
    for (bool enumerator : {false, true}) {
        SCOPED_TRACE(enumerator ? "enumerator" : "categories manager");
        if (enumerator) sim::RegisterOpcServerList();
        auto list = com::MakeComObject<IVelqorServerBrowser, TVelqorCOMServerBrowser>();
        std::vector<std::string> reports;
        list->GetServerList(
            ServerSetOf(svr_DA10) | ServerSetOf(svr_AE10) | ServerSetOf(svr_HDA10), "", 2,
            [&](const std::string& d, const std::string& p, const std::string& c, uint32_t type) {
                EXPECT_EQ(c.size(), 38u);
                reports.push_back(std::to_string(type) + ":" + p + ":" + d);
            });
        ASSERT_EQ(reports.size(), 4u);
        std::sort(reports.begin() + 1, reports.begin() + 3);  // one category, any order
        EXPECT_EQ(reports, (std::vector<std::string>{"1:Velqor.SimDA10.1:Velqor Simulated OPC "
                                                     "DA 1.0 Server",
                                                     "128::Unnamed", "128:Test.HDA.1:HDA",
                                                     "8:Test.AE.1:AE"}));
        list->GetServerList(0, "", 2, [&](auto&&...) { ADD_FAILURE() << "an empty set lists"; });
        list->GetServerList(ServerSetOf(svr_DA30), "", 0, nullptr);  // nobody to tell
    }
}

// An enumerator that breaks off or never ends: what was listed stands, each category is still
// asked, and the listing says it is short.
TEST_F(ServerListTest, AShortOrEndlessEnumerationKeepsWhatWasListedAndSaysSo) {
    VELQOR_SKIP_ON_PLATFORM_COM("the fault switches live in the server's module");
    sim::RegisterOpcServerList();
    for (auto fault : {sim::ServerListFault::BreakOff, sim::ServerListFault::Endless}) {
        sim::SimFaults f;
        f.ServerList = fault;
        sim::SetSimFaults(f);
        TVelqorServerBrowser browser;
        browser.GetServers(true);
        EXPECT_EQ(browser.Count(), fault == sim::ServerListFault::BreakOff ? 3 : 4)
            << "one class of each of DA 1.0, 2.0 and 3.0; the endless list names its own again";
        ASSERT_FALSE(browser.Gaps().empty());
        EXPECT_NE(browser.Gaps()[0].find(fault == sim::ServerListFault::BreakOff
                                             ? "the server list (DA 1.0) broke off: "
                                             : "went past 10000 servers"),
                  std::string::npos)
            << browser.Gaps()[0];
    }
    sim::ClearSimFaults();
    TVelqorServerBrowser browser;
    browser.GetServers(false);
    EXPECT_TRUE(browser.Gaps().empty());
}

}  // namespace
}  // namespace velqor::test
