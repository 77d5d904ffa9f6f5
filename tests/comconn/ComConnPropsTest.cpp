// Item properties through the COM DA connection: the DA 2.0 and DA 3.0 ways, filters, values,
// write-only items, the fall-back from an empty DA 3.0 answer, the lookup of a property's item
// ID, and servers answering with failures or missing arrays.
#include <map>

#include "ComConnFixture.h"
#include "contract/VelqorError.h"

namespace velqor::test {
namespace {

constexpr const char* kAnalog = "Plant/Area1/Tank1/Level";
constexpr const char* kWriteOnly = "WriteOnly/Int";

std::map<int32_t, TVelqorItemProperty> ById(const std::vector<TVelqorItemProperty>& list) {
    std::map<int32_t, TVelqorItemProperty> m;
    for (const auto& p : list) m[p.PropertyID] = p;
    return m;
}

// The same questions asked of a DA 2.0 server and of a DA 3.0 one give the same answers.
class PropertiesTest : public ComConnTest, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        ComConnTest::SetUp();
        Switches().OfferBrowse = GetParam();
        Connect(kFaultyProgId);
        ASSERT_EQ(connection->SpecVersion(), GetParam() ? 3 : 2);
    }
    std::vector<TVelqorItemPropertyQuery> Ask(std::vector<std::string> ids,
                                              const std::vector<std::string>& filter, bool values,
                                              bool* result = nullptr) {
        std::vector<TVelqorItemPropertyQuery> q;
        for (auto& id : ids) q.push_back({id, {}});
        const bool ok = connection->GetItemProperties(q, filter, values, false);
        if (result) *result = ok;
        return q;
    }
};

TEST_P(PropertiesTest, AnalogItemsGiveTheirRangeUnitsAndDescriptions) {
    auto q = Ask({kAnalog}, {"100", "102", "103"}, true);
    auto p = ById(q[0].Properties);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[100].Value.ToText(), "m");
    EXPECT_EQ(p[100].Description, "EU Units");
    EXPECT_EQ(p[100].DataType, VT_BSTR);
    EXPECT_EQ(p[102].Value.AsDouble(), 10.0);
    EXPECT_EQ(p[103].Value.AsDouble(), 0.0);
    for (const auto& [id, prop] : p) EXPECT_EQ(prop.Error, 0) << id;

    q = Ask({kAnalog}, {}, false);
    p = ById(q[0].Properties);
    EXPECT_GE(p.size(), 10u);
    for (int32_t id : {1, 2, 5, 7, 100, 101, 102, 103}) EXPECT_EQ(p.count(id), 1u) << id;
    for (const auto& [id, prop] : p) EXPECT_TRUE(prop.Value.IsEmpty()) << id;
}

TEST_P(PropertiesTest, WriteOnlyItemsCannotShowValueQualityOrTimestamp) {
    struct Row {
        std::vector<std::string> filter;
        std::vector<int32_t> writeOnly;  // the properties that carry E_WRITEONLY
    } const rows[] = {
        {{}, {2, 3, 4}},
        {{"2", "5"}, {2}},
        {{"3"}, {3}},  // access rights filtered out: still known
    };
    for (const Row& row : rows) {
        auto q = Ask({kWriteOnly}, row.filter, true);
        std::vector<int32_t> marked;
        for (const auto& p : q[0].Properties) {
            if (p.Error == OPC_E_WRITEONLY) marked.push_back(p.PropertyID);
            if (p.PropertyID == 5) {
                EXPECT_EQ(p.Value.AsInt32(), 2);
            }
        }
        EXPECT_EQ(marked, row.writeOnly);
    }
}

TEST_P(PropertiesTest, UnknownAndEmptyItemsGetOneErrorEntryEach) {
    bool ok = true;
    auto q = Ask({"Plant/NoSuchItem", kAnalog}, {"102"}, true, &ok);
    ASSERT_EQ(q[0].Properties.size(), 1u);
    EXPECT_EQ(q[0].Properties[0].PropertyID, 0);
    EXPECT_EQ(q[0].Properties[0].Description, "error");
    EXPECT_EQ(q[0].Properties[0].Error, OPC_E_UNKNOWNITEMID);
    ASSERT_EQ(q[1].Properties.size(), 1u);
    EXPECT_EQ(q[1].Properties[0].Value.AsDouble(), 10.0);
    EXPECT_EQ(ok, GetParam()) << "DA 2.0 reports the failed item in its result";

    std::vector<TVelqorItemPropertyQuery> none;
    EXPECT_FALSE(connection->GetItemProperties(none, {}, true, false));
}

INSTANTIATE_TEST_SUITE_P(Generations, PropertiesTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? std::string("DA30") : std::string("DA20");
                         });

TEST_F(ComConnTest, DA2FailuresRaiseOnlyWhenAskedTo) {
    Connect("Velqor.SimDA20.1");
    std::vector<TVelqorItemPropertyQuery> q{{"Plant/NoSuchItem", {}}};
    EXPECT_FALSE(connection->GetItemProperties(q, {}, false, false));
    EXPECT_EQ(q[0].Properties[0].DataType, -1);
    EXPECT_THROW(connection->GetItemProperties(q, {}, false, true), EOPCException);
    q = {{"", {}}};
    EXPECT_FALSE(connection->GetItemProperties(q, {}, false, true)) << "nothing asked: code 1";
    EXPECT_EQ(q[0].Properties[0].Error, 1);

    Switches().OfferItemProperties = false;
    Connect(kFaultyProgId);
    q = {{kAnalog, {}}};
    EXPECT_FALSE(connection->GetItemProperties(q, {}, true, false));
    EXPECT_EQ(q[0].Properties[0].Error, 1);
    std::string text = "stale";
    connection->GetItemPropertyValue(kAnalog, 2, text);
    EXPECT_EQ(text, "");
}

TEST_F(ComConnTest, DA3AnswersAreMappedAndAnEmptyAnswerFallsBackToDA2) {
    struct Row {
        Fault fault;
        std::vector<std::string> filter;
        size_t count;        // entries in the item's list
        int32_t firstError;  // of the first entry
        bool fellBack;       // descriptions from the DA 2.0 query
    } const rows[] = {
        {Fault::BrowseEmpty, {}, 13, 0, true},
        {Fault::BrowseEmpty, {"102"}, 0, 0, false},
        {Fault::BrowseItemError, {"102"}, 1, OPC_E_UNKNOWNITEMID, false},
        {Fault::BrowseBadRightsAndPid, {"1", "2", "102"}, 2, OPC_E_WRITEONLY, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.fault));
        Switches().OfferBrowse = true;
        Switches().Mode = row.fault;
        Connect(kFaultyProgId);
        std::vector<TVelqorItemPropertyQuery> q{{kAnalog, {}}};
        connection->GetItemProperties(q, row.filter, true, false);
        ASSERT_EQ(q[0].Properties.size(), row.count);
        if (row.count > 0) {
            EXPECT_EQ(q[0].Properties[0].Error, row.firstError);
        }
        if (row.fellBack) {
            EXPECT_EQ(ById(q[0].Properties)[102].Value.AsDouble(), 10.0);
        }
    }
}

TEST_F(ComConnTest, MalformedOrFailedAnswersRaiseClearlyAndLeakNothing) {
    struct Row {
        Fault fault;
        bool browse;
        std::string error;  // empty: no exception, every entry carries the failure
    } const rows[] = {
        {Fault::QueryNullDescriptions, false,
         "wrong result from OPC Server (QueryAvailableProperties)"},
        {Fault::ValuesNull, false, "wrong result from OPC Server (GetItemProperties)"},
        {Fault::BrowseNullResults, true, "wrong result from OPC Server (GetProperties)"},
        {Fault::BrowseNullProperties, true, "wrong result from OPC Server (GetProperties)"},
        {Fault::ValuesFail, false, ""},
        {Fault::BrowseFails, true, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.fault));
        Switches().OfferBrowse = row.browse;
        Switches().Mode = row.fault;
        Connect(kFaultyProgId);
        std::vector<TVelqorItemPropertyQuery> q{{kAnalog, {}}, {kWriteOnly, {}}};
        try {
            EXPECT_FALSE(connection->GetItemProperties(q, {"2", "102"}, true, false));
            EXPECT_TRUE(row.error.empty());
            for (const auto& item : q) {
                ASSERT_FALSE(item.Properties.empty());
                for (const auto& p : item.Properties)
                    EXPECT_EQ(p.Error, E_FAIL) << "nothing read is reported as read";
            }
        } catch (const EOPCServerException& e) {
            EXPECT_EQ(e.what(), row.error);
        }
    }
}

TEST_F(ComConnTest, PropertyItemIdsAreLookedUp) {
    Connect("Velqor.SimDA20.1");
    std::string text = "stale";
    EXPECT_THROW(connection->GetItemPropertyValue(kAnalog, 2, text), EOPCException)
        << "the plant's properties have no item IDs";
    EXPECT_EQ(text, "");
    text = "stale";
    connection->GetItemPropertyValue("Plant/NoSuchItem", 2, text);  // the call itself failed
    EXPECT_EQ(text, "");
}

}  // namespace
}  // namespace velqor::test
