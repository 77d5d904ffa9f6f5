// The window's additions on the fake transport: the data-change log, the questions before
// removing everything, Delete on several rows, sorting, and what a second window remembers.
#include <QDockWidget>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QSplitter>
#include <QTest>
#include <climits>

#include "MainWindowFixture.h"
#include "TrendWidget.h"
#include "WindowSettings.h"
#include "contract/VelqorDateTime.h"

using namespace velqor;
using apptest::MainWindowTest;

namespace {

// Adds items to the selected group directly and shows them.
std::vector<TVelqorItem*> AddItems(TForm1& form, const std::vector<std::string>& ids) {
    std::vector<TVelqorItem*> out;
    for (const auto& id : ids) out.push_back(form.SelectedGroup()->OPCItems().AddItem(id));
    form.TreeView1Change();
    return out;
}

TEST_F(MainWindowTest, LogWritesOneCsvRowPerDeliveredChangeOfTheGroupUntilStopped) {
    form->show();
    ConnectTo();
    AddGroupViaDialog("Other");
    TVelqorItem* other = AddItems(*form, {"O.X"})[0];
    AddGroupViaDialog("G1");
    auto items = AddItems(*form, {"A,comma", "B"});
    const QString path = progDir.filePath("log.csv");
    form->ChooseLogFile = [&](const QString& proposed) {
        EXPECT_TRUE(proposed.startsWith("G1_") && proposed.endsWith(".csv"));
        return path;
    };
    form->LogData1->trigger();
    ASSERT_TRUE(form->Log.Active());
    EXPECT_TRUE(form->LogData1->isChecked());

    const double ts = EncodeDateTime(2026, 12, 7, 10, 11, 12, 345);
    const struct {
        TVelqorItem* item;
        Variant value;
        int32_t quality;
    } changes[] = {
        {items[0], Variant(int32_t(1)), 0xC0},
        {items[1], Variant("say \"hi\""), 0x56},
        {other, Variant(int32_t(9)), 0xC0},  // another group: not logged
        {items[0], Variant::Array(VT_I4, {Variant(int32_t(1)), Variant(int32_t(2))}), 0x10},
    };
    for (const auto& c : changes) {
        fake->SetItemValue(c.item->ItemID(), c.value, c.quality, ts);
        fake->PostValues(*c.item->Group(), {c.item});
    }
    ASSERT_TRUE(apptest::ProcessUntil([&] { return form->Log.Rows() == 3; }));
    EXPECT_EQ(form->LogStatus->text(), "Logging to log.csv: 3 rows");
    form->LogData1->trigger();  // stops
    EXPECT_FALSE(form->Log.Active());
    EXPECT_TRUE(form->LogStatus->text().isEmpty());
    fake->SetItemValue("B", Variant(int32_t(5)), 0xC0, ts);
    fake->PostValues(*items[1]->Group(), {items[1]});
    apptest::ProcessFor(50);

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << lines.join("|").toStdString();
    EXPECT_EQ(lines[0], "time,item,value,quality,quality_code,timestamp");
    const QString stamp = QString::fromStdString(FormatDateTimeIso(ts));
    const char* expected[] = {
        "\"A,comma\",1,good,0xC0,",
        "B,\"say \"\"hi\"\"\",uncertainEUExceeded+high,0x56,",
        "\"A,comma\",\"[1,2]\",badSensorFailure,0x10,",
    };
    for (int i = 0; i < 3; ++i) {
        const QString row = lines[i + 1];
        const int comma = row.indexOf(',');
        EXPECT_EQ(row.mid(comma + 1), expected[i] + stamp) << row.toStdString();
    }
}

TEST_F(MainWindowTest, RemoveAllAsksFirstAndDeleteRemovesTheSelectedItems) {
    form->show();
    ConnectTo();
    AddGroupViaDialog("G1");
    AddItems(*form, {"A", "B", "C", "D"});

    answer = false;
    form->RemoveallItems1->trigger();
    form->RemoveallGroups1->trigger();
    EXPECT_EQ(asked.size(), 2);
    EXPECT_EQ(form->ItemModel->Count(), 4) << "declined: nothing removed";
    EXPECT_EQ(form->TreeView1->topLevelItemCount(), 1);

    // Delete on two selected rows removes both items, from the server too.
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->ItemView->setFocus();
    form->ItemView->selectionModel()->select(
        form->ItemModel->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    form->ItemView->selectionModel()->select(
        form->ItemModel->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(form->ItemView, Qt::Key_Delete);
    ASSERT_EQ(form->ItemModel->Count(), 2);
    EXPECT_EQ(RowTexts(0)[colItemId], "A");
    EXPECT_EQ(RowTexts(1)[colItemId], "C");
    EXPECT_EQ(form->SelectedGroup()->OPCItems().Count(), 2);

    answer = true;
    form->RemoveallItems1->trigger();
    EXPECT_EQ(form->ItemModel->Count(), 0);
    EXPECT_TRUE(apptest::Recorded().errors.empty());
}

TEST_F(MainWindowTest, ColumnsSortNumbersByValueAndTheOrderSurvivesAGroupChange) {
    form->show();
    ConnectTo();
    AddGroupViaDialog("G1");
    auto items = AddItems(*form, {"A", "B", "C"});
    const double values[] = {10, -2.5, 9};
    for (size_t i = 0; i < items.size(); ++i) {
        fake->SetItemValue(items[i]->ItemID(), Variant(values[i]));
        fake->PostValues(*items[i]->Group(), {items[i]});
    }
    ASSERT_TRUE(apptest::ProcessUntil([&] { return RowTexts(2)[colValue] == "9"; }));
    SelectRow(0);  // "A": the selection follows its row
    form->ItemView->sortByColumn(colValue, Qt::AscendingOrder);
    EXPECT_EQ(RowTexts(0)[colItemId], "B");
    EXPECT_EQ(RowTexts(1)[colItemId], "C");
    EXPECT_EQ(RowTexts(2)[colItemId], "A");
    EXPECT_EQ(form->SelectedRow()->Text[colItemId], "A");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(form->ItemModel->Row(i)->Index, i);
    // A value arriving now lands in its own row.
    fake->SetItemValue("B", Variant(int32_t(100)));
    fake->PostValues(*items[1]->Group(), {items[1]});
    ASSERT_TRUE(apptest::ProcessUntil([&] { return RowTexts(0)[colValue] == "100"; }));
    EXPECT_EQ(RowTexts(0)[colItemId], "B");

    form->ItemView->sortByColumn(colItemId, Qt::DescendingOrder);
    AddGroupViaDialog("G2");
    SelectNode(0);
    EXPECT_EQ(RowTexts(0)[colItemId], "C") << "the shown group is listed in the kept order";
}

TEST_F(MainWindowTest, MixedValuesSortNumbersFirstThenTextsWithTiesInListOrder) {
    form->show();
    ConnectTo();
    AddGroupViaDialog("G1");
    auto items = AddItems(*form, {"A", "B", "C", "D", "E"});
    const Variant values[] = {Variant("abc"), Variant(10.0), Variant("Abc"), Variant(-2.5),
                              Variant(9.0)};
    for (size_t i = 0; i < items.size(); ++i) {
        fake->SetItemValue(items[i]->ItemID(), values[i]);
        fake->PostValues(*items[i]->Group(), {items[i]});
    }
    ASSERT_TRUE(apptest::ProcessUntil([&] { return RowTexts(4)[colValue] == "9"; }));
    struct Case {
        Qt::SortOrder order;
        const char* ids;  // the rows' item IDs, top to bottom
    };
    for (const Case& c : {Case{Qt::AscendingOrder, "DEBAC"}, Case{Qt::DescendingOrder, "ACBED"}}) {
        form->ItemView->sortByColumn(colValue, c.order);
        QString ids;
        for (int i = 0; i < 5; ++i) ids += RowTexts(i)[colItemId];
        EXPECT_EQ(ids, c.ids);
    }
}

TEST_F(MainWindowTest, ASecondWindowRestoresLayoutAndRecentServers) {
    form->show();
    form->resize(900, 600);
    form->Splitter1->setSizes({250, 600});
    for (const char* name : {"Sim.A", "Sim.B", "Sim.A"}) {
        ConnectTo(name);
        form->bDisconnectClick();
    }
    const QSize size = form->size();
    const int treeWidth = form->Splitter1->sizes()[0];
    tester.reset();
    form.reset();  // remembers on the way out

    auto second = std::make_unique<TForm1>();
    second->Ini = IniMemory(progDir.path(), "tagscope", confDir.path());
    second->ListServers = [](std::vector<std::string>& s) { s = {"Installed.1"}; };
    second->show();
    EXPECT_EQ(second->size(), size);
    EXPECT_EQ(second->Splitter1->sizes()[0], treeWidth);
    // The columns fit the list's width: nothing to scroll sideways.
    int columns = 0;
    for (int c = 0; c < kItemColumns; ++c) columns += second->ItemView->columnWidth(c);
    EXPECT_LE(columns, second->ItemView->viewport()->width());
    EXPECT_EQ(second->Settings().RecentServers(), QStringList({"Sim.A", "Sim.B"}));
    emit second->ServerCombo->dropDown();
    QStringList listed;
    for (int i = 0; i < second->ServerCombo->count(); ++i)
        if (!second->ServerCombo->itemText(i).isEmpty()) listed << second->ServerCombo->itemText(i);
    EXPECT_EQ(listed, QStringList({"Installed.1", "Sim.A", "Sim.B"}));
    EXPECT_EQ(second->ServerCombo->currentText(), "Sim.A") << "the box keeps the last server";

    // At most ten, the latest first.
    WindowSettings s = second->Settings();
    for (int i = 0; i < 12; ++i) s.AddRecentServer(QString("S%1").arg(i));
    const QStringList recent = s.RecentServers();
    ASSERT_EQ(recent.size(), WindowSettings::kRecentServers);
    EXPECT_EQ(recent.front(), "S11");
    EXPECT_EQ(recent.back(), "S2");

    // A browse position per server.
    TVelqorBrowseItem at;
    at.ItemPath = "path";
    at.ItemName = "Plant/Area1";
    s.SaveBrowsePosition("Sim.A", at);
    at.ItemName = "Other";
    s.SaveBrowsePosition("http://host/x", at);
    ASSERT_TRUE(s.BrowsePosition("Sim.A").has_value());
    EXPECT_EQ(s.BrowsePosition("Sim.A")->ItemName, "Plant/Area1");
    EXPECT_EQ(s.BrowsePosition("http://host/x")->ItemName, "Other");
    EXPECT_FALSE(s.BrowsePosition("Sim.B").has_value());
    second.reset();
}

}  // namespace

namespace {

TEST_F(MainWindowTest, TrendKeepsABoundedHistoryAndSurvivesItemsBeingRemoved) {
    form->show();
    ConnectTo();
    AddGroupViaDialog("G1");
    auto items = AddItems(*form, {"Level", "Pump.Running", "Name"});
    fake->SetItemValue("Level", Variant(2.5));
    fake->SetItemValue("Pump.Running", Variant::Bool(true));
    fake->SetItemValue("Name", Variant("text"));
    fake->PostValues(*items[1]->Group(), {items[0], items[1], items[2]});
    apptest::ProcessFor(20);
    form->Trend1->trigger();
    ASSERT_TRUE(form->TrendDock->isVisible());
    form->ItemView->selectAll();
    ASSERT_EQ(form->Trend->AllSeries().size(), 3u);
    EXPECT_TRUE(form->Trend->AllSeries()[1].Steps) << "a boolean is drawn as steps";

    // Far more changes than a series keeps: the oldest go.
    const double t0 = 1.8e9;
    TVelqorItemList list;
    for (TVelqorItem* item : items) list.Add(item);
    for (size_t i = 0; i < TrendWidget::kMaxPoints + 500; ++i)
        form->Trend->Record(list, t0 + double(i) * 0.05);
    const auto& level = form->Trend->AllSeries()[0];
    EXPECT_EQ(level.Points.size(), TrendWidget::kMaxPoints);
    EXPECT_TRUE(form->Trend->AllSeries()[2].Points.empty()) << "a text is not plotted";
    // Old points go by age too.
    form->Trend->Record(list, t0 + 10 * form->Trend->Span());
    EXPECT_EQ(form->Trend->AllSeries()[0].Points.size(), 2u) << "the new one, and the one before";

    // A plotted item removed under the trend: recording and drawing go on, and the series
    // goes once the list is shown again.
    SelectRow(0);
    form->ItemView->selectionModel()->select(
        form->ItemModel->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ASSERT_EQ(form->Trend->AllSeries().size(), 2u);
    EXPECT_EQ(form->Trend->AllSeries()[0].Points.size(), 2u) << "still selected: kept";
    EXPECT_TRUE(form->Trend->AllSeries()[1].Points.empty()) << "selected anew: a new history";
    const uint32_t removed = items[0]->ClientHandle();
    items[0]->Collection().RemoveItem(items[0]);
    TVelqorItemList rest;
    rest.Add(items[1]);
    form->Trend->Record(rest, t0 + 11 * form->Trend->Span());
    QImage image(400, 200, QImage::Format_RGB32);
    QPainter p(&image);
    form->Trend->Draw(p, image.size(), t0 + 11 * form->Trend->Span());
    EXPECT_EQ(form->Trend->AllSeries()[1].Points.size(), 1u);
    form->TreeView1Change();
    for (const auto& s : form->Trend->AllSeries()) EXPECT_NE(s.Handle, removed);
    EXPECT_TRUE(apptest::Recorded().errors.empty());
}

// Rows of the picture where a series' colour shows, and its leftmost column.
struct Extent {
    int top = INT_MAX, bottom = -1, left = INT_MAX;
};
Extent ExtentOf(const QImage& image, QRgb colour) {
    Extent e;
    for (int y = 30; y < image.height(); ++y)  // below the legend
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour) {
                e.top = std::min(e.top, y);
                e.bottom = std::max(e.bottom, y);
                e.left = std::min(e.left, x);
            }
    return e;
}

// A boolean beside a speed in thousands is drawn across the height, not as a flat line; the time
// shown starts with the data; an item that has not changed for long is still drawn.
TEST_F(MainWindowTest, TrendGivesEachItemItsScaleAndFollowsTheData) {
    form->show();
    ConnectTo();
    AddGroupViaDialog("G1");
    auto items = AddItems(*form, {"Speed", "Running", "Fixed"});
    auto set = [](TVelqorItem* item, Variant v) {
        ItemUpdate u;
        u.Fields = ItemUpdate::kValue;
        u.Value = std::move(v);
        item->ApplyUpdate(u);
    };
    form->Trend1->trigger();
    form->ItemView->selectAll();
    ASSERT_EQ(form->Trend->AllSeries().size(), 3u);
    const double t0 = 1.8e9;
    set(items[2], Variant(7.0));
    TVelqorItemList fixed;
    fixed.Add(items[2]);
    form->Trend->Record(fixed, t0 - 3600);  // its one value, an hour ago
    TVelqorItemList live;
    live.Add(items[0]);
    live.Add(items[1]);
    for (int i = 0; i <= 30; ++i) {  // the last 30 s
        set(items[0], Variant(2000.0 + 30 * i));
        set(items[1], Variant::Bool(i % 10 < 5));
        form->Trend->Record(live, t0 - 30 + i);
    }
    QImage image(600, 300, QImage::Format_RGB32);
    QPainter p(&image);
    form->Trend->Draw(p, image.size(), t0);
    p.end();
    // The first three colours of the trend, in the order of its series.
    const QRgb colours[] = {qRgb(0x1F, 0x77, 0xB4), qRgb(0xD6, 0x27, 0x28), qRgb(0x2C, 0xA0, 0x2C)};
    auto extent = [&](const char* name) {
        const auto& all = form->Trend->AllSeries();
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].Name == name) return ExtentOf(image, colours[i]);
        return Extent{};
    };
    const Extent speed = extent("Speed"), running = extent("Running"), constant = extent("Fixed");
    EXPECT_GT(running.bottom - running.top, 150) << "the boolean spans the plot";
    EXPECT_GT(speed.bottom - speed.top, 150) << "so does the speed";
    EXPECT_GE(constant.bottom, 0) << "the constant item is drawn";
    EXPECT_LT(speed.left, 120) << "the data starts at the left, not in the last tenth";
}

}  // namespace
