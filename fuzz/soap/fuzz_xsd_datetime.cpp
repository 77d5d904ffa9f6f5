// XML Schema date-time texts: read, and whatever reads must write and read back to itself.
#include <string>

#include "FuzzText.h"
#include "soap/VelqorSOAPEncoding.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A fixed zone five and a half hours east: every local time stands for exactly one
    // instant, so the round trip below is exact (a zone with daylight saving repeats an hour
    // of local times, which no local date-time can tell apart).
    fuzztext::UseZone("IST-5:30");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Years outside 1..9999 after the zone shift have no text form of four digits.
    fuzztext::CheckRoundTrip<velqor::EVelqorDateTimeException>(
        fuzztext::AsText(data, size),
        [](std::string_view t) { return velqor::XSDDateTimeToDateTime(t); },
        [](double v) { return velqor::DateTimeToXSDDateTime(v, true); }, -693593.0 + 2,
        2958465.0 - 2, 1.0 / 86400000.0);
    return 0;
}
