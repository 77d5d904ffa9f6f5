#include "ErrorDisplay.h"

#include <QMessageBox>
#include <QPointer>
#include <QThread>

#include "QtEventLoop.h"
#include "contract/EventLoop.h"

namespace {

bool OnGuiThread() { return qApp && QThread::currentThread() == qApp->thread(); }

// Runs fn on the GUI thread: at once when already there, else queued (through the toolkit's
// loop when it runs on Qt's).
template <class F>
void OnGui(F fn) {
    if (!qApp) return;
    if (OnGuiThread()) {
        fn();
    } else if (QtEventLoop* loop = QtEventLoop::Installed()) {
        loop->Post(std::move(fn));
    } else {
        QMetaObject::invokeMethod(qApp, std::move(fn), Qt::QueuedConnection);
    }
}

void ShowBox(QMessageBox::Icon icon, const QString& text) {
    OnGui([icon, text] {
        QMessageBox box(icon, QApplication::applicationDisplayName(), text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.setObjectName(icon == QMessageBox::Critical ? "ErrorBox" : "MessageBox");
        box.exec();
    });
}

}  // namespace

void InstallErrorDisplay() {
    velqor::ApplicationHooks::SetExceptionDisplay([](const std::exception& e) {
        ShowBox(QMessageBox::Critical, QString::fromUtf8(e.what()));
    });
    velqor::ApplicationHooks::SetMessageDisplay([](const std::string& text) {
        ShowBox(QMessageBox::Information, QString::fromStdString(text));
    });
}

void ShowExceptionBox(const std::exception& e) { velqor::ApplicationHooks::ShowException(e); }

void ShowMessageText(const QString& text) {
    velqor::ApplicationHooks::ShowMessage(text.toStdString());
}

TagscopeApplication::TagscopeApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TagscopeApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowExceptionBox(e);
    } catch (...) {
        ShowExceptionBox(velqor::Exception("unknown exception"));
    }
    return false;
}
