// The toolkit's event loop on top of Qt's: posted functions run on the GUI thread in posting
// order (queued invocations on one context object), numbered timers are QTimers.
#pragma once

#include <QObject>
#include <functional>
#include <map>

#include "model/contract/EventLoop.h"

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

private:
    std::map<int, QTimer*> timers_;
    int nextTimer_ = 1;
    bool installed_ = false;
};
