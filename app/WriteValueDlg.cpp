#include "WriteValueDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "BusyCall.h"
#include "ErrorDisplay.h"
#include "contract/VelqorTexts.h"

using namespace velqor;

namespace {
enum { colId, colType, colValue, colResult, kColumns };

QString TypeName(int32_t type) {
    return type == velqor::VT_EMPTY ? QString("unknown")
                                    : QString::fromStdString(VarTypeName(type));
}
}  // namespace

TWriteValueDlg::TWriteValueDlg(std::vector<TVelqorItem*> items, QWidget* parent)
    : QDialog(parent), items_(std::move(items)) {
    setObjectName("WriteValueDlg");
    setWindowTitle(items_.size() == 1 ? "Write Value"
                                      : QString("Write Value to %1 Items").arg(items_.size()));
    auto* layout = new QVBoxLayout(this);
    Results = new QTableWidget(int(items_.size()), kColumns, this);
    Results->setObjectName("Results");
    Results->setHorizontalHeaderLabels({"Item", "Data type", "Current value", "Result"});
    Results->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Results->setSelectionMode(QAbstractItemView::NoSelection);
    Results->verticalHeader()->hide();
    Results->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(Results, 1);

    layout->addWidget(new QLabel("&New value:", this));
    eValue = new QLineEdit(this);
    eValue->setObjectName("eValue");
    qobject_cast<QLabel*>(layout->itemAt(1)->widget())->setBuddy(eValue);
    layout->addWidget(eValue);
    LHint = new QLabel(this);
    LHint->setObjectName("LHint");
    LHint->setWordWrap(true);
    layout->addWidget(LHint);

    auto* buttons = new QDialogButtonBox(this);
    bWrite = buttons->addButton("&Write", QDialogButtonBox::ApplyRole);
    bWrite->setObjectName("bWrite");
    bWrite->setDefault(true);
    bClose = buttons->addButton("&Close", QDialogButtonBox::RejectRole);
    bClose->setObjectName("bClose");
    layout->addWidget(buttons);
    connect(bWrite, &QPushButton::clicked, this, [this] { Guarded([this] { Write(); }); });
    connect(bClose, &QPushButton::clicked, this, &QDialog::reject);

    ShowItems();
    bool anyArray = false;
    for (TVelqorItem* item : items_) anyArray = anyArray || (TypeOf(*item) & velqor::VT_ARRAY);
    LHint->setText(anyArray ? "An array is written as its elements separated by \";\", e.g. 1;2;3"
                            : QString());
    if (items_.size() == 1) eValue->setText(QString::fromStdString(items_[0]->ValueText()));
    eValue->selectAll();
    // Typing goes to the value, and Enter writes what was typed.
    eValue->setFocus();
    Results->setFocusPolicy(Qt::ClickFocus);
    // The items stay live while the dialog is open: their current values follow.
    auto* refresh = new QTimer(this);
    connect(refresh, &QTimer::timeout, this, [this] { ShowValues(); });
    refresh->start(250);
    resize(560, 160 + 24 * int(std::min<size_t>(items_.size(), 10)));
}

void TWriteValueDlg::ShowValues() {
    for (int r = 0; r < int(items_.size()); ++r)
        if (QTableWidgetItem* cell = Results->item(r, colValue))
            cell->setText(QString::fromStdString(items_[size_t(r)]->ValueText()));
}

int32_t TWriteValueDlg::TypeOf(const TVelqorItem& item) {
    return item.CanonicalDatatype() != velqor::VT_EMPTY ? item.CanonicalDatatype()
                                                        : item.Value().Type();
}

Variant TWriteValueDlg::ValueFor(const QString& text, int32_t type) {
    return ValueFromText(text.toStdString(), type);
}

void TWriteValueDlg::ShowItems() {
    for (int r = 0; r < int(items_.size()); ++r) {
        const TVelqorItem& item = *items_[size_t(r)];
        Results->setItem(r, colId, new QTableWidgetItem(QString::fromStdString(item.ItemID())));
        Results->setItem(r, colType, new QTableWidgetItem(TypeName(TypeOf(item))));
        Results->setItem(r, colValue,
                         new QTableWidgetItem(QString::fromStdString(item.ValueText())));
        if (!Results->item(r, colResult)) Results->setItem(r, colResult, new QTableWidgetItem);
    }
    Results->resizeColumnsToContents();
}

bool TWriteValueDlg::Write() {
    // Each item's value in its own type; an input that fits none of them writes nothing.
    const QString text = eValue->text();
    TVelqorItemList list;
    std::vector<QString> results(items_.size());
    for (size_t i = 0; i < items_.size(); ++i) {
        TVelqorItem& item = *items_[i];
        try {
            item.SetWriteValue(ValueFor(text, TypeOf(item)));
            item.SetWriteQuality(-1);
            item.SetWriteTimeStamp(-1);
            list.Add(&item);
        } catch (const std::exception& e) {
            results[i] = QString("\"%1\" is not a valid %2 value (%3)")
                             .arg(text, TypeName(TypeOf(item)), QString::fromUtf8(e.what()));
        }
    }
    auto show = [&] {
        for (size_t i = 0; i < items_.size(); ++i)
            Results->item(int(i), colResult)->setText(results[i]);
    };
    if (list.Empty()) {
        show();
        LHint->setText(results.front());
        eValue->setFocus();
        return false;
    }
    TVelqorGroup* group = items_.front()->Group();
    RunBusy(list.Count() == 1
                ? "Writing " + QString::fromStdString(items_.front()->ItemID()) + "..."
                : QString("Writing %1 items...").arg(list.Count()),
            [&] {
                if (!group || !group->TransportGroup())
                    throw EOPCServerException(MsgText(Msg::NotConnected));
                group->TransportGroup()->WriteSync(list);
                // The server words its own errors (a call of its own for COM servers).
                for (size_t i = 0; i < items_.size(); ++i)
                    if (results[i].isEmpty())
                        results[i] = items_[i]->Error() == 0
                                         ? QString("ok")
                                         : QString::fromStdString(items_[i]->ErrorText());
            });
    show();
    int failed = 0;
    for (const QString& r : results) failed += r != "ok";
    LHint->setText(failed == 0
                       ? QString("Written.")
                       : QString("%1 of %2 items not written.").arg(failed).arg(items_.size()));
    return true;
}

void WriteItemValues(const std::vector<TVelqorItem*>& items, QWidget* parent) {
    if (items.empty()) return;
    TWriteValueDlg dlg(items, parent);
    dlg.exec();
}
