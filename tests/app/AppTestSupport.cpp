#include "AppTestSupport.h"

#include <QCoreApplication>

namespace apptest {
namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "tagscope-tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        QApplication::setApplicationDisplayName("Tagscope");
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    QApplication* app_ = nullptr;
};

[[maybe_unused]] auto* const g_env = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

Shown& Recorded() {
    static Shown s;
    return s;
}

void RecordDisplays() {
    Recorded() = Shown{};
    velqor::ApplicationHooks::SetExceptionDisplay(
        [](const std::exception& e) { Recorded().errors.push_back(e.what()); });
    velqor::ApplicationHooks::SetMessageDisplay(
        [](const std::string& text) { Recorded().messages.push_back(text); });
}

void WhenModal(std::function<void(QWidget*)> fn, int timeoutMs) {
    auto* timer = new QTimer;
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, fn, started, timeoutMs] {
        QWidget* w = QApplication::activeModalWidget();
        if (w && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            fn(w);
        } else if (started->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal dialog appeared";
        }
    });
    timer->start();
}

bool ProcessUntil(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs) return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

void ProcessFor(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

}  // namespace apptest
