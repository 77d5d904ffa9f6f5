// One connected server component for a command: a plain event loop on this thread, the server
// component with the command line's Params, and the toolkit's displays routed to the streams.
#pragma once

#include <chrono>
#include <iosfwd>
#include <memory>
#include <string>

#include "Commands.h"
#include "model/Velqor.h"

namespace velqor {
class TComCallBounds;
}

namespace tagscope::cli {

// The time limit of each server call or exchange when --timeout is not given: the sum of the
// HTTP connect, send and receive limits, and the same for a COM call.
inline constexpr double kDefaultTimeoutSeconds = 390;

class Session {
  public:
    // Connects at once; raises what the toolkit raises when that fails.
    Session(const ConnectOptions& options, Streams streams);
    ~Session();  // deactivates: groups leave the server, subscriptions are cancelled
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    velqor::TVelqorServer& Server() { return *server_; }
    velqor::PlainEventLoop& Loop() { return loop_; }

    // A group for the command's items, created on the server with all of them in one call.
    velqor::TVelqorGroup& MakeGroup(const std::vector<std::string>& items, bool active,
                                    int32_t rateMs, float deadband, int32_t holdMs, int32_t waitMs,
                                    int32_t requestType);

    // While quiet, the toolkit's item-error reports are not shown (the command prints each
    // item's result itself).
    void SetQuietReports(bool on);

    // Connects again after the server went away: a new server object, and every group with
    // its items made again on it. Raises what the connect raises.
    void Reconnect();

    // The reason the server went away (shutdown message, failed keep-alive), or "".
    const std::string& LostReason() const { return lostReason_; }
    bool Lost() const { return lost_; }

  private:
    // Activates the server component; warns on the error stream while a bad HTTPS
    // certificate is accepted for the server.
    void Activate();

    Streams streams_;
    velqor::PlainEventLoop loop_;
    std::unique_ptr<velqor::TComCallBounds> bounds_;
    std::unique_ptr<velqor::TVelqorServer> server_;
    bool lost_ = false;
    std::string lostReason_;
};

// The Params lines of the options ("xml-user=...", ...); empty values are left out.
velqor::ParamLines ParamsOf(const ConnectOptions& options);

}  // namespace tagscope::cli
