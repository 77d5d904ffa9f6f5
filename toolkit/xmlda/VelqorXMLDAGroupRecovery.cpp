// The XML-DA group's recovery of a lost subscription: the news for the application and the
// attempts, each one Subscribe exchange, paced by one-shot timers of the owning thread's loop.
#include <algorithm>

#include "contract/VelqorError.h"
#include "xmlda/VelqorXMLDAGroup.h"

namespace velqor {

namespace {
// Adds an update turning each item bad (quality, error, the reason as its detail); with
// activeOnly, inactive items are left alone.
void MarkBad(ItemUpdatesPayload& news, const std::vector<TVelqorItemData*>& items, bool activeOnly,
             int32_t quality, int32_t error, const std::string& reason) {
    for (TVelqorItemData* item : items) {
        if (activeOnly && !item->FIsActive) continue;
        ItemUpdate u;
        u.ClientHandle = item->ClientHandle();
        u.Fields = ItemUpdate::kQuality | ItemUpdate::kError;
        u.Quality = quality;
        u.Error = error;
        u.ErrorDetail = reason;
        news.Items.push_back(std::move(u));
    }
}
}  // namespace

bool TVelqorXMLGroup::Recovering() {
    SyncWithPoll();
    return recovering_;
}

void TVelqorXMLGroup::PostNews(std::unique_ptr<ItemUpdatesPayload> news) {
    news->Cancelled = newsCancelled_;
    if (const NotifyWindow& window = Connection().NotifyWindow())
        window->Post(WM_VELQOR_DATACHANGE, uintptr_t(clientHandle_), std::move(news));
}

void TVelqorXMLGroup::BeginRecovery(const std::string& reason, int32_t error, bool freshDelay) {
    if (!recovering_) {
        recovering_ = true;
        lostSince_ = std::chrono::steady_clock::now();
        failedAttempts_ = 0;
        newsCancelled_ = std::make_shared<std::atomic<bool>>(false);
    }
    retryDelay_ = freshDelay || retryDelay_ <= 0
                      ? std::max(policy_.FirstDelayMs, 1)
                      : std::min(retryDelay_ * 2, std::max(policy_.MaxDelayMs, 1));
    // The subscribed items have no live value until the subscription is back.
    auto news = std::make_unique<ItemUpdatesPayload>();
    news->SubscriptionInterrupted = true;
    news->SubscriptionReason = reason;
    MarkBad(*news, LiveItems(), true, kQualityBadNotConnected, error, reason);
    PostNews(std::move(news));
    ScheduleAttempt();
}

void TVelqorXMLGroup::ScheduleAttempt() {
    const NotifyWindow& window = Connection().NotifyWindow();
    if (!window) {
        GiveUp("no event loop to subscribe again from");
        return;
    }
    retryLoop_ = &window->Loop();
    retryTimer_ = retryLoop_->StartTimer(retryDelay_, [self = self_] {
        if (*self) (*self)->Attempt();
    });
}

void TVelqorXMLGroup::Attempt() {
    if (retryTimer_ != 0) retryLoop_->StopTimer(retryTimer_);  // one attempt per timer
    retryTimer_ = 0;
    if (!recovering_) return;
    if (serverHandle_ == -1 || !active_ || !subscribeWanted_) {
        EndRecovery(true);
        return;
    }
    std::string failure;
    try {
        Subscribe(true);
    } catch (const EVelqorSOAPFault& e) {
        failure = "the server answered with a fault: " + e.FaultCode() + ": " +
                  (e.FaultString().empty() ? std::string(e.what()) : e.FaultString());
    } catch (const EVelqorSOAPConnect& e) {
        failure = std::string("cannot reach the server: ") + e.what();
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (failure.empty()) {
        EndRecovery(false);
        auto news = std::make_unique<ItemUpdatesPayload>();
        news->SubscriptionRecovered = true;
        PostNews(std::move(news));
        return;
    }
    ++failedAttempts_;
    const auto lostFor = std::chrono::steady_clock::now() - lostSince_;
    if ((policy_.MaxAttempts > 0 && failedAttempts_ >= policy_.MaxAttempts) ||
        (policy_.GiveUpAfterMs > 0 &&
         lostFor >= std::chrono::milliseconds(policy_.GiveUpAfterMs))) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(lostFor).count();
        GiveUp("subscribing again failed " + std::to_string(failedAttempts_) + " times in " +
               std::to_string(seconds) + " s; the last time: " + failure);
        return;
    }
    retryDelay_ = std::min(retryDelay_ * 2, std::max(policy_.MaxDelayMs, 1));
    ScheduleAttempt();
}

void TVelqorXMLGroup::EndRecovery(bool cancelled) {
    if (retryTimer_ != 0) retryLoop_->StopTimer(retryTimer_);
    retryTimer_ = 0;
    if (recovering_ && cancelled && newsCancelled_) newsCancelled_->store(true);
    recovering_ = false;
}

void TVelqorXMLGroup::GiveUp(const std::string& reason) {
    EndRecovery(false);
    active_ = false;
    serverSubHandle_.clear();
    auto news = std::make_unique<ItemUpdatesPayload>();
    news->SubscriptionInvalid = true;
    news->SubscriptionReason = reason;
    MarkBad(*news, LiveItems(), false, kQualityBadOutOfService, kXmlDaInvalidHandle, reason);
    PostNews(std::move(news));
}

}  // namespace velqor
