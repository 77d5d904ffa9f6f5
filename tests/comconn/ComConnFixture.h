// The COM connection tests' fixture: the simulated servers on this computer and on the simulated
// computer "plant-b", the server with faults, a plain event loop as the default loop (the
// servers' callbacks run there) and a message window that records what the connection posts.
// Every test ends with the runtime's task memory and BSTR accounting back where it started.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "FaultyServer.h"
#include "com/ComTestSupport.h"
#include "com/VelqorCOMDA.h"
#include "comda/SimServers.h"
#include "contract/EventLoop.h"

namespace velqor::test {

inline constexpr const char* kRemote = "plant-b";

class ComConnTest : public ComAccountedTest {
  protected:
    void SetUp() override {
        EventLoop::SetDefault(&loop);
        sim::RegisterSimulatedServers();
        com::RegisterRemoteComputer(kRemote);
        sim::RegisterSimulatedServers(kRemote);
        Switches() = FaultySwitches{};
        RegisterFaultyServer();
        ComAccountedTest::SetUp();
        window = MessageWindow::Create(
            loop, [this](uint32_t message, uintptr_t, std::unique_ptr<MessagePayload>) {
                messages.push_back(message);
            });
    }
    void TearDown() override {
        connection = {};
        window->Destroy();
        window.reset();
        loop.ProcessPending();
        ComAccountedTest::TearDown();
        UnregisterFaultyServer();
        com::UnregisterRemoteComputer(kRemote);
        sim::UnregisterSimulatedServers();
        EventLoop::SetDefault(nullptr);
    }

    // A new COM DA connection, as the connection factory makes it.
    static com::ComPtr<IVelqorDAConnection> NewConnection() {
        return com::MakeComObject<IVelqorDAConnection, TVelqorCOMDAConnection>();
    }
    // Connects `connection` (made anew) to the server.
    void Connect(const std::string& server, const std::string& computer = "", int32_t delay = 0) {
        connection = NewConnection();
        connection->Connect("velqor-test", server, computer, {}, window, delay);
    }
    TVelqorCOMDAConnection& Conn() { return COMDAConnectionOf(connection.Get()); }

    PlainEventLoop loop;
    NotifyWindow window;
    std::vector<uint32_t> messages;
    com::ComPtr<IVelqorDAConnection> connection;
};

}  // namespace velqor::test
