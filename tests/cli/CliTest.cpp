// tagscope-cli end to end: the built program run as a child process against xmlda-sim in this
// process. Each command, its exit codes, its output formats, Ctrl-C and the subscription's end.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "CliFixture.h"
#include "LoopbackServers.h"
#include "xmlda/XmlDaSim.h"

namespace tagscope::clitest {
namespace {

using namespace std::chrono_literals;

TEST_F(CliTest, EveryCommandHasHelpAndBadCommandLinesExitWithTwo) {
    for (const char* cmd : {"status", "browse", "props", "read", "write", "watch"}) {
        Result r = Cli({cmd, "--help"});
        EXPECT_EQ(r.exitCode, 0) << cmd;
        EXPECT_NE(r.out.find("SERVER"), std::string::npos) << cmd << r.out;
        EXPECT_NE(r.out.find("--password-env"), std::string::npos) << cmd;
        EXPECT_NE(r.out.find("--auth-level"), std::string::npos) << cmd;
    }
    Result top = Cli({"--help"});
    EXPECT_EQ(top.exitCode, 0);
    for (const char* cmd : {"status", "browse", "props", "read", "write", "watch"})
        EXPECT_NE(top.out.find(cmd), std::string::npos);

    EXPECT_EQ(Cli({}).exitCode, 2);
    EXPECT_EQ(Cli({"frobnicate", sim.url()}).exitCode, 2);
    EXPECT_EQ(Cli({"read", sim.url()}).exitCode, 2);  // no items
    EXPECT_EQ(On("watch", {"Dynamic/Int", "--format", "xml"}).exitCode, 2);
    EXPECT_EQ(On("watch", {"Dynamic/Int", "--count", "3", "--seconds", "1"}).exitCode, 2);
    EXPECT_EQ(On("watch", {"Dynamic/Int", "--rate", "0"}).exitCode, 2);  // back to back
    Result badType = On("read", {"Static/Int", "--type", "Bogus"});
    EXPECT_EQ(badType.exitCode, 2);
    EXPECT_NE(badType.err.find("Bogus"), std::string::npos);
    EXPECT_TRUE(badType.out.empty());
    Result badLevel = On("read", {"Static/Int", "--auth-level", "pkt"});
    EXPECT_EQ(badLevel.exitCode, 2);
    EXPECT_NE(badLevel.err.find("none, connect, call, packet, integrity, privacy"),
              std::string::npos)
        << badLevel.err;
    EXPECT_EQ(Cli({"servers", "--impersonation", "full"}).exitCode, 2);
    Result badAssign = On("write", {"Writable/Int"});
    EXPECT_EQ(badAssign.exitCode, 2);
    EXPECT_NE(badAssign.err.find("ITEM=VALUE"), std::string::npos);
    EXPECT_EQ(sim.requestCount(), 0u)
        << "nothing is sent for a command line that is not understood";
}

TEST_F(CliTest, StatusPrintsTheRecordAndFailuresGoToStderrWithExitOne) {
    Result r = On("status", {});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("State:        running (1)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Vendor info:  Tagscope XML-DA simulation service"), std::string::npos)
        << r.out;
    EXPECT_TRUE(
        std::regex_search(r.out, std::regex("Start time: +20\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d")));
    EXPECT_TRUE(std::regex_search(r.out, std::regex("Current time: +20\\d\\d-")));
    EXPECT_TRUE(std::regex_search(r.out, std::regex("Last update: +20\\d\\d-")));
    EXPECT_TRUE(std::regex_search(r.out, std::regex("Version: +\\S")));
    EXPECT_TRUE(r.err.empty()) << r.err;

    velqor::xmldasim::Switches s;
    s.serverState = "test";
    sim.setSwitches(s);
    EXPECT_NE(On("status", {}).out.find("State:        test (5)"), std::string::npos);

    s.fault = velqor::xmldasim::FaultStyle::Soap11;
    sim.setSwitches(s);
    Result f = On("status", {});
    EXPECT_EQ(f.exitCode, 1);
    EXPECT_TRUE(f.out.empty()) << f.out;
    EXPECT_EQ(f.err.rfind("error: Unable to connect to OPC server " + sim.url(), 0), 0u) << f.err;
    EXPECT_EQ(f.err.find('\r'), std::string::npos);

    const std::string url = sim.url();
    sim.stop();
    Result gone = Cli({"status", url});
    EXPECT_EQ(gone.exitCode, 1);
    EXPECT_NE(gone.err.find("Unable to connect"), std::string::npos) << gone.err;
    sim.start();
}

TEST_F(CliTest, BrowseLevelsFiltersAndTheFlatWalk) {
    Result root = On("browse", {});
    ASSERT_EQ(root.exitCode, 0) << root.err;
    EXPECT_EQ(Lines(root.out),
              (std::vector<std::string>{"branch\tStatic\tStatic", "branch\tDynamic\tDynamic",
                                        "branch\tWritable\tWritable",
                                        "branch\tWriteOnly\tWriteOnly", "branch\tPlant\tPlant",
                                        "branch\tSpecial\tSpecial", "branch\tLoad\tLoad"}));

    Result tank = On("browse", {"Plant/Area1/Tank1", "--writable"});
    EXPECT_EQ(Lines(tank.out),
              std::vector<std::string>{"item\tSetpoint\tPlant/Area1/Tank1/Setpoint"});
    Result doubles = On("browse", {"Static", "--type", "R8"});
    EXPECT_EQ(Lines(doubles.out), (std::vector<std::string>{"item\tDouble\tStatic/Double",
                                                            "branch\tArrays\tStatic/Arrays"}));
    Result named = On("browse", {"Static", "--filter", "*int"});
    EXPECT_EQ(Lines(named.out),
              (std::vector<std::string>{"item\tInt\tStatic/Int",
                                        "item\tUnsignedInt\tStatic/UnsignedInt"}));
    EXPECT_TRUE(On("browse", {"WriteOnly", "--readable"}).out.empty());

    Result flat = On("browse", {"--flat", "--filter", "*TEMP*"});
    EXPECT_EQ(Lines(flat.out),
              std::vector<std::string>{"item\tTemperature\tPlant/Area1/Tank1/Temperature"});
    Result flatPlant = On("browse", {"Plant", "--flat", "--type", "double", "--readable"});
    EXPECT_EQ(Lines(flatPlant.out),
              (std::vector<std::string>{"item\tLevel\tPlant/Area1/Tank1/Level",
                                        "item\tTemperature\tPlant/Area1/Tank1/Temperature",
                                        "item\tSetpoint\tPlant/Area1/Tank1/Setpoint",
                                        "item\tSpeed\tPlant/Area2/Pump1/Speed"}));
    Result load = On("browse", {"Load", "--flat"});
    EXPECT_EQ(Lines(load.out).size(), 20u);

    Result bad = On("browse", {"No/Such/Branch"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(bad.out.empty());
    EXPECT_EQ(bad.err.rfind("error: ", 0), 0u) << bad.err;
}

TEST_F(CliTest, PropsListsPropertiesAndReportsUnknownItems) {
    Result r = On("props", {"Plant/Area1/Tank1/Level", "--values"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Plant/Area1/Tank1/Level\n"), std::string::npos);
    EXPECT_NE(r.out.find("  1\tItem Canonical DataType\tI2\t5 (R8)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\tEU Units\tBSTR\tm\n"), std::string::npos) << r.out;
    Result noValues = On("props", {"Plant/Area1/Tank1/Level"});
    EXPECT_NE(noValues.out.find("  1\tItem Canonical DataType\tI2\n"), std::string::npos)
        << noValues.out;

    Result mixed = On("props", {"Static/Int", "No/Such/Item"});
    EXPECT_EQ(mixed.exitCode, 3);
    EXPECT_NE(mixed.out.find("Static/Int\n"), std::string::npos);
    EXPECT_NE(mixed.err.find("No/Such/Item: "), std::string::npos) << mixed.err;
}

// The simulated COM servers are registered by the program itself, so a ProgID connects.
TEST_F(CliTest, StatusAndPropsOfSimulatedComServersByProgIdAndComputer) {
    struct Row {
        std::vector<std::string> args;
        int exitCode;
        std::string out;  // expected in stdout (exit 0) or stderr
    } const rows[] = {
        {{"status", "Velqor.SimDA20.1"}, 0, "Version:      2.5.1\n"},
        {{"status", "Velqor.SimDA20Flat.1", "--computer", "localhost"}, 0, "State:        running"},
        {{"status", "{727DF4D6-E3F2-4F4B-A6EC-D30E32960E30}"}, 0, "Vendor info:  Velqor"},
        {{"status", "Velqor.SimDA20.1", "--computer", "no-such-host"},
         1,
         "error: The RPC server is unavailable."},
        {{"status", "Velqor.NoSuchServer.1"}, 1, "Server name not found in registry or empty"},
        {{"props", "Velqor.SimDA20.1", "Plant/Area1/Tank1/Level", "--values"},
         0,
         "  102\tHigh EU\tR8\t10\n  103\tLow EU\tR8\t0\n"},
        // The cache of a group made active for the read: an inactive one reads out of service.
        {{"read", "Velqor.SimDA20.1", "Static/Int", "--cache"}, 0, "\tgood 0xC0\t"},
        {{"read", "Velqor.SimDA10.1", "Static/Int", "--cache"}, 0, "\tgood 0xC0\t"},
        // The toolkit's own COM has no DCOM security: the levels are taken and change nothing.
        {{"read", "Velqor.SimDA20.1", "Static/Int", "--auth-level", "privacy", "--impersonation",
          "delegate"},
         0,
         "\tgood 0xC0\t"},
        {{"props", "Velqor.SimDA20.1", "WriteOnly/Int", "No/Such/Item", "--values"},
         3,
         "No/Such/Item: The item is no longer available in the server address space."},
        // An item the server does not know fails with that reason, not with a handle's.
        {{"write", "Velqor.SimDA20.1", "No/Such/Item=5"},
         3,
         "No/Such/Item: The item is no longer available in the server address space."},
        // A server without item properties says so.
        {{"props", "Velqor.SimDA10.1", "Static/Int"}, 3, "the server offers no item properties"},
        {{"props", "Velqor.SimDA20.1", "WriteOnly/Int", "--values"},
         0,
         "error: The item is write only"},
        // An item whose type cannot be asked does not change how the others' values are sent.
        {{"write", "Velqor.SimDA20.1", "Writable/Arrays/ArrayOfInt=7;8", "WriteOnly/Int=55"},
         0,
         "Writable/Arrays/ArrayOfInt\tok\n"},
    };
    for (const Row& row : rows) {
        Result r = Cli(row.args);
        SCOPED_TRACE(row.args[1]);
        EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
        EXPECT_NE((row.exitCode == 0 ? r.out : r.err).find(row.out), std::string::npos)
            << r.out << r.err;
    }
}

// Failures the server has words for are told in them (a code the toolkit's table lacks), and
// failed properties fail the command.
TEST_F(CliTest, ServerFailuresAreToldInTheServersWords) {
    const std::string words = "The simulated server failed this item on purpose.";
    Result props = Cli({"props", "Velqor.SimDA20.1", "Static/Int", "--values"},
                       {"VELQOR_COMSIM_FAULTS=sfalse"});
    EXPECT_EQ(props.exitCode, 3) << props.out;
    EXPECT_NE(props.out.find("\terror: " + words + "\n"), std::string::npos) << props.out;
    Result read = Cli({"read", "Velqor.SimDA20.1", "Static/Int"},
                      {"VELQOR_COMSIM_FAULTS=read-error=Static/Int"});
    EXPECT_EQ(read.exitCode, 3) << read.out;
    EXPECT_EQ(read.out, "Static/Int\terror: " + words + "\n");
    // Changes that could not be read are printed with the reason, and fail the watch.
    Result watch = Cli(
        {"watch", "Velqor.SimDA10.1", "Plant/Area1/Tank1/Level", "--rate", "100", "--count", "2"},
        {"VELQOR_COMSIM_FAULTS=bad-stream"});
    EXPECT_EQ(watch.exitCode, 3) << watch.out << watch.err;
    EXPECT_NE(watch.out.find("wrong result from OPC Server (IAdviseSink::OnDataChange)"),
              std::string::npos)
        << watch.out;
}

TEST_F(CliTest, ServersListsTheSimulatedComServersAndBrowseWalksThem) {
    struct Row {
        std::vector<std::string> args;
        int exitCode;
        std::string out;  // expected in stdout (exit 0) or stderr
        size_t lines;     // of stdout, when exit 0
    } const rows[] = {
        {{"servers"},
         0,
         "Velqor.SimDA30.1\tVelqor Simulated OPC DA 3.0 Server\t"
         "{40A1578C-1A37-462A-8444-791ABA675002}\tda3\n",
         4},
        {{"servers", "--types", "DA2, hda"}, 0, "Velqor.SimDA20Flat.1\t", 2},
        {{"servers", "--types", "da4"}, 2, "unknown server type \"da4\"", 0},
        {{"servers", "--computer", "no-such-host"}, 1, "error: The RPC server is unavailable.", 0},
        {{"browse", "Velqor.SimDA20.1", "Plant/Area1/Tank1"},
         0,
         "item\tLevel\tPlant/Area1/Tank1/Level\n",
         4},
        {{"browse", "--flat", "Velqor.SimDA30.1", "--filter", "Plant/*"},
         0,
         "item\tCommand\tPlant/Area2/Pump1/Command\n",
         8},
        {{"browse", "--flat", "Velqor.SimDA20Flat.1", "--filter", "Plant/Area2/*"},
         0,
         "item\tPlant/Area2/Pump1/Mode\tPlant/Area2/Pump1/Mode\n",
         4},
    };
    for (const Row& row : rows) {
        Result r = Cli(row.args);
        SCOPED_TRACE(row.args.back());
        EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
        EXPECT_NE((row.exitCode == 0 ? r.out : r.err).find(row.out), std::string::npos)
            << r.out << r.err;
        if (row.exitCode == 0) {
            EXPECT_EQ(Lines(r.out).size(), row.lines) << r.out;
        }
    }
}

TEST_F(CliTest, ReadPrintsValueQualityAndTimestampPerItem) {
    Result r = On("read", {"Static/String", "Special/BadQuality", "Special/Uncertain",
                           "Static/Arrays/ArrayOfInt"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    const std::regex stamp("\\t20\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d(\\.\\d+)?$");
    EXPECT_EQ(lines[0].rfind("Static/String\t", 0), 0u);
    EXPECT_NE(lines[0].find("\tgood 0xC0\t"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("\tbadSensorFailure 0x10\t"), std::string::npos) << lines[1];
    // The service reports this item with limit "high": the limit bits reach the quality word.
    EXPECT_NE(lines[2].find("\t104.5\tuncertainEUExceeded+high 0x56\t"), std::string::npos)
        << lines[2];
    EXPECT_TRUE(
        std::regex_search(lines[3], std::regex("^Static/Arrays/ArrayOfInt\\t(-?\\d+;)+\\t")))
        << lines[3];
    for (const auto& l : lines) EXPECT_TRUE(std::regex_search(l, stamp)) << l;

    Result typed = On("read", {"Static/Double", "--type", "I4"});
    ASSERT_EQ(typed.exitCode, 0) << typed.err;
    EXPECT_TRUE(std::regex_search(typed.out, std::regex("^Static/Double\\t-?\\d+\\tgood")))
        << typed.out;

    Result bad = On("read", {"Static/Int", "No/Such/Item", "WriteOnly/Int"});
    EXPECT_EQ(bad.exitCode, 3);
    auto badLines = Lines(bad.out);
    ASSERT_EQ(badLines.size(), 3u);
    EXPECT_NE(badLines[0].find("\tgood 0xC0\t"), std::string::npos);
    EXPECT_EQ(badLines[1].rfind("No/Such/Item\terror: ", 0), 0u) << badLines[1];
    EXPECT_EQ(badLines[2].rfind("WriteOnly/Int\terror: ", 0), 0u) << badLines[2];
    EXPECT_NE(bad.err.find("No/Such/Item: "), std::string::npos);
    EXPECT_EQ(bad.err.find("Static/Int"), std::string::npos) << "only failures on stderr";
}

TEST_F(CliTest, WriteConvertsToTheItemsTypeAndReportsEachItem) {
    Result w = On("write", {"Writable/Double=3.25", "Writable/Int=-12", "Writable/Boolean=true",
                            "Writable/String=a=b", "Writable/Arrays/ArrayOfInt=1;2;3"});
    ASSERT_EQ(w.exitCode, 0) << w.err << w.out;
    EXPECT_EQ(Lines(w.out), (std::vector<std::string>{"Writable/Double\tok", "Writable/Int\tok",
                                                      "Writable/Boolean\tok", "Writable/String\tok",
                                                      "Writable/Arrays/ArrayOfInt\tok"}));
    Result r = On("read", {"Writable/Double", "Writable/Int", "Writable/Boolean", "Writable/String",
                           "Writable/Arrays/ArrayOfInt"});
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out << r.err;
    EXPECT_EQ(lines[0].rfind("Writable/Double\t3.25\t", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("Writable/Int\t-12\t", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("Writable/Boolean\tTrue\t", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3].rfind("Writable/String\ta=b\t", 0), 0u) << lines[3];
    EXPECT_EQ(lines[4].rfind("Writable/Arrays/ArrayOfInt\t1;2;3;\t", 0), 0u) << lines[4];

    // Per-item failures: a text that is no number, a read-only item, an unknown one.
    Result bad =
        On("write", {"Writable/Int=abc", "Static/Int=5", "Writable/Double=7.5", "No/Such=1"});
    EXPECT_EQ(bad.exitCode, 3);
    auto badLines = Lines(bad.out);
    ASSERT_EQ(badLines.size(), 4u) << bad.out;
    EXPECT_EQ(badLines[0].rfind("Writable/Int\tfailed: cannot convert \"abc\" to I4", 0), 0u)
        << badLines[0];
    EXPECT_EQ(badLines[1].rfind("Static/Int\tfailed: ", 0), 0u) << badLines[1];
    EXPECT_EQ(badLines[2], "Writable/Double\tok");
    EXPECT_EQ(badLines[3].rfind("No/Such\tfailed: ", 0), 0u) << badLines[3];
    EXPECT_EQ(Lines(bad.err).size(), 3u) << bad.err;
    EXPECT_EQ(Lines(On("read", {"Writable/Int"}).out)[0].rfind("Writable/Int\t-12\t", 0), 0u);

    // An explicit type is what is sent.
    Result typed = On("write", {"Writable/String=42", "--type", "I4"});
    EXPECT_EQ(typed.exitCode, 0) << typed.out << typed.err;

    // A result name the client's table does not know is a failure, in the server's words.
    Result path = On("write", {"NoSuchPath//Writable/Double=5"});
    EXPECT_EQ(path.exitCode, 3) << path.out;
    EXPECT_EQ(path.out,
              "NoSuchPath//Writable/Double\tfailed: E_UNKNOWNITEMPATH: The item path is no longer "
              "available in the server address space.\n");
}

TEST_F(CliTest, ErrorMessagesSayWhatHappenedAndServerTextsCannotSteerTheTerminal) {
    velqor::xmldasim::Switches s;
    s.fault = velqor::xmldasim::FaultStyle::Bare;
    sim.setSwitches(s);
    Result bare = On("status", {});
    EXPECT_EQ(bare.exitCode, 1);
    EXPECT_NE(bare.err.find(": SOAP fault without code or text\n"), std::string::npos) << bare.err;
    EXPECT_EQ(Lines(bare.err).size(), 1u) << bare.err;

    // An HTML page under status 500 is an HTTP error, whatever content type it claims.
    for (const char* type : {"text/html; charset=utf-8", "Text/HTML", "text/xml"}) {
        s = {};
        s.httpStatus = 500;
        s.errorPageType = type;
        sim.setSwitches(s);
        Result page = On("status", {});
        EXPECT_EQ(page.exitCode, 1) << type;
        EXPECT_NE(page.err.find("(500) - '" + sim.url() + "'"), std::string::npos)
            << type << ": " << page.err;
    }

    s = {};
    // XML carries no ESC; CR, LF, TAB, C1 controls and direction overrides it does.
    s.errorText =
        "bad\r\xc2\x9b"
        "31m\xe2\x80\xae"
        "evil\tx\nline";
    sim.setSwitches(s);
    Result w = On("write", {"NoSuchPath//Writable/Double=5", "Writable/Int=1"});
    EXPECT_EQ(w.exitCode, 3);
    EXPECT_EQ(Lines(w.out),
              (std::vector<std::string>{"NoSuchPath//Writable/Double\tfailed: E_UNKNOWNITEMPATH: "
                                        "bad\\r\\u009b31m\\u202eevil\\tx\\nline",
                                        "Writable/Int\tok"}));
    EXPECT_EQ(Lines(w.err).size(), 1u) << w.err;
}

TEST_F(CliTest, WatchPrintsTheRequestedNumberOfChangesAndCancelsItsSubscription) {
    Result r = On("watch", {"Dynamic/Int", "Dynamic/Double", "--rate", "100", "--count", "7"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 7u) << r.out;
    const std::regex line(
        "^20\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}  Dynamic/(Int|Double)  \\S+  good "
        "\\(0xC0\\)  20\\d\\d-.*$");
    for (const auto& l : lines) EXPECT_TRUE(std::regex_match(l, line)) << l;
    EXPECT_EQ(sim.subscriptionCount(), 0u);

    // Unknown items are reported and left out; with none left the watch fails.
    Result partly = On("watch", {"No/Such", "Dynamic/Int", "--count", "2", "--rate", "100"});
    EXPECT_EQ(partly.exitCode, 3) << "as read, write and props do";
    EXPECT_EQ(Lines(partly.out).size(), 2u);
    EXPECT_EQ(Lines(partly.err).size(), 1u) << partly.err;
    EXPECT_EQ(partly.err.rfind("No/Such: ", 0), 0u) << partly.err;
    Result none = On("watch", {"No/Such", "--count", "2"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.out.empty());
    EXPECT_EQ(sim.subscriptionCount(), 0u);

    // Item IDs from a file, one a line (either line end, blank lines skipped), with those given.
    const std::string file = ::testing::TempDir() + "/watch-items.txt";
    std::ofstream(file, std::ios::binary) << "Dynamic/Int\r\n\nDynamic/Double\n";
    Result listed = On("watch", {"Static/Int", "--items-file", file, "--rate", "100", "--count",
                                 "30", "--format", "csv"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    for (const char* id : {"Static/Int,", "Dynamic/Int,", "Dynamic/Double,"})
        EXPECT_NE(listed.out.find(id), std::string::npos) << id << listed.out;
    EXPECT_EQ(On("watch", {"--count", "1"}).exitCode, 2) << "no item at all";
    EXPECT_EQ(On("watch", {"--items-file", file + ".none"}).exitCode, 2);
}

TEST_F(CliTest, WatchFormatsEscapeTheirValues) {
    const std::string tricky = "say \"hi\", then\nleave\\ \t\xC2\xB0";
    ASSERT_EQ(On("write", {"Writable/String=" + tricky}).exitCode, 0);

    Result json = On("watch", {"Writable/String", "Writable/Double", "Writable/Boolean", "--count",
                               "3", "--format", "jsonl"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    auto lines = Lines(json.out);
    ASSERT_EQ(lines.size(), 3u) << json.out;
    std::string str, dbl, boolean;
    for (const auto& l : lines) {
        EXPECT_EQ(l.front(), '{');
        EXPECT_EQ(l.back(), '}');
        if (l.find("\"item\":\"Writable/String\"") != std::string::npos) str = l;
        if (l.find("\"item\":\"Writable/Double\"") != std::string::npos) dbl = l;
        if (l.find("\"item\":\"Writable/Boolean\"") != std::string::npos) boolean = l;
    }
    EXPECT_NE(str.find("\"value\":\"say \\\"hi\\\", then\\nleave\\\\ \\t\xC2\xB0\""),
              std::string::npos)
        << str;
    EXPECT_NE(str.find(R"("quality":"good","quality_code":192)"), std::string::npos) << str;
    EXPECT_TRUE(std::regex_search(dbl, std::regex(R"("value":-?[0-9][0-9.eE+-]*,)"))) << dbl;
    EXPECT_TRUE(std::regex_search(boolean, std::regex(R"("value":(true|false),)"))) << boolean;

    Result csv = On("watch", {"Writable/String", "--count", "1", "--format", "csv"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_EQ(csv.out.rfind("time,item,value,quality,quality_code,timestamp\n", 0), 0u) << csv.out;
    EXPECT_NE(
        csv.out.find(",Writable/String,\"say \"\"hi\"\", then\nleave\\ \t\xC2\xB0\",good,0xC0,"),
        std::string::npos)
        << csv.out;
}

TEST_F(CliTest, CtrlCEndsAWatchCleanlyAndTheSubscriptionGoes) {
    ChildProcess p(kCli, {"watch", sim.url(), "Dynamic/Int", "--rate", "100"});
    ASSERT_TRUE(p.WaitForLines(2, 10s)) << p.Out();
    EXPECT_EQ(sim.subscriptionCount(), 1u);
    const auto t0 = std::chrono::steady_clock::now();
    p.Signal(SIGINT);
    Result r = p.Finish(10s);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(sim.subscriptionCount(), 0u);
}

TEST_F(CliTest, TimeoutBoundsASilentServerAndCtrlCCancelsAnyCommandAtOnce) {
    velqor::test::ClearProxyEnvironment();
    velqor::test::RawServer silent([](int fd) {
        velqor::test::ReadRequest(fd);
        velqor::test::WaitForClose(fd);
    });
    const std::string url = silent.URL("/opc/xmlda");
    Result r = Cli({"status", url, "--timeout", "0.5"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Timeout: the exchange did not complete within 500 ms"), std::string::npos)
        << r.err;

    const int before = silent.Accepted();
    ChildProcess p(kCli, {"read", url, "Static/Int"});  // default limit: minutes
    for (int i = 0; i < 1000 && silent.Accepted() == before; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_GT(silent.Accepted(), before) << "the read never reached the server";
    p.Signal(SIGINT);
    Result c = p.Finish(10s);
    EXPECT_EQ(c.exitCode, 130) << c.err;
    EXPECT_NE(c.err.find("interrupted"), std::string::npos) << c.err;
}

TEST_F(CliTest, WatchForSecondsEndsAndALostServiceIsAnError) {
    Result r = On("watch", {"Dynamic/Int", "--rate", "100", "--seconds", "0.8"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_GE(Lines(r.out).size(), 2u);

    ChildProcess p(kCli, {"watch", sim.url(), "Dynamic/Int", "--rate", "100", "--no-resubscribe"});
    ASSERT_TRUE(p.WaitForLines(1, 10s)) << p.Out();
    sim.stop();
    Result lost = p.Finish(20s);
    EXPECT_EQ(lost.exitCode, 1) << lost.out << lost.err;
    EXPECT_NE(lost.err.find("error: connection to the server lost"), std::string::npos) << lost.err;
    sim.start();

    // A subscription the server dropped ends the watch as an error, not silently.
    ChildProcess dropped(kCli,
                         {"watch", sim.url(), "Dynamic/Int", "--rate", "100", "--no-resubscribe"});
    ASSERT_TRUE(dropped.WaitForLines(1, 10s)) << dropped.Out();
    sim.dropAllSubscriptions();
    Result gone = dropped.Finish(20s);
    EXPECT_EQ(gone.exitCode, 1) << gone.out << gone.err;
    EXPECT_NE(gone.err.find("lost for good: the server no longer knows"), std::string::npos)
        << gone.err;
}

// By default a watch outlives a restart of the server (saying so on stderr) and ends with an
// error only when the subscription cannot be made again within --give-up-after.
TEST_F(CliTest, WatchSurvivesARestartAndGivesUpOnlyPastItsLimit) {
    ChildProcess p(kCli, {"watch", sim.url(), "Dynamic/Int", "--rate", "100"});
    ASSERT_TRUE(p.WaitForLines(1, 10s)) << p.Out();
    sim.stop();
    sim.start();
    const size_t before = Lines(p.Out()).size();
    ASSERT_TRUE(p.WaitForLines(before + 4, 20s)) << p.Out();
    p.Signal(SIGINT);
    Result r = p.Finish(10s);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("subscription lost: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("subscription recovered"), std::string::npos) << r.err;
    EXPECT_NE(Lines(r.out).back().find("  good ("), std::string::npos) << r.out;

    ChildProcess q(kCli,
                   {"watch", sim.url(), "Dynamic/Int", "--rate", "100", "--give-up-after", "1"});
    ASSERT_TRUE(q.WaitForLines(1, 10s)) << q.Out();
    sim.stop();
    Result gone = q.Finish(30s);
    EXPECT_EQ(gone.exitCode, 1) << gone.err;
    EXPECT_NE(gone.err.find("subscription lost: connection to the server lost"), std::string::npos)
        << gone.err;
    EXPECT_NE(gone.err.find("error: the subscription is lost for good: subscribing again failed"),
              std::string::npos)
        << gone.err;
    sim.start();
}

// A COM server that does not answer: each call ends at --timeout with the reason, Ctrl-C ends
// the command at once; a server that asks its clients to shut down (a restart) is connected
// again by a watch, which says so and goes on.
TEST_F(CliTest, ComCallsAreBoundedAndAWatchOutlivesAServerRestart) {
    const std::vector<std::string> slow = {"VELQOR_COMSIM_FAULTS=slow=15000"};
    Result r = Cli({"read", "Velqor.SimDA20.1", "Static/Int", "--timeout", "0.3"}, slow);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("error: The server did not answer within 300 ms"), std::string::npos)
        << r.err;

    ChildProcess read(kCli, {"read", "Velqor.SimDA20.1", "Static/Int"}, slow);
    std::this_thread::sleep_for(500ms);
    read.Signal(SIGINT);
    Result c = read.Finish(5s);
    EXPECT_EQ(c.exitCode, 130) << c.err;
    EXPECT_NE(c.err.find("interrupted"), std::string::npos) << c.err;

    ChildProcess watch(kCli, {"watch", "Velqor.SimDA20.1", "Dynamic/Int", "--rate", "100"},
                       {"VELQOR_COMSIM_FAULTS=shutdown-after=300"});
    ASSERT_TRUE(watch.WaitForLines(5, 20s)) << watch.Out();
    watch.Signal(SIGINT);
    Result w = watch.Finish(10s);
    EXPECT_EQ(w.exitCode, 0) << w.err;
    EXPECT_NE(w.err.find("subscription lost: the server shut down; subscribing again"),
              std::string::npos)
        << w.err;
    EXPECT_NE(w.err.find("subscription recovered"), std::string::npos) << w.err;
}

TEST_F(CliTest, CredentialsFromOptionsOrTheEnvironmentAreNeverEchoed) {
    velqor::xmldasim::Switches s;
    s.user = "operator";
    s.password = "s3cret-pw";
    sim.setSwitches(s);
    EXPECT_EQ(On("status", {}).exitCode, 1);
    EXPECT_EQ(On("status", {"--user", "operator", "--password", "wrong"}).exitCode, 1);

    Result direct = On("status", {"--user", "operator", "--password", "s3cret-pw"});
    EXPECT_EQ(direct.exitCode, 0) << direct.err;
    Result fromEnv = On("status", {"--user", "operator", "--password-env", "CLI_TEST_PW"},
                        {"CLI_TEST_PW=s3cret-pw"});
    EXPECT_EQ(fromEnv.exitCode, 0) << fromEnv.err;
    Result defaultEnv = On("status", {"--user", "operator"}, {"TAGSCOPE_PASSWORD=s3cret-pw"});
    EXPECT_EQ(defaultEnv.exitCode, 0) << defaultEnv.err;
    Result missingEnv =
        On("status", {"--user", "operator", "--password-env", "CLI_TEST_UNSET_VARIABLE"});
    EXPECT_EQ(missingEnv.exitCode, 2);

    Result failing = On("read", {"Static/Int", "--user", "operator"}, {"TAGSCOPE_PASSWORD=not-it"});
    EXPECT_EQ(failing.exitCode, 1);
    for (const Result* r : {&direct, &fromEnv, &defaultEnv, &failing}) {
        EXPECT_EQ(r->out.find("s3cret-pw"), std::string::npos);
        EXPECT_EQ(r->err.find("s3cret-pw"), std::string::npos);
        EXPECT_EQ(r->err.find("not-it"), std::string::npos) << r->err;
    }
}

}  // namespace
}  // namespace tagscope::clitest
