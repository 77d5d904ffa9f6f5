// Turning a transport's per-item answers into item state and reports, the same way for every
// transport: what a failure does to an item, what a success clears, which write message goes.
#pragma once

#include <string>
#include <vector>

#include "contract/EventLoop.h"
#include "contract/VelqorItemData.h"

namespace velqor {

// The update for an item that failed: its error, with what the server said when the code alone
// cannot say it; a failure about the item's data (a read or write) also makes the quality bad.
ItemUpdate FailureUpdate(int32_t error, std::string detail = {}, bool badQuality = true);

// One item's outcome for PostWriteOutcome: its result code (a success code counts as success)
// with the server's words when given.
ItemUpdate ItemOutcome(uint32_t clientHandle, int32_t code, std::string detail = {});

// Applies the outcomes of one operation on a batch of items, on the owning thread, and counts
// the failures.
class TItemResults {
  public:
    // A success that says nothing of the item's data: its error is cleared.
    void Succeeded(TVelqorItemData& item) { item.ApplyUpdate(ItemUpdate::OperationResult(0)); }
    // A value was written: the error is cleared and the quality is good.
    void Written(TVelqorItemData& item);
    void Failed(TVelqorItemData& item, int32_t error, std::string detail = {},
                bool badQuality = true);
    // A value read (value, quality, time). An update that carries an error is a value that
    // could not be read: it counts as a failure; otherwise the item's error is cleared.
    void Read(TVelqorItemData& item, ItemUpdate u);
    // The answer left the item out: it failed with "no result".
    void Unanswered(TVelqorItemData& item, bool badQuality);
    // A result code: success clears the error, a failure is stored.
    void Result(TVelqorItemData& item, int32_t code, bool badQuality) {
        if (code >= 0)
            Succeeded(item);
        else
            Failed(item, code, {}, badQuality);
    }

    int Failures() const { return failures_; }
    bool AllSucceeded() const { return failures_ == 0; }

  private:
    int failures_ = 0;
};

// Posts the outcome of an asynchronous write: each entry sets its item's error, and a failed
// item's quality becomes bad; a write error when any item failed, else a write completion.
// Entries for items that no longer exist are left out.
void PostWriteOutcome(const NotifyWindow& window, std::vector<ItemUpdate> results);

}  // namespace velqor
