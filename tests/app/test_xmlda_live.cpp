// The main window against the real XML-DA transport and the simulation service on loopback:
// connect, add a group and items through the dialogs, and watch live values arrive. With
// TAGSCOPE_SHOT set, the window is saved there as a picture once values are shown.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "AppTestSupport.h"
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

    apptest::WhenModal([](QWidget* w) {
        auto* dlg = qobject_cast<TEditGroupDlg*>(w);
        ASSERT_NE(dlg, nullptr);
        dlg->eGroupName->setText("Tank 1");
        dlg->eUpdateRate->setText("250");
        Shot(dlg, "group");
        dlg->bOk->click();
    });
    form.AddGroup1->trigger();
    ASSERT_NE(form.SelectedGroup(), nullptr);

    apptest::WhenModal([](QWidget* w) {
        auto* dlg = qobject_cast<TVelqorDlgBrowse*>(w);
        ASSERT_NE(dlg, nullptr);
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
    form.bDisconnectClick();
    sim.stop();
}

}  // namespace
