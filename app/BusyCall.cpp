#include "BusyCall.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "BusyCallRun.h"
#include "QtEventLoop.h"
#include "contract/CallCancel.h"
#include "contract/VelqorError.h"

namespace {

bool g_running = false;
int g_indicatorDelay = 300;

bool IsUserInput(QEvent::Type t) {
    switch (t) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::ContextMenu:
            return true;
        default:
            return false;
    }
}

// Worth delivering after a background call: what the user did, not where the pointer went.
bool IsReplayable(QEvent::Type t) {
    return t == QEvent::MouseButtonPress || t == QEvent::MouseButtonRelease ||
           t == QEvent::MouseButtonDblClick || t == QEvent::KeyPress || t == QEvent::KeyRelease ||
           t == QEvent::Wheel;
}

// The worker's cancel scope, reachable from the GUI thread for as long as it exists.
struct CancelLink {
    std::mutex mu;
    velqor::CallCancelScope* scope = nullptr;
    bool cancelAsked = false;

    void Cancel() {
        std::lock_guard lock(mu);
        cancelAsked = true;
        if (scope) scope->Cancel();
    }
};

// The busy indicator: what is being done, a running bar, Cancel.
class BusyIndicator : public QDialog {
  public:
    BusyIndicator(const QString& what, std::function<void()> cancel, QWidget* parent)
        : QDialog(parent), cancel_(std::move(cancel)) {
        setObjectName("BusyIndicator");
        setWindowTitle(QApplication::applicationDisplayName());
        auto* layout = new QVBoxLayout(this);
        text_ = new QLabel(what, this);
        text_->setObjectName("BusyText");
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 0);
        bar->setTextVisible(false);
        button_ = new QPushButton("Cancel", this);
        button_->setObjectName("BusyCancel");
        layout->addWidget(text_);
        layout->addWidget(bar);
        layout->addWidget(button_, 0, Qt::AlignRight);
        connect(button_, &QPushButton::clicked, this, [this] { Cancel(); });
        setMinimumWidth(320);
    }

    void Cancel() {
        if (!button_->isEnabled()) return;
        button_->setEnabled(false);
        text_->setText("Cancelling...");
        cancel_();
    }

  protected:
    void reject() override { Cancel(); }  // Escape and the window's close button

  private:
    std::function<void()> cancel_;
    QLabel* text_;
    QPushButton* button_;
};

// Keeps user input away from the windows that were open when the call started. Interactive
// calls drop it; background calls cancel themselves and keep it for afterwards.
class InputGate : public QObject {
  public:
    InputGate(BusyKind kind, CancelLink& link) : kind_(kind), link_(link) {
        for (QWidget* w : QApplication::topLevelWidgets()) blocked_.insert(w);
        qApp->installEventFilter(this);
    }
    ~InputGate() override { qApp->removeEventFilter(this); }

    // Delivers what a background call kept, in order, and the close requests that came.
    void Replay() {
        for (auto& [target, event] : kept_)
            if (target) QCoreApplication::postEvent(target, event.release());
        kept_.clear();
        for (const QPointer<QWidget>& w : closeLater_)
            if (w) QMetaObject::invokeMethod(w, &QWidget::close, Qt::QueuedConnection);
        closeLater_.clear();
    }

  protected:
    bool eventFilter(QObject* obj, QEvent* event) override {
        const QEvent::Type t = event->type();
        if (t == QEvent::Close && obj->isWidgetType() &&
            blocked_.contains(static_cast<QWidget*>(obj))) {
            // The window stays until the call has ended, which is asked to end now; then it
            // closes: a close request is never dropped.
            event->ignore();
            link_.Cancel();
            closeLater_.emplace_back(static_cast<QWidget*>(obj));
            return true;
        }
        if (!IsUserInput(t) || !Blocked(obj)) return false;
        if (kind_ == BusyKind::Background) {
            link_.Cancel();
            if (IsReplayable(t)) kept_.emplace_back(obj, std::unique_ptr<QEvent>(event->clone()));
        }
        return true;
    }

  private:
    bool Blocked(QObject* obj) const {
        QWidget* w = nullptr;
        if (obj->isWidgetType()) {
            w = static_cast<QWidget*>(obj)->window();
        } else if (obj->isWindowType()) {
            // Input reaches a window before its widgets: find the top-level widget it shows.
            for (QWidget* top : blocked_)
                if (top && top->windowHandle() == obj) return true;
            return false;
        }
        return w && blocked_.contains(w);
    }

    BusyKind kind_;
    CancelLink& link_;
    QSet<QWidget*> blocked_;
    std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> kept_;
    std::vector<QPointer<QWidget>> closeLater_;
};

}  // namespace

bool BusyCallRunning() { return g_running; }

void SetBusyIndicatorDelay(int ms) { g_indicatorDelay = ms < 0 ? 0 : ms; }

bool RunBusy(const QString& what, const std::function<void()>& call, BusyKind kind) {
    if (!qApp || QThread::currentThread() != qApp->thread()) {
        call();
        return true;
    }
    if (g_running) {
        if (kind == BusyKind::Background) return false;
        throw velqor::Exception("A server call is still in progress.");
    }
    g_running = true;
    QtEventLoop* toolkitLoop = QtEventLoop::Installed();
    if (toolkitLoop) toolkitLoop->Hold();

    CancelLink link;
    std::exception_ptr failure;
    QEventLoop wait;
    {
        InputGate gate(kind, link);
        std::unique_ptr<BusyIndicator> indicator;
        QTimer later;
        later.setSingleShot(true);
        if (kind == BusyKind::Interactive) {
            QObject::connect(&later, &QTimer::timeout, [&] {
                indicator = std::make_unique<BusyIndicator>(
                    what, [&link] { link.Cancel(); }, QApplication::activeWindow());
                indicator->show();
            });
            later.start(g_indicatorDelay);
        }
        {
            BusyRun run(
                [&] {
                    velqor::CallCancelScope scope;
                    {
                        std::lock_guard lock(link.mu);
                        link.scope = &scope;
                        if (link.cancelAsked) scope.Cancel();
                    }
                    try {
                        call();
                    } catch (...) {
                        failure = std::current_exception();
                    }
                    std::lock_guard lock(link.mu);
                    link.scope = nullptr;
                },
                [&wait, toolkitLoop] {
                    // The hand-over goes through the toolkit's loop where there is one: its
                    // queue is visible to the thread checker, Qt's own is not.
                    if (toolkitLoop)
                        toolkitLoop->PostUrgent([&wait] { wait.quit(); });
                    else
                        QMetaObject::invokeMethod(
                            &wait, [&wait] { wait.quit(); }, Qt::QueuedConnection);
                });
            wait.exec();
        }
        later.stop();
        indicator.reset();
        g_running = false;
        if (toolkitLoop) toolkitLoop->Release();
        gate.Replay();
    }
    if (failure) std::rethrow_exception(failure);
    return true;
}
