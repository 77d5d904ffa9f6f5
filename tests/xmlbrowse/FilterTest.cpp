// The browser's request shape and its reading of reply shapes xmlda-sim never sends (properties
// out of order, missing or nameless, numeric access rights, a service that loops on its
// continuation point), and the wildcard mask.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CannedService.h"
#include "contract/VelqorError.h"
#include "contract/VelqorMask.h"
#include "xmlda/VelqorXMLDA.h"
#include "xmlda/VelqorXMLDABrowser.h"

namespace velqor {
namespace {

using test::CannedReply;
using test::CannedService;
using test::Envelope;
using test::StatusReply;

constexpr const char* kReplyTime = "2026-12-07T10:00:00Z";

std::string Prop(const std::string& name, const std::string& valueXml) {
    return "<Properties" + (name.empty() ? std::string() : " Name=\"" + name + "\"") + ">" +
           valueXml + "</Properties>";
}
std::string QName(const std::string& text) {
    return "<Value xsi:type=\"xsd:QName\">" + text + "</Value>";
}
std::string Str(const std::string& text) {
    return "<Value xsi:type=\"xsd:string\">" + text + "</Value>";
}
std::string Element(const std::string& name, bool isItem, const std::string& props = {},
                    bool children = false) {
    return "<Elements Name=\"" + name + "\" ItemPath=\"P\" ItemName=\"" + name + "\" IsItem=\"" +
           (isItem ? "true" : "false") + "\" HasChildren=\"" + (children ? "true" : "false") +
           "\">" + props + "</Elements>";
}
std::string BrowseReply(const std::string& elements, const std::string& tailAttrs = {}) {
    return Envelope(R"(<BrowseResponse xmlns="http://opcfoundation.org/webservices/XMLDA/1.0/")" +
                    tailAttrs + "><BrowseResult ReplyTime=\"" + kReplyTime +
                    "\" ServerState=\"running\"/>" + elements + "</BrowseResponse>");
}

class CannedBrowserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        conn = com::MakeComObject<IVelqorDAConnection, TVelqorXMLDAConnection>(false);
        conn->Connect("canned", svc.URL(), "", {}, nullptr, 0);
        conn->CreateBrowser(browser);
        browser->SetBrowseList(&list);
    }
    void TearDown() override {
        browser.Reset();
        conn->Disconnect();
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const auto& b : list) out.push_back(b->Name);
        return out;
    }
    std::vector<test::RecordedRequest> BrowseRequests() const {
        std::vector<test::RecordedRequest> out;
        for (auto& r : svc.Requests())
            if (r.soapAction.find("Browse") != std::string::npos) out.push_back(r);
        return out;
    }

    std::string browseReply = BrowseReply("");
    CannedService svc{[this](const std::string& op) -> CannedReply {
        if (op == "GetStatus") return {200, StatusReply(kReplyTime, "")};
        return {200, browseReply};
    }};
    com::ComPtr<IVelqorDAConnection> conn;
    com::ComPtr<IVelqorBrowser> browser;
    TVelqorBrowseItems list;
};

TEST_F(CannedBrowserTest, RootRequestAsksForBothPropertiesWithValues) {
    ASSERT_TRUE(browser->Browse(false));
    auto reqs = BrowseRequests();
    ASSERT_EQ(reqs.size(), 1u);
    const std::string& body = reqs[0].body;
    EXPECT_NE(body.find("ItemPath=\"\""), std::string::npos) << body;
    EXPECT_EQ(body.find("ItemName="), std::string::npos) << body;
    EXPECT_EQ(body.find("ContinuationPoint="), std::string::npos) << body;
    EXPECT_EQ(body.find("MaxElementsReturned="), std::string::npos) << body;
    EXPECT_NE(body.find("ReturnPropertyValues=\"true\""), std::string::npos) << body;
    const auto dt = body.find(">dataType</");
    const auto ar = body.find(">accessRights</");
    ASSERT_NE(dt, std::string::npos) << body;
    ASSERT_NE(ar, std::string::npos) << body;
    EXPECT_LT(dt, ar);
    // A reply without elements: an empty list and the position moved.
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(CannedBrowserTest, PropertiesAreMatchedByNameInAnyOrder) {
    browseReply = BrowseReply(
        Element("Dbl", true,
                Prop("accessRights", Str("readWritable")) + Prop("dataType", QName("xsd:double"))) +
        Element("Int", true,
                Prop("accessRights", Str("readWritable")) + Prop("dataType", QName("xsd:int"))) +
        Element("RoDbl", true,
                Prop("dataType", QName("xsd:double")) + Prop("accessRights", Str("readable"))) +
        Element("NumDbl", true,
                Prop("dataType", QName("xsd:double")) + Prop("accessRights", Str("3"))) +
        Element("WoDbl", true,
                Prop("dataType", QName("xsd:double")) + Prop("accessRights", Str("writable"))) +
        Element("OnlyRights", true, Prop("accessRights", Str("readable"))) +
        Element("NoProps", true) + Element("Branch", false, "", true));

    browser->SetFilter(3, 0, vtR8, "");
    browser->Browse(false);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Dbl", "RoDbl", "NumDbl", "WoDbl", "OnlyRights",
                                                 "NoProps", "Branch"}));

    // OnlyRights came without its data type: not the two properties asked for, so it passes.
    browser->SetFilter(3, 2, 0, "");
    browser->Browse(false);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Dbl", "Int", "NumDbl", "WoDbl", "OnlyRights",
                                                 "NoProps", "Branch"}));

    browser->SetFilter(3, 1, vtR8, "");
    browser->Browse(false);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Dbl", "RoDbl", "NumDbl", "OnlyRights", "NoProps",
                                                 "Branch"}));

    const TVelqorBrowseItem* branch = list.Items(list.Count() - 1);
    EXPECT_TRUE(branch->IsBranch);
    EXPECT_FALSE(branch->IsItem);
    EXPECT_EQ(branch->CombinedID(), "P//Branch");
}

TEST_F(CannedBrowserTest, NamelessPropertiesAreTakenInRequestOrderAndPrefixesIgnored) {
    browseReply =
        BrowseReply(Element("A", true, Prop("", QName("xsd:double")) + Prop("", Str("readable"))) +
                    Element("B", true, Prop("", QName("xsd:int")) + Prop("", Str("readWritable"))) +
                    Element("C", true,
                            Prop("ns1:dataType", QName("xsd:double")) +
                                Prop("ns1:accessRights", Str("writable"))));
    browser->SetFilter(3, 0, vtR8, "");
    browser->Browse(false);
    EXPECT_EQ(Names(), (std::vector<std::string>{"A", "C"}));
    browser->SetFilter(3, 2, 0, "");
    browser->Browse(false);
    EXPECT_EQ(Names(), (std::vector<std::string>{"B", "C"}));
}

TEST_F(CannedBrowserTest, FailedPropertiesAndUnknownTypeNamesDoNotDropAnItem) {
    browseReply = BrowseReply(Element("Failed", true,
                                      "<Properties Name=\"dataType\" ResultID=\"E_INVALIDPID\"/>" +
                                          Prop("accessRights", Str("readable"))) +
                              Element("Vendor", true,
                                      Prop("dataType", QName("ns9:SomeVendorType")) +
                                          Prop("accessRights", Str("readable"))));
    browser->SetFilter(3, 0, vtR8, "");
    browser->Browse(false);
    EXPECT_EQ(Names(),
              std::vector<std::string>{"Failed"});  // an unknown type name counts as a string
    browser->SetFilter(3, 0, vtBSTR, "");
    browser->Browse(false);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Failed", "Vendor"}));
}

TEST_F(CannedBrowserTest, AServiceRepeatingItsContinuationPointEndsTheLevel) {
    browseReply =
        BrowseReply(Element("X", true), R"( ContinuationPoint="cp-1" MoreElements="true")");
    browser->SetFilter(2, 0, 0, "X*");
    ASSERT_TRUE(browser->Browse(false));
    auto reqs = BrowseRequests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].body.find("ContinuationPoint="), std::string::npos);
    EXPECT_NE(reqs[1].body.find("ContinuationPoint=\"cp-1\""), std::string::npos) << reqs[1].body;
    EXPECT_NE(reqs[1].body.find("BrowseFilter=\"item\""), std::string::npos) << reqs[1].body;
    EXPECT_EQ(list.Count(), 2);  // what both replies held
}

// The name mask is the client's to match, case ignored, whatever a service would make of it.
TEST_F(CannedBrowserTest, TheNameMaskIsMatchedByTheClientIgnoringCase) {
    browseReply = BrowseReply(Element("Temp1", true) + Element("temp2", true) +
                              Element("Level", true) + Element("TEMPS", false, "", true));
    browser->SetFilter(3, 0, 0, "*TEMP?");
    ASSERT_TRUE(browser->Browse(false));
    EXPECT_EQ(Names(), (std::vector<std::string>{"Temp1", "temp2", "TEMPS"}));
    for (const auto& r : BrowseRequests())
        EXPECT_EQ(r.body.find("ElementNameFilter"), std::string::npos) << r.body;
}

TEST_F(CannedBrowserTest, MoreElementsWithoutAPointListsWhatCameAndSaysItIsShort) {
    browseReply = BrowseReply(Element("X", true), R"( MoreElements="true")");
    ASSERT_TRUE(browser->Browse(false));
    EXPECT_EQ(BrowseRequests().size(), 1u);
    EXPECT_EQ(list.Count(), 1);
    ASSERT_EQ(browser->Gaps().size(), 1u);
    EXPECT_NE(browser->Gaps()[0].find("did not return all elements of the root"),
              std::string::npos);
    browseReply = BrowseReply(Element("X", true));
    browser->SetFilter(3, 0, 0, "X");
    ASSERT_TRUE(browser->Browse(false));
    EXPECT_TRUE(browser->Gaps().empty()) << "a complete listing has none";
}

// Browse bounds against services that would otherwise keep the browser busy for ever.
TEST_F(CannedBrowserTest, ABranchListingItselfIsWalkedOnce) {
    browseReply = BrowseReply(Element("Loop", false, "", true) + Element("Leaf", true));
    ASSERT_TRUE(browser->Browse(true));
    EXPECT_EQ(Names(), std::vector<std::string>{"Leaf"});
    EXPECT_EQ(BrowseRequests().size(), 2u);  // the root and Loop, once
    EXPECT_TRUE(browser->Position()->ItemName.empty());
}

TEST_F(CannedBrowserTest, ACycleOfBranchesEndsAndEachItemIsListedOnce) {
    // A lists B and an item, B lists A and the same item: the walk visits A and B once.
    svc.SetResponder([this](const std::string& op) -> CannedReply {
        if (op == "GetStatus") return {200, StatusReply(kReplyTime, "")};
        const std::string body = svc.LastRequest().body;
        const bool inA = body.find("ItemName=\"A\"") != std::string::npos;
        return {200, BrowseReply(Element(inA ? "B" : "A", false, "", true) + Element("T", true))};
    });
    ASSERT_TRUE(browser->Browse(true));
    EXPECT_EQ(Names(), std::vector<std::string>{"T"});
    EXPECT_EQ(BrowseRequests().size(), 3u);  // the root, A, B
}

// An item that has children stays listed whatever the filters say, so a walk gets below it.
TEST_F(CannedBrowserTest, AnItemWithChildrenIsEnteredWhateverTheFilters) {
    const std::string intProps =
        Prop("dataType", QName("xsd:int")) + Prop("accessRights", Str("readable"));
    const std::string dblProps =
        Prop("dataType", QName("xsd:double")) + Prop("accessRights", Str("readable"));
    svc.SetResponder([&, this](const std::string& op) -> CannedReply {
        if (op == "GetStatus") return {200, StatusReply(kReplyTime, "")};
        if (svc.LastRequest().body.find("ItemName=\"Tank\"") != std::string::npos)
            return {200, BrowseReply(Element("Level", true, dblProps))};
        return {200, BrowseReply(Element("Tank", true, intProps, true) +
                                 Element("Count", true, intProps))};
    });
    browser->SetFilter(3, 0, vtR8, "");
    browser->Browse(false);
    EXPECT_EQ(Names(), std::vector<std::string>{"Tank"});
    browser->Browse(true);
    EXPECT_EQ(Names(), std::vector<std::string>{"Level"});
}

TEST_F(CannedBrowserTest, BoundsRaiseAClearErrorInsteadOfAShortList) {
    auto* xb = dynamic_cast<TVelqorXMLDABrowser*>(browser.Get());
    ASSERT_NE(xb, nullptr);
    struct Case {
        const char* what;
        bool flat;
        int64_t maxElements;  // 0: the default
        const char* expected;
        size_t requests;
    };
    const Case cases[] = {{"endless continuation", false, 0, "continuation requests", 20},
                          {"endless continuation in a walk", true, 0, "continuation requests", 20},
                          {"new branches without end", true, 50, "elements", 26},
                          {"ever deeper", true, 0, "levels", TVelqorXMLDABrowser::kMaxWalkDepth}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int served = 0;
        const std::string what = c.what;
        svc.SetResponder([&](const std::string& op) -> CannedReply {
            if (op == "GetStatus") return {200, StatusReply(kReplyTime, "")};
            const std::string n = std::to_string(++served);
            if (what.rfind("endless continuation", 0) == 0)
                return {200, BrowseReply(Element("X" + n, true), " ContinuationPoint=\"cp-" + n +
                                                                     "\" MoreElements=\"true\"")};
            if (what == "ever deeper") return {200, BrowseReply(Element("D" + n, false, "", true))};
            return {200, BrowseReply(Element("B" + n + "a", false, "", true) +
                                     Element("B" + n + "b", false, "", true))};
        });
        xb->SetMaxContinuationRounds(20);
        xb->SetMaxBrowseElements(c.maxElements);
        list.Clear();
        list.Add(TVelqorBrowseItem{});
        browser->MoveToRoot();
        const size_t before = BrowseRequests().size();
        try {
            browser->Browse(c.flat);
            ADD_FAILURE() << "no error";
        } catch (const EBrowseLimit& e) {
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
        }
        EXPECT_EQ(BrowseRequests().size() - before, c.requests);
        EXPECT_EQ(list.Count(), 1) << "a failed Browse or walk leaves the list";
        EXPECT_TRUE(browser->Position()->ItemName.empty()) << "the walk ends where it began";
    }
}

TEST(WildcardMask, StarsQuestionMarksAndSets) {
    EXPECT_TRUE(MatchesMask("Plant/Area1/Tank1/Temperature", "*temp*"));
    EXPECT_TRUE(MatchesMask("abc", "abc"));
    EXPECT_TRUE(MatchesMask("ABC", "a?c"));
    EXPECT_FALSE(MatchesMask("abbc", "a?c"));
    EXPECT_TRUE(MatchesMask("", "*"));
    EXPECT_FALSE(MatchesMask("", "?"));
    EXPECT_TRUE(MatchesMask("", ""));
    EXPECT_FALSE(MatchesMask("a", ""));
    EXPECT_TRUE(MatchesMask("aXbXc", "*x*x*"));
    EXPECT_TRUE(MatchesMask("mississippi", "m*iss*ppi"));
    EXPECT_FALSE(MatchesMask("mississippi", "m*iss*ppx"));
    EXPECT_TRUE(MatchesMask("Item7", "Item[0-9]"));
    EXPECT_FALSE(MatchesMask("ItemA", "Item[0-9]"));
    EXPECT_TRUE(MatchesMask("ItemA", "Item[!0-9]"));
    EXPECT_TRUE(MatchesMask("itemb", "ITEM[A-C]"));
    EXPECT_TRUE(MatchesMask("ItemB", "item[abc]"));
    EXPECT_FALSE(MatchesMask("ItemD", "item[abc]"));
    EXPECT_TRUE(MatchesMask("x]", "x[]]"));  // a leading ']' belongs to the set
    EXPECT_TRUE(MatchesMask("a[b", "a[b"));  // an unclosed '[' is a plain character
    EXPECT_TRUE(MatchesMask("a-", "a[-]"));
    EXPECT_TRUE(
        MatchesMask("T\xC2\xB0"
                    "C",
                    "T?C"));  // one code point, two bytes
    EXPECT_FALSE(
        MatchesMask("T\xC2\xB0"
                    "C",
                    "T??C"));
    EXPECT_TRUE(
        MatchesMask("\xFF"
                    "ab",
                    "?ab"));  // a stray byte is one character
}

TEST(WildcardMask, ManyStarsStayFast) {
    const std::string text(5000, 'a');
    EXPECT_FALSE(MatchesMask(text, "*a*a*a*a*a*a*a*a*a*a*b"));
    EXPECT_TRUE(MatchesMask(text, "*a*a*a*a*a*a*a*a*a*a*a"));
}

}  // namespace
}  // namespace velqor
