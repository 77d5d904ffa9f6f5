// The item list's readable quality and time, and the Write Value and Item Properties dialogs,
// against the XML-DA simulation service.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>

#include "ItemPropertiesDlg.h"
#include "LiveSimWindow.h"
#include "QualityText.h"
#include "WriteValueDlg.h"

using namespace velqor;

namespace {

using LiveItems = apptest::LiveSimWindow;

TEST_F(LiveItems, QualityIsDecodedAndColouredTimeHasMillisecondsTooltipHasDetails) {
    AddGroupWith("Q", {"Static/Int", "Special/BadQuality", "Special/Uncertain"});
    const struct {
        const char* id;
        const char* quality;
        QColor colour;
        const char* type;
        const char* code;
    } rows[] = {
        {"Static/Int", "good", QualityColour(0xC0), "I4", "0xC0"},
        {"Special/BadQuality", "badSensorFailure", QualityColour(0x00), "R8", "0x10"},
        {"Special/Uncertain", "uncertainEUExceeded+high", QualityColour(0x40), "R8", "0x56"},
    };
    EXPECT_NE(QualityColour(0xC0), QualityColour(0x40));
    EXPECT_NE(QualityColour(0x40), QualityColour(0x10));
    const QRegularExpression time("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$");
    for (const auto& e : rows) {
        const int r = RowOf(e.id);
        ASSERT_GE(r, 0) << e.id;
        EXPECT_EQ(Cell(r, colQuality), e.quality) << e.id;
        const QModelIndex q = form->ItemModel->index(r, colQuality);
        EXPECT_EQ(q.data(Qt::ForegroundRole).value<QBrush>().color(), e.colour) << e.id;
        EXPECT_TRUE(time.match(Cell(r, colTime)).hasMatch()) << Cell(r, colTime).toStdString();
        const QString tip = form->ItemModel->index(r, colValue).data(Qt::ToolTipRole).toString();
        EXPECT_TRUE(tip.contains(QString("Item ID: ") + e.id)) << tip.toStdString();
        EXPECT_TRUE(tip.contains(QString("Data type: ") + e.type)) << tip.toStdString();
        EXPECT_TRUE(tip.contains(e.code)) << tip.toStdString();
    }
}

// Opens the write dialog on the rows, types text, writes, and hands the dialog to check.
void WriteThroughDialog(TForm1& form, const std::vector<int>& rows, const QString& text,
                        const std::function<void(TWriteValueDlg*)>& check) {
    form.ItemView->clearSelection();
    for (int r : rows)
        form.ItemView->selectionModel()->select(
            form.ItemModel->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    bool ran = false;
    apptest::WhenDialog<TWriteValueDlg>([&](TWriteValueDlg* dlg) {
        EXPECT_EQ(dlg->Results->rowCount(), int(rows.size()));
        // As a user does it: type (over the value offered) and press Enter.
        ASSERT_EQ(dlg->focusWidget(), dlg->eValue);
        QTest::keyClicks(dlg->eValue, text);
        QTest::keyClick(dlg->eValue, Qt::Key_Return);
        check(dlg);
        ran = true;
        dlg->reject();
    });
    form.WriteValue1->trigger();
    EXPECT_TRUE(ran);
}

// At the window's first size the list does not scroll sideways, and no column is cut that fits.
TEST_F(LiveItems, ColumnsFitTheListsWidth) {
    AddGroupWith("C", {"Static/Int", "Plant/Area1/Tank1/Level", "Static/String"});
    for (QSize size : {QSize(646, 448), QSize(1280, 800), QSize(646, 448)}) {
        form->resize(size);
        apptest::ProcessFor(100);
        const QAbstractItemView* view = form->ItemView;
        int sum = 0;
        for (int c = 0; c < kItemColumns; ++c) sum += form->ItemView->columnWidth(c);
        EXPECT_LE(sum, form->ItemView->viewport()->width()) << size.width();
        for (int c : {colTime, colQuality, colItemId})
            EXPECT_GE(form->ItemView->columnWidth(c), view->sizeHintForColumn(c))
                << "column " << c << " at " << size.width();
    }
}

TEST_F(LiveItems, WriteValueRoundTripsScalarsArraysAndReportsRefusals) {
    AddGroupWith("W", {"Writable/Double", "Writable/Arrays/ArrayOfInt", "Writable/Int",
                       "Static/Int", "Writable/Boolean"});
    const struct {
        std::vector<const char*> ids;
        const char* input;
        std::vector<const char*> results;  // prefix of each item's result
        const char* shown;                 // the value the row then shows ("" : unchanged)
    } cases[] = {
        {{"Writable/Double"}, "12.5", {"ok"}, "12.5"},
        {{"Writable/Arrays/ArrayOfInt"}, "1;2;3", {"ok"}, "1;2;3;"},
        {{"Writable/Int"}, "abc", {"\"abc\" is not a valid I4 value"}, ""},
        {{"Static/Int"}, "5", {""}, ""},  // read-only: the server's refusal, not "ok"
        {{"Writable/Double", "Writable/Int"}, "7", {"ok", "ok"}, "7"},
        {{"Writable/Boolean"}, "7", {"\"7\" is not a valid BOOL value"}, ""},
        {{"Writable/Boolean"}, "true", {"ok"}, "True"},
    };
    for (const auto& c : cases) {
        std::vector<int> rows;
        for (const char* id : c.ids) rows.push_back(RowOf(id));
        const QString before = Cell(rows[0], colValue);
        WriteThroughDialog(*form, rows, c.input, [&](TWriteValueDlg* dlg) {
            for (size_t i = 0; i < c.ids.size(); ++i) {
                const QString result = dlg->Results->item(int(i), 3)->text();
                if (*c.results[i])
                    EXPECT_TRUE(result.startsWith(c.results[i]))
                        << c.ids[i] << ": " << result.toStdString();
                else
                    EXPECT_TRUE(!result.isEmpty() && result != "ok")
                        << c.ids[i] << ": " << result.toStdString();
            }
            // The current value follows the write while the dialog is open.
            if (*c.shown)
                EXPECT_TRUE(apptest::ProcessUntil([&] {
                    return dlg->Results->item(0, 2)->text() == c.shown;
                })) << dlg->Results->item(0, 2)->text().toStdString();
        });
        if (*c.shown) {
            for (int r : rows)
                EXPECT_TRUE(apptest::ProcessUntil([&] { return Cell(r, colValue) == c.shown; }))
                    << c.input << " shows " << Cell(r, colValue).toStdString();
        } else {
            apptest::ProcessFor(300);
            EXPECT_EQ(Cell(rows[0], colValue), before) << c.input;
        }
    }
    EXPECT_TRUE(apptest::Recorded().errors.empty()) << apptest::Recorded().errors[0];
    EXPECT_TRUE(apptest::Recorded().messages.empty()) << apptest::Recorded().messages[0];
}

TEST_F(LiveItems, PropertiesOfAnAnalogItemAreListedAndRefreshed) {
    AddGroupWith("P", {"Plant/Area1/Tank1/Level"});
    form->ItemView->selectRow(0);
    int rowsFirst = -1, rowsAfterRefresh = -1;
    std::map<int, QString> values;
    apptest::WhenDialog<TItemPropertiesDlg>([&](TItemPropertiesDlg* dlg) {
        EXPECT_EQ(dlg->LItem->text(), "Plant/Area1/Tank1/Level");
        rowsFirst = dlg->Properties->rowCount();
        for (int r = 0; r < dlg->Properties->rowCount(); ++r)
            values[dlg->Properties->item(r, 0)->text().toInt()] =
                dlg->Properties->item(r, 3)->text();
        dlg->Properties->setRowCount(0);
        dlg->bRefresh->click();
        rowsAfterRefresh = dlg->Properties->rowCount();
        dlg->reject();
    });
    form->ItemProperties1->trigger();
    EXPECT_GE(rowsFirst, 8);
    EXPECT_EQ(rowsAfterRefresh, rowsFirst);
    const struct {
        int id;
        const char* value;
    } expected[] = {
        {1, "R8"},   {5, "readable"}, {100, "m"},    {101, "Tank 1 filling level"},
        {102, "10"}, {103, "0"},      {7, "analog"},
    };
    for (const auto& e : expected) EXPECT_EQ(values[e.id], e.value) << "property " << e.id;
    EXPECT_TRUE(values[3].startsWith("good")) << values[3].toStdString();
}

}  // namespace
