#include "AppTestSupport.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>

namespace apptest {
namespace {

std::vector<QTimer*>& PendingModalHelpers() {
    static std::vector<QTimer*> pending;
    return pending;
}

void Forget(QTimer* t) {
    auto& p = PendingModalHelpers();
    p.erase(std::remove(p.begin(), p.end(), t), p.end());
}

// One application object per run of the tests (each --gtest_repeat gets a new one).
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

// A modal helper still waiting when its test ends would act on the next test's dialogs.
class ModalHelperReaper : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& info) override {
        auto pending = PendingModalHelpers();
        for (QTimer* t : pending) {
            std::fprintf(stderr, "%s.%s: a modal helper was still waiting\n",
                         info.test_suite_name(), info.name());
            t->stop();
            t->deleteLater();
            Forget(t);
        }
    }
};

[[maybe_unused]] auto* const g_env = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
[[maybe_unused]] const bool g_reaper = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new ModalHelperReaper);
    return true;
}();

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
    PendingModalHelpers().push_back(timer);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, fn, started, timeoutMs] {
        QWidget* w = QApplication::activeModalWidget();
        if (w && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            Forget(timer);
            fn(w);
        } else if (started->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            Forget(timer);
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
