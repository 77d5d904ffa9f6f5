// The main window on the fake transport: start, connect, server list, groups, items, the
// status refresh, shutdown, data changes and export.
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "MainWindowFixture.h"
#include "OPCGroupDlg.h"
#include "VelqorDlgBrowse.h"
#include "contract/VelqorDateTime.h"
#include "uMainExport.h"

using namespace velqor;
using apptest::MainWindowTest;
using apptest::Recorded;

namespace {

TEST_F(MainWindowTest, StartsWithCaptionsAndEmptyServerBoxWithoutIni) {
    EXPECT_EQ(form->windowTitle(), "Tagscope");
    EXPECT_EQ(form->size(), QSize(646, 448));
    form->show();
    EXPECT_EQ(form->ServerCombo->currentText(), "");
    EXPECT_EQ(form->LServer->text(), "not connected");
    EXPECT_EQ(form->Panel3->title(), "Sever state");
    EXPECT_EQ(form->Panel4->title(), "Group state");
    EXPECT_EQ(form->ServerCombo->toolTip(), "Select OPC Server");
    EXPECT_EQ(form->bRemoteConnect->toolTip(), "Connect to remote server");
    EXPECT_EQ(form->bConnect->toolTip(), "Connect to server");
    EXPECT_EQ(form->BDisconnect->toolTip(), "Disconnect from server");
    EXPECT_EQ(form->TreeView1->toolTip(), "click right mousekey to edit groups");
    EXPECT_EQ(form->ItemView->toolTip(), "click right mousekey to edit Items");
    QStringList cols;
    for (int c = 0; c < kItemColumns; ++c)
        cols << form->ItemModel->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(cols, QStringList({"ItemId", "Accesspath", "Active", "Value", "Time", "Quality"}));
    QStringList menus;
    // Captions as shown: the mnemonic markers are not part of them.
    for (QAction* a : form->menuBar()->actions()) menus << a->text().remove('&');
    EXPECT_EQ(menus, QStringList({"File", "View", QString::fromUtf8("О программе")}));
    EXPECT_EQ(form->Exit1->shortcut(), QKeySequence(Qt::ALT | Qt::Key_F4));
    QStringList group, item;
    for (QAction* a : form->GroupPopup->actions()) group << a->text().remove('&');
    for (QAction* a : form->ItemPopup->actions()) item << a->text().remove('&');
    EXPECT_EQ(group,
              QStringList({"Add Group...", "Remove Group", "Remove all Groups", "Properties..."}));
    EXPECT_EQ(item, QStringList({"Add Item..", "Remove Item", "Remove all Items", "Active", "",
                                 "Write Value...", "Item Properties..."}));
    EXPECT_TRUE(form->Active1->isCheckable());
    // The value labels carry the marker; the caption labels do not.
    int tagged = 0;
    for (QLabel* l : form->findChildren<QLabel*>()) tagged += l->property("tag").toInt() == 1;
    EXPECT_EQ(tagged, 9);
    EXPECT_EQ(form->Timer1->interval(), 1000);
    EXPECT_TRUE(form->Timer1->isActive());
    // The first tick finds no connection and switches the timer off.
    form->Timer1Timer();
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->LServer->text(), "not connected");
    EXPECT_EQ(Server().ConnectDelay(), 300);
    EXPECT_EQ(Server().KeepAlive(), 0);
}

TEST_F(MainWindowTest, ServerBoxRestoresLastServerAndRunScriptOverride) {
    form->Ini.WriteLast("Remembered.Server");
    form->show();
    EXPECT_EQ(form->ServerCombo->currentText(), "Remembered.Server");
    form->ServerCombo->setEditText("x");
    qputenv("TAGSCOPE_SERVER", "http://127.0.0.1:1/OpcXmlDa");
    form->FormShow();
    EXPECT_EQ(form->ServerCombo->currentText(), "http://127.0.0.1:1/OpcXmlDa");
    qputenv("TAGSCOPE_SERVER", "");
    form->FormShow();
    qunsetenv("TAGSCOPE_SERVER");
    EXPECT_EQ(form->ServerCombo->currentText(), "") << "set to nothing: an empty box";
}

TEST_F(MainWindowTest, ConnectActivatesStartsTimerAndRemembersServer) {
    form->show();
    form->Timer1->stop();
    ConnectTo("Sim.Server.1");
    EXPECT_TRUE(fake->Connected());
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(form->Ini.ReadLast(), "Sim.Server.1");
    auto calls = fake->Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].Op, "Connect");
    EXPECT_EQ(calls[0].Args.substr(0, 15), ",Sim.Server.1,,");  // no client name, local computer
    EXPECT_TRUE(Recorded().errors.empty());

    form->BDisconnect->click();
    EXPECT_FALSE(Server().Active());
    form->Timer1Timer();
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->LServer->text(), "not connected");
}

TEST_F(MainWindowTest, FailedConnectIsShownAndWritesNothing) {
    form->show();
    form->Ini.WriteLast("Old.Server");
    form->Timer1->stop();
    fake->FailCallWithText("Connect", "Unable to connect to OPC server Bad.Server");
    form->ServerCombo->setEditText("Bad.Server");
    form->bConnect->click();
    EXPECT_FALSE(Server().Active());
    ASSERT_EQ(Recorded().errors.size(), 1u);
    EXPECT_EQ(Recorded().errors[0], "Unable to connect to OPC server Bad.Server");
    EXPECT_EQ(form->Ini.ReadLast(), "Old.Server");
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_TRUE(form->isVisible()) << "the window stays usable";

    // The status bar tells the error until a connect works; the message log keeps it.
    EXPECT_TRUE(form->StatusLine->text().contains("Last error: Unable to connect"));
    form->bConnect->click();
    ASSERT_TRUE(Server().Active());
    EXPECT_FALSE(form->StatusLine->text().contains("Last error"))
        << form->StatusLine->text().toStdString();
    ASSERT_EQ(form->Messages().size(), 1);
    EXPECT_TRUE(form->Messages()[0].contains(QRegularExpression(
        "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}  Unable to connect")))
        << form->Messages()[0].toStdString();
}

TEST_F(MainWindowTest, AddItemSaysWhatItNeeds) {
    form->show();
    form->A1->trigger();
    ASSERT_EQ(Recorded().messages.size(), 1u);
    EXPECT_EQ(Recorded().messages[0], "Connect to a server first.");
}

TEST_F(MainWindowTest, MistypedAddressesAreNamedAndEnterConnects) {
    form->show();
    form->Timer1->stop();
    const char* bad[] = {"htp:/host", "http:/host", "http://", "ftp://host/x", "Sim/Server"};
    for (const char* text : bad) {
        Recorded().errors.clear();
        form->ServerCombo->setEditText(text);
        form->bConnect->click();
        EXPECT_FALSE(Server().Active()) << text;
        ASSERT_EQ(Recorded().errors.size(), 1u) << text;
        EXPECT_NE(Recorded().errors[0].find("is not a valid server address"), std::string::npos)
            << Recorded().errors[0];
    }
    EXPECT_EQ(fake->CountCalls("Connect"), 0) << "nothing was sent for a bad address";
    // Enter in the server box connects.
    form->ServerCombo->setEditText("Sim.Server.1");
    QTest::keyClick(form->ServerCombo->lineEdit(), Qt::Key_Return);
    EXPECT_TRUE(Server().Active());
    EXPECT_FALSE(form->bConnect->isEnabled());
    EXPECT_TRUE(form->BDisconnect->isEnabled());
}

TEST_F(MainWindowTest, RemoteConnectAsksForComputerNameBlankConnectsLocally) {
    form->show();
    form->ServerCombo->setEditText("Sim.Server.1");
    apptest::WhenDialog<QInputDialog>([](QInputDialog* box) {
        EXPECT_EQ(box->windowTitle(), "Select remote Computer");
        EXPECT_EQ(box->labelText(), "Computername");
        EXPECT_EQ(box->textValue(), "");
        box->accept();
    });
    form->bRemoteConnect->click();
    EXPECT_TRUE(Server().Active());
    EXPECT_EQ(Server().ComputerName(), "");

    form->bDisconnectClick();
    apptest::WhenDialog<QInputDialog>([](QInputDialog* box) {
        box->setTextValue("plant-pc");
        box->accept();
    });
    form->bRemoteConnect->click();
    EXPECT_EQ(Server().ComputerName(), "plant-pc");
    EXPECT_EQ(fake->Calls().back().Op, "Connect");

    form->bDisconnectClick();
    apptest::WhenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    form->bRemoteConnect->click();
    EXPECT_FALSE(Server().Active()) << "cancel connects nowhere";
}

TEST_F(MainWindowTest, ServerListIsReadOnceOnFirstDropDown) {
    fake->SetServerList({{"Sim DA 2", "Sim.DA.2", "{1}", ServerSetOf(svr_DA20)},
                         {"Sim DA 3", "Sim.DA.3", "{2}", ServerSetOf(svr_DA30)},
                         {"Sim AE", "Sim.AE.1", "{3}", ServerSetOf(svr_AE10)}});
    form->ListServers = [this](std::vector<std::string>& s) {
        velqor::fake::FakeServerList list(fake);
        ListLocalServers(s, list);
    };
    form->show();
    form->ServerCombo->setEditText("typed.name");
    form->ServerCombo->showPopup();
    form->ServerCombo->hidePopup();
    ASSERT_EQ(form->ServerCombo->count(), 2);
    EXPECT_EQ(form->ServerCombo->itemText(0), "Sim.DA.2");
    EXPECT_EQ(form->ServerCombo->itemText(1), "Sim.DA.3");
    EXPECT_EQ(form->ServerCombo->currentText(), "typed.name") << "the typed text stays";
    form->ServerCombo->showPopup();
    form->ServerCombo->hidePopup();
    EXPECT_EQ(fake->CountCalls("GetServerList"), 1);
    auto calls = fake->Calls();
    EXPECT_EQ(calls[0].Args, "7,,0") << "DA 1.0, 2.0 and 3.0 servers of this computer";
}

TEST_F(MainWindowTest, ServerListFailureIsShownAndRetriedNextTime) {
    form->ListServers = [](std::vector<std::string>&) {
        throw EOPCServerListException("unknown error: interface IOPCServerList not found");
    };
    form->show();
    form->ServerCombo->showPopup();
    form->ServerCombo->hidePopup();
    ASSERT_EQ(Recorded().errors.size(), 1u);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the wait cursor is restored";
    int calls = 0;
    form->ListServers = [&](std::vector<std::string>& s) {
        ++calls;
        s = {"A.B"};
    };
    form->ServerCombo->showPopup();
    form->ServerCombo->hidePopup();
    EXPECT_EQ(calls, 1);
}

TEST_F(MainWindowTest, AddGroupCreatesNodeAndUpdatesTemplate) {
    form->show();
    ConnectTo();
    AddGroupViaDialog("G1", "500");
    ASSERT_EQ(form->TreeView1->topLevelItemCount(), 1);
    EXPECT_EQ(form->TreeView1->currentItem()->text(0), "G1");
    TVelqorGroup* g = Server().OPCGroups().FindGroup("G1");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->UpdateRate(), 500);
    EXPECT_EQ(Server().OPCGroupDefault().UpdateRate, 500) << "the next group starts from it";
    EXPECT_NE(fake->GroupNamed("G1"), nullptr);
    EXPECT_EQ(form->SelectedGroup(), g);

    // A duplicate name is refused in the dialog, which stays open for another name.
    bool stayedOpen = false;
    apptest::WhenDialog<TEditGroupDlg>([&stayedOpen](TEditGroupDlg* dlg) {
        dlg->eGroupName->setText("G1");
        dlg->bOk->click();
        stayedOpen = dlg->isVisible() && dlg->result() != QDialog::Accepted;
        dlg->reject();
    });
    form->AddGroup1->trigger();
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(Recorded().messages.size(), 1u);
    EXPECT_EQ(Recorded().messages[0], "A group named \"G1\" already exists. Choose another name.");
    EXPECT_EQ(form->TreeView1->topLevelItemCount(), 1);
    EXPECT_EQ(Server().OPCGroups().Count(), 1);
    // Renaming another group to a used name is refused the same way.
    AddGroupViaDialog("G2");
    ASSERT_EQ(form->TreeView1->topLevelItemCount(), 2);
    apptest::WhenDialog<TEditGroupDlg>([](TEditGroupDlg* dlg) {
        dlg->eGroupName->setText("G1");
        dlg->bOk->click();
        dlg->reject();
    });
    form->Properties1->trigger();
    EXPECT_EQ(Recorded().messages.size(), 2u);
    EXPECT_NE(Server().OPCGroups().FindGroup("G2"), nullptr);
    EXPECT_EQ(form->TreeView1->currentItem()->text(0), "G2");

    // Cancel adds nothing.
    apptest::WhenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    form->AddGroup1->trigger();
    EXPECT_EQ(form->TreeView1->topLevelItemCount(), 2);
}

TEST_F(MainWindowTest, RemoveGroupAndRemoveAllGroups) {
    form->show();
    ConnectTo();
    AddGroupViaDialog("G1");
    AddGroupViaDialog("G2");
    AddGroupViaDialog("G3");
    Server().OPCGroups().FindGroup("G3")->OPCItems().AddItem("A.X");
    SelectNode(0);
    SelectNode(2);
    EXPECT_EQ(form->ItemModel->Count(), 1);
    form->RemoveGroup1->trigger();
    EXPECT_EQ(Server().OPCGroups().FindGroup("G3"), nullptr);
    EXPECT_EQ(form->TreeView1->topLevelItemCount(), 2);
    EXPECT_EQ(form->ItemModel->Count(), 0);
    EXPECT_EQ(fake->GroupNamed("G3"), nullptr);

    form->RemoveallGroups1->trigger();
    EXPECT_EQ(Server().OPCGroups().Count(), 0);
    EXPECT_EQ(form->TreeView1->topLevelItemCount(), 0);
    EXPECT_TRUE(Recorded().errors.empty());
}

TEST_F(MainWindowTest, RemoveGroupWhoseNodeDisagreesShowsGroupNotFound) {
    form->show();
    AddGroupViaDialog("G1");
    form->TreeView1->currentItem()->setText(0, "Renamed");
    form->RemoveGroup1->trigger();
    ASSERT_EQ(Recorded().errors.size(), 1u);
    EXPECT_EQ(Recorded().errors[0], "Group not found");
    EXPECT_EQ(form->TreeView1->topLevelItemCount(), 1);
}

TEST_F(MainWindowTest, PropertiesMessagesAndApply) {
    form->show();
    form->Properties1->trigger();
    EXPECT_EQ(Recorded().messages, std::vector<std::string>{"First select Group"});

    ConnectTo();
    AddGroupViaDialog("G1");
    form->TreeView1->currentItem()->setText(0, "Other");
    form->Properties1->trigger();
    EXPECT_EQ(Recorded().messages.back(), "ERROR");
    form->TreeView1->currentItem()->setText(0, "G1");

    TVelqorGroup* g = Server().OPCGroups().FindGroup("G1");
    g->SetTimeBias(30);
    apptest::WhenDialog<TEditGroupDlg>([](TEditGroupDlg* dlg) {
        EXPECT_EQ(dlg->eGroupName->text(), "G1");
        dlg->eGroupName->setText("Boiler");
        dlg->eUpdateRate->setText("2000");
        dlg->eDeadBand->setText("5");
        dlg->cActive->setChecked(false);
        dlg->bOk->click();
    });
    fake->ClearCalls();
    form->Properties1->trigger();
    EXPECT_EQ(g->Name(), "Boiler");
    EXPECT_EQ(form->TreeView1->currentItem()->text(0), "Boiler");
    EXPECT_EQ(g->UpdateRate(), 2000);
    EXPECT_FALSE(g->IsActive());
    EXPECT_FLOAT_EQ(g->DeadBand(), 5.0f);
    EXPECT_EQ(g->TimeBias(), 30) << "fields the dialog does not show come back unchanged";
    auto ops = fake->Ops({"SetName", "SetState"});
    ASSERT_GE(ops.size(), 1u);
    EXPECT_EQ(ops[0], "G1.SetName") << "the name is applied first";
}

TEST_F(MainWindowTest, SwitchingGroupsShowsLastValues) {
    form->show();
    ConnectTo();
    AddGroupViaDialog("G1");
    AddGroupViaDialog("G2");
    TVelqorGroup* g1 = Server().OPCGroups().FindGroup("G1");
    TVelqorGroup* g2 = Server().OPCGroups().FindGroup("G2");
    TVelqorItem* a = g1->OPCItems().AddItem("A.X");
    TVelqorItem* b = g2->OPCItems().AddItem("B.Y");
    double ts = EncodeDateTime(2026, 12, 6, 10, 11, 12);
    fake->SetItemValue("A.X", Variant(int32_t(42)), 0xC0, ts);
    fake->SetItemValue("B.Y", Variant("text"), 0x00, ts);
    fake->PostValues(*g1, {a});
    fake->PostValues(*g2, {b});
    apptest::ProcessFor(20);
    SelectNode(0);
    SelectNode(1);

    // G2 is selected (added last); its row shows B.Y's last values.
    ASSERT_EQ(form->ItemModel->Count(), 1);
    EXPECT_EQ(RowTexts(0), QStringList({"B.Y", "", "X", "text", "10:11:12.000", "bad"}));
    EXPECT_EQ(b->UserData(), form->ItemModel->Row(0));
    SelectNode(0);
    ASSERT_EQ(form->ItemModel->Count(), 1);
    EXPECT_EQ(RowTexts(0), QStringList({"A.X", "", "X", "42", "10:11:12.000", "good"}));
    EXPECT_EQ(b->UserData(), nullptr) << "rows of the old group are unlinked";
    EXPECT_EQ(a->UserData(), form->ItemModel->Row(0));

    // A data change of the hidden group touches no row.
    fake->SetItemValue("B.Y", Variant("changed"), 0xC0, ts);
    fake->PostValues(*g2, {b});
    apptest::ProcessFor(20);
    EXPECT_EQ(RowTexts(0)[colValue], "42");
}

TEST_F(MainWindowTest, AddItemsThroughBrowseDialogThenValuesArrive) {
    fake->SetBrowseTree(
        velqor::fake::FakeTransport::TreeFromIDs({"Plant.Temp", "Plant.Level", "Pump"}));
    form->show();
    // Not connected: the dialog does not open.
    AddGroupViaDialog("G1");
    form->A1->trigger();
    EXPECT_EQ(form->ItemModel->Count(), 0);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    ConnectTo();
    apptest::WhenDialog<TVelqorDlgBrowse>([](TVelqorDlgBrowse* dlg) {
        ASSERT_EQ(dlg->ListView->count(), 2);  // Plant (branch), Pump (item)
        dlg->ListView->setCurrentRow(0);
        dlg->bOk->click();  // enters Plant
        ASSERT_EQ(dlg->ListView->count(), 2);
        dlg->ListView->selectAll();
        dlg->bOk->click();
    });
    form->A1->trigger();
    ASSERT_EQ(form->ItemModel->Count(), 2);
    EXPECT_EQ(RowTexts(0), QStringList({"Plant.Temp", "", "X", "-", "-", "-"}));
    EXPECT_EQ(RowTexts(1), QStringList({"Plant.Level", "", "X", "-", "-", "-"}));
    TVelqorGroup* g = Server().OPCGroups().FindGroup("G1");
    ASSERT_EQ(g->OPCItems().Count(), 2);
    TVelqorItem* temp = g->OPCItems().Items(0);
    EXPECT_EQ(temp->UserData(), form->ItemModel->Row(0));
    EXPECT_NE(temp->ServerHandle(), -1);

    fake->SetItemValue("Plant.Level", Variant(2.5), 0xC0, EncodeDateTime(2026, 1, 2, 3, 4, 5));
    fake->PostValues(*g, {g->OPCItems().Items(1)});
    ASSERT_TRUE(apptest::ProcessUntil([&] { return RowTexts(1)[colValue] == "2.5"; }));
    EXPECT_EQ(RowTexts(1), QStringList({"Plant.Level", "", "X", "2.5", "03:04:05.000", "good"}));
    EXPECT_EQ(RowTexts(0)[colValue], "-");

    // A second "Add Item.." resumes where the previous one ended.
    apptest::WhenDialog<TVelqorDlgBrowse>([](TVelqorDlgBrowse* dlg) {
        EXPECT_EQ(dlg->ePath->text(), "Plant");
        dlg->reject();
    });
    form->A1->trigger();
    EXPECT_EQ(form->ItemModel->Count(), 2);
}

TEST_F(MainWindowTest, ItemsAddedThroughTheDialogTakeTheirPlaceInTheSortedList) {
    fake->SetBrowseTree(
        velqor::fake::FakeTransport::TreeFromIDs({"Plant.Temp", "Plant.Level", "Pump"}));
    form->show();
    ConnectTo();
    AddGroupViaDialog("G1");
    form->ItemView->sortByColumn(colItemId, Qt::AscendingOrder);
    apptest::WhenDialog<TVelqorDlgBrowse>([](TVelqorDlgBrowse* dlg) {
        dlg->ListView->setCurrentRow(0);
        dlg->bOk->click();  // enters Plant
        dlg->ListView->selectAll();
        dlg->bOk->click();
    });
    form->A1->trigger();
    ASSERT_EQ(form->ItemModel->Count(), 2);
    EXPECT_EQ(RowTexts(0)[colItemId], "Plant.Level");
    EXPECT_EQ(RowTexts(1)[colItemId], "Plant.Temp");
}

TEST_F(MainWindowTest, ItemPopupEnablesWithGroupAndActiveTogglesRow) {
    form->show();
    ConnectTo();
    form->ItemPopupPopup();
    for (QAction* a : form->ItemPopup->actions()) EXPECT_FALSE(a->isEnabled());
    AddGroupViaDialog("G1");
    TVelqorGroup* g = Server().OPCGroups().FindGroup("G1");
    g->OPCItems().AddItem("A.X");
    form->TreeView1Change();
    SelectRow(0);
    form->ItemPopupPopup();
    for (QAction* a : form->ItemPopup->actions()) EXPECT_TRUE(a->isEnabled());
    EXPECT_TRUE(form->Active1->isChecked());
    fake->ClearCalls();
    form->Active1->trigger();
    EXPECT_FALSE(g->OPCItems().Items(0)->IsActive());
    EXPECT_EQ(RowTexts(0)[colActive], " ");
    EXPECT_EQ(fake->Ops({"Deactivate"}), std::vector<std::string>{"G1.Deactivate"});
    form->ItemPopupPopup();
    EXPECT_FALSE(form->Active1->isChecked());
    form->Active1->trigger();
    EXPECT_TRUE(g->OPCItems().Items(0)->IsActive());
    EXPECT_EQ(RowTexts(0)[colActive], "X");
}

TEST_F(MainWindowTest, RemoveItemAndRemoveAllItems) {
    form->show();
    ConnectTo();
    AddGroupViaDialog("G1");
    TVelqorGroup* g = Server().OPCGroups().FindGroup("G1");
    for (const char* id : {"A", "B", "C"}) g->OPCItems().AddItem(id);
    form->TreeView1Change();
    SelectRow(1);
    form->RemoveItem1->trigger();
    ASSERT_EQ(form->ItemModel->Count(), 2);
    EXPECT_EQ(RowTexts(0)[colItemId], "A");
    EXPECT_EQ(RowTexts(1)[colItemId], "C");
    EXPECT_EQ(g->OPCItems().Count(), 2);
    EXPECT_EQ(form->ItemModel->Row(1)->Index, 1);
    EXPECT_EQ(fake->CountCalls("RemoveItems"), 1);
    // The remaining rows still receive values.
    fake->SetItemValue("C", Variant(int32_t(3)));
    fake->PostValues(*g, {g->OPCItems().Items(1)});
    ASSERT_TRUE(apptest::ProcessUntil([&] { return RowTexts(1)[colValue] == "3"; }));

    form->RemoveallItems1->trigger();
    EXPECT_EQ(form->ItemModel->Count(), 0);
    EXPECT_EQ(g->OPCItems().Count(), 0);
}

TEST_F(MainWindowTest, StatusRefreshShowsServerAndGroupState) {
    tServerStateRecord st;
    st.ServerState = 1;
    st.VendorInfo = "Simulated vendor";
    st.StartTime = EncodeDateTime(2026, 12, 6, 8, 0, 0);
    st.LastUpdateTime = EncodeDateTime(2026, 12, 6, 9, 30, 15);
    fake->SetStatus(st);
    form->show();
    ConnectTo("Sim.Server.1");
    AddGroupViaDialog("G1", "250");
    Server().OPCGroups().FindGroup("G1")->SetDeadBand(0.5f);
    form->Timer1Timer();
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(form->LServer->text(), "Sim.Server.1");
    EXPECT_EQ(form->LState->text(), "running");
    EXPECT_EQ(form->LInfo->text(), "Simulated vendor");
    EXPECT_TRUE(form->LStartTime->text().contains("08:00:00"))
        << form->LStartTime->text().toStdString();
    EXPECT_TRUE(form->LUpdateTime->text().contains("09:30:15"));
    EXPECT_EQ(form->LName->text(), "G1");
    EXPECT_EQ(form->LUpdate->text(), "250");
    EXPECT_EQ(form->LDeadBand->text(), FormatDeadBand(0.5f));
    EXPECT_EQ(form->LActive->text(), "active");

    // Without a selected group the group state is empty.
    form->TreeView1->setCurrentItem(nullptr);
    form->Timer1Timer();
    EXPECT_EQ(form->LName->text(), "");
    EXPECT_EQ(form->LState->text(), "running");
}

TEST_F(MainWindowTest, FailedStatusRefreshDisconnectsSilently) {
    form->show();
    ConnectTo();
    fake->FailCall("GetStatus");
    form->Timer1Timer();
    EXPECT_FALSE(Server().Active());
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->LServer->text(), "not connected");
    EXPECT_TRUE(Recorded().errors.empty());
    EXPECT_TRUE(Recorded().messages.empty());
}

TEST_F(MainWindowTest, ServerShutdownStopsTimerAndClearsStatus) {
    form->show();
    ConnectTo();
    AddGroupViaDialog("G1");
    Server().OPCGroups().FindGroup("G1")->OPCItems().AddItem("A.X");
    form->TreeView1Change();
    // The whole row greys at once: the change names every column.
    QSignalSpy changed(form->ItemModel, &QAbstractItemModel::dataChanged);
    form->Timer1Timer();
    ASSERT_EQ(form->LName->text(), "G1");
    fake->PostShutdown("maintenance");
    ASSERT_TRUE(apptest::ProcessUntil([&] { return !Server().Active(); }));
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->LServer->text(), "not connected");
    EXPECT_EQ(form->LName->text(), "");
    EXPECT_EQ(form->TreeView1->topLevelItemCount(), 1) << "groups stay across a shutdown";
    EXPECT_EQ(RowTexts(0)[colQuality], "not current");
    ASSERT_FALSE(changed.isEmpty());
    const auto last = changed.back();
    EXPECT_EQ(last[0].toModelIndex().column(), 0);
    EXPECT_EQ(last[1].toModelIndex().column(), kItemColumns - 1);
    EXPECT_TRUE(Recorded().errors.empty());
}

TEST_F(MainWindowTest, DataChangeUpdatesOnlyChangedRowsInOneAnnouncement) {
    form->show();
    ConnectTo();
    AddGroupViaDialog("G1");
    TVelqorGroup* g = Server().OPCGroups().FindGroup("G1");
    for (int i = 0; i < 50; ++i) g->OPCItems().AddItem("I" + std::to_string(i));
    form->TreeView1Change();
    int announcements = 0;
    QModelIndex tl, br;
    QObject::connect(form->ItemModel, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& a, const QModelIndex& b) {
                         ++announcements;
                         tl = a;
                         br = b;
                     });
    int resets = 0;
    QObject::connect(form->ItemModel, &QAbstractItemModel::modelReset, [&] { ++resets; });
    for (int i : {10, 20, 30}) fake->SetItemValue("I" + std::to_string(i), Variant(int32_t(i)));
    fake->PostValues(*g,
                     {g->OPCItems().Items(10), g->OPCItems().Items(20), g->OPCItems().Items(30)});
    ASSERT_TRUE(apptest::ProcessUntil([&] { return announcements > 0; }));
    EXPECT_EQ(announcements, 1);
    EXPECT_EQ(resets, 0) << "a data change never rebuilds the list";
    EXPECT_EQ(tl.row(), 10);
    EXPECT_EQ(br.row(), 30);
    EXPECT_EQ(tl.column(), colValue);
    EXPECT_EQ(br.column(), colQuality);
    EXPECT_EQ(RowTexts(20)[colValue], "20");
    EXPECT_EQ(RowTexts(21)[colValue], "") << "other rows keep their texts";
}

TEST_F(MainWindowTest, ExportWritesVisibleRowsThroughSaveDialog) {
    form->show();
    ConnectTo();
    AddGroupViaDialog("G1");
    TVelqorGroup* g = Server().OPCGroups().FindGroup("G1");
    TVelqorItem* arr = g->OPCItems().AddItem("Array");
    g->OPCItems().AddItem("Fresh");
    form->TreeView1Change();
    Variant v = Variant::Array(VT_I4, {Variant(int32_t(1)), Variant(int32_t(2))});
    fake->SetItemValue("Array", v, 0xC0, EncodeDateTime(2026, 12, 6, 1, 2, 3));
    fake->PostValues(*g, {arr});
    ASSERT_TRUE(apptest::ProcessUntil([&] { return RowTexts(0)[colValue] == "1;2;"; }));
    QString path = progDir.filePath("export.txt");
    apptest::WhenDialog<QFileDialog>([path](QFileDialog* dlg) {
        EXPECT_EQ(dlg->objectName(), "SaveDialog1");
        EXPECT_EQ(dlg->nameFilters(), QStringList({QString::fromUtf8("Текстовые файлы (*.txt)")}));
        EXPECT_EQ(dlg->defaultSuffix(), "txt");
        EXPECT_TRUE(dlg->selectedFiles().value(0).endsWith(ExportFileName(QDate::currentDate())));
        dlg->selectFile(path);
        // Creating a new file is confirmed.
        apptest::WhenModal([](QWidget* box) {
            auto* mb = qobject_cast<QMessageBox*>(box);
            ASSERT_NE(mb, nullptr);
            EXPECT_EQ(mb->objectName(), "CreatePrompt");
            mb->button(QMessageBox::Yes)->click();
        });
        static_cast<QDialog*>(dlg)->accept();
    });
    form->Export1->trigger();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray text = f.readAll();
    EXPECT_EQ(text, "Array;;X;1;2;;01:02:03.000;good\r\nFresh;;X;;00:00:00.000;bad\r\n");
    EXPECT_TRUE(Recorded().errors.empty());
}

TEST_F(MainWindowTest, ExportToAFolderThatIsNotThereAsksAgain) {
    form->show();
    const QString nowhere = progDir.filePath("no-such-folder/export.txt");
    int shown = 0;
    std::function<void(QFileDialog*)> answer = [&](QFileDialog* dlg) {
        if (++shown == 1) {
            dlg->selectFile(nowhere);
            apptest::WhenDialog<QFileDialog>(answer);  // the same dialog, once more
            static_cast<QDialog*>(dlg)->accept();
        } else {
            static_cast<QDialog*>(dlg)->reject();
        }
    };
    apptest::WhenDialog<QFileDialog>(answer);
    form->Export1->trigger();
    EXPECT_EQ(shown, 2);
    ASSERT_EQ(Recorded().messages.size(), 1u);
    EXPECT_NE(Recorded().messages[0].find("does not exist. Choose another."), std::string::npos);
    EXPECT_FALSE(QFile::exists(nowhere));
    EXPECT_TRUE(Recorded().errors.empty());
}

TEST_F(MainWindowTest, ExportWithoutGroupCreatesEmptyFileAndIoErrorsAreShown) {
    form->show();
    QString path = progDir.filePath("empty.txt");
    form->ChooseExportFile = [path](const QString& proposed) {
        EXPECT_EQ(proposed, ExportFileName(QDate::currentDate()));
        return path;
    };
    form->Export1->trigger();
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_EQ(QFileInfo(path).size(), 0);
    form->ChooseExportFile = [this](const QString&) {
        return progDir.filePath("no/such/dir/x.txt");
    };
    form->Export1->trigger();
    EXPECT_EQ(Recorded().errors.size(), 1u);
    form->ChooseExportFile = [](const QString&) { return QString(); };
    form->Export1->trigger();  // cancelled: nothing happens
    EXPECT_EQ(Recorded().errors.size(), 1u);
}

TEST_F(MainWindowTest, AboutShowsProgramAndToolkitVersion) {
    QString text = TForm1::AboutText();
    EXPECT_TRUE(text.contains("Tagscope"));
    EXPECT_TRUE(text.contains(kVelqorVersion));
    EXPECT_TRUE(text.contains("License"));
    form->show();
    apptest::WhenDialog<QMessageBox>([](QMessageBox* box) {
        EXPECT_EQ(box->windowTitle(), QString::fromUtf8("О программе"));
        box->accept();
    });
    form->N1->trigger();
}

TEST_F(MainWindowTest, ClosingTheWindowWithLiveGroupsDeactivates) {
    form->show();
    ConnectTo();
    AddGroupViaDialog("G1");
    Server().OPCGroups().FindGroup("G1")->OPCItems().AddItem("A");
    form->TreeView1Change();
    form->Exit1->trigger();
    EXPECT_FALSE(form->isVisible());
    form.reset();
    EXPECT_FALSE(fake->Connected());
}

}  // namespace
