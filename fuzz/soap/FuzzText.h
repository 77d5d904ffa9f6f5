// What the SOAP fuzz targets share: the input as text, a fixed time zone, and the round trip of
// a value read from text.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string_view>

namespace fuzztext {

inline std::string_view AsText(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Local times read and write in this zone, whatever the machine's.
inline void UseZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
}

// Reads text (a Refused exception turns it down); a value that reads is finite, and one within
// [lo, hi] writes a text that reads back to it within tolerance.
template <class Refused, class Read, class Write>
void CheckRoundTrip(std::string_view text, Read read, Write write, double lo, double hi,
                    double tolerance) {
    double v;
    try {
        v = read(text);
    } catch (const Refused&) {
        return;
    }
    if (!std::isfinite(v)) __builtin_trap();
    if (v < lo || v > hi) return;
    if (std::fabs(read(write(v)) - v) > tolerance) __builtin_trap();
}

}  // namespace fuzztext
