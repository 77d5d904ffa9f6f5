#include "QtEventLoop.h"

#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <future>
#include <stdexcept>

#include "ErrorDisplay.h"

namespace {
std::atomic<QtEventLoop*> g_installed{nullptr};
}

QtEventLoop::QtEventLoop(QObject* parent) : QObject(parent) {
    wake_ = std::make_unique<LoopWakeup>(this, [this] { Drain(); });
}

QtEventLoop::~QtEventLoop() {
    if (installed_) {
        velqor::EventLoop::SetDefault(nullptr);
        g_installed.store(nullptr);
    }
    for (auto& [id, timer] : timers_) delete timer;
    wake_.reset();
}

void QtEventLoop::InstallAsDefault() {
    velqor::EventLoop::SetDefault(this);
    g_installed.store(this);
    installed_ = true;
}

QtEventLoop* QtEventLoop::Installed() { return g_installed.load(); }

void QtEventLoop::Post(std::function<void()> fn) {
    bool wake = false;
    {
        std::lock_guard lock(mu_);
        queue_.push_back(std::move(fn));
        if (!wakePending_) wakePending_ = wake = true;
    }
    if (wake) wake_->Signal();
}

void QtEventLoop::Drain() {
    wake_->Clear();
    size_t n = 0;
    RunControl();  // timers asked for by another thread, also while held
    if (Held()) {
        // Release wakes us again.
        std::lock_guard lock(mu_);
        wakePending_ = false;
        return;
    }
    // Timer ticks that fell due while held, once each, before the queued work.
    std::vector<int> ticks;
    ticks.swap(ticksWhileHeld_);
    for (size_t i = 0; i < ticks.size(); ++i) {
        if (Held()) {
            // A tick started a busy call; its release carries on with the rest.
            ticksWhileHeld_.insert(ticksWhileHeld_.end(), ticks.begin() + long(i), ticks.end());
            std::lock_guard lock(mu_);
            wakePending_ = false;
            return;
        }
        Tick(ticks[i]);
    }
    {
        std::lock_guard lock(mu_);
        wakePending_ = false;
        n = queue_
                .size();  // only what is queued now, so that work that posts cannot starve painting
    }
    while (n-- > 0) {
        std::function<void()> fn;
        {
            std::lock_guard lock(mu_);
            if (queue_.empty()) return;  // a nested loop ran it already
            fn = std::move(queue_.front());
            queue_.pop_front();
        }
        Guarded(fn);
        if (Held()) {
            // The work just run started a busy call; the rest waits for its end.
            std::lock_guard lock(mu_);
            wakePending_ = false;
            return;
        }
    }
}

bool QtEventLoop::OnOwnThread() const { return QThread::currentThread() == thread(); }

void QtEventLoop::PostUrgent(std::function<void()> fn) {
    {
        std::lock_guard lock(mu_);
        control_.push_back(std::move(fn));
    }
    // Always woken: a wake-up pending for posted work may be taken by a drain that has
    // already looked at the urgent work.
    wake_->Signal();
}

void QtEventLoop::RunOnOwnThread(const std::function<void()>& fn) {
    std::promise<void> done;
    PostUrgent([&] {
        fn();
        done.set_value();
    });
    done.get_future().wait();
}

void QtEventLoop::RunControl() {
    while (true) {
        std::function<void()> fn;
        {
            std::lock_guard lock(mu_);
            if (control_.empty()) return;
            fn = std::move(control_.front());
            control_.pop_front();
        }
        fn();
    }
}

int QtEventLoop::StartTimer(int intervalMs, std::function<void()> fn) {
    if (!OnOwnThread()) {
        int id = 0;
        RunOnOwnThread([&] { id = StartTimer(intervalMs, std::move(fn)); });
        return id;
    }
    int id = nextTimer_++;
    auto* timer = new QTimer(this);
    timer->setInterval(intervalMs < 1 ? 1 : intervalMs);
    connect(timer, &QTimer::timeout, this, [this, id] { Tick(id); });
    timers_[id] = timer;
    tickFns_[id] = std::move(fn);
    timer->start();
    return id;
}

void QtEventLoop::StopTimer(int id) {
    if (!OnOwnThread()) {
        RunOnOwnThread([this, id] { StopTimer(id); });
        return;
    }
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second->stop();
    // The timer may be the one whose tick is running right now.
    it->second->deleteLater();
    timers_.erase(it);
    tickFns_.erase(id);
}

void QtEventLoop::Tick(int id) {
    if (Held()) {
        if (std::find(ticksWhileHeld_.begin(), ticksWhileHeld_.end(), id) == ticksWhileHeld_.end())
            ticksWhileHeld_.push_back(id);
        return;
    }
    auto it = tickFns_.find(id);
    if (it == tickFns_.end()) return;
    std::function<void()> fn = it->second;  // the tick may stop its own timer
    Guarded(fn);
}

void QtEventLoop::Hold() { ++holds_; }

void QtEventLoop::Release() {
    if (holds_ == 0 || --holds_ > 0) return;
    // What waited runs on the next turn of the loop, after the code that released it: the
    // window first takes in the call's results (new rows), then the messages about them.
    std::lock_guard lock(mu_);
    if (!wakePending_) {
        wakePending_ = true;
        wake_->Signal();
    }
}
