#include "IntegrationFixture.h"

#include <set>

namespace velqor::integration {

void IntegrationTest::SetUp() {
    ApplicationHooks::SetExceptionDisplay(
        [this](const std::exception& e) { shown.push_back(e.what()); });
    ApplicationHooks::SetMessageDisplay([this](const std::string& t) { messages.push_back(t); });
    // Simulated COM servers deliver their callbacks through the default loop.
    EventLoop::SetDefault(&loop);
    peer = GetParam().Make();
    peer->Start();
    server = std::make_unique<TVelqorServer>(&loop);
    server->SetClientName("velqor-integration");
    server->SetComputerName(peer->ComputerName());
    server->SetServerName(peer->ServerName());
    server->OnConnect = [this](TVelqorSvr*) { ++connects; };
    server->OnDisconnect = [this](TVelqorSvr*) { ++disconnects; };
    server->OnServerShutdown = [this](TVelqorSvr*, const std::string&) { ++shutdowns; };
    server->OnTimeout = [this](TVelqorSvr*) { ++timeouts; };
    server->OnDatachange = [this](TVelqorServer*, const TVelqorItemList& items) {
        for (TVelqorItemData* i : items) {
            auto* item = dynamic_cast<TVelqorItem*>(i);
            ASSERT_NE(item, nullptr);
            seen.push_back({item->Group()->Name(), item->ItemID(), item->Value(), item->Quality(),
                            item->TimeStamp()});
        }
    };
}

void IntegrationTest::TearDown() {
    server.reset();
    peer.reset();
    EventLoop::SetDefault(nullptr);
    ApplicationHooks::SetExceptionDisplay(nullptr);
    ApplicationHooks::SetMessageDisplay(nullptr);
    SetRaiseItemErrors(false);
}

TVelqorGroup* IntegrationTest::AddGroup(const std::string& name,
                                        const std::vector<std::string>& itemIDs, bool active,
                                        int32_t updateRate, float deadBand) {
    TVelqorDefaultGroup& d = server->OPCGroupDefault();
    const TVelqorDefaultGroup before = d;
    d.IsActive = active;
    d.UpdateRate = updateRate;
    d.DeadBand = deadBand;
    TVelqorGroup* g = server->OPCGroups().AddGroup(name);
    d = before;
    for (const auto& id : itemIDs) g->OPCItems().AddItem(id);
    return g;
}

bool IntegrationTest::PumpUntil(const std::function<bool()>& pred,
                                std::chrono::milliseconds timeout) {
    return loop.RunUntil(pred, timeout);
}

std::vector<Seen> IntegrationTest::SeenOf(const std::string& group,
                                          const std::string& itemID) const {
    std::vector<Seen> out;
    for (const Seen& s : seen)
        if (s.Group == group && s.ItemID == itemID) out.push_back(s);
    return out;
}

bool IntegrationTest::DeliveredTimes(const std::string& group, const std::string& itemID,
                                     size_t n) const {
    std::set<double> stamps;
    for (const Seen& s : SeenOf(group, itemID)) stamps.insert(s.TimeStamp);
    return stamps.size() >= n;
}

}  // namespace velqor::integration
