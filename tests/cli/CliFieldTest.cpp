// tagscope-cli against servers as they are met in the field: exact float values, requested
// array types, the server's own error texts, unusually named properties, levels split over
// several browse replies, zone-qualified dates and machine-readable output.
#include <gtest/gtest.h>

#include <regex>

#include "CliFixture.h"

namespace tagscope::clitest {
namespace {

// The value column of a read line ("item<TAB>value<TAB>quality...").
std::string ReadValue(const std::string& out) {
    const auto lines = Lines(out);
    if (lines.size() != 1) return "(" + std::to_string(lines.size()) + " lines)";
    const auto tab = lines[0].find('\t');
    return lines[0].substr(tab + 1, lines[0].find('\t', tab + 1) - tab - 1);
}

TEST_F(CliTest, FloatsReachTheServerExactlyWithTheirSpecialValues) {
    const struct {
        const char* assignment;
        const char* type;  // "" for the item's own type
        const char* readBack;
    } rows[] = {
        {"Writable/Float=Inf", "", "INF"},
        {"Writable/Float=+INF", "", "INF"},
        {"Writable/Float=3.4028235e38", "", "3.402823E38"},  // the usual text of FLT_MAX
        {"Writable/Float=-3.40282346e38", "", "-3.402823E38"},
        {"Writable/Arrays/ArrayOfFloat=1;Infinity;-INF", "", "1;INF;-INF;"},
        {"Writable/Double=Inf", "R8", "INF"},
        {"Writable/Double=1e400", "R8", "INF"},
        {"Writable/Double=-1e400", "R8", "-INF"},
        {"Writable/Double=1.79e308", "R8", "1.79E308"},
        {"Writable/Double=0.30000000000000004", "", "0.3"},  // 15 digits shown, sent exactly
    };
    for (const auto& r : rows) {
        std::vector<std::string> args{r.assignment};
        if (*r.type) args.insert(args.end(), {"--type", r.type});
        Result w = On("write", args);
        ASSERT_EQ(w.exitCode, 0) << r.assignment << "\n" << w.out << w.err;
        const std::string item =
            std::string(r.assignment).substr(0, std::string(r.assignment).find('='));
        Result rd = On("read", {item});
        EXPECT_EQ(ReadValue(rd.out), r.readBack) << r.assignment << "\n" << rd.out << rd.err;
    }
    Result over = On("write", {"Writable/Float=3.5e38"});
    EXPECT_EQ(over.exitCode, 3) << "beyond the single range is refused, not clamped";
    EXPECT_NE(over.out.find("Overflow"), std::string::npos) << over.out;
}

TEST_F(CliTest, ReadAsksForAnArrayTypeWhenOneIsGiven) {
    Result arrays = On("read", {"Static/Arrays/ArrayOfInt", "--type", "R8[]"});
    ASSERT_EQ(arrays.exitCode, 0) << arrays.err;
    EXPECT_TRUE(
        std::regex_search(arrays.out, std::regex("^Static/Arrays/ArrayOfInt\t(-?\\d+;)+\t")))
        << arrays.out;
    // A scalar item cannot be read as an array: the server refuses it, and the client says so.
    Result scalar = On("read", {"Static/Double", "--type", "R8[]"});
    EXPECT_EQ(scalar.exitCode, 3) << scalar.out;
    EXPECT_EQ(scalar.out.rfind("Static/Double\terror: ", 0), 0u) << scalar.out;
}

TEST_F(CliTest, ItemErrorsShowTheServersTextOnOneLine) {
    const struct {
        const char* serverText;  // "" for the service's own texts
        const char* shown;
    } rows[] = {
        {"", "The item name is no longer available in the server address space."},
        {"Tag not configured\r\nin PLC 7", "Tag not configured\\r\\nin PLC 7"},
        {"   ", "The item is no longer available in the server address space."},  // table
    };
    for (const auto& r : rows) {
        velqor::xmldasim::Switches s;
        s.errorText = r.serverText;
        sim.setSwitches(s);
        Result rd = On("read", {"No/Such", "Static/Int"});
        EXPECT_EQ(rd.exitCode, 3);
        const auto lines = Lines(rd.out);
        ASSERT_EQ(lines.size(), 2u) << rd.out;
        EXPECT_EQ(lines[0], std::string("No/Such\terror: ") + r.shown);
        EXPECT_EQ(Lines(rd.err), std::vector<std::string>{std::string("No/Such: ") + r.shown});
    }
}

TEST_F(CliTest, PropertiesUnderUnusualNamesKeepTheirIdsAndValues) {
    velqor::xmldasim::Switches s;
    s.unusualPropertyNames = true;
    sim.setSwitches(s);
    Result level = On("props", {"Plant/Area1/Tank1/Level", "--values"});
    ASSERT_EQ(level.exitCode, 0) << level.err;
    for (const char* line : {"  7\tItem EU Type\tI4\t1", "  102\tHigh EU\tR8\t10",
                             "  103\tLow EU\tR8\t0", "  100\tengineeringUnits\tBSTR\tm"})
        EXPECT_NE(level.out.find(std::string(line) + "\n"), std::string::npos) << line << "\n"
                                                                               << level.out;
    EXPECT_EQ(level.out.find("-999999"), std::string::npos) << level.out;

    // An array value is shown as an array, its elements in order.
    Result valve = On("props", {"Plant/Area1/Tank1/Valve", "--values"});
    EXPECT_NE(valve.out.find("\tClosed;Open;Travelling;Fault;\n"), std::string::npos) << valve.out;
    EXPECT_NE(valve.out.find("  7\tItem EU Type\tI4\t2\n"), std::string::npos) << valve.out;
}

TEST_F(CliTest, FlatBrowseFollowsSplitLevelsAndNamesOneThatCannotBeListed) {
    Result whole = On("browse", {"--flat"});
    ASSERT_EQ(whole.exitCode, 0) << whole.err;

    velqor::xmldasim::Switches s;
    s.browsePage = 10;  // the root fits one reply, Static and others do not
    sim.setSwitches(s);
    Result paged = On("browse", {"--flat"});
    EXPECT_EQ(paged.exitCode, 0) << paged.err;
    EXPECT_EQ(paged.out, whole.out);

    s.faultContinuation = true;
    sim.setSwitches(s);
    Result broken = On("browse", {"--flat"});
    EXPECT_EQ(broken.exitCode, 1) << broken.out;
    EXPECT_EQ(broken.out.find("\tStatic/"), std::string::npos) << "the rest, without Static";
    EXPECT_NE(broken.out.find("\tPlant/Area1/Tank1/Level\n"), std::string::npos) << broken.out;
    EXPECT_NE(broken.err.find("error: Browse of Static failed"), std::string::npos) << broken.err;
    EXPECT_NE(broken.err.find("continuation point"), std::string::npos) << broken.err;
}

TEST_F(CliTest, BrowseListsItemsOnlyOrBranchesOnlyAlsoWhenFlat) {
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> lines;
    } rows[] = {
        {{"Plant", "--flat", "--branches-only"},
         {"branch\tArea1\tPlant/Area1", "branch\tTank1\tPlant/Area1/Tank1",
          "branch\tArea2\tPlant/Area2", "branch\tPump1\tPlant/Area2/Pump1"}},
        {{"Plant/Area2", "--flat", "--items-only", "--filter", "*/[mc]o*"},
         {"item\tMode\tPlant/Area2/Pump1/Mode", "item\tCommand\tPlant/Area2/Pump1/Command"}},
        {{"Static", "--branches-only"}, {"branch\tArrays\tStatic/Arrays"}},
        {{"Plant/Area1", "--items-only"}, {}},
        // The vendor filter goes to the service, which matches it against the item's type.
        {{"Static", "--vendor-filter", "double"},
         {"item\tDouble\tStatic/Double", "branch\tArrays\tStatic/Arrays"}},
        {{"Static", "--flat", "--vendor-filter", "double"}, {"item\tDouble\tStatic/Double"}},
    };
    for (const auto& r : rows) {
        Result b = On("browse", r.args);
        EXPECT_EQ(b.exitCode, 0) << b.err;
        EXPECT_EQ(Lines(b.out), r.lines) << r.args[0];
    }
    EXPECT_EQ(On("browse", {"--items-only", "--branches-only"}).exitCode, 2);
}

TEST_F(CliTest, DatesWithAZoneAreWrittenAndMachineFormatsUseOneIsoForm) {
    const std::vector<std::string> utc{"TZ=UTC"};
    for (const char* text :
         {"2026-07-01T12:00:00Z", "2026-07-01T14:00:00+02:00", "2026-07-01T07:30:00-04:30"}) {
        Result w = On("write", {std::string("Writable/DateTime=") + text}, utc);
        ASSERT_EQ(w.exitCode, 0) << text << w.out << w.err;
        EXPECT_EQ(ReadValue(On("read", {"Writable/DateTime"}, utc).out), "2026-07-01 12:00:00.000")
            << text;
    }
    const std::regex iso("^20\\d\\d-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\+00:00$");

    Result json = On(
        "watch",
        {"Writable/DateTime", "Static/Arrays/ArrayOfString", "--count", "2", "--format", "jsonl"},
        utc);
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const std::regex jsonLine(
        R"re(^\{"time":"([^"]+)","item":"([^"]+)","value":(.*),"quality":"good",)re"
        R"re("quality_code":192,"timestamp":"([^"]+)"\}$)re");
    for (const auto& l : Lines(json.out)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, jsonLine)) << l;
        EXPECT_TRUE(std::regex_match(m[1].str(), iso)) << l;
        EXPECT_TRUE(std::regex_match(m[4].str(), iso)) << l;
        if (m[2] == "Writable/DateTime")
            EXPECT_EQ(m[3], "\"2026-07-01T12:00:00.000+00:00\"");
        else
            EXPECT_TRUE(std::regex_match(m[3].str(), std::regex(R"(^\[("[^"]*",)*"[^"]*"\]$)")))
                << l;
    }

    Result csv = On("watch", {"Writable/DateTime", "--count", "1", "--format", "csv"}, utc);
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    const auto lines = Lines(csv.out);
    ASSERT_EQ(lines.size(), 2u) << csv.out;
    EXPECT_TRUE(std::regex_match(
        lines[1], std::regex("^[-0-9T:.+]+,Writable/DateTime,2026-07-01T12:00:00\\.000\\+00:00,"
                             "good,0xC0,[-0-9T:.+]+$")))
        << lines[1];
}

}  // namespace
}  // namespace tagscope::clitest

namespace tagscope::clitest {
namespace {

// An item ID the wire cannot carry fails alone, with the reason, and the others are read.
TEST_F(CliTest, AnItemIdThatCannotBeSentFailsAloneWithTheReason) {
    const Result read = On("read", {"Static/Int", "Static/Int\x1b[2J", "Static/\xff"});
    EXPECT_EQ(read.exitCode, 3) << read.err;
    EXPECT_NE(read.out.find("Static/Int\t"), std::string::npos) << read.out;
    EXPECT_NE(read.err.find("Static/Int\\x1b[2J: the item ID cannot be sent: it holds the "
                            "control character U+001B"),
              std::string::npos)
        << read.err;
    EXPECT_NE(read.err.find("it is not valid UTF-8"), std::string::npos) << read.err;

    const Result props = On("props", {"Static/Int", "Static/\xff"});
    EXPECT_EQ(props.exitCode, 3) << props.err;
    EXPECT_NE(props.out.find("Static/Int\n"), std::string::npos) << props.out;
    EXPECT_NE(props.err.find("the item ID cannot be sent: it is not valid UTF-8"),
              std::string::npos)
        << props.err;
}

}  // namespace
}  // namespace tagscope::clitest
