// The fixture of the integration suite: a fresh peer per case, a server component on a plain
// event loop pointed at it, and what its events and the application's displays reported.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "IntegrationPeer.h"
#include "model/Velqor.h"

namespace velqor::integration {

using namespace std::chrono_literals;

inline void PrintTo(const PeerKind& kind, std::ostream* os) { *os << kind.Name; }

// One item as a data-change event of the server component showed it.
struct Seen {
    std::string Group;
    std::string ItemID;
    Variant Value;
    int32_t Quality = 0;
    double TimeStamp = 0;
};

// Skips a case that needs groups on a peer whose transport has none yet.
#define SKIP_WITHOUT_GROUPS()                                                         \
    do {                                                                              \
        if (!HasGroups()) GTEST_SKIP() << "needs groups: " << peer->NoGroupsReason(); \
    } while (0)

class IntegrationTest : public ::testing::TestWithParam<PeerKind> {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A group made from the template with the given settings, holding the given items; created on
    // the server when the component is active.
    TVelqorGroup* AddGroup(const std::string& name, const std::vector<std::string>& itemIDs,
                           bool active = true, int32_t updateRate = 100, float deadBand = 0);
    // True when the peer's transport serves groups; otherwise the case is skipped with the
    // peer's reason (use through SKIP_WITHOUT_GROUPS).
    bool HasGroups() const { return peer->NoGroupsReason().empty(); }
    // Runs the event loop until pred holds or the (generous) time is up; returns pred().
    bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 20s);

    // Data changes of the server component naming that item of that group.
    std::vector<Seen> SeenOf(const std::string& group, const std::string& itemID) const;
    size_t CountOf(const std::string& group, const std::string& itemID) const {
        return SeenOf(group, itemID).size();
    }
    // True once the item was delivered at least n times with distinct time stamps.
    bool DeliveredTimes(const std::string& group, const std::string& itemID, size_t n) const;

    PlainEventLoop loop;
    std::unique_ptr<IntegrationPeer> peer;
    std::unique_ptr<TVelqorServer> server;
    std::vector<Seen> seen;
    std::vector<std::string> shown;     // exceptions handed to the error display
    std::vector<std::string> messages;  // texts handed to the message display
    int connects = 0, disconnects = 0, shutdowns = 0, timeouts = 0;
};

}  // namespace velqor::integration
