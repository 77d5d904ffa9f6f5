// tagscope-bridge: a saved session run headless, each data change of its items published to an
// MQTT broker, and (when allowed) writes taken from "<item topic>/set".
#pragma once

#include <string>

#include "Commands.h"
#include "MqttLink.h"
#include "Topics.h"

namespace tagscope::bridge {

struct BridgeOptions {
    std::string sessionFile;
    BrokerOptions broker;
    std::string topicTemplate = TopicTemplate::kDefault;
    bool escapeSlashes = false;  // "/" in item IDs as "%2F" instead of topic levels
    std::string serverName;      // the <server> level; default: ServerLevelName
    bool allowWrites = false;
    bool dryRun = false;          // print what would be published; no broker
    double statusSeconds = 0;     // a status line this often on the error stream (0: none)
    double giveUpSeconds = 0;     // stop recovering a lost server after this long (0: never)
    double flushSeconds = 10;     // on SIGTERM, time to send what is still buffered
    cli::ConnectOptions connect;  // XML-DA credentials and limits; the server comes from the file
};

// The <server> level of a session's server: a URL's host and port, a COM server as named.
std::string ServerLevelName(const std::string& server);

// Runs until interrupted (SIGTERM, Ctrl-C) or the server is lost for good; returns the exit
// code of tagscope-cli (0 ok, 1 error, 3 some items failed).
int RunBridge(const BridgeOptions& options, cli::Streams s);

}  // namespace tagscope::bridge
