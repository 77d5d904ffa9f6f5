// The OPC vocabulary shared by the component model and both transports: enumerations, records,
// the result-code and property tables, server-state names, the quality test and the combined
// browse identifier. Everything here is a constant or a pure function.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "contract/Variant.h"
#include "contract/VelqorVersion.h"

namespace velqor {

inline constexpr const char* kVelqorVersion = "Velqor " VELQOR_VERSION;

enum tVelqorConnectionType : int32_t { coXML = 0, coCOM = 1 };

// Requested and browse-filter data type; the ordinal is the variant type number.
enum VelqorADatatype : int32_t {
    vtEMPTY = 0,
    vtNULL = 1,
    vtI2 = 2,
    vtI4 = 3,
    vtR4 = 4,
    vtR8 = 5,
    vtCY = 6,
    vtDATE = 7,
    vtBSTR = 8,
    vtDISPATCH = 9,
    vtERROR = 10,
    vtBOOL = 11,
    vtVARIANT = 12,
    vtUNKNOWN = 13,
    vtDECIMAL = 14,
    vtundef = 15,
    vtI1 = 16,
    vtUI1 = 17,
    vtUI2 = 18,
    vtUI4 = 19,
    vtI8 = 20,
    vtUI8 = 21,
    vtINT = 22,
    vtUINT = 23,
    vtVOID = 24,
    vtHRESULT = 25,
    vtPTR = 26,
    vtSAFEARRAY = 27,
    vtCARRAY = 28,
    vtUSERDEFINED = 29,
    vtLPSTR = 30,
    vtLPWSTR = 31,
};
static_assert(int(vtI2) == int(VT_I2) && int(vtBSTR) == int(VT_BSTR) &&
              int(vtBOOL) == int(VT_BOOL) && int(vtI1) == int(VT_I1) && int(vtUI8) == int(VT_UI8) &&
              int(vtLPWSTR) == int(VT_LPWSTR));
// The value sent to a server for a requested type: the base type, and the array flag, so that
// a request for an array of a type is not silently turned into a request for a scalar.
constexpr int32_t MaskedDatatype(int32_t t) { return t & (0x7F | VT_ARRAY); }

// Access rights: a set over opcReadable and opcWritable, with the OPC bit values.
enum VelqorAcesstypeBit : uint8_t { opcReadable = 1, opcWritable = 2 };
using VelqorAcesstype = uint8_t;  // bit set of VelqorAcesstypeBit

// Server types and their set (bit n = ordinal n).
enum tVelqorServerType : uint8_t {
    svr_DA10 = 0,
    svr_DA20 = 1,
    svr_DA30 = 2,
    svr_AE10 = 3,
    svr_BA10 = 4,
    svr_BA20 = 5,
    svr_DX10 = 6,
    svr_HDA10 = 7,
};
using tVelqorServerSet = uint8_t;
constexpr tVelqorServerSet ServerSetOf(tVelqorServerType t) { return tVelqorServerSet(1u << t); }
// The shortest group update rate, ms: a rate of 0 or below would poll (or ask a server to
// sample) back to back. Typed rates below it are refused; others are raised to it.
inline constexpr int32_t kMinUpdateRateMs = 1;

inline constexpr tVelqorServerSet kDefaultServerSet =
    ServerSetOf(svr_DA10) | ServerSetOf(svr_DA20) | ServerSetOf(svr_DA30);
static_assert(kDefaultServerSet == 7);

struct tServerStateRecord {
    double StartTime = 0, CurrentTime = 0, LastUpdateTime = 0;
    int32_t ServerState = 0, GroupCount = 0, BandWidth = 0;
    int32_t MajorVersion = 0, MinorVersion = 0, BuildNumber = 0;
    std::string VendorInfo, StateText, VersionText;
};

struct tVelqorGroupStateRec {
    int32_t UpdateRate = 0;
    bool Active = false;
    std::string Name;
    int32_t TimeBias = 0;
    float DeadBand = 0;
    int32_t LocaleId = 0;
    int32_t ClientHandle = 0, ServerHandle = 0, HoldTime = 0, WaitTime = 0;
};

struct TVelqorItemProperty {
    int32_t PropertyID = 0;
    int32_t Error = 0;
    std::string ErrorDetail;  // why, when the code alone cannot say (a value that is no value)
    std::string Description;
    int32_t DataType = 0;
    Variant Value;

    // The entry that reports a failed property query.
    static TVelqorItemProperty Failure(int32_t error) {
        TVelqorItemProperty p;
        p.Description = "error";
        p.DataType = -1;
        p.Error = error;
        return p;
    }
};

// Result codes as they travel (32-bit).
using OPCResult = int32_t;
// The general failure of COM (E_FAIL): a failure the result table has no name for.
inline constexpr OPCResult OPC_E_FAIL = int32_t(0x80004005U);
inline constexpr OPCResult OPC_E_INVALIDHANDLE = int32_t(0xC0040001U);
inline constexpr OPCResult OPC_E_BADTYPE = int32_t(0xC0040004U);
inline constexpr OPCResult OPC_E_BADRIGHTS = int32_t(0xC0040006U);
inline constexpr OPCResult OPC_E_UNKNOWNITEMID = int32_t(0xC0040007U);
inline constexpr OPCResult OPC_E_INVALIDITEMID = int32_t(0xC0040008U);
inline constexpr OPCResult OPC_E_UNKNOWNPATH = int32_t(0xC004000AU);
inline constexpr OPCResult OPC_E_RANGE = int32_t(0xC004000BU);
inline constexpr OPCResult OPC_E_INVALIDPID = int32_t(0xC0040203U);
inline constexpr OPCResult OPC_E_WRITEONLY = int32_t(0xC0040408U);
inline constexpr OPCResult OPC_E_READONLY = int32_t(0xC0040409U);
inline constexpr OPCResult OPC_S_CLAMP = int32_t(0x0004000EU);
inline constexpr OPCResult OPC_S_UNSUPPORTEDRATE = int32_t(0x0004000DU);

// Result message from the table, or "" for a code not in it.
std::string ResultMessage(int32_t code);
// Result name from the table, or "E_UNKNOWN".
std::string ResultName(int32_t code);
// Code of an XML-DA result name: "" gives 0, an unknown name 1; exact, case-sensitive.
int32_t ResultCodeFromName(std::string_view name);

// Property identifier of a name (lookup names, prefixes stripped in turn, decimal, -999999).
int32_t PropertyIdFromName(std::string_view name);
// Formatted property name of an identifier, or its decimal text.
std::string PropertyNameFromId(int32_t id);
// "analog" 1, "enumerated" 2, anything else 0 (case-sensitive).
int32_t EUTypeFromName(std::string_view name);
// 1 "running" .. 5 "test"; any other state "".
std::string ServerStateText(int32_t state);

// The OPC quality word: bits 7-6 status, 5-2 substatus, 1-0 limit.
inline constexpr int32_t kQualityStatusMask = 0xC0;     // the status bits
inline constexpr int32_t kQualitySubstatusMask = 0xFC;  // status and substatus together
inline constexpr int32_t kQualityLimitMask = 0x03;      // the limit bits
inline constexpr int32_t kQualityBad = 0x00;
inline constexpr int32_t kQualityBadConfigurationError = 0x04;
inline constexpr int32_t kQualityBadNotConnected = 0x08;
inline constexpr int32_t kQualityBadOutOfService = 0x1C;
inline constexpr int32_t kQualityUncertain = 0x40;
inline constexpr int32_t kQualityGood = 0xC0;
inline constexpr int32_t kLimitLow = 0x01, kLimitHigh = 0x02, kLimitConstant = 0x03;

// Good quality: both status bits set.
constexpr bool IsGoodQuality(int32_t quality) {
    return (quality & kQualityStatusMask) == kQualityGood;
}

// Combined browse identifier: "path//name", or the name alone when the path is empty.
std::string CombineItemID(std::string_view itemPath, std::string_view itemName);
// The reverse: {path, name}; no "//" gives an empty path.
std::pair<std::string, std::string> SplitItemID(std::string_view combined);

// Value of "key=value" in name=value lines ("" when absent); the key compares exactly.
template <class Lines>
std::string ParamValue(const Lines& lines, std::string_view key) {
    for (const auto& l : lines) {
        std::string_view s(l);
        if (s.size() > key.size() && s.substr(0, key.size()) == key && s[key.size()] == '=')
            return std::string(s.substr(key.size() + 1));
    }
    return {};
}

// The error report of a failed COM call: raises EOPCException "<message> <name>" for a code
// in the table, else EOleSysError with the platform's text. Keeps the code as the last
// checked result.
[[noreturn]] void RaiseComError(int32_t code);
// Checks a COM result: success codes pass (and are kept), failures raise as above.
void OleCheck(int32_t code);
int32_t LastCheckedResult();

}  // namespace velqor
