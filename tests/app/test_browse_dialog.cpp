// The browse dialog on the fake transport's address space: navigation, keys, filters and the
// returned identifiers.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTest>
#include <QToolButton>

#include "AppTestSupport.h"
#include "QtEventLoop.h"
#include "VelqorDlgBrowse.h"
#include "fake/FakeTransport.h"

using namespace velqor;
using velqor::fake::FakeNode;
using velqor::fake::FakeTransport;

namespace {

class BrowseDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        apptest::RecordDisplays();
        loop.InstallAsDefault();
        fake = FakeTransport::Create();
        // Root: branch Plant (Temp R8 rw, Level I4 read-only, branch Sub with Deep), item Pump.
        std::vector<FakeNode> tree =
            FakeTransport::TreeFromIDs({"Plant.Temp", "Plant.Level", "Plant.Sub.Deep", "Pump"});
        tree[0].Children[1].AccessRights = 1;
        tree[0].Children[1].Datatype = VT_I4;
        fake->SetBrowseTree(tree);
        server = std::make_unique<fake::FakeServer>(fake, &loop);
        server->SetServerName("Sim.Server.1");
        server->SetActive(true);
    }
    TVelqorBrowser& Browser() { return server->Browser(); }
    std::unique_ptr<TVelqorDlgBrowse> Open(bool startAtRoot = false) {
        auto dlg = std::make_unique<TVelqorDlgBrowse>(Browser(), result, startAtRoot);
        dlg->show();
        QApplication::setActiveWindow(dlg.get());
        return dlg;
    }
    static QStringList Names(const TVelqorDlgBrowse& d) {
        QStringList out;
        for (int i = 0; i < d.ListView->count(); ++i) out << d.ListView->item(i)->text();
        return out;
    }
    static void Select(TVelqorDlgBrowse& d, std::initializer_list<int> rows) {
        d.ListView->clearSelection();
        for (int r : rows) d.ListView->item(r)->setSelected(true);
    }

    QtEventLoop loop;
    std::shared_ptr<FakeTransport> fake;
    std::unique_ptr<fake::FakeServer> server;
    std::vector<std::string> result;
};

TEST_F(BrowseDialog, InactiveServerReturnsFalseWithoutWindow) {
    server->SetActive(false);
    EXPECT_FALSE(TVelqorDlgBrowse::Execute(Browser(), result, false));
    EXPECT_EQ(fake->CountCalls("Browse"), 0);
    TVelqorBrowser unbound;
    EXPECT_FALSE(TVelqorDlgBrowse::Execute(unbound, result, false));
}

TEST_F(BrowseDialog, ControlsAndFirstView) {
    auto d = Open();
    EXPECT_EQ(d->windowTitle(), "Select OPC Item");
    EXPECT_EQ(d->bOk->text(), "&Open");
    EXPECT_EQ(d->bCancel->text(), "&Cancel");
    EXPECT_TRUE(d->bOk->isDefault());
    ASSERT_EQ(d->cDataType->count(), 32);
    EXPECT_EQ(d->cDataType->itemText(0), "EMPTY");
    EXPECT_EQ(d->cDataType->itemText(15), "undef");
    EXPECT_EQ(d->cDataType->itemText(31), "LPWSTR");
    EXPECT_FALSE(d->cDataType->isEditable());
    EXPECT_EQ(d->cDataType->currentIndex(), 0);
    EXPECT_TRUE(d->ePath->isReadOnly());
    EXPECT_EQ(d->ePath->text(), "Root");
    EXPECT_EQ(Names(*d), QStringList({"Plant", "Pump"}));
    EXPECT_EQ(d->ListView->item(0)->data(TVelqorDlgBrowse::PictureRole).toInt(), 0);
    EXPECT_EQ(d->ListView->item(1)->data(TVelqorDlgBrowse::PictureRole).toInt(), 1);
    EXPECT_TRUE(d->ListView->item(0)->isSelected()) << "the first entry is selected";
    EXPECT_EQ(d->ListView->selectionMode(), QAbstractItemView::ExtendedSelection);
}

TEST_F(BrowseDialog, OpenWithBranchSelectedEntersItEvenWithItemsSelected) {
    auto d = Open();
    Select(*d, {0, 1});
    d->bOk->click();
    EXPECT_TRUE(d->isVisible());
    EXPECT_TRUE(result.empty());
    EXPECT_EQ(d->ePath->text(), "Plant");
    EXPECT_EQ(Names(*d), QStringList({"Temp", "Level", "Sub"}));
}

TEST_F(BrowseDialog, SelectedItemsReturnInDisplayOrderBranchesSkipped) {
    auto d = Open();
    Select(*d, {0});
    d->bOk->click();  // into Plant
    Select(*d, {1, 0});
    d->ListView->item(2)->setSelected(false);
    d->bOk->click();
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_EQ(result, (std::vector<std::string>{"Plant.Temp", "Plant.Level"}));
}

TEST_F(BrowseDialog, BranchAfterItemsInSelectionIsNotEnteredItemsReturned) {
    auto d = Open();
    Select(*d, {0});
    d->bOk->click();     // into Plant: Temp, Level, Sub
    Select(*d, {0, 2});  // the first selected is an item: collect, Sub is skipped
    d->bOk->click();
    EXPECT_EQ(result, (std::vector<std::string>{"Plant.Temp"}));
}

TEST_F(BrowseDialog, NothingOrOnlyBranchesInPositionWithoutItemsStaysOpen) {
    auto d = Open();
    d->ListView->clearSelection();
    d->bOk->click();
    EXPECT_TRUE(d->isVisible());
    EXPECT_NE(d->result(), QDialog::Accepted);
}

TEST_F(BrowseDialog, KeysBackspaceAndSpaceAndDoubleClick) {
    auto d = Open();
    // The list has the keys from the start; the back button is not in the Tab order.
    ASSERT_TRUE(apptest::ProcessUntil([&] { return d->focusWidget() == d->ListView; }));
    EXPECT_EQ(d->bBack->focusPolicy(), Qt::NoFocus);
    QTest::keyClick(d->ListView, Qt::Key_Backspace);  // at the root: nothing
    EXPECT_EQ(fake->CountCalls("MoveUp"), 0);
    Select(*d, {0});
    QTest::keyClick(d->ListView, Qt::Key_Space);
    EXPECT_EQ(d->ePath->text(), "Plant");
    Select(*d, {1});
    QTest::keyClick(d->ListView, Qt::Key_Space);  // an item: not entered
    EXPECT_EQ(d->ePath->text(), "Plant");
    // The field names the branch, its tooltip where it stands.
    Select(*d, {d->ListView->row(d->ListView->findItems("Sub", Qt::MatchExactly).value(0))});
    QTest::keyClick(d->ListView, Qt::Key_Space);
    EXPECT_EQ(d->ePath->text(), "Sub");
    EXPECT_EQ(d->ePath->toolTip(), "Plant.Sub");
    QTest::keyClick(d->ListView, Qt::Key_Backspace);
    EXPECT_EQ(fake->CountCalls("MoveUp"), 1);
    QTest::keyClick(d->ListView, Qt::Key_Backspace);
    EXPECT_EQ(d->ePath->text(), "Root");
    EXPECT_EQ(fake->CountCalls("MoveUp"), 2);
    // Double-click does what Open does.
    Select(*d, {1});
    QRect r = d->ListView->visualItemRect(d->ListView->item(1));
    QTest::mouseClick(d->ListView->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseDClick(d->ListView->viewport(), Qt::LeftButton, {}, r.center());
    EXPECT_EQ(result, (std::vector<std::string>{"Pump"}));
    EXPECT_EQ(d->result(), QDialog::Accepted);
}

TEST_F(BrowseDialog, EnterInFilterAppliesItAndStaysOpen) {
    auto d = Open();
    Select(*d, {0});
    d->bOk->click();  // into Plant
    d->eFilter->setFocus();
    d->eFilter->setText("T*");
    QTest::keyClick(d->eFilter, Qt::Key_Return);
    EXPECT_TRUE(d->isVisible());
    EXPECT_NE(d->result(), QDialog::Accepted);
    EXPECT_EQ(Browser().Filter, "T*");
    EXPECT_EQ(Names(*d), QStringList({"Temp", "Sub"}));
    EXPECT_TRUE(result.empty());
}

TEST_F(BrowseDialog, AccessRightsAndDataTypeReachTheBrowser) {
    auto d = Open();
    Select(*d, {0});
    d->bOk->click();
    d->cWritable->click();
    EXPECT_EQ(Browser().AccessRights, opcWritable);
    EXPECT_EQ(Names(*d), QStringList({"Temp", "Sub"})) << "Level is read-only";
    d->cReadable->click();
    EXPECT_EQ(Browser().AccessRights, opcWritable | opcReadable);
    d->cWritable->click();
    d->cReadable->click();
    EXPECT_EQ(Browser().AccessRights, 0) << "both unchecked: no restriction";
    EXPECT_EQ(Names(*d), QStringList({"Temp", "Level", "Sub"}));
    d->cDataType->setCurrentIndex(vtI4);
    emit d->cDataType->activated(vtI4);
    EXPECT_EQ(Browser().Datatype, vtI4);
    EXPECT_EQ(Names(*d), QStringList({"Level", "Sub"}));
    auto calls = fake->Calls();
    std::string lastFilter;
    for (auto& c : calls)
        if (c.Op == "SetFilter") lastFilter = c.Args;
    EXPECT_EQ(lastFilter, "3,0,3,");
}

TEST_F(BrowseDialog, StartAtRootAndResumePosition) {
    {
        auto d = Open();
        Select(*d, {0});
        d->bOk->click();
        d->reject();
    }
    {
        auto d = Open(false);
        EXPECT_EQ(d->ePath->text(), "Plant") << "resumes where the last one ended";
        d->reject();
    }
    auto d = Open(true);
    EXPECT_EQ(d->ePath->text(), "Root");
}

TEST_F(BrowseDialog, BrowserErrorsAreShownAndDialogStaysOpen) {
    auto d = Open();
    fake->FailCallWithText("Browse", "server went away");
    d->cReadable->click();
    ASSERT_EQ(apptest::Recorded().errors.size(), 1u);
    EXPECT_EQ(apptest::Recorded().errors[0], "server went away");
    EXPECT_TRUE(d->isVisible());
}

TEST_F(BrowseDialog, WhatTheServerLeftOutIsShownAndCannotBeChosen) {
    fake->SetBrowseGaps({"the server did not return all elements of the root"});
    auto d = Open();
    const int last = d->ListView->count() - 1;
    ASSERT_EQ(Names(*d).back(), "the server did not return all elements of the root");
    EXPECT_FALSE(d->ListView->item(last)->flags() & Qt::ItemIsSelectable);
    EXPECT_EQ(last, 2) << "after the level's own entries";
}

// Counts the entries the list measures, to see how much of a level one turn of the event loop
// lays out.
class CountingDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        ++measured;
        return QStyledItemDelegate::sizeHint(option, index);
    }
    mutable int measured = 0;
};

TEST_F(BrowseDialog, LargeLevelIsLaidOutAcrossTurnsAndChosenWhole) {
    // Laying out ten thousand entries at once held the window for a tenth of a second when a
    // level was entered and all of it selected.
    constexpr int kItems = 10000;
    std::vector<std::string> ids;
    for (int i = 0; i < kItems; ++i) ids.push_back("Load.Item" + std::to_string(100000 + i));
    fake->SetBrowseTree(FakeTransport::TreeFromIDs(ids));
    server->SetActive(false);
    server->SetActive(true);
    auto d = Open();
    auto* counter = new CountingDelegate(d->ListView);
    d->ListView->setItemDelegate(counter);
    Select(*d, {0});
    d->bOk->click();  // into Load
    d->ListView->selectAll();
    EXPECT_LT(counter->measured, kItems / 10) << "in the turn that listed the level";
    QListWidgetItem* last = d->ListView->item(kItems - 1);
    for (int turn = 0; turn < kItems && d->ListView->visualItemRect(last).isEmpty(); ++turn)
        QCoreApplication::processEvents();
    EXPECT_FALSE(d->ListView->visualItemRect(last).isEmpty())
        << "every entry is laid out in the end";
    d->bOk->click();
    EXPECT_EQ(result, ids);
}

TEST_F(BrowseDialog, EmptyPositionNameShowsRoot) {
    // A position whose name is empty (as some servers report the root) reads "root".
    std::vector<FakeNode> tree = {
        FakeNode{"", "Blank", false, 3, VT_R8, {FakeNode{"X", "Blank.X", true, 3, VT_R8, {}}}}};
    fake->SetBrowseTree(tree);
    server->SetActive(false);
    server->SetActive(true);
    auto d = Open();
    Select(*d, {0});
    d->bOk->click();
    EXPECT_EQ(d->ePath->text(), "root");
}

}  // namespace
