// Common set-up of the XML-DA group tests: xmlda-sim in-process, the recording relay in front of
// it, and a server component on a plain event loop connected through the relay.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Relay.h"
#include "model/Velqor.h"
#include "xmlda/VelqorXMLDAGroup.h"
#include "xmlda/XmlDaSim.h"

namespace velqor::xmlgrouptest {

using namespace std::chrono_literals;

// What an earlier exchange left in an item, stored as a transport stores it.
inline void PresetValue(TVelqorItemData& item, const Variant& value) {
    ItemUpdate u;
    u.Fields = ItemUpdate::kValue;
    u.Value = value;
    item.ApplyUpdate(u);
}
inline void PresetQuality(TVelqorItemData& item, int32_t quality) {
    ItemUpdate u;
    u.Fields = ItemUpdate::kQuality;
    u.Quality = quality;
    item.ApplyUpdate(u);
}

// One data-change event as the application saw it.
struct Change {
    std::vector<std::string> ItemIDs;
    std::vector<int32_t> Qualities;
};

class XmlGroupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* v :
             {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(v);
        ApplicationHooks::SetExceptionDisplay(
            [this](const std::exception& e) { shown.push_back(e.what()); });
        ApplicationHooks::SetMessageDisplay(
            [this](const std::string& t) { messages.push_back(t); });
        xmldasim::Options o;
        o.clockPeriodMs = 100;
        o.loadItems = 20;
        sim = std::make_unique<xmldasim::Service>(o);
        sim->start();
        relay = std::make_unique<Relay>(sim->port(), sim->path());
        server = std::make_unique<TVelqorServer>(&loop);
        server->SetServerName(relay->URL());
        server->OnDatachange = [this](TVelqorServer*, const TVelqorItemList& items) {
            Change c;
            for (TVelqorItemData* i : items) {
                c.ItemIDs.push_back(i->FItemID);
                c.Qualities.push_back(i->Quality());
            }
            changes.push_back(c);
        };
        server->OnServerShutdown = [this](TVelqorSvr*, const std::string&) { ++shutdowns; };
    }

    void TearDown() override {
        server.reset();
        sim->stop();  // answers held polls, so the relay's handlers end
        relay.reset();
        sim.reset();
        ApplicationHooks::SetExceptionDisplay(nullptr);
        ApplicationHooks::SetMessageDisplay(nullptr);
        SetRaiseItemErrors(false);
    }

    // A group on the active server with the given items; settings applied before it is created.
    TVelqorGroup* MakeGroup(const std::vector<std::string>& ids, bool active = true,
                            int32_t rate = 100, int32_t hold = 0, int32_t wait = 0) {
        if (!server->Active()) server->SetActive(true);
        TVelqorDefaultGroup& d = server->OPCGroupDefault();
        d.IsActive = active;
        d.UpdateRate = rate;
        TVelqorGroup* g =
            server->OPCGroups().AddGroup("G" + std::to_string(server->OPCGroups().Count()));
        if (hold != 0 || wait != 0) {  // set before items, so the first subscription uses them
            g->SetXMLHoldtime(hold);
            g->SetXMLWaittime(wait);
        }
        for (const auto& id : ids) g->OPCItems().AddItem(id);
        return g;
    }

    static TVelqorXMLGroup* Transport(TVelqorGroup* g) {
        return dynamic_cast<TVelqorXMLGroup*>(g->TransportGroup().Get());
    }

    // Adds an item to a new group of the active server, with item errors raised: the reply to its
    // subscription is refused as a wrong result, and no poll thread starts.
    void ExpectSubscribeRefused() {
        SetRaiseItemErrors(true);
        server->SetActive(true);
        TVelqorGroup* g = server->OPCGroups().AddGroup("G");
        EXPECT_THAT([&] { g->OPCItems().AddItem("Static/Int"); },
                    ::testing::ThrowsMessage<EOPCServerException>(
                        ::testing::StrEq("wrong result from OPC Server (Subscribe)")));
        EXPECT_EQ(Transport(g)->PollThread(), nullptr);
    }

    // Runs the loop until pred holds; pred is also asked between messages (it may watch the
    // relay, which posts nothing).
    bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 5s) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end)
            if (loop.RunUntil(pred, 10ms)) return true;
        return pred();
    }

    // Data changes naming the item.
    size_t ChangesOf(const std::string& itemID) const {
        size_t n = 0;
        for (const auto& c : changes)
            for (const auto& id : c.ItemIDs)
                if (id == itemID) ++n;
        return n;
    }

    PlainEventLoop loop;
    std::unique_ptr<xmldasim::Service> sim;
    std::unique_ptr<Relay> relay;
    std::unique_ptr<TVelqorServer> server;
    std::vector<Change> changes;
    int shutdowns = 0;
    std::vector<std::string> shown;
    std::vector<std::string> messages;
};

}  // namespace velqor::xmlgrouptest
