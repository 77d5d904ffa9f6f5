#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cstdint>
#include <stdexcept>

#include "LoopWakeup.h"

struct LoopWakeup::Impl {
    int fd = -1;
    QSocketNotifier* notifier = nullptr;
};

LoopWakeup::LoopWakeup(QObject* owner, std::function<void()> onWake) : impl_(new Impl) {
    impl_->fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (impl_->fd < 0) throw std::runtime_error("eventfd failed");
    impl_->notifier = new QSocketNotifier(impl_->fd, QSocketNotifier::Read, owner);
    QObject::connect(impl_->notifier, &QSocketNotifier::activated, owner, std::move(onWake));
}

LoopWakeup::~LoopWakeup() {
    delete impl_->notifier;
    ::close(impl_->fd);
}

void LoopWakeup::Signal() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(impl_->fd, &one, sizeof one);
}

void LoopWakeup::Clear() {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t r = ::read(impl_->fd, &count, sizeof count);
}
