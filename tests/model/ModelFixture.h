// Common set-up of the component-model tests: a plain event loop, a fake transport, a server
// component on it, and the application's error and message displays captured.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fake/FakeTransport.h"

namespace velqor::testing {

class ModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ApplicationHooks::SetExceptionDisplay(
            [this](const std::exception& e) { shown.push_back(e.what()); });
        ApplicationHooks::SetMessageDisplay(
            [this](const std::string& t) { messages.push_back(t); });
        fake = fake::FakeTransport::Create();
        server = std::make_unique<fake::FakeServer>(fake, &loop);
        server->SetServerName("Velqor.Sim.1");
    }
    void TearDown() override {
        server.reset();
        ApplicationHooks::SetExceptionDisplay(nullptr);
        ApplicationHooks::SetMessageDisplay(nullptr);
        SetRaiseItemErrors(false);
    }

    // Runs what the transport posted.
    int Pump() { return loop.ProcessPending(); }

    // A connected server with group G1 holding the given items.
    TVelqorGroup* ConnectWithGroup(const std::vector<std::string>& itemIDs,
                                   const std::string& name = "G1") {
        server->SetActive(true);
        TVelqorGroup* g = server->OPCGroups().AddGroup(name);
        for (const auto& id : itemIDs) g->OPCItems().AddItem(id);
        return g;
    }

    PlainEventLoop loop;
    std::shared_ptr<fake::FakeTransport> fake;
    std::unique_ptr<fake::FakeServer> server;
    std::vector<std::string> shown;     // exceptions handed to the error display
    std::vector<std::string> messages;  // texts handed to the message display
};

using Ops = std::vector<std::string>;

}  // namespace velqor::testing
