#include "QtEventLoop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <stdexcept>

#include "ErrorDisplay.h"

namespace {
std::atomic<QtEventLoop*> g_installed{nullptr};
}

QtEventLoop::QtEventLoop(QObject* parent) : QObject(parent) {
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) throw std::runtime_error("eventfd failed");
    notifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Drain(); });
}

QtEventLoop::~QtEventLoop() {
    if (installed_) {
        velqor::EventLoop::SetDefault(nullptr);
        g_installed.store(nullptr);
    }
    for (auto& [id, timer] : timers_) delete timer;
    delete notifier_;
    ::close(wakeFd_);
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
    if (wake) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
}

void QtEventLoop::Drain() {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t r = ::read(wakeFd_, &count, sizeof count);
    size_t n = 0;
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
    }
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
