#include "Guid.h"

#include <cstdio>
#include <random>

namespace velqor::com {

std::string GUID::ToString() const {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", Data1,
                  unsigned(Data2), unsigned(Data3), Data4[0], Data4[1], Data4[2], Data4[3],
                  Data4[4], Data4[5], Data4[6], Data4[7]);
    return buf;
}

std::optional<GUID> GUID::Parse(std::string_view text) {
    if (text.size() == 38) {
        if (text.front() != '{' || text.back() != '}') return std::nullopt;
        text = text.substr(1, 36);
    }
    if (text.size() != 36) return std::nullopt;
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    uint8_t bytes[16];
    size_t b = 0;
    for (size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        int hi = hex(text[i]), lo = hex(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes[b++] = uint8_t(hi << 4 | lo);
        i += 2;
    }
    GUID g;
    g.Data1 =
        uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
    g.Data2 = uint16_t(bytes[4] << 8 | bytes[5]);
    g.Data3 = uint16_t(bytes[6] << 8 | bytes[7]);
    for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
    return g;
}

GUID GUID::Create() {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    uint64_t a = rng(), b = rng();
    GUID g;
    g.Data1 = uint32_t(a >> 32);
    g.Data2 = uint16_t(a >> 16);
    g.Data3 = uint16_t((a & 0x0FFF) | 0x4000);
    for (int i = 0; i < 8; ++i) g.Data4[i] = uint8_t(b >> (56 - 8 * i));
    g.Data4[0] = uint8_t((g.Data4[0] & 0x3F) | 0x80);
    return g;
}

}  // namespace velqor::com
