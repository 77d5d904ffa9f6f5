// The main window against the real XML-DA transport and the simulation service on loopback:
// connect, add a group and items through the dialogs, and watch live values arrive. With
// TAGSCOPE_SHOT set, the window is saved there as a picture once values are shown.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <thread>
#include <vector>

#include "AppTestSupport.h"
#include "BusyCall.h"
#include "OPCGroupDlg.h"
#include "QtEventLoop.h"
#include "VelqorDlgBrowse.h"
#include "uMain.h"
#include "xmlda/XmlDaSim.h"

using namespace velqor;

namespace {

// With TAGSCOPE_SHOT set, saves a widget beside the window's picture under a suffix.
void Shot(QWidget* w, const char* suffix) {
    if (!qEnvironmentVariableIsSet("TAGSCOPE_SHOT")) return;
    QString path = qEnvironmentVariable("TAGSCOPE_SHOT");
    path.replace(".png", QString("-%1.png").arg(suffix));
    w->grab().save(path);
}

// Enters the branch named name in an open browse dialog.
void Enter(TVelqorDlgBrowse* dlg, const QString& name) {
    auto found = dlg->ListView->findItems(name, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << name.toStdString();
    dlg->ListView->clearSelection();
    found[0]->setSelected(true);
    dlg->bOk->click();
    ASSERT_EQ(dlg->ePath->text().isEmpty(), false);
}

TEST(XmlDaLive, ConnectAddGroupAndItemsAndWatchValues) {
    apptest::RecordDisplays();
    xmldasim::Options opt;
    opt.clockPeriodMs = 200;
    opt.loadItems = 10;
    xmldasim::Service sim(opt);
    sim.start();
    QtEventLoop loop;
    loop.InstallAsDefault();
    QTemporaryDir prog, conf;
    qputenv("TAGSCOPE_SERVER", QByteArray::fromStdString(sim.url()));
    TForm1 form;
    form.Ini = IniMemory(prog.path(), "tagscope", conf.path());
    form.show();  // the server box takes the address from the environment, as the run script passes
                  // it
    qunsetenv("TAGSCOPE_SERVER");
    ASSERT_EQ(form.ServerCombo->currentText().toStdString(), sim.url());

    form.bConnect->click();
    if (!form.OPCServer->Active()) {
        std::string why = apptest::Recorded().errors.empty() ? "" : apptest::Recorded().errors[0];
        if (why.find("not available") != std::string::npos) GTEST_SKIP() << why;
        FAIL() << "connect failed: " << why;
    }
    EXPECT_EQ(form.OPCServer->Protocol(), coXML);
    form.Timer1Timer();
    EXPECT_EQ(form.LState->text(), "running");

    apptest::WhenDialog<TEditGroupDlg>([](TEditGroupDlg* dlg) {
        dlg->eGroupName->setText("Tank 1");
        dlg->eUpdateRate->setText("250");
        Shot(dlg, "group");
        dlg->bOk->click();
    });
    form.AddGroup1->trigger();
    ASSERT_NE(form.SelectedGroup(), nullptr);

    apptest::WhenDialog<TVelqorDlgBrowse>([](TVelqorDlgBrowse* dlg) {
        Enter(dlg, "Plant");
        Enter(dlg, "Area1");
        Enter(dlg, "Tank1");
        dlg->ListView->selectAll();
        Shot(dlg, "browse");
        dlg->bOk->click();
        if (dlg->isVisible()) dlg->reject();
    });
    form.A1->trigger();
    ASSERT_GE(form.ItemModel->Count(), 3)
        << (apptest::Recorded().errors.empty() ? "" : apptest::Recorded().errors[0]);

    // Live values: every row gets a value, a time and a quality, and values keep changing.
    auto allShown = [&] {
        for (int i = 0; i < form.ItemModel->Count(); ++i)
            if (form.ItemModel->Row(i)->Text[colQuality] == "-") return false;
        return true;
    };
    ASSERT_TRUE(apptest::ProcessUntil(allShown, 10000));
    int level = -1;
    for (int i = 0; i < form.ItemModel->Count(); ++i)
        if (form.ItemModel->Row(i)->Text[colItemId].endsWith("Level")) level = i;
    ASSERT_GE(level, 0);
    QString first = form.ItemModel->Row(level)->Text[colValue];
    EXPECT_TRUE(apptest::ProcessUntil(
        [&] { return form.ItemModel->Row(level)->Text[colValue] != first; }, 5000));
    EXPECT_EQ(form.ItemModel->Row(level)->Text[colQuality], "good");
    form.Timer1Timer();
    EXPECT_EQ(form.LName->text(), "Tank 1");

    if (qEnvironmentVariableIsSet("TAGSCOPE_SHOT")) {
        apptest::ProcessFor(300);
        EXPECT_TRUE(form.grab().save(qEnvironmentVariable("TAGSCOPE_SHOT")));
    }
    EXPECT_TRUE(apptest::Recorded().errors.empty()) << apptest::Recorded().errors[0];
    EXPECT_FALSE(form.bConnect->isEnabled());

    // Disconnected, no row still claims a good current value.
    auto noneCurrent = [&] {
        for (int i = 0; i < form.ItemModel->Count(); ++i) {
            const TItemRow& r = *form.ItemModel->Row(i);
            if (r.State == RowState::Current || r.Text[colQuality] == "good") return false;
        }
        return true;
    };
    form.bDisconnectClick();
    EXPECT_TRUE(noneCurrent());
    EXPECT_TRUE(form.bConnect->isEnabled());
    EXPECT_FALSE(form.BDisconnect->isEnabled());

    // Connected again, values come back; then the server dies under the window.
    form.bConnect->click();
    ASSERT_TRUE(form.OPCServer->Active());
    ASSERT_TRUE(apptest::ProcessUntil(
        [&] { return form.ItemModel->Row(level)->Text[colQuality] == "good"; }, 10000));
    sim.stop();
    form.Timer1Timer();  // the refresh finds the server gone
    EXPECT_FALSE(form.OPCServer->Active());
    EXPECT_TRUE(noneCurrent());
    EXPECT_TRUE(form.StatusLine->text().contains("Last error"))
        << form.StatusLine->text().toStdString();
}

// The main window on the toolkit's Qt loop (installed before the window's component is made),
// its INI in temporary folders, shown with a server in its box.
struct LiveWindow {
    struct InstalledLoop : QtEventLoop {
        InstalledLoop() { InstallAsDefault(); }
    } loop;
    QTemporaryDir prog, conf;
    TForm1 form;
    explicit LiveWindow(const std::string& server) {
        form.Ini = IniMemory(prog.path(), "tagscope", conf.path());
        form.show();
        form.ServerCombo->setEditText(QString::fromStdString(server));
    }
};

// Accepts connections and never answers: a server that hangs.
class SilentServer {
  public:
    SilentServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("cannot listen on loopback");
        port_ = ntohs(a.sin_port);
        acceptor_ = std::thread([this] {
            while (true) {
                int c = ::accept(fd_, nullptr, nullptr);
                if (c < 0) return;  // the listening socket was shut down
                clients_.push_back(c);
            }
        });
    }
    ~SilentServer() {
        ::shutdown(fd_, SHUT_RDWR);
        acceptor_.join();
        ::close(fd_);
        for (int c : clients_) ::close(c);
    }
    std::string URL() const { return "http://127.0.0.1:" + std::to_string(port_) + "/opc/xmlda"; }

  private:
    int fd_ = -1;
    int port_ = 0;
    std::thread acceptor_;
    std::vector<int> clients_;  // the acceptor's own until it has ended
};

TEST(XmlDaLive, ConnectToAHangingServerCanBeCancelledAndTheWindowStaysUsable) {
    apptest::RecordDisplays();
    SilentServer silent;
    LiveWindow live(silent.URL());
    TForm1& form = live.form;
    SetBusyIndicatorDelay(0);

    // While the call hangs, the window's thread keeps turning: a timer finds the busy indicator,
    // sees that user input to the main window is refused, and presses Cancel.
    bool sawIndicator = false, inputRefused = false;
    int turns = 0;
    QTimer driver;
    driver.setInterval(20);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        ++turns;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() != "BusyIndicator" || !w->isVisible() || turns < 5) continue;
            sawIndicator = true;
            QTest::mouseClick(form.BDisconnect, Qt::LeftButton);  // would fail if it got through
            QTest::keyClick(form.ServerCombo, Qt::Key_Z);
            inputRefused = !form.ServerCombo->currentText().endsWith('z');
            w->findChild<QPushButton*>("BusyCancel")->click();
            driver.stop();
        }
    });
    driver.start();
    form.bConnect->click();
    driver.stop();
    SetBusyIndicatorDelay(300);

    EXPECT_TRUE(sawIndicator);
    EXPECT_TRUE(inputRefused);
    EXPECT_GE(turns, 5) << "the window's thread was blocked";
    EXPECT_FALSE(form.OPCServer->Active()) << "a cancelled connect is not connected";
    EXPECT_TRUE(form.bConnect->isEnabled());
    EXPECT_TRUE(apptest::Recorded().errors.empty()) << "a cancel is not an error";
    EXPECT_TRUE(form.StatusLine->text().contains("cancelled"));
    EXPECT_FALSE(BusyCallRunning());
}

TEST(XmlDaLive, BrowseSelectionIsAddedInOneBatchWithOneReport) {
    apptest::RecordDisplays();
    xmldasim::Options opt;
    opt.loadItems = 10;
    xmldasim::Service sim(opt);
    sim.start();
    LiveWindow live(sim.url());
    TForm1& form = live.form;
    form.bConnect->click();
    ASSERT_TRUE(form.OPCServer->Active());
    apptest::WhenDialog<TEditGroupDlg>([](TEditGroupDlg* dlg) {
        dlg->eGroupName->setText("G");
        dlg->bOk->click();
    });
    form.AddGroup1->trigger();
    ASSERT_NE(form.SelectedGroup(), nullptr);

    // Every item of the Load branch and the write-only ones: the latter cannot be subscribed.
    auto addAllOf = [&](const char* branch) {
        apptest::WhenDialog<TVelqorDlgBrowse>([branch](TVelqorDlgBrowse* dlg) {
            for (int up = 0; up < 5 && dlg->ePath->text() != "root"; ++up) dlg->bBackClick();
            Enter(dlg, branch);
            dlg->ListView->selectAll();
            dlg->bOk->click();
            if (dlg->isVisible()) dlg->reject();
        });
        form.A1->trigger();
    };
    const std::size_t before = sim.requestCount();
    addAllOf("Load");
    const std::size_t forLoad = sim.requestCount() - before;
    EXPECT_EQ(form.ItemModel->Count(), 10);
    EXPECT_LE(forLoad, 4u) << "a constant number of exchanges, not two per item";

    const int rowsBefore = form.ItemModel->Count();
    addAllOf("WriteOnly");
    const int added = form.ItemModel->Count() - rowsBefore;
    ASSERT_GE(added, 2);
    int reports = 0;
    for (const auto& m : apptest::Recorded().messages)
        if (m.rfind("Cannot add Items:", 0) == 0) ++reports;
    for (const auto& m : apptest::Recorded().errors)
        if (m.rfind("Cannot add Items:", 0) == 0) ++reports;
    EXPECT_EQ(reports, 1) << "one report for the whole selection";
    for (int i = rowsBefore; i < form.ItemModel->Count(); ++i) {
        const TItemRow& r = *form.ItemModel->Row(i);
        EXPECT_EQ(r.State, RowState::Failed) << r.Text[colItemId].toStdString();
        EXPECT_FALSE(r.Problem.isEmpty());
    }
    form.bDisconnectClick();
    sim.stop();
}

}  // namespace
