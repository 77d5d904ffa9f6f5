#include <windows.h>

#include <QWinEventNotifier>
#include <stdexcept>

#include "LoopWakeup.h"

struct LoopWakeup::Impl {
    HANDLE event = nullptr;
    QWinEventNotifier* notifier = nullptr;
};

// An auto-reset event: the notifier's wait takes the signal, so Clear has nothing to do.
LoopWakeup::LoopWakeup(QObject* owner, std::function<void()> onWake) : impl_(new Impl) {
    impl_->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!impl_->event) throw std::runtime_error("CreateEvent failed");
    impl_->notifier = new QWinEventNotifier(impl_->event, owner);
    QObject::connect(impl_->notifier, &QWinEventNotifier::activated, owner,
                     [onWake = std::move(onWake)] { onWake(); });
}

LoopWakeup::~LoopWakeup() {
    delete impl_->notifier;
    CloseHandle(impl_->event);
}

void LoopWakeup::Signal() { SetEvent(impl_->event); }

void LoopWakeup::Clear() {}
