// TVelqorXMLDAConnection and the call glue against canned loopback services: connect texts,
// Params, request shapes, status replies, the shutdown message, faults, item properties.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "CannedService.h"
#include "contract/VelqorDateTime.h"
#include "contract/VelqorError.h"
#include "soap/VelqorSOAPEncoding.h"
#include "xmlda/VelqorXMLDA.h"

namespace velqor {
namespace {

using ::testing::Property;
using ::testing::StrEq;
using ::testing::Throws;
using ::testing::ThrowsMessage;

using test::CannedReply;
using test::CannedService;
using test::Envelope;
using test::FaultEnvelope;
using test::StatusReply;

constexpr const char* kReplyTime1 = "2026-12-07T10:00:00.250Z";
constexpr const char* kReplyTime2 = "2026-12-07T10:00:05.500Z";

class XmlDaConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = MessageWindow::Create(
            loop, [this](uint32_t msg, uintptr_t wParam, std::unique_ptr<MessagePayload> payload) {
                if (msg == WM_VELQOR_SHUTDOWN && wParam == 0 && !payload) ++shutdowns;
            });
        conn = com::MakeComObject<IVelqorDAConnection, TVelqorXMLDAConnection>(false);
    }
    void TearDown() override {
        // Close the poster's kept-alive connection before the service stops.
        conn->Disconnect();
        conn.Reset();
        window->Destroy();
    }

    TVelqorXMLDAConnection& C() { return XMLDAConnectionOf(conn); }
    void Connect(const std::string& url, const ParamLines& params = {}) {
        conn->Connect("tester", url, "", params, window, 0);
    }
    int PumpShutdowns() {
        loop.ProcessPending();
        return shutdowns;
    }

    PlainEventLoop loop;
    NotifyWindow window;
    int shutdowns = 0;
    com::ComPtr<IVelqorDAConnection> conn;
    std::optional<CannedReply> statusOverride;
    CannedService svc{[this](const std::string& op) -> CannedReply {
        if (op == "GetStatus") {
            if (statusOverride) return *statusOverride;
            return {200, StatusReply(kReplyTime1, "")};
        }
        return {200, FaultEnvelope("soap:Server", "no canned reply for " + op)};
    }};
};

TEST(CallParamTest, NameWithoutCaseValueTrimmed) {
    const std::vector<std::string> lines = {"xml-user= alice ", "XML-POSTBY=MS", "broken",
                                            " xml-cafile =/etc/ca.pem"};
    EXPECT_EQ(CallParam(lines, kParamUser), "alice");
    EXPECT_EQ(CallParam(lines, kParamPostBy), "MS");
    EXPECT_EQ(CallParam(lines, kParamCAFile), "/etc/ca.pem");
    EXPECT_EQ(CallParam(lines, kParamPassword), "");
}

TEST(CallParamTest, CompressionIsOnUnlessALineTurnsItOff) {
    const std::pair<std::vector<std::string>, bool> rows[] = {
        {{}, true},
        {{"xml-compress=on"}, true},
        {{"xml-compress=off"}, false},
        {{" XML-Compress = No "}, false},
        {{"xml-compress=false"}, false},
        {{"xml-compress=0"}, false},
        {{"xml-compress=offline"}, true},
    };
    for (const auto& [lines, on] : rows)
        EXPECT_EQ(CompressionWanted(lines), on) << (lines.empty() ? "" : lines.front());
}

TEST(CallParamTest, BadCertificateOnlyWhenALineSaysSo) {
    const std::pair<std::vector<std::string>, bool> rows[] = {
        {{}, false},
        {{"xml-accept-bad-cert=off"}, false},
        {{"xml-accept-bad-cert=maybe"}, false},
        {{" XML-Accept-Bad-Cert = Yes "}, true},
        {{"xml-accept-bad-cert=1"}, true},
    };
    for (const auto& [lines, on] : rows)
        EXPECT_EQ(BadCertificateAccepted(lines), on) << (lines.empty() ? "" : lines.front());
    EXPECT_EQ(BadCertificateWarning("http://plant/da"), "");
    EXPECT_NE(BadCertificateWarning(" HTTPS://plant/da").find("HTTPS://plant/da"),
              std::string::npos);
}

TEST_F(XmlDaConnectionTest, BlankServerNameIsRefusedBeforeAnythingIsStored) {
    for (const char* name : {"", "   ", "\t "}) {
        try {
            Connect(name);
            ADD_FAILURE() << "accepted '" << name << "'";
        } catch (const EOPCException&) {
            ADD_FAILURE() << "not the plain error";
        } catch (const Exception& e) {
            const std::string text = e.what();
            EXPECT_EQ(text.rfind("first define target URL\r\n", 0), 0u) << text;
            EXPECT_NE(text.find("http://"), std::string::npos) << text;  // an example address
            EXPECT_EQ(text.find('\n', text.find('\n') + 1), std::string::npos);  // two lines
        }
        EXPECT_EQ(C().URL(), "");
        EXPECT_FALSE(C().NotifyWindow());
        EXPECT_TRUE(svc.Requests().empty());
    }
}

TEST_F(XmlDaConnectionTest, AddressWithBlanksAroundIsAcceptedAndKeptAsGiven) {
    const std::string padded = "  " + svc.URL() + " ";
    Connect(padded);
    EXPECT_EQ(C().URL(), padded);
    EXPECT_EQ(svc.Requests().size(), 1u);
}

TEST_F(XmlDaConnectionTest, ParamsAreFoundByNameWithoutRegardToCaseAndTrimmed) {
    Connect(svc.URL(), {"XML-POSTBY = MS ", "  Xml-User= bob ", "xml-pass=\tse cret ", "xml-proxy=",
                        "XML-CAFILE= /etc/plant/ca.pem ", "other=1", "xml-accept-bad-cert=on"});
    EXPECT_EQ(C().PostBy(), "ms");
    EXPECT_EQ(C().User(), "bob");
    EXPECT_EQ(C().Password(), "se cret");
    EXPECT_EQ(C().Proxy(), "");
    EXPECT_EQ(C().CAFile(), "/etc/plant/ca.pem");
    TVelqorSOAPData& s = C().GetCallSettings();
    ASSERT_TRUE(s.Poster);
    EXPECT_EQ(s.Poster->UserName(), "bob");
    EXPECT_EQ(s.Poster->Password(), "se cret");
    EXPECT_EQ(s.Poster->CAFile(), "/etc/plant/ca.pem");
    EXPECT_TRUE(s.Poster->AcceptBadCertificate());
    EXPECT_EQ(s.Poster->UserAgent(), "Velqor XML DA Client");
    EXPECT_EQ(s.Namespace, std::string(xmlda::kXmlDaNamespace));
    EXPECT_EQ(s.URL, svc.URL());
    EXPECT_EQ(s.NotifyWindow, window);

    // The snapshot for a poll thread has the fields and no poster.
    TVelqorSOAPData snap = C().SnapshotCallSettings();
    EXPECT_FALSE(snap.Poster);
    EXPECT_EQ(snap.User, "bob");
    EXPECT_EQ(snap.CAFile, "/etc/plant/ca.pem");
    EXPECT_TRUE(snap.AcceptBadCertificate);
    EXPECT_EQ(snap.NotifyWindow, window);
}

TEST_F(XmlDaConnectionTest, NoParamsGivesEmptyCredentialsAndTheInterfaceBasics) {
    Connect(svc.URL());
    EXPECT_EQ(C().User(), "");
    EXPECT_EQ(C().Password(), "");
    EXPECT_EQ(C().Proxy(), "");
    EXPECT_EQ(C().PostBy(), "");
    EXPECT_FALSE(C().AcceptBadCertificate());
    EXPECT_EQ(conn->SpecVersion(), 4);
    EXPECT_EQ(conn->ConnectionType(), coXML);
    EXPECT_EQ(conn->GetLocaleId(), 0);
    EXPECT_EQ(&XMLDAConnectionOf(conn.Get()), &C());
    EXPECT_THAT([&] { conn->SetLocaleId(1033); },
                ThrowsMessage<Exception>(StrEq("Not implemented")));
    std::string text = "kept";
    conn->GetItemPropertyValue("A", 1, text);
    EXPECT_EQ(text, "kept");
    EXPECT_TRUE(C().HasCallSettings());
    conn->Disconnect();
    EXPECT_FALSE(C().HasCallSettings());
}

TEST_F(XmlDaConnectionTest, GetStatusRequestCarriesActionLocaleAndClientName) {
    Connect(svc.URL());
    ASSERT_EQ(svc.Requests().size(), 1u);  // the status check
    EXPECT_TRUE(conn->SetClientName("renamed"));
    EXPECT_EQ(svc.Requests().size(), 1u);  // sends nothing
    tServerStateRecord st;
    conn->GetStatus(st);
    const auto r = svc.LastRequest();
    EXPECT_EQ(r.soapAction, "\"http://opcfoundation.org/webservices/XMLDA/1.0/GetStatus\"");
    EXPECT_NE(r.contentType.find("text/xml"), std::string::npos);
    EXPECT_NE(r.body.find("LocaleID=\"en\""), std::string::npos) << r.body;
    EXPECT_NE(r.body.find("ClientRequestHandle=\"renamed\""), std::string::npos) << r.body;
}

TEST_F(XmlDaConnectionTest, StatusRecordFromTheReply) {
    Connect(svc.URL());
    statusOverride = CannedReply{200, StatusReply(kReplyTime2, "ServerState=\"commFault\"")};
    tServerStateRecord st;
    st.GroupCount = 5;
    st.MajorVersion = 3;
    conn->GetStatus(st);
    EXPECT_EQ(st.ServerState, 6);
    EXPECT_DOUBLE_EQ(st.CurrentTime, XSDDateTimeToDateTime(kReplyTime2));
    EXPECT_DOUBLE_EQ(st.LastUpdateTime, st.CurrentTime);
    EXPECT_DOUBLE_EQ(st.StartTime, XSDDateTimeToDateTime("2026-01-02T03:04:05Z"));
    EXPECT_EQ(st.VendorInfo, "Canned vendor");
    EXPECT_EQ(st.StateText, "All fine");
    EXPECT_EQ(st.VersionText, "9.8.7");
    EXPECT_EQ(st.GroupCount, 0);
    EXPECT_EQ(st.MajorVersion, 0);

    // Without the attribute the first enumeration value applies: running.
    statusOverride = CannedReply{200, StatusReply(kReplyTime2, "")};
    conn->GetStatus(st);
    EXPECT_EQ(st.ServerState, 1);
}

TEST_F(XmlDaConnectionTest, ClockKeepsTheFirstReplyUntilTheNextConnect) {
    EXPECT_EQ(C().LocalTimeAtFirstReply(), 0);
    const double before = Now();
    EXPECT_NEAR(C().ServerNow(), before, 1.0 / 86400);  // local clock before any reply

    Connect(svc.URL());
    // The status check's reply is forgotten when Connect completes.
    EXPECT_EQ(C().ServerTimeAtFirstReply(), 0);
    EXPECT_EQ(C().LocalTimeAtFirstReply(), 0);

    tServerStateRecord st;
    conn->GetStatus(st);
    statusOverride = CannedReply{200, StatusReply(kReplyTime2, "")};
    conn->GetStatus(st);
    EXPECT_DOUBLE_EQ(st.CurrentTime, XSDDateTimeToDateTime(kReplyTime2));
    EXPECT_DOUBLE_EQ(C().ServerTimeAtFirstReply(), XSDDateTimeToDateTime(kReplyTime1));
    EXPECT_GE(C().LocalTimeAtFirstReply(), before);
    // ServerNow runs from the first reply's time at the local clock's pace.
    const double offset = XSDDateTimeToDateTime(kReplyTime1) - C().LocalTimeAtFirstReply();
    EXPECT_NEAR(C().ServerNow() - Now(), offset, 1.0 / 86400);

    conn->Disconnect();
    Connect(svc.URL());
    EXPECT_EQ(C().LocalTimeAtFirstReply(), 0);
}

TEST_F(XmlDaConnectionTest, ConnectFailsWithTheUnderlyingReasonAndPostsNoShutdown) {
    struct Case {
        CannedReply reply;
        std::string reason;
    };
    const Case cases[] = {
        {{200, StatusReply(kReplyTime1, "", false, true)},
         "wrong result from OPC Server (GetStatus)"},
        {{200, StatusReply(kReplyTime1, "", true, false)},
         "wrong result from OPC Server (GetStatus)"},
        {{500, FaultEnvelope("soap:Server", "E_FAIL service broken")}, "E_FAIL service broken"},
        {{503, "busy", "text/plain"}, "503"},
    };
    for (const auto& c : cases) {
        statusOverride = c.reply;
        try {
            Connect(svc.URL());
            ADD_FAILURE() << c.reason;
        } catch (const EOPCServerException& e) {
            const std::string text = e.what();
            const std::string head = "Unable to connect to OPC server " + svc.URL() + "\r\n";
            EXPECT_EQ(text.rfind(head, 0), 0u) << text;
            EXPECT_NE(text.find(c.reason, head.size()), std::string::npos) << text;
        }
        EXPECT_EQ(PumpShutdowns(), 0) << c.reason;
        EXPECT_FALSE(C().NotifyWindow());  // the abandoned connection keeps it cleared
    }
}

TEST_F(XmlDaConnectionTest, WrongStatusReplyAfterConnectRaisesWithoutShutdown) {
    Connect(svc.URL());
    statusOverride = CannedReply{200, StatusReply(kReplyTime1, "", false, true)};
    tServerStateRecord st;
    EXPECT_THAT(
        [&] { conn->GetStatus(st); },
        ThrowsMessage<EOPCServerException>(StrEq("wrong result from OPC Server (GetStatus)")));
    // An empty body element: no reply record at all.
    statusOverride = CannedReply{200, Envelope("")};
    EXPECT_THROW(conn->GetStatus(st), Exception);
    EXPECT_EQ(PumpShutdowns(), 0);
    EXPECT_FALSE(conn->CheckConnection());
}

TEST_F(XmlDaConnectionTest, SoapFaultRaisesTheFaultAndPostsNothing) {
    Connect(svc.URL());
    statusOverride = CannedReply{500, FaultEnvelope("soap:Server", "E_FAIL service broken")};
    tServerStateRecord st;
    EXPECT_THAT([&] { conn->GetStatus(st); },
                Throws<EVelqorSOAPFault>(
                    Property(&EVelqorSOAPFault::FaultString, "E_FAIL service broken")));
    EXPECT_FALSE(conn->CheckConnection());
    EXPECT_EQ(PumpShutdowns(), 0);
}

TEST_F(XmlDaConnectionTest, TransportFailurePostsOneShutdownPerExchange) {
    Connect(svc.URL());
    statusOverride = CannedReply{503, "busy", "text/plain"};
    tServerStateRecord st;
    for (int i = 1; i <= 3; ++i) {
        try {
            conn->GetStatus(st);
            ADD_FAILURE();
        } catch (const EVelqorSOAPConnect& e) {
            const std::string text = e.what();
            // The poster's own text for the status.
            EXPECT_NE(text.find("503"), std::string::npos) << text;
            EXPECT_NE(text.find(svc.URL()), std::string::npos) << text;
        }
        EXPECT_EQ(PumpShutdowns(), i);
    }
    // The keep-alive probe never raises and also reports the shutdown.
    EXPECT_FALSE(conn->CheckConnection());
    EXPECT_EQ(PumpShutdowns(), 4);
    // The connection recovers once the service does.
    statusOverride.reset();
    EXPECT_TRUE(conn->CheckConnection());
    EXPECT_EQ(PumpShutdowns(), 4);
}

TEST_F(XmlDaConnectionTest, CancelledCredentialsStaySilent) {
    Connect(svc.URL());
    statusOverride = CannedReply{401, "", "text/plain", "Basic realm=\"plant\""};
    int asked = 0;
    SetCredentialsProvider([&](const TCredentialsRequest&) -> std::optional<TCredentials> {
        ++asked;
        return std::nullopt;
    });
    tServerStateRecord st;
    EXPECT_THROW(conn->GetStatus(st), EAbort);
    SetCredentialsProvider(nullptr);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(PumpShutdowns(), 0);
}

TEST_F(XmlDaConnectionTest, DesignModeProbeSendsNothing) {
    Connect(svc.URL());
    const size_t sent = svc.Requests().size();
    statusOverride = CannedReply{503, "busy", "text/plain"};
    auto designing = com::MakeComObject<IVelqorDAConnection, TVelqorXMLDAConnection>(true);
    EXPECT_TRUE(XMLDADesignMode());
    EXPECT_TRUE(conn->CheckConnection());
    SetXMLDADesignMode(false);
    EXPECT_EQ(svc.Requests().size(), sent);
    EXPECT_FALSE(conn->CheckConnection());
}

TEST_F(XmlDaConnectionTest, ClockIsSafeToUseFromOtherThreads) {
    Connect(svc.URL());
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < 2; ++i)
        readers.emplace_back([&] {
            while (!stop.load()) {
                const double now = C().ServerNow();
                EXPECT_GT(now, 0);
            }
        });
    xmlda::ReplyBase header;
    header.ReplyTime = XSDDateTimeToDateTime(kReplyTime1);
    for (int i = 0; i < 200; ++i) {
        C().UpdateClock(&header);
        C().ClearClock();
    }
    C().UpdateClock(&header);
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_DOUBLE_EQ(C().ServerTimeAtFirstReply(), header.ReplyTime);
    C().UpdateClock(nullptr);  // a reply without a header changes nothing
    EXPECT_DOUBLE_EQ(C().ServerTimeAtFirstReply(), header.ReplyTime);
}

TEST(XmlDaCallGlue, WithoutAPosterOneTemporaryPosterIsUsed) {
    CannedService svc([](const std::string& op) -> CannedReply {
        if (op == "SubscriptionCancel")
            return {
                200,
                Envelope(
                    R"(<SubscriptionCancelResponse xmlns="http://opcfoundation.org/webservices/XMLDA/1.0/" ClientRequestHandle="h1"/>)")};
        return {404, "", "text/plain"};
    });
    PlainEventLoop loop;
    int shutdowns = 0;
    auto window =
        MessageWindow::Create(loop, [&](uint32_t m, uintptr_t, std::unique_ptr<MessagePayload>) {
            if (m == WM_VELQOR_SHUTDOWN) ++shutdowns;
        });
    TVelqorSOAPData settings;
    settings.URL = svc.URL();
    settings.NotifyWindow = window;
    xmlda::SubscriptionCancel cancel;
    cancel.ServerSubHandle = "sub-1";
    cancel.ClientRequestHandle = "h1";
    auto reply = CallOperation(settings, cancel);
    EXPECT_EQ(reply->ClientRequestHandle, "h1");
    EXPECT_FALSE(settings.Poster);
    EXPECT_EQ(svc.LastRequest().soapAction,
              "\"http://opcfoundation.org/webservices/XMLDA/1.0/SubscriptionCancel\"");
    EXPECT_NE(svc.LastRequest().body.find("ServerSubHandle=\"sub-1\""), std::string::npos);

    xmlda::Browse browse;
    EXPECT_THROW(CallOperation(settings, browse), EVelqorSOAPConnect);
    loop.ProcessPending();
    EXPECT_EQ(shutdowns, 1);
    // An empty ItemPath is still written; an empty ItemName is not.
    EXPECT_NE(svc.LastRequest().body.find("ItemPath=\"\""), std::string::npos)
        << svc.LastRequest().body;
    EXPECT_EQ(svc.LastRequest().body.find("ItemName="), std::string::npos);
    window->Destroy();
}

// ---- GetItemProperties ------------------------------------------------------------------------

constexpr const char* kPropsHead =
    R"(<GetPropertiesResponse xmlns="http://opcfoundation.org/webservices/XMLDA/1.0/">)"
    R"(<GetPropertiesResult RcvTime="2026-12-07T11:00:00Z" ReplyTime="2026-12-07T11:00:00Z"/>)";

std::string PropsList(const std::string& name, const std::string& inner,
                      const std::string& resultID = {}) {
    std::string s = "<PropertyLists ItemName=\"" + name + "\"";
    if (!resultID.empty()) s += " ResultID=\"" + resultID + "\"";
    return s + ">" + inner + "</PropertyLists>";
}

constexpr const char* kTwoProps =
    R"(<Properties Name="dataType" Description="Item Canonical DataType">)"
    R"(<Value xsi:type="xsd:string">xsd:double</Value></Properties>)"
    R"(<Properties Name="accessRights"><Value xsi:type="xsd:string">readWritable</Value></Properties>)";

class XmlDaPropertiesTest : public XmlDaConnectionTest {
  protected:
    void Serve(const std::string& content) {
        svc.SetResponder([this, content](const std::string& op) -> CannedReply {
            if (op == "GetStatus") return {200, StatusReply(kReplyTime1, "")};
            return {200, Envelope(std::string(kPropsHead) + content + "</GetPropertiesResponse>")};
        });
    }
    std::vector<TVelqorItemPropertyQuery> Queries(std::initializer_list<const char*> ids) {
        std::vector<TVelqorItemPropertyQuery> q;
        for (const char* id : ids) q.push_back({id, {}});
        return q;
    }
};

TEST_F(XmlDaPropertiesTest, NoItemsSendsNothing) {
    Connect(svc.URL());
    const size_t sent = svc.Requests().size();
    std::vector<TVelqorItemPropertyQuery> none;
    EXPECT_FALSE(conn->GetItemProperties(none, {}, true, true));
    EXPECT_EQ(svc.Requests().size(), sent);
}

TEST_F(XmlDaPropertiesTest, RequestNamesItemsAndFilterAndRepliesArePairedByPosition) {
    Serve(PropsList("A", kTwoProps) + PropsList("B", "", "E_UNKNOWNITEMNAME") +
          R"(<Errors ID="E_UNKNOWNITEMNAME"><Text>The item name is not known.</Text></Errors>)");
    Connect(svc.URL());
    auto q = Queries({"Plant//Area1.Level", "B"});
    ASSERT_TRUE(conn->GetItemProperties(q, {"1", "5"}, true, false));

    const std::string body = svc.LastRequest().body;
    EXPECT_EQ(svc.LastRequest().soapAction,
              "\"http://opcfoundation.org/webservices/XMLDA/1.0/GetProperties\"");
    EXPECT_NE(body.find("ItemPath=\"Plant\""), std::string::npos) << body;
    EXPECT_NE(body.find("ItemName=\"Area1.Level\""), std::string::npos) << body;
    EXPECT_NE(body.find("ItemPath=\"\""), std::string::npos) << body;  // "B" has an empty path
    EXPECT_NE(body.find(">dataType<"), std::string::npos) << body;
    EXPECT_NE(body.find(">accessRights<"), std::string::npos) << body;
    EXPECT_LT(body.find(">dataType<"), body.find(">accessRights<"));
    EXPECT_EQ(body.find("ReturnAllProperties=\"true\""), std::string::npos) << body;
    EXPECT_NE(body.find("ReturnPropertyValues=\"true\""), std::string::npos) << body;
    EXPECT_NE(body.find("ClientRequestHandle=\"tester\""), std::string::npos) << body;
    EXPECT_NE(body.find("LocaleID=\"en\""), std::string::npos) << body;

    ASSERT_EQ(q[0].Properties.size(), 2u);
    EXPECT_EQ(q[0].Properties[0].PropertyID, 1);
    EXPECT_EQ(q[0].Properties[0].Value, Variant::I2(VT_R8));
    EXPECT_EQ(q[0].Properties[0].Description, "Item Canonical DataType");
    EXPECT_EQ(q[0].Properties[1].PropertyID, 5);
    EXPECT_EQ(q[0].Properties[1].Value, Variant::I4(3));
    EXPECT_EQ(q[0].Properties[1].DataType, VT_I4);

    ASSERT_EQ(q[1].Properties.size(), 1u);
    EXPECT_EQ(q[1].Properties[0].PropertyID, 0);
    EXPECT_EQ(q[1].Properties[0].Error, ResultCodeFromName("E_UNKNOWNITEMNAME"));
    EXPECT_EQ(q[1].Properties[0].Description, "The item name is not known.");

    // The reply set the clock.
    EXPECT_DOUBLE_EQ(C().ServerTimeAtFirstReply(), XSDDateTimeToDateTime("2026-12-07T11:00:00Z"));
}

TEST_F(XmlDaPropertiesTest, AllPropertiesWhenNoFilterIsGiven) {
    Serve(PropsList("A", kTwoProps));
    Connect(svc.URL());
    auto q = Queries({"A"});
    ASSERT_TRUE(conn->GetItemProperties(q, {}, false, false));
    const std::string body = svc.LastRequest().body;
    EXPECT_NE(body.find("ReturnAllProperties=\"true\""), std::string::npos) << body;
    EXPECT_EQ(body.find("ReturnPropertyValues=\"true\""), std::string::npos) << body;
    EXPECT_EQ(body.find("PropertyNames"), std::string::npos) << body;
    EXPECT_EQ(q[0].Properties.size(), 2u);
}

TEST_F(XmlDaPropertiesTest, ReplyWithoutListsGivesFalseAndTouchesNothing) {
    Serve("");
    Connect(svc.URL());
    auto q = Queries({"A", "B"});
    q[0].Properties.push_back(TVelqorItemProperty::Failure(5));
    EXPECT_FALSE(conn->GetItemProperties(q, {}, true, false));
    EXPECT_EQ(q[0].Properties.size(), 1u);
    EXPECT_TRUE(q[1].Properties.empty());
    EXPECT_EQ(C().LocalTimeAtFirstReply(), 0);  // no clock update either
}

TEST_F(XmlDaPropertiesTest, ReplyWithMoreListsThanItemsIsRefusedAndTouchesNothing) {
    Serve(PropsList("A", kTwoProps) + PropsList("B", kTwoProps) + PropsList("C", kTwoProps));
    Connect(svc.URL());
    auto q = Queries({"A", "B"});
    try {
        conn->GetItemProperties(q, {}, true, false);
        ADD_FAILURE();
    } catch (const EOPCServerException& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("GetProperties"), std::string::npos) << text;
        EXPECT_NE(text.find("3 property lists for 2 items"), std::string::npos) << text;
    }
    EXPECT_TRUE(q[0].Properties.empty());
    EXPECT_TRUE(q[1].Properties.empty());
    EXPECT_EQ(PumpShutdowns(), 0);
}

TEST_F(XmlDaPropertiesTest, FewerListsThanItemsFillOnlyTheFirst) {
    Serve(PropsList("A", kTwoProps));
    Connect(svc.URL());
    auto q = Queries({"A", "B"});
    EXPECT_TRUE(conn->GetItemProperties(q, {}, true, false));
    EXPECT_EQ(q[0].Properties.size(), 2u);
    EXPECT_TRUE(q[1].Properties.empty());
}

TEST(XmlDaServerList, RefusesWithNotImplementedAndReportsNothing) {
    auto browser = com::MakeComObject<IVelqorServerBrowser, tVelqorXMLServerBrowser>(0);
    int reports = 0;
    try {
        browser->GetServerList(kDefaultServerSet, "plant-pc", 2,
                               [&](const std::string&, const std::string&, const std::string&,
                                   uint32_t) { ++reports; });
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Not implemented");
    }
    EXPECT_EQ(reports, 0);
}

}  // namespace
}  // namespace velqor
