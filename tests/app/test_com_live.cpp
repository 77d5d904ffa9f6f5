// The main window against the COM transport and the simulated OPC DA servers of this process:
// each connects by ProgID, shows its status, and a shutdown request disconnects the window; the
// server box lists the servers; the browse dialog walks a DA 2.0 and a DA 3.0 server, and the
// items picked in it update live.
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include "AppTestSupport.h"
#include "BusyCall.h"
#include "OPCGroupDlg.h"
#include "QtEventLoop.h"
#include "VelqorDlgBrowse.h"
#include "com/runtime/ComPlatform.h"
#include "comda/OpcServerList.h"
#include "comda/SimFaults.h"
#include "comda/SimServers.h"
#include "uMain.h"

using namespace velqor;

namespace {

TEST(ComLive, EachSimulatedServerConnectsByProgIdAndItsShutdownDisconnects) {
    apptest::RecordDisplays();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    sim::RegisterSimulatedServers();
    QtEventLoop loop;
    loop.InstallAsDefault();
    for (const char* progId : {"Velqor.SimDA20.1", "Velqor.SimDA20Flat.1"}) {
        SCOPED_TRACE(progId);
        QTemporaryDir prog, conf;
        qputenv("TAGSCOPE_SERVER", progId);
        TForm1 form;
        form.Ini = IniMemory(prog.path(), "tagscope", conf.path());
        form.show();
        qunsetenv("TAGSCOPE_SERVER");

        form.bConnect->click();
        ASSERT_TRUE(form.OPCServer->Active())
            << (apptest::Recorded().errors.empty() ? "" : apptest::Recorded().errors[0]);
        EXPECT_EQ(form.OPCServer->Protocol(), coCOM);
        form.Timer1Timer();
        EXPECT_EQ(form.LState->text(), "running");

        EXPECT_EQ(sim::RequestSimulatedShutdown("maintenance"), 1);
        EXPECT_TRUE(apptest::ProcessUntil([&] { return !form.OPCServer->Active(); }, 10000));
        EXPECT_TRUE(apptest::Recorded().errors.empty()) << apptest::Recorded().errors[0];
    }
    sim::UnregisterSimulatedServers();
    CoUninitialize();
}

// With TAGSCOPE_SHOT set, saves a widget beside the window's picture under a suffix.
void Shot(QWidget* w, const QString& suffix) {
    if (!qEnvironmentVariableIsSet("TAGSCOPE_SHOT")) return;
    QString path = qEnvironmentVariable("TAGSCOPE_SHOT");
    path.replace(".png", "-" + suffix + ".png");
    w->grab().save(path);
}

QStringList Entries(const TVelqorDlgBrowse& d) {
    QStringList out;
    for (int i = 0; i < d.ListView->count(); ++i) out << d.ListView->item(i)->text();
    return out;
}

// Selects the entries of those names and presses Open.
void Open(TVelqorDlgBrowse& d, const QStringList& names) {
    d.ListView->clearSelection();
    for (const QString& n : names) {
        auto found = d.ListView->findItems(n, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << n.toStdString();
        found[0]->setSelected(true);
    }
    d.bOk->click();
}

class ComWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        apptest::RecordDisplays();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        sim::RegisterSimulatedServers();
        sim::RegisterOpcServerList();
        loop.InstallAsDefault();
    }
    void TearDown() override {
        sim::UnregisterOpcServerList();
        sim::UnregisterSimulatedServers();
        CoUninitialize();
    }
    // A window that starts with that server name, as the run script passes one.
    std::unique_ptr<TForm1> Window(const char* server) {
        qputenv("TAGSCOPE_SERVER", server);
        auto form = std::make_unique<TForm1>();
        form->Ini = IniMemory(prog.path(), "tagscope", conf.path());
        form->show();
        qunsetenv("TAGSCOPE_SERVER");
        return form;
    }
    QtEventLoop loop;
    QTemporaryDir prog, conf;
};

TEST_F(ComWindow, ServerBoxListsTheComServersAndTheAddressItStartedWith) {
    auto form = Window("http://127.0.0.1:1/OpcXmlDa");
    form->ServerCombo->showPopup();
    form->ServerCombo->hidePopup();
    QStringList listed;
    for (int i = 0; i < form->ServerCombo->count(); ++i) listed << form->ServerCombo->itemText(i);
    EXPECT_EQ(listed, (QStringList{"Velqor.SimDA10.1", "Velqor.SimDA20.1", "Velqor.SimDA20Flat.1",
                                   "Velqor.SimDA30.1", "http://127.0.0.1:1/OpcXmlDa"}));
    EXPECT_TRUE(apptest::Recorded().errors.empty()) << apptest::Recorded().errors[0];
    if (qEnvironmentVariableIsSet("TAGSCOPE_SHOT")) {
        form->ServerCombo->showPopup();
        apptest::ProcessFor(300);
        Shot(form->ServerCombo->view()->window(), "servers");  // the open list
        form->ServerCombo->hidePopup();
    }
}

// A COM server whose calls take 5 s: Cancel on the busy indicator ends the connect at once and
// leaves the window disconnected.
TEST_F(ComWindow, ConnectToASlowServerCanBeCancelled) {
    sim::SimFaults slow;
    slow.SlowCallMs = 5000;
    sim::SetSimFaults(slow);
    auto form = Window("Velqor.SimDA20.1");
    SetBusyIndicatorDelay(0);
    QTimer driver;
    driver.setInterval(50);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "BusyIndicator" && w->isVisible()) {
                w->findChild<QPushButton*>("BusyCancel")->click();
                driver.stop();
            }
    });
    driver.start();
    QElapsedTimer took;
    took.start();
    form->bConnect->click();
    driver.stop();
    SetBusyIndicatorDelay(300);
    sim::ClearSimFaults();
    EXPECT_LT(took.elapsed(), 4000) << "the cancel did not end the slow call";
    EXPECT_FALSE(form->OPCServer->Active())
        << "a cancelled connect is not connected " << took.elapsed() << " "
        << form->StatusLine->text().toStdString();
    EXPECT_TRUE(apptest::Recorded().errors.empty()) << apptest::Recorded().errors[0];
}

// Closing the window while a status refresh waits on a slow COM server ends the call and closes
// the window (the close was dropped until the call had ended).
TEST_F(ComWindow, CloseWhileASlowServerAnswersClosesTheWindow) {
    auto form = Window("Velqor.SimDA20.1");
    form->bConnect->click();
    ASSERT_TRUE(form->OPCServer->Active());
    sim::SimFaults slow;
    slow.SlowCallMs = 5000;
    sim::SetSimFaults(slow);
    QTimer::singleShot(100, form.get(), [&] { form->close(); });
    QElapsedTimer took;
    took.start();
    form->Timer1Timer();  // the refresh, with the close request arriving during it
    EXPECT_TRUE(apptest::ProcessUntil([&] { return !form->isVisible(); }));
    sim::ClearSimFaults();
    EXPECT_LT(took.elapsed(), 4000) << "the close did not end the slow call";
}

// The dialog walks down to a tank, returns the chosen items' IDs, and goes back up; the DA 2.0
// server names the position it climbed to by its item ID, the DA 3.0 browser by the name it
// remembered.
TEST_F(ComWindow, BrowseDialogWalksDa20AndDa30ServersAndReturnsItemIDs) {
    struct Case {
        const char* progId;
        const char* upPath;
    } const cases[] = {{"Velqor.SimDA20.1", "Plant/Area1"}, {"Velqor.SimDA30.1", "Area1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.progId);
        auto form = Window(c.progId);
        form->bConnect->click();
        ASSERT_TRUE(form->OPCServer->Active())
            << (apptest::Recorded().errors.empty() ? "" : apptest::Recorded().errors[0]);
        std::vector<std::string> result;
        TVelqorDlgBrowse dlg(form->OPCServer->Browser(), result, true);
        dlg.show();
        EXPECT_EQ(dlg.ePath->text(), "root");
        EXPECT_EQ(Entries(dlg), (QStringList{"Static", "Dynamic", "Writable", "WriteOnly", "Plant",
                                             "Special", "Load"}));
        for (const char* branch : {"Plant", "Area1", "Tank1"}) Open(dlg, {branch});
        EXPECT_EQ(dlg.ePath->text(), "Tank1");
        EXPECT_EQ(Entries(dlg), (QStringList{"Level", "Temperature", "Setpoint", "Valve"}));
        dlg.cWritable->click();
        EXPECT_EQ(Entries(dlg), QStringList{"Setpoint"});
        dlg.cWritable->click();
        Shot(&dlg, QString(c.progId).section('.', 1, 1).toLower());
        Open(dlg, {"Level", "Setpoint"});
        EXPECT_EQ(result, (std::vector<std::string>{"Plant/Area1/Tank1/Level",
                                                    "Plant/Area1/Tank1/Setpoint"}));
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        dlg.bBackClick();
        EXPECT_EQ(dlg.ePath->text(), c.upPath);
        EXPECT_EQ(Entries(dlg), QStringList{"Tank1"});
        EXPECT_TRUE(apptest::Recorded().errors.empty()) << apptest::Recorded().errors[0];
        form->BDisconnect->click();
    }
}

// From the window as a user does it: a group, the browse dialog down to a tank, all its items
// added, and every row showing values that keep changing.
TEST_F(ComWindow, ItemsPickedInTheBrowseDialogUpdateLive) {
    for (const char* progId : {"Velqor.SimDA20.1", "Velqor.SimDA30.1"}) {
        SCOPED_TRACE(progId);
        auto form = Window(progId);
        form->bConnect->click();
        ASSERT_TRUE(form->OPCServer->Active());
        apptest::WhenDialog<TEditGroupDlg>([](TEditGroupDlg* dlg) {
            dlg->eGroupName->setText("Tank 1");
            dlg->eUpdateRate->setText("250");
            dlg->bOk->click();
        });
        form->AddGroup1->trigger();
        ASSERT_NE(form->SelectedGroup(), nullptr);
        apptest::WhenDialog<TVelqorDlgBrowse>([](TVelqorDlgBrowse* dlg) {
            for (const char* branch : {"Plant", "Area1", "Tank1"}) Open(*dlg, {branch});
            dlg->ListView->selectAll();
            dlg->bOk->click();
            if (dlg->isVisible()) dlg->reject();
        });
        form->A1->trigger();
        ASSERT_EQ(form->ItemModel->Count(), 4)
            << (apptest::Recorded().errors.empty() ? "" : apptest::Recorded().errors[0]);

        auto allShown = [&] {
            for (int i = 0; i < form->ItemModel->Count(); ++i)
                if (form->ItemModel->Row(i)->Text[colQuality] == "-") return false;
            return true;
        };
        ASSERT_TRUE(apptest::ProcessUntil(allShown, 10000));
        int level = -1;
        for (int i = 0; i < form->ItemModel->Count(); ++i)
            if (form->ItemModel->Row(i)->Text[colItemId].endsWith("Level")) level = i;
        ASSERT_GE(level, 0);
        const QString first = form->ItemModel->Row(level)->Text[colValue];
        EXPECT_TRUE(apptest::ProcessUntil(
            [&] { return form->ItemModel->Row(level)->Text[colValue] != first; }, 10000));
        EXPECT_EQ(form->ItemModel->Row(level)->Text[colQuality], "good");
        Shot(form.get(), QString(progId).section('.', 1, 1).toLower() + "-live");
        EXPECT_TRUE(apptest::Recorded().errors.empty()) << apptest::Recorded().errors[0];
        form->BDisconnect->click();
    }
}

}  // namespace
