// Reading, writing, item properties and browsing against a peer.
#include <algorithm>
#include <map>

#include "IntegrationFixture.h"
#include "contract/VelqorError.h"

namespace velqor::integration {
namespace {

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<std::string> Names(const TVelqorBrowseItems& list) {
    std::vector<std::string> out;
    for (const auto& b : list) out.push_back(b->Name);
    return Sorted(out);
}

const TVelqorBrowseItem* Find(const TVelqorBrowseItems& list, const std::string& name) {
    for (const auto& b : list)
        if (b->Name == name) return b.get();
    return nullptr;
}

TVelqorItemList ListOf(TVelqorGroup* g, int first, int count) {
    TVelqorItemList l;
    for (int i = first; i < first + count; ++i) l.Add(g->OPCItems().Items(i));
    return l;
}

// Each written value is read back through another group, so that it comes from the server and
// not from what the write left in the item.
TEST_P(IntegrationTest, WrittenValuesReadBackAndRefusedWritesReportTheirErrors) {
    SKIP_WITHOUT_GROUPS();
    const auto writables = peer->Writables();
    const AnalogItem analog = peer->Analog();
    const int n = int(writables.size());
    std::vector<std::string> ids;
    for (const auto& w : writables) ids.push_back(w.ItemID);
    server->SetActive(true);
    TVelqorGroup* reader = AddGroup("Reader", ids, false);
    ids.push_back(analog.ItemID);
    ids.push_back(peer->WriteOnly().ItemID);
    TVelqorGroup* writer = AddGroup("Writer", ids, false);
    TVelqorItem* readOnly = writer->OPCItems().Items(n);
    TVelqorItem* writeOnly = writer->OPCItems().Items(n + 1);

    for (int i = 0; i < n; ++i)
        writer->OPCItems().Items(i)->SetWriteValue(writables[size_t(i)].Value);
    writeOnly->SetWriteValue(peer->WriteOnly().Value);
    TVelqorItemList good = ListOf(writer, 0, n);
    good.Add(writeOnly);
    EXPECT_TRUE(writer->WriteSync(good));
    for (TVelqorItemData* i : good) EXPECT_EQ(i->Error(), 0) << i->ItemID();

    EXPECT_TRUE(reader->ReadSync(false));
    for (int i = 0; i < n; ++i) {
        const TVelqorItem* r = reader->OPCItems().Items(i);
        EXPECT_EQ(r->Error(), 0) << r->ItemID();
        EXPECT_TRUE(r->IsGood()) << r->ItemID();
        EXPECT_EQ(r->Value(), writables[size_t(i)].Value)
            << r->ItemID() << ": " << (r->Value().IsArray() ? "array" : r->Value().ToText());
    }

    // A read-only item refuses the write and a write-only item cannot be read; neither failure
    // touches the other item of its batch.
    messages.clear();
    const double midRange = (analog.LowEU + analog.HighEU) / 2;
    readOnly->SetWriteValue(Variant::R8(midRange));
    TVelqorItemList mixed(readOnly);
    mixed.Add(writer->OPCItems().Items(0));
    EXPECT_FALSE(writer->WriteSync(mixed));
    EXPECT_EQ(readOnly->Error(), peer->ReadOnlyWriteError());
    EXPECT_EQ(writer->OPCItems().Items(0)->Error(), 0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(analog.ItemID + "- "), std::string::npos) << messages[0];

    TVelqorItemList readBack(writeOnly);
    readBack.Add(readOnly);
    EXPECT_FALSE(writer->ReadSync(readBack, false));
    EXPECT_NE(writeOnly->Error(), 0);
    EXPECT_FALSE(writeOnly->IsGood());
    EXPECT_EQ(readOnly->Error(), 0);
    EXPECT_TRUE(readOnly->IsGood());
    EXPECT_EQ(readOnly->Value().Type(), VT_R8);
    EXPECT_GE(readOnly->Value().AsDouble(), analog.LowEU);
    EXPECT_LE(readOnly->Value().AsDouble(), analog.HighEU);
}

TEST_P(IntegrationTest, AsynchronousWritesCompleteAndAsynchronousReadsArrive) {
    SKIP_WITHOUT_GROUPS();
    const WritableItem w = peer->Writables().front();
    const std::string readOnlyID = peer->Analog().ItemID;
    std::vector<std::string> complete, failed;
    server->OnWriteComplete = [&](TVelqorServer*, const TVelqorItemList& l) {
        for (auto* i : l) complete.push_back(i->ItemID());
    };
    server->OnWriteError = [&](TVelqorServer*, const TVelqorItemList& l) {
        for (auto* i : l) failed.push_back(i->ItemID());
    };
    server->SetActive(true);
    TVelqorGroup* writer = AddGroup("Writer", {w.ItemID, readOnlyID}, false);
    TVelqorGroup* reader = AddGroup("Reader", {w.ItemID}, false);
    TVelqorItem* target = writer->OPCItems().Items(0);
    TVelqorItem* readOnly = writer->OPCItems().Items(1);

    target->SetWriteValue(w.Value);
    TVelqorItemList one(target);
    EXPECT_TRUE(writer->WriteAsync(one));
    ASSERT_TRUE(PumpUntil([&] { return !complete.empty(); }));
    EXPECT_EQ(complete, std::vector<std::string>{w.ItemID});
    EXPECT_EQ(target->Error(), 0);

    TVelqorItemList readList(reader->OPCItems().Items(0));
    EXPECT_TRUE(reader->ReadAsync(readList));
    ASSERT_TRUE(PumpUntil([&] { return reader->OPCItems().Items(0)->Value() == w.Value; }));
    EXPECT_TRUE(reader->OPCItems().Items(0)->IsGood());

    // Refused at once or reported through the write-error event; either way the item says why.
    readOnly->SetWriteValue(Variant::R8(peer->Analog().LowEU));
    TVelqorItemList refused(readOnly);
    const bool accepted = writer->WriteAsync(refused);
    ASSERT_TRUE(
        PumpUntil([&] { return readOnly->Error() != 0 && (!accepted || !failed.empty()); }));
    EXPECT_EQ(readOnly->Error(), peer->ReadOnlyWriteError());
    if (!failed.empty()) {
        EXPECT_EQ(failed, std::vector<std::string>{readOnlyID});
    }
    EXPECT_EQ(complete.size(), 1u);
    EXPECT_TRUE(shown.empty()) << shown.front();
}

TEST_P(IntegrationTest, AnalogItemPropertiesGiveItsRangeAndUnits) {
    if (!peer->NoPropertiesReason().empty()) GTEST_SKIP() << peer->NoPropertiesReason();
    const AnalogItem analog = peer->Analog();
    server->SetActive(true);
    if (HasGroups()) {  // the item's attributes, through a group
        TVelqorGroup* g = AddGroup("G", {analog.ItemID}, false);
        TVelqorItem* item = g->OPCItems().Items(0);
        EXPECT_EQ(item->EUType(), 1);
        const Variant range = item->EUInfo();
        ASSERT_TRUE(range.IsArray());
        ASSERT_EQ(range.ArrayData().Elements.size(), 2u);
        EXPECT_DOUBLE_EQ(range.ArrayData().Elements[0].AsDouble(), analog.LowEU);
        EXPECT_DOUBLE_EQ(range.ArrayData().Elements[1].AsDouble(), analog.HighEU);
    }

    std::vector<TVelqorItemPropertyQuery> q{{analog.ItemID, {}}};
    ASSERT_TRUE(server->DAConnection()->GetItemProperties(q, {"100", "102", "103"}, true, false));
    // A transport may report the failed item in its result; the item's list says it anyway.
    q.push_back({peer->UnknownItem(), {}});
    server->DAConnection()->GetItemProperties(q, {"100", "102", "103"}, true, false);
    std::map<int32_t, Variant> values;
    for (const auto& p : q[0].Properties) {
        EXPECT_EQ(p.Error, 0) << p.PropertyID;
        values[p.PropertyID] = p.Value;
    }
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[100].ToText(), analog.Units);
    EXPECT_DOUBLE_EQ(values[102].AsDouble(), analog.HighEU);
    EXPECT_DOUBLE_EQ(values[103].AsDouble(), analog.LowEU);
    ASSERT_FALSE(q[1].Properties.empty());
    EXPECT_NE(q[1].Properties[0].Error, 0);
}

TEST_P(IntegrationTest, BrowsingFiltersBranchesItemsAndNames) {
    if (!peer->NoBrowserReason().empty())
        GTEST_SKIP() << "needs a browser: " << peer->NoBrowserReason();
    if (peer->FlatSpace()) GTEST_SKIP() << "a flat address space has no branches to walk";
    const BrowseBranch b = peer->Branch();
    server->SetActive(true);
    TVelqorBrowser& br = server->Browser();
    for (const std::string& name : b.Path) {
        br.Browse(1, false);
        ASSERT_TRUE(br.MoveDown(Find(br.BrowseItems(), name))) << name;
    }
    br.Browse(3, false);
    std::vector<std::string> all = b.Branches;
    all.insert(all.end(), b.Items.begin(), b.Items.end());
    EXPECT_EQ(Names(br.BrowseItems()), Sorted(all));
    br.Browse(1, false);
    EXPECT_EQ(Names(br.BrowseItems()), Sorted(b.Branches));
    for (const auto& e : br.BrowseItems()) EXPECT_TRUE(e->IsBranch && !e->IsItem) << e->Name;
    br.Browse(2, false);
    EXPECT_EQ(Names(br.BrowseItems()), Sorted(b.Items));
    for (const auto& e : br.BrowseItems()) EXPECT_TRUE(e->IsItem && !e->IsBranch) << e->Name;

    br.Filter = b.Mask;
    br.Browse(2, false);
    EXPECT_EQ(Names(br.BrowseItems()), Sorted(b.Masked));

    br.Filter.clear();
    ASSERT_TRUE(br.MoveToRoot());
    br.Browse(1, false);
    EXPECT_NE(Find(br.BrowseItems(), b.Path.front()), nullptr);
}

// A flat listing from the root holds every item whose ID matches the mask, on every kind of
// address space.
TEST_P(IntegrationTest, FlatBrowsingListsMatchingItemsOfAllLevels) {
    if (!peer->NoBrowserReason().empty())
        GTEST_SKIP() << "needs a browser: " << peer->NoBrowserReason();
    server->SetActive(true);
    TVelqorBrowser& br = server->Browser();
    br.Filter = "Plant/*";
    br.BrowseAll(true);
    std::vector<std::string> ids;
    for (const auto& e : br.BrowseItems()) {
        EXPECT_TRUE(e->IsItem) << e->Name;
        ids.push_back(e->CombinedID());
    }
    EXPECT_EQ(Sorted(ids), Sorted({"Plant/Area1/Tank1/Level", "Plant/Area1/Tank1/Setpoint",
                                   "Plant/Area1/Tank1/Temperature", "Plant/Area1/Tank1/Valve",
                                   "Plant/Area2/Pump1/Command", "Plant/Area2/Pump1/Mode",
                                   "Plant/Area2/Pump1/Running", "Plant/Area2/Pump1/Speed"}));
    EXPECT_EQ(br.Position()->ItemName, "") << "the listing leaves the position at the root";
}

// What the browser gives is what a group accepts.
TEST_P(IntegrationTest, BrowsedItemsAreAcceptedByAGroup) {
    if (!peer->NoBrowserReason().empty())
        GTEST_SKIP() << "needs a browser: " << peer->NoBrowserReason();
    SKIP_WITHOUT_GROUPS();
    server->SetActive(true);
    TVelqorBrowser& br = server->Browser();
    br.Filter = "Plant/Area1/*";
    br.BrowseAll(true);
    std::vector<std::string> ids;
    for (const auto& e : br.BrowseItems()) ids.push_back(e->CombinedID());
    ASSERT_EQ(ids.size(), 4u);
    TVelqorGroup* g = AddGroup("Browsed", ids, false);
    EXPECT_TRUE(g->ReadSync(false));
    for (int i = 0; i < g->OPCItems().Count(); ++i)
        EXPECT_TRUE(g->OPCItems().Items(i)->IsGood()) << g->OPCItems().Items(i)->ItemID();
}

}  // namespace
}  // namespace velqor::integration
