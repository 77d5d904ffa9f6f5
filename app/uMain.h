// The main window: server box and connect buttons, group tree, item list, server and group
// status, menus, and the one-second status refresh. It owns the server component.
#pragma once

#include <QComboBox>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DataLog.h"
#include "IniMemory.h"
#include "ItemListModel.h"
#include "WindowSettings.h"
#include "model/Velqor.h"

class QAction;
class QDockWidget;
class TrendWidget;
class QGroupBox;
class QLabel;
class QMenu;
class QSplitter;
class QTableView;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

// The editable server box; tells its owner before its list drops down.
class TServerCombo : public QComboBox {
    Q_OBJECT
  public:
    using QComboBox::QComboBox;
    void showPopup() override;
  signals:
    void dropDown();
};

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    // server: the component to own (a plain TVelqorServer when none is given).
    explicit TForm1(std::unique_ptr<velqor::TVelqorServer> server = nullptr,
                    QWidget* parent = nullptr);
    ~TForm1() override;

    // ---- components ----
    QWidget* TopPanel;
    TServerCombo* ServerCombo;
    QToolButton* bRemoteConnect;
    QToolButton* bConnect;
    QToolButton* BDisconnect;
    QTreeWidget* TreeView1;
    QSplitter* Splitter1;
    QTableView* ItemView;
    ItemListModel* ItemModel;
    QGroupBox* Panel3;
    QGroupBox* Panel4;
    QLabel *LServer, *LStartTime, *LUpdateTime, *LState, *LInfo;
    QLabel *LName, *LUpdate, *LDeadBand, *LActive;
    QAction* Trend1;     // View -> Trend
    QAction* Messages1;  // View -> Messages: the errors of this run, with their times
    QStringList Messages() const { return messages_; }
    QDockWidget* TrendDock;
    TrendWidget* Trend;
    QAction *OpenSession1, *SaveSession1, *ReopenSession1, *Export1, *LogData1, *Exit1, *N1;
    QAction* ConnectionSettings1;  // File -> Connection Settings (of the server in the box)
    QMenu* GroupPopup;
    QAction *AddGroup1, *RemoveGroup1, *RemoveallGroups1, *Properties1;
    QMenu* ItemPopup;
    QAction *A1, *RemoveItem1, *RemoveallItems1, *Active1;
    QAction *WriteValue1, *ItemProperties1;
    QTimer* Timer1;
    QLabel* StatusLine;  // connection state and the last error, in the status bar
    QLabel* LogStatus;   // whether data changes are logged and how many rows were written
    std::unique_ptr<velqor::TVelqorServer> OPCServer;
    IniMemory Ini;
    DataLog Log;

    // What fills the server box's list (the local data-access servers by default).
    std::function<void(std::vector<std::string>&)> ListServers;
    // XML-DA addresses listed after the servers (the address the window started with).
    std::vector<std::string> KnownAddresses;
    // What asks for the remote computer name; false when cancelled (an input box by default).
    std::function<bool(QString&)> AskComputerName;
    // What edits a server's connection settings; false when cancelled (a dialog by default).
    std::function<bool(const QString& server, ConnectionOptions&)> AskConnectionOptions;

    // ---- handlers ----
    void FormShow();
    void ServerComboDropDown();
    void bConnectClick();
    void bRemoteConnectClick();
    void bDisconnectClick();
    void Exit1Click();
    void Timer1Timer();
    void OPCServerServerShutdown();
    void OPCServerDatachange(const velqor::TVelqorItemList& items);
    void AddGroup1Click();
    void RemoveGroup1Click();
    void RemoveallGroups1Click();
    void Properties1Click();
    void TreeView1Change();
    void ItemPopupPopup();
    void A1Click();
    void RemoveItem1Click();
    void RemoveallItems1Click();
    // markBefore: the entry's check mark as it was when the user chose it.
    void Active1Click(bool markBefore);
    void Export1Click();
    void N1Click();
    // The connection settings of the server in the box, kept per server.
    void ConnectionSettings1Click();
    // "Write Value..." (and a double-click on a row): the selected rows' items.
    void WriteValue1Click();
    void ItemProperties1Click();
    // "Log Data Changes...": on starts a log of the selected group (the file is asked for),
    // off stops it.
    void LogData1Click(bool on);
    void SaveSession1Click();
    // The trend follows the selected rows while it is shown.
    void UpdateTrendItems();
    void OpenSession1Click();
    // "Reopen Last Session at Start".
    void ReopenSession1Click(bool on);
    // Replaces the groups and items with the session's and connects to its server; a file that
    // cannot be read is reported and changes nothing.
    void OpenSession(const QString& path);

    // ---- helpers the handlers share ----
    // Algorithm of the connect buttons: computer name, server name, activate, timer, INI.
    void Connect(const QString& computerName);
    // The group named by the selected tree node, or nullptr.
    velqor::TVelqorGroup* SelectedGroup() const;
    QTreeWidgetItem* SelectedNode() const;
    // The selected list row (the first of several), or nullptr.
    TItemRow* SelectedRow() const;
    // The items of the selected rows, in list order.
    std::vector<velqor::TVelqorItem*> SelectedItems() const;
    void ClearStatus();
    // Enables Connect or Disconnect by the component's state and words it in the status bar.
    void UpdateConnectionState();
    // Every row shows that its value is no longer current, and why.
    void MarkRowsStale(const QString& why);
    // Runs a server call through the busy path; a failure is noted in the status bar and goes on.
    void Busy(const QString& what, const std::function<void()>& call);
    // A group name already used by a group other than except, or nullptr.
    velqor::TVelqorGroup* OtherGroupNamed(const std::string& name,
                                          const velqor::TVelqorGroup* except) const;
    void RowSetup(TItemRow& row) const;
    void RowValues(TItemRow& row) const;
    // Time of day (with milliseconds) and date-and-time texts in the user's formats.
    QString TimeText(double dateTime) const;
    QString TimeOfDay(double dateTime, bool milliseconds) const;
    QString DateTimeText(double dateTime) const;
    static QString AboutText();

    // The export file chosen by the user, or "" when cancelled (save dialog by default).
    std::function<QString(const QString& proposedName)> ChooseExportFile;
    // The log file chosen by the user, or "" when cancelled (save dialog by default).
    std::function<QString(const QString& proposedName)> ChooseLogFile;
    // Asks a yes/no question before something that cannot be undone (a message box by default).
    std::function<bool(const QString& question)> Confirm;

    // The session file chosen by the user to save to (save) or to open, or "" when cancelled
    // (file dialogs by default).
    std::function<QString(bool save, const QString& proposedName)> ChooseSessionFile;
    // A session to open when the window first shows (the command line's), instead of the last
    // session that the setting reopens.
    QString StartSession;

    // What the window remembers, kept in its INI file.
    WindowSettings Settings() const;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void BuildMenus();
    // Empties the list after its items may have gone (no unlinking).
    void EmptyList();
    // Rows whose items were destroyed are dropped (after a failed removal).
    void PruneDeadRows();
    void AddRowsFor(const std::vector<velqor::TVelqorItem*>& items, bool withValues);
    QString DefaultChooseExportFile(const QString& proposedName);
    void ShowLogState();
    QString DefaultChooseSessionFile(bool save, const QString& proposedName);
    void OpenStartSession();
    // The last ten servers used, after the server list in the drop-down.
    void AddRecentServers();
    void RememberBrowsePosition();
    void ReturnToBrowsePosition();

    bool shown_ = false;
    QString timeFormat_, dateFormat_;
    bool plainTimeFormat_ = false;  // "HH:mm:ss": formatted without QTime
    QString lastError_;             // shown in the status bar until the next successful connect
    QStringList messages_;          // every error noted, newest last
    void NoteError(const QString& text);
    void ShowMessages();
    QString certificateWarning_;  // while connected with a bad certificate accepted
};
