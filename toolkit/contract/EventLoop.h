// The owning thread's event loop, and the message window that stands in for a hidden window:
// transports post one of the four messages with two arguments and an owned payload from any
// thread; the window's handler runs on the owning thread in posting order. Numbered timers
// drive the keep-alive.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace velqor {

// Message numbers posted by transports.
inline constexpr uint32_t WM_VELQOR_SHUTDOWN = 0x401;  // wParam 0, payload ShutdownPayload or none
inline constexpr uint32_t WM_VELQOR_DATACHANGE =
    0x1602;  // wParam group client handle, payload ItemUpdatesPayload
inline constexpr uint32_t WM_VELQOR_WRITEERROR = 0x403;     // wParam 0, payload ItemUpdatesPayload
inline constexpr uint32_t WM_VELQOR_WRITECOMPLETE = 0x404;  // wParam 0, payload ItemUpdatesPayload
inline constexpr uint32_t WM_VELQOR_TIMER =
    0x113;  // internal: a numbered timer fired (wParam = id)

// Base of every payload a message carries; the receiver owns it.
struct MessagePayload {
    virtual ~MessagePayload() = default;
};

// The owning thread's loop. Post is thread-safe; timers belong to the owning thread.
class EventLoop {
  public:
    virtual ~EventLoop() = default;
    // Queues fn to run on the owning thread after everything posted before it.
    virtual void Post(std::function<void()> fn) = 0;
    // Starts a repeating timer; returns its id (> 0). Owning thread only.
    virtual int StartTimer(int intervalMs, std::function<void()> fn) = 0;
    virtual void StopTimer(int id) = 0;

    // The loop that new components bind to when none is given (process-wide).
    static EventLoop& Default();
    static void SetDefault(EventLoop* loop);  // nullptr restores the built-in plain loop
};

// A plain loop over a queue, a condition variable and the steady clock, for command-line
// programs and tests. The thread that calls the Run/Process functions is the owning thread.
// On Windows that thread may be a single-threaded COM apartment, where calls from servers
// arrive as window messages: there the loop waits for the thread's messages as well as for its
// own queue and dispatches them on every turn, so callbacks land while it waits or is busy.
class PlainEventLoop : public EventLoop {
  public:
    using Clock = std::chrono::steady_clock;

    PlainEventLoop();
    ~PlainEventLoop() override;
    PlainEventLoop(const PlainEventLoop&) = delete;
    PlainEventLoop& operator=(const PlainEventLoop&) = delete;

    void Post(std::function<void()> fn) override;
    int StartTimer(int intervalMs, std::function<void()> fn) override;
    void StopTimer(int id) override;

    // Runs everything queued now and every timer that is due; returns the number of tasks run.
    int ProcessPending();
    // Runs tasks and timers until pred() holds or the timeout passes; returns pred().
    bool RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);
    // Runs tasks and timers for the given time.
    void RunFor(std::chrono::milliseconds duration);
    // Runs until Quit is called (from any thread).
    void Run();
    void Quit();

    size_t PendingCount() const;
    size_t TimerCount() const;

    // Test clock: when set, timers read this instead of the steady clock.
    void SetClockForTest(std::function<Clock::time_point()> now) { now_ = std::move(now); }

  private:
    Clock::time_point NowTime() const { return now_ ? now_() : Clock::now(); }
    bool RunOne(std::unique_lock<std::mutex>& lock);
    int RunDueTimers();
    // Sleeps until work is queued, wakeUp passes or (Windows) a window message arrives; the
    // lock is held on entry and on return. stop: a further reason to end the wait at once.
    void WaitForWork(std::unique_lock<std::mutex>& lock, Clock::time_point wakeUp,
                     const bool& stop);
    // Dispatches the thread's pending window messages (Windows); nothing elsewhere.
    static void DispatchPlatformMessages();

    struct Timer {
        std::chrono::milliseconds interval;
        Clock::time_point due;
        std::function<void()> fn;
    };
    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
    std::map<int, Timer> timers_;
    int nextTimer_ = 1;
    bool quit_ = false;
    std::function<Clock::time_point()> now_;
    void* wakeEvent_ = nullptr;  // Windows: set by Post and Quit, waited for with the messages
};

// The hidden window of a component. Create on the owning thread; Post from any thread.
// After Destroy (or the last owner dropping it) posts are refused and queued messages dropped.
class MessageWindow : public std::enable_shared_from_this<MessageWindow> {
  public:
    using Handler = std::function<void(uint32_t message, uintptr_t wParam,
                                       std::unique_ptr<MessagePayload> payload)>;

    static std::shared_ptr<MessageWindow> Create(EventLoop& loop, Handler handler);
    ~MessageWindow();

    // Queues a message; false when the window is destroyed. Thread-safe.
    bool Post(uint32_t message, uintptr_t wParam,
              std::unique_ptr<MessagePayload> payload = nullptr);
    // Numbered timers: SetTimer replaces a timer of the same number. Owning thread only.
    void SetTimer(int number, int intervalMs);
    void KillTimer(int number);
    bool HasTimer(int number) const { return timers_.count(number) != 0; }
    // Stops delivery; pending messages are dropped. Owning thread only.
    void Destroy();
    bool Destroyed() const;
    EventLoop& Loop() const { return loop_; }

    // The window procedure: runs the handler, handing any exception to the application's
    // error display so that it never leaves message handling.
    void Dispatch(uint32_t message, uintptr_t wParam, std::unique_ptr<MessagePayload> payload);

  private:
    MessageWindow(EventLoop& loop, Handler handler) : loop_(loop), handler_(std::move(handler)) {}
    EventLoop& loop_;
    Handler handler_;
    mutable std::mutex mu_;
    bool destroyed_ = false;
    std::map<int, int> timers_;  // number -> loop timer id
};

using NotifyWindow = std::shared_ptr<MessageWindow>;

// What the application installs to show errors and messages to its user. The defaults print
// to stderr. The silent abort (EAbort) is never shown.
struct ApplicationHooks {
    // Shows an exception that reached a message handler, a command or a dialog.
    static void ShowException(const std::exception& e);
    // Shows a text to the user (the non-raising item-error report).
    static void ShowMessage(const std::string& text);

    static void SetExceptionDisplay(std::function<void(const std::exception&)> fn);
    static void SetMessageDisplay(std::function<void(const std::string&)> fn);
};

}  // namespace velqor
