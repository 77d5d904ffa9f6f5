// The main window's memory and records: the data-change log, the layout and servers it
// remembers, the browse position per server, and sessions saved and opened.
#include <QDateTime>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>

#include "BusyCall.h"
#include "ErrorDisplay.h"
#include "SessionFile.h"
#include "WindowSettings.h"
#include "uMain.h"

using namespace velqor;

void TForm1::LogData1Click(bool on) {
    struct Update {
        TForm1* f;
        ~Update() {
            f->LogData1->setChecked(f->Log.Active());
            f->ShowLogState();
        }
    } update{this};
    Log.Stop();
    if (!on) return;
    TVelqorGroup* g = SelectedGroup();
    if (!g) {
        ShowMessageText("First select Group");
        return;
    }
    const QString proposed = QString::fromStdString(g->Name()) + "_" +
                             QDateTime::currentDateTime().toString("yyMMdd_HHmmss") + ".csv";
    const QString path = ChooseLogFile(proposed);
    if (!path.isEmpty()) Log.Start(path, *g);
}

void TForm1::ShowLogState() {
    LogStatus->setText(Log.StatusText());
    if (!Log.Active()) LogData1->setChecked(false);
}

WindowSettings TForm1::Settings() const { return WindowSettings(Ini.WritePath()); }

void TForm1::AddRecentServers() {
    const QStringList recent = Settings().RecentServers();
    bool separated = false;
    for (const QString& name : recent) {
        if (ServerCombo->findText(name, Qt::MatchFixedString | Qt::MatchCaseSensitive) >= 0)
            continue;
        const QString text = ServerCombo->currentText();
        if (!separated && ServerCombo->count() > 0)
            ServerCombo->insertSeparator(ServerCombo->count());
        separated = true;
        ServerCombo->addItem(name);
        ServerCombo->setEditText(text);
    }
}

void TForm1::RememberBrowsePosition() {
    if (!OPCServer->Active()) return;
    try {
        TVelqorBrowseItem at;
        RunBusy(
            "Noting the browse position...",
            [&] {
                if (TVelqorBrowseItem* p = OPCServer->Browser().Position()) at = *p;
            },
            BusyKind::Background);
        Settings().SaveBrowsePosition(QString::fromStdString(OPCServer->ServerName()), at);
    } catch (const std::exception&) {
        // Where the browser was is only a convenience.
    }
}

void TForm1::ReturnToBrowsePosition() {
    auto at = Settings().BrowsePosition(QString::fromStdString(OPCServer->ServerName()));
    if (!at || at->ItemName.empty()) return;
    // The branch may be gone: browsing starts at the root then.
    bool there = false;
    try {
        RunBusy("Returning to the last browse position...",
                [&] { there = OPCServer->Browser().MoveTo(*at); });
    } catch (const std::exception&) {
    }
    if (!there) OPCServer->Browser().MoveToRoot();
}

// ---- sessions --------------------------------------------------------------------------------

namespace {
const char* const kLastSession = "Session/Last";
const char* const kReopenSession = "Session/ReopenAtStart";
const char* const kSessionFilter = "Tagscope sessions (*.tagscope.json *.json);;All files (*)";
}  // namespace

void TForm1::SaveSession1Click() {
    const QString proposed =
        QString::fromStdString(OPCServer->ServerName()).section('/', -1).section(':', -1);
    const QString path = ChooseSessionFile(
        true, (proposed.isEmpty() ? QString("session") : proposed) + ".tagscope.json");
    if (path.isEmpty()) return;
    SaveSessionFile(CaptureSession(*OPCServer), path.toStdString());
    Settings().SetValue(kLastSession, path);
}

void TForm1::OpenSession1Click() {
    const QString path = ChooseSessionFile(false, QString());
    if (!path.isEmpty()) OpenSession(path);
}

void TForm1::ReopenSession1Click(bool on) { Settings().SetValue(kReopenSession, on); }

void TForm1::OpenSession(const QString& path) {
    // Read whole first: a file that cannot be used changes nothing.
    const Session session = LoadSessionFile(path.toStdString());
    if (OPCServer->Active()) bDisconnectClick();
    Log.Stop();
    ShowLogState();
    for (int i = 0; i < ItemModel->Count(); ++i) {
        TItemRow* r = ItemModel->Row(i);
        if (FindItemByClientHandle(r->Handle) == r->Item) r->Item->FUserData = nullptr;
    }
    ItemModel->Clear();
    TreeView1->clear();
    Busy("Opening the session...", [&] { ApplySession(session, *OPCServer); });
    for (const SessionGroup& g : session.Groups)
        TreeView1->addTopLevelItem(
            new QTreeWidgetItem(QStringList{QString::fromStdString(g.Name)}));
    ServerCombo->setEditText(QString::fromStdString(session.Server));
    Settings().SetValue(kLastSession, path);
    if (TreeView1->topLevelItemCount() > 0) TreeView1->setCurrentItem(TreeView1->topLevelItem(0));
    // Connecting creates the groups and items on the server; items it refuses are reported
    // together and their rows marked.
    if (!session.Server.empty()) {
        Connect(QString::fromStdString(session.Computer));
        TreeView1Change();
    }
}

void TForm1::OpenStartSession() {
    QString path = StartSession;
    const WindowSettings s = Settings();
    ReopenSession1->setChecked(s.Value(kReopenSession).toBool());
    if (path.isEmpty() && ReopenSession1->isChecked()) path = s.Value(kLastSession).toString();
    if (path.isEmpty()) return;
    // Once the window is up, so that it shows while the session connects.
    QTimer::singleShot(0, this, [this, path] { Guarded([this, path] { OpenSession(path); }); });
}

QString TForm1::DefaultChooseSessionFile(bool save, const QString& proposed) {
    return save ? QFileDialog::getSaveFileName(this, "Save Session", proposed, kSessionFilter)
                : QFileDialog::getOpenFileName(this, "Open Session", proposed, kSessionFilter);
}
