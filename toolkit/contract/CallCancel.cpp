#include "contract/CallCancel.h"

#include <map>
#include <mutex>

namespace velqor {

namespace {

thread_local std::shared_ptr<void> t_current;  // the innermost scope's state on this thread

struct Wakers {
    std::mutex mu;
    std::map<int, std::function<void()>> all;
    int next = 1;
};

Wakers& TheWakers() {
    static Wakers w;  // never destroyed before a waker that outlives main
    return w;
}

}  // namespace

CallCancelScope::CallCancelScope() : state_(std::make_shared<State>()) {
    outer_ = std::static_pointer_cast<State>(t_current);
    t_current = state_;
}

CallCancelScope::~CallCancelScope() { t_current = outer_; }

void CallCancelScope::Cancel() {
    if (state_->cancelled.exchange(true)) return;
    // Under the lock, so that a waker is never called after RemoveWaker returned.
    std::lock_guard lock(TheWakers().mu);
    for (auto& [id, fn] : TheWakers().all) fn();
}

bool CallCancelScope::CurrentCancelled() {
    auto* s = static_cast<State*>(t_current.get());
    return s && s->cancelled.load();
}

int CallCancelScope::AddWaker(std::function<void()> wake) {
    std::lock_guard lock(TheWakers().mu);
    int id = TheWakers().next++;
    TheWakers().all.emplace(id, std::move(wake));
    return id;
}

void CallCancelScope::RemoveWaker(int id) {
    std::lock_guard lock(TheWakers().mu);
    TheWakers().all.erase(id);
}

}  // namespace velqor
