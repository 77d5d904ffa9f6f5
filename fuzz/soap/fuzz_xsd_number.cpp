// Number texts: float, decimal, cardinal and integer readers; a float that reads writes a
// text that reads back within its 15 digits.
#include <cmath>
#include <string_view>

#include "soap/VelqorSOAPEncoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        double v = velqor::XSDToFloat(text);
        if (std::isfinite(v)) {
            double back = velqor::XSDToFloat(velqor::XSDFloatText(v));
            if (std::fabs(back - v) > std::fabs(v) * 1e-14) __builtin_trap();
        }
    } catch (const velqor::Exception&) {
    }
    try {
        int64_t cy = velqor::XSDToDecimal(text);
        if (velqor::XSDToDecimal(velqor::Variant::Currency(cy).ToText()) != cy) __builtin_trap();
    } catch (const velqor::Exception&) {
    }
    try {
        (void)velqor::XSDToCardinal(text);
    } catch (const velqor::Exception&) {
    }
    try {
        int32_t i = velqor::XSDToInteger(text);
        if (velqor::XSDToInteger(std::to_string(i)) != i) __builtin_trap();
    } catch (const velqor::Exception&) {
    }
    return 0;
}
