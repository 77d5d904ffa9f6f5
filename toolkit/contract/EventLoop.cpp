#include "EventLoop.h"

#include <atomic>
#include <cstdio>
#include <thread>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "VelqorError.h"

namespace velqor {

// ---- default loop -------------------------------------------------------------------------

namespace {
std::atomic<EventLoop*> g_default{nullptr};

PlainEventLoop& BuiltInLoop() {
    static PlainEventLoop loop;
    return loop;
}

std::mutex g_hooksMu;
std::function<void(const std::exception&)> g_showException;
std::function<void(const std::string&)> g_showMessage;
}  // namespace

EventLoop& EventLoop::Default() {
    EventLoop* l = g_default.load();
    return l ? *l : BuiltInLoop();
}

void EventLoop::SetDefault(EventLoop* loop) { g_default.store(loop); }

// ---- plain loop ---------------------------------------------------------------------------

#ifdef _WIN32
PlainEventLoop::PlainEventLoop() : wakeEvent_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
PlainEventLoop::~PlainEventLoop() {
    if (wakeEvent_) CloseHandle(wakeEvent_);
}

void PlainEventLoop::DispatchPlatformMessages() {
    MSG msg;
    // A WM_QUIT belongs to whoever runs the thread's own message loop: it is put back and the
    // dispatching stops.
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(int(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void PlainEventLoop::WaitForWork(std::unique_lock<std::mutex>& lock, Clock::time_point wakeUp,
                                 const bool& stop) {
    if (!queue_.empty() || stop) return;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(wakeUp - Clock::now());
    if (left.count() <= 0) return;
    const DWORD ms = left.count() > 0x7FFFFFFF ? 0x7FFFFFFF : DWORD(left.count());
    lock.unlock();
    HANDLE wake = wakeEvent_;
    // MWMO_INPUTAVAILABLE: messages already seen but not yet taken also end the wait.
    MsgWaitForMultipleObjectsEx(wake ? 1 : 0, wake ? &wake : nullptr, ms, QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
    DispatchPlatformMessages();
    lock.lock();
}
#else
PlainEventLoop::PlainEventLoop() = default;
PlainEventLoop::~PlainEventLoop() = default;

void PlainEventLoop::DispatchPlatformMessages() {}

void PlainEventLoop::WaitForWork(std::unique_lock<std::mutex>& lock, Clock::time_point wakeUp,
                                 const bool& stop) {
    cv_.wait_until(lock, wakeUp, [&] { return !queue_.empty() || stop; });
}
#endif

void PlainEventLoop::Post(std::function<void()> fn) {
    {
        std::lock_guard lock(mu_);
        queue_.push_back(std::move(fn));
    }
    cv_.notify_all();
#ifdef _WIN32
    if (wakeEvent_) SetEvent(wakeEvent_);
#endif
}

int PlainEventLoop::StartTimer(int intervalMs, std::function<void()> fn) {
    std::lock_guard lock(mu_);
    int id = nextTimer_++;
    auto iv = std::chrono::milliseconds(intervalMs < 1 ? 1 : intervalMs);
    timers_[id] = Timer{iv, NowTime() + iv, std::move(fn)};
    return id;
}

void PlainEventLoop::StopTimer(int id) {
    std::lock_guard lock(mu_);
    timers_.erase(id);
}

bool PlainEventLoop::RunOne(std::unique_lock<std::mutex>& lock) {
    if (queue_.empty()) return false;
    auto fn = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    fn();
    lock.lock();
    return true;
}

int PlainEventLoop::RunDueTimers() {
    int ran = 0;
    std::unique_lock lock(mu_);
    auto now = NowTime();
    std::vector<int> due;
    for (auto& [id, t] : timers_)
        if (t.due <= now) due.push_back(id);
    for (int id : due) {
        auto it = timers_.find(id);
        if (it == timers_.end()) continue;  // stopped by an earlier timer
        it->second.due = now + it->second.interval;
        auto fn = it->second.fn;
        lock.unlock();
        fn();
        ++ran;
        lock.lock();
    }
    return ran;
}

int PlainEventLoop::ProcessPending() {
    int ran = 0;
    {
        std::unique_lock lock(mu_);
        size_t n = queue_.size();  // only what is queued now, so a task that posts cannot starve us
        while (n-- > 0 && RunOne(lock)) ++ran;
    }
    ran += RunDueTimers();
    return ran;
}

bool PlainEventLoop::RunUntil(const std::function<bool()>& pred,
                              std::chrono::milliseconds timeout) {
    auto end = Clock::now() + timeout;
    const bool noStop = false;
    for (;;) {
        ProcessPending();
        DispatchPlatformMessages();
        if (pred()) return true;
        auto now = Clock::now();
        if (now >= end) return false;
        std::unique_lock lock(mu_);
        auto wake = end;
        for (auto& [id, t] : timers_) wake = std::min(wake, t.due);
        if (now_) wake = std::min(wake, now + std::chrono::milliseconds(5));
        WaitForWork(lock, wake, noStop);
    }
}

void PlainEventLoop::RunFor(std::chrono::milliseconds duration) {
    RunUntil([] { return false; }, duration);
}

void PlainEventLoop::Run() {
    // A Quit that came before Run still ends it; the request is consumed on the way out.
    for (;;) {
        ProcessPending();
        DispatchPlatformMessages();
        std::unique_lock lock(mu_);
        if (!quit_) {
            auto wake = Clock::now() + std::chrono::milliseconds(100);
            for (auto& [id, t] : timers_) wake = std::min(wake, t.due);
            WaitForWork(lock, wake, quit_);
        }
        if (quit_) {
            quit_ = false;
            return;
        }
    }
}

void PlainEventLoop::Quit() {
    {
        std::lock_guard lock(mu_);
        quit_ = true;
    }
    cv_.notify_all();
#ifdef _WIN32
    if (wakeEvent_) SetEvent(wakeEvent_);
#endif
}

size_t PlainEventLoop::PendingCount() const {
    std::lock_guard lock(mu_);
    return queue_.size();
}

size_t PlainEventLoop::TimerCount() const {
    std::lock_guard lock(mu_);
    return timers_.size();
}

// ---- message window -----------------------------------------------------------------------

std::shared_ptr<MessageWindow> MessageWindow::Create(EventLoop& loop, Handler handler) {
    return std::shared_ptr<MessageWindow>(new MessageWindow(loop, std::move(handler)));
}

MessageWindow::~MessageWindow() {
    for (auto& [number, id] : timers_) loop_.StopTimer(id);
}

bool MessageWindow::Post(uint32_t message, uintptr_t wParam,
                         std::unique_ptr<MessagePayload> payload) {
    {
        std::lock_guard lock(mu_);
        if (destroyed_) return false;
    }
    std::weak_ptr<MessageWindow> weak = weak_from_this();
    // std::function needs a copyable callable: the payload rides in a shared box and is moved
    // out exactly once, on delivery.
    auto box = std::make_shared<std::unique_ptr<MessagePayload>>(std::move(payload));
    loop_.Post([weak, message, wParam, box] {
        auto self = weak.lock();
        if (!self || self->Destroyed()) return;
        self->Dispatch(message, wParam, std::move(*box));
    });
    return true;
}

void MessageWindow::Dispatch(uint32_t message, uintptr_t wParam,
                             std::unique_ptr<MessagePayload> payload) {
    try {
        if (handler_) handler_(message, wParam, std::move(payload));
    } catch (const EAbort&) {
        // the silent abort
    } catch (const std::exception& e) {
        ApplicationHooks::ShowException(e);
    } catch (...) {
        ApplicationHooks::ShowException(Exception("unknown exception in message handler"));
    }
}

void MessageWindow::SetTimer(int number, int intervalMs) {
    KillTimer(number);
    std::weak_ptr<MessageWindow> weak = weak_from_this();
    timers_[number] = loop_.StartTimer(intervalMs, [weak, number] {
        if (auto self = weak.lock(); self && !self->Destroyed())
            self->Dispatch(WM_VELQOR_TIMER, uintptr_t(number), nullptr);
    });
}

void MessageWindow::KillTimer(int number) {
    auto it = timers_.find(number);
    if (it == timers_.end()) return;
    loop_.StopTimer(it->second);
    timers_.erase(it);
}

void MessageWindow::Destroy() {
    {
        std::lock_guard lock(mu_);
        destroyed_ = true;
    }
    for (auto& [number, id] : timers_) loop_.StopTimer(id);
    timers_.clear();
}

bool MessageWindow::Destroyed() const {
    std::lock_guard lock(mu_);
    return destroyed_;
}

// ---- application hooks ---------------------------------------------------------------------

void ApplicationHooks::ShowException(const std::exception& e) {
    if (dynamic_cast<const EAbort*>(&e)) return;
    std::function<void(const std::exception&)> fn;
    {
        std::lock_guard lock(g_hooksMu);
        fn = g_showException;
    }
    if (fn) {
        fn(e);
    } else {
        std::fprintf(stderr, "%s\n", e.what());
    }
}

void ApplicationHooks::ShowMessage(const std::string& text) {
    std::function<void(const std::string&)> fn;
    {
        std::lock_guard lock(g_hooksMu);
        fn = g_showMessage;
    }
    if (fn) {
        fn(text);
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
}

void ApplicationHooks::SetExceptionDisplay(std::function<void(const std::exception&)> fn) {
    std::lock_guard lock(g_hooksMu);
    g_showException = std::move(fn);
}

void ApplicationHooks::SetMessageDisplay(std::function<void(const std::string&)> fn) {
    std::lock_guard lock(g_hooksMu);
    g_showMessage = std::move(fn);
}

}  // namespace velqor
