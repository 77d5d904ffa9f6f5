// Base64: any text decodes; what it decodes to encodes and decodes to itself.
#include <string>
#include <string_view>

#include "soap/VelqorSOAPEncoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string bytes = velqor::Base64Decode(text);
    if (bytes.size() > size) __builtin_trap();
    std::string encoded = velqor::Base64Encode(bytes);
    if (velqor::Base64Decode(encoded) != bytes) __builtin_trap();
    if (velqor::Base64Decode(velqor::Base64Encode(text)) != text) __builtin_trap();
    return 0;
}
