#include "MainWindowFixture.h"

#include <QLineEdit>
#include <QTest>

#include "OPCGroupDlg.h"

namespace apptest {

void MainWindowTest::AddGroupViaDialog(const QString& name, const QString& rate) {
    WhenDialog<TEditGroupDlg>([name, rate](TEditGroupDlg* dlg) {
        dlg->eGroupName->setText(name);
        dlg->eUpdateRate->setText(rate);
        QTest::keyClick(dlg->eGroupName, Qt::Key_Return);
    });
    form->AddGroup1->trigger();
}

}  // namespace apptest
