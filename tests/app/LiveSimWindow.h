// A main window connected to the XML-DA simulation service on loopback, with its INI and
// settings in temporary folders; the tests of the window's item tools, log and layout share it.
#pragma once

#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "QtEventLoop.h"
#include "uMain.h"
#include "xmlda/XmlDaSim.h"

namespace apptest {

class LiveSimWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        RecordDisplays();
        qunsetenv("TAGSCOPE_SERVER");
        velqor::xmldasim::Options opt;
        opt.clockPeriodMs = 100;
        opt.loadItems = 20;
        sim = std::make_unique<velqor::xmldasim::Service>(opt);
        sim->start();
        loop = std::make_unique<QtEventLoop>();
        loop->InstallAsDefault();
        form = NewWindow();
        form->ServerCombo->setEditText(QString::fromStdString(sim->url()));
        form->bConnect->click();
        ASSERT_TRUE(form->OPCServer->Active())
            << (Recorded().errors.empty() ? "" : Recorded().errors[0]);
    }
    void TearDown() override {
        form.reset();
        sim->stop();
        loop.reset();
    }

    // A second window on the same temporary INI and settings.
    std::unique_ptr<TForm1> NewWindow() {
        auto w = std::make_unique<TForm1>();
        w->Ini = IniMemory(prog.path(), "tagscope", conf.path());
        w->show();
        return w;
    }

    // Adds a group with the items, selects it and waits until every row shows a value.
    velqor::TVelqorGroup* AddGroupWith(const std::string& name, const std::vector<std::string>& ids,
                                       int updateRate = 100) {
        velqor::TVelqorGroup* g = form->OPCServer->OPCGroups().AddGroup(name);
        g->SetUpdateRate(updateRate);
        for (const auto& id : ids) g->OPCItems().AddItem(id);
        auto* node = new QTreeWidgetItem(QStringList{QString::fromStdString(name)});
        form->TreeView1->addTopLevelItem(node);
        form->TreeView1->setCurrentItem(node);
        EXPECT_TRUE(ProcessUntil([&] {
            for (int i = 0; i < form->ItemModel->Count(); ++i)
                if (form->ItemModel->Row(i)->Text[colQuality] == "-") return false;
            return true;
        }));
        return g;
    }
    // The row of an item ID, or -1.
    int RowOf(const QString& id) const {
        for (int i = 0; i < form->ItemModel->Count(); ++i)
            if (form->ItemModel->Row(i)->Text[colItemId] == id) return i;
        return -1;
    }
    QString Cell(int row, int col) const { return form->ItemModel->Row(row)->Text[size_t(col)]; }

    QTemporaryDir prog, conf;
    std::unique_ptr<velqor::xmldasim::Service> sim;
    std::unique_ptr<QtEventLoop> loop;
    std::unique_ptr<TForm1> form;
};

}  // namespace apptest
