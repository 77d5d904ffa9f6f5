#include "ConnectionSettingsDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "contract/VelqorParams.h"

TConnectionSettingsDlg::TConnectionSettingsDlg(const QString& server,
                                               const ConnectionOptions& options, QWidget* parent)
    : QDialog(parent) {
    setObjectName("ConnectionSettingsDlg");
    setWindowTitle("Connection Settings");
    auto* target = new QLabel(server.trimmed().isEmpty() ? "(no server chosen)" : server, this);
    target->setWordWrap(true);
    eCAFile = new QLineEdit(options.CAFile, this);
    eCAFile->setObjectName("eCAFile");
    eCAFile->setPlaceholderText("PEM file of a private certificate authority (optional)");
    cAcceptBadCert = new QCheckBox(
        "Accept this server's certificate even when it is out of date or names another host", this);
    cAcceptBadCert->setObjectName("cAcceptBadCert");
    cAcceptBadCert->setChecked(options.AcceptBadCert);
    auto* risk = new QLabel(
        "Unsafe: anyone in the network path could then read and change the traffic.", this);
    risk->setWordWrap(true);

    auto* form = new QFormLayout;
    form->addRow("Server", target);
    form->addRow("Certificate authority", eCAFile);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    bOk = buttons->button(QDialogButtonBox::Ok);
    bCancel = buttons->button(QDialogButtonBox::Cancel);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(cAcceptBadCert);
    top->addWidget(risk);
    top->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

ConnectionOptions TConnectionSettingsDlg::Options() const {
    return {eCAFile->text().trimmed(), cAcceptBadCert->isChecked()};
}

bool EditConnectionOptions(const QString& server, ConnectionOptions& options, QWidget* parent) {
    TConnectionSettingsDlg dlg(server, options, parent);
    if (dlg.exec() != QDialog::Accepted) return false;
    options = dlg.Options();
    return true;
}

velqor::ParamLines ConnectionParams(const ConnectionOptions& options) {
    velqor::ParamLines lines;
    if (!options.CAFile.isEmpty())
        lines.push_back(std::string(velqor::kParamCAFile) + "=" + options.CAFile.toStdString());
    if (options.AcceptBadCert) lines.push_back(std::string(velqor::kParamAcceptBadCert) + "=on");
    return lines;
}
