// tagscope-cli: the Tagscope client on the command line. One command per run against one server
// (an OPC XML-DA URL, or a COM server name): status, browse, props, read, write, watch; and the
// list of the OPC servers installed on a computer.
#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>

#include "ComSecurity.h"
#include "Commands.h"
#include "Format.h"
#include "Interrupt.h"
#include "LocalServers.h"
#include "TextPlatform.h"
#include "contract/CallCancel.h"
#include "contract/VelqorVersion.h"

namespace {

using tagscope::cli::ComSecurity;
using tagscope::cli::ConnectOptions;

// Item IDs one a line (line ends of either kind; empty lines skipped); false when the file
// cannot be read.
bool ReadItemIDs(const std::string& path, std::vector<std::string>& ids) {
    std::ifstream file;
    if (path != "-") {
        file.open(path, std::ios::binary);
        if (!file) return false;
    }
    std::istream& in = path == "-" ? std::cin : file;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) ids.push_back(line);
    }
    return !in.bad();
}

struct Common {
    ConnectOptions connect;
    std::string passwordEnv;
};

void AddConnectOptions(CLI::App* cmd, Common& c) {
    cmd->add_option("SERVER", c.connect.server,
                    "OPC XML-DA URL (http://... or https://...) or COM server name")
        ->required();
    cmd->add_option("--computer", c.connect.computer, "remote computer of a COM server");
    cmd->add_option("--user", c.connect.user, "HTTP user name (Params xml-user)");
    cmd->add_option("--password", c.connect.password,
                    "HTTP password (Params xml-pass); prefer --password-env, a command line is "
                    "visible to others");
    cmd->add_option(
        "--password-env", c.passwordEnv,
        "read the password from this environment variable (default: TAGSCOPE_PASSWORD when set)");
    cmd->add_option("--proxy", c.connect.proxy, "HTTP proxy, host:port (Params xml-proxy)");
    cmd->add_option("--cafile", c.connect.cafile, "CA certificates for HTTPS (Params xml-cafile)");
    cmd->add_flag("--accept-bad-cert", c.connect.acceptBadCert,
                  "accept this server's HTTPS certificate even when it is out of date or names "
                  "another host (Params xml-accept-bad-cert); unsafe, warned on each connect");
    cmd->add_option("--timeout", c.connect.timeoutSeconds,
                    "time limit of each XML-DA exchange or COM call, seconds (default: 390, the "
                    "sum of the HTTP connect, send and receive limits)")
        ->check(CLI::Range(0.001, 86400.0));
}

// The DCOM security levels by name, checked against their tables.
struct SecurityNames {
    std::string auth =
        tagscope::cli::NameOfLevel(tagscope::cli::AuthLevels(), ComSecurity{}.authLevel);
    std::string impersonation = tagscope::cli::NameOfLevel(tagscope::cli::ImpersonationLevels(),
                                                           ComSecurity{}.impersonation);
};

CLI::Validator LevelCheck(std::span<const tagscope::cli::LevelName> table, const char* what) {
    using namespace tagscope::cli;
    return CLI::Validator(
        [table, what](std::string& name) -> std::string {
            if (LevelOf(table, name)) return {};
            return "unknown " + std::string(what) + " \"" + name +
                   "\" (known: " + LevelNamesText(table) + ")";
        },
        "{" + LevelNamesText(table) + "}");
}

void AddSecurityOptions(CLI::App* cmd, SecurityNames& names) {
    using namespace tagscope::cli;
    cmd->add_option("--auth-level", names.auth,
                    "DCOM authentication of this program's calls and of the callbacks it "
                    "accepts (Windows)")
        ->capture_default_str()
        ->check(LevelCheck(AuthLevels(), "authentication level"));
    cmd->add_option("--impersonation", names.impersonation,
                    "what a COM server may do with this program's identity (Windows)")
        ->capture_default_str()
        ->check(LevelCheck(ImpersonationLevels(), "impersonation level"));
}

// --type given as text; nullopt when absent. Raises CLI::ValidationError for an unknown name.
std::optional<int32_t> TypeOption(const std::string& text) {
    if (text.empty()) return std::nullopt;
    auto vt = tagscope::cli::ParseVarType(text);
    if (!vt)
        throw CLI::ValidationError(
            "--type",
            "unknown data type \"" + text + "\" (for example R8, I4, BSTR, BOOL, double, I4[])");
    return vt;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tagscope::cli;
    UseUtf8Console();

    CLI::App app{
        "tagscope-cli: look into an OPC Data Access server from the shell.\n"
        "SERVER is an OPC XML-DA address (http://host:port/path) or a COM server name.\n"
        "Exit codes: 0 ok, 1 error, 2 command line not understood, 3 some items failed,\n"
        "130 interrupted (Ctrl-C; watch ends cleanly with 0 on the first Ctrl-C)."};
    app.set_version_flag("--version", "tagscope-cli " VELQOR_VERSION);
    app.require_subcommand(1);
    Common common;
    SecurityNames securityNames;

    std::string serversComputer, serversTypes = "da1,da2,da3";
    CLI::App* servers = app.add_subcommand(
        "servers", "list the OPC servers installed: ProgID, description, CLSID, types per line");
    servers->add_option("--computer", serversComputer, "a remote computer instead of this one");
    AddSecurityOptions(servers, securityNames);
    servers
        ->add_option("--types", serversTypes,
                     "server types, comma-separated: da1, da2, da3, ae, batch1, batch2, dx, hda")
        ->capture_default_str();

    CLI::App* status = app.add_subcommand("status", "show the server status");
    AddConnectOptions(status, common);
    AddSecurityOptions(status, securityNames);

    BrowseOptions browse;
    std::string browseType;
    CLI::App* browseCmd =
        app.add_subcommand("browse", "list the address space: kind, name, item ID per line");
    AddConnectOptions(browseCmd, common);
    AddSecurityOptions(browseCmd, securityNames);
    browseCmd->add_option("PATH", browse.path, "branch to list (its item ID); default the root");
    browseCmd->add_flag("--flat", browse.flat, "every item below PATH, all levels");
    browseCmd->add_option(
        "--filter", browse.filter,
        "name mask: * any run, ? one character, [set], [!set]; with --flat it applies "
        "to the whole item ID");
    browseCmd->add_option("--vendor-filter", browse.vendorFilter,
                          "passed to the server as its own filter (XML-DA VendorFilter; "
                          "xmlda-sim matches it against the item's type, as double)");
    browseCmd->add_option("--type", browseType,
                          "only items of this data type (R8, I4, BSTR, double, ...)");
    browseCmd->add_flag("--readable", browse.readable, "only readable items");
    browseCmd->add_flag("--writable", browse.writable, "only writable items");
    auto* itemsOnly = browseCmd->add_flag("--items-only", browse.itemsOnly, "list items only");
    browseCmd->add_flag("--branches-only", browse.branchesOnly, "list branches only")
        ->excludes(itemsOnly);

    std::vector<std::string> propItems;
    bool propValues = false;
    CLI::App* props = app.add_subcommand("props", "show the properties of items");
    AddConnectOptions(props, common);
    AddSecurityOptions(props, securityNames);
    props->add_option("ITEM", propItems, "item IDs")->required();
    props->add_flag("--values", propValues, "with the property values");

    std::vector<std::string> readItems;
    std::string readType;
    CLI::App* read =
        app.add_subcommand("read", "read items from the device: value, quality, timestamp");
    AddConnectOptions(read, common);
    AddSecurityOptions(read, securityNames);
    read->add_option("ITEM", readItems, "item IDs")->required();
    read->add_option("--type", readType, "ask for the values in this data type");
    bool readCache = false;
    read->add_flag("--cache", readCache, "read the server's cache instead of the device");

    std::vector<std::string> assignments;
    std::string writeType;
    CLI::App* write = app.add_subcommand("write", "write values and report each item's result");
    AddConnectOptions(write, common);
    AddSecurityOptions(write, securityNames);
    write->add_option("ITEM=VALUE", assignments, "item ID and value; arrays as 1;2;3")->required();
    write->add_option("--type", writeType,
                      "send the values as this data type (default: the item's own type)");

    WatchOptions watch;
    CLI::App* watchCmd =
        app.add_subcommand("watch", "subscribe to items and print every data change");
    AddConnectOptions(watchCmd, common);
    AddSecurityOptions(watchCmd, securityNames);
    watchCmd->add_option("ITEM", watch.items, "item IDs");
    std::string itemsFile;
    watchCmd
        ->add_option("--items-file", itemsFile,
                     "also watch the item IDs in this file, one a line (\"-\": standard input)")
        ->check(CLI::ExistingFile | CLI::IsMember({"-"}));
    watchCmd->add_option("--rate", watch.rateMs, "update rate, ms (at least 1)")
        ->capture_default_str()
        ->check(CLI::Range(1, 86400000));
    watchCmd->add_option("--deadband", watch.deadband, "percent deadband")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 100.0));
    watchCmd->add_option("--hold", watch.holdMs, "XML-DA hold time, ms")
        ->check(CLI::Range(0, 86400000));
    watchCmd->add_option("--wait", watch.waitMs, "XML-DA wait time, ms")
        ->check(CLI::Range(0, 86400000));
    auto* count = watchCmd->add_option("--count", watch.count, "stop after N changes")
                      ->check(CLI::PositiveNumber);
    watchCmd->add_option("--seconds", watch.seconds, "stop after S seconds")
        ->check(CLI::PositiveNumber)
        ->excludes(count);
    watchCmd->add_option("--format", watch.format, "output format")
        ->capture_default_str()
        ->check(CLI::IsMember({"text", "csv", "jsonl"}));
    auto* noResub = watchCmd->add_flag_function(
        "--no-resubscribe", [&](int64_t) { watch.resubscribe = false; },
        "end the watch when the subscription is lost instead of making it again");
    watchCmd
        ->add_option("--give-up-after", watch.giveUpSeconds,
                     "stop making a lost subscription again after this many seconds (0: never)")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 2000000.0))
        ->excludes(noResub);

    std::optional<int32_t> browseVt, readVt, writeVt;
    uint8_t serverTypes = 0;
    try {
        // UTF-8 whatever the platform's own encoding of the command line.
        const std::vector<std::string> args = Utf8Arguments(argc, argv);
        std::vector<const char*> argp;
        for (const auto& a : args) argp.push_back(a.c_str());
        app.parse(int(argp.size()), argp.data());
        try {
            serverTypes = ParseServerTypes(serversTypes);
            if (servers->parsed() && serverTypes == 0)
                throw std::invalid_argument("no server type given");
        } catch (const std::invalid_argument& e) {
            throw CLI::ValidationError("--types", e.what());
        }
        if (!itemsFile.empty()) {
            if (!ReadItemIDs(itemsFile, watch.items))
                throw CLI::ValidationError("--items-file", "cannot read " + itemsFile);
        }
        if (watchCmd->parsed() && watch.items.empty())
            throw CLI::RequiredError("ITEM or --items-file");
        browseVt = TypeOption(browseType);
        readVt = TypeOption(readType);
        writeVt = TypeOption(writeType);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    ConnectOptions& c = common.connect;
    if (c.password.empty()) {
        const std::string var =
            common.passwordEnv.empty() ? "TAGSCOPE_PASSWORD" : common.passwordEnv;
        if (auto p = EnvironmentText(var))
            c.password = *p;
        else if (!common.passwordEnv.empty()) {
            std::cerr << "error: the environment variable " << var << " is not set\n";
            return kExitUsage;
        }
    }
    browse.type = browseVt;

    RegisterLocalServers();
    InstallInterruptHandling();
    // Before any COM object is made, and for the whole run.
    const ProcessCom com({*LevelOf(AuthLevels(), securityNames.auth),
                          *LevelOf(ImpersonationLevels(), securityNames.impersonation)},
                         std::cerr);
    Streams s{std::cout, std::cerr, InterruptFlag()};
    velqor::CallCancelScope calls;
    InterruptibleCalls interruptible(calls);
    if (servers->parsed()) return RunServers(serversComputer, serverTypes, s);
    if (status->parsed()) return RunStatus(c, s);
    if (browseCmd->parsed()) return RunBrowse(c, browse, s);
    if (props->parsed()) return RunProps(c, propItems, propValues, s);
    if (read->parsed()) return RunRead(c, readItems, readVt, readCache, s);
    if (write->parsed()) return RunWrite(c, assignments, writeVt, s);
    if (watchCmd->parsed()) return RunWatch(c, watch, s);
    return kExitUsage;
}
