// The streaming reader against the DOM reader on the same reply bytes, for the tests and the
// differential fuzz target.
#pragma once

#include <string>
#include <string_view>

namespace velqor::test {

struct StreamVerdict {
    bool streamed = false;   // the streaming reader took the reply on
    bool domRead = false;    // the DOM reader read it without raising
    std::string difference;  // the first field where the two records differ; "" when alike
    // A streamed reply must be one the DOM reader reads to the very same record.
    bool Agrees() const { return !streamed || (domRead && difference.empty()); }
};

// Reads bytes as the reply to operation ("Read", "Subscribe", "SubscriptionPolledRefresh") both
// ways.
StreamVerdict CompareStreamWithDom(std::string_view bytes, std::string_view operation);

}  // namespace velqor::test
