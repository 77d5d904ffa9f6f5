// The group dialog: edits a copy of a group-state record (name, update rate, deadband, active)
// and hands it back on OK. It never touches the server component.
#pragma once

#include <QDialog>
#include <functional>

#include "contract/VelqorIntf.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

class TEditGroupDlg : public QDialog {
    Q_OBJECT
  public:
    explicit TEditGroupDlg(QWidget* parent = nullptr);

    // The dialog's own copy; fields it does not show are carried through unchanged.
    velqor::tVelqorGroupStateRec Rec;
    // The caller's check of a record about to be accepted: a text says why it cannot be (the
    // dialog shows it and stays open), an empty text accepts.
    std::function<QString(const velqor::tVelqorGroupStateRec&)> Check;

    QLineEdit* eGroupName;
    QLineEdit* eUpdateRate;
    QLineEdit* eDeadBand;
    QCheckBox* cActive;
    QPushButton* bOk;
    QPushButton* BCancel;

    // Fills the controls from Rec.
    void FormShow();
    // Validates and stores into Rec; raises EConvertError on a text that is not a number.
    void bOkClick();

  protected:
    void showEvent(QShowEvent* event) override;
};

// Shows the dialog modally on a copy of rec; on OK copies it back and returns true.
bool EditGroup(velqor::tVelqorGroupStateRec& rec, QWidget* parent = nullptr,
               std::function<QString(const velqor::tVelqorGroupStateRec&)> check = {});

// Conversions of the dialog's edits, raising EConvertError with the user-visible text.
int32_t StrToInt(const QString& text);
float StrToFloat(const QString& text);
// A deadband as the dialog shows it: two decimals, the user's decimal separator.
QString FormatDeadBand(float value);
