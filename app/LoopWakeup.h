// Wakes the GUI thread from any thread, without a Qt object crossing threads: an eventfd watched
// by a QSocketNotifier here, an event object watched by a QWinEventNotifier on Windows. One
// file each in platform/.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

class LoopWakeup {
  public:
    // onWake runs on the thread of owner (which parents the notifier) when signalled.
    LoopWakeup(QObject* owner, std::function<void()> onWake);
    ~LoopWakeup();
    LoopWakeup(const LoopWakeup&) = delete;
    LoopWakeup& operator=(const LoopWakeup&) = delete;

    void Signal();  // any thread
    void Clear();   // owner's thread, as the work it announced is taken

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
