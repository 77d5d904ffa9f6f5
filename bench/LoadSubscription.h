// The XML-DA benchmarks' subscription of the simulated plant's Load items, and the decode of
// its polled refresh as the poll thread does it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "xmlda/VelqorSOAPCall.h"
#include "xmlda/VelqorXMLDAPoll.h"

namespace velqor::bench {

// Settings for calls to the service at url, with their own poster.
inline velqor::TVelqorSOAPData SoapSettings(const std::string& url, bool compression = true) {
    velqor::TVelqorSOAPData settings;
    settings.URL = url;
    settings.Namespace = std::string(velqor::xmlda::kXmlDaNamespace);
    settings.Compression = compression;
    settings.Poster = velqor::CreatePoster(settings);
    return settings;
}

// Subscribes to the first `items` Load items (client handles 1..items) at the sampling rate and
// returns the polled refresh that asks for all of them.
inline std::unique_ptr<velqor::xmlda::SubscriptionPolledRefresh> SubscribeLoad(
    velqor::TVelqorSOAPData& settings, int items, int samplingRateMs) {
    using namespace velqor;
    xmlda::Subscribe sub;
    sub.Options = std::make_unique<xmlda::RequestOptions>();
    auto list = std::make_unique<xmlda::SubscribeRequestItemList>();
    list->RequestedSamplingRate = samplingRateMs;
    for (int i = 0; i < items; ++i) {
        auto it = std::make_unique<xmlda::SubscribeRequestItem>();
        it->ItemName = LoadItemID(i);
        it->ClientItemHandle = std::to_string(i + 1);
        list->Items.push_back(std::move(it));
    }
    sub.ItemList.push_back(std::move(list));
    auto poll = BuildPolledRefresh(CallOperation(settings, sub)->ServerSubHandle, 0, 0, 0);
    poll->ReturnAllItems = true;
    return poll;
}

// The updates of a polled-refresh reply's first list.
inline std::vector<velqor::ItemUpdate> UpdatesOf(
    const velqor::xmlda::SubscriptionPolledRefreshResponse& reply) {
    std::vector<velqor::ItemUpdate> updates;
    if (!reply.RItemList.empty() && reply.RItemList.front())
        for (const auto& v : reply.RItemList.front()->Items) {
            uint32_t h = 0;
            if (v && velqor::ParseClientHandle(v->ClientItemHandle, h))
                updates.push_back(velqor::UpdateFromItemValue(h, *v));
        }
    return updates;
}

}  // namespace velqor::bench
