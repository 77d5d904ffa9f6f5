#include "xmlda/VelqorXMLDAPoll.h"

#include <algorithm>
#include <chrono>

#include "contract/VelqorDateTime.h"
#include "contract/VelqorError.h"
#include "http/VelqorCurlPost.h"
#include "xmlda/VelqorSOAPCall.h"
#include "xmlda/VelqorXMLDAConvert.h"
#include "xmlda/VelqorXMLDAStream.h"

namespace velqor {

std::string ClientHandleText(uint32_t handle) { return std::to_string(handle); }

bool ParseClientHandle(std::string_view text, uint32_t& handle) {
    uint64_t n = 0;
    if (text.empty() || text.front() == '+' || text.front() == '-' || !ParseUInt64(text, n) ||
        n == 0 || n > UINT32_MAX)
        return false;
    handle = uint32_t(n);
    return true;
}

ItemUpdate UpdateFromItemValue(uint32_t handle, const xmlda::ItemValue& value) {
    ItemUpdate u;
    u.ClientHandle = handle;
    u.Fields = ItemUpdate::kValue | ItemUpdate::kLearnCanonical | ItemUpdate::kQuality |
               ItemUpdate::kTimeStamp;
    u.Value = value.Value;
    u.Quality = QualityOf(value.Quality.get());
    u.TimeStamp = value.Timestamp;
    const bool unreadable = !value.ValueError.empty();
    if (unreadable || (value.Value.IsEmpty() && IsGoodQuality(u.Quality))) {
        u.Fields |= ItemUpdate::kError;
        u.Value = Variant();
        u.Quality = kQualityBad;
        u.Error = unreadable ? kXmlDaUnreadableValue : OPC_E_FAIL;
        u.ErrorDetail = unreadable ? value.ValueError : std::string(kNoValueFromServer);
    }
    return u;
}

bool IsSubscriptionGoneFault(std::string_view faultCode) {
    const size_t colon = faultCode.rfind(':');
    const std::string_view name =
        colon == std::string_view::npos ? faultCode : faultCode.substr(colon + 1);
    return name == "E_NOSUBSCRIPTION" || name == "E_INVALIDHANDLE";
}

namespace {

// Whether a failed post means the service went away (no answer, or a gateway that cannot reach
// it), rather than a service that answered with an error page.
bool ServiceWentAway(const THTTPPost& poster, const std::string& message) {
    if (message.rfind("invalid content type", 0) == 0) return false;
    const int status = poster.LastStatus();
    const bool statusError = status >= 300 && message == poster.LastStatusText();
    return !statusError || status == 502 || status == 503 || status == 504;
}

}  // namespace

std::unique_ptr<xmlda::SubscriptionPolledRefresh> BuildPolledRefresh(const std::string& subHandle,
                                                                     int32_t holdTime,
                                                                     int32_t waitTime,
                                                                     double serverNow) {
    auto req = std::make_unique<xmlda::SubscriptionPolledRefresh>();
    req->Options = std::make_unique<xmlda::RequestOptions>();
    req->Options->ReturnItemTime = true;
    req->ServerSubHandles.push_back(subHandle);
    req->HoldTime = 0;
    if (holdTime != 0 || waitTime != 0) req->HoldTime = serverNow + holdTime / 1000.0 / 86400.0;
    req->WaitTime = waitTime;
    req->ReturnAllItems = false;
    return req;
}

int64_t SilenceLimitMs(int32_t updateRate, int32_t holdTime, int32_t waitTime) {
    constexpr int64_t kFloorMs = 10000;
    return int64_t(std::max(holdTime, 0)) + std::max(waitTime, 0) +
           std::max<int64_t>(3 * int64_t(std::max(updateRate, kMinUpdateRateMs)), kFloorMs);
}

// ---- TVelqorPollRefresh --------------------------------------------------------------------

TVelqorPollRefresh::TVelqorPollRefresh(TPollSnapshot snapshot) : snap_(std::move(snapshot)) {
    // Looked up by binary search: a sorted array takes a tenth of a hash set's memory per item.
    std::sort(snap_.Subscribed.begin(), snap_.Subscribed.end());
    snap_.Subscribed.erase(std::unique(snap_.Subscribed.begin(), snap_.Subscribed.end()),
                           snap_.Subscribed.end());
    // The glue would post the shutdown message itself on a transport failure; this thread
    // posts it only while it has not been told to stop.
    snap_.Settings.NotifyWindow = nullptr;
    snap_.Settings.Poster = CreatePoster(snap_.Settings);
    // A server-paced poll is held open for the hold and wait times: the receive time-out
    // must outlast them.
    const int64_t paced = int64_t(std::max(snap_.HoldTime, 0)) + std::max(snap_.WaitTime, 0);
    if (paced > 0) {
        snap_.Settings.Poster->SetReceiveTimeout(int(std::min<int64_t>(
            std::max<int64_t>(TVelqorCurlPost::kDefaultReceiveTimeoutMs, paced + 60000),
            INT32_MAX)));
        // A whole-exchange limit the user set must outlast a poll held for these times too.
        if (snap_.Settings.TotalTimeout > 0)
            snap_.Settings.Poster->SetTotalTimeout(int(std::min<int64_t>(
                std::max<int64_t>(snap_.Settings.TotalTimeout, paced + 60000), INT32_MAX)));
    }
    const int64_t silence = snap_.SilenceMs > 0
                                ? snap_.SilenceMs
                                : SilenceLimitMs(snap_.UpdateRate, snap_.HoldTime, snap_.WaitTime);
    snap_.Settings.Poster->SetSlowNotice(
        int(std::min<int64_t>(silence, INT32_MAX)), [this, silence] {
            silent_ = true;
            PostSilence(true, "the server has not answered for " +
                                  std::to_string((silence + 999) / 1000) + " s");
        });
    thread_ = std::thread([this] { Run(); });
}

void TVelqorPollRefresh::PostSilence(bool silent, std::string reason) {
    auto news = NewPayload();
    (silent ? news->ServerSilent : news->ServerAnswers) = true;
    news->SubscriptionReason = std::move(reason);
    Deliver(std::move(news));
}

TVelqorPollRefresh::~TVelqorPollRefresh() {
    Discard();
    Join();
}

void TVelqorPollRefresh::StopPolling() {
    {
        std::lock_guard lock(mu_);
        if (ended_ || terminate_) return;
        terminate_ = true;
        cancelled_->store(true);
    }
    wake_.notify_all();
    snap_.Settings.Poster->Abort();  // the poster lives as long as this object
}

void TVelqorPollRefresh::Discard() {
    {
        std::lock_guard lock(mu_);
        cancelled_->store(true);
        if (terminate_) return;
        terminate_ = true;
    }
    wake_.notify_all();
    snap_.Settings.Poster->Abort();
}

void TVelqorPollRefresh::Join() {
    if (thread_.joinable()) thread_.join();
}

TVelqorPollRefresh::TOutcome TVelqorPollRefresh::Outcome() const {
    std::lock_guard lock(mu_);
    return outcome_;
}

bool TVelqorPollRefresh::Ended() const {
    std::lock_guard lock(mu_);
    return ended_;
}

std::string TVelqorPollRefresh::Reason() const {
    std::lock_guard lock(mu_);
    return reason_;
}

int32_t TVelqorPollRefresh::LossError() const {
    std::lock_guard lock(mu_);
    return lossError_;
}

double TVelqorPollRefresh::ServerNow() const { return Now() + snap_.ClockOffset; }

void TVelqorPollRefresh::Run() {
    // Client pacing: a poll starts one update rate after the start of the one before (the
    // Subscribe reply has delivered the first values), so the exchange's own time does not
    // stretch the period; a poll that took longer than the rate is followed at once.
    // A rate below the shortest (0, negative, or a server's revision) would poll back to back.
    const bool clientPaced = snap_.WaitTime <= 0 && snap_.HoldTime <= 0;
    const auto rate = std::chrono::milliseconds(std::max(snap_.UpdateRate, kMinUpdateRateMs));
    const auto now = [this] {
        return snap_.Clock ? snap_.Clock->Now() : std::chrono::steady_clock::now();
    };
    auto next = now() + rate;
    for (;;) {
        {
            std::unique_lock lock(mu_);
            if (clientPaced && !terminate_) {
                if (snap_.Clock) {
                    lock.unlock();
                    snap_.Clock->PassUntil(next);
                    lock.lock();
                } else {
                    wake_.wait_until(lock, next, [this] { return terminate_; });
                }
            }
            if (terminate_) break;
        }
        next = now() + rate;
        bool go = false;
        try {
            go = PollOnce();
        } catch (...) {
            // Whatever escaped the exchange ends polling as a failed exchange would.
            Finish(TOutcome::Failed, nullptr, "polling the server failed");
        }
        if (!go) break;
    }
    std::lock_guard lock(mu_);
    if (outcome_ == TOutcome::Running) outcome_ = TOutcome::Stopped;
    ended_ = true;
}

std::unique_ptr<ItemUpdatesPayload> TVelqorPollRefresh::NewPayload() const {
    auto p = std::make_unique<ItemUpdatesPayload>();
    p->Cancelled = cancelled_;
    return p;
}

bool TVelqorPollRefresh::Deliver(std::unique_ptr<ItemUpdatesPayload> payload) {
    std::lock_guard lock(mu_);
    if (terminate_) return false;
    if (snap_.Window)
        snap_.Window->Post(WM_VELQOR_DATACHANGE, snap_.GroupClientHandle, std::move(payload));
    return true;
}

void TVelqorPollRefresh::Finish(TOutcome outcome, std::unique_ptr<ItemUpdatesPayload> verdict,
                                std::string reason) {
    std::lock_guard lock(mu_);
    if (terminate_ || ended_) return;  // stopped first: nothing more is said
    terminate_ = true;
    outcome_ = outcome;
    ended_ = true;  // from here on StopPolling leaves the posted message alone
    reason_ = reason;
    if (!snap_.Window) return;
    if (verdict) {
        snap_.Window->Post(WM_VELQOR_DATACHANGE, snap_.GroupClientHandle, std::move(verdict));
    } else {
        snap_.Window->Post(WM_VELQOR_SHUTDOWN, 0,
                           std::make_unique<ShutdownPayload>(std::move(reason)));
    }
}

void TVelqorPollRefresh::Interrupt(std::string reason, int32_t error) {
    {
        std::lock_guard lock(mu_);
        if (terminate_ || ended_) return;
        terminate_ = true;
        outcome_ = TOutcome::Interrupted;
        ended_ = true;
        reason_ = std::move(reason);
        lossError_ = error;
    }
    if (snap_.OnInterrupted) snap_.OnInterrupted();
}

void TVelqorPollRefresh::Collect(const xmlda::ItemValue& value,
                                 std::vector<ItemUpdate>& updates) const {
    uint32_t h = 0;
    // Only handles this subscription sent name items of the group.
    if (!ParseClientHandle(value.ClientItemHandle, h) ||
        !std::binary_search(snap_.Subscribed.begin(), snap_.Subscribed.end(), h))
        return;
    updates.push_back(UpdateFromItemValue(h, value));
}

std::unique_ptr<xmlda::SubscriptionPolledRefreshResponse> TVelqorPollRefresh::Exchange(
    const xmlda::SubscriptionPolledRefresh& request, std::vector<ItemUpdate>& updates) {
    constexpr std::string_view operation = "SubscriptionPolledRefresh";
    PostXmlDaRequest(snap_.Settings, operation, request, response_);
    const std::string& response = response_;
    // The values of the first item list go straight from the stream into updates, at most one
    // per subscribed item.
    updates.reserve(snap_.Subscribed.size());
    return ReadItemListReply<xmlda::SubscriptionPolledRefreshResponse>(
        response, operation, snap_.Settings.Poster.get(),
        [&](size_t list, std::unique_ptr<TRemotable> v) {
            if (list == 0) Collect(static_cast<const xmlda::ItemValue&>(*v), updates);
        },
        [&] { updates.clear(); });
}

bool TVelqorPollRefresh::PollOnce() {
    auto request =
        BuildPolledRefresh(snap_.ServerSubHandle, snap_.HoldTime, snap_.WaitTime, ServerNow());
    std::unique_ptr<xmlda::SubscriptionPolledRefreshResponse> reply;
    auto payload = NewPayload();
    std::string failure;
    int32_t loss = 0;  // a loss the group can mend: the items' error code
    try {
        reply = Exchange(*request, payload->Items);
    } catch (const EVelqorSOAPFault& e) {
        failure = "the server answered the poll with a fault: " + e.FaultCode() + ": " +
                  (e.FaultString().empty() ? std::string(e.what()) : e.FaultString());
        if (IsSubscriptionGoneFault(e.FaultCode())) loss = kXmlDaInvalidHandle;
    } catch (const EVelqorSOAPConnect& e) {
        failure = std::string("connection to the server lost: ") + e.what();
        if (ServiceWentAway(*snap_.Settings.Poster, e.what())) loss = OPC_E_FAIL;
    } catch (const std::exception& e) {
        failure = std::string("polling the server failed: ") + e.what();
    } catch (...) {
        failure = "polling the server failed";
    }
    if (response_.capacity() > kKeptReplyCapacity) std::string().swap(response_);
    polls_.fetch_add(1);
    if (reply && silent_) {
        silent_ = false;
        PostSilence(false);
    }
    if (!reply && loss != 0 && snap_.Recover) {
        Interrupt(failure, loss);
        return false;
    }
    if (!reply) {
        Finish(TOutcome::Failed, nullptr,
               failure.empty() ? "polling the server failed: no reply" : failure);
        return false;
    }
    if (!reply->InvalidServerSubHandles.empty() && snap_.Recover) {
        Interrupt(std::string(kSubscriptionForgotten), kXmlDaInvalidHandle);
        return false;
    }
    if (!reply->InvalidServerSubHandles.empty()) {
        auto verdict = NewPayload();
        verdict->SubscriptionInvalid = true;
        verdict->SubscriptionReason = kSubscriptionForgotten;
        verdict->Items.reserve(snap_.AllItems.size());
        for (uint32_t h : snap_.AllItems) {
            ItemUpdate u;
            u.ClientHandle = h;
            u.Fields = ItemUpdate::kQuality | ItemUpdate::kError;
            u.Quality = kQualityBadOutOfService;
            u.Error = kXmlDaInvalidHandle;
            verdict->Items.push_back(std::move(u));
        }
        Finish(TOutcome::InvalidHandle, std::move(verdict));
        return false;
    }
    goodPolls_.fetch_add(1);
    if (!payload->Items.empty() && !Deliver(std::move(payload))) return false;
    return true;
}

}  // namespace velqor
