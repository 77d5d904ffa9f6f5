// The COM group tests' fixture: the simulated servers, a plain event loop as the default loop
// (the servers fire their callbacks there), a message window that keeps what the group's sinks
// post, and item objects with live client handles. Every test ends with the runtime's task
// memory, BSTR and global memory accounting back where it started.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "com/ComTestSupport.h"
#include "com/VelqorCOMDAGroup.h"
#include "comda/SimServers.h"
#include "contract/EventLoop.h"

namespace velqor::test {

inline constexpr const char* kDA10 = "Velqor.SimDA10.1";
inline constexpr const char* kDA20 = "Velqor.SimDA20.1";
inline constexpr const char* kDA30 = "Velqor.SimDA30.1";

struct Posted {
    uint32_t Message = 0;
    uintptr_t WParam = 0;
    std::unique_ptr<ItemUpdatesPayload> Payload;
};

class ComGroupTest : public ComAccountedTest {
  protected:
    void SetUp() override {
        EventLoop::SetDefault(&loop);
        sim::RegisterSimulatedServers();
        ComAccountedTest::SetUp();
        window = MessageWindow::Create(
            loop, [this](uint32_t message, uintptr_t wParam, std::unique_ptr<MessagePayload> p) {
                Posted m{message, wParam, nullptr};
                m.Payload.reset(dynamic_cast<ItemUpdatesPayload*>(p.release()));
                posted.push_back(std::move(m));
            });
    }
    void TearDown() override {
        for (auto& g : groups) {
            int32_t handle = Com(g).HasGroupObject() ? serverHandles[&g - groups.data()] : -1;
            g->Remove(false, handle);
        }
        groups.clear();
        items.clear();
        connection = {};
        loop.ProcessPending();
        window->Destroy();
        window.reset();
        posted.clear();
        ComAccountedTest::TearDown();
        sim::UnregisterSimulatedServers();
        EventLoop::SetDefault(nullptr);
    }

    void Connect(const std::string& server) {
        connection = com::MakeComObject<IVelqorDAConnection, TVelqorCOMDAConnection>();
        connection->Connect("velqor-test", server, "", {}, window, 0);
    }
    // A new group on the connected server; its client handle is 100 + its index.
    TVelqorCOMGroup& NewGroup(bool subscribe = true, int32_t rateMs = 50, bool active = true) {
        auto g = com::MakeComObject<IVelqorGroup, TVelqorCOMGroup>(connection);
        int32_t handle = -1, rate = rateMs;
        g->Create(handle, "G" + std::to_string(groups.size()), 100 + int32_t(groups.size()), active,
                  0.0f, 0, 0x409, rate, subscribe, 0, 0);
        groups.push_back(g);
        serverHandles.push_back(handle);
        return Com(g);
    }
    static TVelqorCOMGroup& Com(const com::ComPtr<IVelqorGroup>& g) {
        return *static_cast<TVelqorCOMGroup*>(g.Get());
    }
    // New items (not yet on the server) and the list of them.
    TVelqorItemList Items(const std::vector<std::string>& ids) {
        TVelqorItemList list;
        for (const std::string& id : ids) {
            items.push_back(std::make_unique<TVelqorItemData>());
            items.back()->FItemID = id;
            list.Add(items.back().get());
        }
        return list;
    }
    bool RunUntil(const std::function<bool()>& pred,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return loop.RunUntil(pred, timeout);
    }
    // The posted messages of that number.
    std::vector<const Posted*> Of(uint32_t message) const {
        std::vector<const Posted*> r;
        for (const Posted& p : posted)
            if (p.Message == message) r.push_back(&p);
        return r;
    }
    // Delivers what was posted to the items, as the component model does.
    void ApplyPosted() {
        for (const Posted& p : posted) {
            if (!p.Payload) continue;
            for (const ItemUpdate& u : p.Payload->Items)
                if (TVelqorItemData* item = FindItemByClientHandle(u.ClientHandle))
                    item->ApplyUpdate(u);
        }
    }

    PlainEventLoop loop;
    NotifyWindow window;
    std::vector<Posted> posted;
    com::ComPtr<IVelqorDAConnection> connection;
    std::vector<com::ComPtr<IVelqorGroup>> groups;
    std::vector<int32_t> serverHandles;
    std::vector<std::unique_ptr<TVelqorItemData>> items;
};

}  // namespace velqor::test
