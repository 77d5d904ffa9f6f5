// The commands of tagscope-cli. Each runs against one server component on a plain event loop
// and returns the program's exit code; results go to out, errors to err.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tagscope::cli {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;          // connection, server or usage of the server failed
inline constexpr int kExitUsage = 2;          // command line not understood
inline constexpr int kExitItemErrors = 3;     // the command ran, but some items failed
inline constexpr int kExitInterrupted = 130;  // Ctrl-C cut the command short

// What every command needs to reach a server.
struct ConnectOptions {
    std::string server;    // an "http://"/"https://" URL or a COM server name
    std::string computer;  // remote computer of a COM server
    std::string user, password, proxy, cafile;
    bool acceptBadCert = false;  // HTTPS: accept an out-of-date certificate or another host's
    double timeoutSeconds = 0;   // limit of each XML-DA exchange or COM call; 0: the default
    bool keepAlive = true;       // probe an XML-DA server every 60 s (COM servers: always, 3 s)
    std::string clientName = "tagscope-cli";  // the name the server is told
};

struct BrowseOptions {
    std::string path;  // combined item ID of the branch; empty: the root
    bool flat = false;
    std::string filter;
    std::string vendorFilter;  // the service's vendor-specific filter
    std::optional<int32_t> type;
    bool readable = false, writable = false;
    bool itemsOnly = false, branchesOnly = false;
};

struct WatchOptions {
    std::vector<std::string> items;
    int32_t rateMs = 1000;
    float deadband = 0;
    int32_t holdMs = 0, waitMs = 0;
    int64_t count = 0;            // 0: no limit
    double seconds = 0;           // 0: no limit
    std::string format = "text";  // text, csv, jsonl
    bool resubscribe = true;      // make a lost subscription again
    double giveUpSeconds = 600;   // ... until it has been lost this long (0: never give up)
};

struct Streams {
    std::ostream& out;
    std::ostream& err;
    // Set when the user interrupts the program (see Interrupt.h).
    const std::atomic<bool>& stop;
};

// An error's text on one line: the toolkit's CR LF separated parts (a fault's code and text, a
// failure and its cause) joined by ": ", anything else a server put in it escaped.
std::string ErrorLineText(std::string_view text);

// The server types of a --types list ("da1,da2,da3,ae,batch1,batch2,dx,hda", case ignored); raises
// std::invalid_argument naming a word it does not know.
uint8_t ParseServerTypes(const std::string& list);
// The names of a server type set, comma-separated in the order above.
std::string ServerTypesText(uint8_t types);

// The OPC servers of this computer or of a remote one: ProgID, description, CLSID and types per
// line. A server without a ProgID is shown by its CLSID.
int RunServers(const std::string& computer, uint8_t types, Streams s);
int RunStatus(const ConnectOptions& c, Streams s);
int RunBrowse(const ConnectOptions& c, const BrowseOptions& b, Streams s);
int RunProps(const ConnectOptions& c, const std::vector<std::string>& items, bool values,
             Streams s);
// fromCache: the server's cache of an active group instead of the device.
int RunRead(const ConnectOptions& c, const std::vector<std::string>& items,
            std::optional<int32_t> type, bool fromCache, Streams s);
// assignments: "ITEM=VALUE" (split at the first "="; arrays as "1;2;3").
int RunWrite(const ConnectOptions& c, const std::vector<std::string>& assignments,
             std::optional<int32_t> type, Streams s);
int RunWatch(const ConnectOptions& c, const WatchOptions& w, Streams s);

class Session;
// Connects a session again after its server was lost, 0.5 s, 1 s, 2 s ... (at most 30 s apart)
// after the loss, until the server answers, the deadline passes, the user interrupts or the
// server has been gone for giveUpSeconds (0: never give up); reports the loss and the recovery
// on the error stream. Raises the last failure when it gives up.
void ReconnectAfterLoss(Session& session, double giveUpSeconds, Streams s,
                        std::chrono::steady_clock::time_point deadline);

}  // namespace tagscope::cli
