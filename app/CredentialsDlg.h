// The credentials question: a small dialog (user, password) that the application installs as
// the HTTP poster's provider, asked when an XML-DA server or its proxy wants authentication.
#pragma once

#include <QDialog>
#include <optional>

#include "contract/VelqorCredentials.h"

class QLabel;
class QLineEdit;
class QPushButton;

class TCredentialsDlg : public QDialog {
    Q_OBJECT
  public:
    explicit TCredentialsDlg(const velqor::TCredentialsRequest& request, QWidget* parent = nullptr);

    QLabel* lTarget;
    QLineEdit* eUser;
    QLineEdit* ePassword;
    QPushButton* bOk;
    QPushButton* bCancel;
};

// Asks on the GUI thread (modal dialog); nothing when the user cancels.
std::optional<velqor::TCredentials> AskCredentials(const velqor::TCredentialsRequest& request);

// Installs the dialog as the poster's provider. A poll thread that needs credentials first
// reuses what the user entered for the same address in this run; otherwise it waits for the
// answer on the GUI thread, for at most waitMs (then it is treated as cancelled, so that a GUI
// thread that is itself waiting for that poll thread cannot deadlock forever).
void InstallCredentialsProvider(int waitMs = 120000);
// Forgets what the user entered in this run.
void ForgetEnteredCredentials();
