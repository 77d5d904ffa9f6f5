#include "contract/VelqorItemResults.h"

#include "contract/VelqorError.h"

namespace velqor {

ItemUpdate FailureUpdate(int32_t error, std::string detail, bool badQuality) {
    ItemUpdate u = ItemUpdate::OperationResult(error, std::move(detail));
    if (badQuality) {
        u.Fields |= ItemUpdate::kQuality;
        u.Quality = kQualityBad;
    }
    return u;
}

ItemUpdate ItemOutcome(uint32_t clientHandle, int32_t code, std::string detail) {
    ItemUpdate u = ItemUpdate::OperationResult(code < 0 ? code : 0, std::move(detail));
    u.ClientHandle = clientHandle;
    return u;
}

void TItemResults::Written(TVelqorItemData& item) {
    ItemUpdate u = ItemUpdate::OperationResult(0);
    u.Fields |= ItemUpdate::kQuality;
    u.Quality = kQualityGood;
    item.ApplyUpdate(u);
}

void TItemResults::Failed(TVelqorItemData& item, int32_t error, std::string detail,
                          bool badQuality) {
    item.ApplyUpdate(FailureUpdate(error, std::move(detail), badQuality));
    ++failures_;
}

void TItemResults::Read(TVelqorItemData& item, ItemUpdate u) {
    if (u.Fields & ItemUpdate::kError) {
        ++failures_;
    } else {
        u.Fields |= ItemUpdate::kError;
        u.Error = 0;
        u.ErrorDetail.clear();
    }
    item.ApplyUpdate(u);
}

void TItemResults::Unanswered(TVelqorItemData& item, bool badQuality) {
    Failed(item, OPC_E_FAIL, MsgText(Msg::NoResult), badQuality);
}

void PostWriteOutcome(const NotifyWindow& window, std::vector<ItemUpdate> results) {
    auto payload = std::make_unique<ItemUpdatesPayload>();
    int failures = 0;
    for (ItemUpdate& u : results) {
        if (!FindItemByClientHandle(u.ClientHandle)) continue;
        u.Fields |= ItemUpdate::kError;
        if (u.Error != 0) {
            u.Fields |= ItemUpdate::kQuality;
            u.Quality = kQualityBad;
            ++failures;
        }
        payload->Items.push_back(std::move(u));
    }
    if (window)
        window->Post(failures ? WM_VELQOR_WRITEERROR : WM_VELQOR_WRITECOMPLETE, 0,
                     std::move(payload));
}

}  // namespace velqor
