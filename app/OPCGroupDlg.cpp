#include "OPCGroupDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <cmath>
#include <limits>

#include "ErrorDisplay.h"

namespace {
QLocale UserLocale() {
    QLocale l = QLocale::system();
    l.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return l;
}
}  // namespace

int32_t StrToInt(const QString& text) {
    // Leading blanks and a sign are accepted, as the classic integer conversion does.
    QString s = text;
    int i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    s = s.mid(i);
    bool ok = false;
    qlonglong v = s.toLongLong(&ok, 10);
    bool plain = !s.isEmpty() && !s.contains(' ');
    if (!ok || !plain || v < std::numeric_limits<int32_t>::min() ||
        v > std::numeric_limits<int32_t>::max())
        throw EConvertError(QString("'%1' is not a valid integer value").arg(text).toStdString());
    return int32_t(v);
}

float StrToFloat(const QString& text) {
    bool ok = false;
    double v = UserLocale().toDouble(text.trimmed(), &ok);
    if (!ok) v = QLocale::c().toDouble(text.trimmed(), &ok);  // "." is always understood too
    if (!ok || !std::isfinite(v) || std::fabs(v) > double(std::numeric_limits<float>::max()))
        throw EConvertError(
            QString("'%1' is not a valid floating point value").arg(text).toStdString());
    return float(v);
}

QString FormatDeadBand(float value) { return UserLocale().toString(double(value), 'f', 2); }

TEditGroupDlg::TEditGroupDlg(QWidget* parent) : QDialog(parent) {
    setObjectName("EditGroupDlg");
    setWindowTitle("Edit Group");
    // A fixed dialog border.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    eGroupName = new QLineEdit(this);
    eGroupName->setObjectName("eGroupName");
    eGroupName->setMinimumWidth(200);  // room for the whole caption
    eUpdateRate = new QLineEdit("1000", this);
    eUpdateRate->setObjectName("eUpdateRate");
    eDeadBand = new QLineEdit("0", this);
    eDeadBand->setObjectName("eDeadBand");
    cActive = new QCheckBox(this);
    cActive->setObjectName("cActive");

    auto* form = new QFormLayout;
    form->addRow("Groupname", eGroupName);
    form->addRow("UpdateRate", eUpdateRate);
    form->addRow("DeadBand", eDeadBand);
    form->addRow("Active", cActive);

    bOk = new QPushButton("&Ok", this);
    bOk->setObjectName("bOk");
    bOk->setDefault(true);
    BCancel = new QPushButton("&Cancel", this);
    BCancel->setObjectName("BCancel");
    BCancel->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOk);
    buttons->addWidget(BCancel);

    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);

    connect(bOk, &QPushButton::clicked, this, [this] { Guarded([this] { bOkClick(); }); });
    connect(BCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TEditGroupDlg::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
    // Centred on the desktop.
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

void TEditGroupDlg::FormShow() {
    eUpdateRate->setText(QString::number(Rec.UpdateRate));
    eGroupName->setText(QString::fromStdString(Rec.Name));
    eDeadBand->setText(FormatDeadBand(Rec.DeadBand));
    cActive->setChecked(Rec.Active);
}

void TEditGroupDlg::bOkClick() {
    if (eGroupName->text().trimmed().isEmpty()) {
        QApplication::beep();
        eGroupName->setFocus();
        return;
    }
    // A text that is not a number leaves the focus on its field, selected for retyping.
    auto focusOn = [](QLineEdit* e) {
        e->setFocus();
        e->selectAll();
    };
    velqor::tVelqorGroupStateRec rec = Rec;
    try {
        rec.UpdateRate = StrToInt(eUpdateRate->text());
        if (rec.UpdateRate < velqor::kMinUpdateRateMs)
            throw EConvertError(QString("The update rate must be at least %1 ms.")
                                    .arg(velqor::kMinUpdateRateMs)
                                    .toStdString());
    } catch (...) {
        focusOn(eUpdateRate);
        throw;
    }
    rec.Name = eGroupName->text().toStdString();  // as typed, blanks included
    try {
        rec.DeadBand = StrToFloat(eDeadBand->text());
    } catch (...) {
        focusOn(eDeadBand);
        throw;
    }
    rec.Active = cActive->isChecked();
    if (Check) {
        QString why = Check(rec);
        if (!why.isEmpty()) {
            focusOn(eGroupName);
            ShowMessageText(why);
            return;
        }
    }
    Rec = rec;
    accept();
}

bool EditGroup(velqor::tVelqorGroupStateRec& rec, QWidget* parent,
               std::function<QString(const velqor::tVelqorGroupStateRec&)> check) {
    TEditGroupDlg dlg(parent);
    dlg.Rec = rec;
    dlg.Check = std::move(check);
    if (dlg.exec() != QDialog::Accepted) return false;
    rec = dlg.Rec;
    return true;
}
