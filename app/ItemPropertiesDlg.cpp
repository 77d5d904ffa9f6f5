#include "ItemPropertiesDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "BusyCall.h"
#include "ErrorDisplay.h"
#include "contract/VelqorTexts.h"

using namespace velqor;

namespace {
enum { colId, colDescription, colType, colValue, kColumns };

// Identifiers of the properties whose numbers mean something to be worded.
constexpr int32_t kPropDataType = 1, kPropQuality = 3, kPropAccessRights = 5, kPropEUType = 7;
}  // namespace

TItemPropertiesDlg::TItemPropertiesDlg(TVelqorServer& server, std::string itemID, QWidget* parent)
    : QDialog(parent), server_(server), itemID_(std::move(itemID)) {
    setObjectName("ItemPropertiesDlg");
    setWindowTitle("Item Properties");
    auto* layout = new QVBoxLayout(this);
    LItem = new QLabel(QString::fromStdString(itemID_), this);
    LItem->setObjectName("LItem");
    LItem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(LItem);
    Properties = new QTableWidget(0, kColumns, this);
    Properties->setObjectName("Properties");
    Properties->setHorizontalHeaderLabels({"ID", "Description", "Data type", "Value"});
    Properties->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Properties->setSelectionBehavior(QAbstractItemView::SelectRows);
    Properties->verticalHeader()->hide();
    Properties->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(Properties, 1);
    auto* buttons = new QDialogButtonBox(this);
    bRefresh = buttons->addButton("&Refresh", QDialogButtonBox::ActionRole);
    bRefresh->setObjectName("bRefresh");
    bClose = buttons->addButton("&Close", QDialogButtonBox::RejectRole);
    bClose->setObjectName("bClose");
    bClose->setDefault(true);
    layout->addWidget(buttons);
    connect(bRefresh, &QPushButton::clicked, this, [this] { Guarded([this] { Refresh(); }); });
    connect(bClose, &QPushButton::clicked, this, &QDialog::reject);
    resize(620, 420);
}

QString TItemPropertiesDlg::ValueText(const TVelqorItemProperty& p, const std::string& error) {
    if (p.Error != 0) return QString::fromStdString(error);
    try {
        if (p.PropertyID == kPropDataType)
            return QString::fromStdString(VarTypeName(p.Value.AsInt32()));
        if (p.PropertyID == kPropQuality)
            return QString::fromStdString(QualityText(p.Value.AsInt32()) + " (" +
                                          QualityCode(p.Value.AsInt32()) + ")");
        if (p.PropertyID == kPropAccessRights) {
            const int32_t r = p.Value.AsInt32();
            QStringList words;
            if (r & 1) words << "readable";
            if (r & 2) words << "writable";
            return words.isEmpty() ? QString("none") : words.join(", ");
        }
        if (p.PropertyID == kPropEUType && p.Value.IsNumeric()) {
            const int32_t t = p.Value.AsInt32();
            return t == 1 ? "analog" : t == 2 ? "enumerated" : "none";
        }
    } catch (const std::exception&) {
        // Not a number after all: shown as it came.
    }
    return QString::fromStdString(ValueTextOf(p.Value));
}

void TItemPropertiesDlg::Refresh() {
    std::vector<TVelqorItemPropertyQuery> queries{{itemID_, {}}};
    std::vector<std::string> errors;
    RunBusy("Reading the properties of " + QString::fromStdString(itemID_) + "...", [&] {
        auto connection = server_.DAConnection();
        if (!connection) throw EOPCServerException(MsgText(Msg::NotConnected));
        connection->GetItemProperties(queries, {}, true, true);
        // Failed properties are worded by the server (a call of its own for COM servers).
        for (const auto& p : queries[0].Properties) {
            std::string text;
            if (p.Error != 0) connection->GetErrorString(p.Error, text);
            errors.push_back(text);
        }
    });
    const auto& props = queries[0].Properties;
    Properties->setRowCount(int(props.size()));
    for (int r = 0; r < int(props.size()); ++r) {
        const TVelqorItemProperty& p = props[size_t(r)];
        auto* id = new QTableWidgetItem;
        id->setData(Qt::DisplayRole, p.PropertyID);
        Properties->setItem(r, colId, id);
        Properties->setItem(r, colDescription,
                            new QTableWidgetItem(QString::fromStdString(p.Description)));
        Properties->setItem(
            r, colType,
            new QTableWidgetItem(p.DataType < 0 ? QString()
                                                : QString::fromStdString(VarTypeName(p.DataType))));
        Properties->setItem(r, colValue, new QTableWidgetItem(ValueText(p, errors[size_t(r)])));
    }
    Properties->resizeColumnsToContents();
}

void ShowItemProperties(TVelqorServer& server, const std::string& itemID, QWidget* parent) {
    TItemPropertiesDlg dlg(server, itemID, parent);
    dlg.Refresh();
    dlg.exec();
}
