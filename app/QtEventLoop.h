// The toolkit's event loop on top of Qt's: posted functions run on the GUI thread in posting
// order; numbered timers are QTimers.
//
// Posted work is handed over through a queue under a std::mutex and the GUI thread is woken
// through an eventfd watched by a QSocketNotifier, so no Qt object crosses threads and the
// hand-over is visible to the thread sanitizer.
#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "contract/EventLoop.h"

class QSocketNotifier;
class QTimer;

class QtEventLoop : public QObject, public velqor::EventLoop {
    Q_OBJECT
  public:
    // Create on the GUI thread; the loop belongs to the thread that creates it.
    explicit QtEventLoop(QObject* parent = nullptr);
    ~QtEventLoop() override;

    // Thread-safe. An exception escaping fn goes to the application's error display.
    void Post(std::function<void()> fn) override;
    // Owning thread only.
    int StartTimer(int intervalMs, std::function<void()> fn) override;
    void StopTimer(int id) override;

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
    bool wakePending_ = false;
    int wakeFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::map<int, QTimer*> timers_;
    int nextTimer_ = 1;
    bool installed_ = false;
};
