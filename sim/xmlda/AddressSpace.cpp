#include "xmlda/AddressSpace.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velqor::xmldasim {
namespace {

struct PropInfo {
    const char* name;
    const char* description;
};
const std::vector<PropInfo>& propTable() {
    static const std::vector<PropInfo> t{
        {"dataType", "Item Canonical DataType"},
        {"value", "Item Value"},
        {"quality", "Item Quality"},
        {"timestamp", "Item Timestamp"},
        {"accessRights", "Item Access Rights"},
        {"scanRate", "Server Scan Rate"},
        {"euType", "Item EU Type"},
        {"euInfo", "Item EUInfo"},
        {"engineeringUnits", "EU Units"},
        {"description", "Item Description"},
        {"highEU", "High EU"},
        {"lowEU", "Low EU"},
    };
    return t;
}

// One generated scalar for tick n.
Scalar genScalar(Kind k, long long n, TimePoint at, int seed) {
    long long m = n + seed;
    switch (k) {
        case Kind::Byte:
            return std::int64_t{(m % 256 + 256) % 256 - 128};
        case Kind::Short:
            return std::int64_t{(m * 97) % 60000 - 30000};
        case Kind::Int:
            return std::int64_t{(m * 7919) % 2000000 - 1000000};
        case Kind::Long:
            return std::int64_t{-5000000000LL + m * 1000003LL};
        case Kind::UnsignedByte:
            return std::uint64_t(static_cast<unsigned long long>(m) % 256);
        case Kind::UnsignedShort:
            return std::uint64_t(static_cast<unsigned long long>(m * 13) % 65536);
        case Kind::UnsignedInt:
            return std::uint64_t{4000000000ULL + static_cast<unsigned long long>(m % 1000000)};
        case Kind::UnsignedLong:
            return std::uint64_t{18000000000000000000ULL + static_cast<unsigned long long>(m)};
        case Kind::Float:
            return double(static_cast<float>(100.0 * std::sin(static_cast<double>(m) / 10.0)));
        case Kind::Double:
            return 1000.0 * std::sin(static_cast<double>(m) / 7.0);
        case Kind::Decimal:
            return 1000.5 + 0.25 * static_cast<double>(m);
        case Kind::String:
            return "Text " + std::to_string(m);
        case Kind::Boolean:
            return m % 2 != 0;
        case Kind::DateTime:
            return DateTimeValue{at - std::chrono::milliseconds(seed * 1000LL)};
        case Kind::Base64Binary: {
            Bytes b(8);
            for (std::size_t i = 0; i < b.size(); ++i)
                b[i] = static_cast<std::uint8_t>((m + static_cast<long long>(i) * 31) & 0xFF);
            return b;
        }
        case Kind::AnyType:
            break;
    }
    return std::string{};
}

const std::vector<Kind>& scalarKinds() {
    static const std::vector<Kind> k{Kind::Byte,          Kind::UnsignedByte, Kind::Short,
                                     Kind::UnsignedShort, Kind::Int,          Kind::UnsignedInt,
                                     Kind::Long,          Kind::UnsignedLong, Kind::Float,
                                     Kind::Double,        Kind::Decimal,      Kind::String,
                                     Kind::Boolean,       Kind::DateTime,     Kind::Base64Binary};
    return k;
}
const std::vector<Kind>& arrayKinds() {
    static const std::vector<Kind> k{
        Kind::Byte,   Kind::Short,        Kind::UnsignedShort, Kind::Int,    Kind::UnsignedInt,
        Kind::Long,   Kind::UnsignedLong, Kind::Float,         Kind::Double, Kind::Decimal,
        Kind::String, Kind::Boolean,      Kind::DateTime};
    return k;
}

std::string itemNameOf(Kind k) {
    std::string n = kindName(k);
    n[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(n[0])));
    return n;
}

}  // namespace

const std::vector<std::string>& propertyNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v;
        for (const auto& p : propTable()) v.emplace_back(p.name);
        return v;
    }();
    return names;
}

const char* propertyDescription(std::string_view name) {
    for (const auto& p : propTable())
        if (name == p.name) return p.description;
    return "";
}

AddressSpace::AddressSpace(TimePoint epoch, int clockPeriodMs, int loadItems, int loadPeriodMs,
                           bool loadMixed)
    : epoch_(epoch), clockPeriodMs_(clockPeriodMs > 0 ? clockPeriodMs : 500) {
    nodes_.push_back(Node{});  // root
    byId_[""] = 0;

    // The same set of types three times: constants, values on the clock, and writable values.
    struct Group {
        const char* branch;
        Source source;
        Access access;
        const char* what;
    };
    const Group groups[] = {
        {"Static", Source::Constant, Access::Read, "constant"},
        {"Dynamic", Source::Clock, Access::Read, "changes every clock period"},
        {"Writable", Source::Stored, Access::ReadWrite, "writable"},
    };
    int seed = 1;
    for (const auto& g : groups) {
        int b = addBranch(0, g.branch);
        // The scalars, then the arrays in a branch of their own.
        for (bool array : {false, true}) {
            const int parent = array ? addBranch(b, "Arrays") : b;
            for (Kind k : array ? arrayKinds() : scalarKinds()) {
                ItemDef d;
                d.type = {k, array};
                d.source = g.source;
                d.access = g.access;
                d.periodMs = clockPeriodMs_;
                d.seed = seed++;
                d.description =
                    (array ? "array of " + kindName(k) : kindName(k) + " value") + ", " + g.what;
                addItem(parent, array ? typeLocalName(d.type) : itemNameOf(k), d);
            }
        }
    }

    int wo = addBranch(0, "WriteOnly");
    for (Kind k : {Kind::Int, Kind::Double, Kind::String}) {
        ItemDef d;
        d.type = {k, false};
        d.source = Source::Stored;
        d.access = Access::Write;
        d.description = "write-only " + kindName(k);
        addItem(wo, itemNameOf(k), d);
    }

    // A small plant with engineering units, a few levels deep.
    auto analog = [&](int parent, const char* name, Source src, Access acc, double lo, double hi,
                      const char* units, const char* desc) {
        ItemDef d;
        d.type = {Kind::Double, false};
        d.source = src;
        d.access = acc;
        d.periodMs = clockPeriodMs_;
        d.seed = seed++;
        d.euType = EuType::Analog;
        d.lowEU = lo;
        d.highEU = hi;
        d.units = units;
        d.description = desc;
        return addItem(parent, name, d);
    };
    int plant = addBranch(0, "Plant");
    int area1 = addBranch(plant, "Area1");
    int tank1 = addBranch(area1, "Tank1");
    analog(tank1, "Level", Source::Clock, Access::Read, 0, 10, "m", "Tank 1 filling level");
    analog(tank1, "Temperature", Source::Clock, Access::Read, -20, 120, "degC",
           "Tank 1 temperature");
    analog(tank1, "Setpoint", Source::Stored, Access::ReadWrite, 0, 10, "m",
           "Tank 1 level setpoint");
    {
        ItemDef d;
        d.type = {Kind::Int, false};
        d.source = Source::Clock;
        d.periodMs = clockPeriodMs_;
        d.euType = EuType::Enumerated;
        d.euInfo = {"Closed", "Open", "Travelling", "Fault"};
        d.description = "Tank 1 outlet valve state";
        addItem(tank1, "Valve", d);
    }
    int area2 = addBranch(plant, "Area2");
    int pump1 = addBranch(area2, "Pump1");
    analog(pump1, "Speed", Source::Clock, Access::Read, 0, 3000, "rpm", "Pump 1 speed");
    {
        ItemDef d;
        d.type = {Kind::Boolean, false};
        d.source = Source::Clock;
        d.periodMs = clockPeriodMs_ * 4;
        d.description = "Pump 1 running";
        addItem(pump1, "Running", d);
        d = {};
        d.type = {Kind::Int, false};
        d.source = Source::Stored;
        d.access = Access::ReadWrite;
        d.euType = EuType::Enumerated;
        d.euInfo = {"Off", "Manual", "Auto"};
        d.description = "Pump 1 operating mode";
        addItem(pump1, "Mode", d, Value{{Kind::Int, false}, {std::int64_t{2}}});
        d = {};
        d.type = {Kind::String, false};
        d.source = Source::Stored;
        d.access = Access::Write;
        d.description = "Pump 1 command (write-only)";
        addItem(pump1, "Command", d);
    }

    int special = addBranch(0, "Special");
    {
        ItemDef d;
        d.type = {Kind::Double, false};
        d.quality = {"badSensorFailure", "none"};
        d.description = "value with bad quality";
        addItem(special, "BadQuality", d, Value{{Kind::Double, false}, {-1.0}});
        d.quality = {"uncertainEUExceeded", "high"};
        d.euType = EuType::Analog;
        d.lowEU = 0;
        d.highEU = 100;
        d.units = "%";
        d.description = "value above its range, uncertain quality";
        addItem(special, "Uncertain", d, Value{{Kind::Double, false}, {104.5}});
    }

    int load = addBranch(0, "Load");
    char name[32];
    for (int i = 0; i < loadItems; ++i) {
        std::snprintf(name, sizeof name, "Item%05d", i);
        ItemDef d;
        d.type = {Kind::Int, false};
        d.source = Source::Clock;
        d.periodMs = std::max(loadPeriodMs, 1);
        d.seed = i;
        if (loadMixed) {
            const int k = i % 100;
            if (k == 0 || k == 50) d.type = {Kind::Double, true};
            if (k == 20 || k == 40 || k == 70) d.type = {Kind::String, true};
            if (k == 25 || k == 75) d.nil = true;
            if (k % 10 == 3) d.type = {Kind::DateTime, false};
        }
        addItem(load, name, d);
    }
}

int AddressSpace::addBranch(int parent, const std::string& name) {
    Node n;
    n.name = name;
    n.id = parent == 0 ? name : nodes_[static_cast<std::size_t>(parent)].id + "/" + name;
    n.parent = parent;
    int idx = static_cast<int>(nodes_.size());
    byId_[n.id] = idx;
    nodes_.push_back(std::move(n));
    nodes_[static_cast<std::size_t>(parent)].children.push_back(idx);
    return idx;
}

int AddressSpace::addItem(int parent, const std::string& name, ItemDef def,
                          std::optional<Value> initial) {
    int idx = addBranch(parent, name);
    Node& n = nodes_[static_cast<std::size_t>(idx)];
    n.isItem = true;
    if (def.source != Source::Clock) {
        def.slot = stored_.size();
        Value v = initial ? *initial : generate(def, 0, epoch_);
        stored_.emplace_back(std::move(v), epoch_);
    }
    n.item = std::move(def);
    return idx;
}

Value AddressSpace::generate(const ItemDef& d, long long tick, TimePoint at) const {
    Value v;
    v.type = d.type;
    if (d.nil) return v;
    if (d.euType == EuType::Analog) {
        double x = 0.5 + 0.5 * std::sin(static_cast<double>(tick) * 0.3 + d.seed);
        v.elems.emplace_back(std::round((d.lowEU + (d.highEU - d.lowEU) * x) * 1000.0) / 1000.0);
        return v;
    }
    if (d.euType == EuType::Enumerated) {
        v.elems.emplace_back(std::int64_t(tick % static_cast<long long>(d.euInfo.size())));
        return v;
    }
    if (!d.type.array) {
        v.elems.push_back(genScalar(d.type.kind, tick, at, d.seed));
        return v;
    }
    for (int i = 0; i < 5; ++i) v.elems.push_back(genScalar(d.type.kind, tick + i * 3, at, d.seed));
    return v;
}

int AddressSpace::find(std::string_view id) const {
    while (!id.empty() && id.back() == '/') id.remove_suffix(1);
    auto it = byId_.find(std::string(id));
    return it == byId_.end() ? -1 : it->second;
}

Sample AddressSpace::sample(int item, TimePoint now) const {
    const ItemDef& d = node(item).item;
    Sample s;
    s.quality = d.quality;
    if (d.source == Source::Clock) {
        long long elapsed = (now - epoch_).count();
        long long tick = elapsed < 0 ? 0 : elapsed / d.periodMs;
        s.timestamp = epoch_ + std::chrono::milliseconds(tick * d.periodMs);
        s.value = generate(d, tick, s.timestamp);
        return s;
    }
    std::lock_guard lock(storeMutex_);
    s.value = stored_[d.slot].first;
    s.timestamp = stored_[d.slot].second;
    return s;
}

Sample AddressSpace::read(int item, TimePoint now, long long maxAgeMs) {
    {
        std::lock_guard lock(cacheMutex_);
        auto it = cache_.find(item);
        if (maxAgeMs > 0 && it != cache_.end() && (now - it->second.second).count() <= maxAgeMs)
            return it->second.first;
    }
    Sample s = sample(item, now);
    std::lock_guard lock(cacheMutex_);
    cache_[item] = {s, now};
    return s;
}

std::string AddressSpace::write(int item, const Value& v, TimePoint now) {
    const ItemDef& d = node(item).item;
    if (d.access == Access::Read) return "E_READONLY";
    if (d.euType == EuType::Analog) {
        auto x = numericOf(v);
        if (x && (*x < d.lowEU || *x > d.highEU)) return "E_RANGE";
    }
    if (d.euType == EuType::Enumerated) {
        auto x = numericOf(v);
        if (x && (*x < 0 || *x >= static_cast<double>(d.euInfo.size()))) return "E_RANGE";
    }
    {
        std::lock_guard lock(storeMutex_);
        stored_[d.slot] = {v, now};
    }
    std::lock_guard lock(cacheMutex_);
    cache_.erase(item);  // the device now holds the written value
    return {};
}

std::string AddressSpace::accessRightsText(int item) const {
    switch (node(item).item.access) {
        case Access::Read:
            return "readable";
        case Access::Write:
            return "writable";
        case Access::ReadWrite:
            return "readWritable";
    }
    return "readable";
}

std::optional<Value> AddressSpace::property(int item, std::string_view name, TimePoint now) const {
    const ItemDef& d = node(item).item;
    auto str = [](std::string s) { return Value{{Kind::String, false}, {std::move(s)}}; };
    auto dbl = [](double x) { return Value{{Kind::Double, false}, {x}}; };
    if (name == "value") {
        if (d.access == Access::Write) return std::nullopt;
        return sample(item, now).value;
    }
    if (name == "timestamp") {
        if (d.access == Access::Write) return std::nullopt;
        return Value{{Kind::DateTime, false}, {DateTimeValue{sample(item, now).timestamp}}};
    }
    if (name == "accessRights") return str(accessRightsText(item));
    if (name == "scanRate") {
        double rate = d.source == Source::Clock ? d.periodMs : 100;
        return Value{{Kind::Float, false}, {rate}};
    }
    if (name == "euType") {
        return str(d.euType == EuType::Analog       ? "analog"
                   : d.euType == EuType::Enumerated ? "enumerated"
                                                    : "noEnum");
    }
    if (name == "euInfo") {
        if (d.euType != EuType::Enumerated) return std::nullopt;
        Value v{{Kind::String, true}, {}};
        for (const auto& s : d.euInfo) v.elems.emplace_back(s);
        return v;
    }
    if (name == "engineeringUnits")
        return d.units.empty() ? std::nullopt : std::optional(str(d.units));
    if (name == "description")
        return d.description.empty() ? std::nullopt : std::optional(str(d.description));
    if (name == "highEU")
        return d.euType == EuType::Analog ? std::optional(dbl(d.highEU)) : std::nullopt;
    if (name == "lowEU")
        return d.euType == EuType::Analog ? std::optional(dbl(d.lowEU)) : std::nullopt;
    return std::nullopt;
}

}  // namespace velqor::xmldasim
