#include "MainWindowFixture.h"

#include <QLineEdit>
#include <QTest>

#include "OPCGroupDlg.h"

namespace apptest {

void MainWindowTest::AddGroupViaDialog(const QString& name, const QString& rate) {
    WhenModal([name, rate](QWidget* w) {
        auto* dlg = qobject_cast<TEditGroupDlg*>(w);
        ASSERT_NE(dlg, nullptr);
        dlg->eGroupName->setText(name);
        dlg->eUpdateRate->setText(rate);
        QTest::keyClick(dlg->eGroupName, Qt::Key_Return);
    });
    form->AddGroup1->trigger();
}

}  // namespace apptest
