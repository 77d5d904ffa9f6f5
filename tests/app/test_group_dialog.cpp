// The group dialog: filling, validation, conversion errors, keys and the record round trip.
#include <QCheckBox>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>

#include "AppTestSupport.h"
#include "ErrorDisplay.h"
#include "OPCGroupDlg.h"

using velqor::tVelqorGroupStateRec;

namespace {

tVelqorGroupStateRec SampleRecord() {
    tVelqorGroupStateRec r;
    r.Name = "Boiler";
    r.UpdateRate = 250;
    r.Active = true;
    r.DeadBand = 0.5f;
    r.TimeBias = -60;
    r.LocaleId = 1031;
    r.ClientHandle = 7;
    r.ServerHandle = 99;
    r.HoldTime = 11;
    r.WaitTime = 22;
    return r;
}

void ExpectSame(const tVelqorGroupStateRec& a, const tVelqorGroupStateRec& b) {
    EXPECT_EQ(a.Name, b.Name);
    EXPECT_EQ(a.UpdateRate, b.UpdateRate);
    EXPECT_EQ(a.Active, b.Active);
    EXPECT_EQ(a.DeadBand, b.DeadBand);
    EXPECT_EQ(a.TimeBias, b.TimeBias);
    EXPECT_EQ(a.LocaleId, b.LocaleId);
    EXPECT_EQ(a.ClientHandle, b.ClientHandle);
    EXPECT_EQ(a.ServerHandle, b.ServerHandle);
    EXPECT_EQ(a.HoldTime, b.HoldTime);
    EXPECT_EQ(a.WaitTime, b.WaitTime);
}

class GroupDialog : public ::testing::Test {
  protected:
    void SetUp() override { apptest::RecordDisplays(); }
};

TEST_F(GroupDialog, CaptionsAndInitialTexts) {
    TEditGroupDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), "Edit Group");
    EXPECT_EQ(dlg.eUpdateRate->text(), "1000");
    EXPECT_EQ(dlg.eDeadBand->text(), "0");
    EXPECT_EQ(dlg.bOk->text(), "&Ok");
    EXPECT_EQ(dlg.BCancel->text(), "&Cancel");
    EXPECT_TRUE(dlg.bOk->isDefault());
}

TEST_F(GroupDialog, ShowFillsControlsFromRecord) {
    TEditGroupDlg dlg;
    dlg.Rec = SampleRecord();
    dlg.show();
    EXPECT_EQ(dlg.eGroupName->text(), "Boiler");
    EXPECT_EQ(dlg.eUpdateRate->text(), "250");
    QString sep = QLocale::system().decimalPoint();
    EXPECT_EQ(dlg.eDeadBand->text(), "0" + sep + "50");
    EXPECT_TRUE(dlg.cActive->isChecked());
    dlg.reject();
}

TEST_F(GroupDialog, BlankNameBeepsKeepsFocusAndStaysOpen) {
    TEditGroupDlg dlg;
    dlg.Rec = SampleRecord();
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    dlg.eGroupName->setText("   ");
    dlg.eUpdateRate->setText("5");
    dlg.bOk->setFocus();
    dlg.bOk->click();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), 0);
    EXPECT_EQ(QApplication::focusWidget(), dlg.eGroupName);
    EXPECT_EQ(dlg.Rec.UpdateRate, 250) << "nothing is stored";
    EXPECT_TRUE(apptest::Recorded().errors.empty());
    dlg.reject();
}

TEST_F(GroupDialog, ConversionErrorsAreShownAndDialogStaysOpen) {
    TEditGroupDlg dlg;
    dlg.Rec = SampleRecord();
    dlg.show();
    dlg.eUpdateRate->setText("12a");
    dlg.bOk->click();
    ASSERT_EQ(apptest::Recorded().errors.size(), 1u);
    EXPECT_EQ(apptest::Recorded().errors[0], "'12a' is not a valid integer value");
    EXPECT_TRUE(dlg.isVisible());

    for (const char* rate : {"0", "-5"}) {  // would poll back to back
        dlg.eUpdateRate->setText(rate);
        dlg.bOk->click();
        EXPECT_EQ(apptest::Recorded().errors.back(), "The update rate must be at least 1 ms.");
    }
    ASSERT_EQ(apptest::Recorded().errors.size(), 3u);

    dlg.eUpdateRate->setText("100");
    dlg.eDeadBand->setText("half");
    dlg.bOk->click();
    ASSERT_EQ(apptest::Recorded().errors.size(), 4u);
    EXPECT_EQ(apptest::Recorded().errors[3], "'half' is not a valid floating point value");
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_NE(dlg.result(), QDialog::Accepted);
    dlg.reject();
}

TEST_F(GroupDialog, EnterAcceptsAndCarriesHiddenFieldsThrough) {
    tVelqorGroupStateRec rec = SampleRecord();
    apptest::WhenDialog<TEditGroupDlg>([](TEditGroupDlg* dlg) {
        dlg->eGroupName->setText(" Feed pump ");
        dlg->eUpdateRate->setText("5");
        dlg->eDeadBand->setText("250");
        dlg->cActive->setChecked(false);
        QTest::keyClick(dlg->eUpdateRate, Qt::Key_Return);
    });
    ASSERT_TRUE(EditGroup(rec));
    tVelqorGroupStateRec expected = SampleRecord();
    expected.Name = " Feed pump ";  // blanks stay part of the name
    expected.UpdateRate = 5;
    expected.DeadBand = 250;  // no range check here: the group clamps it
    expected.Active = false;
    ExpectSame(rec, expected);
}

TEST_F(GroupDialog, EscapeAndCloseLeaveRecordUntouched) {
    for (int how = 0; how < 3; ++how) {
        tVelqorGroupStateRec rec = SampleRecord();
        apptest::WhenDialog<TEditGroupDlg>([how](TEditGroupDlg* dlg) {
            dlg->eGroupName->setText("changed");
            dlg->eUpdateRate->setText("1");
            if (how == 0) QTest::keyClick(dlg->eGroupName, Qt::Key_Escape);
            if (how == 1) dlg->BCancel->click();
            if (how == 2) dlg->close();
        });
        EXPECT_FALSE(EditGroup(rec)) << how;
        ExpectSame(rec, SampleRecord());
    }
}

TEST_F(GroupDialog, FailedConversionThenCancelKeepsCallerRecord) {
    tVelqorGroupStateRec rec = SampleRecord();
    apptest::WhenDialog<TEditGroupDlg>([](TEditGroupDlg* dlg) {
        dlg->eUpdateRate->setText("77");
        dlg->eDeadBand->setText("1,2,3");
        dlg->bOk
            ->click();  // the update rate is stored in the dialog's copy, then the deadband fails
        EXPECT_TRUE(dlg->isVisible());
        dlg->reject();
    });
    EXPECT_FALSE(EditGroup(rec));
    ExpectSame(rec, SampleRecord());
    EXPECT_EQ(apptest::Recorded().errors.size(), 1u);
}

TEST(GroupDialogConversions, IntegerAndFloatTexts) {
    EXPECT_EQ(StrToInt("  42"), 42);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_THROW(StrToInt("42 "), EConvertError);
    EXPECT_THROW(StrToInt("2147483648"), EConvertError);
    EXPECT_THROW(StrToInt(""), EConvertError);
    EXPECT_THROW(StrToInt("1.5"), EConvertError);
    EXPECT_FLOAT_EQ(StrToFloat(" 2.5 "), 2.5f);
    EXPECT_FLOAT_EQ(StrToFloat("1e1"), 10.0f);
    EXPECT_THROW(StrToFloat("1e300"), EConvertError) << "does not fit a single-precision value";
    EXPECT_THROW(StrToFloat(""), EConvertError);
    EXPECT_EQ(FormatDeadBand(0.5f), QString("0") + QLocale::system().decimalPoint() + "50");
}

}  // namespace
