// The fixture of the COM browse tests: the simulated servers on this computer and on the
// simulated computer "plant-b", a plain event loop as the default loop, no fault switches; a
// connection and its transport browser filling `list`. Allocation accounting back to zero after
// each test.
#pragma once

#include <string>
#include <vector>

#include "com/ComTestSupport.h"
#include "com/VelqorCOMDABrowser.h"
#include "comda/SimFaults.h"
#include "comda/SimServers.h"
#include "contract/EventLoop.h"

namespace velqor::test {

inline constexpr const char* kRemote = "plant-b";
inline constexpr const char* kDa20 = "Velqor.SimDA20.1";
inline constexpr const char* kDa20Flat = "Velqor.SimDA20Flat.1";
inline constexpr const char* kDa30 = "Velqor.SimDA30.1";

class ComBrowseTest : public ComAccountedTest {
  protected:
    void SetUp() override {
        EventLoop::SetDefault(&loop);
        sim::ClearSimFaults();
        sim::RegisterSimulatedServers();
        com::RegisterRemoteComputer(kRemote);
        sim::RegisterSimulatedServers(kRemote);
        ComAccountedTest::SetUp();
    }
    void TearDown() override {
        browser.Reset();
        connection.Reset();
        list.Clear();
        loop.ProcessPending();
        ComAccountedTest::TearDown();
        sim::ClearSimFaults();
        com::UnregisterRemoteComputer(kRemote);
        sim::UnregisterSimulatedServers();
        EventLoop::SetDefault(nullptr);
    }

    // Connects to the server and makes its browser, as the browser factory does.
    void Open(const std::string& server, const std::string& computer = "") {
        connection = com::MakeComObject<IVelqorDAConnection, TVelqorCOMDAConnection>();
        connection->Connect("velqor-test", server, computer, {}, nullptr, 0);
        connection->CreateBrowser(browser);
        ASSERT_TRUE(browser);
        browser->SetBrowseList(&list);
    }
    // Lists the position with the filters; the names in list order.
    std::vector<std::string> List(int32_t type = 3, int32_t access = 0, int32_t vt = 0,
                                  const std::string& filter = "", bool flat = false) {
        browser->SetFilter(type, access, vt, filter);
        browser->Browse(flat);
        return Names();
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const auto& b : list) out.push_back(b->Name);
        return out;
    }
    std::vector<std::string> IDs() const {
        std::vector<std::string> out;
        for (const auto& b : list) out.push_back(b->ItemName);
        return out;
    }
    const TVelqorBrowseItem* Entry(const std::string& name) const {
        for (const auto& b : list)
            if (b->Name == name) return b.get();
        return nullptr;
    }
    // Lists the position and moves down into the named branches, one after the other.
    bool Down(std::initializer_list<const char*> names) {
        for (const char* n : names) {
            List(1);
            const TVelqorBrowseItem* e = Entry(n);
            if (!e) return false;
            TVelqorBrowseItem copy = *e;  // the list changes under the move
            if (!browser->MoveDown(copy)) return false;
        }
        return true;
    }

    PlainEventLoop loop;
    com::ComPtr<IVelqorDAConnection> connection;
    com::ComPtr<IVelqorBrowser> browser;
    TVelqorBrowseItems list;
};

// Both browsers, by server.
struct ServerCase {
    const char* Name;
    const char* ProgId;
    const char* Computer;
};
inline void PrintTo(const ServerCase& c, std::ostream* os) { *os << c.Name; }

}  // namespace velqor::test
