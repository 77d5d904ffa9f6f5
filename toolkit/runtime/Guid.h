// GUID: the 128-bit identifier of interfaces and classes, with its registry text form.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velqor::com {

struct GUID {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    std::array<uint8_t, 8> Data4{};

    friend bool operator==(const GUID&, const GUID&) = default;
    friend auto operator<=>(const GUID&, const GUID&) = default;

    // "{2E0EDBB1-C374-4575-B7AC-0CCBAB0973B9}" (upper case, with braces).
    std::string ToString() const;
    // Accepts the text with or without braces, in any letter case; nullopt when malformed.
    static std::optional<GUID> Parse(std::string_view text);
    // A new random (version 4) identifier.
    static GUID Create();
};

using IID = GUID;
using CLSID = GUID;

inline constexpr GUID GUID_NULL{};

// Compile-time GUID from its text form without braces: "2E0EDBB1-C374-4575-B7AC-0CCBAB0973B9".
consteval GUID MakeGuid(const char (&s)[37]) {
    auto hex = [](char c) -> uint32_t {
        if (c >= '0' && c <= '9') return uint32_t(c - '0');
        if (c >= 'a' && c <= 'f') return uint32_t(c - 'a' + 10);
        if (c >= 'A' && c <= 'F') return uint32_t(c - 'A' + 10);
        throw "invalid hex digit in GUID";
    };
    auto num = [&](int from, int digits) {
        uint32_t v = 0;
        for (int i = 0; i < digits; ++i) v = (v << 4) | hex(s[from + i]);
        return v;
    };
    if (s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') throw "malformed GUID";
    GUID g;
    g.Data1 = num(0, 8);
    g.Data2 = uint16_t(num(9, 4));
    g.Data3 = uint16_t(num(14, 4));
    g.Data4[0] = uint8_t(num(19, 2));
    g.Data4[1] = uint8_t(num(21, 2));
    for (int i = 0; i < 6; ++i) g.Data4[2 + i] = uint8_t(num(24 + 2 * i, 2));
    return g;
}

}  // namespace velqor::com
