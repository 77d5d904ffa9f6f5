// The toolkit's event loop on top of Qt's: posted functions run on the GUI thread in posting
// order; numbered timers are QTimers.
//
// Posted work is handed over through a queue under a std::mutex and the GUI thread is woken
// through LoopWakeup, so no Qt object crosses threads and the hand-over is visible to the thread
// sanitizer.
#pragma once

#include <QObject>
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "LoopWakeup.h"
#include "contract/EventLoop.h"

class QTimer;

class QtEventLoop : public QObject, public velqor::EventLoop {
    Q_OBJECT
  public:
    // Create on the GUI thread; the loop belongs to the thread that creates it.
    explicit QtEventLoop(QObject* parent = nullptr);
    ~QtEventLoop() override;

    // Thread-safe. An exception escaping fn goes to the application's error display.
    void Post(std::function<void()> fn) override;
    // Any thread: from another thread the call is carried out on the GUI thread and waited
    // for (the GUI thread must be running an event loop, as it does during a busy call).
    int StartTimer(int intervalMs, std::function<void()> fn) override;
    void StopTimer(int id) override;

    // While held (GUI thread only), posted work waits in the queue and timer ticks are noted;
    // on the loop's next turn after the last Release, each noted timer ticks once, then the
    // queue runs in order. Used while a server call runs on a worker thread, so that nothing
    // re-enters the component under it. Holds nest.
    // Thread-safe: fn runs on the GUI thread at the loop's next turn, also while held (for
    // what the holder itself waits for).
    void PostUrgent(std::function<void()> fn);

    void Hold();
    void Release();
    bool Held() const { return holds_.load() > 0; }  // any thread

    size_t TimerCount() const { return timers_.size(); }

    // Makes this loop the toolkit's default for as long as it lives.
    void InstallAsDefault();
    // The loop installed as the default, or nullptr.
    static QtEventLoop* Installed();

  private:
    // Runs what was queued when it started (later posts wake it again).
    void Drain();

    std::mutex mu_;
    std::deque<std::function<void()>> queue_;
    std::deque<std::function<void()>> control_;  // urgent work, run also while held
    bool wakePending_ = false;
    std::unique_ptr<LoopWakeup> wake_;
    void Tick(int id);
    bool OnOwnThread() const;
    // Runs fn on the GUI thread and waits for it (another thread only); also while held.
    void RunOnOwnThread(const std::function<void()>& fn);
    void RunControl();

    std::map<int, QTimer*> timers_;
    std::map<int, std::function<void()>> tickFns_;
    std::vector<int> ticksWhileHeld_;
    std::atomic<int> holds_{0};
    int nextTimer_ = 1;
    bool installed_ = false;
};
