// XML Schema date-time texts: read, and whatever reads must write and read back to itself.
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "soap/VelqorSOAPEncoding.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A fixed zone five and a half hours east: every local time stands for exactly one
    // instant, so the round trip below is exact (a zone with daylight saving repeats an hour
    // of local times, which no local date-time can tell apart).
    setenv("TZ", "IST-5:30", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    double v;
    try {
        v = velqor::XSDDateTimeToDateTime(text);
    } catch (const velqor::EVelqorDateTimeException&) {
        return 0;
    }
    if (!std::isfinite(v)) __builtin_trap();
    // Years outside 1..9999 after the zone shift have no text form of four digits.
    if (v < -693593.0 + 2 || v > 2958465.0 - 2) return 0;
    double back = velqor::XSDDateTimeToDateTime(velqor::DateTimeToXSDDateTime(v, true));
    if (std::fabs(back - v) > 1.0 / 86400000.0) __builtin_trap();
    return 0;
}
