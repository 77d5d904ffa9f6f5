#include "QtEventLoop.h"

#include <QTimer>

#include "ErrorDisplay.h"

QtEventLoop::QtEventLoop(QObject* parent) : QObject(parent) {}

QtEventLoop::~QtEventLoop() {
    if (installed_) velqor::EventLoop::SetDefault(nullptr);
    for (auto& [id, timer] : timers_) delete timer;
}

void QtEventLoop::InstallAsDefault() {
    velqor::EventLoop::SetDefault(this);
    installed_ = true;
}

void QtEventLoop::Post(std::function<void()> fn) {
    // Queued invocations on one receiver are delivered in posting order, whichever thread posts.
    QMetaObject::invokeMethod(
        this, [fn = std::move(fn)] { Guarded(fn); }, Qt::QueuedConnection);
}

int QtEventLoop::StartTimer(int intervalMs, std::function<void()> fn) {
    int id = nextTimer_++;
    auto* timer = new QTimer(this);
    timer->setInterval(intervalMs < 1 ? 1 : intervalMs);
    connect(timer, &QTimer::timeout, this, [fn = std::move(fn)] { Guarded(fn); });
    timers_[id] = timer;
    timer->start();
    return id;
}

void QtEventLoop::StopTimer(int id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second->stop();
    // The timer may be the one whose tick is running right now.
    it->second->deleteLater();
    timers_.erase(it);
}
