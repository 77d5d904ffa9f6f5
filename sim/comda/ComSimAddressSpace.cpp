#include "ComSimAddressSpace.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "com/ComValues.h"
#include "com/runtime/ComText.h"

namespace velqor::sim {
namespace {

using xmldasim::Kind;
using xmldasim::Scalar;

constexpr DWORD kCanonicalType = 1, kValue = 2, kQuality = 3, kTimestamp = 4, kAccessRights = 5,
                kScanRate = 6, kEuType = 7, kEuInfo = 8, kUnits = 100, kDescription = 101,
                kHighEu = 102, kLowEu = 103, kHighRange = 104, kLowRange = 105, kCloseLabel = 106,
                kOpenLabel = 107, kTimezone = 108;

// Days since 1899-12-30, the epoch of DATE.
double ToDate(xmldasim::TimePoint t) {
    return static_cast<double>(t.time_since_epoch().count()) / 86400000.0 + 25569.0;
}

double AsDouble(const Scalar& s) {
    if (auto p = std::get_if<double>(&s)) return *p;
    if (auto p = std::get_if<std::int64_t>(&s)) return static_cast<double>(*p);
    if (auto p = std::get_if<std::uint64_t>(&s)) return static_cast<double>(*p);
    if (auto p = std::get_if<bool>(&s)) return *p ? 1 : 0;
    return 0;
}
std::int64_t AsInt(const Scalar& s) {
    if (auto p = std::get_if<std::int64_t>(&s)) return *p;
    if (auto p = std::get_if<std::uint64_t>(&s)) return static_cast<std::int64_t>(*p);
    return static_cast<std::int64_t>(AsDouble(s));
}
std::uint64_t AsUInt(const Scalar& s) {
    if (auto p = std::get_if<std::uint64_t>(&s)) return *p;
    return static_cast<std::uint64_t>(AsInt(s));
}

// Writes one scalar into storage of the element type `vt`. False when a string is not allocated.
bool PutScalar(VARTYPE vt, const Scalar& s, void* cell) {
    switch (vt) {
        case VT_I1:
            *static_cast<CHAR*>(cell) = static_cast<CHAR>(AsInt(s));
            return true;
        case VT_UI1:
            *static_cast<BYTE*>(cell) = static_cast<BYTE>(AsUInt(s));
            return true;
        case VT_I2:
            *static_cast<SHORT*>(cell) = static_cast<SHORT>(AsInt(s));
            return true;
        case VT_UI2:
            *static_cast<USHORT*>(cell) = static_cast<USHORT>(AsUInt(s));
            return true;
        case VT_I4:
            *static_cast<LONG*>(cell) = static_cast<LONG>(AsInt(s));
            return true;
        case VT_UI4:
            *static_cast<ULONG*>(cell) = static_cast<ULONG>(AsUInt(s));
            return true;
        case VT_I8:
            *static_cast<LONGLONG*>(cell) = AsInt(s);
            return true;
        case VT_UI8:
            *static_cast<ULONGLONG*>(cell) = AsUInt(s);
            return true;
        case VT_R4:
            *static_cast<FLOAT*>(cell) = static_cast<FLOAT>(AsDouble(s));
            return true;
        case VT_R8:
            *static_cast<DOUBLE*>(cell) = AsDouble(s);
            return true;
        case VT_CY:
            static_cast<CY*>(cell)->int64 = std::llround(AsDouble(s) * 10000.0);
            return true;
        case VT_BOOL:
            *static_cast<VARIANT_BOOL*>(cell) = AsDouble(s) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            return true;
        case VT_DATE: {
            auto p = std::get_if<xmldasim::DateTimeValue>(&s);
            *static_cast<DATE*>(cell) = p ? ToDate(p->at) : 0.0;
            return true;
        }
        case VT_BSTR: {
            auto p = std::get_if<std::string>(&s);
            BSTR b = NewBstr(p ? *p : std::string{});
            *static_cast<BSTR*>(cell) = b;
            return b != nullptr;
        }
        default:
            return false;
    }
}

void* ScalarCell(VARIANT& v) {
    switch (v.vt) {
        case VT_I1:
            return &v.cVal;
        case VT_UI1:
            return &v.bVal;
        case VT_I2:
            return &v.iVal;
        case VT_UI2:
            return &v.uiVal;
        case VT_I4:
            return &v.lVal;
        case VT_UI4:
            return &v.ulVal;
        case VT_I8:
            return &v.llVal;
        case VT_UI8:
            return &v.ullVal;
        case VT_R4:
            return &v.fltVal;
        case VT_R8:
            return &v.dblVal;
        case VT_CY:
            return &v.cyVal;
        case VT_BOOL:
            return &v.boolVal;
        case VT_DATE:
            return &v.date;
        case VT_BSTR:
            return &v.bstrVal;
        default:
            return nullptr;
    }
}

HRESULT ArrayToVariant(VARTYPE element, const std::vector<Scalar>& items, VARIANT& out) {
    SAFEARRAY* sa = SafeArrayCreateVector(element, 0, static_cast<ULONG>(items.size()));
    if (!sa) return E_OUTOFMEMORY;
    void* data = nullptr;
    bool ok = SUCCEEDED(SafeArrayAccessData(sa, &data));
    UINT size = SafeArrayGetElemsize(sa);
    for (std::size_t i = 0; ok && i < items.size(); ++i)
        ok = PutScalar(element, items[i], static_cast<BYTE*>(data) + i * size);
    if (data) SafeArrayUnaccessData(sa);
    if (!ok) {
        SafeArrayDestroy(sa);
        return E_OUTOFMEMORY;
    }
    out.vt = static_cast<VARTYPE>(VT_ARRAY | element);
    out.parray = sa;
    return S_OK;
}

}  // namespace

LPWSTR TaskString(std::string_view utf8) {
    std::u16string w = com::Utf8ToUtf16(utf8);
    auto* s = static_cast<LPWSTR>(CoTaskMemAlloc((w.size() + 1) * sizeof(OLECHAR)));
    if (s) std::char_traits<char16_t>::copy(com::AsUtf16(s), w.c_str(), w.size() + 1);
    return s;
}

BSTR NewBstr(std::string_view utf8) {
    std::u16string w = com::Utf8ToUtf16(utf8);
    return SysAllocStringLen(com::AsOle(w.data()), static_cast<UINT>(w.size()));
}

const std::vector<ComPropertyDef>& ComPropertyTable() {
    static const std::vector<ComPropertyDef> table{
        {kCanonicalType, "Item Canonical DataType", VT_I2},
        {kValue, "Item Value", VT_VARIANT},
        {kQuality, "Item Quality", VT_I2},
        {kTimestamp, "Item Timestamp", VT_DATE},
        {kAccessRights, "Item Access Rights", VT_I4},
        {kScanRate, "Server Scan Rate", VT_R4},
        {kEuType, "Item EU Type", VT_I4},
        {kEuInfo, "Item EUInfo", static_cast<VARTYPE>(VT_ARRAY | VT_BSTR)},
        {kUnits, "EU Units", VT_BSTR},
        {kDescription, "Item Description", VT_BSTR},
        {kHighEu, "High EU", VT_R8},
        {kLowEu, "Low EU", VT_R8},
        {kHighRange, "High Instrument Range", VT_R8},
        {kLowRange, "Low Instrument Range", VT_R8},
        {kCloseLabel, "Contact Close Label", VT_BSTR},
        {kOpenLabel, "Contact Open Label", VT_BSTR},
        {kTimezone, "Item Timezone", VT_I4},
    };
    return table;
}

const ComPropertyDef* FindComProperty(DWORD id) {
    for (const auto& p : ComPropertyTable())
        if (p.Id == id) return &p;
    return nullptr;
}

VARTYPE VarTypeOf(xmldasim::DataType type) {
    VARTYPE vt = VT_VARIANT;
    switch (type.kind) {
        case Kind::Byte:
            vt = VT_I1;
            break;
        case Kind::UnsignedByte:
            vt = VT_UI1;
            break;
        case Kind::Short:
            vt = VT_I2;
            break;
        case Kind::UnsignedShort:
            vt = VT_UI2;
            break;
        case Kind::Int:
            vt = VT_I4;
            break;
        case Kind::UnsignedInt:
            vt = VT_UI4;
            break;
        case Kind::Long:
            vt = VT_I8;
            break;
        case Kind::UnsignedLong:
            vt = VT_UI8;
            break;
        case Kind::Float:
            vt = VT_R4;
            break;
        case Kind::Double:
            vt = VT_R8;
            break;
        case Kind::Decimal:
            vt = VT_CY;
            break;
        case Kind::String:
            vt = VT_BSTR;
            break;
        case Kind::Boolean:
            vt = VT_BOOL;
            break;
        case Kind::DateTime:
            vt = VT_DATE;
            break;
        case Kind::Base64Binary:
            return static_cast<VARTYPE>(VT_ARRAY | VT_UI1);
        case Kind::AnyType:
            vt = VT_VARIANT;
            break;
    }
    return type.array ? static_cast<VARTYPE>(VT_ARRAY | vt) : vt;
}

DWORD AccessRightsOf(xmldasim::Access access) {
    switch (access) {
        case xmldasim::Access::Read:
            return OPC_READABLE;
        case xmldasim::Access::Write:
            return OPC_WRITEABLE;
        case xmldasim::Access::ReadWrite:
            return OPC_READABLE | OPC_WRITEABLE;
    }
    return OPC_READABLE;
}

WORD QualityWordOf(const xmldasim::Quality& quality) {
    struct Named {
        const char* name;
        WORD bits;
    };
    static const Named qualities[] = {
        {"good", 0xC0},
        {"goodLocalOverride", 0xD8},
        {"bad", 0x00},
        {"badConfigurationError", 0x04},
        {"badNotConnected", 0x08},
        {"badDeviceFailure", 0x0C},
        {"badSensorFailure", 0x10},
        {"badLastKnownValue", 0x14},
        {"badCommFailure", 0x18},
        {"badOutOfService", 0x1C},
        {"uncertain", 0x40},
        {"uncertainLastUsableValue", 0x44},
        {"uncertainSensorNotAccurate", 0x50},
        {"uncertainEUExceeded", 0x54},
        {"uncertainSubNormal", 0x58},
    };
    static const Named limits[] = {{"none", 0}, {"low", 1}, {"high", 2}, {"constant", 3}};
    // Asked for every value of every data change: the first match ends each search.
    WORD w = 0;
    for (const auto& q : qualities)
        if (quality.quality == q.name) {
            w = q.bits;
            break;
        }
    for (const auto& l : limits)
        if (quality.limit == l.name) return static_cast<WORD>(w | l.bits);
    return w;
}

HRESULT ValueToVariant(const xmldasim::Value& value, VARIANT& out) {
    VARTYPE vt = VarTypeOf(value.type);
    if (value.type.kind == Kind::Base64Binary) {
        auto p = value.elems.empty() ? nullptr : std::get_if<xmldasim::Bytes>(&value.elems[0]);
        std::vector<Scalar> bytes;
        if (p)
            for (auto b : *p) bytes.emplace_back(std::uint64_t{b});
        return ArrayToVariant(VT_UI1, bytes, out);
    }
    if (vt & VT_ARRAY)
        return ArrayToVariant(static_cast<VARTYPE>(vt & ~VT_ARRAY), value.elems, out);
    if (value.elems.empty()) return S_OK;
    out.vt = vt;
    void* cell = ScalarCell(out);
    if (!cell || !PutScalar(vt, value.elems[0], cell)) {
        out.vt = VT_EMPTY;
        return cell ? E_OUTOFMEMORY : S_OK;
    }
    return S_OK;
}

namespace {

// The plant kind of a VARTYPE, for the scalar kinds a client may write.
bool KindOf(VARTYPE vt, Kind& kind) {
    static const std::pair<VARTYPE, Kind> kinds[] = {
        {VT_I1, Kind::Byte},           {VT_UI1, Kind::UnsignedByte}, {VT_I2, Kind::Short},
        {VT_UI2, Kind::UnsignedShort}, {VT_I4, Kind::Int},           {VT_INT, Kind::Int},
        {VT_UI4, Kind::UnsignedInt},   {VT_UINT, Kind::UnsignedInt}, {VT_I8, Kind::Long},
        {VT_UI8, Kind::UnsignedLong},  {VT_R4, Kind::Float},         {VT_R8, Kind::Double},
        {VT_CY, Kind::Decimal},        {VT_BSTR, Kind::String},      {VT_BOOL, Kind::Boolean},
        {VT_DATE, Kind::DateTime},
    };
    for (const auto& [v, k] : kinds)
        if (v == vt) {
            kind = k;
            return true;
        }
    return false;
}

// One scalar of type vt stored at cell.
Scalar TakeScalar(VARTYPE vt, const void* cell) {
    switch (vt) {
        case VT_I1:
            return std::int64_t{*static_cast<const CHAR*>(cell)};
        case VT_UI1:
            return std::uint64_t{*static_cast<const BYTE*>(cell)};
        case VT_I2:
            return std::int64_t{*static_cast<const SHORT*>(cell)};
        case VT_UI2:
            return std::uint64_t{*static_cast<const USHORT*>(cell)};
        case VT_I4:
        case VT_INT:
            return std::int64_t{*static_cast<const LONG*>(cell)};
        case VT_UI4:
        case VT_UINT:
            return std::uint64_t{*static_cast<const ULONG*>(cell)};
        case VT_I8:
            return std::int64_t{*static_cast<const LONGLONG*>(cell)};
        case VT_UI8:
            return std::uint64_t{*static_cast<const ULONGLONG*>(cell)};
        case VT_R4:
            return double{*static_cast<const FLOAT*>(cell)};
        case VT_R8:
            return *static_cast<const DOUBLE*>(cell);
        case VT_CY:
            return static_cast<double>(static_cast<const CY*>(cell)->int64) / 10000.0;
        case VT_BOOL:
            return *static_cast<const VARIANT_BOOL*>(cell) != VARIANT_FALSE;
        case VT_DATE: {
            double days = *static_cast<const DATE*>(cell) - 25569.0;
            return xmldasim::DateTimeValue{
                xmldasim::TimePoint(std::chrono::milliseconds(std::llround(days * 86400000.0)))};
        }
        default:
            return velqor::BstrToText(*static_cast<const BSTR*>(cell));
    }
}

}  // namespace

HRESULT VariantToValue(const VARIANT& in, xmldasim::DataType target, xmldasim::Value& out) {
    Kind kind{};
    VARTYPE element = static_cast<VARTYPE>(in.vt & ~VT_ARRAY);
    if ((in.vt & VT_BYREF) || !KindOf(element, kind)) return OPC_E_BADTYPE;
    xmldasim::Value given{{kind, (in.vt & VT_ARRAY) != 0}, {}};
    if (in.vt & VT_ARRAY) {
        SAFEARRAY* sa = in.parray;
        LONG lo = 0, hi = -1;
        void* data = nullptr;
        if (!sa || SafeArrayGetDim(sa) != 1 || FAILED(SafeArrayGetLBound(sa, 1, &lo)) ||
            FAILED(SafeArrayGetUBound(sa, 1, &hi)) || FAILED(SafeArrayAccessData(sa, &data)))
            return OPC_E_BADTYPE;
        UINT size = SafeArrayGetElemsize(sa);
        for (LONG i = 0; i <= hi - lo; ++i)
            given.elems.push_back(TakeScalar(element, static_cast<BYTE*>(data) + i * size));
        SafeArrayUnaccessData(sa);
        if (target.kind == Kind::Base64Binary && kind == Kind::UnsignedByte) {
            xmldasim::Bytes bytes;
            for (const auto& e : given.elems)
                bytes.push_back(static_cast<std::uint8_t>(std::get<std::uint64_t>(e)));
            out = {target, {std::move(bytes)}};
            return S_OK;
        }
    } else {
        VARIANT shallow = in;  // INT and UINT share the storage of I4 and UI4
        if (shallow.vt == VT_INT) shallow.vt = VT_I4;
        if (shallow.vt == VT_UINT) shallow.vt = VT_UI4;
        given.elems.push_back(TakeScalar(shallow.vt, ScalarCell(shallow)));
    }
    xmldasim::Converted c = xmldasim::convert(given, target);
    if (c.resultId == "E_RANGE") return OPC_E_RANGE;
    if (!c.resultId.empty()) return OPC_E_BADTYPE;
    out = std::move(c.value);
    return S_OK;
}

// FILETIME counts 100 ns from 1601-01-01; the plant counts milliseconds from 1970-01-01.
constexpr long long kFileTimeUnixEpochMs = 11644473600000LL;

FILETIME FileTimeOf(xmldasim::TimePoint t) {
    long long ms = t.time_since_epoch().count() + kFileTimeUnixEpochMs;
    auto ticks = static_cast<unsigned long long>(ms < 0 ? 0 : ms) * 10000ULL;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

xmldasim::TimePoint TimePointOf(const FILETIME& ft) {
    unsigned long long ticks =
        (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return xmldasim::TimePoint(
        std::chrono::milliseconds(static_cast<long long>(ticks / 10000ULL) - kFileTimeUnixEpochMs));
}

ComSimAddressSpace::ComSimAddressSpace(int loadItems, int clockPeriodMs, int loadPeriodMs)
    : plant_(std::make_unique<xmldasim::AddressSpace>(
          std::chrono::time_point_cast<std::chrono::milliseconds>(xmldasim::Clock::now()),
          clockPeriodMs, loadItems, loadPeriodMs)) {}

int ComSimAddressSpace::Find(std::string_view itemId) const { return plant_->find(itemId); }

std::vector<DWORD> ComSimAddressSpace::AvailableProperties(int item) const {
    if (!IsItem(item)) return {};
    const auto& d = Node(item).item;
    std::vector<DWORD> ids{kCanonicalType, kValue,    kQuality, kTimestamp,
                           kAccessRights,  kScanRate, kEuType};
    if (d.euType == xmldasim::EuType::Enumerated) ids.push_back(kEuInfo);
    if (!d.units.empty()) ids.push_back(kUnits);
    if (!d.description.empty()) ids.push_back(kDescription);
    if (d.euType == xmldasim::EuType::Analog)
        ids.insert(ids.end(), {kHighEu, kLowEu, kHighRange, kLowRange});
    if (d.type == xmldasim::DataType{Kind::Boolean, false})
        ids.insert(ids.end(), {kCloseLabel, kOpenLabel});
    return ids;
}

HRESULT ComSimAddressSpace::Property(int item, DWORD id, VARIANT& out) const {
    std::vector<DWORD> ids = AvailableProperties(item);
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) return OPC_E_INVALID_PID;
    const auto& d = Node(item).item;
    bool readable = d.access != xmldasim::Access::Write;
    auto now = std::chrono::time_point_cast<std::chrono::milliseconds>(xmldasim::Clock::now());
    auto text = [&](const std::string& s) {
        out.vt = VT_BSTR;
        out.bstrVal = NewBstr(s);
        if (!out.bstrVal) out.vt = VT_EMPTY;
        return out.bstrVal ? S_OK : E_OUTOFMEMORY;
    };
    auto real = [&](double x) {
        out.vt = VT_R8;
        out.dblVal = x;
        return S_OK;
    };
    switch (id) {
        case kCanonicalType:
            out.vt = VT_I2;
            out.iVal = static_cast<SHORT>(VarTypeOf(d.type));
            return S_OK;
        case kValue:
            if (!readable) return OPC_E_BADRIGHTS;
            return ValueToVariant(plant_->sample(item, now).value, out);
        case kQuality:
            if (!readable) return OPC_E_BADRIGHTS;
            out.vt = VT_I2;
            out.iVal = static_cast<SHORT>(QualityWordOf(d.quality));
            return S_OK;
        case kTimestamp:
            if (!readable) return OPC_E_BADRIGHTS;
            out.vt = VT_DATE;
            out.date = ToDate(plant_->sample(item, now).timestamp);
            return S_OK;
        case kAccessRights:
            out.vt = VT_I4;
            out.lVal = static_cast<LONG>(AccessRightsOf(d.access));
            return S_OK;
        case kScanRate:
            out.vt = VT_R4;
            out.fltVal = static_cast<FLOAT>(d.source == xmldasim::Source::Clock ? d.periodMs : 100);
            return S_OK;
        case kEuType:
            out.vt = VT_I4;
            out.lVal = d.euType == xmldasim::EuType::Analog       ? OPC_ANALOG
                       : d.euType == xmldasim::EuType::Enumerated ? OPC_ENUMERATED
                                                                  : OPC_NOENUM;
            return S_OK;
        case kEuInfo: {
            std::vector<Scalar> texts(d.euInfo.begin(), d.euInfo.end());
            return ArrayToVariant(VT_BSTR, texts, out);
        }
        case kUnits:
            return text(d.units);
        case kDescription:
            return text(d.description);
        case kHighEu:
        case kHighRange:
            return real(d.highEU);
        case kLowEu:
        case kLowRange:
            return real(d.lowEU);
        case kCloseLabel:
            return text("On");
        case kOpenLabel:
            return text("Off");
        default:
            return OPC_E_INVALID_PID;
    }
}

}  // namespace velqor::sim
