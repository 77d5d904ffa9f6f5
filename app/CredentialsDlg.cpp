#include "CredentialsDlg.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <future>
#include <map>
#include <mutex>

#include "QtEventLoop.h"

TCredentialsDlg::TCredentialsDlg(const velqor::TCredentialsRequest& request, QWidget* parent)
    : QDialog(parent) {
    setObjectName("CredentialsDlg");
    setWindowTitle(request.ForProxy ? "Proxy authentication" : "Server authentication");
    QString target = QString::fromStdString(request.ForProxy ? request.Proxy : request.URL);
    QString text = target;
    if (!request.Realm.empty()) text += "\n" + QString::fromStdString(request.Realm);
    if (request.Attempt > 1) text += "\nThe credentials were refused; please try again.";
    lTarget = new QLabel(text, this);
    lTarget->setWordWrap(true);
    eUser = new QLineEdit(this);
    eUser->setObjectName("eUser");
    ePassword = new QLineEdit(this);
    ePassword->setObjectName("ePassword");
    ePassword->setEchoMode(QLineEdit::Password);

    auto* form = new QFormLayout;
    form->addRow("User", eUser);
    form->addRow("Password", ePassword);
    bOk = new QPushButton("&Ok", this);
    bOk->setDefault(true);
    bCancel = new QPushButton("&Cancel", this);
    bCancel->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOk);
    buttons->addWidget(bCancel);
    auto* top = new QVBoxLayout(this);
    top->addWidget(lTarget);
    top->addLayout(form);
    top->addLayout(buttons);
    connect(bOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
}

std::optional<velqor::TCredentials> AskCredentials(const velqor::TCredentialsRequest& request) {
    TCredentialsDlg dlg(request, QApplication::activeWindow());
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    return velqor::TCredentials{dlg.eUser->text().toStdString(),
                                dlg.ePassword->text().toStdString()};
}

namespace {
std::mutex g_mu;
std::map<std::string, velqor::TCredentials> g_entered;  // by address, for poll threads

std::string KeyOf(const velqor::TCredentialsRequest& r) {
    return (r.ForProxy ? "proxy:" : "url:") + (r.ForProxy ? r.Proxy : r.URL);
}
}  // namespace

void ForgetEnteredCredentials() {
    std::lock_guard lock(g_mu);
    g_entered.clear();
}

void InstallCredentialsProvider(int waitMs) {
    velqor::SetCredentialsProvider([waitMs](const velqor::TCredentialsRequest& request)
                                       -> std::optional<velqor::TCredentials> {
        std::string key = KeyOf(request);
        bool onGui = qApp && QThread::currentThread() == qApp->thread();
        if (!onGui && request.Attempt == 1) {
            std::lock_guard lock(g_mu);
            if (auto it = g_entered.find(key); it != g_entered.end()) return it->second;
        }
        std::optional<velqor::TCredentials> answer;
        if (onGui) {
            answer = AskCredentials(request);
        } else if (qApp) {
            auto promise = std::make_shared<std::promise<std::optional<velqor::TCredentials>>>();
            auto future = promise->get_future();
            auto ask = [promise, request] { promise->set_value(AskCredentials(request)); };
            // A held loop means a server call from the window is waiting for this answer:
            // the question must not wait behind the call.
            QtEventLoop* loop = QtEventLoop::Installed();
            if (loop && !loop->Held())
                loop->Post(ask);
            else
                QMetaObject::invokeMethod(qApp, ask, Qt::QueuedConnection);
            if (future.wait_for(std::chrono::milliseconds(waitMs)) != std::future_status::ready)
                return std::nullopt;
            answer = future.get();
        }
        std::lock_guard lock(g_mu);
        if (answer) g_entered[key] = *answer;
        return answer;
    });
}
