// Groups and items against the fake transport: the collections, the setters' rules, batch mode,
// the item-error report, value texts and the group-level reads and writes.
#include <cmath>
#include <sstream>

#include "ModelFixture.h"

namespace velqor::testing {
namespace {

int LineCount(const std::string& text) {
    int n = 0;
    for (size_t p = 0; (p = text.find("\r\n", p)) != std::string::npos; p += 2) ++n;
    return n;
}

using Groups = ModelTest;

TEST_F(Groups, NamesAreUniqueCaseSensitiveAndNotBlank) {
    auto& groups = server->OPCGroups();
    groups.AddGroup("G1");
    try {
        groups.AddGroup("G1");
        ADD_FAILURE();
    } catch (const EOPCGroupException& e) {
        EXPECT_STREQ(e.what(), "Group G1 already exists");
    }
    EXPECT_THROW(groups.AddGroup("  "), EOPCGroupException);
    EXPECT_THROW(groups.AddGroup(""), EOPCGroupException);
    EXPECT_EQ(groups.Count(), 1);
    groups.AddGroup("g1");
    EXPECT_EQ(groups.Count(), 2);
    EXPECT_EQ(groups.IndexOfGroup("g1"), 1);
    EXPECT_EQ(groups.FindGroup("G2"), nullptr);
    try {
        groups.RemoveGroup("G2");
        ADD_FAILURE();
    } catch (const EOPCGroupException& e) {
        EXPECT_STREQ(e.what(), "Group not found");
    }
    // Collection IDs are never reused, so a late message for a removed group finds nothing.
    int32_t removedID = groups.FindGroup("G1")->ID();
    groups.RemoveGroup("G1");
    EXPECT_NE(groups.AddGroup("G1")->ID(), removedID);
}

TEST_F(Groups, NewGroupsTakeTheTemplateAndSubscribeResetsAfterCreate) {
    auto& d = server->OPCGroupDefault();
    d.UpdateRate = 250;
    d.IsActive = false;
    d.DeadBand = 1.5f;
    d.LocaleId = 1031;
    d.TimeBias = -60;
    d.Subscribe = false;
    server->SetActive(true);
    auto* g = server->OPCGroups().AddGroup("G1");
    EXPECT_EQ(g->UpdateRate(), 250);
    EXPECT_FALSE(g->IsActive());
    EXPECT_FLOAT_EQ(g->DeadBand(), 1.5f);
    auto s = fake->GroupNamed("G1")->Snapshot();
    EXPECT_FALSE(s.Subscribe);
    EXPECT_FALSE(s.Active);
    EXPECT_EQ(s.LocaleId, 1031);
    EXPECT_EQ(s.TimeBias, -60);
    EXPECT_EQ(s.ClientHandle, g->ID());
    EXPECT_TRUE(d.Subscribe);
    ASSERT_TRUE(g->Event());
    EXPECT_FALSE(g->Event()->Name().empty());
}

TEST_F(Groups, SettersSendAllSettingsStoreGrantedRateAndClampDeadBand) {
    auto* g = server->OPCGroups().AddGroup("G1");
    g->SetDeadBand(-3);
    EXPECT_FLOAT_EQ(g->DeadBand(), 0);
    g->SetDeadBand(250);
    EXPECT_FLOAT_EQ(g->DeadBand(), 100);
    g->SetDeadBand(std::nanf(""));
    EXPECT_FLOAT_EQ(g->DeadBand(), 100);
    g->SetUpdateRate(100);
    EXPECT_EQ(g->UpdateRate(), 100) << "without a server the value is stored as given";
    EXPECT_TRUE(fake->Calls().empty());

    server->SetActive(true);
    fake->SetGrantedRate(750);
    fake->ClearCalls();
    g->SetUpdateRate(500);
    EXPECT_EQ(g->UpdateRate(), 750);
    g->SetUpdateRate(750);  // unchanged: nothing sent
    g->SetDeadBand(12.5f);
    g->SetXMLHoldtime(2000);
    g->SetTimeBias(30);
    g->SetLocaleId(7);
    g->SetIsActive(false);
    g->SetName("Renamed");
    auto calls = fake->Calls();
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[0].Args, "500,1,0,100,0," + std::to_string(g->ID()) + ",0,0");
    EXPECT_EQ(calls[1].Args, "750,1,0,12.5,0," + std::to_string(g->ID()) + ",0,0");
    EXPECT_EQ(calls[2].Args, "750,1,0,12.5,0," + std::to_string(g->ID()) + ",2000,0");
    EXPECT_EQ(calls[5].Args, "750,0,30,12.5,7," + std::to_string(g->ID()) + ",2000,0");

    // No rate below the shortest: neither asked for nor taken from the server's revision.
    g->SetUpdateRate(0);
    EXPECT_EQ(fake->Calls().back().Args.substr(0, 2), "1,");
    fake->SetGrantedRate(-5);
    g->SetUpdateRate(20);
    EXPECT_EQ(g->UpdateRate(), 1);
    EXPECT_EQ(calls[6].Text(), "G1.SetName(Renamed)");
    EXPECT_EQ(server->OPCGroups().IndexOfGroup("Renamed"), 0);
    tVelqorGroupStateRec state;
    g->GetGroupState(state);
    EXPECT_EQ(state.Name, "Renamed");
    EXPECT_FALSE(state.Active);
}

TEST_F(Groups, FailedCreateInAddGroupDropsTheGroup) {
    server->SetActive(true);
    fake->FailCall("Create", OPC_E_INVALIDITEMID);
    EXPECT_THROW(server->OPCGroups().AddGroup("G1"), EOPCException);
    EXPECT_EQ(server->OPCGroups().Count(), 0);
    EXPECT_EQ(fake->CountCalls("Remove"), 0);
}

TEST_F(Groups, RemovingGroupsRemovesThemFromTheServer) {
    ConnectWithGroup({"a"});
    server->OPCGroups().AddGroup("G2");
    server->OPCGroups().AddGroup("G3");
    fake->ClearCalls();
    server->OPCGroups().RemoveGroup("G2");
    EXPECT_EQ(fake->Ops(), (Ops{"G2.Remove"}));
    fake->FailCall("Remove");
    EXPECT_THROW(server->OPCGroups().RemoveGroup("G3"), Exception);
    EXPECT_EQ(server->OPCGroups().Count(), 1) << "the group goes whatever the server said";
    server->OPCGroups().RemoveAll();
    EXPECT_EQ(server->OPCGroups().Count(), 0);
    EXPECT_EQ(fake->LiveGroupCount(), 0);
}

TEST_F(Groups, EveryGroupIsRemovedEvenWhenOneRemovalFails) {
    ConnectWithGroup({});
    server->OPCGroups().AddGroup("G2");
    fake->FailCall("Remove");
    EXPECT_THROW(server->SetActive(false), Exception);
    EXPECT_FALSE(server->Active());
    EXPECT_FALSE(server->OPCGroups().Items(1)->TransportGroup());
    server->SetActive(true);
    EXPECT_EQ(fake->CountCalls("Create"), 4) << "both groups are created again";
}

using Items = ModelTest;

TEST_F(Items, AddItemTakesTheDefaultsAndIsAddedAtOnce) {
    server->SetActive(true);
    auto* g = server->OPCGroups().AddGroup("G1");
    g->DefaultItem().IsActive = false;
    g->DefaultItem().AccessPath = "path";
    g->DefaultItem().RequestDataType = vtI4;
    fake->SetItemInfo("a", VT_I4, 1);
    auto* a = g->OPCItems().AddItem("a");
    EXPECT_FALSE(a->IsActive());
    EXPECT_EQ(a->AccessPath(), "path");
    EXPECT_EQ(a->RequestedDatatype(), vtI4);
    EXPECT_EQ(a->RequestDatatype(), vtEMPTY);
    EXPECT_NE(a->ServerHandle(), -1);
    EXPECT_EQ(a->CanonicalDatatype(), VT_I4);
    EXPECT_EQ(a->AccessRights(), 1);
    EXPECT_EQ(a->Group(), g);
    EXPECT_EQ(a->EUType(), 0) << "asked from the group on first use";
    EXPECT_EQ(fake->CountCalls("GetItemAttributes"), 1);
    a->EUType();
    EXPECT_EQ(fake->CountCalls("GetItemAttributes"), 1);
}

TEST_F(Items, AddedItemsKeepTheirIdentityAndSettersReachTheServer) {
    auto* g = ConnectWithGroup({"a"});
    auto* a = g->OPCItems().Items(0);
    try {
        a->SetItemID("b");
        ADD_FAILURE();
    } catch (const EOPCItemException& e) {
        EXPECT_STREQ(e.what(), "Not possible if connected to OPC server");
    }
    EXPECT_THROW(a->SetAccessPath("p"), EOPCItemException);
    EXPECT_EQ(a->ItemID(), "a");
    fake->ClearCalls();
    a->SetIsActive(true);  // unchanged
    a->SetIsActive(false);
    a->SetRequestDatatype(vtI2 | 0x80);
    EXPECT_EQ(a->RequestDatatype(), vtI2);
    a->SetRequestDatatype(vtI2);
    a->SetRequestDatatype(vtI2);  // unchanged
    EXPECT_EQ(fake->Ops(), (Ops{"G1.Deactivate", "G1.SetDatatypes", "G1.SetDatatypes"}));
    EXPECT_FALSE(a->IsActive());
}

TEST_F(Items, DataTypeOfAnItemTheServerRefusedRaises) {
    fake->FailItem("bad", OPC_E_UNKNOWNITEMID);
    auto* g = ConnectWithGroup({"bad"});
    auto* bad = g->OPCItems().Items(0);
    EXPECT_EQ(bad->ServerHandle(), -1);
    EXPECT_EQ(bad->Error(), OPC_E_UNKNOWNITEMID);
    try {
        bad->SetRequestDatatype(vtR4);
        ADD_FAILURE();
    } catch (const EOPCServerException& e) {
        EXPECT_STREQ(e.what(), "Item bad not exists on OPC server");
    }
}

TEST_F(Items, FailuresAreReportedTogetherShownOrRaised) {
    server->OPCGroups().AddGroup("G1");
    auto& items = server->OPCGroups().Items(0)->OPCItems();
    for (int i = 0; i < 30; ++i) {
        std::string id = "bad" + std::to_string(i);
        fake->FailItem(id, OPC_E_UNKNOWNITEMID);
        items.AddItem(id);
    }
    items.AddItem("good");
    server->SetActive(true);  // one AddItems for all 31
    EXPECT_EQ(fake->CountCalls("AddItems"), 1);
    ASSERT_EQ(messages.size(), 1u);
    const std::string& report = messages[0];
    EXPECT_EQ(report.rfind("Cannot add Items:\r\nbad0- The item is no longer available in the "
                           "server address space.\r\n",
                           0),
              0u);
    EXPECT_EQ(LineCount(report), 27) << "caption and 26 item lines";
    EXPECT_EQ(report.find("bad26"), std::string::npos);
    EXPECT_EQ(items.Items(30)->Error(), 0);

    // With the switch on the same report is raised; a list without failures reports nothing.
    SetRaiseItemErrors(true);
    fake->FailItem("bad30", OPC_E_BADRIGHTS);
    EXPECT_THROW(items.AddItem("bad30"), EOPCItemException);
    EXPECT_EQ(items.Count(), 32) << "the item stays, local";
    EXPECT_NO_THROW(items.AddItem("fine"));
    messages.clear();
    TVelqorItemList none(items.Items(30));
    none.Report("Caption", false);
    EXPECT_TRUE(messages.empty());
}

TEST_F(Items, ErrorTextIsWordedByTheConnection) {
    fake->FailItem("a", OPC_E_BADRIGHTS);
    fake->FailItem("b", -5);
    fake->SetErrorText(OPC_E_BADRIGHTS, "Zugriff verweigert");
    fake->SetErrorText(-5, "  ");
    auto* g = ConnectWithGroup({"a", "b", "c"});
    EXPECT_EQ(g->OPCItems().Items(0)->ErrorText(), "Zugriff verweigert");
    EXPECT_EQ(g->OPCItems().Items(1)->ErrorText(), "Unknown error : -5");
    EXPECT_EQ(g->OPCItems().Items(2)->ErrorText(), "");
    server->SetActive(false);
    EXPECT_EQ(g->OPCItems().Items(0)->ErrorText(),
              "The Items AccessRights do not allow the operation.")
        << "without a connection the result table words it";
}

TEST_F(Items, BatchModeKeepsSingleChangesLocalUntilTheGroupIsCreatedAgain) {
    auto* g = ConnectWithGroup({"a"});
    server->SetBatchMode(true);
    fake->ClearCalls();
    auto* b = g->OPCItems().AddItem("b");
    g->OPCItems().Items(0)->SetIsActive(false);
    g->OPCItems().Delete(0);
    EXPECT_EQ(b->ServerHandle(), -1);
    EXPECT_TRUE(fake->Calls().empty());
    server->SetActive(false);
    server->SetActive(true);
    EXPECT_NE(b->ServerHandle(), -1);
    EXPECT_EQ(fake->CountCalls("AddItems"), 1);
}

TEST_F(Items, RemovingItemsRemovesThemFromTheServer) {
    auto* g = ConnectWithGroup({"a", "b", "c"});
    fake->ClearCalls();
    g->OPCItems().RemoveItem(g->OPCItems().Items(1));
    EXPECT_EQ(fake->Calls().at(0).Text(), "G1.RemoveItems(b)");
    EXPECT_THROW(g->OPCItems().RemoveItem(nullptr), EOPCItemException);
    g->OPCItems().RemoveAll();
    EXPECT_EQ(fake->Calls().at(1).Text(), "G1.RemoveItems(a,c)");
    EXPECT_EQ(g->OPCItems().Count(), 0);
    EXPECT_TRUE(fake->GroupNamed("G1")->ServerItems().empty());
}

TEST_F(Items, DesignModeValidatesInsteadOfAddingAndLeavesComItemsAlone) {
    server->SetDesigning(true);
    auto* g = ConnectWithGroup({"a"});
    auto* a = g->OPCItems().Items(0);
    EXPECT_EQ(fake->Ops({"AddItems", "ValidateItems"}), (Ops{"G1.ValidateItems"}));
    EXPECT_EQ(a->ServerHandle(), -1);
    fake->ClearCalls();
    a->SetIsActive(false);
    a->SetRequestDatatype(vtI4);
    a->SetAccessPath("p");  // validated again
    g->OPCItems().RemoveAll();
    EXPECT_EQ(fake->Ops(), (Ops{"G1.ValidateItems"}));

    // Over XML-DA the active flag still reaches the server in design mode.
    server->SetProtocol(coXML);
    auto* b = server->OPCGroups().Items(0)->OPCItems().AddItem("b");
    fake->ClearCalls();
    b->SetIsActive(false);
    EXPECT_EQ(fake->Ops(), (Ops{"G1.Deactivate"}));
}

TEST_F(Items, EUTypeStaysUnknownWithoutAServer) {
    auto* g = server->OPCGroups().AddGroup("G1");
    auto* a = g->OPCItems().AddItem("a");
    EXPECT_EQ(a->EUType(), -1);
    EXPECT_TRUE(a->EUInfo().IsNull());
    fake->SetItemEU("a", 2, Variant::Array(VT_BSTR, {Variant("off"), Variant("on")}));
    server->SetActive(true);
    EXPECT_EQ(a->EUType(), 2);
    EXPECT_EQ(a->EUInfo().ArrayData().Elements.size(), 2u);
}

TEST(ItemValueText, ScalarsArraysAndNestedArrays) {
    PlainEventLoop loop;
    TVelqorServer server(&loop);
    auto* item = server.OPCGroups().AddGroup("G")->OPCItems().AddItem("x");
    EXPECT_EQ(item->ValueText(), "");
    auto textOf = [item](Variant v) {
        ItemUpdate u;
        u.Fields = ItemUpdate::kValue;
        u.Value = std::move(v);
        item->ApplyUpdate(u);
        return item->ValueText();
    };
    EXPECT_EQ(textOf(Variant(int32_t(42))), "42");
    EXPECT_EQ(textOf(Variant::Array(VT_I4, {Variant(int32_t(1)), Variant(int32_t(2))})), "1;2;");
    EXPECT_EQ(
        textOf(Variant::Array(VT_VARIANT,
                              {Variant::Array(VT_I4, {Variant(int32_t(1)), Variant(int32_t(2))}),
                               Variant(int32_t(3))},
                              5)),
        "<1;2;>3;");
    EXPECT_EQ(textOf(Variant::Array(VT_BOOL, {Variant(true), Variant(false)})), "True;False;");
    EXPECT_EQ(textOf(Variant::Array(VT_R8, {})), "");
}

using GroupCalls = ModelTest;

TEST_F(GroupCalls, ReadsAndWritesOverTheAddedItems) {
    fake->FailItem("refused", OPC_E_UNKNOWNITEMID);
    auto* g = ConnectWithGroup({"a", "b", "refused"});
    auto* a = g->OPCItems().Items(0);
    auto* b = g->OPCItems().Items(1);
    fake->SetItemValue("a", Variant(int32_t(5)), 0xC0, 45000.5);
    fake->SetItemValue("b", Variant::AnsiStr("text"), 0x40);
    messages.clear();
    fake->ClearCalls();

    EXPECT_TRUE(g->ReadSync(true));
    EXPECT_EQ(fake->Calls().at(0).Text(), "G1.ReadCache(a,b)") << "only items the server knows";
    EXPECT_EQ(a->Value(), Variant(int32_t(5)));
    EXPECT_EQ(a->TimeStamp(), 45000.5);
    EXPECT_TRUE(a->IsGood());
    EXPECT_EQ(b->Value().Type(), VT_BSTR) << "8-bit text is stored as wide text";
    EXPECT_FALSE(b->IsGood());

    a->SetWriteValue(Variant(int32_t(9)));
    b->SetWriteValue(Variant("x"));
    EXPECT_TRUE(g->WriteSync());
    EXPECT_EQ(fake->Calls().back().Text(), "G1.WriteSync(a=9,b=x)");
    fake->FailItem("b", OPC_E_READONLY);
    EXPECT_FALSE(g->WriteSync());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0],
              "Cannot write Items:\r\nb- The value is read only and may not be written to\r\n");
    fake->FailItem("b", 0);

    TVelqorItemList justA(a);
    EXPECT_TRUE(g->ReadSync(justA, false));
    EXPECT_EQ(a->Value(), Variant(int32_t(9)));
    EXPECT_TRUE(g->GetItemAttributes());
    g->Cancel();
    g->Refresh(false);
    EXPECT_EQ(fake->Ops({"ReadDevice", "GetItemAttributes", "Cancel", "Refresh"}),
              (Ops{"G1.ReadDevice", "G1.GetItemAttributes", "G1.Cancel", "G1.Refresh"}));

    server->SetActive(false);
    try {
        g->ReadSync(true);
        ADD_FAILURE();
    } catch (const EOPCServerException& e) {
        EXPECT_STREQ(e.what(), "Not connected to server");
    }
    EXPECT_THROW(g->Refresh(true), EOPCServerException);
}

}  // namespace
}  // namespace velqor::testing
