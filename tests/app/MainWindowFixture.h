// A main window on the fake transport, with its INI files in a temporary folder, the event
// loop on Qt's and the error displays recorded.
#pragma once

#include <QAbstractItemModelTester>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <memory>

#include "AppTestSupport.h"
#include "QtEventLoop.h"
#include "fake/FakeTransport.h"
#include "uMain.h"

namespace apptest {

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RecordDisplays();
        qunsetenv("TAGSCOPE_SERVER");
        loop = std::make_unique<QtEventLoop>();
        loop->InstallAsDefault();
        fake = velqor::fake::FakeTransport::Create();
        fake->SetConnectionType(velqor::coCOM);
        auto server = std::make_unique<velqor::fake::FakeServer>(fake, loop.get());
        form = std::make_unique<TForm1>(std::move(server));
        form->Ini = IniMemory(progDir.path(), "tagscope", confDir.path());
        form->Confirm = [this](const QString& question) {
            asked << question;
            return answer;
        };
        // The model tester reports through Qt's warnings; any of them fails the test.
        previousHandler = qInstallMessageHandler(&FailOnModelTesterWarning);
        tester = std::make_unique<QAbstractItemModelTester>(
            form->ItemModel, QAbstractItemModelTester::FailureReportingMode::Warning);
    }
    void TearDown() override {
        tester.reset();
        qInstallMessageHandler(previousHandler);
        form.reset();
        loop.reset();
    }

    velqor::TVelqorServer& Server() { return *form->OPCServer; }
    // Connects to a fake server named name.
    void ConnectTo(const QString& name = "Sim.Server.1") {
        form->ServerCombo->setEditText(name);
        form->bConnect->click();
        ASSERT_TRUE(Server().Active());
    }
    // Adds a group through the group dialog with the given name and update rate.
    void AddGroupViaDialog(const QString& name, const QString& rate = "1000");
    // The texts of row r.
    QStringList RowTexts(int r) const {
        QStringList out;
        for (int c = 0; c < kItemColumns; ++c)
            out << form->ItemModel->index(r, c).data().toString();
        return out;
    }
    void SelectNode(int index) {
        form->TreeView1->setCurrentItem(form->TreeView1->topLevelItem(index));
    }
    void SelectRow(int r) { form->ItemView->selectRow(r); }

    static void FailOnModelTesterWarning(QtMsgType type, const QMessageLogContext& context,
                                         const QString& text) {
        if (type != QtDebugMsg && context.category &&
            QByteArray(context.category) == "qt.modeltest")
            ADD_FAILURE() << "item model: " << text.toStdString();
    }

    QStringList asked;  // the questions the window asked before acting
    bool answer = true;
    QtMessageHandler previousHandler = nullptr;
    QTemporaryDir progDir, confDir;
    std::unique_ptr<QtEventLoop> loop;
    std::shared_ptr<velqor::fake::FakeTransport> fake;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

}  // namespace apptest
