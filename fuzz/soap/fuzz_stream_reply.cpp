// Differential: the streaming reader of item-list replies against the DOM reader on the same
// bytes, as a SubscriptionPolledRefresh, a Read and a Subscribe reply. A reply the streaming reader
// takes on must be one the DOM reader reads to the very same record; anything else is a finding.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "StreamCompare.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const char* operation : {"SubscriptionPolledRefresh", "Read", "Subscribe"}) {
        const velqor::test::StreamVerdict v = velqor::test::CompareStreamWithDom(bytes, operation);
        if (!v.Agrees()) {
            std::fprintf(stderr, "%s: streamed %d, DOM read %d, difference: %s\n", operation,
                         int(v.streamed), int(v.domRead), v.difference.c_str());
            std::abort();
        }
    }
    return 0;
}
