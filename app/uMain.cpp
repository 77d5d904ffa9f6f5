#include "uMain.h"

#include <QApplication>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "BusyCall.h"
#include "ColumnFit.h"
#include "ConnectionSettingsDlg.h"
#include "ErrorDisplay.h"
#include "ItemPropertiesDlg.h"
#include "OPCGroupDlg.h"
#include "QualityText.h"
#include "TrendWidget.h"
#include "VelqorDlgBrowse.h"
#include "WindowSettings.h"
#include "WriteValueDlg.h"
#include "contract/VelqorDateTime.h"
#include "contract/VelqorParams.h"
#include "model/VelqorServerList.h"
#include "uMainExport.h"

using namespace velqor;

namespace {
// The marker tag of the value labels that clearing the status empties.
const char* const kTag = "tag";

// Runs a handler as the application's commands do: errors are shown, never fatal.
template <class F>
auto Handler(F fn) {
    return [fn] { Guarded(fn); };
}

// A menu's command: its action, triggering the handler as Handler runs it.
template <class F>
QAction* AddCommand(QObject* owner, QMenu* menu, const QString& text, F fn) {
    QAction* action = menu->addAction(text);
    QObject::connect(action, &QAction::triggered, owner, Handler(fn));
    return action;
}

QLabel* ValueLabel(QWidget* parent, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setProperty(kTag, 1);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

// One row of a value panel: its heading, and the value label's name and member.
struct ValueRow {
    const char* text;
    const char* name;
    QLabel** label;
};

// A box of value labels named title, one row each.
QGroupBox* ValuePanel(QWidget* parent, const char* title, const char* name,
                      std::initializer_list<ValueRow> rows) {
    auto* panel = new QGroupBox(title, parent);
    panel->setObjectName(name);
    auto* form = new QFormLayout(panel);
    for (const ValueRow& row : rows) {
        *row.label = ValueLabel(panel, row.name);
        form->addRow(row.text, *row.label);
    }
    return panel;
}

QToolButton* FlatButton(QWidget* parent, const char* name, QStyle::StandardPixmap icon,
                        const char* hint) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setAutoRaise(true);
    b->setIcon(parent->style()->standardIcon(icon));
    b->setIconSize(QSize(22, 22));
    b->setToolTip(hint);
    return b;
}

// A locale's time format without its time-zone part.
QString WithoutZone(QString f) {
    f.remove(QRegularExpression("\\s*t+\\s*"));
    return f.trimmed();
}

TVelqorItem* ItemOf(const TItemRow& r) { return static_cast<TVelqorItem*>(r.Item); }

// A server name that reads like an address (it has a ':' or '/', which no program identifier
// has) must be a whole http or https address; a mistyped one gets a clear word here instead of
// a transport's puzzled reply.
void CheckServerAddress(const QString& name) {
    const QString text = name.trimmed();
    if (!text.contains(':') && !text.contains('/')) return;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && (scheme == "http" || scheme == "https") && !url.host().isEmpty()) return;
    throw Exception(QString("\"%1\" is not a valid server address. An XML-DA server is "
                            "named by its address, as http://host:port/path; a COM server by "
                            "its program identifier, as Velqor.SimDA20.1.")
                        .arg(text)
                        .toStdString());
}

float ClampedDeadBand(float v) { return v >= 0 ? (v <= 100 ? v : 100) : 0; }

QString DuplicateGroupText(const std::string& name) {
    return QString("A group named \"%1\" already exists. Choose another name.")
        .arg(QString::fromStdString(name));
}
}  // namespace

void TServerCombo::showPopup() {
    emit dropDown();
    QComboBox::showPopup();
}

TForm1::TForm1(std::unique_ptr<TVelqorServer> server, QWidget* parent)
    : QMainWindow(parent),
      OPCServer(server ? std::move(server) : std::make_unique<TVelqorServer>()),
      Ini(IniMemory::ForApplication()) {
    setObjectName("Form1");
    setWindowTitle("Tagscope");
    resize(646, 448);

    QLocale loc = QLocale::system();
    timeFormat_ = WithoutZone(loc.timeFormat(QLocale::LongFormat));
    dateFormat_ = loc.dateFormat(QLocale::ShortFormat);
    plainTimeFormat_ = timeFormat_ == "HH:mm:ss";

    // The server component as the window configures it.
    OPCServer->SetKeepAlive(0);
    OPCServer->SetProtocol(coCOM);
    OPCServer->SetBatchMode(false);
    OPCServer->SetConnectDelay(300);
    TVelqorDefaultGroup& def = OPCServer->OPCGroupDefault();
    def.IsActive = true;
    def.UpdateRate = 1000;
    def.LocaleId = 0;
    def.TimeBias = 0;
    OPCServer->OnServerShutdown = [this](TVelqorSvr*, const std::string&) {
        OPCServerServerShutdown();
    };
    OPCServer->OnDatachange = [this](TVelqorServer*, const TVelqorItemList& l) {
        OPCServerDatachange(l);
    };
    // While a group's subscription is being made again its rows are not current; the values
    // that follow the recovery make them current again.
    OPCServer->OnSubscriptionInterrupted = [this](TVelqorServer*, TVelqorGroup* g,
                                                  const std::string& why) {
        if (g == SelectedGroup())
            MarkRowsStale("the subscription was interrupted (" + QString::fromStdString(why) +
                          "); it is being made again");
    };
    OPCServer->OnServerSilent = [this](TVelqorServer*, TVelqorGroup* g, const std::string& why) {
        if (g == SelectedGroup())
            MarkRowsStale("the server does not answer (" + QString::fromStdString(why) +
                          "); still waiting for it");
    };
    // The values shown are current again, changed or not.
    OPCServer->OnServerAnswers = [this](TVelqorServer*, TVelqorGroup* g, const std::string&) {
        if (g != SelectedGroup() || ItemModel->Count() == 0) return;
        for (int i = 0; i < ItemModel->Count(); ++i) {
            TItemRow* r = ItemModel->Row(i);
            if (FindItemByClientHandle(r->Handle) == r->Item) RowValues(*r);
        }
        ItemModel->RowsChanged(0, ItemModel->Count() - 1, true);
    };
    OPCServer->OnSubscriptionLost = [this](TVelqorServer*, TVelqorGroup* g,
                                           const std::string& why) {
        NoteError("subscription lost: " + QString::fromStdString(why));
        UpdateConnectionState();
        if (g == SelectedGroup())
            MarkRowsStale("the subscription was lost (" + QString::fromStdString(why) + ")");
    };

    ListServers = [](std::vector<std::string>& s) { ListLocalServers(s); };
    AskComputerName = [this](QString& name) {
        bool ok = false;
        QString text = QInputDialog::getText(this, "Select remote Computer", "Computername",
                                             QLineEdit::Normal, QString(), &ok);
        if (ok) name = text;
        return ok;
    };
    AskConnectionOptions = [this](const QString& name, ConnectionOptions& options) {
        return EditConnectionOptions(name, options, this);
    };
    ChooseExportFile = [this](const QString& proposed) {
        return DefaultChooseExportFile(proposed);
    };
    ChooseLogFile = [this](const QString& proposed) {
        return QFileDialog::getSaveFileName(this, "Log Data Changes", proposed,
                                            "CSV files (*.csv);;All files (*)");
    };
    ChooseSessionFile = [this](bool save, const QString& proposed) {
        return DefaultChooseSessionFile(save, proposed);
    };
    Confirm = [this](const QString& question) {
        return QMessageBox::question(this, "Tagscope", question) == QMessageBox::Yes;
    };

    auto* central = new QWidget(this);
    auto* top = new QVBoxLayout(central);
    top->setContentsMargins(2, 2, 2, 2);
    top->setSpacing(2);

    TopPanel = new QWidget(central);
    TopPanel->setObjectName("TopPanel");
    auto* tl = new QHBoxLayout(TopPanel);
    tl->setContentsMargins(0, 0, 0, 0);
    ServerCombo = new TServerCombo(TopPanel);
    ServerCombo->setObjectName("ServerCombo");
    ServerCombo->setEditable(true);
    ServerCombo->setInsertPolicy(QComboBox::NoInsert);
    ServerCombo->setToolTip("Select OPC Server");
    ServerCombo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    bRemoteConnect =
        FlatButton(TopPanel, "bRemoteConnect", QStyle::SP_DriveNetIcon, "Connect to remote server");
    bConnect = FlatButton(TopPanel, "bConnect", QStyle::SP_DialogApplyButton, "Connect to server");
    BDisconnect = FlatButton(TopPanel, "BDisconnect", QStyle::SP_DialogCancelButton,
                             "Disconnect from server");
    tl->addWidget(ServerCombo, 1);
    tl->addWidget(bRemoteConnect);
    tl->addWidget(bConnect);
    tl->addWidget(BDisconnect);
    top->addWidget(TopPanel);

    Splitter1 = new QSplitter(Qt::Horizontal, central);
    Splitter1->setObjectName("Splitter1");
    TreeView1 = new QTreeWidget(Splitter1);
    TreeView1->setObjectName("TreeView1");
    TreeView1->setHeaderHidden(true);
    TreeView1->setRootIsDecorated(false);
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView1->setToolTip("click right mousekey to edit groups");
    TreeView1->setContextMenuPolicy(Qt::CustomContextMenu);

    ItemModel = new ItemListModel(this);
    ItemView = new QTableView(Splitter1);
    ItemView->setObjectName("ItemView");
    ItemView->setModel(ItemModel);
    ItemView->setToolTip("click right mousekey to edit Items");
    ItemView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ItemView->setSelectionBehavior(QAbstractItemView::SelectRows);
    ItemView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ItemView->setShowGrid(false);
    ItemView->setWordWrap(false);
    ItemView->setContextMenuPolicy(Qt::CustomContextMenu);
    ItemView->verticalHeader()->hide();
    ItemView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ItemView->verticalHeader()->setDefaultSectionSize(ItemView->fontMetrics().height() + 4);
    ItemView->horizontalHeader()->setHighlightSections(false);
    // Columns as wide as what they hold, the spare width to item ID and value; a click on a
    // column's header sorts by it.
    ItemView->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    new TColumnFitter(ItemView);
    ItemView->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    ItemView->setSortingEnabled(true);
    Splitter1->addWidget(TreeView1);
    Splitter1->addWidget(ItemView);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({120, 520});
    top->addWidget(Splitter1, 1);

    auto* bottom = new QHBoxLayout;
    Panel3 = ValuePanel(central, "Sever state", "Panel3",
                        {{"Server", "LServer", &LServer},
                         {"Start Time", "LStartTime", &LStartTime},
                         {"Last Update", "LUpdateTime", &LUpdateTime},
                         {"State", "LState", &LState},
                         {"Vendorinfo", "LInfo", &LInfo}});
    LInfo->setWordWrap(true);
    LInfo->setMinimumHeight(2 * LInfo->fontMetrics().lineSpacing());
    LInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Panel4 = ValuePanel(central, "Group state", "Panel4",
                        {{"Name", "LName", &LName},
                         {"UpdateRate", "LUpdate", &LUpdate},
                         {"DeadBand", "LDeadBand", &LDeadBand},
                         {"Active", "LActive", &LActive}});
    bottom->addWidget(Panel3, 3);
    bottom->addWidget(Panel4, 2);
    top->addLayout(bottom);
    setCentralWidget(central);

    TrendDock = new QDockWidget("Trend", this);
    TrendDock->setObjectName("TrendDock");
    Trend = new TrendWidget(TrendDock);
    TrendDock->setWidget(Trend);
    addDockWidget(Qt::BottomDockWidgetArea, TrendDock);
    TrendDock->hide();

    BuildMenus();
    StatusLine = new QLabel(this);
    StatusLine->setObjectName("StatusLine");
    statusBar()->addWidget(StatusLine, 1);
    LogStatus = new QLabel(this);
    LogStatus->setObjectName("LogStatus");
    statusBar()->addPermanentWidget(LogStatus);

    connect(ServerCombo->lineEdit(), &QLineEdit::returnPressed, this,
            Handler([this] { bConnectClick(); }));
    connect(ServerCombo, &TServerCombo::dropDown, this, Handler([this] { ServerComboDropDown(); }));
    connect(ServerCombo, &TServerCombo::dropDown, this, [this] { AddRecentServers(); });
    auto* del = new QShortcut(QKeySequence::Delete, ItemView, nullptr, nullptr,
                              Qt::WidgetWithChildrenShortcut);
    connect(del, &QShortcut::activated, this, Handler([this] { RemoveItem1Click(); }));
    connect(bConnect, &QToolButton::clicked, this, Handler([this] { bConnectClick(); }));
    connect(bRemoteConnect, &QToolButton::clicked, this,
            Handler([this] { bRemoteConnectClick(); }));
    connect(BDisconnect, &QToolButton::clicked, this, Handler([this] { bDisconnectClick(); }));
    connect(TreeView1, &QTreeWidget::currentItemChanged, this,
            Handler([this] { TreeView1Change(); }));
    connect(TreeView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { GroupPopup->popup(TreeView1->viewport()->mapToGlobal(p)); });
    connect(ItemView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { UpdateTrendItems(); });
    connect(ItemModel, &QAbstractItemModel::modelReset, this, [this] { UpdateTrendItems(); });
    connect(ItemModel, &QAbstractItemModel::rowsRemoved, this, [this] { UpdateTrendItems(); });
    connect(ItemView, &QTableView::doubleClicked, this, Handler([this] { WriteValue1Click(); }));
    connect(ItemView, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { ItemPopup->popup(ItemView->viewport()->mapToGlobal(p)); });

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, Handler([this] { Timer1Timer(); }));
    Timer1->start();
    UpdateConnectionState();
}

TForm1::~TForm1() {
    Timer1->stop();
    if (shown_) Settings().SaveLayout(*this, *Splitter1, *ItemView->horizontalHeader());
    // The trend follows the list no longer: its parts go away from here on.
    QObject::disconnect(TrendDock, nullptr, this, nullptr);
    QObject::disconnect(ItemModel, nullptr, this, nullptr);
    QObject::disconnect(ItemView->selectionModel(), nullptr, this, nullptr);
    // No more events into a window that is going away; the component deactivates itself.
    OPCServer->OnDatachange = nullptr;
    OPCServer->OnServerShutdown = nullptr;
    OPCServer->OnSubscriptionLost = nullptr;
    OPCServer->OnSubscriptionInterrupted = nullptr;
    OPCServer->OnServerSilent = nullptr;
    OPCServer->OnServerAnswers = nullptr;
    for (int i = 0; i < ItemModel->Count(); ++i) {
        TItemRow* r = ItemModel->Row(i);
        if (FindItemByClientHandle(r->Handle) == r->Item) r->Item->FUserData = nullptr;
    }
    OPCServer.reset();
}

void TForm1::BuildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("File1");
    OpenSession1 = file->addAction("&Open Session...");
    OpenSession1->setObjectName("OpenSession1");
    SaveSession1 = file->addAction("&Save Session...");
    SaveSession1->setObjectName("SaveSession1");
    ReopenSession1 = file->addAction("&Reopen Last Session at Start");
    ReopenSession1->setObjectName("ReopenSession1");
    ReopenSession1->setCheckable(true);
    connect(OpenSession1, &QAction::triggered, this, Handler([this] { OpenSession1Click(); }));
    connect(SaveSession1, &QAction::triggered, this, Handler([this] { SaveSession1Click(); }));
    connect(ReopenSession1, &QAction::triggered, this,
            [this](bool on) { Guarded([this, on] { ReopenSession1Click(on); }); });
    file->addSeparator();
    ConnectionSettings1 =
        AddCommand(this, file, "&Connection Settings...", [this] { ConnectionSettings1Click(); });
    ConnectionSettings1->setObjectName("ConnectionSettings1");
    file->addSeparator();
    Export1 = file->addAction("&Export");
    Export1->setObjectName("Export1");
    LogData1 = file->addAction("&Log Data Changes...");
    LogData1->setObjectName("LogData1");
    LogData1->setCheckable(true);
    connect(LogData1, &QAction::triggered, this,
            [this](bool on) { Guarded([this, on] { LogData1Click(on); }); });
    file->addSeparator();
    Exit1 = file->addAction("E&xit");
    Exit1->setObjectName("Exit1");
    Exit1->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    QMenu* view = menuBar()->addMenu("&View");
    view->setObjectName("View1");
    Trend1 = TrendDock->toggleViewAction();
    Trend1->setText("&Trend");
    Trend1->setObjectName("Trend1");
    view->addAction(Trend1);
    Messages1 = view->addAction("&Messages...");
    Messages1->setObjectName("Messages1");
    connect(Messages1, &QAction::triggered, this, [this] { ShowMessages(); });
    connect(TrendDock, &QDockWidget::visibilityChanged, this, [this] { UpdateTrendItems(); });
    N1 = menuBar()->addAction("О программе");
    N1->setObjectName("N1");
    connect(Export1, &QAction::triggered, this, Handler([this] { Export1Click(); }));
    connect(Exit1, &QAction::triggered, this, Handler([this] { Exit1Click(); }));
    connect(N1, &QAction::triggered, this, Handler([this] { N1Click(); }));

    GroupPopup = new QMenu(this);
    GroupPopup->setObjectName("GroupPopup");
    AddGroup1 = AddCommand(this, GroupPopup, "&Add Group...", [this] { AddGroup1Click(); });
    RemoveGroup1 = AddCommand(this, GroupPopup, "&Remove Group", [this] { RemoveGroup1Click(); });
    RemoveallGroups1 =
        AddCommand(this, GroupPopup, "Remove a&ll Groups", [this] { RemoveallGroups1Click(); });
    Properties1 = AddCommand(this, GroupPopup, "&Properties...", [this] { Properties1Click(); });

    ItemPopup = new QMenu(this);
    ItemPopup->setObjectName("ItemPopup");
    A1 = AddCommand(this, ItemPopup, "&Add Item..", [this] { A1Click(); });
    RemoveItem1 = AddCommand(this, ItemPopup, "&Remove Item", [this] { RemoveItem1Click(); });
    RemoveallItems1 =
        AddCommand(this, ItemPopup, "Remove a&ll Items", [this] { RemoveallItems1Click(); });
    Active1 = ItemPopup->addAction("A&ctive");
    Active1->setCheckable(true);
    ItemPopup->addSeparator();
    WriteValue1 = AddCommand(this, ItemPopup, "&Write Value...", [this] { WriteValue1Click(); });
    ItemProperties1 =
        AddCommand(this, ItemPopup, "Item &Properties...", [this] { ItemProperties1Click(); });
    connect(ItemPopup, &QMenu::aboutToShow, this, Handler([this] { ItemPopupPopup(); }));
    // A checkable action has flipped its mark by the time it reports the trigger.
    connect(Active1, &QAction::triggered, this,
            [this](bool checked) { Guarded([this, checked] { Active1Click(!checked); }); });
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        Guarded([this] { FormShow(); });
    }
}

// ---- server ----------------------------------------------------------------------------------

void TForm1::FormShow() {
    // A server given by the starter (the run script's simulation service) replaces the INI's.
    bool given = qEnvironmentVariableIsSet("TAGSCOPE_SERVER");
    ServerCombo->setEditText(given ? qEnvironmentVariable("TAGSCOPE_SERVER") : Ini.ReadLast());
    // An XML-DA address the window starts with is offered in the list beside the COM servers.
    const QString start = ServerCombo->currentText().trimmed();
    if (start.startsWith("http://", Qt::CaseInsensitive) ||
        start.startsWith("https://", Qt::CaseInsensitive))
        KnownAddresses.push_back(start.toStdString());
    ClearStatus();
    Settings().RestoreLayout(*this, *Splitter1, *ItemView->horizontalHeader());
    OpenStartSession();
}

void TForm1::ServerComboDropDown() {
    QStringList current;
    for (int i = 0; i < ServerCombo->count(); ++i) current << ServerCombo->itemText(i);
    if (!current.join("\n").trimmed().isEmpty()) return;
    std::vector<std::string> servers;
    Busy("Looking for OPC servers...", [&] { ListServers(servers); });
    for (const auto& a : KnownAddresses)
        if (std::find(servers.begin(), servers.end(), a) == servers.end()) servers.push_back(a);
    QString text = ServerCombo->currentText();
    ServerCombo->clear();
    for (const auto& s : servers) ServerCombo->addItem(QString::fromStdString(s));
    ServerCombo->setEditText(text);
}

void TForm1::Connect(const QString& computerName) {
    const QString name = ServerCombo->currentText();
    CheckServerAddress(name);
    struct Update {
        TForm1* f;
        ~Update() { f->UpdateConnectionState(); }
    } update{this};
    const ConnectionOptions options = Settings().Connection(name);
    certificateWarning_.clear();
    Busy("Connecting to " + name.trimmed() + "...", [&] {
        OPCServer->SetComputerName(computerName.toStdString());
        OPCServer->SetServerName(name.toStdString());
        OPCServer->SetParams(ConnectionParams(options));
        OPCServer->SetActive(true);
    });
    lastError_.clear();  // connected: what went wrong before is in the message log
    if (options.AcceptBadCert)
        certificateWarning_ = QString::fromStdString(BadCertificateWarning(name.toStdString()));
    Timer1->start();
    Ini.WriteLast(QString::fromStdString(OPCServer->ServerName()));
    Settings().AddRecentServer(QString::fromStdString(OPCServer->ServerName()));
    ReturnToBrowsePosition();
}

void TForm1::Busy(const QString& what, const std::function<void()>& call) {
    try {
        RunBusy(what, call);
    } catch (const EAbort&) {
        NoteError("cancelled");
        UpdateConnectionState();
        throw;
    } catch (const std::exception& e) {
        NoteError(QString::fromUtf8(e.what()).simplified());
        UpdateConnectionState();
        throw;
    }
}

void TForm1::NoteError(const QString& text) {
    lastError_ = text;
    messages_.push_back(QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss.zzz") + "  " +
                        text);
    constexpr int kKept = 1000;
    if (messages_.size() > kKept) messages_.erase(messages_.begin(), messages_.end() - kKept);
}

void TForm1::ShowMessages() {
    QDialog dialog(this);
    dialog.setObjectName("MessagesDlg");
    dialog.setWindowTitle("Messages");
    auto* layout = new QVBoxLayout(&dialog);
    auto* text = new QPlainTextEdit(&dialog);
    text->setObjectName("MessageText");
    text->setReadOnly(true);
    text->setPlainText(messages_.isEmpty() ? QString("No messages.") : messages_.join('\n'));
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(640, 320);
    dialog.exec();
}

void TForm1::UpdateConnectionState() {
    const bool active = OPCServer->Active();
    bConnect->setEnabled(!active);
    bRemoteConnect->setEnabled(!active);
    ServerCombo->setEnabled(!active);
    BDisconnect->setEnabled(active);
    QString text = active ? "Connected to " + QString::fromStdString(OPCServer->ServerName())
                          : QString("Not connected");
    if (active && !certificateWarning_.isEmpty()) text += "  |  " + certificateWarning_;
    if (!lastError_.isEmpty()) text += "  |  Last error: " + lastError_;
    StatusLine->setText(text);
}

void TForm1::MarkRowsStale(const QString& why) {
    if (ItemModel->Count() == 0) return;
    for (int i = 0; i < ItemModel->Count(); ++i) {
        TItemRow& r = *ItemModel->Row(i);
        if (r.State == RowState::Failed) continue;
        r.State = RowState::Stale;
        r.Text[colQuality] = "not current";
        r.Problem = "Not current: " + why + ". The value is the last one received.";
    }
    // Every cell turns grey at once, not only the value's.
    ItemModel->RowsChanged(0, ItemModel->Count() - 1, false);
}

void TForm1::bConnectClick() { Connect(QString()); }

void TForm1::ConnectionSettings1Click() {
    const QString server = ServerCombo->currentText().trimmed();
    ConnectionOptions options = Settings().Connection(server);
    if (AskConnectionOptions(server, options)) Settings().SaveConnection(server, options);
}

void TForm1::bRemoteConnectClick() {
    QString name;
    if (AskComputerName(name)) Connect(name);
}

void TForm1::bDisconnectClick() {
    struct Update {
        TForm1* f;
        ~Update() {
            f->MarkRowsStale("disconnected");
            f->UpdateConnectionState();
        }
    } update{this};
    Busy("Disconnecting...", [this] { OPCServer->SetActive(false); });
    ClearStatus();
}

void TForm1::Exit1Click() { close(); }

void TForm1::ClearStatus() {
    for (QLabel* l : findChildren<QLabel*>())
        if (l->property(kTag).toInt() == 1) l->clear();
    LServer->setText("not connected");
}

void TForm1::Timer1Timer() {
    Timer1->stop();
    if (BusyCallRunning()) {
        // Another call has the component; the next refresh comes after it.
        Timer1->start();
        return;
    }
    if (!OPCServer->Active()) {
        ClearStatus();
        return;
    }
    try {
        TVelqorGroup* g = SelectedGroup();
        tVelqorGroupStateRec st;
        tServerStateRecord s;
        // In the background: a click meanwhile cancels the refresh and is then handled.
        RunBusy(
            "Refreshing the status...",
            [&] {
                if (g) g->GetGroupState(st);
                OPCServer->GetStatus(s);
            },
            BusyKind::Background);
        if (g) {
            LName->setText(QString::fromStdString(st.Name));
            LUpdate->setText(QString::number(st.UpdateRate));
            LDeadBand->setText(FormatDeadBand(st.DeadBand));
            LActive->setText(st.Active ? "active" : "not active");
        } else {
            ClearStatus();
        }
        LServer->setText(QString::fromStdString(OPCServer->ServerName()));
        LState->setText(QString::fromStdString(ServerStateText(s.ServerState)));
        LInfo->setText(QString::fromStdString(s.VendorInfo));
        LStartTime->setText(DateTimeText(s.StartTime));
        LUpdateTime->setText(DateTimeText(s.LastUpdateTime));
        Timer1->start();
    } catch (const EAbort&) {
        Timer1->start();  // cancelled by the user's input: try again next time
    } catch (const std::exception& e) {
        // A failed refresh disconnects without a message box; the status bar tells why.
        Timer1->stop();
        NoteError(QString::fromUtf8(e.what()).simplified());
        try {
            RunBusy("Disconnecting...", [this] { OPCServer->SetActive(false); });
        } catch (...) {
        }
        ClearStatus();
        MarkRowsStale("the connection to the server was lost");
        UpdateConnectionState();
    }
}

void TForm1::OPCServerServerShutdown() {
    Timer1->stop();
    ClearStatus();
    NoteError("the server shut down");
    MarkRowsStale("the server shut down");
    UpdateConnectionState();
}

void TForm1::OPCServerDatachange(const TVelqorItemList& items) {
    int first = ItemModel->Count(), last = -1;
    for (TVelqorItemData* item : items) {
        auto* row = static_cast<TItemRow*>(item->FUserData);
        if (!row) continue;
        RowValues(*row);
        first = std::min(first, row->Index);
        last = std::max(last, row->Index);
    }
    // One announcement per notification: the view repaints the visible part once.
    if (last >= first) ItemModel->RowsChanged(first, last, true);
    if (!Trend->AllSeries().empty()) Trend->Record(items);
    if (Log.Active()) {
        Log.Record(items);
        ShowLogState();
    }
}

// ---- rows ------------------------------------------------------------------------------------

void TForm1::RowSetup(TItemRow& r) const {
    TVelqorItem* item = ItemOf(r);
    r.Text[colItemId] = QString::fromStdString(item->ItemID());
    r.Text[colAccessPath] = QString::fromStdString(item->AccessPath());
    r.Text[colActive] = item->IsActive() ? "X" : " ";
    r.Text[colValue] = r.Text[colTime] = r.Text[colQuality] = "-";
    r.State = RowState::Current;
    r.Problem.clear();
    r.Quality = -1;
    // The add's own result: an item the server refused says so until it delivers data.
    if (OPCServer->Active() && item->Error() != 0) {
        r.State = RowState::Failed;
        r.Text[colQuality] = "refused";
        r.Problem = QString::fromStdString(item->ErrorText());
    }
}

void TForm1::RowValues(TItemRow& r) const {
    TVelqorItem* item = ItemOf(r);
    r.Text[colValue] = QString::fromStdString(item->ValueText());
    r.Text[colTime] = TimeText(item->TimeStamp());
    r.Text[colQuality] = QualityCellText(item->Quality());
    r.Quality = item->Quality();
    if (r.State == RowState::Failed && item->Error() != 0) {
        r.Text[colQuality] = "refused";
        // A refused item never had a time of its own: no midnight of the day zero.
        if (item->TimeStamp() == 0) r.Text[colTime].clear();
        return;
    }
    if (!OPCServer->Active()) {
        r.State = RowState::Stale;
        r.Text[colQuality] = "not current";
        r.Problem = "Not current: not connected. The value is the last one received.";
        return;
    }
    r.State = RowState::Current;
    r.Problem = item->Error() != 0 ? QString::fromStdString(item->ErrorText()) : QString();
}

QString TForm1::TimeText(double dateTime) const { return TimeOfDay(dateTime, true); }

QString TForm1::TimeOfDay(double dateTime, bool milliseconds) const {
    DateTimeParts p = DecodeDateTime(dateTime);
    if (plainTimeFormat_) {
        char buf[24];
        if (milliseconds)
            std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", p.Hour % 100, p.Minute % 100,
                          p.Second % 100, p.Millisecond % 1000);
        else
            std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.Hour % 100, p.Minute % 100,
                          p.Second % 100);
        return QString::fromLatin1(buf);
    }
    return QTime(p.Hour, p.Minute, p.Second, p.Millisecond)
        .toString(milliseconds ? TimeFormatWithMilliseconds(timeFormat_) : timeFormat_);
}

QString TForm1::DateTimeText(double dateTime) const {
    DateTimeParts p = DecodeDateTime(dateTime);
    QDate d(p.Year, p.Month, p.Day);
    return d.toString(dateFormat_) + " " + TimeOfDay(dateTime, false);
}

std::vector<TVelqorItem*> TForm1::SelectedItems() const {
    std::vector<TVelqorItem*> out;
    QModelIndexList rows = ItemView->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    for (const QModelIndex& i : rows)
        if (i.row() < ItemModel->Count()) out.push_back(ItemOf(*ItemModel->Row(i.row())));
    return out;
}

TItemRow* TForm1::SelectedRow() const {
    QModelIndexList rows = ItemView->selectionModel()->selectedRows();
    if (rows.isEmpty()) return nullptr;
    int i = rows.first().row();
    return i < ItemModel->Count() ? ItemModel->Row(i) : nullptr;
}

void TForm1::EmptyList() { ItemModel->Clear(); }

void TForm1::PruneDeadRows() {
    for (int i = ItemModel->Count() - 1; i >= 0; --i) {
        TItemRow* r = ItemModel->Row(i);
        if (FindItemByClientHandle(r->Handle) != r->Item) ItemModel->RemoveRow(r);
    }
}

void TForm1::AddRowsFor(const std::vector<TVelqorItem*>& items, bool withValues) {
    if (items.empty()) return;
    std::vector<TVelqorItemData*> data(items.begin(), items.end());
    TItemRow* first = ItemModel->AddRows(data);
    for (int i = first->Index; i < ItemModel->Count(); ++i) {
        TItemRow& r = *ItemModel->Row(i);
        r.Item->FUserData = &r;
        RowSetup(r);
        if (withValues) RowValues(r);
    }
    ItemModel->RowsChanged(first->Index, ItemModel->Count() - 1, false);
    // New rows take their place in the order the list is shown in.
    const QHeaderView* header = ItemView->horizontalHeader();
    if (header->sortIndicatorSection() >= 0)
        ItemModel->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
}

// ---- groups ----------------------------------------------------------------------------------

QTreeWidgetItem* TForm1::SelectedNode() const {
    // One node at a time: the current node is the selected one.
    return TreeView1->currentItem();
}

TVelqorGroup* TForm1::SelectedGroup() const {
    QTreeWidgetItem* n = SelectedNode();
    return n ? OPCServer->OPCGroups().FindGroup(n->text(0).toStdString()) : nullptr;
}

TVelqorGroup* TForm1::OtherGroupNamed(const std::string& name, const TVelqorGroup* except) const {
    TVelqorGroup* g = OPCServer->OPCGroups().FindGroup(name);
    return g != except ? g : nullptr;
}

void TForm1::AddGroup1Click() {
    TVelqorDefaultGroup& def = OPCServer->OPCGroupDefault();
    tVelqorGroupStateRec rec;
    rec.UpdateRate = def.UpdateRate;
    rec.Active = def.IsActive;
    rec.LocaleId = def.LocaleId;
    rec.DeadBand = def.DeadBand;
    rec.TimeBias = def.TimeBias;
    auto unique = [this](const tVelqorGroupStateRec& r) {
        return OtherGroupNamed(r.Name, nullptr) ? DuplicateGroupText(r.Name) : QString();
    };
    if (!EditGroup(rec, this, unique)) return;
    def.UpdateRate = rec.UpdateRate;
    def.IsActive = rec.Active;
    def.LocaleId = rec.LocaleId;
    // The group's own rule for a deadband, also for the template new groups start from.
    def.DeadBand = ClampedDeadBand(rec.DeadBand);
    def.TimeBias = rec.TimeBias;
    Busy("Adding group " + QString::fromStdString(rec.Name) + "...",
         [&] { OPCServer->OPCGroups().AddGroup(rec.Name); });
    auto* node = new QTreeWidgetItem(QStringList{QString::fromStdString(rec.Name)});
    TreeView1->addTopLevelItem(node);
    TreeView1->setCurrentItem(node);
    TreeView1->setFocus();
}

void TForm1::RemoveGroup1Click() {
    QTreeWidgetItem* node = SelectedNode();
    if (!node) return;
    try {
        Busy("Removing group " + node->text(0) + "...",
             [&] { OPCServer->OPCGroups().RemoveGroup(node->text(0).toStdString()); });
    } catch (...) {
        PruneDeadRows();
        throw;
    }
    EmptyList();
    delete node;
}

void TForm1::RemoveallGroups1Click() {
    if (TreeView1->topLevelItemCount() > 0 && !Confirm("Remove all groups and their items?"))
        return;
    try {
        Busy("Removing all groups...", [this] { OPCServer->OPCGroups().RemoveAll(); });
    } catch (...) {
        PruneDeadRows();
        throw;
    }
    EmptyList();
    TreeView1->clear();
}

void TForm1::Properties1Click() {
    QTreeWidgetItem* node = SelectedNode();
    if (!node) {
        ShowMessageText("First select Group");
        return;
    }
    TVelqorGroup* g = OPCServer->OPCGroups().FindGroup(node->text(0).toStdString());
    if (!g) {
        ShowMessageText("ERROR");
        return;
    }
    tVelqorGroupStateRec rec;
    rec.Name = g->Name();
    rec.UpdateRate = g->UpdateRate();
    rec.Active = g->IsActive();
    rec.LocaleId = g->LocaleId();
    rec.DeadBand = g->DeadBand();
    rec.TimeBias = g->TimeBias();
    auto unique = [this, g](const tVelqorGroupStateRec& r) {
        return OtherGroupNamed(r.Name, g) ? DuplicateGroupText(r.Name) : QString();
    };
    if (!EditGroup(rec, this, unique)) return;
    g->SetName(rec.Name);
    node->setText(0, QString::fromStdString(rec.Name));
    Busy("Changing group " + QString::fromStdString(rec.Name) + "...", [&] {
        g->SetUpdateRate(rec.UpdateRate);
        g->SetIsActive(rec.Active);
        g->SetLocaleId(rec.LocaleId);
        g->SetDeadBand(rec.DeadBand);
        g->SetTimeBias(rec.TimeBias);
    });
}

void TForm1::TreeView1Change() {
    for (int i = 0; i < ItemModel->Count(); ++i) {
        TItemRow* r = ItemModel->Row(i);
        if (FindItemByClientHandle(r->Handle) == r->Item) r->Item->FUserData = nullptr;
    }
    EmptyList();
    TVelqorGroup* g = SelectedGroup();
    if (!g) return;
    TVelqorItems& items = g->OPCItems();
    std::vector<TVelqorItemData*> all;
    all.reserve(size_t(items.Count()));
    for (int i = 0; i < items.Count(); ++i) all.push_back(items.Items(i));
    ItemModel->Reset(all, [this](TItemRow& r) {
        r.Item->FUserData = &r;
        RowSetup(r);
        RowValues(r);
    });
}

// ---- items -----------------------------------------------------------------------------------

void TForm1::ItemPopupPopup() {
    bool group = SelectedGroup() != nullptr;
    for (QAction* a : ItemPopup->actions()) a->setEnabled(group);
    if (!group) return;
    if (TItemRow* r = SelectedRow()) Active1->setChecked(ItemOf(*r)->IsActive());
}

void TForm1::A1Click() {
    // Items are chosen from the connected server's address space, into the selected group.
    if (!OPCServer->Active()) return ShowMessageText("Connect to a server first.");
    if (!SelectedGroup()) return ShowMessageText("Select a group first.");
    std::vector<std::string> ids;
    const bool chosen = TVelqorDlgBrowse::Execute(OPCServer->Browser(), ids, false, this);
    RememberBrowsePosition();
    if (!chosen) return;
    TVelqorGroup* g = SelectedGroup();
    if (!g || ids.empty()) return;
    // One batch: the items are made first and added to the server in one call, whose failures
    // come in one report.
    std::vector<TVelqorItem*> added;
    const QString what = ids.size() == 1 ? "Adding " + QString::fromStdString(ids.front()) + "..."
                                         : QString("Adding %1 items...").arg(ids.size());
    try {
        Busy(what, [&] {
            const bool batch = OPCServer->BatchMode();
            struct Restore {
                TVelqorServer& s;
                bool on;
                ~Restore() { s.SetBatchMode(on); }
            } restore{*OPCServer, batch};
            OPCServer->SetBatchMode(true);
            g->DefaultItem().IsActive = true;
            for (const auto& id : ids) added.push_back(g->OPCItems().AddItem(id));
            OPCServer->SetBatchMode(batch);
            g->OPCItems().AddAll();
        });
    } catch (...) {
        AddRowsFor(added, false);
        throw;
    }
    AddRowsFor(added, false);
}

void TForm1::RemoveItem1Click() {
    const std::vector<TVelqorItem*> items = SelectedItems();
    if (items.empty()) return;
    try {
        Busy(items.size() == 1 ? "Removing " + QString::fromStdString(items[0]->ItemID()) + "..."
                               : QString("Removing %1 items...").arg(items.size()),
             [&] {
                 for (TVelqorItem* item : items) item->Collection().RemoveItem(item);
             });
    } catch (...) {
        PruneDeadRows();
        throw;
    }
    PruneDeadRows();
}

void TForm1::RemoveallItems1Click() {
    TVelqorGroup* g = SelectedGroup();
    if (!g) return;
    if (g->OPCItems().Count() > 0 &&
        !Confirm("Remove all items of the group " + QString::fromStdString(g->Name()) + "?"))
        return;
    try {
        Busy("Removing all items...", [&] { g->OPCItems().RemoveAll(); });
    } catch (...) {
        PruneDeadRows();
        throw;
    }
    EmptyList();
}

void TForm1::Active1Click(bool markBefore) {
    TItemRow* r = SelectedRow();
    if (!r) return;
    TVelqorItem* item = ItemOf(*r);
    Busy(markBefore ? "Deactivating the item..." : "Activating the item...",
         [&] { item->SetIsActive(!markBefore); });
    RowSetup(*r);
    RowValues(*r);
    ItemModel->RowChanged(r);
}

void TForm1::UpdateTrendItems() {
    std::vector<TVelqorItemData*> items;
    if (TrendDock->isVisible())
        for (TVelqorItem* item : SelectedItems()) items.push_back(item);
    Trend->SetItems(items);
}

void TForm1::WriteValue1Click() { WriteItemValues(SelectedItems(), this); }

void TForm1::ItemProperties1Click() {
    if (TItemRow* r = SelectedRow()) ShowItemProperties(*OPCServer, ItemOf(*r)->ItemID(), this);
}

// ---- export and about ------------------------------------------------------------------------

QString TForm1::DefaultChooseExportFile(const QString& proposed) {
    QFileDialog dlg(this);
    dlg.setObjectName("SaveDialog1");
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setNameFilter(QtNameFilter(kExportFilter));
    dlg.setDefaultSuffix("txt");
    // Replacing a file is asked by the dialog; creating one is asked here.
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.selectFile(proposed);
    QString path;
    for (;;) {
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
        path = dlg.selectedFiles().first();
        // A file in a folder that is not there cannot be made: the choice is asked again.
        const QDir folder = QFileInfo(path).absoluteDir();
        if (folder.exists()) break;
        ShowMessageText("The folder " + QDir::toNativeSeparators(folder.path()) +
                        " does not exist. Choose another.");
    }
    if (!QFileInfo::exists(path)) {
        QMessageBox ask(QMessageBox::Question, dlg.windowTitle(),
                        path + "\nThis file does not exist.\nDo you want to create it?",
                        QMessageBox::Yes | QMessageBox::No, this);
        ask.setObjectName("CreatePrompt");
        if (ask.exec() != QMessageBox::Yes) return {};
    }
    return path;
}

void TForm1::Export1Click() {
    QString path = ChooseExportFile(ExportFileName(QDate::currentDate()));
    if (path.isEmpty()) return;
    WriteExportFile(path, ItemModel->Texts());
}

QString TForm1::AboutText() {
    return QString(
               "Tagscope %1\n"
               "Toolkit: %2\n\n"
               "A desktop client for OPC Data Access servers, classic (COM) and XML-DA.\n\n"
               "Copyright (c) 2026 The Tagscope authors.\n"
               "Free software under the MIT License: use, copy, modify and distribute it,\n"
               "with this notice, without warranty of any kind.")
        .arg(VELQOR_VERSION, kVelqorVersion);
}

void TForm1::N1Click() { QMessageBox::about(this, "О программе", AboutText()); }
