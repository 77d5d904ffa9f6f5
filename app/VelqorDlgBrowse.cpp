#include "VelqorDlgBrowse.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "BusyCall.h"
#include "ErrorDisplay.h"

using namespace velqor;

namespace {
// The data types a browse can be restricted to; an entry's position is its VelqorADatatype.
const char* const kDataTypes[] = {
    "EMPTY", "NULL",     "I2",    "I4",        "R4",      "R8",          "CY",      "DATE",
    "BSTR",  "DISPATCH", "ERROR", "BOOL",      "VARIANT", "UNKNOWN",     "DECIMAL", "undef",
    "I1",    "UI1",      "UI2",   "UI4",       "I8",      "UI8",         "INT",     "UINT",
    "VOID",  "HRESULT",  "PTR",   "SAFEARRAY", "CARRAY",  "USERDEFINED", "LPSTR",   "LPWSTR"};
static_assert(sizeof(kDataTypes) / sizeof(kDataTypes[0]) == vtLPWSTR + 1);
}  // namespace

bool TVelqorDlgBrowse::Execute(TVelqorBrowser& browser, std::vector<std::string>& result,
                               bool startAtRoot, QWidget* parent) {
    if (!browser.OPCServer() || !browser.OPCServer()->Active()) return false;
    TVelqorDlgBrowse dlg(browser, result, startAtRoot, parent);
    return dlg.exec() == QDialog::Accepted;
}

TVelqorDlgBrowse::TVelqorDlgBrowse(TVelqorBrowser& browser, std::vector<std::string>& result,
                                   bool startAtRoot, QWidget* parent)
    : QDialog(parent), browser_(browser), result_(result), startAtRoot_(startAtRoot) {
    setObjectName("VelqorDlgBrowse");
    setWindowTitle("Select OPC Item");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    bBack = new QToolButton(this);
    bBack->setObjectName("bBack");
    bBack->setAutoRaise(true);
    bBack->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    bBack->setToolTip("Up one level");
    bBack->setFocusPolicy(Qt::NoFocus);  // a tool button: the keys go to the list (Backspace)
    ePath = new QLineEdit(this);
    ePath->setObjectName("ePath");
    ePath->setReadOnly(true);

    ListView = new QListWidget(this);
    ListView->setObjectName("ListView");
    ListView->setViewMode(QListView::ListMode);
    ListView->setFlow(QListView::TopToBottom);
    ListView->setWrapping(true);
    ListView->setResizeMode(QListView::Adjust);
    // A level of many thousand entries is laid out a batch per turn of the event loop, so that
    // entering it or selecting all of it does not hold the window while every entry is measured.
    ListView->setLayoutMode(QListView::Batched);
    ListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView->setMinimumSize(420, 220);
    ListView->installEventFilter(this);

    eFilter = new QLineEdit(this);
    eFilter->setObjectName("eFilter");
    eFilter->installEventFilter(this);
    cDataType = new QComboBox(this);
    cDataType->setObjectName("cDataType");
    cDataType->setEditable(false);
    for (const char* t : kDataTypes) cDataType->addItem(t);
    cWritable = new QCheckBox("Writable", this);
    cWritable->setObjectName("cWritable");
    cReadable = new QCheckBox("Readable", this);
    cReadable->setObjectName("cReadable");

    bOk = new QPushButton("&Open", this);
    bOk->setObjectName("bOk");
    bOk->setDefault(true);
    bCancel = new QPushButton("&Cancel", this);
    bCancel->setObjectName("bCancel");
    bCancel->setAutoDefault(false);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(bBack);
    pathRow->addWidget(new QLabel("Path", this));
    pathRow->addWidget(ePath, 1);

    auto* criteria = new QGridLayout;
    criteria->addWidget(new QLabel("Filter", this), 0, 0);
    criteria->addWidget(eFilter, 0, 1);
    criteria->addWidget(new QLabel("Data type", this), 1, 0);
    criteria->addWidget(cDataType, 1, 1);
    criteria->addWidget(cReadable, 0, 2);
    criteria->addWidget(cWritable, 1, 2);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOk);
    buttons->addWidget(bCancel);

    auto* top = new QVBoxLayout(this);
    top->addLayout(pathRow);
    top->addWidget(ListView, 1);
    top->addLayout(criteria);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);

    connect(bBack, &QToolButton::clicked, this, [this] { Guarded([this] { bBackClick(); }); });
    connect(bOk, &QPushButton::clicked, this, [this] { Guarded([this] { bOkClick(); }); });
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ListView, &QListWidget::itemDoubleClicked, this,
            [this] { Guarded([this] { bOkClick(); }); });
    connect(cDataType, &QComboBox::activated, this, [this] { Guarded([this] { UpdateEvent(); }); });
    connect(cWritable, &QCheckBox::clicked, this, [this] { Guarded([this] { UpdateEvent(); }); });
    connect(cReadable, &QCheckBox::clicked, this, [this] { Guarded([this] { UpdateEvent(); }); });
}

void TVelqorDlgBrowse::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    Guarded([this] { FormShow(); });
}

bool TVelqorDlgBrowse::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListView && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Backspace) {
            Guarded([this] { bBackClick(); });
            return true;
        }
        if (key->key() == Qt::Key_Space) {
            Guarded([this] { EnterSelectedBranch(); });
            return true;
        }
    }
    if (watched == eFilter && event->type() == QEvent::FocusOut) Guarded([this] { UpdateEvent(); });
    return QDialog::eventFilter(watched, event);
}

void TVelqorDlgBrowse::FormShow() {
    cDataType->setCurrentIndex(0);
    if (startAtRoot_) RunBusy("Browsing...", [this] { browser_.MoveToRoot(); });
    Refresh();
    ListView->setFocus();
}

void TVelqorDlgBrowse::Refresh() {
    browser_.Filter = eFilter->text().toStdString();
    browser_.Datatype = VelqorADatatype(std::max(0, cDataType->currentIndex()));
    browser_.AccessRights = 0;
    if (cWritable->isChecked()) browser_.AccessRights |= opcWritable;
    if (cReadable->isChecked()) browser_.AccessRights |= opcReadable;
    ListView->clear();
    TVelqorBrowseItem* pos = browser_.Position();
    QString path = pos ? QString::fromStdString(pos->Name) : QString();
    ePath->setText(path.isEmpty() ? "root" : path);
    // The field names the branch; where it stands in the tree is in its tooltip.
    const QString where = pos ? QString::fromStdString(pos->CombinedID()) : QString();
    ePath->setToolTip(where.isEmpty() ? QString("the root of the address space") : where);
    RunBusy("Browsing " + ePath->text() + "...", [this] { browser_.BrowseAll(false); });
    const QIcon branch = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon item = style()->standardIcon(QStyle::SP_FileIcon);
    for (const auto& b : browser_.BrowseItems()) {
        auto* e = new QListWidgetItem(b->IsBranch ? branch : item, QString::fromStdString(b->Name));
        e->setData(Qt::UserRole, QVariant::fromValue(quintptr(b.get())));
        e->setData(PictureRole, b->IsBranch ? kBranch : kItem);
        ListView->addItem(e);
    }
    // What the server left out of this level is said at its end, as an entry that cannot be
    // chosen, so that a short list does not pass for the whole level.
    for (const std::string& gap : browser_.Gaps()) {
        auto* e = new QListWidgetItem(style()->standardIcon(QStyle::SP_MessageBoxWarning),
                                      QString::fromStdString(gap));
        e->setFlags(Qt::NoItemFlags);
        e->setToolTip(e->text());
        ListView->addItem(e);
    }
    if (ListView->count() > 0) {
        ListView->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
    }
}

TVelqorBrowseItem* TVelqorDlgBrowse::BrowseItemOf(QListWidgetItem* entry) const {
    return entry ? reinterpret_cast<TVelqorBrowseItem*>(entry->data(Qt::UserRole).value<quintptr>())
                 : nullptr;
}

void TVelqorDlgBrowse::bBackClick() {
    TVelqorBrowseItem* pos = browser_.Position();
    if (pos && !pos->ItemName.empty()) {
        RunBusy("Browsing...", [this] { browser_.MoveUp(); });
        Refresh();
    }
}

bool TVelqorDlgBrowse::EnterSelectedBranch() {
    QListWidgetItem* first = nullptr;
    for (int i = 0; i < ListView->count() && !first; ++i)
        if (ListView->item(i)->isSelected()) first = ListView->item(i);
    if (!first || first->data(PictureRole).toInt() != kBranch) return false;
    // The entry's browse item lives in the list that the next browse clears: copy it first.
    TVelqorBrowseItem target = *BrowseItemOf(first);
    RunBusy("Browsing...", [&] { browser_.MoveDown(&target); });
    Refresh();
    return true;
}

void TVelqorDlgBrowse::UpdateEvent() { Refresh(); }

void TVelqorDlgBrowse::bOkClick() {
    result_.clear();
    if (eFilter->hasFocus()) {
        Refresh();
    } else if (!EnterSelectedBranch()) {
        for (int i = 0; i < ListView->count(); ++i) {
            QListWidgetItem* e = ListView->item(i);
            if (e->data(PictureRole).toInt() == kItem && e->isSelected())
                result_.push_back(BrowseItemOf(e)->CombinedID());
        }
    }
    if (!result_.empty()) accept();
}
