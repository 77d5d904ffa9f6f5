// Connection settings of one XML-DA server: the certificate authority file that its HTTPS
// certificate is checked against, and whether a certificate that is out of date or names
// another host is accepted for it (unsafe; the window warns on every such connect).
#pragma once

#include <QDialog>

#include "WindowSettings.h"
#include "contract/VelqorTransport.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

class TConnectionSettingsDlg : public QDialog {
    Q_OBJECT
  public:
    TConnectionSettingsDlg(const QString& server, const ConnectionOptions& options,
                           QWidget* parent = nullptr);
    ConnectionOptions Options() const;

    QLineEdit* eCAFile;
    QCheckBox* cAcceptBadCert;
    QPushButton* bOk;
    QPushButton* bCancel;
};

// Shows the dialog for server; false when cancelled (options unchanged).
bool EditConnectionOptions(const QString& server, ConnectionOptions& options, QWidget* parent);

// The server component's Params lines for these settings.
velqor::ParamLines ConnectionParams(const ConnectionOptions& options);
