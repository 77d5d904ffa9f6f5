// tagscope-bridge: runs a saved Tagscope session without a window and publishes every data
// change of its items to an MQTT broker.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>

#include "Bridge.h"
#include "Interrupt.h"
#include "LocalServers.h"
#include "TextPlatform.h"
#include "contract/CallCancel.h"
#include "contract/VelqorVersion.h"

namespace {

// A client ID that stays the same across restarts of one bridge (so the broker keeps its
// session) and differs between bridges of other sessions or machines.
std::string DefaultClientId(const std::string& sessionFile) {
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    return "tagscope-bridge-" + std::string(host) + "-" +
           std::filesystem::path(sessionFile).stem().string();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tagscope;
    using namespace tagscope::cli;
    bridge::BridgeOptions o;
    CLI::App app{
        "tagscope-bridge: publish the items of a Tagscope session to an MQTT broker.\n"
        "Each data change goes to <topic template> as JSON; <prefix>/$state says online or\n"
        "offline. Exit codes: 0 ok, 1 error, 2 command line not understood, 3 some items failed."};
    app.set_version_flag("--version", "tagscope-bridge " VELQOR_VERSION);
    app.add_option("SESSIONFILE", o.sessionFile, "a session saved by Tagscope")->required();
    auto* broker =
        app.add_option("--broker", o.broker.url, "mqtt://host:port, or mqtts://host:port for TLS");
    app.add_option("--broker-cafile", o.broker.cafile, "CA certificates that sign the broker's");
    app.add_option("--broker-cert", o.broker.certfile, "this client's certificate (PEM)");
    app.add_option("--broker-key", o.broker.keyfile, "the private key of --broker-cert (PEM)");
    app.add_option("--broker-user", o.broker.user, "user name at the broker");
    std::string passwordEnv = "TAGSCOPE_BROKER_PASSWORD";
    app.add_option("--broker-password-env", passwordEnv,
                   "read the broker password from this environment variable")
        ->capture_default_str();
    std::string version = "5";
    app.add_option("--mqtt-version", version, "MQTT protocol version")
        ->capture_default_str()
        ->check(CLI::IsMember({"3.1.1", "5"}));
    app.add_option("--client-id", o.broker.clientId,
                   "MQTT client ID (default: tagscope-bridge-HOST-SESSIONNAME)");
    app.add_option("--qos", o.broker.qos, "QoS of the values, 0 or 1")
        ->capture_default_str()
        ->check(CLI::Range(0, 1));
    app.add_flag("--retain", o.broker.retain, "the broker keeps each item's last value");
    app.add_option("--topic", o.topicTemplate,
                   "topic template with <server>, <group> and <item ID>")
        ->capture_default_str();
    app.add_flag("--escape-slashes", o.escapeSlashes,
                 "write \"/\" in item IDs as %2F (one topic level per item) instead of levels");
    app.add_option(
        "--server-name", o.serverName,
        "the <server> level (default: the host:port of an XML-DA server, a COM server's name)");
    app.add_option("--buffer", o.broker.bufferLimit,
                   "values kept while the broker is away; beyond, the oldest are dropped")
        ->capture_default_str()
        ->check(CLI::Range(size_t(1), size_t(100000000)));
    app.add_option("--in-flight", o.broker.inFlight,
                   "values sent and not yet acknowledged, at most (more for a distant broker)")
        ->capture_default_str()
        ->check(CLI::Range(1, 65535));
    app.add_flag("--allow-writes", o.allowWrites,
                 "write values sent to <item topic>/set (answer on <item topic>/set/result)");
    app.add_flag("--dry-run", o.dryRun, "print what would be published instead; no broker")
        ->excludes(broker);
    app.add_option("--status-every", o.statusSeconds,
                   "a status line on stderr every S seconds (values in/out, buffer, reconnects)")
        ->check(CLI::Range(0.1, 86400.0));
    app.add_option("--give-up-after", o.giveUpSeconds,
                   "stop recovering a lost server after S seconds (0: never)")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 2000000.0));
    app.add_option("--flush-timeout", o.flushSeconds,
                   "on SIGTERM, seconds to send what is still buffered")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 3600.0));
    app.add_option("--timeout", o.connect.timeoutSeconds,
                   "time limit of each XML-DA exchange or COM call, seconds")
        ->check(CLI::Range(0.001, 86400.0));
    try {
        const std::vector<std::string> args = Utf8Arguments(argc, argv);
        std::vector<const char*> argp;
        for (const auto& a : args) argp.push_back(a.c_str());
        app.parse(int(argp.size()), argp.data());
        if (!o.dryRun && o.broker.url.empty()) throw CLI::RequiredError("--broker (or --dry-run)");
        if (!o.dryRun) bridge::ParseBrokerUrl(o.broker.url);
        bridge::TopicTemplate(o.topicTemplate, true);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    } catch (const std::invalid_argument& e) {
        std::cerr << "error: " << e.what() << '\n';
        return kExitUsage;
    }
    o.broker.version = version == "5" ? 5 : 4;
    if (o.broker.clientId.empty()) o.broker.clientId = DefaultClientId(o.sessionFile);
    if (auto p = EnvironmentText(passwordEnv)) o.broker.password = *p;

    RegisterLocalServers();
    InstallInterruptHandling();
    Streams s{std::cout, std::cerr, InterruptFlag()};
    velqor::CallCancelScope calls;
    InterruptibleCalls interruptible(calls);
    return bridge::RunBridge(o, s);
}
