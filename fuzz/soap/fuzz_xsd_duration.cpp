// XML Schema durations: read; a duration that reads writes a text that reads to the same.
#include <string>

#include "FuzzText.h"
#include "soap/VelqorSOAPEncoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzztext::CheckRoundTrip<velqor::Exception>(
        fuzztext::AsText(data, size),
        [](std::string_view t) { return velqor::XSDDurationToSeconds(t); },
        [](double s) { return velqor::SecondsToXSDDuration(s); }, 0, 1e12, 0.011);
    return 0;
}
