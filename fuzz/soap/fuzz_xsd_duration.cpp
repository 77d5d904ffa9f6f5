// XML Schema durations: read; a duration that reads writes a text that reads to the same.
#include <cmath>
#include <string_view>

#include "soap/VelqorSOAPEncoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    double seconds;
    try {
        seconds = velqor::XSDDurationToSeconds(text);
    } catch (const velqor::Exception&) {
        return 0;
    }
    if (!std::isfinite(seconds)) __builtin_trap();
    if (seconds < 0 || seconds > 1e12) return 0;
    double back = velqor::XSDDurationToSeconds(velqor::SecondsToXSDDuration(seconds));
    if (std::fabs(back - seconds) > 0.011) __builtin_trap();
    return 0;
}
