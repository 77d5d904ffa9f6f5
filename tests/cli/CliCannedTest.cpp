// tagscope-cli against canned replies in shapes industrial XML-DA servers send and xmlda-sim
// never does: success codes without values, empty arrays, a listing that works the second time,
// faults and failures worded on one line.
#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <regex>

#include "CannedService.h"
#include "ChildProcess.h"
#include "CliFixture.h"

namespace tagscope::clitest {
namespace {

using velqor::test::CannedReply;
using velqor::test::Envelope;

const std::string kOpcNs = R"( xmlns="http://opcfoundation.org/webservices/XMLDA/1.0/")";

class CliCannedTest : public ::testing::Test {
  protected:
    // The command against the canned service, in UTC.
    Result On(const std::string& command, std::vector<std::string> rest) {
        rest.insert(rest.begin(), {command, svc.URL()});
        return clitest::Run(kCli, rest, {"TZ=UTC"});
    }
    // The next replies to an operation, in turn; the last one stays.
    void Queue(const std::string& op, std::vector<std::string> bodies) {
        std::lock_guard lock(mu);
        replies[op] = std::deque<std::string>(bodies.begin(), bodies.end());
    }
    // A Read reply answering the request's items in order, item i with inner[i].
    static std::string ReadReply(const std::string& request,
                                 const std::vector<std::string>& inner) {
        std::string items;
        const std::regex handle("ClientItemHandle=\"([^\"]*)\"");
        size_t i = 0;
        for (auto it = std::sregex_iterator(request.begin(), request.end(), handle);
             it != std::sregex_iterator() && i < inner.size(); ++it, ++i)
            items += "<Items ClientItemHandle=\"" + (*it)[1].str() +
                     "\" Timestamp=\"2026-01-01T12:00:00Z\"" + inner[i] + "</Items>";
        return Envelope("<ReadResponse" + kOpcNs + "><ReadResult ServerState=\"running\"/>" +
                        "<RItemList>" + items + "</RItemList></ReadResponse>");
    }

    std::mutex mu;
    std::map<std::string, std::deque<std::string>> replies;
    std::vector<std::string> readItems;  // inner XML of the Read reply's items
    velqor::test::CannedService svc{[this](const std::string& op) -> CannedReply {
        if (op == "GetStatus")
            return {200,
                    velqor::test::StatusReply("2026-01-01T12:00:00Z", "ServerState=\"running\"")};
        std::lock_guard lock(mu);
        if (op == "Read") return {200, ReadReply(svc.LastRequest().body, readItems)};
        auto& queue = replies[op];
        if (queue.empty()) return {500, velqor::test::FaultEnvelope("soap:Server", "no " + op)};
        const std::string body = queue.front();
        if (queue.size() > 1) queue.pop_front();
        return {body.find("Fault>") != std::string::npos ? 500 : 200, body};
    }};
};

TEST_F(CliCannedTest, ReadValuesAsServersSendThem) {
    std::unique_lock lock(mu);  // the service reads them on its own thread
    readItems = {
        " ResultID=\"S_CLAMP\">",                                       // a success, no value
        " ResultID=\"S_CLAMP\"><Value xsi:type=\"xsd:int\">5</Value>",  // a clamped value
        "><Value xsi:type=\"ArrayOfInt\"></Value>",
        "><Value xsi:type=\"ArrayOfInt\"/>",
        "><Value xsi:type=\"xsd:dateTime\">2026-01-01T00:00:00Z</Value>"
        "<Quality QualityField=\"badWaitingForInitialData\"/>",
    };
    lock.unlock();
    Result r = On("read", {"A", "B", "C", "D", "E"});
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;  // A has no value
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out << r.err;
    EXPECT_EQ(lines[0], "A\terror: no value from the server");
    EXPECT_EQ(lines[1].rfind("B\t5\tgood 0xC0\t2026-01-01 12:00:00.000\t", 0), 0u) << lines[1];
    // Empty arrays are values; dates take the timestamps' layout; the quality is DA's 0x20.
    EXPECT_EQ(lines[2], "C\t\tgood 0xC0\t2026-01-01 12:00:00.000");
    EXPECT_EQ(lines[3], "D\t\tgood 0xC0\t2026-01-01 12:00:00.000");
    EXPECT_EQ(lines[4],
              "E\t2026-01-01 00:00:00.000\tbadWaitingForInitialData 0x20\t2026-01-01 12:00:00.000");
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
}

TEST_F(CliCannedTest, ABrowseThatWorksTheSecondTimeIsListed) {
    Queue("Browse", {velqor::test::FaultEnvelope("soap:Server", "busy"),
                     Envelope("<BrowseResponse" + kOpcNs +
                              "><Elements Name=\"Level\" ItemName=\"Plant/Level\" IsItem=\"true\"/>"
                              "</BrowseResponse>")});
    Result r = On("browse", {"Plant"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "item\tLevel\tPlant/Level\n");
}

TEST_F(CliCannedTest, FaultsAndFailuresTakeOneLine) {
    Queue("Browse", {velqor::test::FaultEnvelope("soap:Server", "the tag database is locked")});
    Result fault = On("browse", {});
    EXPECT_EQ(fault.exitCode, 1);
    ASSERT_EQ(Lines(fault.err).size(), 1u) << fault.err;
    EXPECT_NE(fault.err.find("soap:Server: the tag database is locked"), std::string::npos)
        << fault.err;

    Result refused = clitest::Run(kCli, {"status", "http://127.0.0.1:1/opc/xmlda"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(Lines(refused.err).size(), 1u) << refused.err;
}

}  // namespace
}  // namespace tagscope::clitest
